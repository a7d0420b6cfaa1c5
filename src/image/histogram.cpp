#include "image/histogram.h"

#include <algorithm>

namespace kyr {

SampleExtremes sampleExtremes(const PixelArray& img, int width, int height) {
    const int cols = std::min(width, img.cols());
    const int rows = std::min(height, img.rows());
    if (cols <= 0 || rows <= 0) return {};
    SampleExtremes e{65535, 0};
    for (int r = 1; r <= rows; ++r)
        for (std::int16_t v : img.row(r).first(static_cast<std::size_t>(cols))) {
            const std::int32_t s = PixelArray::toSample(v);
            e.low = std::min(e.low, s);
            e.high = std::max(e.high, s);
        }
    return e;
}

std::int32_t sampleQuantile(const PixelArray& img, int width, int height, double fraction) {
    const int cols = std::min(width, img.cols());
    const int rows = std::min(height, img.rows());
    if (cols <= 0 || rows <= 0) return 0;
    std::vector<std::uint32_t> counts(65536, 0);
    for (int r = 1; r <= rows; ++r)
        for (std::int16_t v : img.row(r).first(static_cast<std::size_t>(cols)))
            ++counts[static_cast<std::uint16_t>(v)];
    const double n = static_cast<double>(cols) * rows;
    const double wanted = std::clamp(fraction, 0.0, 1.0) * n;
    double sum = 0;
    for (std::int32_t s = 0; s < 65536; ++s) {
        sum += counts[static_cast<std::size_t>(s)];
        if (sum >= wanted && sum > 0) return s;
    }
    return 65535;
}

std::vector<std::uint32_t> sampleHistogram(const PixelArray& img, int width, int height,
                                           std::int32_t low, std::int32_t high, int bins) {
    std::vector<std::uint32_t> counts(static_cast<std::size_t>(std::max(bins, 0)), 0);
    if (bins <= 0 || high < low) return counts;
    const std::int64_t span = static_cast<std::int64_t>(high) - low + 1;
    const int cols = std::min(width, img.cols());
    const int rows = std::min(height, img.rows());
    for (int r = 1; r <= rows; ++r)
        for (std::int16_t v : img.row(r).first(static_cast<std::size_t>(std::max(cols, 0)))) {
            const std::int32_t s = PixelArray::toSample(v);
            if (s < low || s > high) continue;
            ++counts[static_cast<std::size_t>((s - low) * static_cast<std::int64_t>(bins) / span)];
        }
    return counts;
}

}  // namespace kyr
