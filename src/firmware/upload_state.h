#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kyr {

inline constexpr int kFirmwareSize = 98304;
inline constexpr int kFirmwarePages = 192;
inline constexpr int kPageSize = 512;

// The firmware upload's stop-and-wait state.
struct FirmwareUpload {
    std::vector<std::uint8_t> firmwareImage;     // the whole file, 98304 bytes
    std::array<std::uint8_t, 514> pageBuffer{};  // payload of the page or final packet
    std::int32_t uploadPage = 0;
    std::int16_t uploadState = 0;  // 0 idle, 1 start sent, 2 pages, 3 final sent
};

}  // namespace kyr
