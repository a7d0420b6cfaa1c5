// The display-text capture: records, file contents, rolling at 3999 and write failures.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/console_fixture.h"
#include "fakes/temp_dir.h"
#include "observation/capture_log.h"

namespace kyr::test {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class CaptureTest : public ConsoleTest {
protected:
    TempDir temp;
    const fs::path dir = temp.path;
    const std::string base = (dir / "night").string();
    void SetUp() override {
        startLinked();
        con.files.saveBaseName = base;
    }
};

TEST(CaptureLog, NamesAndBaseCut) {
    EXPECT_EQ(capturePartFileName("night", 2), "night.002");
    EXPECT_EQ(capturePartFileName("night", 1234), "night.1234");
    EXPECT_EQ(captureSingleFileName(""), ".txt");
}

TEST_F(CaptureTest, ThreeDisplayUpdatesMakeOneQuotedFile) {
    const std::string a(24, 'A'), b(24, 'b');
    clock.time = "9:00:00 PM";
    con.startCapture();
    for (const char* t : {"9:00:01 PM", "9:00:02 PM", "9:00:03 PM"}) {
        clock.time = t;
        port.receive(packet(9, displayPayload(a + b)));
    }
    clock.date = "12/8/2026";
    clock.time = "1:00:00 AM";
    con.endCapture();
    const std::string line = a + "  " + b;
    EXPECT_EQ(readAll(base + ".txt"),
              "\"Text Capture of 2x24 Displayed Information\r\n"
              "Starting Date 12/7/2026\r\nStarting Time 9:00:00 PM\r\n"
              "9:00:01 PM " + line + "\r\n9:00:02 PM " + line + "\r\n9:00:03 PM " + line + "\r\n"
              "Ending Date 12/8/2026\r\nEnding Time 1:00:00 AM\r\n\"\r\n");
    const std::vector<std::string> logged(ui.statusHistory.end() - 4, ui.statusHistory.end() - 1);
    EXPECT_EQ(logged, (std::vector<std::string>{"Logging Record Number 1", "Logging Record Number 2",
                                                "Logging Record Number 3"}));
    EXPECT_EQ(ui.repaintedStatus.back(), base + ".txt written to disk");
    EXPECT_FALSE(con.capture.captureActive);
    // No more records once ended.
    port.receive(packet(9, displayPayload(a + b)));
    EXPECT_EQ(ui.status, base + ".txt written to disk");
}

TEST_F(CaptureTest, RollsAt3999RecordsIntoNumberedFiles) {
    con.startCapture();
    for (int i = 0; i < 3999; ++i) con.recordCapture("r");
    EXPECT_EQ(ui.repaintedStatus.back(), base + ".001 written to disk");
    EXPECT_EQ(countOf(readAll(base + ".001"), " r\r\n"), 3999u);
    con.recordCapture("r");
    EXPECT_EQ(ui.status, "Logging Record Number 1");
    con.endCapture();
    EXPECT_EQ(countOf(readAll(base + ".002"), " r\r\n"), 1u);
    EXPECT_FALSE(fs::exists(base + ".txt"));

    // A new start discards what is held and begins at record 1, part 1.
    con.startCapture();
    con.recordCapture("x");
    EXPECT_EQ(ui.status, "Logging Record Number 1");
    con.endCapture();
    EXPECT_EQ(countOf(readAll(base + ".txt"), " x\r\n"), 1u);
}

TEST_F(CaptureTest, UnwritableFilesKeepEveryRecord) {
    // Front ends report a file's outcome with the status the console has just shown for it.
    struct StatusAtEvent : ConsoleEvents {
        FakeUi& ui;
        std::vector<std::string> seen;
        explicit StatusAtEvent(FakeUi& u) : ui(u) {}
        void captureFileWritten(const std::string&) override { seen.push_back(ui.status); }
        void captureFileFailed(const std::string&) override { seen.push_back(ui.status); }
    } events{ui};
    con.setEvents(&events);
    const std::string good = base;
    con.files.saveBaseName = (dir / "missing" / "night").string();
    con.startCapture();
    for (int i = 0; i < 4001; ++i) con.recordCapture("r");  // part 1 cannot be written
    EXPECT_EQ(ui.repaintedStatus.back(), "Unable to write " + con.files.saveBaseName +
                                             ".001 - capture records kept in memory");
    con.endCapture();  // nor can part 2
    EXPECT_EQ(ui.status, "Unable to write " + con.files.saveBaseName +
                             ".001 - capture records kept in memory");
    EXPECT_EQ(con.capture.capturePartNumber, 2);
    EXPECT_EQ(countOf(con.capture.captureText, " r\r\n"), 2u);

    con.files.saveBaseName = good;  // the user picks a folder that works and ends again
    con.endCapture();
    EXPECT_EQ(ui.repaintedStatus.back(), good + ".002 written to disk");
    const std::string part1 = readAll(good + ".001"), part2 = readAll(good + ".002");
    EXPECT_EQ(countOf(part1, " r\r\n"), 3999u);
    EXPECT_EQ(countOf(part2, " r\r\n"), 2u);
    EXPECT_EQ(countOf(part2, "Ending Time "), 1u);
    EXPECT_TRUE(con.capture.unwrittenFiles.empty());
    for (const auto& e : fs::directory_iterator(dir)) EXPECT_NE(e.path().extension(), ".kyrtmp");
    const std::string unwritten = "Unable to write " + (dir / "missing" / "night").string() +
                                  ".001 - capture records kept in memory";
    EXPECT_EQ(events.seen,
              (std::vector<std::string>{unwritten, unwritten, good + ".002 written to disk"}));
}

TEST_F(CaptureTest, FileNameChoiceShutdownAndEndWithoutStart) {
    con.endCapture();  // nothing was ever started: nothing written
    EXPECT_EQ(ui.status, "No data capture was started");
    EXPECT_TRUE(fs::is_empty(dir));

    con.startCapture();
    con.setCaptureFileName();  // the dialog is cancelled
    EXPECT_EQ(ui.status, "No file name was entered!");
    EXPECT_EQ(ui.messages, std::vector<std::string>{"No file name was entered"});
    EXPECT_FALSE(con.capture.captureActive);

    ui.fileAnswers = {(dir / "m51.v2" / "guide.KYR").string()};
    con.setCaptureFileName();
    ASSERT_EQ(ui.fileDialogs.size(), 2u);  // the cancelled one and this
    EXPECT_EQ(con.files.saveBaseName, (dir / "m51").string());
    EXPECT_EQ(ui.status, (dir / "m51").string() + " selected");

    con.files.saveBaseName = base;
    con.startCapture();
    con.recordCapture("last words");
    con.shutdown();  // closing while capturing writes what is held
    EXPECT_EQ(countOf(readAll(base + ".txt"), " last words\r\n"), 1u);
}

}  // namespace
}  // namespace kyr::test
