// The console core against the simulated device, through the in-process serial port.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "console/console.h"
#include "files/kyr_codec.h"
#include "fakes/fakes.h"
#include "fakes/temp_dir.h"
#include "sim/simulated_serial_port.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

using kyr::test::FakeClock;
using kyr::test::FakeReplyTimer;
using kyr::test::FakeScheduler;
using kyr::test::FakeUi;

struct Bench {
    SimDevice device;
    SimulatedSerialPort port{device};
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};
    int ticks = 0;

    explicit Bench(SimOptions o = {}) : device(std::move(o)) {}

    // Delivers the device's answers; when the device has nothing to say while the console
    // still waits, the reply timer ticks (that is how a lost answer is noticed).
    void pump(const std::function<void()>& afterEach = {}) {
        for (int i = 0; i < 2000000; ++i) {
            if (port.deliverNext()) {
                if (afterEach) afterEach();
                continue;
            }
            if (!timer.enabled()) return;
            ++ticks;
            con.onReplyTimer();
        }
        FAIL() << "the exchange did not settle";
    }
    void start() {
        con.start();
        pump();
    }
};

// The console's pixel array holds exactly the device's image.
void expectSameImage(const PixelArray& got, const SimImage& want) {
    ASSERT_EQ(got.cols(), want.width());
    ASSERT_EQ(got.rows(), want.height());
    int differing = 0;
    for (int r = 1; r <= got.rows(); ++r) {
        for (int c = 1; c <= got.cols(); ++c) {
            if (static_cast<std::uint16_t>(got.cell(c, r)) != want.at(c - 1, r - 1)) ++differing;
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST(EndToEnd, LinksAndMirrorsThePanel) {
    Bench b;
    b.start();
    EXPECT_EQ(b.ui.status, "Link Established");
    EXPECT_TRUE(b.con.link.linkEstablished);
    EXPECT_EQ(b.ui.display, "KYR  Mode: Image        \r\nExp 2.50 s CCD -10.2C   ");
    EXPECT_TRUE(b.device.linkUp());

    b.con.pressKey(PanelKey::Parameter);
    b.pump();
    EXPECT_EQ(b.ui.status, "Keypress acknowledged");
    EXPECT_EQ(b.ui.display, "Param: Exposure         \r\nValue: 2.50 s           ");
    b.con.toggleTurbo();  // on: 0x0008
    b.pump();
    EXPECT_EQ(b.ui.display.substr(0, 24), "Param: Exposure        T");
    b.con.pressKey(PanelKey::Up);  // 0x2008: one second up
    b.pump();
    EXPECT_EQ(b.ui.display.substr(26), "Value: 3.50 s           ");
    b.con.toggleTurbo();  // off: 0x0000, acknowledged like any key
    b.pump();
    EXPECT_EQ(b.ui.status, "Keypress acknowledged");
    b.con.pressKey(PanelKey::Down);
    b.pump();
    EXPECT_EQ(b.ui.display, "Param: Exposure         \r\nValue: 3.40 s           ");
    b.con.pressKey(PanelKey::Focus);
    b.pump();
    EXPECT_EQ(b.ui.display.substr(0, 5), "FOCUS");
    b.con.pressKey(PanelKey::Interrupt);
    b.pump();
    EXPECT_EQ(b.ui.display, "KYR  Mode: Focus        \r\nExp 3.40 s CCD -10.2C   ");
    EXPECT_EQ(b.device.stats().keys,
              (std::vector<std::uint16_t>{0x0010, 0x0008, 0x2008, 0x0000, 0x1000, 0x0001, 0x0080}));

    // Device-initiated: its own display text, a refusal, a link request.
    b.device.showText("Guide star lost");
    b.device.sendDidNotUnderstand();
    b.pump();
    EXPECT_EQ(b.ui.display.substr(0, 15), "Guide star lost");
    EXPECT_EQ(b.ui.status, "KYR did not understand command");
    b.device.requestLink();
    b.pump();
    EXPECT_EQ(b.ui.status, "Request to establish link");
    EXPECT_EQ(b.device.stats().packetsByType[254], 1);

    // Leaving tells the device.
    b.con.shutdown();
    EXPECT_FALSE(b.device.linkUp());
    EXPECT_EQ(b.device.stats().linkReleases, 1);
}

TEST(EndToEnd, DownloadsTheScreenImageBitExact) {
    Bench b;
    b.start();
    b.con.downloadScreenImage();
    b.pump();
    expectSameImage(b.con.image.imageData, b.device.image(31));
    EXPECT_EQ(b.con.image.imageWidth, 320);
    EXPECT_EQ(b.con.image.imageHeight, 200);
    EXPECT_EQ(b.ticks, 0);
    // The header as the console read it.
    const ImageHeader& h = b.con.header;
    EXPECT_EQ(h.hdrExposure, 250);
    EXPECT_EQ(h.dateText, "08/22/2027");
    EXPECT_EQ(h.timeText, "02:43:59");
    EXPECT_FLOAT_EQ(h.temperature, -10.25f);
    EXPECT_EQ(h.filterName, "Red");
    EXPECT_FALSE(h.unitsMetric);
    EXPECT_EQ(b.con.display.background, b.device.image(31).header.background);
    // Completion: a link request and the end of the transfer.
    EXPECT_EQ(b.device.stats().linkRequests, 2);
    EXPECT_EQ(b.device.stats().packetsByType[2], 1);
    EXPECT_EQ(b.device.stats().packetsByType[7], 200);

    // A new frame (Image key), offered by the device itself.
    b.con.pressKey(PanelKey::Image);
    b.pump();
    b.device.offerScreenImage();
    b.pump();
    EXPECT_EQ(b.ui.status, "Keypress acknowledged");  // the completion's link request answered
    expectSameImage(b.con.image.imageData, b.device.image(31));
    EXPECT_EQ(b.con.header.hdrExposure, 250);
}

struct FaultCase {
    const char* name;
    double junk, corrupt, drop;
    bool split, raw;
};

class EndToEndFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(EndToEndFaults, ScreenImageSurvivesTheLine) {
    const FaultCase& fc = GetParam();
    SimOptions o;
    o.seed = 99;
    o.rawRows = fc.raw;
    o.faults = {fc.junk, fc.corrupt, fc.drop, fc.split, 2};
    Bench b(o);
    b.start();
    EXPECT_EQ(b.ui.status, "Link Established");
    b.con.downloadScreenImage();
    b.pump();
    EXPECT_NE(b.ui.status, "Communication Failed");
    expectSameImage(b.con.image.imageData, b.device.image(31));
    EXPECT_EQ(b.device.stats().packetsByType[2], 1);
    const SimStats& s = b.device.stats();
    if (fc.drop > 0) {
        EXPECT_GT(s.answersDropped, 10);
        EXPECT_GE(b.ticks, s.answersDropped);
    }
    if (fc.corrupt > 0) {
        EXPECT_GT(s.answersCorrupted, 10);
    }
    if (fc.junk > 0) {
        EXPECT_GT(s.junkBursts, 10);
    }
    if (fc.raw) {
        EXPECT_EQ(s.packetsByType[7], 200);  // asked compressed, answered raw
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, EndToEndFaults,
                         ::testing::Values(FaultCase{"junk", 0.3, 0, 0, false, false},
                                           FaultCase{"corrupt", 0, 0.25, 0, false, false},
                                           FaultCase{"drop", 0, 0, 0.25, false, false},
                                           FaultCase{"split", 0, 0, 0, true, false},
                                           FaultCase{"raw", 0, 0, 0, false, true},
                                           FaultCase{"all", 0.2, 0.2, 0.2, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, DownloadAllFetchesAndSavesEveryFilledBuffer) {
    kyr::test::TempDir dir;
    SimOptions o;
    o.filledBuffers = {0, 1, 2, 3, 4, 17};
    o.faults = {0.1, 0.1, 0.1, true, 2};
    Bench b(o);
    b.start();
    // Without automatic saving the console declines the device's flash download.
    b.device.announceFlashDownload();
    b.pump();
    EXPECT_EQ(b.device.stats().packetsByType[1], 1);
    EXPECT_EQ(b.device.stats().packetsByType[3], 0);

    const std::string base = (dir.path / "run").string();
    b.ui.fileAnswers.push_back(base + ".KYR");
    b.con.downloadAll();
    std::vector<int> done;
    int pictures = b.ui.pictureCount;
    b.pump([&] {
        if (b.ui.pictureCount == pictures) return;
        pictures = b.ui.pictureCount;
        // Just completed: the next header is requested but not yet answered.
        ASSERT_LT(done.size(), o.filledBuffers.size());
        const int buffer = o.filledBuffers[done.size()];
        done.push_back(buffer);
        const SimImage& want = b.device.image(buffer);
        expectSameImage(b.con.image.imageData, want);
        const bool extra = want.header.exposureCount > 1 || want.header.mosaicType > 0;
        for (int i = 0; i < 320 && extra; ++i) {
            // (The track-list writer has already turned offsets above 32767 negative.)
            ASSERT_EQ(
                static_cast<std::uint16_t>(b.con.image.auxData[static_cast<std::size_t>(i + 1)]),
                want.extraRow[static_cast<std::size_t>(i)]);
        }
    });
    EXPECT_EQ(done, o.filledBuffers);
    EXPECT_NE(b.ui.status, "Communication Failed");
    EXPECT_FALSE(b.con.download.downloadAllActive);
    EXPECT_EQ(b.device.stats().packetsByType[3], 1);
    EXPECT_EQ(b.device.stats().packetsByType[2], 1);  // one end of transfer, after the last
    // Extra rows of the summed (2, 17) and mosaic (3, 4) images, some asked again.
    EXPECT_GE(b.device.stats().packetsByType[5], 4);
    for (const char* f : {"run001.KYR", "run002.KYR", "run003.KYR", "run003.trk", "run004.KYR",
                          "run004.txt", "run005.KYR", "run005.txt", "run006.KYR", "run006.trk"}) {
        EXPECT_TRUE(std::filesystem::exists(dir.path / f)) << f;
    }
    // Every file written was acknowledged to the device with 0.
    EXPECT_EQ(b.device.stats().saveAcks, std::vector<int>(8, 0));

    // Again into the same names: the first file exists, the device is told 1 and the
    // transfer ends after that image.
    b.ui.fileAnswers.push_back(base + ".KYR");
    b.con.downloadAll();
    b.pump();
    EXPECT_EQ(b.device.stats().saveAcks.back(), 1);
    EXPECT_EQ(b.device.stats().packetsByType[2], 2);
}

TEST(EndToEnd, FirmwareUploadIsAcceptedAndTheDeviceComesBack) {
    Bytes file(98304);
    std::uint32_t x = 77;
    for (auto& v : file) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(x >> 24);
    }
    const std::uint16_t crc = firmwareCrc16(std::span(file.data(), 98300));
    file[98302] = static_cast<std::uint8_t>(crc >> 8);
    file[98303] = static_cast<std::uint8_t>(crc & 0xFF);

    kyr::test::TempDir dir;
    const auto path = dir.path / "new.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
    }

    SimOptions o;
    o.faults = {0.1, 0.2, 0.2, true, 2};  // lost and damaged page acknowledges cost resends
    Bench b(o);
    b.start();
    b.ui.fileAnswers.push_back(path.string());
    b.con.uploadFirmware();
    b.pump();
    EXPECT_EQ(b.ui.status, "Code succesfully uploaded - KYR restarting");
    EXPECT_EQ(b.device.uploadResult(), UploadResult::Accepted);
    EXPECT_EQ(b.device.acceptedFirmware(), file);
    EXPECT_GT(b.device.stats().answersDropped + b.device.stats().answersCorrupted, 20);
    EXPECT_EQ(b.ui.display.substr(0, 17), "KYR restarting...");
    // Two seconds later the console asks for the link; the device is back on its main screen.
    b.scheduler.runAll();
    b.pump();
    EXPECT_EQ(b.ui.display.substr(0, 24), "KYR  Mode: Image        ");
}

// Download All's files load back bit-exact, and a flat-field correction of the summed image,
// by a constant flat and the offsets of its own track list, gives the expected pixels.
TEST(EndToEnd, SavedFilesLoadBackAndTheSummedImageIsFlatFielded) {
    kyr::test::TempDir dir;
    SimOptions o;
    o.filledBuffers = {0, 1, 2};  // a plain image, a short exposure and a summed image
    o.faults = {0.05, 0.05, 0.05, true, 2};
    Bench b(o);
    b.start();
    const std::string base = (dir.path / "night").string();
    b.ui.fileAnswers.push_back(base + ".KYR");
    b.con.downloadAll();
    b.pump();
    ASSERT_NE(b.ui.status, "Communication Failed");
    for (int i = 0; i < 3; ++i) {
        b.ui.fileAnswers.push_back(base + "00" + std::to_string(i + 1) + ".KYR");
        b.con.loadImage();
        ASSERT_TRUE(b.ui.messages.empty()) << b.ui.messages.front();
        expectSameImage(b.con.image.imageData, b.device.image(o.filledBuffers[static_cast<std::size_t>(i)]));
    }

    // The summed image is loaded last: its track list gave the offsets.
    const SimImage& summed = b.device.image(2);
    ASSERT_GT(summed.header.exposureCount, 1);
    const int w = summed.width(), h = summed.height(), n = summed.header.exposureCount;
    ASSERT_EQ(b.con.track.trackSnapshotCount, n);
    int xMin = 1, yMin = 1, xMax = w, yMax = h;
    for (int j = 2; j <= n; ++j) {
        const auto dx = static_cast<std::int16_t>(summed.extraRow[static_cast<std::size_t>(2 * j - 2)]);
        const auto dy = static_cast<std::int16_t>(summed.extraRow[static_cast<std::size_t>(2 * j - 1)]);
        xMin = std::max(xMin, 1 + dx);
        yMin = std::max(yMin, 1 + dy);
        xMax = std::min(xMax, w + dx);
        yMax = std::min(yMax, h + dy);
    }

    // A constant flat of 1100: the summed flat is n x 1000 inside the crop and so is its centre
    // mean, so each pixel becomes its sample plus the pedestal.
    PixelArray flat(w, h);
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x) flat.setCell(x, y, 1100);
    const auto bytes = encodeKyrFile(ImageHeader{}, 0, 1000, flat, w, h);
    const auto flatPath = dir.path / "flat.KYR";
    std::ofstream(flatPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    b.ui.fileAnswers.push_back(flatPath.string());
    b.con.applyFlatField();
    ASSERT_TRUE(b.ui.messages.empty()) << b.ui.messages.front();
    ASSERT_EQ(b.con.image.imageWidth, xMax - xMin + 1);
    ASSERT_EQ(b.con.image.imageHeight, yMax - yMin + 1);
    int differing = 0;
    for (int y = yMin; y <= yMax; ++y)
        for (int x = xMin; x <= xMax; ++x) {
            const int want = std::min(65534, summed.at(x - 1, y - 1) + summed.header.pedestal);
            if (b.con.image.imageData.sample(x - xMin + 1, y - yMin + 1) != want) ++differing;
        }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(b.ui.status.substr(0, 12), "Background =");
}

}  // namespace
}  // namespace kyr::sim::test
