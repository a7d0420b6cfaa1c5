// The download cycle: header, rows, the extra data row, completion and Download All.
#include "console_fixture.h"
#include "fakes/temp_dir.h"
#include "image/image_payloads.h"

namespace kyr::test {
namespace {

class DownloadTest : public ConsoleTest {
protected:
    HeaderFields small() {
        HeaderFields f;
        f.height = 3;
        f.width = 4;
        f.firstRow = 10;
        f.firstColumn = 20;
        return f;
    }
    static Bytes rowRequest(int row, int first, int count, int buffer) {
        const auto r = static_cast<std::uint16_t>(row), c = static_cast<std::uint16_t>(first),
                   n = static_cast<std::uint16_t>(count);
        return packet(7, {lo(r), hi(r), lo(c), hi(c), lo(n), hi(n), static_cast<std::uint8_t>(buffer), 0});
    }
    static Bytes headerRequest(int buffer) { return buildPacket(4, Bytes{static_cast<std::uint8_t>(buffer), 0}, 4); }
    static Bytes rawRow(std::uint16_t base) { return packet(5, rawPayload({base, std::uint16_t(base + 1), std::uint16_t(base + 2), 40000})); }
};

const Bytes kLinkOn{165, 9, 2, 0, 176, 0, 1, 0, 1, 0};
const Bytes kEndOfTransfer{165, 2, 0, 0, 167, 0};

TEST_F(DownloadTest, ScreenImageRowByRowToCompletion) {
    startLinked();
    con.downloadScreenImage();
    EXPECT_EQ(port.lastWrite(), headerRequest(31));

    port.receive(packet(4, headerPayload(small())));
    EXPECT_EQ(ui.repaintedStatus.back(), "Header data being received per host request");
    EXPECT_EQ(port.lastWrite(), rowRequest(10, 20, 4, 31));
    EXPECT_FALSE(con.download.awaitingHeader);
    EXPECT_EQ(timer.interval(), 256);
    EXPECT_EQ(ui.progress, (std::pair<int, int>{0, 3}));
    EXPECT_EQ(con.image.imageWidth, 0);  // the previous image's size until completion

    // A row arriving in pieces restarts the timer with the transfer interval.
    const Bytes r1 = rawRow(100);
    port.receive(Bytes(r1.begin(), r1.begin() + 7));
    EXPECT_EQ(timer.interval(), 256);  // transferTimeout is 256 after start-up
    port.receive(Bytes(r1.begin() + 7, r1.end()));
    EXPECT_EQ(port.lastWrite(), rowRequest(11, 20, 4, 31));
    // A bad row is asked for again; its checksum failure does not clear the tick count.
    con.onReplyTimer();
    con.onReplyTimer();
    Bytes bad = rawRow(200);
    bad[8] ^= 0xFF;
    port.receive(bad);
    EXPECT_EQ(port.lastWrite(), rowRequest(11, 20, 4, 31));
    EXPECT_EQ(con.link.timeoutTicks, 2);
    port.receive(rawRow(200));
    EXPECT_EQ(con.link.timeoutTicks, 0);
    port.writes.clear();
    port.receive(rawRow(300));

    // Completion: link request, sizes, picture, then the end of the transfer.
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0], kLinkOn);
    EXPECT_EQ(port.writes[1], kEndOfTransfer);
    EXPECT_EQ(con.image.imageWidth, 4);
    EXPECT_EQ(con.image.imageHeight, 3);
    EXPECT_TRUE(con.download.imageComplete);
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(con.image.imageData.sample(1, 1), 100);
    EXPECT_EQ(con.image.imageData.sample(3, 2), 202);
    EXPECT_EQ(con.image.imageData.sample(4, 3), 40000);
    EXPECT_EQ(ui.pictureCount, 1);
    EXPECT_EQ(ui.status, "Background = 1000\r\nRange = 512");
    EXPECT_EQ(ui.progress, (std::pair<int, int>{0, 0}));
}

