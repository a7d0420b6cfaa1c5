#pragma once
// A 2-D array of 16-bit signed cells addressed (column, row) from 1, column fastest,
// row 1 at the top. Cells hold unsigned samples 0..65535 in two's-complement form.

#include <cstdint>
#include <span>
#include <vector>

namespace kyr {

class PixelArray {
public:
    PixelArray() = default;
    PixelArray(int cols, int rows) { recreate(cols, rows); }

    // Re-creates the array with every cell 0 (negative sizes give an empty array).
    void recreate(int cols, int rows) {
        cols_ = cols > 0 ? cols : 0;
        rows_ = rows > 0 ? rows : 0;
        cells_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_), 0);
    }
    int cols() const { return cols_; }
    int rows() const { return rows_; }
    bool contains(int c, int r) const { return c >= 1 && r >= 1 && c <= cols_ && r <= rows_; }

    // Reads outside the allocation give 0 and writes there are ignored, so that a size
    // that disagrees with the allocation can never reach memory it does not own.
    std::int16_t cell(int c, int r) const { return contains(c, r) ? cells_[index(c, r)] : 0; }
    void setCell(int c, int r, std::int16_t v) {
        if (contains(c, r)) cells_[index(c, r)] = v;
    }
    // The unsigned sample 0..65535 of a cell.
    std::int32_t sample(int c, int r) const { return toSample(cell(c, r)); }

    // Row r (1-based) as a span of cols() cells; empty when r is outside.
    std::span<std::int16_t> row(int r) {
        if (r < 1 || r > rows_) return {};
        return {cells_.data() + index(1, r), static_cast<std::size_t>(cols_)};
    }
    std::span<const std::int16_t> row(int r) const {
        if (r < 1 || r > rows_) return {};
        return {cells_.data() + index(1, r), static_cast<std::size_t>(cols_)};
    }

    static std::int32_t toSample(std::int16_t v) { return v < 0 ? v + 65536 : v; }
    static std::int16_t toCell(std::int32_t sample) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(sample & 0xFFFF));
    }

    bool operator==(const PixelArray&) const = default;

private:
    std::size_t index(int c, int r) const {
        return static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(cols_) +
               static_cast<std::size_t>(c - 1);
    }
    int cols_ = 0;
    int rows_ = 0;
    std::vector<std::int16_t> cells_;
};

}  // namespace kyr
