#include <gtest/gtest.h>

#include "sim/sim_device.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

const Bytes kAck{165, 6, 0, 0, 171, 0};

std::string textOf(const Frame& f) {
    return std::string(f.payload.begin(), f.payload.end());
}

// Presses a key and returns the display text that follows its acknowledge.
std::string press(SimDevice& d, std::uint16_t mask) {
    const auto out = d.onHostBytes(keyPress(mask));
    const auto frames = splitFrames(out);
    EXPECT_EQ(frames.size(), 2u);
    if (frames.size() != 2) return {};
    EXPECT_EQ(frames[0].type, 6);
    EXPECT_EQ(frames[1].type, 9);
    return textOf(frames[1]);
}

TEST(SimPanel, LinkRequestIsAcknowledgedThenTheDisplayFollows) {
    SimDevice d;
    const Bytes out = d.onHostBytes(Bytes{165, 9, 2, 0, 176, 0, 1, 0, 1, 0});
    ASSERT_EQ(out.size(), 6u + 56u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), kAck);
    const auto frames = splitFrames(out);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].type, 9);
    EXPECT_TRUE(frames[1].checksumOk);
    ASSERT_EQ(frames[1].payload.size(), 48u);
    EXPECT_EQ(textOf(frames[1]), "KYR  Mode: Image        Exp 2.50 s CCD -10.2C   ");
    EXPECT_TRUE(d.linkUp());
    EXPECT_EQ(d.stats().linkRequests, 1);

    // The console leaving (flag 0) is noted and not answered.
    EXPECT_TRUE(d.onHostBytes(linkRequest(0)).empty());
    EXPECT_FALSE(d.linkUp());
    EXPECT_EQ(d.stats().linkReleases, 1);
}

TEST(SimPanel, KeysDriveTheMenu) {
    SimDevice d;
    EXPECT_EQ(press(d, keys::Focus), "FOCUS                   Exp 2.50 s              ");
    EXPECT_EQ(press(d, keys::Interrupt).substr(0, 24), "KYR  Mode: Focus        ");
    // Parameter shows the current parameter, then cycles.
    EXPECT_EQ(press(d, keys::Parameter), "Param: Exposure         Value: 2.50 s           ");
    EXPECT_EQ(press(d, keys::Parameter).substr(0, 24), "Param: Gain             ");
    EXPECT_EQ(press(d, keys::Left).substr(0, 24), "Param: Exposure         ");
    // Up and Down change the value; with the Turbo bit the step is ten times larger.
    EXPECT_EQ(press(d, keys::Up).substr(24), "Value: 2.60 s           ");
    EXPECT_EQ(press(d, keys::Up | keys::Turbo).substr(24), "Value: 3.60 s           ");
    EXPECT_EQ(press(d, keys::Down).substr(24), "Value: 3.50 s           ");
    // Turbo on (0x0008) marks the display; 0x0000 switches it off and is acknowledged too.
    EXPECT_EQ(press(d, keys::Turbo)[23], 'T');
    EXPECT_EQ(press(d, 0x0000)[23], ' ');
    EXPECT_EQ(press(d, keys::Right).substr(0, 24), "Param: Gain             ");
    EXPECT_EQ(press(d, keys::Up | keys::Turbo).substr(24), "Value: 5                ");
    EXPECT_EQ(press(d, keys::Value), "Set Gain                = 5  Up/Down            ");
    // Values stay within their range.
    for (int i = 0; i < 5; ++i) press(d, keys::Up | keys::Turbo);
    EXPECT_EQ(d.menu().value(Param::Gain), 16);

    const std::pair<std::uint16_t, const char*> modes[] = {
        {keys::Image, "IMAGE"},         {keys::Monitor, "MONITOR"}, {keys::Setup, "SETUP"},
        {keys::Calibrate, "CALIBRATE"}, {keys::Track, "TRACK"},     {keys::Display, "DISPLAY"},
        {keys::FileOps, "FILE OPS"}};
    for (const auto& [mask, title] : modes) {
        const std::string t = press(d, mask);
        EXPECT_EQ(t.substr(0, std::string(title).size()), title) << mask;
    }
    EXPECT_EQ(press(d, keys::Interrupt), "KYR  Mode: Monitor      Exp 3.50 s CCD -10.2C   ");
    EXPECT_EQ(d.stats().keys.size(), 26u);
    EXPECT_EQ(d.stats().keys[1], keys::Interrupt);
}

