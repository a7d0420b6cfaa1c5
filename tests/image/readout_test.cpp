#include "image/readout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kyr {
namespace {

TEST(Readout, PositionTextPointerAndRounding) {
    PixelArray img(200, 100);
    img.setCell(1, 1, -2);
    img.setCell(2, 1, 1234);
    img.setCell(200, 100, 7);

    // Nothing before an image has been drawn.
    Readout r = pixelReadout(61, 51, 60, 50, img, 200, 100, false);
    EXPECT_FALSE(r.changed);
    EXPECT_TRUE(r.text.empty());

    r = pixelReadout(61, 51, 60, 50, img, 200, 100, true);
    EXPECT_TRUE(r.changed);
    EXPECT_EQ(r.pointer, MousePointer::Crosshair);
    EXPECT_EQ(r.text, "Pixel position ( 1,  1) =  65534");

    r = pixelReadout(62.5f, 51, 60, 50, img, 200, 100, true);  // 2.5 rounds to 2
    EXPECT_EQ(r.text, "Pixel position ( 2,  1) =  1234");
    r = pixelReadout(62.4f, 50.6f, 60, 50, img, 200, 100, true);
    EXPECT_EQ(r.text, "Pixel position ( 2,  1) =  1234");
    r = pixelReadout(260, 150, 60, 50, img, 200, 100, true);
    EXPECT_EQ(r.text, "Pixel position ( 200,  100) =  7");
    r = pixelReadout(70, 60.5f, 60, 50, img, 200, 100, true);  // 10.5 rounds to 10
    EXPECT_EQ(r.text, "Pixel position ( 10,  10) =  0");

    // Outside the image: the default pointer and no text.
    for (auto [x, y] : {std::pair{60.0f, 51.0f},
                        {61.0f, 50.0f},
                        {60.5f, 51.0f},
                        {261.0f, 51.0f},
                        {61.0f, 151.0f},
                        {-1e30f, 51.0f},
                        {1e30f, 1e30f}}) {
        r = pixelReadout(x, y, 60, 50, img, 200, 100, true);
        EXPECT_TRUE(r.changed);
        EXPECT_EQ(r.pointer, MousePointer::Default) << x << "," << y;
        EXPECT_TRUE(r.text.empty());
    }
    r = pixelReadout(std::nanf(""), 51, 60, 50, img, 200, 100, true);
    EXPECT_EQ(r.pointer, MousePointer::Default);

    // Negative offsets (an image larger than the area).
    PixelArray big(400, 300);
    big.setCell(41, 51, 9);
    r = pixelReadout(1, 1, -40, -50, big, 400, 300, true);
    EXPECT_EQ(r.text, "Pixel position ( 41,  51) =  9");

    // A size larger than the array reads the missing cells as 0.
    r = pixelReadout(61 + 250, 51, 60, 50, img, 300, 100, true);
    EXPECT_EQ(r.text, "Pixel position ( 251,  1) =  0");
}

}  // namespace
}  // namespace kyr
