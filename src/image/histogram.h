#pragma once
// Sample counts of an image for the contrast dialog's histogram.

#include <cstdint>
#include <vector>

#include "image/pixel_array.h"

namespace kyr {

struct SampleExtremes {
    std::int32_t low = 0;
    std::int32_t high = 0;
};

// The lowest and highest sample of the width x height image (0, 0 when it is empty).
SampleExtremes sampleExtremes(const PixelArray& img, int width, int height);

// The smallest sample with at least `fraction` (0..1) of the image's samples at or below it;
// 0 for an empty image.
std::int32_t sampleQuantile(const PixelArray& img, int width, int height, double fraction);

// `bins` counts over the samples low..high (bin k holds low + k * (high - low + 1) / bins and
// up); samples outside are not counted.
std::vector<std::uint32_t> sampleHistogram(const PixelArray& img, int width, int height,
                                           std::int32_t low, std::int32_t high, int bins);

}  // namespace kyr
