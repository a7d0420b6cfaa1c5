#pragma once
// Synthetic images for the simulated device: star fields with sky, noise and a pedestal,
// summed (track-and-accumulate) images and mosaics, each deterministic from a seed.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/sim_codec.h"

namespace kyr::sim {

inline constexpr int kScreenBuffer = 31;
inline constexpr int kStoredBuffers = 31;  // flash buffers 0..30
inline constexpr int kExtraRow = 200;      // device row of the extra data row
inline constexpr int kExtraRowLength = 320;
inline constexpr int kScreenRows = 200;

struct StarCentre {
    double x = 0, y = 0;  // 0-based image coordinates (column, row)
};

struct SimImage {
    SimHeader header;
    std::vector<std::uint16_t> pixels;  // width x height, row-major, first row first
    // The extra data row (device row 200): offset pairs of a summed image, or the
    // snapshot end times of a mosaic (high word first); zeros otherwise.
    std::array<std::uint16_t, kExtraRowLength> extraRow{};
    // Mosaics: the true centre of the star in each box, in snapshot order.
    std::vector<StarCentre> starCentres;

    bool empty() const { return header.height <= 0 || header.width <= 0; }
    int width() const { return header.width; }
    int height() const { return header.height; }
    // Value at 0-based image column and row.
    std::uint16_t at(int column, int row) const {
        return pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(header.width) +
                      static_cast<std::size_t>(column)];
    }
    // Row r (0-based) of the image.
    std::span<const std::uint16_t> row(int r) const {
        return {
            pixels.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(header.width),
            static_cast<std::size_t>(header.width)};
    }
};

enum class BufferKind { Screen, Plain, ShortExposure, Summed, Mosaic40, Mosaic6 };

// Buffer 31 is the screen image; stored buffers cycle through the other kinds (b mod 5).
BufferKind kindOfBuffer(int buffer);

// What the screen image depends on: the device's current settings when it was taken.
struct ScreenSettings {
    int frame = 0;
    int exposureHundredths = 250;
    int gain = 1;
    int filterCode = 2;
    int temperatureHundredths = -1025;
};

SimImage makeStoredImage(std::uint64_t seed, int buffer);
SimImage makeScreenImage(std::uint64_t seed, const ScreenSettings& settings);
// The header the device sends for a buffer that holds no image.
SimImage makeEmptyImage();
// The image cut to its first `rows` rows (when it has more).
SimImage firstRows(SimImage image, int rows);

}  // namespace kyr::sim
