#include "image/header_parse.h"

#include <gtest/gtest.h>

#include "image_payloads.h"

namespace kyr {
namespace {

using test::HeaderFields;
using test::headerPayload;

struct Parsed {
    bool ok = false;
    ImageHeader hdr;
    std::int32_t background = -1, range = -1;
};

Parsed parse(const HeaderFields& f, ImageHeader start = {}) {
    Parsed p;
    p.hdr = std::move(start);
    const auto payload = headerPayload(f);
    p.ok = parseImageHeaderPayload(payload, payload.size() == 44, p.hdr, p.background, p.range);
    return p;
}

TEST(HeaderParse, ExposureForms) {
    HeaderFields f;
    f.exposure = 250;
    Parsed p = parse(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.hdr.hdrExposure, 250);
    EXPECT_DOUBLE_EQ(p.hdr.exposureSeconds, 2.5);

    f.exposure = 60500;  // above 60000: milliseconds from 60000
    p = parse(f);
    EXPECT_DOUBLE_EQ(p.hdr.exposureSeconds, 0.5);
    EXPECT_EQ(p.hdr.hdrExposure, 50);

    f.exposure = 60005;  // hundredths truncated
    p = parse(f);
    EXPECT_EQ(p.hdr.hdrExposure, 0);
    EXPECT_DOUBLE_EQ(p.hdr.exposureSeconds, 0.005);

    f.exposure = 60000;  // still hundredths
    p = parse(f);
    EXPECT_DOUBLE_EQ(p.hdr.exposureSeconds, 600.0);
    EXPECT_EQ(p.hdr.hdrExposure, 60000);
}

TEST(HeaderParse, DateTimeTemperatureAndClamps) {
    HeaderFields f;
    f.flags = 0x0400;  // after noon
    f.background = 40000;
    f.range = 40000;
    Parsed p = parse(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.hdr.dateText, "12/11/2035");
    EXPECT_EQ(p.hdr.hdrYear, 2035);
    EXPECT_EQ(p.hdr.timeText, "15:42:05");
    EXPECT_FLOAT_EQ(p.hdr.temperature, -10.0f);
    EXPECT_EQ(p.background, 32767);
    EXPECT_EQ(p.range, 32767);
    EXPECT_EQ(p.hdr.noteText, "KYR Image");
    EXPECT_EQ(p.hdr.hdrSite, 3);
    EXPECT_EQ(p.hdr.hdrEgainRaw, 250);
    EXPECT_EQ(p.hdr.hdrPedestal, 100);
    EXPECT_EQ(p.hdr.hdrWidth, 200);
    EXPECT_EQ(p.hdr.hdrFirstRow, 10);
    EXPECT_EQ(p.hdr.hdrFirstColumn, 20);

    f.flags = 0;      // morning: the hour stays 3
    f.date = 0x1081;  // January 1st, 1999 + 1
    f.temperature = 2150;
    f.pedestal = 65535;
    f.egain = 65535;
    p = parse(f);
    EXPECT_EQ(p.hdr.timeText, "03:42:05");
    EXPECT_EQ(p.hdr.dateText, "01/01/2000");
    EXPECT_FLOAT_EQ(p.hdr.temperature, 21.5f);
    EXPECT_EQ(p.hdr.hdrPedestal, 65535);
    EXPECT_EQ(p.hdr.hdrEgainRaw, 65535);
}

TEST(HeaderParse, OpticsUnitsAndAperture) {
    HeaderFields f;
    f.flags = 0x0004;  // centimetres, factor 0.98
    Parsed p = parse(f);
    EXPECT_TRUE(p.hdr.unitsMetric);
    EXPECT_FALSE(p.hdr.apertureFactorFlag);
    EXPECT_FLOAT_EQ(p.hdr.focalLength, 123.45f);
    EXPECT_FLOAT_EQ(p.hdr.apertureDiameter, 80.0f);
    EXPECT_NEAR(p.hdr.apertureArea, 4926.02f, 0.01f);
    // The circle is rounded to float before the factor is applied.
    const float circle = static_cast<float>(80.0 * 80.0 * 3.141592 / 4.0);
    EXPECT_EQ(p.hdr.apertureArea, static_cast<float>(static_cast<double>(circle) * 0.98));

    f.flags = 0x0002;  // inches, factor 0.72236448
    p = parse(f);
    EXPECT_FALSE(p.hdr.unitsMetric);
    EXPECT_TRUE(p.hdr.apertureFactorFlag);
    EXPECT_EQ(p.hdr.apertureArea, static_cast<float>(static_cast<double>(circle) * 0.72236448));
}

TEST(HeaderParse, FlagBits) {
    ImageHeader before;
    before.pixelSize = 0.5f;
    before.readoutMode = 7;
    HeaderFields f;
    f.flags = 0x0000;  // bits 5-4 = 00 keep pixel size and mode
    Parsed p = parse(f, before);
    EXPECT_FLOAT_EQ(p.hdr.pixelSize, 0.5f);
    EXPECT_EQ(p.hdr.readoutMode, 7);
    EXPECT_EQ(p.hdr.filterName, "None");
    EXPECT_EQ(p.hdr.historyText, "-");
    EXPECT_EQ(p.hdr.mosaicType, 0);

    const struct {
        std::uint16_t bits;
        float size;
        int mode;
    } sizes[] = {{0x10, 0.0074f, 0}, {0x20, 0.0148f, 1}, {0x30, 0.0222f, 2}};
    for (const auto& s : sizes) {
        f.flags = s.bits;
        p = parse(f, before);
        EXPECT_FLOAT_EQ(p.hdr.pixelSize, s.size);
        EXPECT_EQ(p.hdr.readoutMode, s.mode);
    }

    f.flags = 0x0800 | 0x1000 | 0x2000;
    p = parse(f);
    EXPECT_EQ(p.hdr.filterName, "Lunar");
    EXPECT_EQ(p.hdr.historyText, "g");
    EXPECT_EQ(p.hdr.mosaicType, 40);
    f.flags = 0x2000 | 0x4000;  // bit 14 wins
    EXPECT_EQ(parse(f).hdr.mosaicType, 6);
    f.flags = 0x4000;
    EXPECT_EQ(parse(f).hdr.mosaicType, 6);
}

TEST(HeaderParse, FilterByteRules) {
    HeaderFields f;
    f.flags = 0x0800;      // default "Lunar"
    f.withFilter = false;  // 42 bytes: the default stays
    f.filterCode = 3;
    EXPECT_EQ(parse(f).hdr.filterName, "Lunar");

    f.withFilter = true;
    const char* names[] = {"None", "Lunar", "Red", "Green", "Blue", "Clear"};
    for (std::uint8_t code = 0; code < 6; ++code) {
        f.filterCode = code;
        EXPECT_EQ(parse(f).hdr.filterName, names[code]);
    }
    f.filterCode = 0x0A;  // low three bits: 2
    EXPECT_EQ(parse(f).hdr.filterName, "Red");
    f.filterCode = 6;  // 6 and 7 keep the default
    EXPECT_EQ(parse(f).hdr.filterName, "Lunar");
    f.filterCode = 7;
    f.flags = 0;
    EXPECT_EQ(parse(f).hdr.filterName, "None");

    f.flags = 0x0800;
    f.filterCode = 4;
    f.filterGuard = 1;  // byte 43 non-zero: the code does not count
    EXPECT_EQ(parse(f).hdr.filterName, "Lunar");

    // A 44-byte payload said to have no filter byte: ignored as well.
    f.filterGuard = 0;
    const auto payload = headerPayload(f);
    ImageHeader hdr;
    std::int32_t bg = 0, range = 0;
    ASSERT_TRUE(parseImageHeaderPayload(payload, false, hdr, bg, range));
    EXPECT_EQ(hdr.filterName, "Lunar");
}

TEST(HeaderParse, ZeroHeightStopsAfterFlagsAndShortPayloadChangesNothing) {
    ImageHeader before;
    before.hdrWidth = 55;
    before.noteText = "mine";
    before.dateText = "01/02/2003";
    HeaderFields f;
    f.height = 0;
    f.flags = 0x2800;
    Parsed p = parse(f, before);
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.hdr.hdrHeight, 0);
    EXPECT_EQ(p.hdr.mosaicType, 40);  // flags are decoded first
    EXPECT_EQ(p.hdr.filterName, "Lunar");
    EXPECT_EQ(p.hdr.hdrWidth, 55);  // nothing after the height
    EXPECT_EQ(p.hdr.noteText, "mine");
    EXPECT_EQ(p.hdr.dateText, "01/02/2003");
    EXPECT_EQ(p.background, -1);
    EXPECT_EQ(p.range, -1);

