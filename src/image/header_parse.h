#pragma once
// The image header payload (packet type 4): checks, decoding and the "Image Information" panel.

#include <cstdint>
#include <span>
#include <string>

#include "image/image_header.h"

namespace kyr {

inline constexpr std::size_t kHeaderPayloadMin = 38;
inline constexpr std::size_t kHeaderPayloadWithFilter = 44;

// "" when the header can be accepted, else the message for the status line.
std::string imageHeaderProblem(std::span<const std::uint8_t> payload);

// Decodes the payload into hdr, background and range in the device's order: the flag word
// first, then the height; a height of 0 stops there (nothing else changes) and gives false.
// A payload shorter than 38 bytes changes nothing and gives false.
bool parseImageHeaderPayload(std::span<const std::uint8_t> payload, bool hasFilterByte,
                             ImageHeader& hdr, std::int32_t& background, std::int32_t& range);

// The 20 lines of the panel joined by CR LF, without a line end after "End".
std::string imageInformationPanel(const ImageHeader& hdr, std::int32_t background,
                                  std::int32_t range);

}  // namespace kyr
