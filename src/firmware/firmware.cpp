#include "firmware/firmware.h"

#include <algorithm>
#include <cstddef>

namespace kyr {

namespace {
constexpr std::array<std::uint16_t, 256> makeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (value & 0x8000u) != 0;
            value = (value << 1) & 0xFFFFu;
            if (carry) value ^= 0x1021u;
        }
        table[i] = static_cast<std::uint16_t>(value);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = makeCrcTable();

std::uint8_t byteAt(const std::vector<std::uint8_t>& image, std::size_t index) {
    return index < image.size() ? image[index] : std::uint8_t{0};
}
}  // namespace

const std::array<std::uint16_t, 256>& firmwareCrcTable() { return kCrcTable; }

std::uint16_t firmwareCrc(std::span<const std::uint8_t> bytes) {
    unsigned crc = 0xFFFF;
    for (std::uint8_t b : bytes) crc = ((crc << 8) ^ kCrcTable[(b ^ (crc >> 8)) & 0xFFu]) & 0xFFFFu;
    return static_cast<std::uint16_t>(crc);
}

std::uint16_t firmwareImageCrc(const std::vector<std::uint8_t>& image) {
    const std::span<const std::uint8_t> all(image);
    return firmwareCrc(all.first(std::min(all.size(), std::size_t{kFirmwareCrcCovered})));
}

std::uint16_t storedFirmwareCrc(const std::vector<std::uint8_t>& image) {
    if (image.size() <= static_cast<std::size_t>(kFirmwareCrcLowAt)) return 0;
    return static_cast<std::uint16_t>(image[kFirmwareCrcHighAt] << 8 | image[kFirmwareCrcLowAt]);
}

bool firmwareNameAccepted(const std::string& path) {
    return path.find(".bin") != std::string::npos || path.find(".BIN") != std::string::npos;
}

std::array<std::uint8_t, kPagePayloadSize> pagePayload(const std::vector<std::uint8_t>& image,
                                                       int page) {
    std::array<std::uint8_t, kPagePayloadSize> out{};
    out[0] = static_cast<std::uint8_t>((64 + page) & 0xFF);
    out[1] = 0;
    if (page < 0) return out;
    const std::size_t base = static_cast<std::size_t>(page) * kPageSize;
    for (std::size_t k = 0; k < kPageSize / 2; ++k) {
        out[2 + 2 * k] = byteAt(image, base + 2 * k + 1);
        out[3 + 2 * k] = byteAt(image, base + 2 * k);
    }
    return out;
}

std::array<std::uint8_t, kFinalPayloadSize> finalPayload(const std::vector<std::uint8_t>& image) {
    return {32, 0, byteAt(image, kFirmwareCrcLowAt), byteAt(image, kFirmwareCrcHighAt)};
}

}  // namespace kyr
