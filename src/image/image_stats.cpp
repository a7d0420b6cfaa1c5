#include "image/image_stats.h"

#include <algorithm>
#include <cmath>

namespace kyr {

ImageBox clipBox(ImageBox box, int width, int height) {
    if (box.width <= 0 || box.height <= 0 || width <= 0 || height <= 0) return {1, 1, 0, 0};
    const std::int64_t c1 = std::max<std::int64_t>(box.column, 1);
    const std::int64_t r1 = std::max<std::int64_t>(box.row, 1);
    const std::int64_t c2 = std::min<std::int64_t>(std::int64_t{box.column} + box.width - 1, width);
    const std::int64_t r2 = std::min<std::int64_t>(std::int64_t{box.row} + box.height - 1, height);
    if (c2 < c1 || r2 < r1) return {1, 1, 0, 0};
    return {static_cast<int>(c1), static_cast<int>(r1), static_cast<int>(c2 - c1 + 1),
            static_cast<int>(r2 - r1 + 1)};
}

ImageBox boxBetween(int c1, int r1, int c2, int r2) {
    return {std::min(c1, c2), std::min(r1, r2), std::abs(c2 - c1) + 1, std::abs(r2 - r1) + 1};
}

void SampleCounts::addBox(const PixelArray& img, int width, int height, ImageBox box) {
    // Cells beyond the allocation read as 0, as everywhere else in the image code.
    box = clipBox(box, width, height);
    for (int r = box.row; r < box.row + box.height; ++r) {
        const auto cells = img.row(r);
        for (int c = box.column; c < box.column + box.width; ++c) {
            const std::size_t i = static_cast<std::size_t>(c - 1);
            ++counts_[i < cells.size() ? static_cast<std::uint16_t>(cells[i]) : 0];
        }
        total_ += box.width;
    }
}

std::int32_t SampleCounts::nth(std::int64_t k) const {
    if (k < 0 || k >= total_) return 0;
    std::int64_t sum = 0;
    for (std::int32_t s = 0; s < 65536; ++s) {
        sum += counts_[static_cast<std::size_t>(s)];
        if (sum > k) return s;
    }
    return 65535;
}

double SampleCounts::median() const {
    if (total_ == 0) return 0;
    return (static_cast<double>(nth((total_ - 1) / 2)) + nth(total_ / 2)) / 2;
}

std::int32_t SampleCounts::quantile(double fraction) const {
    if (total_ == 0) return 0;
    const double wanted = std::clamp(fraction, 0.0, 1.0) * static_cast<double>(total_);
    std::int64_t sum = 0;
    for (std::int32_t s = 0; s < 65536; ++s) {
        sum += counts_[static_cast<std::size_t>(s)];
        if (sum > 0 && static_cast<double>(sum) >= wanted) return s;
    }
    return 65535;
}

double SampleCounts::medianDeviation(double centre) const {
    if (total_ == 0 || !std::isfinite(centre)) return 0;
    // Bins taken in order of their distance from the centre, outwards on both sides.
    const std::int64_t lowMiddle = (total_ - 1) / 2, highMiddle = total_ / 2;
    std::int32_t left = static_cast<std::int32_t>(std::clamp(std::floor(centre), -1.0, 65535.0));
    std::int32_t right = left + 1;
    std::int64_t seen = 0;
    double low = 0;
    while (left >= 0 || right <= 65535) {
        const bool takeLeft =
            left >= 0 && (right > 65535 || centre - left <= right - centre);
        const std::int32_t s = takeLeft ? left : right;
        takeLeft ? --left : ++right;
        const std::uint32_t n = counts_[static_cast<std::size_t>(s)];
        if (n == 0) continue;
        const double d = std::abs(s - centre);
        if (seen <= lowMiddle && lowMiddle < seen + n) low = d;
        if (highMiddle < seen + n) return (low + d) / 2;
        seen += n;
    }
    return low;
}

ImageStats imageStats(const PixelArray& img, int width, int height) {
    return imageStats(img, width, height, {1, 1, width, height});
}

ImageStats imageStats(const PixelArray& img, int width, int height, ImageBox box) {
    SampleCounts counts;
    counts.addBox(img, width, height, box);
    ImageStats st;
    st.count = counts.total();
    if (st.count == 0) return st;
    std::int64_t sum = 0;
    for (std::int32_t s = 0; s < 65536; ++s) sum += std::int64_t{counts[s]} * s;
    st.min = counts.nth(0);
    st.max = counts.nth(st.count - 1);
    st.mean = static_cast<double>(sum) / static_cast<double>(st.count);
    st.median = counts.median();
    // About the exact mean, bin by bin: no cancellation on a flat image.
    double squares = 0;
    for (std::int32_t s = st.min; s <= st.max; ++s) {
        const double d = s - st.mean;
        squares += counts[s] * d * d;
    }
    st.sigma = st.count > 1 ? std::sqrt(squares / static_cast<double>(st.count - 1)) : 0;
    return st;
}

SkyLevel skyLevel(const SampleCounts& counts) {
    const double median = counts.median();
    return {median, 1.4826 * counts.medianDeviation(median)};
}

}  // namespace kyr
