#include "image/render.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/grey_map.h"

namespace kyr {
namespace {

PixelArray filled(int cols, int rows, std::int32_t sample) {
    PixelArray a(cols, rows);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) a.setCell(c, r, PixelArray::toCell(sample));
    return a;
}

long countGrey(const Picture& p, std::uint8_t g) {
    return static_cast<long>(std::count(p.grey.begin(), p.grey.end(), g));
}

TEST(Render, GreyLevelsRoundHalvesToEvenAndClamp) {
    const float step = greyStep(512);
    EXPECT_EQ(step, 2.0f);
    EXPECT_EQ(greyLevel(1000, 1000, step), 0);
    EXPECT_EQ(greyLevel(1001, 1000, step), 0);  // 0.5 to even
    EXPECT_EQ(greyLevel(1003, 1000, step), 2);  // 1.5 to even
    EXPECT_EQ(greyLevel(1005, 1000, step), 2);  // 2.5 to even
    EXPECT_EQ(greyLevel(1510, 1000, step), 255);
    EXPECT_EQ(greyLevel(900, 1000, step), 0);
    // Sample 65535 (cell -1) with background 0 and range 65535.
    EXPECT_EQ(greyLevel(PixelArray::toSample(-1), 0, greyStep(65535)), 255);
    // A negative range inverts the scale.
    EXPECT_EQ(greyLevel(900, 1000, greyStep(-512)), 50);
    EXPECT_EQ(greyLevel(1100, 1000, greyStep(-512)), 0);
    // A zero range is a hard threshold, not a division by zero.
    EXPECT_EQ(greyStep(0), 0.0f);
    EXPECT_EQ(greyLevel(1001, 1000, 0.0f), 255);
    EXPECT_EQ(greyLevel(1000, 1000, 0.0f), 0);
    EXPECT_EQ(greyLevel(999, 1000, 0.0f), 0);
    // Extreme backgrounds do not overflow the difference.
    EXPECT_EQ(greyLevel(65535, INT32_MIN, greyStep(1)), 255);
    EXPECT_EQ(greyLevel(0, INT32_MAX, greyStep(INT32_MAX)), 0);
}

TEST(Render, ImageIsCentredAndTheRestIsBlack) {
    // 200 x 100 image: offsets 60 and 50; image pixel (c, r) at area (c + 59, r + 49) 0-based.
    PixelArray img = filled(200, 100, 1510);
    img.setCell(1, 1, PixelArray::toCell(1003));
    img.setCell(200, 100, PixelArray::toCell(1001));
    const RenderResult res = renderPicture(img, 200, 100, 1000, 512);
    EXPECT_EQ(res.displayOffsetX, 60);
    EXPECT_EQ(res.displayOffsetY, 50);
    ASSERT_EQ(res.picture.grey.size(), 320u * 200u);
    EXPECT_EQ(res.picture.at(60, 50), 2);
    EXPECT_EQ(res.picture.at(259, 149), 0);
    EXPECT_EQ(res.picture.at(61, 50), 255);
    EXPECT_EQ(res.picture.at(59, 50), 0);
    EXPECT_EQ(res.picture.at(60, 49), 0);
    EXPECT_EQ(res.picture.at(260, 149), 0);
    EXPECT_EQ(res.picture.at(259, 150), 0);
    EXPECT_EQ(countGrey(res.picture, 255), 200L * 100L - 2L);

    // A full-size image has both offsets 0; an odd excess truncates toward zero.
    EXPECT_EQ(renderPicture(filled(320, 200, 0), 320, 200, 0, 256).displayOffsetX, 0);
    EXPECT_EQ(renderPicture(filled(320, 200, 0), 320, 200, 0, 256).displayOffsetY, 0);
    const RenderResult odd = renderPicture(filled(321, 201, 0), 321, 201, 0, 256);
    EXPECT_EQ(odd.displayOffsetX, 0);
    EXPECT_EQ(odd.displayOffsetY, 0);
    const RenderResult small = renderPicture(filled(3, 3, 0), 3, 3, 0, 256);
    EXPECT_EQ(small.displayOffsetX, 158);
    EXPECT_EQ(small.displayOffsetY, 98);
}

TEST(Render, OversizedImagesAndSizesBeyondTheArrayStayInBounds) {
    // 400 x 300: offsets -40 and -50; area pixel (0, 0) is image pixel (41, 51).
    PixelArray big(400, 300);
    big.setCell(41, 51, PixelArray::toCell(255));
    big.setCell(360, 250, PixelArray::toCell(255));
    big.setCell(40, 51, PixelArray::toCell(255));    // just left of the area
    big.setCell(361, 251, PixelArray::toCell(255));  // just beyond the area
    const RenderResult res = renderPicture(big, 400, 300, 0, 256);
    EXPECT_EQ(res.displayOffsetX, -40);
    EXPECT_EQ(res.displayOffsetY, -50);
    EXPECT_EQ(res.picture.grey.size(), 320u * 200u);
    EXPECT_EQ(res.picture.at(0, 0), 255);
    EXPECT_EQ(res.picture.at(319, 199), 255);
    EXPECT_EQ(countGrey(res.picture, 255), 2);

    // Width and height larger than the array: the missing cells read as 0.
    const PixelArray tiny = filled(2, 2, 1000);
    const RenderResult over = renderPicture(tiny, 4, 4, 0, 256 * 1000);
    EXPECT_EQ(over.displayOffsetX, 158);
    EXPECT_EQ(over.picture.at(158, 98), 1);  // 1000 / 1000
    EXPECT_EQ(over.picture.at(160, 98), 0);

    // With a negative background the missing cells are not black.
    const RenderResult shifted = renderPicture(tiny, 4, 4, -256, 512);
    EXPECT_EQ(shifted.picture.at(161, 101), 128);
    EXPECT_EQ(shifted.picture.at(162, 101), 0);  // outside the image

    // Sizes of zero, negative or huge draw nothing out of place.
    EXPECT_EQ(countGrey(renderPicture(tiny, 0, 0, -1000, 1).picture, 0), 64000);
    EXPECT_EQ(countGrey(renderPicture(tiny, -5, 3, -1000, 1).picture, 0), 64000);
    const RenderResult huge = renderPicture(tiny, 32767, 32767, -1000, 1);
    EXPECT_EQ(huge.displayOffsetX, (320 - 32767) / 2);
    EXPECT_EQ(huge.picture.grey.size(), 320u * 200u);
}

TEST(Render, AutoContrastFromTheHistogram) {
    // All samples 5000: bin 78, background 77 * 64 = 4928, range 0 raised to 128, minus 12.
    Contrast c = autoContrast(filled(20, 10, 5000), 20, 10);
    EXPECT_EQ(c.background, 4916);
    EXPECT_EQ(c.range, 128);

    // 10 x 10: the lower point needs more than 20 pixels, the upper more than 99.
    PixelArray img(10, 10);
    int n = 0;
    auto put = [&](int count, std::int32_t sample) {
        for (int i = 0; i < count; ++i, ++n)
            img.setCell(n % 10 + 1, n / 10 + 1, PixelArray::toCell(sample));
    };
    put(20, 0);        // bin 0: exactly N / 5, not yet above
    put(1, 10 * 64);   // bin 10: 21 > 20 -> background 9 * 64
    put(78, 20 * 64);  // bin 20: 99, not above 99
    put(1, 50 * 64);   // bin 50: 100 -> range 49 * 64 - 576
    c = autoContrast(img, 10, 10);
    EXPECT_EQ(c.range, 2560);
    EXPECT_EQ(c.background, 576 - 256);

    // All zero: background -64 - 12 is floored at 0.
    c = autoContrast(filled(4, 4, 0), 4, 4);
    EXPECT_EQ(c.background, 0);
    EXPECT_EQ(c.range, 128);

    // Negative cells are samples above 32767; the top bin is 1023.
    c = autoContrast(filled(4, 4, 65535), 4, 4);
    EXPECT_EQ(c.background, 1022 * 64 - 12);
    EXPECT_EQ(c.range, 128);

    // Only width x height cells count, not the whole array.
    PixelArray part = filled(10, 10, 5000);
    for (int col = 6; col <= 10; ++col)
        for (int row = 1; row <= 10; ++row) part.setCell(col, row, 30000);
    EXPECT_EQ(autoContrast(part, 5, 10).background, 4916);

    // A size beyond the array counts the missing cells as sample 0 (12 of 16 here).
    c = autoContrast(filled(2, 2, 5000), 4, 4);
    EXPECT_EQ(c.range, 77 * 64 + 64);
    EXPECT_EQ(c.background, 0);

    // An empty image is safe.
    EXPECT_EQ(autoContrast(PixelArray{}, 0, 0).range, 128);
    EXPECT_EQ(autoContrast(PixelArray{}, 0, 0).background, 0);
    EXPECT_EQ(autoContrast(filled(3, 3, 7), -3, 3).range, 128);
}

TEST(Render, ContrastTexts) {
    EXPECT_EQ(contrastStatusText(100, 512), "Background = 100\r\nRange = 512");
    EXPECT_EQ(contrastStatusText(-5, -512), "Background =-5\r\nRange =-512");

    EXPECT_EQ(parseContrastEntry(" 100"), 100);
    EXPECT_EQ(parseContrastEntry("  -7  "), -7);
    EXPECT_EQ(parseContrastEntry("+42"), 42);
    EXPECT_EQ(parseContrastEntry("007"), 7);
    EXPECT_EQ(parseContrastEntry("2147483647"), 2147483647);
    EXPECT_EQ(parseContrastEntry("-2147483648"), INT32_MIN);
    for (const char* bad : {"", "   ", "-", "+", "12a", "1.5", "1e3", "- 5", "1 2", "0x10",
                            "2147483648", "-2147483649", "99999999999999999999999"}) {
        EXPECT_EQ(parseContrastEntry(bad), std::nullopt) << bad;
    }
}

TEST(Render, AWholePictureGrowsToAnImageLargerThanTheArea) {
    // 400 x 300: the area takes the image's size, offsets 0, every pixel drawn.
    PixelArray big(400, 300);
    big.setCell(400, 300, PixelArray::toCell(255));
    GreyLut lut;
    lut.update(0, 256, Stretch::Linear);
    const RenderResult whole = renderWholePicture(big, 400, 300, lut);
    EXPECT_EQ(whole.picture.width, 400);
    EXPECT_EQ(whole.picture.height, 300);
    EXPECT_EQ(whole.displayOffsetX, 0);
    EXPECT_EQ(whole.picture.at(399, 299), 255);
    // Small images keep the 320 x 200 area and its offsets; a size beyond the array or the
    // largest side does not grow it.
    EXPECT_EQ(renderWholePicture(filled(200, 100, 0), 200, 100, lut).picture,
              renderPicture(filled(200, 100, 0), 200, 100, lut).picture);
    EXPECT_EQ(pictureAreaFor(filled(2, 2, 0), 32767, 32767).width, kPictureWidth);
    EXPECT_EQ(pictureAreaFor(PixelArray(9000, 10), 9000, 10).width, kMaxPictureSide);
}

}  // namespace
}  // namespace kyr
