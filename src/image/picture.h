#pragma once
// The picture area's bitmap: 320 x 200 grey levels, top scan line first.

#include <cstdint>
#include <vector>

namespace kyr {

// The pointer shape over the picture area.
enum class MousePointer { Default = 0, Crosshair = 2 };

inline constexpr int kPictureWidth = 320;
inline constexpr int kPictureHeight = 200;

struct Picture {
    int width = kPictureWidth;
    int height = kPictureHeight;
    std::vector<std::uint8_t> grey = std::vector<std::uint8_t>(kPictureWidth * kPictureHeight, 0);

    std::uint8_t at(int x, int y) const {  // 0-based area pixel
        return grey[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x)];
    }
    bool operator==(const Picture&) const = default;
};

}  // namespace kyr
