// The terminal Ui: what goes to standard output and standard error, quiet or not, on a
// terminal or into a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/cli_events.h"
#include "cli/cli_ui.h"
#include "console/console.h"
#include "fakes/fakes.h"
#include "fakes/temp_dir.h"

namespace kyr::test {
namespace {

std::string contentOf(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
}

struct Streams {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ~Streams() {
        std::fclose(out);
        std::fclose(err);
    }
};

TEST(CliUiTest, StatusTextsOnlyWhenVerboseAndFailuresPrintedOnce) {
    for (const auto verbosity : {cli::Verbosity::Normal, cli::Verbosity::Verbose}) {
        Streams s;
        cli::CliUi ui(s.out, s.err, verbosity, false);
        ui.setStatusText("Link not established!");
        ui.setStatusText("Link Established");
        ui.setStatusText("Link Established");
        ui.setStatusText("Background = 907\r\nRange = 11712");
        ui.setProgress(5, 200);
        ui.setStatusText("Communication Failed");
        ui.reportLastStatus();  // an event told of the failure
        ui.reportLastStatus();  // a second event about the same failure
        ui.showMessage("Load file command failed");
        ui.reportLastStatus();  // the message box was the console's word on it
        ui.note("wrote night001.KYR");
        ui.setDisplayText("KYR  Mode: Image        \r\nExp 2.50 s");
        EXPECT_EQ(contentOf(s.out), "");  // display texts only when asked for
        if (verbosity == cli::Verbosity::Normal)
            EXPECT_EQ(contentOf(s.err),
                      "kyrctl: Communication Failed\nkyrctl: Load file command failed\n"
                      "wrote night001.KYR\n");
        else  // each as it came; the failure is the status line already shown
            EXPECT_EQ(contentOf(s.err),
                      "Link not established!\nLink Established\nLink Established\n"
                      "Background = 907\nRange = 11712\nCommunication Failed\n"
                      "kyrctl: Load file command failed\nwrote night001.KYR\n");
        EXPECT_EQ(ui.messages(), std::vector<std::string>{"Load file command failed"});
    }
}

TEST(CliUiTest, QuietKeepsErrorsAndRequestedOutputOnly) {
    Streams s;
    cli::CliUi ui(s.out, s.err, cli::Verbosity::Quiet, true);
    ui.setPrintDisplay(true);
    ui.setStatusText("Link Established");
    ui.setProgress(1, 192);
    ui.note("wrote night001.KYR");
    ui.setDisplayText("Param: Exposure         \r\nValue: 2.60 s           ");
    ui.printOut("KYR Image\r\nEnd");
    ui.error("Communication Failed");
    EXPECT_EQ(contentOf(s.out),
              "Param: Exposure         \nValue: 2.60 s           \nKYR Image\nEnd");
    EXPECT_EQ(contentOf(s.err), "kyrctl: Communication Failed\n");
}

TEST(CliUiTest, OnATerminalProgressRedrawsOneLineThatTheNextLineClears) {
    Streams s;
    cli::CliUi ui(s.out, s.err, cli::Verbosity::Normal, true);
    ui.setProgressLabel("pages");
    ui.setProgress(1, 192);
    ui.setProgress(2, 192);
    ui.setStatusText("Code succesfully uploaded - KYR restarting");  // not without --verbose
    ui.note("KYR code uploaded");
    EXPECT_EQ(contentOf(s.err),
              "\r\033[Kpages 1/192\r\033[Kpages 2/192\r\033[KKYR code uploaded\n");
}

TEST(CliUiTest, DialogsPromptsAndTheContrastDialogAreAnsweredFromTheCommandLine) {
    Streams s;
    cli::CliUi ui(s.out, s.err, cli::Verbosity::Quiet, false);
    ui.queueFile("a.KYR");
    ui.queueFile("b.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "a.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "b.KYR");
    EXPECT_EQ(ui.runFileDialog({}), "");  // nothing more: cancelled
    EXPECT_EQ(ui.unansweredDialogs(), 1);

    ui.setPromptAnswer("Note", "M42");
    EXPECT_EQ(ui.prompt("Input note (if desired)", "Note", "default"), "M42");
    EXPECT_EQ(ui.prompt("Input focal length in inches", "Focal Length", "0"), "");

    std::string bg = " 100", range = " 512";
    ui.showContrastDialog(bg, range);
    EXPECT_EQ(bg, " 100");
    ui.setContrastAnswers(std::nullopt, "2048");
    ui.showContrastDialog(bg, range);
    EXPECT_EQ(bg, " 100");
    EXPECT_EQ(range, "2048");
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The console's failures as kyrctl hears them: each error once, and an input that cannot be
// read says why beside the console's message.
TEST(CliEventsTest, EachFailureOnceAndWhyAnInputCannotBeRead) {
    TempDir dir;
    Streams s;
    cli::CliUi ui(s.out, s.err, cli::Verbosity::Normal, false);
    cli::CliEvents events(ui);
    FakeSerialPort port;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con(port, ui, timer, clock, scheduler);
    con.setEvents(&events);
    con.image.imageData.recreate(4, 3);
    con.image.imageWidth = 4;
    con.image.imageHeight = 3;
    con.header.hdrExposureCount = 1;

    ui.queueFile(dir.name("missing/x.fits"));  // a status and a message box
    con.exportFits();
    ui.queueFile(dir.name("missing/x.KYR"));  // a status only
    con.saveImageAs();
    ui.queueFile(dir.name("absent.KYR"));
    con.loadImage();
    ui.queueFile(dir.path.string());
    con.loadImage();

    const std::string err = contentOf(s.err);
    EXPECT_EQ(countOf(err, "x.fits was not saved"), 1u) << err;
    EXPECT_EQ(countOf(err, "kyrctl: " + dir.name("missing/x.KYR") + " was not saved"), 1u)
        << err;
    EXPECT_EQ(countOf(err, "kyrctl: Load file command failed\n"), 2u) << err;
    EXPECT_EQ(countOf(err, "kyrctl: " + dir.name("absent.KYR") + ": no such file\n"), 1u);
    EXPECT_EQ(countOf(err, "kyrctl: " + dir.path.string() + ": a folder, not a file\n"), 1u);
    EXPECT_EQ(countOf(err, "\n"), 6u) << err;
    EXPECT_EQ(events.seen().fileFailures, 4);
    EXPECT_EQ(events.seen().filesWritten, 0);

    // A lost line: kyrctl's own advice, not the window's menu item.
    con.start();
    port.loseDevice();
    const std::string lost = contentOf(s.err);
    EXPECT_NE(lost.find("kyrctl: COM1 connection lost: run the command again once the line is "
                        "back\n"),
              std::string::npos)
        << lost;
    EXPECT_EQ(lost.find("Establish Link"), std::string::npos);
}

}  // namespace
}  // namespace kyr::test
