#pragma once
// A focusing aid: the star nearest the pointer, its peak, the sky around it, its half-flux
// diameter (the diameter of the circle that holds half of the star's light) and its full width
// at half maximum; the brightest star near a point, for a star locked on from image to image.

#include <cstdint>

#include "image/pixel_array.h"

namespace kyr {

inline constexpr int kStarSearchRadius = 8;  // the peak is looked for this near the pointer
inline constexpr int kStarFluxRadius = 10;   // the star's light is summed within this
inline constexpr int kSkyInnerRadius = 12;   // the sky annulus, clear of the star
inline constexpr int kSkyOuterRadius = 16;
inline constexpr int kStarLockRadius = 10;  // a locked star is looked for this far each way

struct StarMeasure {
    bool found = false;
    int column = 0;  // the peak pixel, 1-based
    int row = 0;
    std::int32_t peak = 0;  // its sample
    double background = 0;  // median of the sky annulus around the peak
    double hfd = 0;         // half-flux diameter in pixels
    double fwhm = 0;        // full width at half maximum in pixels; 0 when the core is too small
};

// The nearest local maximum within 8 pixels of (column, row) that stands clear of the sky
// noise; none over plain sky or outside the width x height image.
StarMeasure measureStar(const PixelArray& img, int width, int height, int column, int row);

struct StarPosition {
    bool found = false;
    int column = 0;  // the star's brightest pixel, 1-based
    int row = 0;
};

// The brightest star in the square of `radius` pixels each way around (column, row), clipped
// to the image: the pixel whose 3 x 3 neighbourhood holds the most light (a lone hot pixel
// loses to a star), moved to the brightest pixel of that neighbourhood. None when nothing in
// the square stands clear of the sky noise there, or the point is off the image.
StarPosition brightestStar(const PixelArray& img, int width, int height, int column, int row,
                           int radius = kStarLockRadius);

// The highest sample the camera can give, and a peak counted as saturated: at the limit or
// within 1/256 of it (a star clipped a little below full scale).
inline constexpr std::int32_t kFullScale = 65535;
inline bool isSaturated(std::int32_t peak, std::int32_t limit = kFullScale) {
    return limit > 0 && peak >= limit - limit / 256;
}

}  // namespace kyr
