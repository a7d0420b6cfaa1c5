#pragma once
// Row payloads of image packets (types 5 and 7) decoded into pixel cells.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kyr {

// A compressed row: the first pixel (LE16) then exactly width - 1 codes. Returns false,
// leaving `row` untouched, when a code would read past `payload`, when width < 1 or when
// `row` holds fewer than width cells.
bool decodeCompressedRowPayload(std::span<const std::uint8_t> payload, int width,
                                std::span<std::int16_t> row);

// The bytes a compressed row of `width` pixels takes at the front of `payload` (the first
// pixel and width - 1 codes); nullopt when they do not fit or width < 1.
std::optional<std::size_t> compressedRowLength(std::span<const std::uint8_t> payload, int width);

// An uncompressed row: width LE16 samples. False (row untouched) when the payload holds
// fewer than 2 * width bytes or `row` is too short; extra bytes are ignored.
bool decodeRawRowPayload(std::span<const std::uint8_t> payload, int width,
                         std::span<std::int16_t> row);

// The extra data row (device row 200): 320 LE16 samples into entries 1..320 as 0..65535.
// False (auxData untouched) when the payload holds fewer than 640 bytes.
bool decodeAuxRowPayload(std::span<const std::uint8_t> payload,
                         std::array<std::int32_t, 321>& auxData);

}  // namespace kyr