TEST_F(DownloadTest, SummedAndMosaicImagesFetchTheExtraDataRow) {
    startLinked();
    for (const auto& [count, flags] : {std::pair<int, int>{4, 0x0010}, {1, 0x2010}}) {
        con.downloadScreenImage();
        HeaderFields f = small();
        f.height = 1;
        f.exposureCount = static_cast<std::uint16_t>(count);
        f.flags = static_cast<std::uint16_t>(flags);
        port.receive(packet(4, headerPayload(f)));
        port.receive(rawRow(5));
        // Row 200: type 5, columns 0..319.
        EXPECT_EQ(port.lastWrite(), packet(5, {200, 0, 0, 0, 64, 1, 31, 0}));
        EXPECT_FALSE(con.download.imageComplete);
        std::vector<std::uint16_t> aux(320);
        for (std::size_t i = 0; i < 320; ++i) aux[i] = static_cast<std::uint16_t>(65535 - i);
        port.writes.clear();
        port.receive(packet(5, rawPayload(aux)));
        EXPECT_TRUE(con.download.imageComplete);
        EXPECT_EQ(con.download.currentRow, 201);
        EXPECT_EQ(con.image.auxData[1], 65535);
        EXPECT_EQ(con.image.auxData[320], 65535 - 319);
        EXPECT_EQ(port.writes.front(), kLinkOn);
        EXPECT_EQ(port.writes.back(), kEndOfTransfer);
    }
}

TEST_F(DownloadTest, DownloadAllTakesEachFlaggedBufferThenEnds) {
    startLinked();
    TempDir dir;
    con.files.autoSaveOn = true;  // as after choosing a name
    con.files.autoSaveNumber = 1;
    con.files.saveBaseName = dir.name("run");
    port.receive(packet(3, {0x00, 0x00, 0x21, 0x00}));  // buffers 0 and 5
    EXPECT_EQ(port.lastWrite(), headerRequest(0));
    HeaderFields f = small();
    f.height = 1;
    port.receive(packet(4, headerPayload(f)));
    EXPECT_EQ(port.lastWrite(), rowRequest(10, 20, 4, 0));
    con.download.bufferFlags[0] = true;  // buffer 0 is never picked after a completed image
    port.writes.clear();
    port.receive(rawRow(1));
    EXPECT_EQ(port.writes.front(), kLinkOn);
    EXPECT_EQ(port.lastWrite(), headerRequest(5));
    EXPECT_EQ(con.download.imageBufferNumber, 5);
    EXPECT_TRUE(con.download.awaitingHeader);
    port.receive(packet(4, headerPayload(f)));
    port.writes.clear();
    port.receive(rawRow(2));
    EXPECT_EQ(port.lastWrite(), kEndOfTransfer);
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"run001.KYR", "run002.KYR"}));
}

TEST_F(DownloadTest, RowsNobodyAskedForLeaveTheRetryCycleAlone) {
    // A row while the first header is awaited: the header request still goes out four times.
    startLinked();
    port.receive(packet(0));
    port.receive(packet(5, {1, 0, 2, 0}));
    EXPECT_TRUE(timer.enabled());
    EXPECT_EQ(con.rx.rxCount, 0);
    for (int i = 0; i < 3; ++i) con.onReplyTimer();
    EXPECT_EQ(port.writes, std::vector<Bytes>(4, headerRequest(31)));
    con.onReplyTimer();
    EXPECT_EQ(ui.status, "Communication Failed");

    // The duplicate of a last row during Download All, while the next header is awaited.
    con.establishLink(1);
    port.receive({165, 6, 0, 0, 171, 0});
    TempDir dir;
    con.files.autoSaveOn = true;
    con.files.saveBaseName = dir.name("dup");
    port.receive(packet(3, {0x00, 0x00, 0x21, 0x00}));  // buffers 0 and 5
    HeaderFields f = small();
    f.height = 1;
    port.receive(packet(4, headerPayload(f)));
    port.receive(rawRow(1));
    EXPECT_EQ(port.lastWrite(), headerRequest(5));
    port.writes.clear();
    port.receive(rawRow(1));
    EXPECT_TRUE(timer.enabled());
    EXPECT_EQ(timer.interval(), 256);
    con.onReplyTimer();
    EXPECT_EQ(port.writes, std::vector<Bytes>{headerRequest(5)});
}

