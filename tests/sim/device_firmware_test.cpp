#include <gtest/gtest.h>

#include "sim/sim_device.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

// The table-driven CRC the way the console's upload describes it.
std::uint16_t tableCrc(const Bytes& b, std::size_t n) {
    std::uint16_t table[256];
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i << 8;
        for (int k = 0; k < 8; ++k) v = (v & 0x8000) ? ((v << 1) ^ 0x1021) : (v << 1);
        table[i] = static_cast<std::uint16_t>(v & 0xFFFF);
    }
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) crc = ((crc << 8) ^ table[b[i] ^ (crc >> 8)]) & 0xFFFF;
    return static_cast<std::uint16_t>(crc);
}

Bytes firmwareFile(std::uint8_t salt = 0) {
    Bytes f(98304);
    std::uint32_t x = 12345u + salt;
    for (auto& b : f) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    const std::uint16_t crc = tableCrc(f, 98300);
    f[98302] = static_cast<std::uint8_t>(crc >> 8);
    f[98303] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

Bytes pagePacket(const Bytes& file, int p, bool swap = true) {
    Bytes payload{static_cast<std::uint8_t>(64 + p), 0};
    for (int k = 0; k < 256; ++k) {
        const std::uint8_t a = file[static_cast<std::size_t>(512 * p + 2 * k)];
        const std::uint8_t b = file[static_cast<std::size_t>(512 * p + 2 * k + 1)];
        payload.push_back(swap ? b : a);
        payload.push_back(swap ? a : b);
    }
    return packet(252, payload);
}

Bytes finalPacket(const Bytes& file) {
    return packet(250, {32, 0, file[98303], file[98302]});
}

std::vector<int> typesOf(const Bytes& out) {
    std::vector<int> t;
    for (const auto& f : splitFrames(out)) t.push_back(f.type);
    return t;
}

const std::vector<int> kAck{6};
const std::vector<int> kNak{21};

TEST(SimFirmware, GoodUploadIsAcceptedAndTheDeviceRestarts) {
    SimDevice d;
    d.onHostBytes(linkRequest(1));
    d.onHostBytes(keyPress(keys::Focus));
    const Bytes file = firmwareFile();
    EXPECT_EQ(firmwareCrc16(std::span(file.data(), 98300)), tableCrc(file, 98300));
    EXPECT_EQ(d.onHostBytes(packet(253, {32, 0})), (Bytes{165, 6, 0, 0, 171, 0}));
    EXPECT_EQ(d.uploadResult(), UploadResult::InProgress);
    for (int p = 0; p < 192; ++p) {
        ASSERT_EQ(typesOf(d.onHostBytes(pagePacket(file, p))), kAck) << p;
        // A page sent again after a lost acknowledge is acknowledged again.
        if (p == 17) {
            ASSERT_EQ(typesOf(d.onHostBytes(pagePacket(file, p))), kAck);
        }
    }
    const auto frames = splitFrames(d.onHostBytes(finalPacket(file)));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, 6);
    EXPECT_EQ(frames[1].type, 9);
    EXPECT_EQ(std::string(frames[1].payload.begin(), frames[1].payload.begin() + 24),
              "KYR restarting...       ");
    EXPECT_EQ(d.uploadResult(), UploadResult::Accepted);
    EXPECT_EQ(d.acceptedFirmware(), file);
    // Until the console asks for the link again the panel stays on its restart text.
    EXPECT_EQ(d.displayText().substr(0, 17), "KYR restarting...");
    d.onHostBytes(keyPress(keys::Track));
    EXPECT_EQ(d.displayText().substr(0, 17), "KYR restarting...");
    const auto back = splitFrames(d.onHostBytes(linkRequest(1)));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(std::string(back[1].payload.begin(), back[1].payload.begin() + 24),
              "KYR  Mode: Image        ");
}

TEST(SimFirmware, MissingPageIsRefused) {
    SimDevice d;
    const Bytes file = firmwareFile(1);
    d.onHostBytes(packet(253, {32, 0}));
    for (int p = 0; p < 192; ++p) {
        if (p == 100) continue;
        EXPECT_EQ(typesOf(d.onHostBytes(pagePacket(file, p))), p > 100 ? kNak : kAck) << p;
    }
    EXPECT_EQ(d.uploadDetail(), "page 191 sent while page 100 was expected");
    EXPECT_EQ(typesOf(d.onHostBytes(finalPacket(file))), kNak);
    EXPECT_EQ(d.uploadResult(), UploadResult::Refused);
    EXPECT_EQ(d.uploadDetail(), "page 100 missing");
    EXPECT_TRUE(d.acceptedFirmware().empty());
}

TEST(SimFirmware, UnswappedPagesOrAWrongCrcAreRefused) {
    const Bytes file = firmwareFile(2);
    {
        SimDevice d;
        d.onHostBytes(packet(253, {32, 0}));
        for (int p = 0; p < 192; ++p) d.onHostBytes(pagePacket(file, p, p != 5));
        EXPECT_EQ(typesOf(d.onHostBytes(finalPacket(file))), kNak);
        EXPECT_EQ(d.uploadDetail(), "CRC check failed");
    }
    {
        // The final packet carries a CRC other than the stored one.
        SimDevice d;
        d.onHostBytes(packet(253, {32, 0}));
        for (int p = 0; p < 192; ++p) d.onHostBytes(pagePacket(file, p));
        EXPECT_EQ(typesOf(d.onHostBytes(packet(250, {32, 0, file[98302], file[98303]}))), kNak);
        EXPECT_EQ(d.uploadResult(), UploadResult::Refused);
        // A new start packet begins again from page 0.
        EXPECT_EQ(typesOf(d.onHostBytes(packet(253, {32, 0}))), kAck);
        EXPECT_EQ(typesOf(d.onHostBytes(pagePacket(file, 1))), kNak);
        EXPECT_EQ(typesOf(d.onHostBytes(pagePacket(file, 0))), kAck);
    }
    {
        // Pages and final packets without a start are not understood.
        SimDevice d;
        EXPECT_EQ(typesOf(d.onHostBytes(pagePacket(file, 0))), kNak);
        EXPECT_EQ(typesOf(d.onHostBytes(finalPacket(file))), kNak);
        EXPECT_EQ(d.uploadResult(), UploadResult::None);
    }
}

}  // namespace
}  // namespace kyr::sim::test
