#include "image/stretch_contrast.h"

#include <algorithm>
#include <cmath>

#include "common/format.h"
#include "image/image_stats.h"

namespace kyr {

namespace {

// The t at which the (increasing) curve reaches `grey`.
double curveInverse(double grey, Stretch stretch) {
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (stretchCurve(mid, stretch) < grey ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

}  // namespace

Contrast autoContrastFor(const PixelArray& img, int width, int height, Stretch stretch) {
    if (stretch == Stretch::Linear) return autoContrast(img, width, height);
    if (width <= 0 || height <= 0) return {0, 128};

    SampleCounts counts;
    counts.addBox(img, width, height, {1, 1, width, height});
    const SkyLevel sky = skyLevel(counts);
    const double white = counts.quantile(kStretchWhiteFraction);

    // Sky at t through the curve: median - black = t (white - black).
    const double t = curveInverse(kStretchSkyGrey, stretch);
    double black = (sky.median - t * white) / (1 - t);
    black = std::clamp(black, sky.median - kStretchSkySpread * sky.sigma, sky.median);
    // Up to a whole sample: never below the limit just chosen.
    const auto background = static_cast<std::int32_t>(std::max(0.0, std::ceil(black)));
    const std::int64_t range =
        std::max<std::int64_t>(kStretchMinRange, roundHalfEven(white) - background);
    return {background, static_cast<std::int32_t>(range)};
}

}  // namespace kyr
