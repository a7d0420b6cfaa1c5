#include "files/bmp.h"

namespace kyr {

namespace {
void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}
void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}
}  // namespace

std::vector<std::uint8_t> encodeBmp(const Picture& picture) {
    constexpr std::size_t kHeaders = 14 + 40;
    const std::size_t w = static_cast<std::size_t>(picture.width > 0 ? picture.width : 0);
    const std::size_t h = static_cast<std::size_t>(picture.height > 0 ? picture.height : 0);
    const std::size_t stride = (w * 3 + 3) / 4 * 4;
    const std::size_t imageBytes = stride * h;

    std::vector<std::uint8_t> out(kHeaders + imageBytes, 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<std::uint32_t>(out.size()));
    put32(out, 10, kHeaders);  // offset of the pixel data
    put32(out, 14, 40);        // info header size
    put32(out, 18, static_cast<std::uint32_t>(w));
    put32(out, 22, static_cast<std::uint32_t>(h));  // positive: bottom-up
    put16(out, 26, 1);                              // planes
    put16(out, 28, 24);                             // bits per pixel
    put32(out, 30, 0);                              // no compression
    put32(out, 34, static_cast<std::uint32_t>(imageBytes));
    put32(out, 38, 3780);  // 96 dots per inch
    put32(out, 42, 3780);

    for (std::size_t y = 0; y < h; ++y) {
        std::uint8_t* line = out.data() + kHeaders + (h - 1 - y) * stride;
        for (std::size_t x = 0; x < w; ++x) {
            const std::size_t i = y * w + x;
            const std::uint8_t g = i < picture.grey.size() ? picture.grey[i] : 0;
            line[3 * x] = g;
            line[3 * x + 1] = g;
            line[3 * x + 2] = g;
        }
    }
    return out;
}

}  // namespace kyr
