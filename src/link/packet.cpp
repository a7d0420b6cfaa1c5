#include "link/packet.h"

namespace kyr {

std::uint16_t byteSum16(std::span<const std::uint8_t> bytes) {
    std::uint32_t s = 0;
    for (auto b : bytes) s += b;
    return static_cast<std::uint16_t>(s & 0xFFFF);
}

std::vector<std::uint8_t> buildPacket(std::uint8_t type, std::span<const std::uint8_t> payload,
                                      int trailingZeros) {
    const std::size_t n = payload.size();
    std::vector<std::uint8_t> p(n == 0 ? 6 : n + 8);
    p[0] = kStartByte;
    p[1] = type;
    p[2] = lo(static_cast<unsigned>(n));
    p[3] = hi(static_cast<unsigned>(n));
    const std::uint16_t hs = byteSum16(std::span(p.data(), 4));
    p[4] = lo(hs);
    p[5] = hi(hs);
    if (n > 0) {
        std::copy(payload.begin(), payload.end(), p.begin() + 6);
        const std::uint16_t ps = byteSum16(payload);
        p[n + 6] = lo(ps);
        p[n + 7] = hi(ps);
    }
    p.resize(p.size() + static_cast<std::size_t>(trailingZeros), 0);
    return p;
}

}  // namespace kyr
