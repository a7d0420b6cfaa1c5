#include "image/grey_map.h"

#include <gtest/gtest.h>

#include "files/image_export.h"
#include "image/render.h"

namespace kyr {
namespace {

TEST(GreyMap, TableGivesTheBytesOfTheLinearMappingForEverySample) {
    const std::pair<std::int32_t, std::int32_t> settings[] = {
        {1000, 512},  {980, 600},        {0, 65535},    {0, 1},          {4916, 128},
        {1000, -512}, {30000, 0},        {-5, 7},       {INT32_MIN, 1},  {INT32_MAX, INT32_MAX},
        {65535, 3},   {123, 2147483647}, {70000, -300}, {-70000, 100000}};
    GreyLut lut;
    for (auto [background, range] : settings) {
        lut.update(background, range, Stretch::Linear);
        const float step = greyStep(range);
        for (std::int32_t s = 0; s <= 65535; ++s) {
            ASSERT_EQ(lut[s], greyLevel(s, background, step))
                << "sample " << s << " background " << background << " range " << range;
        }
    }
    // A cell's bits are its sample.
    lut.update(0, 65535, Stretch::Linear);
    EXPECT_EQ(lut.ofCell(-1), 255);
    EXPECT_EQ(lut.ofCell(-32768), lut[32768]);
}

TEST(GreyMap, StretchesRunFromBlackAtTheBackgroundToWhiteAtBackgroundPlusRange) {
    struct Case {
        Stretch stretch;
        std::uint8_t middle;
    };
    // Background 1000, range 512: the middle sample 1256 is t = 0.5.
    for (auto [stretch, middle] : {Case{Stretch::Linear, 128}, Case{Stretch::SquareRoot, 181},
                                   Case{Stretch::Logarithmic, 230}, Case{Stretch::Asinh, 197}}) {
        EXPECT_EQ(stretchGrey(1000, 1000, 512, stretch), 0) << static_cast<int>(stretch);
        EXPECT_EQ(stretchGrey(900, 1000, 512, stretch), 0);
        EXPECT_EQ(stretchGrey(1256, 1000, 512, stretch), middle);
        EXPECT_EQ(stretchGrey(1512, 1000, 512, stretch), 255);
        EXPECT_EQ(stretchGrey(60000, 1000, 512, stretch), 255);
        // A negative range inverts, a zero range is a threshold, as for the linear mapping.
        EXPECT_EQ(stretchGrey(744, 1000, -512, stretch), middle);
        EXPECT_EQ(stretchGrey(1001, 1000, 0, stretch), 255);
        EXPECT_EQ(stretchGrey(1000, 1000, 0, stretch), 0);

        // The PNG export shows what the window shows.
        PixelArray one(1, 1);
        one.setCell(1, 1, 1256);
        EXPECT_EQ(imagePicture(one, 1, 1, 1000, 512, stretch).grey[0], middle);

        GreyLut lut;
        for (auto [background, range] : {std::pair{1000, 512}, {0, 65535}, {5000, -3000}}) {
            lut.update(background, range, stretch);
            for (std::int32_t s = 0; s <= 65535; ++s)
                ASSERT_EQ(lut[s], stretchGrey(s, background, range, stretch)) << s;
        }
    }
}

TEST(GreyMap, RowsDrawnOneByOneEndAsTheWholeDrawing) {
    // 200 x 100 with a gradient: rows drawn as they arrive give the same bytes as one
    // drawing, and rows not yet drawn keep what the picture held.
    PixelArray img(200, 100);
    for (int r = 1; r <= 100; ++r)
        for (int c = 1; c <= 200; ++c) img.setCell(c, r, PixelArray::toCell(900 + 3 * c + r));
    GreyLut lut;
    lut.update(1000, 600, Stretch::Linear);
    const RenderResult whole = renderPicture(img, 200, 100, lut);
    EXPECT_EQ(whole.picture, renderPicture(img, 200, 100, 1000, 600).picture);

    Picture live;
    std::fill(live.grey.begin(), live.grey.end(), std::uint8_t{7});
    for (int r = 1; r <= 40; ++r) drawPictureRows(live, img, 200, 100, r, r, lut);
    EXPECT_EQ(live.at(60 + 10, 50 + 39), whole.picture.at(60 + 10, 50 + 39));
    EXPECT_EQ(live.at(60 + 10, 50 + 40), 7);  // row 41 has not arrived
    drawPictureRows(live, img, 200, 100, 41, 100, lut);
    for (int y = 50; y < 150; ++y)
        for (int x = 60; x < 260; ++x) ASSERT_EQ(live.at(x, y), whole.picture.at(x, y));
    EXPECT_EQ(live.at(0, 0), 7);  // outside the image: untouched
}

}  // namespace
}  // namespace kyr
