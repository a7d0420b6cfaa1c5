// zscale, the star measurement and the histogram on data whose answer is known.
#include <gtest/gtest.h>

#include <cmath>

#include "image/hfd_history.h"
#include "image/histogram.h"
#include "image/star_measure.h"
#include "image/zscale.h"

namespace kyr {
namespace {

TEST(ZScale, LineFittedAfterRejectingOutliersSpansTheLimits) {
    // 588 samples on the line 1000 + 0.5 i and 12 hot pixels: once the hot pixels are
    // rejected the slope is 0.5, 2 at contrast 0.25; the median is 1149.75 at index 299.5.
    std::vector<double> samples;
    for (int i = 0; i < 12; ++i) samples.push_back(40000 + 100 * i);
    for (int i = 0; i < 588; ++i) samples.push_back(1000 + 0.5 * i);
    const ZScaleLimits z = zscaleLimits(samples);
    EXPECT_DOUBLE_EQ(z.z1, 1000.0);  // 1149.75 - 299 * 2 lies below the lowest sample
    EXPECT_NEAR(z.z2, 1149.75 + 300 * 2, 1e-6);

    // A contrast of 1 spans the fitted line itself.
    const ZScaleLimits wide = zscaleLimits(samples, 1.0);
    EXPECT_NEAR(wide.z1, 1149.75 - 299 * 0.5, 1e-6);
    EXPECT_NEAR(wide.z2, 1149.75 + 300 * 0.5, 1e-6);

    // Too few samples to fit: the extremes.
    const ZScaleLimits few = zscaleLimits({5, 1, 9});
    EXPECT_EQ(few.z1, 1);
    EXPECT_EQ(few.z2, 9);
}

TEST(ZScale, ImageSamplesOnAGridAndGivesBackgroundAndRange) {
    PixelArray img(320, 200);
    for (int r = 1; r <= 200; ++r)
        for (int c = 1; c <= 320; ++c) img.setCell(c, r, PixelArray::toCell(5000));
    // 320 x 200: every 11th column and row, 30 x 19 = 570 samples.
    const auto grid = zscaleSamples(img, 320, 200);
    EXPECT_EQ(grid.size(), 570u);
    EXPECT_EQ(zscaleSamples(img, 20, 10).size(), 200u);
    // A flat image: background at its level, never a zero range.
    const Contrast flat = zscaleContrast(img, 320, 200);
    EXPECT_EQ(flat.background, 5000);
    EXPECT_EQ(flat.range, 1);
    // Sky rising by 1 per column with hot pixels on the grid: z1 at the faintest sample, z2
    // short of the hot pixels.
    for (int r = 1; r <= 200; ++r)
        for (int c = 1; c <= 320; ++c) img.setCell(c, r, PixelArray::toCell(1000 + c));
    for (int c = 1; c <= 320; c += 44) img.setCell(c, 100, PixelArray::toCell(65000));
    const Contrast sky = zscaleContrast(img, 320, 200);
    EXPECT_EQ(sky.background, 1001);
    EXPECT_GT(sky.background + sky.range, 1300);
    EXPECT_LT(sky.background + sky.range, 2000);
    EXPECT_EQ(zscaleContrast(img, 0, 0).range, 128);
}

// A star of Gaussian profile sigma at (x0, y0) on a sky of 1000, integrated over each pixel
// (pixel c spans c - 0.5 .. c + 0.5), with optional deterministic noise.
void addStar(PixelArray& img, double x0, double y0, double sigma, double flux) {
    auto cdf = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
    for (int r = 1; r <= img.rows(); ++r)
        for (int c = 1; c <= img.cols(); ++c) {
            const double fx = cdf((c + 0.5 - x0) / sigma) - cdf((c - 0.5 - x0) / sigma);
            const double fy = cdf((r + 0.5 - y0) / sigma) - cdf((r - 0.5 - y0) / sigma);
            const double v = img.sample(c, r) + flux * fx * fy;
            img.setCell(c, r, PixelArray::toCell(static_cast<std::int32_t>(std::lround(v))));
        }
}

PixelArray sky(int cols, int rows, int noise) {
    PixelArray img(cols, rows);
    std::uint32_t seed = 99;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const int n = noise > 0 ? static_cast<int>((seed >> 8) % (2 * noise + 1)) - noise : 0;
            img.setCell(c, r, PixelArray::toCell(1000 + n));
        }
    return img;
}

TEST(StarMeasure, HalfFluxDiameterOfGaussianStarsOfKnownSize) {
    // A Gaussian's half-flux diameter is 2 sigma sqrt(2 ln 2) = 2.3548 sigma; the pixels
    // blur it twice by a box of variance 1/12 (the pixel's own area, then the measurement
    // spreading each pixel's light over it).
    for (double sigma : {1.2, 2.0, 3.0}) {
        PixelArray img = sky(120, 100, 0);
        addStar(img, 60.3, 50.6, sigma, 300000);
        const StarMeasure m = measureStar(img, 120, 100, 55, 54);  // 5 to 6 pixels off
        ASSERT_TRUE(m.found) << sigma;
        EXPECT_EQ(m.column, 60);
        EXPECT_EQ(m.row, 51);
        EXPECT_EQ(m.peak, img.sample(60, 51));
        EXPECT_DOUBLE_EQ(m.background, 1000.0);
        EXPECT_NEAR(m.hfd, 2.3548 * std::sqrt(sigma * sigma + 2.0 / 12), 0.06) << sigma;
    }
    // On a noisy sky the same star measures the same, within the noise.
    PixelArray noisy = sky(120, 100, 20);
    addStar(noisy, 60.3, 50.6, 2.0, 300000);
    const StarMeasure n = measureStar(noisy, 120, 100, 60, 50);
    ASSERT_TRUE(n.found);
    EXPECT_NEAR(n.background, 1000.0, 3.0);
    EXPECT_NEAR(n.hfd, 2.3548 * std::sqrt(4.0 + 2.0 / 12), 0.2);
}

TEST(StarMeasure, NearestStarWithinEightPixelsAndNothingOverPlainSky) {
    PixelArray img = sky(160, 100, 20);
    addStar(img, 50, 50, 1.5, 200000);
    addStar(img, 64, 50, 2.5, 400000);
    EXPECT_EQ(measureStar(img, 160, 100, 56, 50).column, 50);  // 6 from one, 8 from the other
    EXPECT_EQ(measureStar(img, 160, 100, 58, 50).column, 64);
    EXPECT_FALSE(measureStar(img, 160, 100, 50, 59).found);   // 9 pixels away
    EXPECT_FALSE(measureStar(img, 160, 100, 120, 50).found);  // noise only
    EXPECT_FALSE(measureStar(img, 160, 100, 0, 50).found);
    EXPECT_FALSE(measureStar(img, 160, 100, 161, 50).found);
    // A sharper star has the smaller diameter: what an observer watches while focusing.
    EXPECT_LT(measureStar(img, 160, 100, 50, 50).hfd, measureStar(img, 160, 100, 64, 50).hfd);
}

TEST(StarMeasure, FullWidthAtHalfMaximumOfGaussianStars) {
    // 2.3548 sigma, blurred by the pixel's own area (variance 1/12).
    for (double sigma : {1.2, 2.0, 3.0}) {
        PixelArray img = sky(120, 100, 0);
        addStar(img, 60.3, 50.6, sigma, 300000);
        const StarMeasure m = measureStar(img, 120, 100, 60, 51);
        ASSERT_TRUE(m.found) << sigma;
        const double want = 2.3548 * std::sqrt(sigma * sigma + 1.0 / 12);
        EXPECT_NEAR(m.fwhm, want, 0.01 * want) << sigma;
    }
    PixelArray noisy = sky(120, 100, 20);
    addStar(noisy, 60.3, 50.6, 2.0, 300000);
    EXPECT_NEAR(measureStar(noisy, 120, 100, 60, 50).fwhm, 2.3548 * std::sqrt(4.0 + 1.0 / 12),
                0.2);
    // A lone hot pixel has no core to fit.
    PixelArray hot = sky(60, 60, 0);
    hot.setCell(30, 30, PixelArray::toCell(9000));
    const StarMeasure h = measureStar(hot, 60, 60, 30, 30);
    ASSERT_TRUE(h.found);
    EXPECT_EQ(h.fwhm, 0.0);
}

TEST(StarMeasure, BrightestStarInTheBoxIsFollowedAndSaturationFlagged) {
    PixelArray img = sky(160, 100, 20);
    addStar(img, 50, 50, 1.5, 100000);  // nearer the point but fainter
    addStar(img, 57, 53, 2.0, 400000);
    img.setCell(45, 45, PixelArray::toCell(30000));  // a hot pixel outshines both peaks
    const StarPosition p = brightestStar(img, 160, 100, 49, 49);
    ASSERT_TRUE(p.found);
    EXPECT_EQ(p.column, 57);
    EXPECT_EQ(p.row, 53);
    // The star moved 4 pixels: found again from where it was.
    PixelArray next = sky(160, 100, 20);
    addStar(next, 61, 51, 2.0, 400000);
    const StarPosition q = brightestStar(next, 160, 100, p.column, p.row);
    ASSERT_TRUE(q.found);
    EXPECT_EQ(q.column, 61);
    EXPECT_EQ(q.row, 51);
    // Beyond the box, over plain sky, off the image: nothing.
    EXPECT_FALSE(brightestStar(next, 160, 100, 61, 51 - kStarLockRadius - 10).found);
    EXPECT_FALSE(brightestStar(next, 160, 100, 120, 50).found);
    EXPECT_FALSE(brightestStar(next, 160, 100, 0, 50).found);
    EXPECT_FALSE(brightestStar(next, 160, 100, 61, 101).found);

    // A star clipped at 65532 is saturated; one at half scale is not.
    PixelArray bright = sky(60, 60, 20);
    addStar(bright, 30, 30, 1.5, 600000);  // a core above 30000, taken as clipped there
    for (int r = 1; r <= 60; ++r)
        for (int c = 1; c <= 60; ++c)
            if (bright.sample(c, r) > 30000) bright.setCell(c, r, PixelArray::toCell(65532));
    const StarMeasure b = measureStar(bright, 60, 60, 30, 30);
    ASSERT_TRUE(b.found);
    EXPECT_EQ(b.peak, 65532);
    EXPECT_TRUE(isSaturated(b.peak));
    EXPECT_FALSE(isSaturated(measureStar(img, 160, 100, 57, 53).peak));
    EXPECT_TRUE(isSaturated(65535 - 255));
    EXPECT_FALSE(isSaturated(65535 - 256));
    EXPECT_TRUE(isSaturated(255, 255));  // an 8-bit file's full scale
    EXPECT_FALSE(isSaturated(254, 255));
}

TEST(HfdHistory, KeepsTheLastValuesAndMarksTheBest) {
    HfdHistory h(3);
    EXPECT_FALSE(h.bestIndex());
    for (double v : {5.0, 4.0, 3.0}) EXPECT_TRUE(h.add(v));
    EXPECT_FALSE(h.add(0.0));  // no star measured
    EXPECT_FALSE(h.add(std::nan("")));
    EXPECT_TRUE(h.add(6.0));
    EXPECT_EQ(h.values(), (std::deque<double>{4.0, 3.0, 6.0}));
    EXPECT_EQ(h.bestIndex(), 1u);
    h.add(3.0);  // equal to the best: the earlier stays best
    EXPECT_EQ(h.bestIndex(), 0u);
    h.clear();
    EXPECT_TRUE(h.empty());
}

TEST(Histogram, ExtremesAndCountsOverARange) {
    PixelArray img(4, 2);
    const std::int32_t values[] = {0, 10, 10, 19, 20, 65535, 5, 30};
    for (int i = 0; i < 8; ++i) img.setCell(i % 4 + 1, i / 4 + 1, PixelArray::toCell(values[i]));
    const SampleExtremes e = sampleExtremes(img, 4, 2);
    EXPECT_EQ(e.low, 0);
    EXPECT_EQ(e.high, 65535);
    EXPECT_EQ(sampleHistogram(img, 4, 2, 0, 29, 3), (std::vector<std::uint32_t>{2, 3, 1}));
    EXPECT_EQ(sampleHistogram(img, 4, 2, 0, 65535, 2), (std::vector<std::uint32_t>{7, 1}));
    EXPECT_EQ(sampleExtremes(img, 0, 2).high, 0);
    // Sorted: 0 5 10 10 19 20 30 65535.
    EXPECT_EQ(sampleQuantile(img, 4, 2, 0.5), 10);
    EXPECT_EQ(sampleQuantile(img, 4, 2, 0.6), 19);
    EXPECT_EQ(sampleQuantile(img, 4, 2, 0.875), 30);
    EXPECT_EQ(sampleQuantile(img, 4, 2, 1.0), 65535);
    EXPECT_EQ(sampleQuantile(img, 4, 2, 0.0), 0);
}

}  // namespace
}  // namespace kyr
