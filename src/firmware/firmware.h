#pragma once
// Checking a firmware file and packing it into upload packets. No I/O here.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/upload_state.h"

namespace kyr {

// Bytes 0..98299 are covered by the CRC; 98300..98301 are not; 98302..98303 hold the stored
// CRC, high byte first.
inline constexpr int kFirmwareCrcCovered = 98300;
inline constexpr int kFirmwareCrcHighAt = 98302;
inline constexpr int kFirmwareCrcLowAt = 98303;
inline constexpr int kPagePayloadSize = 514;
inline constexpr int kFinalPayloadSize = 4;

// The 256-entry table of the CRC-16 with polynomial 0x1021 (MSB first).
const std::array<std::uint16_t, 256>& firmwareCrcTable();

// CRC-16: polynomial 0x1021, initial 0xFFFF, MSB first, no reflection, no final XOR
// ("123456789" gives 0x29B1). Computed over all of `bytes`.
std::uint16_t firmwareCrc(std::span<const std::uint8_t> bytes);

// The CRC over the covered part of a firmware image (or over all of it when shorter).
std::uint16_t firmwareImageCrc(const std::vector<std::uint8_t>& image);

// The CRC stored in the file: byte 98302 x 256 + byte 98303; 0 for an image too short to hold it.
std::uint16_t storedFirmwareCrc(const std::vector<std::uint8_t>& image);

// A firmware path must contain ".bin" or ".BIN" (exact case, anywhere).
bool firmwareNameAccepted(const std::string& path);

// Payload of the page packet: 64 + page, 0, then the page's 512 bytes with each pair swapped.
// Bytes beyond the end of a short image read as 0.
std::array<std::uint8_t, kPagePayloadSize> pagePayload(const std::vector<std::uint8_t>& image,
                                                       int page);

// Payload of the final packet: 32, 0, stored CRC low byte (98303), high byte (98302).
std::array<std::uint8_t, kFinalPayloadSize> finalPayload(const std::vector<std::uint8_t>& image);

}  // namespace kyr
