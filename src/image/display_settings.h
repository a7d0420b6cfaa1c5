#pragma once

#include <cstdint>

#include "image/grey_map.h"
#include "image/picture.h"

namespace kyr {

// Grey mapping and what the picture area shows.
struct DisplaySettings {
    std::int32_t background = 0;        // sample shown black
    std::int32_t range = 0;             // span from black to white
    Stretch stretch = Stretch::Linear;  // display only: samples and files never change
    GreyLut lut;                        // greys of the last drawing's settings
    bool imageShown = false;
    std::int16_t displayOffsetX = 0;
    std::int16_t displayOffsetY = 0;
    Picture picture;  // the bitmap last drawn (kept for the bitmap export)
};

}  // namespace kyr
