#include <gtest/gtest.h>

#include <vector>

#include "link/line_settings.h"
#include "link/packet.h"
#include "link/port_map.h"
#include "link/rx_buffer.h"

namespace kyr {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records each dispatched packet; waits for bodies as the console's handlers do.
struct Recorder {
    RxBuffer rx;
    std::vector<Bytes> packets;
    int passes = 0;
    bool endAfterType4 = false;

    Recorder() { rx.setHeaderOnlyTypes({0, 1, 6, 21, 254, 255}); }

    DispatchResult dispatch() {
        ++passes;
        const auto t = rx.type();
        int len = kHeaderSize;
        if (!(t == 0 || t == 1 || t == 6 || t == 21 || t == 254 || t == 255)) {
            if (!rx.complete()) return DispatchResult::Continue;
            len = rx.packetSize();
        }
        packets.emplace_back(rx.rxBuffer.begin(), rx.rxBuffer.begin() + len);
        rx.removePacket(len);
        return (endAfterType4 && t == 4) ? DispatchResult::EndEvent : DispatchResult::Continue;
    }
    void feed(const Bytes& b) {
        rx.receive(b, [this] { return dispatch(); });
    }
};

const Bytes kLinkAccept{165, 254, 0, 0, 163, 1};

TEST(Packet, BuilderMatchesWorkedExamples) {
    const std::uint8_t focus[] = {1, 0};
    EXPECT_EQ(buildPacket(8, focus), (Bytes{165, 8, 2, 0, 175, 0, 1, 0, 1, 0}));
    EXPECT_EQ(buildPacket(3, {}), (Bytes{165, 3, 0, 0, 168, 0}));
    EXPECT_EQ(buildPacket(254, {}), kLinkAccept);
    const std::uint8_t header31[] = {31, 0};
    EXPECT_EQ(buildPacket(4, header31, 4), (Bytes{165, 4, 2, 0, 171, 0, 31, 0, 31, 0, 0, 0, 0, 0}));
    // A payload whose byte sum passes 65535 carries the sum modulo 65536.
    std::vector<std::uint8_t> page(514, 0xFF);
    const auto p = buildPacket(252, page);
    ASSERT_EQ(p.size(), 522u);
    EXPECT_EQ(p[520] | (p[521] << 8), (514 * 255) % 65536);
}

TEST(Framing, DropsNoiseAndDispatchesPacket) {
    Recorder r;
    Bytes in{1, 2};
    in.insert(in.end(), kLinkAccept.begin(), kLinkAccept.end());
    r.feed(in);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0], kLinkAccept);
    EXPECT_EQ(r.rx.rxCount, 0);
}

TEST(Framing, HeaderSplitAcrossEventsAndLongBodyInChunks) {
    Recorder r;
    r.feed({165, 254, 0});
    EXPECT_EQ(r.passes, 0);
    r.feed({0, 163, 1});
    ASSERT_EQ(r.packets.size(), 1u);

    // A 100-byte row in three chunks: header verified once, dispatcher entered each time.
    std::vector<std::uint8_t> payload(100);
    for (int i = 0; i < 100; ++i) payload[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    const Bytes row = buildPacket(5, payload);
    r.passes = 0;
    r.feed(Bytes(row.begin(), row.begin() + 30));
    EXPECT_TRUE(r.rx.headerValid);
    r.feed(Bytes(row.begin() + 30, row.begin() + 80));
    r.feed(Bytes(row.begin() + 80, row.end()));
    EXPECT_EQ(r.passes, 3);
    ASSERT_EQ(r.packets.size(), 2u);
    EXPECT_EQ(r.packets[1], row);
    EXPECT_FALSE(r.rx.headerValid);
}

TEST(Framing, BadHeaderDropsSixBytesThenGoodPacketInSameEvent) {
    Recorder r;
    Bytes in{165, 9, 48, 0, 0, 0};  // wrong header checksum
    in.insert(in.end(), kLinkAccept.begin(), kLinkAccept.end());
    r.feed(in);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0], kLinkAccept);

    // All six bytes go, also when a start byte stands inside them: dropping fewer would
    // take {165, 254, 0, 0, 163, 1} spanning the bad header as a packet.
    Recorder s;
    Bytes inner{165, 9, 165, 254, 0, 0, 163, 1};
    inner.insert(inner.end(), kLinkAccept.begin(), kLinkAccept.end());
    s.feed(inner);
    ASSERT_EQ(s.packets.size(), 1u);
    EXPECT_EQ(s.packets[0], kLinkAccept);

    // Exactly six: the damaged header's fifth byte starts what would pass for a link accept
    // after dropping one to five, and the tail left after six is noise.
    Recorder t;
    t.feed({165, 9, 48, 0, 0, 165, 254, 0, 0, 163, 1});
    EXPECT_TRUE(t.packets.empty());
    EXPECT_EQ(t.rx.rxCount, 0);
}

TEST(Framing, TwoPacketsInOneChunkInOrderAndEndEventLeavesRest) {
    Recorder r;
    const std::uint8_t one[] = {1, 0};
    Bytes a = buildPacket(9, one), b = kLinkAccept;
    Bytes in = a;
    in.insert(in.end(), b.begin(), b.end());
    r.feed(in);
    ASSERT_EQ(r.packets.size(), 2u);
    EXPECT_EQ(r.packets[0], a);
    EXPECT_EQ(r.packets[1], b);

    // A handler that ends the event leaves the following bytes for the next event.
    Recorder e;
    e.endAfterType4 = true;
    std::vector<std::uint8_t> hdr(38, 0);
    Bytes h = buildPacket(4, hdr);
    h.insert(h.end(), b.begin(), b.end());
    e.feed(h);
    EXPECT_EQ(e.packets.size(), 1u);
    EXPECT_EQ(e.rx.rxCount, 6);
    e.feed({});
    EXPECT_EQ(e.packets.size(), 2u);
}

