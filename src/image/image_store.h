#pragma once

#include <array>
#include <cstdint>

#include "image/download_state.h"
#include "image/pixel_array.h"

namespace kyr {

// The image on display and its extra data row.
struct ImageStore {
    PixelArray imageData;
    std::int16_t imageWidth = 0;
    std::int16_t imageHeight = 0;
    // Entries 1..320 of the extra data row (index 0 unused), each 0..65535.
    std::array<std::int32_t, kAuxLength + 1> auxData{};
    // Opened from a FITS file that this console did not write: it has no header for a .KYR.
    bool fromForeignFits = false;
    // The highest sample the image's source gives (a star there is saturated).
    std::int32_t saturationLimit = 65535;
};

}  // namespace kyr
