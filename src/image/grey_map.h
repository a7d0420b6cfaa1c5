#pragma once
// Grey levels for the picture area: the linear mapping between background and background +
// range, and display stretches between the same two points. A table per setting maps every
// sample at once; it gives exactly the bytes of the per-sample functions.

#include <array>
#include <cstdint>
#include <span>

namespace kyr {

enum class Stretch { Linear, SquareRoot, Logarithmic, Asinh };

// A stretch's curve on t = 0..1, from 0 at t = 0 to 1 at t = 1 (t itself for Linear).
double stretchCurve(double t, Stretch stretch);

// Grey level of one sample. Linear is greyLevel with the drawing's float step. The others
// take t = (sample - background) / range, clamped to 0..1, through their curve and scale it
// as the linear mapping does (256 steps, halves to even, at most 255). A zero range is the
// linear mapping's hard threshold for every stretch.
std::uint8_t stretchGrey(std::int32_t sample, std::int32_t background, std::int32_t range,
                         Stretch stretch);

class GreyLut {
  public:
    GreyLut() { update(0, 256, Stretch::Linear); }

    // Makes the table for these settings; does nothing when it already holds them.
    void update(std::int32_t background, std::int32_t range, Stretch stretch);

    std::uint8_t operator[](std::int32_t sample) const {
        return table_[static_cast<std::uint16_t>(sample)];
    }
    // A cell's grey: the cell's bits are its sample.
    std::uint8_t ofCell(std::int16_t cell) const {
        return table_[static_cast<std::uint16_t>(cell)];
    }
    // Greys of a run of cells into out (out.size() >= cells.size()).
    void map(std::span<const std::int16_t> cells, std::uint8_t* out) const {
        for (std::size_t i = 0; i < cells.size(); ++i) out[i] = ofCell(cells[i]);
    }

    std::int32_t background() const { return background_; }
    std::int32_t range() const { return range_; }
    Stretch stretch() const { return stretch_; }

  private:
    std::array<std::uint8_t, 65536> table_{};
    std::int32_t background_ = 0;
    std::int32_t range_ = 0;
    Stretch stretch_ = Stretch::Linear;
    bool built_ = false;
};

}  // namespace kyr
