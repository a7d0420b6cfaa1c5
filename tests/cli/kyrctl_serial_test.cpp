// kyrctl on the line: run as a process against kyr-sim on a pseudo-terminal. What it prints
// and saves is compared with the same console driven in-process over a simulated device with
// the same seed and the same bytes.
#include <gtest/gtest.h>

#if defined(KYR_SIM_EXE) && !defined(_WIN32)

#include <filesystem>

#include "cli_test_support.h"
#include "console/console.h"
#include "fakes/fakes.h"
#include "files/kyr_codec.h"
#include "firmware/firmware.h"
#include "kyrctl_support.h"
#include "sim/sim_device.h"
#include "sim/simulated_serial_port.h"

namespace kyr::test {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The console over an in-process device: what kyrctl's run should have shown.
struct InProcess {
    sim::SimulatedSerialPort port;
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};
    explicit InProcess(sim::SimDevice& device) : port(device) {
        con.start();
        port.deliverPending();
    }
    ~InProcess() {
        con.shutdown();
        port.deliverPending();
    }
};

// kyrctl's standard output for these display texts.
std::string printedDisplays(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& t : texts) out += printed(t);
    return out;
}

// The samples of an image file, row-major as the device holds them.
std::vector<std::uint16_t> fileSamples(const std::string& name, int& w, int& h) {
    const auto bytes = readBytes(name);
    const KyrLoadResult r = decodeKyrFile(bytes, "", KyrDecodeMode::Image);
    if (r.status != KyrLoadResult::Ok) return {};
    w = r.pixels.cols();
    h = r.pixels.rows();
    std::vector<std::uint16_t> out;
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x)
            out.push_back(static_cast<std::uint16_t>(r.pixels.sample(x, y)));
    return out;
}

std::vector<std::uint8_t> firmware(bool goodCrc) {
    std::vector<std::uint8_t> image(kFirmwareSize);
    std::uint32_t s = 12345;
    for (auto& b : image) {
        s = s * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(s >> 16);
    }
    const std::uint16_t crc = firmwareImageCrc(image);
    image[kFirmwareCrcHighAt] = static_cast<std::uint8_t>(crc >> 8);
    image[kFirmwareCrcLowAt] = static_cast<std::uint8_t>(crc & 0xFF);
    if (!goodCrc) image[1000] ^= 0x40;
    return image;
}

class KyrctlSerial : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(KyrctlSerial, LinkKeysAndDisplayPrintWhatTheDeviceShows) {
    SimProcess sim({"--seed", "7"});
    ASSERT_FALSE(sim.path().empty());
    sim::SimOptions options;
    options.seed = 7;
    sim::SimDevice device(options);

    // By default the outcome; the console's own status texts, each as it came, with --verbose.
    const RunResult link = runKyrctl(sim.com() + QStringList{"link"});
    EXPECT_EQ(link.exitCode, 0) << link.err;
    EXPECT_EQ(link.err, "Linked to the KYR on COM1 (" + sim.path() + ")\n");
    EXPECT_EQ(link.out, "");
    { InProcess same(device); }
    const RunResult verbose = runKyrctl(sim.com() + QStringList{"--verbose", "link"});
    EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_EQ(verbose.err.rfind("Link not established!\nLink Established\n", 0), 0u)
        << verbose.err;
    { InProcess same(device); }

    const QStringList keys{"Parameter", "Up", "Turbo", "Up", "Value"};
    const RunResult pressed = runKyrctl(sim.com() + QStringList{"--quiet", "keys"} + keys);
    EXPECT_EQ(pressed.exitCode, 0) << pressed.err;
    EXPECT_EQ(pressed.err, "");
    std::vector<std::string> shown;
    {
        InProcess same(device);
        same.con.pressKey(PanelKey::Parameter);
        same.port.deliverPending();
        same.con.pressKey(PanelKey::Up);
        same.port.deliverPending();
        same.con.toggleTurbo();
        same.port.deliverPending();
        same.con.pressKey(PanelKey::Up);
        same.port.deliverPending();
        same.con.pressKey(PanelKey::Value);
        same.port.deliverPending();
        shown = same.ui.displayHistory;
    }
    ASSERT_EQ(shown.size(), 6u);  // the link's text and one per key
    EXPECT_EQ(pressed.out, printedDisplays(shown));
    // The masks as the window sends them: Turbo on makes the second Up 0x2008.
    EXPECT_EQ(device.stats().keys,
              (std::vector<std::uint16_t>{0x0010, 0x2000, 0x0008, 0x2008, 0x0040}));
    EXPECT_TRUE(contains(sim.command("status"), "keys: 5")) << sim.command("status");

    const RunResult display = runKyrctl(sim.com() + QStringList{"display"});
    EXPECT_EQ(display.exitCode, 0) << display.err;
    std::vector<std::string> first;
    {
        InProcess same(device);
        first = same.ui.displayHistory;
    }
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(display.out, printed(first[0]));
    EXPECT_EQ(lines(display.out).size(), 2u);

