#include "image/flat_field.h"

#include <algorithm>
#include <vector>

#include "common/format.h"

namespace kyr {

std::int32_t flatCorrectedSample(std::int32_t sample, std::int32_t pedestal, std::int32_t meanLevel,
                                 std::int32_t flatSum) {
    float v = 100.0f;
    if (flatSum > 0) {
        const float product = static_cast<float>(sample + pedestal - 100) * static_cast<float>(meanLevel);
        const float quotient = product / static_cast<float>(flatSum);
        v = quotient + 100.0f;
    }
    if (v > 65534.0f) v = 65534.0f;
    if (v < 1.0f) v = 1.0f;  // also catches NaN-free negative results
    return static_cast<std::int32_t>(roundHalfEven(v));
}

FlatFieldResult correctFlatField(PixelArray& image, int width, int height, const PixelArray& flat,
                                 std::int32_t pedestal, const TrackOffsets& track) {
    FlatFieldResult r;
    if (width < 1 || height < 1) return r;
    const auto at = [width](int x, int y) {
        return static_cast<std::size_t>(y - 1) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x - 1);
    };
    // The shifted and summed flat, 32-bit cells.
    std::vector<std::int32_t> flatSum(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 1; y <= height; ++y)
        for (int x = 1; x <= width; ++x) flatSum[at(x, y)] = flat.cell(x, y) - 100;

    int xMin = 1, yMin = 1, xMax = width, yMax = height;
    const int snapshots = std::min<int>(track.trackSnapshotCount, kMaxTrackSnapshots);
    for (int j = 2; j <= snapshots; ++j) {
        const int dx = track.trackOffsetX[static_cast<std::size_t>(j)];
        const int dy = track.trackOffsetY[static_cast<std::size_t>(j)];
        const int xStart = std::max(1, dx + 1), xEnd = std::min(width, width + dx);
        const int yStart = std::max(1, dy + 1), yEnd = std::min(height, height + dy);
        xMin = std::max(xMin, xStart);
        yMin = std::max(yMin, yStart);
        xMax = std::min(xMax, xEnd);
        yMax = std::min(yMax, yEnd);
        for (int y = yStart; y <= yEnd; ++y)
            for (int x = xStart; x <= xEnd; ++x) flatSum[at(x, y)] += flat.cell(x - dx, y - dy) - 100;
    }
    if (xMin > xMax || yMin > yMax) return r;

    // Mean level in the 11 x 11 window at the centre; for images smaller than the window only
    // the cells inside the image are averaged.
    const int cx = width / 2, cy = height / 2;
    std::int64_t sum = 0, count = 0;
    for (int y = std::max(1, cy - 5); y <= std::min(height, cy + 5); ++y)
        for (int x = std::max(1, cx - 5); x <= std::min(width, cx + 5); ++x) {
            sum += flatSum[at(x, y)];
            ++count;
        }
    const std::int32_t mean = count > 0 ? static_cast<std::int32_t>(sum / count) : 0;

    // Row by row, left to right: no write reaches a cell still to be read.
    for (int y = yMin; y <= yMax; ++y)
        for (int x = xMin; x <= xMax; ++x) {
            const std::int32_t n =
                flatCorrectedSample(image.sample(x, y), pedestal, mean, flatSum[at(x, y)]);
            image.setCell(x - xMin + 1, y - yMin + 1, PixelArray::toCell(n));
        }
    r.ok = true;
    r.xMin = xMin;
    r.yMin = yMin;
    r.xMax = xMax;
    r.yMax = yMax;
    r.meanLevel = mean;
    return r;
}

}  // namespace kyr
