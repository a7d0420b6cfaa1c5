#include "image/zscale.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"

namespace kyr {

namespace {

constexpr double kRejectSigma = 2.5;
constexpr int kMaxPasses = 5;
constexpr double kMaxRejectFraction = 0.5;
constexpr int kMinPixels = 5;

struct Line {
    double intercept = 0;
    double slope = 0;
};

// Least squares on the good points, x = index.
Line fitLine(const std::vector<double>& y, const std::vector<bool>& bad) {
    double n = 0, sx = 0, sy = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (bad[i]) continue;
        n += 1;
        sx += static_cast<double>(i);
        sy += y[i];
    }
    if (n == 0) return {};
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (bad[i]) continue;
        const double dx = static_cast<double>(i) - mx;
        sxx += dx * dx;
        sxy += dx * (y[i] - my);
    }
    const double slope = sxx > 0 ? sxy / sxx : 0;
    return {my - slope * mx, slope};
}

}  // namespace

ZScaleLimits zscaleLimits(std::vector<double> samples, double contrast) {
    if (samples.empty()) return {};
    std::sort(samples.begin(), samples.end());
    const int npix = static_cast<int>(samples.size());
    ZScaleLimits out{samples.front(), samples.back()};

    const int minPixels = std::max(kMinPixels, static_cast<int>(npix * kMaxRejectFraction));
    // Neighbours of a rejected point go too: a spread of bad values is never half-fitted.
    const int grow = std::max(1, static_cast<int>(npix * 0.01));
    std::vector<bool> bad(static_cast<std::size_t>(npix), false);
    int good = npix;
    int lastGood = npix + 1;
    Line line;
    bool fitted = false;
    for (int pass = 0; pass < kMaxPasses && good < lastGood && good >= minPixels; ++pass) {
        line = fitLine(samples, bad);
        fitted = true;
        std::vector<double> residual(samples.size());
        double sum = 0, sum2 = 0;
        for (int i = 0; i < npix; ++i) {
            const auto k = static_cast<std::size_t>(i);
            residual[k] = samples[k] - (line.intercept + line.slope * i);
            if (!bad[k]) {
                sum += residual[k];
                sum2 += residual[k] * residual[k];
            }
        }
        const double mean = sum / good;
        const double sigma = std::sqrt(std::max(0.0, sum2 / good - mean * mean));
        // Samples are whole numbers: residuals of rounding size are never outliers.
        const double threshold = kRejectSigma * sigma + 1e-6;
        std::vector<bool> rejected = bad;
        for (std::size_t k = 0; k < residual.size(); ++k)
            if (std::abs(residual[k]) > threshold) rejected[k] = true;
        // Grow each rejection over a window of `grow` points centred on it.
        std::vector<bool> grown(rejected.size(), false);
        for (int i = 0; i < npix; ++i) {
            if (!rejected[static_cast<std::size_t>(i)]) continue;
            const int from = std::max(0, i - (grow - 1) / 2);
            const int to = std::min(npix - 1, i + grow / 2);
            for (int j = from; j <= to; ++j) grown[static_cast<std::size_t>(j)] = true;
        }
        bad = std::move(grown);
        lastGood = good;
        good = static_cast<int>(std::count(bad.begin(), bad.end(), false));
    }

    if (fitted && good >= minPixels) {
        const double slope = contrast > 0 ? line.slope / contrast : line.slope;
        const int centre = (npix - 1) / 2;  // 0-based index of the middle sample
        const double median = npix % 2 == 1 ? samples[static_cast<std::size_t>(centre)]
                                            : (samples[static_cast<std::size_t>(centre)] +
                                               samples[static_cast<std::size_t>(centre + 1)]) /
                                                  2;
        out.z1 = std::max(out.z1, median - centre * slope);
        out.z2 = std::min(out.z2, median + (npix - 1 - centre) * slope);
    }
    return out;
}

std::vector<double> zscaleSamples(const PixelArray& img, int width, int height) {
    std::vector<double> out;
    if (width <= 0 || height <= 0) return out;
    const auto cells = static_cast<double>(width) * height;
    int step = std::max(1, static_cast<int>(std::ceil(std::sqrt(cells / kZScaleSamples))));
    auto count = [&](int s) {
        return static_cast<std::int64_t>((width + s - 1) / s) * ((height + s - 1) / s);
    };
    while (count(step) > kZScaleSamples) ++step;
    out.reserve(static_cast<std::size_t>(count(step)));
    for (int r = 1; r <= height; r += step)
        for (int c = 1; c <= width; c += step) out.push_back(img.sample(c, r));
    return out;
}

Contrast zscaleContrast(const PixelArray& img, int width, int height) {
    if (width <= 0 || height <= 0) return {0, 128};
    const ZScaleLimits z = zscaleLimits(zscaleSamples(img, width, height));
    const auto background = static_cast<std::int32_t>(roundHalfEven(z.z1));
    const auto range =
        static_cast<std::int32_t>(std::max<std::int64_t>(1, roundHalfEven(z.z2) - background));
    return {background, range};
}

}  // namespace kyr