    // Following: a text the device shows meanwhile is printed too, until Ctrl-C or a
    // termination request ends it.
    KyrctlProcess follow(sim.com() + QStringList{"display", "--follow"});
    ASSERT_TRUE(follow.waitForStderr("Linked to the KYR"));
    EXPECT_TRUE(contains(sim.command("display Followed text|second line"), "ok"));
    EXPECT_TRUE(follow.waitForStdout("second line"));
    follow.terminate();
    const RunResult followed = follow.finish();
    EXPECT_EQ(followed.exitCode, 0) << followed.err;
    EXPECT_TRUE(contains(followed.out, "Followed text")) << followed.out;
    EXPECT_TRUE(contains(followed.out, "\nsecond line")) << followed.out;
}

TEST_F(KyrctlSerial, DownloadSavesTheScreenImageBitExactAndPrintsThePanel) {
    SimProcess sim({"--seed", "11"});
    ASSERT_FALSE(sim.path().empty());
    sim::SimOptions options;
    options.seed = 11;
    sim::SimDevice device(options);

    const std::string out = dir.name("shot.KYR");
    const RunResult r = runKyrctl(sim.com() + QStringList{"download", "-o", q(out)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Linked to the KYR on COM1 (" + sim.path() + ")\nwrote " + out + "\n");

    std::string panel;
    {
        InProcess same(device);
        same.con.downloadScreenImage();
        same.port.deliverPending();
        ASSERT_TRUE(same.con.download.imageComplete);
        panel = same.ui.headerText;
    }
    EXPECT_EQ(r.out, printed(panel));

    const sim::SimImage& sent = device.image(31);
    int w = 0, h = 0;
    const auto samples = fileSamples(out, w, h);
    EXPECT_EQ(w, sent.width());
    EXPECT_EQ(h, sent.height());
    EXPECT_TRUE(samples == sent.pixels) << "the saved image differs from the device's";

    // Never over a file: refused before the device is asked for anything.
    const auto before = readBytes(out);
    const std::string headersBefore = sim.command("status");
    const RunResult again = runKyrctl(sim.com() + QStringList{"--quiet", "download", "-o", q(out)});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "kyrctl: " + out + " is there already: kyrctl never writes over a file\n");
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(readBytes(out), before);
    EXPECT_EQ(sim.command("status"), headersBefore);  // the device heard nothing
    const RunResult nowhere =
        runKyrctl(sim.com() + QStringList{"download", "-o", q(dir.name("absent/shot.KYR"))});
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_EQ(nowhere.err, "kyrctl: " + dir.name("absent") + ": no such folder\n");
    EXPECT_EQ(sim.command("status"), headersBefore);
}

TEST_F(KyrctlSerial, DownloadAllSavesEveryFilledBufferWithItsCompanions) {
    SimProcess sim({"--seed", "5", "--buffers", "0,2,3"});
    ASSERT_FALSE(sim.path().empty());
    sim::SimOptions options;
    options.seed = 5;
    options.filledBuffers = {0, 2, 3};
    sim::SimDevice device(options);

    const std::string base = dir.name("night");
    const RunResult r = runKyrctl(sim.com() + QStringList{"download-all", "-o", q(base)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Buffer 0 plain, buffer 2 summed (track list), buffer 3 mosaic (mosaic data).
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err),
              (std::vector<std::string>{"Linked to the KYR on COM1 (" + sim.path() + ")",
                                        "Download All: 3 images in the KYR's buffers",
                                        "wrote " + base + "001.KYR", "wrote " + base + "002.KYR",
                                        "wrote " + base + "002.trk", "wrote " + base + "003.KYR",
                                        "wrote " + base + "003.txt",
                                        "Download All: 3 images downloaded"}));
    const int buffers[] = {0, 2, 3};
    for (int i = 0; i < 3; ++i) {
        int w = 0, h = 0;
        const auto samples = fileSamples(base + "00" + std::to_string(i + 1) + ".KYR", w, h);
        EXPECT_TRUE(samples == device.image(buffers[i]).pixels) << "buffer " << buffers[i];
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"night001.KYR", "night002.KYR", "night002.trk",
                                                     "night003.KYR", "night003.txt"}));

    // The same base again: the first save is refused, Download All ends, nothing is replaced.
    const auto first = readBytes(base + "001.KYR");
    const RunResult again = runKyrctl(sim.com() + QStringList{"download-all", "-o", q(base)});
    EXPECT_EQ(again.exitCode, 1);
    // The console's refusal, passed through once.
    EXPECT_EQ(countOf(again.err, base + "001.KYR already exists!"), 1u) << again.err;
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(readBytes(base + "001.KYR"), first);
    EXPECT_EQ(dir.names().size(), 5u);
}

