#pragma once
// Flat-field correction: divides an image by a flat frame shifted and summed by the track
// offsets of its snapshots, scales to the flat's level at the centre, and crops to the
// area every snapshot covered.

#include <cstdint>

#include "image/track_offsets.h"
#include "image/pixel_array.h"

namespace kyr {

// The flat-field frame and its shifted and summed form.
struct FlatField {
    PixelArray flatData;
    std::int16_t flatWidth = 0;
    std::int16_t flatHeight = 0;
    bool showFlat = false;
    bool loaded = false;  // the last load of a flat-field file succeeded
};

struct FlatFieldResult {
    bool ok = false;  // false: the snapshots share no common area; the image is untouched
    int xMin = 1, yMin = 1, xMax = 0, yMax = 0;  // the crop box in the original image
    std::int32_t meanLevel = 0;                  // the summed flat's mean in the centre window
    int width() const { return xMax - xMin + 1; }
    int height() const { return yMax - yMin + 1; }
};

// One output pixel: (sample + pedestal - 100) x mean / flatSum + 100 in 32-bit float steps,
// clamped to 1..65534 and rounded halves to even; 100 where the summed flat is not positive.
std::int32_t flatCorrectedSample(std::int32_t sample, std::int32_t pedestal, std::int32_t meanLevel,
                                 std::int32_t flatSum);

// Corrects `image` (width x height) in place by `flat` (the same size) and moves the result so
// that the crop box's corner becomes (1, 1). Cells outside the new size keep old values.
FlatFieldResult correctFlatField(PixelArray& image, int width, int height, const PixelArray& flat,
                                 std::int32_t pedestal, const TrackOffsets& track);

}  // namespace kyr
