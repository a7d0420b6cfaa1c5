#pragma once
// Auto contrast that fits the display stretch.

#include "image/grey_map.h"
#include "image/pixel_array.h"
#include "image/render.h"

namespace kyr {

inline constexpr double kStretchWhiteFraction = 0.995;  // white at this quantile
inline constexpr double kStretchSkyGrey = 0.1;          // the sky's grey, of white
inline constexpr double kStretchSkySpread = 1.0;        // black at most this many sigma below
inline constexpr std::int32_t kStretchMinRange = 16;

// Background and range for the width x height image shown with `stretch`.
// Linear: autoContrast, unchanged. The other curves lift faint light, so autoContrast's black
// point (well below the sky) turns the sky grey; for them white is the 99.5 % quantile and
// black sits just under the sky: where the sky's median comes out at a tenth of white through
// the curve, but never more than one sky sigma (1.4826 MAD) below the median, so the sky stays
// dark with its noise still visible. The range is at least 16.
Contrast autoContrastFor(const PixelArray& img, int width, int height, Stretch stretch);

}  // namespace kyr
