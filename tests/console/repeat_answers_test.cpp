// Answers to repeated requests never pass for the next row; on a network line the reply
// timer follows the measured round trip.
#include "console_fixture.h"
#include "image/image_payloads.h"

namespace kyr::test {
namespace {

class RepeatTest : public ConsoleTest {
protected:
    static Bytes row(std::uint16_t base) {
        return packet(5, rawPayload({base, std::uint16_t(base + 1), std::uint16_t(base + 2)}));
    }
    static Bytes rowRequest(int row) {
        const auto r = static_cast<std::uint16_t>(row);
        return packet(7, {lo(r), hi(r), 0, 0, 3, 0, 31, 0});
    }
    // A 3x4 screen image from device row 0; its header answered.
    void startImage(std::uint16_t exposures = 1) {
        startLinked();
        con.downloadScreenImage();
        HeaderFields f;
        f.height = 4;
        f.width = 3;
        f.firstRow = 0;
        f.firstColumn = 0;
        f.exposureCount = exposures;
        port.receive(packet(4, headerPayload(f)));
        port.writes.clear();
    }
    std::vector<int> firstColumn() {
        std::vector<int> v;
        for (int r = 1; r <= 4; ++r) v.push_back(con.image.imageData.sample(1, r));
        return v;
    }
};

TEST_F(RepeatTest, BothAnswersOfARepeatedRowRequestGiveOneRow) {
    startImage();
    port.receive(row(100));
    con.onReplyTimer();  // row 1 is slow: asked for twice
    EXPECT_EQ(port.writes, (std::vector<Bytes>{rowRequest(1), rowRequest(1)}));
    port.receive(row(200));  // the first answer: row 1
    port.writes.clear();
    port.receive(row(200));  // the repeat's answer: dropped, nothing asked
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(con.download.currentRow, 2);
    EXPECT_TRUE(timer.enabled());
    port.receive(row(300));
    port.receive(row(400));
    EXPECT_TRUE(con.download.imageComplete);
    EXPECT_EQ(firstColumn(), (std::vector<int>{100, 200, 300, 400}));
}

TEST_F(RepeatTest, LostFirstRequestAndIdenticalRowsStayInPlace) {
    startImage();
    // Row 0's first request was lost: one answer comes for two requests, and the next row
    // differs from it, so it is taken at once.
    con.onReplyTimer();
    port.receive(row(100));
    port.receive(row(200));
    EXPECT_EQ(con.download.currentRow, 2);
    // Row 2 is asked for twice, both answered; row 3 happens to be identical to row 2.
    con.onReplyTimer();
    port.receive(row(300));
    port.receive(row(300));  // the copy
    EXPECT_EQ(con.download.currentRow, 3);
    port.writes.clear();
    port.receive(row(300));  // genuine row 3, identical: taken (no copy is due any more)
    EXPECT_TRUE(con.download.imageComplete);
    EXPECT_EQ(firstColumn(), (std::vector<int>{100, 200, 300, 300}));
}

TEST_F(RepeatTest, AnIdenticalRowMistakenForACopyIsAskedForAgain) {
    startImage();
    port.receive(row(100));
    con.onReplyTimer();  // row 1 asked twice, but the first request was lost
    port.receive(row(100));  // row 1 is identical to row 0: one answer
    EXPECT_EQ(con.download.currentRow, 2);
    port.receive(row(100));  // row 2, identical again: taken for row 1's copy and dropped
    EXPECT_EQ(con.download.currentRow, 2);
    port.writes.clear();
    con.onReplyTimer();  // slower, never wrong: row 2 is asked for again
    EXPECT_EQ(port.writes, (std::vector<Bytes>{rowRequest(2)}));
    port.receive(row(100));
    port.receive(row(400));
    EXPECT_TRUE(con.download.imageComplete);
    EXPECT_EQ(firstColumn(), (std::vector<int>{100, 100, 100, 400}));
}

TEST_F(RepeatTest, CopiesOfHeaderAndExtraDataRowChangeNothing) {
    startLinked();
    con.downloadScreenImage();
    con.onReplyTimer();
    HeaderFields f;
    f.height = 1;
    f.width = 3;
    f.firstRow = 0;
    f.firstColumn = 0;
    f.exposureCount = 2;
    port.receive(packet(4, headerPayload(f)));
    port.receive(packet(4, headerPayload(f)));  // the repeat's header
    port.receive(row(7));
    EXPECT_EQ(con.download.currentRow, 200);
    con.onReplyTimer();
    std::vector<std::uint16_t> aux(320, 9);
    port.receive(packet(5, rawPayload(aux)));
    ASSERT_TRUE(con.download.imageComplete);
    port.writes.clear();
    port.receive(packet(5, rawPayload(aux)));  // row 200's copy
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(con.rx.rxCount, 0);
    EXPECT_EQ(con.image.imageData.sample(1, 1), 7);
}

TEST_F(RepeatTest, NetworkLineTimesItsAnswersLocalLineKeepsTheTable) {
    port.network = true;
    startLinked();
    con.downloadScreenImage();
    EXPECT_EQ(timer.interval(), 256);  // nothing measured: the table's interval
    // The header takes 1.2 s: the timer repeats the request twice, backing off.
    clock.ms = 256;
    con.onReplyTimer();
    EXPECT_EQ(timer.interval(), 512);
    clock.ms = 768;
    con.onReplyTimer();
    EXPECT_EQ(timer.interval(), 1024);
    clock.ms = 1200;
    HeaderFields f;
    f.height = 4;
    f.width = 3;
    f.firstRow = 0;
    f.firstColumn = 0;
    port.receive(packet(4, headerPayload(f)));
    // A repeated request gives no sample (Karn): the backed-off wait stays for row 0.
    EXPECT_EQ(timer.interval(), 1024);
    EXPECT_EQ(con.link.timeoutTicks, 0);
    port.receive(packet(4, headerPayload(f)));  // copies of the header
    port.receive(packet(4, headerPayload(f)));
    // Row 0 answered once, after 1.2 s: measured; the wait covers the round trip.
    clock.ms = 2400;
    port.receive(row(100));
    EXPECT_GE(timer.interval(), 1200 + 4 * 100);
    EXPECT_EQ(con.download.currentRow, 1);
    EXPECT_FALSE(con.link.roundTrip.backoffShift());
    // Still silent after the fourth interval: given up as on a local line.
    for (int i = 0; i < 4; ++i) con.onReplyTimer();
    EXPECT_EQ(ui.status, "Communication Failed");
}

TEST_F(RepeatTest, LocalLineKeepsItsIntervalOnRepeats) {
    startImage();
    con.setBaudRate(5);
    port.receive(row(1));
    EXPECT_EQ(timer.interval(), 256);
    clock.ms = 5000;  // a slow answer measures nothing on a local line
    con.onReplyTimer();
    con.onReplyTimer();
    EXPECT_EQ(timer.interval(), 256);
    port.receive(row(2));
    EXPECT_EQ(timer.interval(), 256);
}

}  // namespace
}  // namespace kyr::test
