#pragma once
// The packet frame used in both directions:
//   165, type, length (LE16), header checksum (LE16), payload, payload checksum (LE16)
// Both checksums are plain byte sums modulo 65536; the payload checksum is absent for L = 0.

#include <cstdint>
#include <span>
#include <vector>

#include "common/le16.h"

namespace kyr {

inline constexpr std::uint8_t kStartByte = 165;
inline constexpr int kHeaderSize = 6;
inline constexpr int kHeaderOnlyPacket = kHeaderSize;  // a packet without payload
inline constexpr int kRxBufferSize = 1024;
inline constexpr int kMaxPayload = kRxBufferSize - 8;  // 1016: the largest packet that can ever fit

std::uint16_t byteSum16(std::span<const std::uint8_t> bytes);

// Builds a whole packet: 6 bytes for an empty payload, L + 8 otherwise, then
// `trailingZeros` extra zero bytes (the header request is written 4 bytes longer).
std::vector<std::uint8_t> buildPacket(std::uint8_t type, std::span<const std::uint8_t> payload,
                                      int trailingZeros = 0);


}  // namespace kyr
