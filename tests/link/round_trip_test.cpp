#include "link/round_trip.h"

#include <gtest/gtest.h>

namespace kyr {
namespace {

TEST(RoundTripEstimatorTest, SamplesSmoothTheRoundTripAboveTheFloors) {
    RoundTripEstimator rtt(256, 110);
    // Nothing measured yet: the speed table's intervals.
    EXPECT_EQ(rtt.replyIntervalMs(), 256);
    EXPECT_EQ(rtt.pieceIntervalMs(), 110);

    // First sample: SRTT = R, RTTVAR = R / 2.
    rtt.answered(1000, 1300, true);
    EXPECT_EQ(rtt.smoothedMs(), 300);
    EXPECT_EQ(rtt.variationMs(), 150);
    EXPECT_EQ(rtt.replyIntervalMs(), 300 + 4 * 150);
    EXPECT_EQ(rtt.pieceIntervalMs(), 4 * 150);

    // RTTVAR = 3/4 150 + 1/4 |300 - 340| = 122.5 (from the old SRTT), SRTT = 7/8 300 + 1/8 340.
    rtt.answered(2000, 2340, true);
    EXPECT_EQ(rtt.smoothedMs(), 305);
    EXPECT_EQ(rtt.variationMs(), 123);
    EXPECT_EQ(rtt.replyIntervalMs(), 305 + 490);
    EXPECT_EQ(rtt.pieceIntervalMs(), 490);

    // A steady round trip: the variation dies away, the reply interval settles just above
    // it and the between-pieces interval falls back to its floor.
    for (int i = 0; i < 200; ++i) rtt.answered(10000 * i, 10000 * i + 300, true);
    EXPECT_EQ(rtt.smoothedMs(), 300);
    EXPECT_EQ(rtt.replyIntervalMs(), 301);
    EXPECT_EQ(rtt.pieceIntervalMs(), 110);

    // A fast link never goes below the table, whatever its floors are.
    for (int i = 0; i < 200; ++i) rtt.answered(10000 * i, 10000 * i + 20, true);
    EXPECT_EQ(rtt.replyIntervalMs(), 256);
    EXPECT_EQ(rtt.pieceIntervalMs(), 110);
    rtt.setFloors(1024, 1024);
    EXPECT_EQ(rtt.replyIntervalMs(), 1024);
    EXPECT_EQ(rtt.pieceIntervalMs(), 1024);

    // A clock that stepped back gives no sample.
    rtt.answered(5000, 4000, true);
    EXPECT_EQ(rtt.smoothedMs(), 20);

    rtt.reset();
    EXPECT_FALSE(rtt.hasSample());
    EXPECT_EQ(rtt.replyIntervalMs(), 1024);
}

TEST(RoundTripEstimatorTest, RepeatsBackOffAndOnlyAnAnswerAtTheFirstTryMeasures) {
    RoundTripEstimator rtt(256, 110);
    rtt.answered(0, 300, true);
    ASSERT_EQ(rtt.replyIntervalMs(), 900);

    // Each repeat doubles both intervals, up to the cap.
    rtt.repeated();
    EXPECT_EQ(rtt.replyIntervalMs(), 1800);
    EXPECT_EQ(rtt.pieceIntervalMs(), 1200);
    rtt.repeated();
    EXPECT_EQ(rtt.replyIntervalMs(), 3600);
    for (int i = 0; i < 40; ++i) rtt.repeated();
    EXPECT_EQ(rtt.replyIntervalMs(), RoundTripEstimator::kMaxIntervalMs);
    EXPECT_EQ(rtt.pieceIntervalMs(), RoundTripEstimator::kMaxIntervalMs);

    // Karn: the answer of a repeated request may be the first copy's, so it measures nothing
    // and the back-off stays.
    rtt.answered(0, 20000, false);
    EXPECT_EQ(rtt.smoothedMs(), 300);
    EXPECT_EQ(rtt.variationMs(), 150);
    EXPECT_EQ(rtt.replyIntervalMs(), RoundTripEstimator::kMaxIntervalMs);

    // The next request answered at the first try is a sample and ends the back-off.
    rtt.answered(0, 300, true);
    EXPECT_EQ(rtt.backoffShift(), 0);
    EXPECT_EQ(rtt.smoothedMs(), 300);
    EXPECT_EQ(rtt.replyIntervalMs(), 300 + 4 * 150 * 3 / 4);

    // A link never measured backs off from the floors.
    RoundTripEstimator silent(256, 110);
    silent.repeated();
    silent.repeated();
    EXPECT_EQ(silent.replyIntervalMs(), 1024);
    EXPECT_EQ(silent.pieceIntervalMs(), 440);
}

}  // namespace
}  // namespace kyr