TEST_F(DownloadTest, TheLateDuplicateOfARepeatedHeaderRequestIsDropped) {
    startLinked();
    con.downloadScreenImage();
    con.onReplyTimer();  // the device is slow: the header request goes out again
    const Bytes h = packet(4, headerPayload(small()));
    port.receive(h);
    port.writes.clear();
    port.receive(h);  // the answer to the repeated request
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(con.rx.rxCount, 0);
    EXPECT_EQ(timer.interval(), 256);
    port.receive(rawRow(100));
    port.receive(rawRow(200));
    EXPECT_EQ(con.image.imageData.sample(1, 1), 100);
    EXPECT_EQ(con.image.imageData.sample(1, 2), 200);
    EXPECT_EQ(port.lastWrite(), rowRequest(12, 20, 4, 31));
}

TEST_F(DownloadTest, HeaderAndRowsWaitWithTheirOwnIntervals) {
    // At 9600 baud a packet's body is awaited 1320 ms, an answer to a request 256 ms.
    startLinked();
    con.setBaudRate(5);
    con.downloadScreenImage();
    EXPECT_EQ(timer.interval(), 256);
    const Bytes h = packet(4, headerPayload(small()));
    port.receive(Bytes(h.begin(), h.begin() + 8));
    EXPECT_EQ(timer.interval(), 1320);
    port.receive(Bytes(h.begin() + 8, h.end()));
    EXPECT_EQ(timer.interval(), 256);
    const Bytes r = rawRow(3);
    port.receive(Bytes(r.begin(), r.begin() + 8));
    EXPECT_EQ(timer.interval(), 1320);
    port.receive(Bytes(r.begin() + 8, r.end()));
    EXPECT_EQ(timer.interval(), 256);
}

TEST_F(DownloadTest, ZeroHeightHeaderEndsTheEventAndTheCycle) {
    startLinked();
    con.downloadScreenImage();
    HeaderFields f = small();
    f.height = 0;
    Bytes in = packet(4, headerPayload(f));
    const Bytes ack{165, 6, 0, 0, 171, 0};
    in.insert(in.end(), ack.begin(), ack.end());
    port.writes.clear();
    ui.statusHistory.clear();
    port.receive(in);
    EXPECT_FALSE(timer.enabled());
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(con.rx.rxCount, 6);  // the acknowledge waits for the next receive event
    port.receive({});
    EXPECT_EQ(ui.status, "Keypress acknowledged");
}

TEST_F(DownloadTest, SilentTicksThenAGoodRowContinue) {
    startLinked();
    con.downloadScreenImage();
    port.receive(packet(4, headerPayload(small())));
    for (int i = 0; i < 3; ++i) con.onReplyTimer();
    EXPECT_EQ(con.link.timeoutTicks, 3);
    EXPECT_EQ(port.lastWrite(), rowRequest(10, 20, 4, 31));
    port.receive(rawRow(7));
    EXPECT_EQ(con.link.timeoutTicks, 0);
    EXPECT_EQ(port.lastWrite(), rowRequest(11, 20, 4, 31));
    con.onReplyTimer();
    EXPECT_NE(ui.status, "Communication Failed");
}

TEST_F(DownloadTest, SilentTicksThenAGoodHeaderContinue) {
    // The header after three silent ticks is progress too: the next silent tick retries the
    // first row instead of failing.
    startLinked();
    con.downloadScreenImage();
    for (int i = 0; i < 3; ++i) con.onReplyTimer();
    EXPECT_EQ(con.link.timeoutTicks, 3);
    port.receive(packet(4, headerPayload(small())));
    EXPECT_EQ(con.link.timeoutTicks, 0);
    port.writes.clear();
    con.onReplyTimer();
    EXPECT_EQ(port.writes, std::vector<Bytes>{rowRequest(10, 20, 4, 31)});
    EXPECT_NE(ui.status, "Communication Failed");
}

}  // namespace
}  // namespace kyr::test
