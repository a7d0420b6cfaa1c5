#pragma once
// The image at its own size as grey levels, for the PNG and bitmap exports.

#include <cstdint>

#include "image/grey_map.h"
#include "image/picture.h"
#include "image/pixel_array.h"

namespace kyr {

// width x height grey levels (top row first) with the window's grey mapping and stretch;
// cells outside the array read as 0. Negative sizes give an empty picture.
Picture imagePicture(const PixelArray& pixels, int width, int height, std::int32_t background,
                     std::int32_t range, Stretch stretch = Stretch::Linear);

}  // namespace kyr
