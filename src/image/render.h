#pragma once
// Grey mapping of samples, the 320 x 200 picture, and the contrast settings.

#include <cstdint>
#include <optional>
#include <string>

#include "image/picture.h"
#include "image/pixel_array.h"

namespace kyr {

class GreyLut;

// The grey step of one drawing: range / 256 rounded to a 32-bit float.
float greyStep(std::int32_t range);

// (sample - background) / step, halves to even, clamped to 0..255. A zero step acts as a
// hard threshold: samples above the background are white, the rest black.
std::uint8_t greyLevel(std::int32_t sample, std::int32_t background, float step);

struct RenderResult {
    Picture picture;
    std::int16_t displayOffsetX = 0;
    std::int16_t displayOffsetY = 0;
};

// Draws width x height cells of src centred in the picture area, one image pixel per area
// pixel; the rest of the area is black. Pixels that fall outside the area are skipped;
// cells outside the array read as 0.
RenderResult renderPicture(const PixelArray& src, int width, int height, std::int32_t background,
                           std::int32_t range);
// The same with the greys of a table (any stretch).
RenderResult renderPicture(const PixelArray& src, int width, int height, const GreyLut& lut);

// The largest picture area: an opened FITS image up to this size each way is shown whole.
inline constexpr int kMaxPictureSide = 8192;
// The area that shows a width x height image whole: 320 x 200, or the image's own size
// where it is larger (up to what the array holds and kMaxPictureSide).
Picture pictureAreaFor(const PixelArray& src, int width, int height);
// renderPicture into that area.
RenderResult renderWholePicture(const PixelArray& src, int width, int height, const GreyLut& lut);

// The picture-area offsets of a width x height image, as renderPicture sets them.
std::int16_t displayOffset(int area, int size);

// Draws image rows rFirst..rLast (1-based) into a picture as renderPicture places them,
// leaving every other area pixel as it is (an image that arrives row by row).
void drawPictureRows(Picture& picture, const PixelArray& src, int width, int height, int rFirst,
                     int rLast, const GreyLut& lut);

struct Contrast {
    std::int32_t background = 0;
    std::int32_t range = 0;
};

// Background and range from the image histogram (1025 bins of 64 samples). An empty image
// gives background 0 and range 128.
Contrast autoContrast(const PixelArray& img, int width, int height);

// The status text after a drawing: "Background = 100" CR LF "Range = 512".
std::string contrastStatusText(std::int32_t background, std::int32_t range);

// A whole number with optional surrounding spaces and a sign; nullopt for anything else or
// for a value outside 32 bits.
std::optional<std::int32_t> parseContrastEntry(const std::string& text);

}  // namespace kyr
