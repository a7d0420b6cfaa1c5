#pragma once
// The pixel readout under the mouse over the picture area.

#include <cstdint>
#include <string>

#include "image/picture.h"
#include "image/pixel_array.h"

namespace kyr {

struct Readout {
    bool changed = false;  // false: leave pointer and status line alone
    MousePointer pointer = MousePointer::Default;
    std::string text;  // empty: leave the status line alone
    // The pixel read (with the cross-hair only).
    int column = 0;
    int row = 0;
    std::int32_t sample = 0;
};

// x, y in area pixels; the offsets place image column 0 and row 0 in the area.
Readout pixelReadout(float x, float y, std::int16_t displayOffsetX, std::int16_t displayOffsetY,
                     const PixelArray& imageData, int imageWidth, int imageHeight, bool imageShown);

}  // namespace kyr
