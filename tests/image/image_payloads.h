#pragma once
// Builders for image packet payloads used by the image tests.

#include <cstdint>
#include <vector>

namespace kyr::test {

// The fields of a type-4 header payload, as the device sends them.
struct HeaderFields {
    std::uint16_t flags = 0x0010;  // pixel size 0.0074, centimetres, factor 0.72236448
    std::uint16_t height = 100;
    std::uint16_t width = 200;
    std::uint16_t firstRow = 10;
    std::uint16_t firstColumn = 20;
    std::uint16_t exposure = 250;
    std::uint16_t exposureCount = 1;
    std::uint16_t focal = 12345;
    std::uint16_t aperture = 800;
    std::uint16_t date = 0xC5A4;
    std::uint16_t time = 0x3A85;
    std::uint16_t temperature = 0xFC18;
    std::uint16_t site = 3;
    std::uint16_t egain = 250;
    std::uint16_t background = 1000;
    std::uint16_t range = 512;
    std::uint16_t pedestal = 100;
    bool withFilter = false;  // 44 bytes instead of 42
    std::uint8_t filterCode = 0;
    std::uint8_t filterGuard = 0;
};

inline void putLe16(std::vector<std::uint8_t>& p, std::size_t at, std::uint16_t v) {
    p[at] = static_cast<std::uint8_t>(v & 0xFF);
    p[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::vector<std::uint8_t> headerPayload(const HeaderFields& f) {
    std::vector<std::uint8_t> p(f.withFilter ? 44 : 42, 0);
    const std::uint16_t words[] = {
        f.flags, f.height, f.width,      f.firstRow, f.firstColumn, f.exposure, f.exposureCount,
        0xAAAA,  0x5555,   f.focal,      f.aperture, f.date,        f.time,     f.temperature,
        f.site,  f.egain,  f.background, f.range,    f.pedestal};
    for (std::size_t i = 0; i < std::size(words); ++i) putLe16(p, 2 * i, words[i]);
    if (f.withFilter) {
        p[42] = f.filterCode;
        p[43] = f.filterGuard;
    }
    return p;
}

// An uncompressed row of samples.
inline std::vector<std::uint8_t> rawPayload(const std::vector<std::uint16_t>& samples) {
    std::vector<std::uint8_t> p(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) putLe16(p, 2 * i, samples[i]);
    return p;
}

}  // namespace kyr::test
