#include "image/row_decode.h"

#include "common/le16.h"

#include "image/pixel_array.h"

namespace kyr {

namespace {


bool rowFits(int width, std::span<std::int16_t> row) {
    return width >= 1 && row.size() >= static_cast<std::size_t>(width);
}

}  // namespace

std::optional<std::size_t> compressedRowLength(std::span<const std::uint8_t> payload, int width) {
    if (width < 1 || payload.size() < 2) return std::nullopt;
    const std::size_t size = payload.size();
    std::size_t at = 2;
    for (int c = 1; c < width; ++c) {
        if (at >= size) return std::nullopt;
        at += payload[at] < 0x80 ? 1 : 2;
    }
    if (at > size) return std::nullopt;
    return at;
}

bool decodeCompressedRowPayload(std::span<const std::uint8_t> payload, int width,
                                std::span<std::int16_t> row) {
    // First walk the codes only, so that a truncated row leaves the image untouched.
    if (!rowFits(width, row) || !compressedRowLength(payload, width)) return false;
    const std::size_t n = static_cast<std::size_t>(width);

    // The running value is unwrapped: deltas apply to it, the cells get its low 16 bits.
    // Even 32767 two-byte deltas of 8191 stay far inside 32 bits.
    std::int32_t value = readLe16(payload, 0);
    row[0] = PixelArray::toCell(value);
    std::size_t at = 2;
    for (std::size_t c = 1; c < n; ++c) {
        const std::uint8_t b = payload[at];
        if (b < 0x40) {
            value += b;
            at += 1;
        } else if (b < 0x80) {
            value += static_cast<std::int32_t>(b) - 128;
            at += 1;
        } else {
            const std::int32_t word = ((b & 0x3F) << 8) | payload[at + 1];
            if (b < 0xC0) {
                value += word >= 0x2000 ? word - 0x4000 : word;
            } else {
                value = word * 4;
            }
            at += 2;
        }
        row[c] = PixelArray::toCell(value);
    }
    return true;
}

bool decodeRawRowPayload(std::span<const std::uint8_t> payload, int width,
                         std::span<std::int16_t> row) {
    if (!rowFits(width, row)) return false;
    const std::size_t n = static_cast<std::size_t>(width);
    if (payload.size() < 2 * n) return false;
    for (std::size_t c = 0; c < n; ++c) row[c] = PixelArray::toCell(readLe16(payload, 2 * c));
    return true;
}

bool decodeAuxRowPayload(std::span<const std::uint8_t> payload,
                         std::array<std::int32_t, 321>& auxData) {
    if (payload.size() < 2 * 320) return false;
    for (std::size_t i = 1; i <= 320; ++i) auxData[i] = readLe16(payload, 2 * (i - 1));
    return true;
}

}  // namespace kyr
