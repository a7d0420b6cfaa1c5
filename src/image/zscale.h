#pragma once
// The zscale display limits of astronomical viewers: a line fitted to the sorted samples of
// a regular grid, with iterative sigma rejection; its slope, divided by the contrast, spans
// the limits around the median.

#include <cstdint>
#include <vector>

#include "image/pixel_array.h"
#include "image/render.h"

namespace kyr {

struct ZScaleLimits {
    double z1 = 0;
    double z2 = 0;
};

inline constexpr int kZScaleSamples = 600;
inline constexpr double kZScaleContrast = 0.25;

// The limits of a set of samples (any order; sorted here). An empty set gives 0, 0.
ZScaleLimits zscaleLimits(std::vector<double> samples, double contrast = kZScaleContrast);

// Up to 600 samples of the width x height image on a regular grid (every step-th column of
// every step-th row, starting at 1, 1).
std::vector<double> zscaleSamples(const PixelArray& img, int width, int height);

// background = z1 and range = z2 - z1, rounded; the range is at least 1. An empty image
// gives background 0 and range 128, as autoContrast does.
Contrast zscaleContrast(const PixelArray& img, int width, int height);

}  // namespace kyr