TEST(Framing, MoreBytesThanFitAreFedInPiecesWithoutLoss) {
    Recorder r;
    std::vector<std::uint8_t> payload(1000, 7);
    const Bytes row = buildPacket(7, payload);
    Bytes in;
    for (int i = 0; i < 5; ++i) in.insert(in.end(), row.begin(), row.end());
    r.feed(in);  // 5040 bytes in one event into a 1024-byte buffer
    ASSERT_EQ(r.packets.size(), 5u);
    for (const auto& p : r.packets) EXPECT_EQ(p, row);
    EXPECT_EQ(r.rx.backlogSize(), 0u);
}

TEST(Framing, PayloadThatCanNeverFitIsDropped) {
    Recorder r;
    // Header announcing L = 2000 (valid header checksum), then a good packet.
    Bytes in{165, 7, 0xD0, 0x07, 0, 0};
    const auto s = byteSum16(std::span(in.data(), 4));
    in[4] = lo(s);
    in[5] = hi(s);
    in.insert(in.end(), kLinkAccept.begin(), kLinkAccept.end());
    r.feed(in);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0], kLinkAccept);
    // Header-only types are handled whatever L says.
    Recorder h;
    Bytes ack{165, 6, 0xD0, 0x07, 0, 0};
    const auto s2 = byteSum16(std::span(ack.data(), 4));
    ack[4] = lo(s2);
    ack[5] = hi(s2);
    h.feed(ack);
    EXPECT_EQ(h.packets.size(), 1u);
}

TEST(Framing, ConsumeBeyondCountEmptiesAndChecksumOfLinkPayload) {
    RxBuffer rx;
    const std::uint8_t one[] = {1, 0};
    const Bytes p = buildPacket(9, one);
    EXPECT_EQ(p[8], 1);
    EXPECT_EQ(p[9], 0);
    std::copy(p.begin(), p.end(), rx.rxBuffer.begin());
    rx.rxCount = static_cast<std::int16_t>(p.size());
    EXPECT_TRUE(rx.checkPayloadChecksum());
    rx.rxBuffer[8] = 2;
    EXPECT_FALSE(rx.checkPayloadChecksum());
    rx.consumeRxBytes(3);
    EXPECT_EQ(rx.rxCount, 7);
    EXPECT_EQ(rx.at(0), 0);
    rx.consumeRxBytes(50);
    EXPECT_EQ(rx.rxCount, 0);
}

TEST(LineSettings, ParsesEveryRowOfTheSpeedTable) {
    for (const char* t : {"115200,N,8,2", "57600,N,8,2", "38400,N,8,2", "19200,N,8,2", "9600,N,8,2",
                          "115200,N,8,1", "57600,N,8,1", "38400,N,8,1", "19200,N,8,1",
                          "9600,N,8,1"}) {
        auto s = parseLineSettings(t);
        ASSERT_TRUE(s) << t;
        EXPECT_EQ(lineSettingsText(*s), t);
    }
    auto s = parseLineSettings("9600,n,7,1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->parity, 'N');
    EXPECT_EQ(s->dataBits, 7);
    EXPECT_FALSE(parseLineSettings("9600,N,8"));
    EXPECT_FALSE(parseLineSettings("fast,N,8,1"));
    EXPECT_FALSE(parseLineSettings("9600,X,8,1"));
    EXPECT_FALSE(parseLineSettings("9600,N,9,1"));
    EXPECT_FALSE(parseLineSettings("9600,N,8,3"));
}

TEST(PortMap, DefaultsAndUserMappings) {
#if !defined(_WIN32)
    EXPECT_EQ(PortMap::platformPath(1), "/dev/ttyS0");
    EXPECT_EQ(PortMap::platformPath(6), "/dev/ttyS5");
#endif
    PortMap m;
    EXPECT_EQ(m.addMapping("1=/dev/ttyUSB0"), "");
    EXPECT_EQ(m.addMapping("2=tcp://observatory-pc:3001"), "");
    EXPECT_NE(m.addMapping("2=tcp://observatory-pc"), "");
    EXPECT_NE(m.addMapping("x=/dev/ttyUSB0"), "");
    EXPECT_NE(m.addMapping("3="), "");
    EXPECT_EQ(m.pathFor(1), "/dev/ttyUSB0");
    EXPECT_EQ(m.pathFor(2), "tcp://observatory-pc:3001");
    auto a = parseTcpAddress(m.pathFor(2));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "observatory-pc");
    EXPECT_EQ(a->port, 3001);
    EXPECT_FALSE(a->rfc2217);
    EXPECT_FALSE(parseTcpAddress("/dev/ttyS0"));

    EXPECT_EQ(m.addMapping("4=rfc2217://[::1]:3002"), "");
    EXPECT_EQ(m.addMapping("5=rfc2217://observatory-pc"), "expected rfc2217://host:port, got \"rfc2217://observatory-pc\"");
    a = parseTcpAddress(m.pathFor(4));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "::1");
    EXPECT_EQ(a->port, 3002);
    EXPECT_TRUE(a->rfc2217);
}

}  // namespace
}  // namespace kyr
