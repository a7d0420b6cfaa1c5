#include "image/row_decode.h"

#include <gtest/gtest.h>

#include <vector>

#include "image_payloads.h"

namespace kyr {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Cells = std::vector<std::int16_t>;

Cells decodeCompressed(const Bytes& payload, int width, bool* ok = nullptr) {
    Cells row(static_cast<std::size_t>(width > 0 ? width : 1), 7);
    const bool r = decodeCompressedRowPayload(payload, width, row);
    if (ok) *ok = r;
    return row;
}

TEST(RowDecode, CompressedCodesOfAllFourKinds) {
    bool ok = false;
    // 1-byte add, 1-byte subtract, 2-byte delta, absolute value.
    EXPECT_EQ(decodeCompressed({0x10, 0x00, 0x05, 0x7E, 0x81, 0x00, 0xC1, 0x00}, 5, &ok),
              (Cells{16, 21, 19, 275, 1024}));
    EXPECT_TRUE(ok);
    // Absolute codes: 0xC0 0x00 is 0, 0xFF 0xFF is 65532 stored as -4.
    EXPECT_EQ(decodeCompressed({0x34, 0x12, 0xC0, 0x00, 0xFF, 0xFF}, 3), (Cells{0x1234, 0, -4}));
    // Extremes of the 2-byte delta: 0x9F 0xFF = +8191, 0xA0 0x00 = -8192.
    EXPECT_EQ(decodeCompressed({0x10, 0x27, 0x9F, 0xFF, 0xA0, 0x00}, 3),
              (Cells{10000, 18191, 9999}));
    // Extremes of the 1-byte codes: 0x3F = +63, 0x40 = -64, 0x7F = -1.
    EXPECT_EQ(decodeCompressed({100, 0, 0x3F, 0x40, 0x7F}, 4), (Cells{100, 163, 99, 98}));
    // A single-pixel row is just the first pixel.
    EXPECT_EQ(decodeCompressed({0x02, 0x01}, 1), (Cells{0x0102}));
}

TEST(RowDecode, CompressedDeltasApplyToTheUnwrappedRunningValue) {
    // A first pixel of 40000 is stored as -25536; the next delta starts from 40000.
    EXPECT_EQ(decodeCompressed({0x40, 0x9C, 0x05}, 2), (Cells{-25536, -25531}));
    // Leaving 0..65535 upwards and coming back: 65530 + 63 = 65593 (cell 57), then -64.
    EXPECT_EQ(decodeCompressed({0xFA, 0xFF, 0x3F, 0x40}, 3), (Cells{-6, 57, -7}));
    // Below zero and back: 0 - 1 = -1 (cell -1), + 1 = 0.
    EXPECT_EQ(decodeCompressed({0x00, 0x00, 0x7F, 0x01}, 3), (Cells{0, -1, 0}));
}

TEST(RowDecode, CompressedRowLengthIsExactAndTruncationIsRefused) {
    // With 1-byte codes only, a row of width W is W + 1 bytes; extra bytes are ignored.
    const Bytes full = {1, 0, 1, 1, 1, 1};
    bool ok = false;
    EXPECT_EQ(decodeCompressed(full, 5, &ok), (Cells{1, 2, 3, 4, 5}));
    EXPECT_TRUE(ok);
    Bytes longer = full;
    longer.push_back(0xC5);
    EXPECT_EQ(decodeCompressed(longer, 5, &ok), (Cells{1, 2, 3, 4, 5}));
    EXPECT_TRUE(ok);

    // One code missing: false and the row keeps its old cells.
    const Bytes shortRow(full.begin(), full.end() - 1);
    EXPECT_EQ(decodeCompressed(shortRow, 5, &ok), Cells(5, 7));
    EXPECT_FALSE(ok);
    // The second byte of a 2-byte code missing.
    EXPECT_EQ(decodeCompressed({1, 0, 2, 0x81}, 3, &ok), Cells(3, 7));
    EXPECT_FALSE(ok);
    // No room even for the first pixel.
    EXPECT_EQ(decodeCompressed({1}, 1, &ok), Cells(1, 7));
    EXPECT_FALSE(ok);
    EXPECT_EQ(decodeCompressed({}, 1, &ok), Cells(1, 7));
    EXPECT_FALSE(ok);
}

TEST(RowDecode, BadWidthOrShortRowIsRefused) {
    Cells row(4, 7);
    const Bytes payload = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(decodeCompressedRowPayload(payload, 0, row));
    EXPECT_FALSE(decodeCompressedRowPayload(payload, -3, row));
    EXPECT_FALSE(decodeCompressedRowPayload(payload, 5, row));  // row holds only 4 cells
    EXPECT_FALSE(decodeRawRowPayload(payload, 0, row));
    EXPECT_FALSE(decodeRawRowPayload(payload, 5, row));
    EXPECT_EQ(row, Cells(4, 7));
}

TEST(RowDecode, RawRowNeedsTwoBytesPerPixel) {
    Cells row(3, 7);
    const Bytes payload = test::rawPayload({1, 40000, 0xFFFF});
    ASSERT_TRUE(decodeRawRowPayload(payload, 3, row));
    EXPECT_EQ(row, (Cells{1, -25536, -1}));

    Bytes longer = payload;
    longer.insert(longer.end(), {9, 9, 9});
    Cells row2(3, 7);
    ASSERT_TRUE(decodeRawRowPayload(longer, 3, row2));
    EXPECT_EQ(row2, row);

    Cells row3(3, 7);
    const Bytes shortRow(payload.begin(), payload.end() - 1);
    EXPECT_FALSE(decodeRawRowPayload(shortRow, 3, row3));
    EXPECT_EQ(row3, Cells(3, 7));
}

TEST(RowDecode, AuxRowFillsEntriesOneTo320Unsigned) {
    std::vector<std::uint16_t> samples(320);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(i * 200);
    samples[319] = 0xFFFF;
    std::array<std::int32_t, 321> aux{};
    aux[0] = -5;  // entry 0 is not part of the row
    ASSERT_TRUE(decodeAuxRowPayload(test::rawPayload(samples), aux));
    EXPECT_EQ(aux[0], -5);
    EXPECT_EQ(aux[1], 0);
    EXPECT_EQ(aux[2], 200);
    EXPECT_EQ(aux[200], 39800);
    EXPECT_EQ(aux[320], 65535);

    std::array<std::int32_t, 321> untouched{};
    Bytes shortRow = test::rawPayload(samples);
    shortRow.pop_back();
    EXPECT_FALSE(decodeAuxRowPayload(shortRow, untouched));
    EXPECT_EQ(untouched, (std::array<std::int32_t, 321>{}));
}

}  // namespace
}  // namespace kyr
