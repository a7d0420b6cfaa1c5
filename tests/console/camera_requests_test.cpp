// The console's requests for a camera: the header alone, a window of rows and columns (cut
// from whole rows when the device sends those), and the end of a transfer on demand.
#include "console_fixture.h"
#include "image/image_payloads.h"

namespace kyr::test {
namespace {

const Bytes kEndOfTransfer{165, 2, 0, 0, 167, 0};

Bytes rowRequest(int row, int first, int count) {
    const auto r = static_cast<std::uint16_t>(row), c = static_cast<std::uint16_t>(first),
               n = static_cast<std::uint16_t>(count);
    return packet(7, {lo(r), hi(r), lo(c), hi(c), lo(n), hi(n), 31, 0});
}

// A compressed row: the first sample, then one-byte deltas of +1.
Bytes compressedRow(std::uint16_t first, int width) {
    Bytes p{lo(first), hi(first)};
    p.insert(p.end(), static_cast<std::size_t>(width - 1), 1);
    return packet(7, p);
}

class CameraRequestsTest : public ConsoleTest {
protected:
    // A 10 x 6 screen image at device row 4, column 2.
    void headerOnly() {
        startLinked();
        con.requestScreenHeader();
        ASSERT_EQ(port.lastWrite(), buildPacket(4, Bytes{31, 0}, 4));
        HeaderFields f;
        f.width = 10;
        f.height = 6;
        f.firstRow = 4;
        f.firstColumn = 2;
        port.writes.clear();
        port.receive(packet(4, headerPayload(f)));
    }
};

TEST_F(CameraRequestsTest, HeaderAloneThenAWindowCutFromWholeRows) {
    headerOnly();
    // The header is taken and nothing more is asked: no row, no timer.
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(timer.enabled());
    EXPECT_FALSE(con.download.awaitingHeader);
    EXPECT_EQ(con.header.hdrWidth, 10);
    EXPECT_EQ(con.header.timeText, "03:42:05");

    // Rows 5..6 (device), columns 4..6, of which the window's answer and a whole row.
    con.downloadWindow(5, 2, 4, 3);
    EXPECT_EQ(port.lastWrite(), rowRequest(5, 4, 3));
    EXPECT_TRUE(timer.enabled());
    port.receive(compressedRow(500, 3));
    EXPECT_EQ(port.lastWrite(), rowRequest(6, 4, 3));
    port.receive(compressedRow(600, 10));  // columns 2..11 of the device
    EXPECT_TRUE(con.download.imageComplete);
    EXPECT_EQ(port.lastWrite(), kEndOfTransfer);
    EXPECT_EQ(con.image.imageWidth, 3);
    EXPECT_EQ(con.image.imageHeight, 2);
    EXPECT_EQ(con.image.imageData.sample(1, 1), 500);
    EXPECT_EQ(con.image.imageData.sample(3, 1), 502);
    EXPECT_EQ(con.image.imageData.sample(1, 2), 602);  // device column 4
    EXPECT_EQ(con.image.imageData.sample(3, 2), 604);

    // A window that reaches past the image is cut to it; raw rows of either length.
    con.requestScreenHeader();
    HeaderFields f;
    f.width = 10;
    f.height = 6;
    f.firstRow = 4;
    f.firstColumn = 2;
    port.receive(packet(4, headerPayload(f)));
    con.downloadWindow(9, 5, 10, 8);
    EXPECT_EQ(port.lastWrite(), rowRequest(9, 10, 2));
    port.receive(packet(5, rawPayload({7, 8, 9})));  // neither length: asked again
    EXPECT_EQ(port.lastWrite(), rowRequest(9, 10, 2));
    port.receive(packet(5, rawPayload({0, 1, 2, 3, 4, 5, 6, 7, 8, 9})));
    EXPECT_EQ(con.image.imageWidth, 2);
    EXPECT_EQ(con.image.imageHeight, 1);
    EXPECT_EQ(con.image.imageData.sample(1, 1), 8);
    EXPECT_EQ(con.image.imageData.sample(2, 1), 9);
}

TEST_F(CameraRequestsTest, AbortEndsTheTransferAndDropsLateAnswers) {
    headerOnly();
    con.downloadWindow(4, 6, 2, 10);
    port.receive(compressedRow(100, 10));
    ASSERT_EQ(port.lastWrite(), rowRequest(5, 2, 10));
    con.abortTransfer();
    EXPECT_EQ(port.lastWrite(), kEndOfTransfer);
    EXPECT_FALSE(timer.enabled());

    // The row on its way arrives: dropped, nothing asked.
    port.writes.clear();
    port.receive(compressedRow(200, 10));
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(con.download.imageComplete);
    EXPECT_EQ(con.image.imageData.sample(1, 2), 0);

    // The next download is the menu's whole image again.
    con.downloadScreenImage();
    port.receive(packet(4, headerPayload(HeaderFields{})));
    EXPECT_EQ(port.lastWrite(), rowRequest(10, 20, 200));
    EXPECT_FALSE(con.download.window.active);
}

}  // namespace
}  // namespace kyr::test
