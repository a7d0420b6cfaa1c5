#include "files/image_export.h"

#include "image/render.h"

namespace kyr {

Picture imagePicture(const PixelArray& pixels, int width, int height, std::int32_t background,
                     std::int32_t range, Stretch stretch) {
    Picture out;
    out.width = width > 0 ? width : 0;
    out.height = height > 0 ? height : 0;
    out.grey.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height), 0);
    GreyLut lut;
    lut.update(background, range, stretch);
    std::size_t i = 0;
    for (int r = 1; r <= out.height; ++r)
        for (int c = 1; c <= out.width; ++c) out.grey[i++] = lut[pixels.sample(c, r)];
    return out;
}

}  // namespace kyr