TEST(SimPanel, UnknownPacketsAndBadChecksumsGetDidNotUnderstand) {
    SimDevice d;
    const Bytes nak{165, 21, 0, 0, 186, 0};
    EXPECT_EQ(d.onHostBytes(packet(42)), nak);             // unknown type
    EXPECT_EQ(d.onHostBytes(packet(42, {1, 2, 3})), nak);  // unknown type with a payload
    EXPECT_EQ(d.onHostBytes(keyPress(0x0003)), nak);       // two keys at once
    EXPECT_EQ(d.onHostBytes(packet(8, {1, 0, 0})), nak);   // wrong length
    Bytes bad = keyPress(keys::Focus);
    bad[6] ^= 0x40;
    EXPECT_EQ(d.onHostBytes(bad), nak);
    EXPECT_EQ(d.stats().badChecksums, 1);
    EXPECT_EQ(d.stats().unknownPackets, 4);
    // A damaged header is skipped like line noise; the packet after it is answered.
    Bytes noisy{165, 8, 2, 0, 0, 0, 1, 2, 3};
    const Bytes good = linkRequest(1);
    noisy.insert(noisy.end(), good.begin(), good.end());
    const auto frames = splitFrames(d.onHostBytes(noisy));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, 6);
}

TEST(SimPanel, PacketsArrivingInPiecesAreAnsweredOnceComplete) {
    SimDevice d;
    const Bytes req = linkRequest(1);
    for (std::size_t i = 0; i + 1 < req.size(); ++i) {
        EXPECT_TRUE(d.onHostBytes(std::span(&req[i], 1)).empty());
    }
    EXPECT_EQ(splitFrames(d.onHostBytes(std::span(&req.back(), 1))).size(), 2u);
    // Two requests in one write: both answered in order.
    Bytes two = keyPress(keys::Focus);
    const Bytes k2 = keyPress(keys::Interrupt);
    two.insert(two.end(), k2.begin(), k2.end());
    EXPECT_EQ(splitFrames(d.onHostBytes(two)).size(), 4u);
}

TEST(SimPanel, DeviceEventsAndIdleUpdates) {
    SimDevice d;
    d.offerScreenImage();
    d.announceFlashDownload();
    d.requestLink();
    d.sendDidNotUnderstand();
    EXPECT_EQ(d.takeOutput(), (Bytes{165, 0,   0, 0, 165, 0, 165, 1,  0, 0, 166, 0,
                                     165, 255, 0, 0, 164, 1, 165, 21, 0, 0, 186, 0}));
    d.showText("Hello|ignored");
    auto f = splitFrames(d.takeOutput());
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(textOf(f[0]), "Hello|ignored" + std::string(35, ' '));
    EXPECT_EQ(d.displayText(), textOf(f[0]));
    // The console's link accept is noted, not answered.
    EXPECT_TRUE(d.onHostBytes(packet(254)).empty());
    EXPECT_EQ(d.stats().packetsByType[254], 1);

    // Idle ticks move the sensor temperature; the main screen sends each change.
    press(d, keys::Interrupt);
    int updates = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string before = d.displayText();
        d.idleTick();
        const auto out = splitFrames(d.takeOutput());
        if (d.displayText() == before) {
            EXPECT_TRUE(out.empty());
        } else {
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(textOf(out[0]), d.displayText());
            ++updates;
        }
    }
    EXPECT_GT(updates, 0);
    // Away from the main screen the display stays put.
    press(d, keys::Track);
    for (int i = 0; i < 10; ++i) d.idleTick();
    EXPECT_TRUE(d.takeOutput().empty());
}

}  // namespace
}  // namespace kyr::sim::test