TEST_F(KyrctlSerial, CaptureWritesTheRecordsAndEndsAsEndDataCapture) {
    SimProcess sim({"--seed", "3"});
    ASSERT_FALSE(sim.path().empty());
    const std::string base = dir.name("guide");

    KyrctlProcess capture(sim.com() + QStringList{"capture", "-o", q(base), "--records", "3"});
    // The capture runs once the name is taken.
    ASSERT_TRUE(capture.waitForStderr("Capturing the display text into " + base + ".txt"));
    const std::vector<std::string> texts{"Star at 101.5 88.2", "Star at 101.7 88.0",
                                         "Star at 101.6 88.1", "Star at 101.9 87.9"};
    for (const auto& t : texts)
        EXPECT_TRUE(contains(sim.command("display " + t + "|guiding"), "ok"));
    const RunResult r = capture.finish();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, "\nwrote " + base + ".txt\n")) << r.err;

    const auto bytes = readBytes(base + ".txt");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("\"Text Capture of 2x24 Displayed Information\r\n", 0), 0u) << text;
    std::vector<std::string> records;
    for (const auto& l : lines(text))
        if (contains(l, "guiding") || contains(l, "KYR")) records.push_back(l);
    // At least three records, in the order shown. Texts that arrive in one piece are kept
    // together, and the first may be the greeting the link brought.
    ASSERT_GE(records.size(), 3u) << text;
    const std::size_t from = contains(records[0], texts[0]) ? 0 : 1;
    ASSERT_LE(records.size() - from, texts.size()) << text;
    for (std::size_t i = from; i < records.size(); ++i)
        EXPECT_TRUE(contains(records[i], texts[i - from])) << records[i];
    EXPECT_TRUE(contains(text, "Ending Time ")) << text;

    // Never over an earlier capture.
    const RunResult again =
        runKyrctl(sim.com() + QStringList{"capture", "-o", q(base), "--seconds", "1"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(contains(again.err, base + ".txt is there already")) << again.err;
    EXPECT_EQ(readBytes(base + ".txt"), bytes);

    // A termination request ends the capture as End Data Capture does.
    KyrctlProcess stopped(sim.com() +
                          QStringList{"capture", "-o", q(dir.name("stopped")), "--seconds", "60"});
    ASSERT_TRUE(stopped.waitForStderr("Capturing"));
    stopped.terminate();
    const RunResult ended = stopped.finish();
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_TRUE(contains(ended.err, "wrote " + dir.name("stopped") + ".txt\n")) << ended.err;
    EXPECT_TRUE(std::filesystem::exists(dir.name("stopped.txt")));
}

TEST_F(KyrctlSerial, UploadSendsAGoodFirmwareFileAndRefusesABadOne) {
    SimProcess sim({"--seed", "2"});
    ASSERT_FALSE(sim.path().empty());
    const auto good = firmware(true);
    writeBytes(dir.name("good.bin"), good);
    writeBytes(dir.name("bad.bin"), firmware(false));
    std::vector<std::uint8_t> shortFile(good.begin(), good.end() - 1);
    writeBytes(dir.name("short.bin"), shortFile);

    RunResult r = runKyrctl(sim.com() + QStringList{"upload", q(dir.name("bad.bin"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "Code CRC check failed - code file is bad")) << r.err;
    r = runKyrctl(sim.com() + QStringList{"--quiet", "upload", q(dir.name("short.bin"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "File length doesn not match expected '.bin' file")) << r.err;
    r = runKyrctl(sim.com() + QStringList{"upload", q(dir.name("good.txt"))});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "KYR code will be in a '.bin' file")) << r.err;
    EXPECT_TRUE(contains(sim.command("status"), "upload: none"));

    r = runKyrctl(sim.com() + QStringList{"upload", q(dir.name("good.bin"))});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "KYR code uploaded")) << r.err;
    EXPECT_TRUE(contains(sim.command("status"), "upload: accepted"));
}

TEST_F(KyrctlSerial, ASilentDeviceOrAMissingPortEndsInTheConsolesMessage) {
    RunResult r = runKyrctl({"--com", "1=/dev/kyr-no-such-port", "link"});
    EXPECT_EQ(r.exitCode, 1);
    // The console's status, and beside it the port's own reason.
    EXPECT_EQ(lines(r.err).at(0), "kyrctl: Unable to open COM1") << r.err;
    EXPECT_EQ(lines(r.err).size(), 2u) << r.err;
    EXPECT_TRUE(contains(r.err, "/dev/kyr-no-such-port")) << r.err;
    r = runKyrctl({"--quiet", "--com", "2=/dev/kyr-no-such-port", "--port", "COM2", "link"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.err, "COM2 not available")) << r.err;

    // Paced at 9600 baud the screen image takes over a minute, so a device that falls silent
    // after the link leaves the download to the reply timer.
    SimProcess sim({"--seed", "4", "--baud", "9600"});
    ASSERT_FALSE(sim.path().empty());
    KyrctlProcess download(
        sim.com() + QStringList{"--baud", "9600", "download", "-o", q(dir.name("never.KYR"))});
    ASSERT_TRUE(download.waitForStderr("Linked to the KYR"));
    sim.freeze(true);
    r = download.finish();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(countOf(r.err, "Communication Failed"), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.name("never.KYR")));

    // Nothing answers the link request: the stated timeout ends the wait.
    r = runKyrctl(sim.com() + QStringList{"--timeout", "0.5", "link"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "kyrctl: the KYR on COM1 (" + sim.path() +
                         ") did not answer the link request (nothing came for 0.5 s)\n");
    sim.freeze(false);
}

}  // namespace
}  // namespace kyr::test

#endif
