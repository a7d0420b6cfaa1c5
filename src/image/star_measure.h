#pragma once
// A focusing aid: the star nearest the pointer, its peak, the sky around it and its
// half-flux diameter (the diameter of the circle that holds half of the star's light).

#include <cstdint>

#include "image/pixel_array.h"

namespace kyr {

inline constexpr int kStarSearchRadius = 8;  // the peak is looked for this near the pointer
inline constexpr int kStarFluxRadius = 10;   // the star's light is summed within this
inline constexpr int kSkyInnerRadius = 12;   // the sky annulus, clear of the star
inline constexpr int kSkyOuterRadius = 16;

struct StarMeasure {
    bool found = false;
    int column = 0;  // the peak pixel, 1-based
    int row = 0;
    std::int32_t peak = 0;  // its sample
    double background = 0;  // median of the sky annulus around the peak
    double hfd = 0;         // half-flux diameter in pixels
};

// The nearest local maximum within 8 pixels of (column, row) that stands clear of the sky
// noise; none over plain sky or outside the width x height image.
StarMeasure measureStar(const PixelArray& img, int width, int height, int column, int row);

}  // namespace kyr
