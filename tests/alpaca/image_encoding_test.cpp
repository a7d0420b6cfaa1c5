#include "alpaca/image_encoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace kyr::test {
namespace {

using namespace alpaca;

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// A 3x2 image, row after row.
const std::vector<std::uint16_t> kPixels{1, 2, 0x1234, 0xFFFF, 5, 6};

TEST(ImageBytes, MetadataVersionOneThenColumnsOfLittleEndianPixels) {
    EXPECT_EQ(encodeImageBytes(ImageView<std::uint16_t>{3, 2, kPixels}, 0x01020304, 0x0A0B0C0D),
              bytes({1, 0, 0, 0,                    // metadata version
                     0, 0, 0, 0,                    // error number
                     4, 3, 2, 1,                    // client transaction
                     0x0D, 0x0C, 0x0B, 0x0A,        // server transaction
                     44, 0, 0, 0,                   // data start
                     2, 0, 0, 0,                    // image element type Int32
                     8, 0, 0, 0,                    // transmitted as UInt16
                     2, 0, 0, 0,                    // rank
                     3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0,  // NumX, NumY, no third dimension
                     1, 0, 0xFF, 0xFF,              // x = 0: y = 0, 1
                     2, 0, 5, 0,                    // x = 1
                     0x34, 0x12, 6, 0}));           // x = 2

    // Values beyond 16 bits (or below 0) go as Int32.
    const std::vector<std::int32_t> wide{70000, -1};
    const std::string w = encodeImageBytes(ImageView<std::int32_t>{2, 1, wide}, 1, 2);
    ASSERT_EQ(w.size(), kImageBytesMetadataSize + 8);
    EXPECT_EQ(w.substr(24, 4), bytes({2, 0, 0, 0}));
    EXPECT_EQ(w.substr(44), bytes({0x70, 0x11, 0x01, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    const std::vector<std::int32_t> narrow{0, 65535};
    EXPECT_EQ(encodeImageBytes(ImageView<std::int32_t>{2, 1, narrow}, 1, 2).substr(24),
              bytes({8, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}));

    // An error: its number in the metadata, its message where the pixels would be.
    const std::string e = encodeImageBytesError(0x407, "not connected", 9, 10);
    EXPECT_EQ(e, bytes({1, 0, 0, 0, 7, 4, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0, 44, 0, 0, 0,
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) +
                     "not connected");
}

TEST(ImageArrayJson, TypeAndRankFirstThenValueIndexedXThenY) {
    EXPECT_EQ(encodeImageArrayJson(ImageView<std::uint16_t>{3, 2, kPixels}, 5, 6),
              R"({"Type":2,"Rank":2,"Value":[[1,65535],[2,5],[4660,6]],)"
              R"("ClientTransactionID":5,"ServerTransactionID":6,"ErrorNumber":0,"ErrorMessage":""})");
}

}  // namespace
}  // namespace kyr::test
