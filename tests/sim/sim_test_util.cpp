#include "sim_test_util.h"

#include <cstdio>

namespace kyr::sim::test {

namespace {
unsigned sum(std::span<const std::uint8_t> b) {
    unsigned s = 0;
    for (auto x : b) s += x;
    return s & 0xFFFF;
}
unsigned w16(const Bytes& p, std::size_t at) {
    return p[at] | (p[at + 1] << 8);
}
std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v);
    return b;
}
}  // namespace

std::vector<Frame> splitFrames(std::span<const std::uint8_t> bytes, int* junk) {
    std::vector<Frame> frames;
    std::size_t i = 0;
    if (junk) *junk = 0;
    while (i < bytes.size()) {
        if (bytes[i] != 165 || i + 6 > bytes.size() ||
            sum(bytes.subspan(i, 4)) != static_cast<unsigned>(bytes[i + 4] | (bytes[i + 5] << 8))) {
            if (junk) ++*junk;
            ++i;
            continue;
        }
        Frame f;
        f.type = bytes[i + 1];
        const std::size_t len = bytes[i + 2] | (bytes[i + 3] << 8);
        if (len == 0) {
            frames.push_back(f);
            i += 6;
            continue;
        }
        if (i + 8 + len > bytes.size()) break;
        f.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(i + 6),
                         bytes.begin() + static_cast<std::ptrdiff_t>(i + 6 + len));
        f.checksumOk =
            sum(f.payload) == static_cast<unsigned>(bytes[i + 6 + len] | (bytes[i + 7 + len] << 8));
        frames.push_back(f);
        i += 8 + len;
    }
    return frames;
}

Bytes packet(std::uint8_t type, const Bytes& payload) {
    const auto n = static_cast<unsigned>(payload.size());
    Bytes p{165, type, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
    const unsigned hs = sum(p);
    p.push_back(static_cast<std::uint8_t>(hs & 0xFF));
    p.push_back(static_cast<std::uint8_t>(hs >> 8));
    if (n == 0) return p;
    p.insert(p.end(), payload.begin(), payload.end());
    const unsigned ps = sum(payload);
    p.push_back(static_cast<std::uint8_t>(ps & 0xFF));
    p.push_back(static_cast<std::uint8_t>(ps >> 8));
    return p;
}

Bytes linkRequest(int flag) {
    return packet(9, {static_cast<std::uint8_t>(flag), 0});
}

Bytes keyPress(std::uint16_t mask) {
    return packet(8,
                  {static_cast<std::uint8_t>(mask & 0xFF), static_cast<std::uint8_t>(mask >> 8)});
}

Bytes headerRequest(int buffer) {
    Bytes p = packet(4, {static_cast<std::uint8_t>(buffer), 0});
    p.insert(p.end(), 4, 0);
    return p;
}

Bytes rowRequest(int row, int firstColumn, int count, int buffer, std::uint8_t type) {
    const auto b = [](int v, int shift) { return static_cast<std::uint8_t>((v >> shift) & 0xFF); };
    return packet(type, {b(row, 0), b(row, 8), b(firstColumn, 0), b(firstColumn, 8), b(count, 0),
                         b(count, 8), static_cast<std::uint8_t>(buffer), 0});
}

DecodedHeader decodeHeader(const Bytes& p) {
    DecodedHeader h;
    h.flags = w16(p, 0);
    h.metric = !(h.flags & 2);
    h.factor072 = !(h.flags & 4);
    const unsigned px = (h.flags >> 4) & 3;
    h.readoutMode = px == 0 ? -1 : static_cast<int>(px) - 1;
    const int pm = (h.flags & (1u << 10)) ? 12 : 0;
    h.filterName = (h.flags & (1u << 11)) ? "Lunar" : "None";
    h.history = (h.flags & (1u << 12)) ? 'g' : '-';
    h.mosaicType = (h.flags & (1u << 14)) ? 6 : (h.flags & (1u << 13)) ? 40 : 0;
    h.height = static_cast<int>(w16(p, 2));
    if (h.height == 0) return h;
    h.width = static_cast<int>(w16(p, 4));
    h.firstRow = static_cast<int>(w16(p, 6));
    h.firstColumn = static_cast<int>(w16(p, 8));
    const int e = static_cast<int>(w16(p, 10));
    if (e > 60000) {
        h.exposureSeconds = (e - 60000) / 1000.0;
        h.exposureHundredths = (e - 60000) / 10;
    } else {
        h.exposureSeconds = e / 100.0;
        h.exposureHundredths = e;
    }
    h.exposureCount = static_cast<int>(w16(p, 12));
    h.focalLength = w16(p, 18) / 100.0;
    h.apertureDiameter = w16(p, 20) / 10.0;
    const unsigned d = w16(p, 22), t = w16(p, 24);
    h.dateText = two(static_cast<int>(d >> 12)) + "/" + two(static_cast<int>((d >> 7) & 31)) + "/" +
                 std::to_string((d & 127) + 1999);
    h.timeText = two(static_cast<int>(t >> 12) + pm) + ":" + two(static_cast<int>((t >> 6) & 63)) +
                 ":" + two(static_cast<int>(t & 63));
    h.temperature = static_cast<std::int16_t>(w16(p, 26)) / 100.0;
    h.site = static_cast<int>(w16(p, 28));
    h.egainRaw = static_cast<int>(w16(p, 30));
    h.background = std::min(32767, static_cast<int>(w16(p, 32)));
    h.range = std::min(32767, static_cast<int>(w16(p, 34)));
    h.pedestal = static_cast<int>(w16(p, 36));
    static const char* const names[] = {"None", "Lunar", "Red", "Green", "Blue", "Clear"};
    if (p.size() == 44 && p[43] == 0 && (p[42] & 7) < 6) h.filterName = names[p[42] & 7];
    return h;
}

bool decodeCompressed(const Bytes& p, int width, std::vector<std::uint16_t>& out, int kinds[4]) {
    out.clear();
    if (p.size() < 2) return false;
    long v = p[0] | (p[1] << 8);
    out.push_back(static_cast<std::uint16_t>(v));
    std::size_t i = 2;
    for (int c = 1; c < width; ++c) {
        if (i >= p.size()) return false;
        const int b = p[i++];
        int kind;
        if (b < 0x40) {
            v += b, kind = 0;
        } else if (b < 0x80) {
            v += b - 128, kind = 1;
        } else {
            if (i >= p.size()) return false;
            const int n = p[i++];
            if (b < 0xC0) {
                int d = (b - 0x80) * 256 + n;
                if (d >= 0x2000) d -= 0x4000;
                v += d, kind = 2;
            } else {
                v = ((b - 0xC0) * 256 + n) * 4, kind = 3;
            }
        }
        if (kinds) ++kinds[kind];
        out.push_back(static_cast<std::uint16_t>(v & 0xFFFF));
    }
    return i == p.size();
}

std::vector<std::uint16_t> decodeRaw(const Bytes& p) {
    std::vector<std::uint16_t> v;
    for (std::size_t i = 0; i + 1 < p.size(); i += 2)
        v.push_back(static_cast<std::uint16_t>(w16(p, i)));
    return v;
}

}  // namespace kyr::sim::test
