#include "image/flat_field.h"

#include <gtest/gtest.h>

namespace kyr {
namespace {

PixelArray filled(int w, int h, std::int32_t sample) {
    PixelArray a(w, h);
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x) a.setCell(x, y, PixelArray::toCell(sample));
    return a;
}

TEST(FlatField, ConstantFlatAddsPedestalOffset) {
    PixelArray img = filled(40, 30, 500);
    img.setCell(7, 9, 1234);
    const PixelArray flat = filled(40, 30, 1100);
    TrackOffsets one;
    one.trackSnapshotCount = 1;
    const auto r = correctFlatField(img, 40, 30, flat, 100, one);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.meanLevel, 1000);
    EXPECT_EQ(r.width(), 40);
    EXPECT_EQ(r.height(), 30);
    EXPECT_EQ(img.sample(1, 1), 600);
    EXPECT_EQ(img.sample(7, 9), 1334);
}

TEST(FlatField, MeanLevelIsTheElevenByElevenWindowAtTheCentre) {
    // A flat that grows faster away from the corner: a window shifted by a pixel, or narrower
    // or wider, averages to another level. The centre of 40 x 30 is (20, 15), so the window
    // is x 15..25, y 10..20: mean x^2 410, mean 3 y^2 705, plus 1100 - 100.
    const int w = 40, h = 30;
    PixelArray flat(w, h);
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x) flat.setCell(x, y, static_cast<std::int16_t>(1100 + x * x + 3 * y * y));
    PixelArray img = filled(w, h, 500);
    const auto r = correctFlatField(img, w, h, flat, 100, TrackOffsets{});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.meanLevel, 2115);
    // At the centre the summed flat is 1000 + 400 + 675: 500 * 2115 / 2075 + 100 = 609.6.
    EXPECT_EQ(img.sample(20, 15), 610);
}

TEST(FlatField, ShiftedSnapshotsCropAndMoveToTopLeft) {
    const int w = 30, h = 20;
    PixelArray img(w, h);
    for (int y = 1; y <= h; ++y)
        for (int x = 1; x <= w; ++x) img.setCell(x, y, static_cast<std::int16_t>(1000 + 40 * y + x));
    const PixelArray flat = filled(w, h, 1100);
    TrackOffsets t;
    t.trackSnapshotCount = 2;
    t.trackOffsetX[2] = 3;
    t.trackOffsetY[2] = -2;
    const auto r = correctFlatField(img, w, h, flat, 100, t);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.xMin, 4);
    EXPECT_EQ(r.xMax, w);
    EXPECT_EQ(r.yMin, 1);
    EXPECT_EQ(r.yMax, h - 2);
    EXPECT_EQ(r.width(), w - 3);
    EXPECT_EQ(r.height(), h - 2);
    // The summed flat is 2000 inside the crop and the centre mean is 2000: v = c + 100.
    EXPECT_EQ(r.meanLevel, 2000);
    EXPECT_EQ(img.sample(1, 1), 1000 + 40 * 1 + 4 + 100);
    EXPECT_EQ(img.sample(2, 3), 1000 + 40 * 3 + 5 + 100);
    // Offsets that leave no common area touch nothing.
    PixelArray before = img;
    t.trackOffsetX[2] = 40;
    EXPECT_FALSE(correctFlatField(img, w, h, flat, 100, t).ok);
    EXPECT_EQ(img, before);
}

TEST(FlatField, ClampingRoundingAndNonPositiveFlat) {
    EXPECT_EQ(flatCorrectedSample(60000, 100, 3000, 1000), 65534);  // above 65534
    EXPECT_EQ(flatCorrectedSample(0, 0, 1000, 1000), 1);            // negative result
    EXPECT_EQ(flatCorrectedSample(5000, 100, 1000, 0), 100);        // summed flat 0
    EXPECT_EQ(flatCorrectedSample(5000, 100, 1000, -7), 100);
    EXPECT_EQ(flatCorrectedSample(1, 100, 1, 2), 100);              // 0.5 + 100 -> 100 (even)
    EXPECT_EQ(flatCorrectedSample(3, 100, 1, 2), 102);              // 1.5 + 100 -> 102
    // Samples above 32767 are corrected as the unsigned values they are.
    EXPECT_EQ(flatCorrectedSample(40000, 100, 1000, 1000), 40100);

    PixelArray img = filled(20, 20, 60000);
    const auto r = correctFlatField(img, 20, 20, filled(20, 20, 400), 30000, TrackOffsets{});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(img.cell(5, 5), -2);  // 65534 stored as a cell
}

TEST(FlatField, ImagesSmallerThanTheCentreWindowStayInside) {
    PixelArray img = filled(5, 3, 700);
    const auto r = correctFlatField(img, 5, 3, filled(5, 3, 1100), 100, TrackOffsets{});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.meanLevel, 1000);
    EXPECT_EQ(img.sample(5, 3), 800);
}

}  // namespace
}  // namespace kyr
