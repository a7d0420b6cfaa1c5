#include "image/readout.h"

#include "common/format.h"

namespace kyr {

namespace {

// Nearest 16-bit integer, halves to even; far-off (or NaN) positions stay in 16 bits.
int toPixelIndex(float v, std::int16_t offset) {
    const float diff = v - static_cast<float>(offset);
    return static_cast<int>(roundHalfEvenClamped(diff, -32768, 32767));
}

}  // namespace

Readout pixelReadout(float x, float y, std::int16_t displayOffsetX, std::int16_t displayOffsetY,
                     const PixelArray& imageData, int imageWidth, int imageHeight,
                     bool imageShown) {
    if (!imageShown) return {};
    const int px = toPixelIndex(x, displayOffsetX);
    const int py = toPixelIndex(y, displayOffsetY);
    if (px < 1 || py < 1 || px > imageWidth || py > imageHeight) {
        return {true, MousePointer::Default, ""};
    }
    const std::int32_t sample = imageData.sample(px, py);
    return {
        true,
        MousePointer::Crosshair,
        "Pixel position (" + signedText(px) + ", " + signedText(py) + ") = " + signedText(sample),
        px,
        py,
        sample};
}

}  // namespace kyr
