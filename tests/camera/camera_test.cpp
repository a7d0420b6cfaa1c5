// The camera layer on a console whose far end is the simulated KYR in process; the reply
// timer, the scheduler and the clocks are the test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "camera/camera.h"
#include "camera/obs_time.h"
#include "fakes/fakes.h"
#include "sim/simulated_serial_port.h"

namespace kyr::camera::test {
namespace {

using kyr::sim::SimDevice;
using kyr::sim::SimOptions;

const std::vector<std::uint8_t> kEndOfTransfer{165, 2, 0, 0, 167, 0};

// Deferred calls run when the test's clock reaches them.
class TimedScheduler : public Scheduler {
  public:
    explicit TimedScheduler(kyr::test::FakeClock& clock) : now_(clock.ms) {}
    void callLater(int ms, std::function<void()> fn) override {
        calls_.emplace(now_ + ms, std::move(fn));
    }
    double utcSeconds() const { return 1.8e9 + static_cast<double>(now_) / 1000.0; }
    // Runs what is due now, and what that makes due now.
    void runDue() {
        while (!calls_.empty() && calls_.begin()->first <= now_) {
            auto fn = std::move(calls_.begin()->second);
            calls_.erase(calls_.begin());
            fn();
        }
    }
    void advance(int ms) {
        now_ += ms;
        runDue();
    }
    bool idle() const { return calls_.empty(); }

  private:
    std::int64_t& now_;
    std::multimap<std::int64_t, std::function<void()>> calls_;
};

struct Heard : CameraListener {
    std::vector<CameraImage> images;
    std::vector<std::string> failures;
    std::vector<CameraState> states;
    double temperature = 0;
    void cameraStateChanged(CameraState s) override { states.push_back(s); }
    void imageReady(const CameraImage& image) override { images.push_back(image); }
    void exposureFailed(const std::string& reason) override { failures.push_back(reason); }
    void temperatureChanged(double c) override { temperature = c; }
};

class CameraTest : public ::testing::Test {
  protected:
    explicit CameraTest(SimOptions o = {}) : device(std::move(o)) {
        camera.setListener(&heard);
        camera.setUtcClock([this] { return sched.utcSeconds(); });
        con.start();
        settle();
        port.writes.clear();
    }
    // Answers delivered one piece at a time; deferred calls as their time comes; the reply
    // timer ticks only when the device is silent.
    void settle(int maxSeconds = 30) {
        for (int step = 0; step < maxSeconds * 100; ++step) {
            sched.runDue();
            if (port.deliverNext()) continue;
            if (timer.enabled()) {
                con.onReplyTimer();
                continue;
            }
            if (sched.idle()) return;
            sched.advance(10);
        }
    }
    // The line and the deferred calls for `ms` of the test's time.
    void runFor(int ms) {
        for (int t = 0; t < ms; t += 10) {
            while (port.deliverNext()) sched.runDue();
            sched.advance(10);
        }
        while (port.deliverNext()) sched.runDue();
    }
    // The pixels of the screen image inside a frame, as the device holds them.
    std::vector<std::uint16_t> devicePixels(const Frame& f) {
        const auto& img = device.image(31);
        std::vector<std::uint16_t> px;
        for (int r = f.y; r < f.y + f.height; ++r)
            for (int c = f.x; c < f.x + f.width; ++c) px.push_back(img.at(c, r));
        return px;
    }
    int rowRequests() const {
        return device.stats().packetsByType[7] + device.stats().packetsByType[5];
    }
    int endsOfTransfer() const { return device.stats().packetsByType[2]; }

