#pragma once
// The picture area as a Windows bitmap file.

#include <cstdint>
#include <vector>

#include "image/picture.h"

namespace kyr {

// An uncompressed 24-bit BMP (file header, 40-byte info header, bottom-up rows padded to
// 4 bytes) of the whole grey picture.
std::vector<std::uint8_t> encodeBmp(const Picture& picture);

}  // namespace kyr