    const auto full = headerPayload(HeaderFields{});
    const std::vector<std::uint8_t> shortPayload(full.begin(), full.begin() + 37);
    ImageHeader hdr = before;
    std::int32_t bg = -1, range = -1;
    EXPECT_FALSE(parseImageHeaderPayload(shortPayload, false, hdr, bg, range));
    EXPECT_EQ(hdr.hdrWidth, 55);
    EXPECT_EQ(hdr.filterName, "");
    EXPECT_EQ(bg, -1);
}

TEST(HeaderParse, ProblemsAreRefusedWithSpecificMessages) {
    auto problem = [](const HeaderFields& f) { return imageHeaderProblem(headerPayload(f)); };
    HeaderFields f;
    EXPECT_EQ(problem(f), "");
    f.width = 320;
    f.height = 190;
    f.firstRow = 9;  // last row 198
    EXPECT_EQ(problem(f), "");
    f.firstRow = 10;  // last row 199
    EXPECT_EQ(problem(f), "");

    const auto full = headerPayload(HeaderFields{});
    EXPECT_EQ(imageHeaderProblem(std::span(full.data(), 37)),
              "Image header refused: only 37 bytes received, 38 needed");
    EXPECT_EQ(imageHeaderProblem(std::span(full.data(), 38)), "");

    HeaderFields g;
    g.flags = 0x8001;
    EXPECT_EQ(problem(g), "Image header refused: flag word 0x8001 has bit 15 set");
    g = {};
    g.height = 40000;
    EXPECT_EQ(problem(g),
              "Image header refused: height 40000 is out of range (must be below 32768)");
    g = {};
    g.width = 32768;
    EXPECT_NE(problem(g).find("width 32768 is out of range"), std::string::npos);
    g = {};
    g.firstRow = 50000;
    EXPECT_NE(problem(g).find("first row 50000"), std::string::npos);
    g = {};
    g.firstColumn = 65535;
    EXPECT_NE(problem(g).find("first column 65535"), std::string::npos);
    g = {};
    g.exposureCount = 32768;
    EXPECT_NE(problem(g).find("exposure count 32768"), std::string::npos);
    g = {};
    g.site = 33000;
    EXPECT_NE(problem(g).find("site 33000"), std::string::npos);

    g = {};
    g.width = 400;
    g.height = 300;
    EXPECT_EQ(problem(g),
              "Image header refused: 400 x 300 pixels do not fit the 320 x 200 picture area");
    g.width = 0;
    g.height = 10;
    EXPECT_EQ(problem(g),
              "Image header refused: 0 x 10 pixels do not fit the 320 x 200 picture area");
    g.width = 321;
    EXPECT_NE(problem(g), "");
    g.width = 100;
    g.height = 201;
    EXPECT_NE(problem(g), "");

    g = {};
    g.firstRow = 150;
    g.height = 60;
    EXPECT_EQ(problem(g),
              "Image header refused: rows 150 to 209 reach device row 200, the extra data row");

    // Height 0 is "no image": only the flag word and the height matter.
    g = {};
    g.height = 0;
    g.width = 0;
    g.site = 60000;
    EXPECT_EQ(problem(g), "");
}

TEST(HeaderParse, InformationPanelExactText) {
    HeaderFields f;
    // centimetres, factor 0.98, pixel 0.0074, after noon, history g, mosaic 40
    f.flags = 0x0004 | 0x0010 | 0x0400 | 0x1000 | 0x2000;
    f.exposureCount = 4;
    f.background = 40000;
    f.withFilter = true;
    f.filterCode = 2;
    Parsed p = parse(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(imageInformationPanel(p.hdr, p.background, p.range),
              "KYR Image\r\n"
              "Exposure = 2.500 Seconds\r\n"
              "Focal Length = 123.45 cm\r\n"
              "Aperture = 4926.017 cm^2\r\n"
              "Background =  32767\r\n"
              "Range =  512\r\n"
              "Height =  100 Pixels\r\n"
              "Width =  200 Pixels\r\n"
              "Date = 12/11/2035\r\n"
              "Time = 15:42:05\r\n"
              "Temperature = -10.00 degrees C\r\n"
              "Number_exposures =  4\r\n"
              "Each_exposure =  250\r\n"
              "Observer = Site 3\r\n"
              "X Pixel Size = 0.0074 mm\r\n"
              "Y Pixel Size = 0.0074 mm\r\n"
              "Pedestal =  100\r\n"
              "Egain = 2.5 e-/ADU\r\n"
              "Filter = Red\r\n"
              "End");

    // Inches and a negative background.
    p.hdr.unitsMetric = false;
    const std::string panel = imageInformationPanel(p.hdr, -5, 128);
    EXPECT_NE(panel.find("Focal Length = 123.45 inches\r\n"), std::string::npos);
    EXPECT_NE(panel.find("Aperture = 4926.017 inches^2\r\n"), std::string::npos);
    EXPECT_NE(panel.find("\r\nBackground = -5\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kyr