    SimDevice device;
    sim::SimulatedSerialPort port{device};
    kyr::test::FakeUi ui;
    kyr::test::FakeReplyTimer timer;
    kyr::test::FakeClock clock;
    TimedScheduler sched{clock};
    Console con{port, ui, timer, clock, sched};
    Camera camera{con, sched, clock};
    Heard heard;
};

TEST_F(CameraTest, FreshFramesOnly) {
    ASSERT_TRUE(camera.expose(1));
    EXPECT_EQ(camera.state(), CameraState::Waiting);
    settle();
    ASSERT_EQ(heard.images.size(), 1u);
    const CameraImage first = heard.images[0];  // a copy: more images follow
    EXPECT_TRUE(first.requested);
    EXPECT_EQ(first.width, 320);
    EXPECT_EQ(first.height, 200);
    EXPECT_EQ(first.pixels, devicePixels({0, 0, 320, 200}));
    EXPECT_EQ(first.dateObs, "2027-08-22T02:43:59");
    EXPECT_NEAR(first.mjdObs, 61639.114, 0.001);
    EXPECT_DOUBLE_EQ(first.exposureSeconds, 2.5);
    EXPECT_DOUBLE_EQ(heard.temperature, -10.25);
    EXPECT_EQ(camera.state(), CameraState::Idle);
    EXPECT_EQ(camera.percentComplete(), 100);
    EXPECT_EQ(rowRequests(), 200);

    // The KYR has not taken another: the camera asks for the header alone, each time ending
    // the transfer, until it has.
    ASSERT_TRUE(camera.expose(1));
    runFor(2500);
    EXPECT_EQ(camera.state(), CameraState::Waiting);
    EXPECT_EQ(heard.images.size(), 1u);
    EXPECT_EQ(rowRequests(), 200);
    const int questions = device.stats().packetsByType[4];
    EXPECT_EQ(questions, 1 + 3);  // the first exposure's, then at 0, 1 and 2 s
    EXPECT_EQ(endsOfTransfer(), questions);
    device.takeScreenImage();
    settle();
    ASSERT_EQ(heard.images.size(), 2u);
    EXPECT_EQ(heard.images[1].pixels, devicePixels({0, 0, 320, 200}));
    EXPECT_NE(heard.images[1].pixels, first.pixels);
    EXPECT_EQ(heard.images[1].dateObs, "2027-08-22T02:44:06");

    // None in the exposure and the margin: it fails, without a row asked for.
    camera.setNewImageMargin(2);
    ASSERT_TRUE(camera.expose(1));
    settle();
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_EQ(heard.failures[0],
              "The KYR has taken no new image in 3 s: start an exposure on its panel, or press "
              "Image");
    EXPECT_EQ(camera.state(), CameraState::Error);
    EXPECT_EQ(heard.images.size(), 2u);
    EXPECT_EQ(rowRequests(), 400);
    EXPECT_EQ(port.writes.back(), kEndOfTransfer);

    // The computer's clock instead: the header's arrival less the exposure.
    device.takeScreenImage();
    camera.setDateSource(DateSource::Computer);
    ASSERT_TRUE(camera.expose(0));
    settle();
    ASSERT_EQ(heard.images.size(), 3u);
    const CameraImage& third = heard.images[2];
    EXPECT_EQ(third.kyrDateObs, "2027-08-22T02:44:13");
    EXPECT_EQ(third.dateObs, isoText(civilTime(sched.utcSeconds() - 2.5), true));
}

TEST_F(CameraTest, AbortFreesTheCameraAndDropsLateRows) {
    ASSERT_TRUE(camera.expose(1));
    for (int i = 0; i < 40; ++i) port.deliverNext();
    ASSERT_EQ(camera.state(), CameraState::Downloading);
    const int asked = rowRequests();
    camera.abort();
    EXPECT_EQ(camera.state(), CameraState::Idle);
    EXPECT_FALSE(camera.busy());
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(port.writes.back(), kEndOfTransfer);
    // The answer on its way arrives and asks for nothing.
    settle();
    EXPECT_EQ(rowRequests(), asked);
    EXPECT_TRUE(heard.images.empty());
    EXPECT_TRUE(heard.failures.empty());

    // The image was never delivered: the next exposure brings it whole.
    ASSERT_TRUE(camera.expose(1));
    settle();
    ASSERT_EQ(heard.images.size(), 1u);
    EXPECT_EQ(heard.images[0].pixels, devicePixels({0, 0, 320, 200}));

    // An abort while waiting for a new image stops the questions.
    ASSERT_TRUE(camera.expose(10));
    runFor(1500);
    const int headers = device.stats().packetsByType[4];
    camera.abort();
    runFor(5000);
    EXPECT_EQ(device.stats().packetsByType[4], headers);
    EXPECT_TRUE(heard.failures.empty());
}

TEST_F(CameraTest, ExposureAskedWhileOneRunsIsQueued) {
    ASSERT_TRUE(camera.expose(1));
    for (int i = 0; i < 20; ++i) port.deliverNext();
    ASSERT_TRUE(camera.expose(1));  // not refused: it waits for the first
    device.takeScreenImage();       // taken while the first image is on its way
    settle();
    ASSERT_EQ(heard.images.size(), 2u);
    EXPECT_EQ(heard.images[1].dateObs, "2027-08-22T02:44:06");
    EXPECT_EQ(heard.images[1].pixels, devicePixels({0, 0, 320, 200}));
    EXPECT_TRUE(heard.failures.empty());

    // The device sends a new image itself while an exposure waits: that image is the
    // exposure's, cut to its frame.
    ASSERT_TRUE(camera.setFrame({10, 20, 30, 40}));
    ASSERT_TRUE(camera.expose(5));
    runFor(1500);
    device.takeScreenImage();
    device.offerScreenImage();
    settle();
    ASSERT_EQ(heard.images.size(), 3u);
    EXPECT_TRUE(heard.images[2].requested);
    EXPECT_EQ(heard.images[2].width, 30);
    EXPECT_EQ(heard.images[2].pixels, devicePixels({10, 20, 30, 40}));
    EXPECT_EQ(camera.state(), CameraState::Idle);
}

TEST_F(CameraTest, SubFrameAsksOnlyItsRowsAndColumnsAndBinningSums) {
    ASSERT_TRUE(camera.setFrame({100, 50, 64, 64}));
    EXPECT_FALSE(camera.setFrame({300, 0, 64, 10}));  // past the right edge
    EXPECT_FALSE(camera.setBinning(5, 1));
    ASSERT_TRUE(camera.expose(1));
    settle();
    ASSERT_EQ(heard.images.size(), 1u);
    EXPECT_EQ(heard.images[0].frame, (Frame{100, 50, 64, 64}));
    EXPECT_EQ(heard.images[0].pixels, devicePixels({100, 50, 64, 64}));
    EXPECT_EQ(rowRequests(), 64);
    // The row requests name the frame's columns.
    const auto& w = port.writes;
    const auto rowReq = std::find_if(w.begin(), w.end(), [](const auto& p) { return p[1] == 7; });
    ASSERT_NE(rowReq, w.end());
    EXPECT_EQ(std::vector<std::uint8_t>(rowReq->begin() + 6, rowReq->begin() + 12),
              (std::vector<std::uint8_t>{50, 0, 100, 0, 64, 0}));

    // A device that sends whole rows whatever was asked: the same pixels, cut by the console.
    device.setWholeRows(true);
    device.takeScreenImage();
    ASSERT_TRUE(camera.expose(1));
    settle();
    ASSERT_EQ(heard.images.size(), 2u);
    EXPECT_EQ(heard.images[1].pixels, devicePixels({100, 50, 64, 64}));

    // 2 x 2 binning of the whole image: 160 x 100 sums.
    ASSERT_TRUE(camera.setFrame({0, 0, 320, 200}));
    ASSERT_TRUE(camera.setBinning(2, 2));
    device.takeScreenImage();
    ASSERT_TRUE(camera.expose(1));
    settle();
    ASSERT_EQ(heard.images.size(), 3u);
    const CameraImage& b = heard.images[2];
    EXPECT_EQ(b.width, 160);
    EXPECT_EQ(b.height, 100);
    EXPECT_EQ(b.binX, 2);
    const auto full = devicePixels({0, 0, 320, 200});
    for (int r = 0; r < 100; r += 33) {
        for (int c = 0; c < 160; c += 17) {
            const auto at = [&](int x, int y) { return full[static_cast<std::size_t>(y * 320 + x)]; };
            const std::uint32_t sum =
                at(2 * c, 2 * r) + at(2 * c + 1, 2 * r) + at(2 * c, 2 * r + 1) + at(2 * c + 1, 2 * r + 1);
            EXPECT_EQ(b.pixels[static_cast<std::size_t>(r * 160 + c)], std::min<std::uint32_t>(sum, 65535));
        }
    }
}

TEST(CameraPixels, BinningSaturatesAndDropsPartBlocks) {
    // 5 x 3 in 2 x 2 blocks: 2 x 1 out; the last column and row are left out.
    const std::vector<std::uint16_t> px{1,     2,     3, 4, 99,  //
                                        10,    20,    30, 40, 99,  //
                                        99,    99,    99, 99, 99};
    EXPECT_EQ(binPixels(px, 5, 3, 2, 2), (std::vector<std::uint16_t>{33, 77}));
    EXPECT_EQ(binPixels({40000, 30000, 1, 0}, 2, 2, 2, 2), (std::vector<std::uint16_t>{65535}));
    EXPECT_EQ(binPixels({7, 8, 9}, 3, 1, 1, 1), (std::vector<std::uint16_t>{7, 8, 9}));
}

TEST(ObservationTime, KyrClockComputerClockAndMjd) {
    const auto t = kyrTime("01/01/2000", "12:00:00");
    ASSERT_TRUE(t);
    EXPECT_DOUBLE_EQ(modifiedJulianDate(*t), 51544.5);
    EXPECT_EQ(isoText(*t, false), "2000-01-01T12:00:00");
    EXPECT_FALSE(kyrTime("02/30/2027", "01:00:00"));  // no such day
    EXPECT_FALSE(kyrTime("13/01/2027", "01:00:00"));
    EXPECT_FALSE(kyrTime("00/00/00", "00:00:00"));    // before any header
    EXPECT_FALSE(kyrTime("12/11/2035", "24:00:00"));
    const CivilTime c = civilTime(951782400.25);  // leap day 2000, a quarter second in
    EXPECT_EQ(isoText(c, true), "2000-02-29T00:00:00.250");
    EXPECT_DOUBLE_EQ(secondsSinceEpoch(c), 951782400.25);
}

}  // namespace
}  // namespace kyr::camera::test
