// Image statistics and the stretches' auto contrast on data whose answer is known.
#include <gtest/gtest.h>

#include <cmath>

#include "image/image_stats.h"
#include "image/stretch_contrast.h"

namespace kyr {
namespace {

PixelArray imageOf(int cols, int rows, const std::vector<std::int32_t>& samples) {
    PixelArray img(cols, rows);
    for (std::size_t i = 0; i < samples.size(); ++i)
        img.setCell(static_cast<int>(i) % cols + 1, static_cast<int>(i) / cols + 1,
                    PixelArray::toCell(samples[i]));
    return img;
}

TEST(ImageStats, WholeImageAndBoxesExactly) {
    // Mean 5, squared deviations 32: sigma sqrt(32 / 7) over count - 1.
    const PixelArray img = imageOf(4, 2, {2, 4, 4, 4, 5, 5, 7, 9});
    const ImageStats all = imageStats(img, 4, 2);
    EXPECT_EQ(all.count, 8);
    EXPECT_EQ(all.min, 2);
    EXPECT_EQ(all.max, 9);
    EXPECT_DOUBLE_EQ(all.mean, 5.0);
    EXPECT_DOUBLE_EQ(all.median, 4.5);  // between 4 and 5
    EXPECT_DOUBLE_EQ(all.sigma, std::sqrt(32.0 / 7));

    // Columns 2..4 of row 2 (5, 7, 9), given by a drag from its far corner.
    const ImageStats box = imageStats(img, 4, 2, boxBetween(4, 2, 2, 2));
    EXPECT_EQ(box.count, 3);
    EXPECT_EQ(box.min, 5);
    EXPECT_EQ(box.max, 9);
    EXPECT_DOUBLE_EQ(box.mean, 7.0);
    EXPECT_DOUBLE_EQ(box.median, 7.0);
    EXPECT_DOUBLE_EQ(box.sigma, 2.0);

    // A box hanging over the edge counts only what lies on the image; one wholly off none.
    EXPECT_EQ(imageStats(img, 4, 2, {3, 0, 10, 10}).count, 4);
    EXPECT_EQ(imageStats(img, 4, 2, {3, 0, 10, 10}).max, 9);
    const ImageStats off = imageStats(img, 4, 2, {5, 1, 3, 3});
    EXPECT_EQ(off.count, 0);
    EXPECT_EQ(off.max, 0);
    EXPECT_EQ(imageStats(img, 0, 0).count, 0);

    // The full sample range, and the single pixel.
    const PixelArray ends = imageOf(2, 1, {0, 65535});
    EXPECT_EQ(imageStats(ends, 2, 1).max, 65535);
    EXPECT_DOUBLE_EQ(imageStats(ends, 2, 1).median, 32767.5);
    EXPECT_DOUBLE_EQ(imageStats(ends, 2, 1, {2, 1, 1, 1}).sigma, 0.0);
}

TEST(ImageStats, QuantilesAndMedianDeviation) {
    SampleCounts counts;
    for (std::int32_t s : {1, 2, 3, 4, 100}) counts.add(s);
    EXPECT_EQ(counts.nth(0), 1);
    EXPECT_EQ(counts.nth(4), 100);
    EXPECT_DOUBLE_EQ(counts.median(), 3.0);
    EXPECT_EQ(counts.quantile(0.6), 3);
    EXPECT_EQ(counts.quantile(0.61), 4);
    EXPECT_EQ(counts.quantile(1.0), 100);
    // Deviations from 3: 0 1 1 2 97; from 2.5: 0.5 0.5 1.5 1.5 97.5.
    EXPECT_DOUBLE_EQ(counts.medianDeviation(3.0), 1.0);
    EXPECT_DOUBLE_EQ(counts.medianDeviation(2.5), 1.5);
    counts.add(65535);  // deviations from 3.5: 0.5 0.5 1.5 2.5 96.5 65531.5
    EXPECT_DOUBLE_EQ(counts.medianDeviation(3.5), 2.0);
    // Beyond every sample: 4465 69900 69996 69997 69998 69999.
    EXPECT_DOUBLE_EQ(counts.medianDeviation(70000), 69996.5);
    const SkyLevel sky = skyLevel(counts);
    EXPECT_DOUBLE_EQ(sky.median, 3.5);
    EXPECT_DOUBLE_EQ(sky.sigma, 1.4826 * 2.0);
    EXPECT_DOUBLE_EQ(SampleCounts().median(), 0.0);
    EXPECT_DOUBLE_EQ(SampleCounts().medianDeviation(1.0), 0.0);
}

// A sky near 1000 with noise of sigma about 20 and 1 % of pixels in bright stars.
PixelArray skyWithStars() {
    PixelArray img(320, 200);
    std::uint32_t seed = 7;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int r = 1; r <= 200; ++r)
        for (int c = 1; c <= 320; ++c) {
            double n = 0;  // the sum of 12 uniforms: near a Gaussian of sigma 1
            for (int k = 0; k < 12; ++k) n += (next() % 10000) / 10000.0;
            img.setCell(c, r, PixelArray::toCell(1000 + static_cast<int>(std::lround((n - 6) * 20))));
        }
    for (int s = 0; s < 70; ++s) {
        const int cx = static_cast<int>(next() % 310) + 6, cy = static_cast<int>(next() % 190) + 6;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                img.setCell(cx + dx, cy + dy, PixelArray::toCell(20000 + static_cast<int>(next() % 30000)));
    }
    return img;
}

TEST(StretchContrast, LinearKeepsTheHistogramRuleAndCurvesPutBlackAtTheSky) {
    const PixelArray stars = skyWithStars();
    PixelArray flat(10, 10);
    for (int r = 1; r <= 10; ++r)
        for (int c = 1; c <= 10; ++c) flat.setCell(c, r, PixelArray::toCell(5000));
    for (const PixelArray* img : {&stars, static_cast<const PixelArray*>(&flat)}) {
        const Contrast want = autoContrast(*img, img->cols(), img->rows());
        const Contrast got = autoContrastFor(*img, img->cols(), img->rows(), Stretch::Linear);
        EXPECT_EQ(got.background, want.background);
        EXPECT_EQ(got.range, want.range);
    }
    EXPECT_EQ(autoContrastFor(flat, 10, 10, Stretch::Linear).background, 4916);

    SampleCounts counts;
    counts.addBox(stars, 320, 200, {1, 1, 320, 200});
    const SkyLevel sky = skyLevel(counts);
    ASSERT_NEAR(sky.median, 1000, 2);
    ASSERT_NEAR(sky.sigma, 20, 2);
    const auto median = static_cast<std::int32_t>(sky.median);
    const Contrast linear = autoContrast(stars, 320, 200);
    for (Stretch s : {Stretch::SquareRoot, Stretch::Logarithmic, Stretch::Asinh}) {
        const Contrast c = autoContrastFor(stars, 320, 200, s);
        EXPECT_LE(c.background, sky.median) << static_cast<int>(s);
        EXPECT_GE(c.background, sky.median - sky.sigma) << static_cast<int>(s);
        EXPECT_EQ(c.background + c.range, counts.quantile(0.995)) << static_cast<int>(s);
        // The sky dark, a star's light bright; the linear rule's limits give grey sky.
        EXPECT_LE(stretchGrey(median, c.background, c.range, s), 26) << static_cast<int>(s);
        EXPECT_GE(stretchGrey(20000, c.background, c.range, s), 180) << static_cast<int>(s);
        EXPECT_GE(stretchGrey(median, linear.background, linear.range, s), 60)
            << static_cast<int>(s);
    }
    // A flat image: black at its level and the least range; nothing at all, the default.
    EXPECT_EQ(autoContrastFor(flat, 10, 10, Stretch::Asinh).background, 5000);
    EXPECT_EQ(autoContrastFor(flat, 10, 10, Stretch::Asinh).range, kStretchMinRange);
    EXPECT_EQ(autoContrastFor(flat, 0, 0, Stretch::SquareRoot).range, 128);
}

}  // namespace
}  // namespace kyr
