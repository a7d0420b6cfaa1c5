#include "common/format.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kyr {
namespace {

TEST(Format, RoundHalfEvenAndSaturation) {
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(1.5), 2);
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(62.5), 62);
    EXPECT_EQ(roundHalfEven(1e300), INT64_MAX);
    EXPECT_EQ(roundHalfEven(-1e300), INT64_MIN);
    EXPECT_EQ(roundHalfEven(std::nan("")), 0);
    EXPECT_EQ(roundHalfEvenClamped(70000.4, 0, 65535), 65535);
}

TEST(Format, SignedTextHasLeadingBlankForNonNegative) {
    EXPECT_EQ(signedText(100), " 100");
    EXPECT_EQ(signedText(0), " 0");
    EXPECT_EQ(signedText(-4), "-4");
}

TEST(Format, PicturesOfPanelsAndFiles) {
    EXPECT_EQ(formatPicture(2.5, "##0.000"), "2.500");
    EXPECT_EQ(formatPicture(600, "##0.000"), "600.000");
    EXPECT_EQ(formatPicture(12345.678, "##0.000"), "12345.678");
    EXPECT_EQ(formatPicture(-10.0f, "#0.00"), "-10.00");
    EXPECT_EQ(formatPicture(0.0074f, "0.0000"), "0.0074");
    EXPECT_EQ(formatPicture(0.25, "#0.0"), "0.2");  // an exact tie goes to even
    EXPECT_EQ(formatPicture(0.35, "#0.0"), "0.3");  // 0.35 is just below the tie in binary
    EXPECT_EQ(formatPicture(4926.0234f, "###0.000"), "4926.023");
    EXPECT_EQ(formatPicture(0.004, "#0.00"), "0.00");
    EXPECT_EQ(formatPicture(-0.004, "#0.00"), "0.00");  // no "-" on a value shown as zero
    EXPECT_EQ(formatPicture(7, "00"), "07");
    EXPECT_EQ(formatPicture(2035, "0000"), "2035");
    // "###.##": no leading zero, no trailing zeros, point always printed.
    EXPECT_EQ(formatPicture(2, "###.##"), "2.");
    EXPECT_EQ(formatPicture(0.25, "###.##"), ".25");
    EXPECT_EQ(formatPicture(-10.5, "###.##"), "-10.5");
}

TEST(Format, GeneralFloatText) {
    EXPECT_EQ(generalFloatText(2000.0f), "2000");
    EXPECT_EQ(generalFloatText(0.0f), "0");
    EXPECT_EQ(generalFloatText(8.0f), "8");
    EXPECT_EQ(generalFloatText(49.2601509f), "49.26015");
    EXPECT_EQ(generalFloatText(0.5f), "0.5");
    EXPECT_EQ(generalFloatText(-2.54f), "-2.54");
    EXPECT_EQ(generalFloatText(3.0e20f), "3E+20");
    EXPECT_EQ(zeroPadded(7, 3), "007");
    EXPECT_EQ(zeroPadded(1234, 3), "1234");
}

}  // namespace
}  // namespace kyr
