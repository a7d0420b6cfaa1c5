#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kyr {

inline constexpr int kFirmwareSize = 98304;
inline constexpr int kFirmwarePages = 192;
inline constexpr int kPageSize = 512;

// The phases of the upload, as the device's acknowledges step it.
enum class UploadState : std::int16_t {
    Idle = 0,       // normal operation: an acknowledge is a key's or the link's
    StartSent = 1,  // the start packet awaits its acknowledge
    Pages = 2,      // a page awaits its acknowledge
    FinalSent = 3,  // the final block awaits its acknowledge
};

// The firmware upload's stop-and-wait state.
struct FirmwareUpload {
    std::vector<std::uint8_t> firmwareImage;     // the whole file, 98304 bytes
    std::array<std::uint8_t, 514> pageBuffer{};  // payload of the page or final packet
    std::int32_t uploadPage = 0;
    UploadState uploadState = UploadState::Idle;
};

}  // namespace kyr
