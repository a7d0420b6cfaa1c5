#pragma once
// Little-endian 16-bit values, as the line and the image file carry them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kyr {

inline std::uint8_t lo(unsigned v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
inline std::uint8_t hi(unsigned v) {
    return static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

inline std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint16_t readLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return readLe16(bytes.data() + at);
}

inline void writeLe16(std::uint8_t* p, unsigned v) {
    p[0] = lo(v);
    p[1] = hi(v);
}
inline void appendLe16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(lo(v));
    out.push_back(hi(v));
}

}  // namespace kyr
