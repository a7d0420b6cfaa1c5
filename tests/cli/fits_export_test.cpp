// FITS export: the bytes CFITSIO makes of an image, checked by fitsverify and read back.
#include <gtest/gtest.h>

#include "cli_test_support.h"
#include "files/fits_export.h"
#include "files/image_export.h"
#include "image/render.h"

namespace kyr::test {
namespace {

// Samples over the whole unsigned range, the edges of the signed cells included.
PixelArray patternImage(int w, int h) {
    PixelArray img(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c)
            img.setCell(c, r, PixelArray::toCell((c * 2731 + r * 977) % 65536));
    img.setCell(1, 1, PixelArray::toCell(0));
    img.setCell(2, 1, PixelArray::toCell(32767));
    img.setCell(3, 1, PixelArray::toCell(32768));
    img.setCell(4, 1, PixelArray::toCell(65535));
    return img;
}

ImageHeader summedHeader() {
    ImageHeader h;
    h.dateText = "12/11/2035";
    h.timeText = "15:42:05";
    h.hdrExposure = 250;
    h.exposureSeconds = 2.5;
    h.hdrExposureCount = 4;
    h.temperature = -10.25f;
    h.unitsMetric = true;
    h.focalLength = 254.0f;    // 100 inches
    h.apertureArea = 64.516f;  // 10 square inches
    h.pixelSize = 0.0074f;
    h.hdrEgainRaw = 250;
    h.filterName = "Red";
    h.hdrPedestal = 100;
    h.noteText = "M42 \x01 with a note long enough to need more than one comment card in the file";
    return h;
}

TEST(FitsExport, FileVerifiesAndReadsBackBitExactWithItsKeywords) {
    TempDir dir;
    const int w = 37, h = 23;
    const PixelArray img = patternImage(w, h);
    const FitsEncodeResult res = encodeFits(summedHeader(), img, w, h);
    ASSERT_EQ(res.error, "");
    ASSERT_FALSE(res.bytes.empty());
    EXPECT_EQ(res.bytes.size() % 2880, 0u);
    const std::string name = dir.name("summed.fits");
    writeBytes(name, res.bytes);

    int errors = 0, warnings = 0;
    const std::string report = runFitsverify(name, errors, warnings);
    EXPECT_EQ(errors, 0) << report;
    EXPECT_EQ(warnings, 0) << report;

    const FitsReadBack fits = readFits(name);
    ASSERT_EQ(fits.status, 0);
    EXPECT_EQ(fits.bitpix, 16);
    EXPECT_EQ(fits.width, w);
    EXPECT_EQ(fits.height, h);
    ASSERT_EQ(fits.samples.size(), static_cast<std::size_t>(w * h));
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) {
            ASSERT_EQ(fits.sample(c, r), img.sample(c, r)) << c << "," << r;
            // BZERO 32768: the stored value is the sample minus 32768.
            ASSERT_EQ(fits.storedSample(c, r), img.sample(c, r) - 32768) << c << "," << r;
        }
    // The first row of the data is the bottom of the picture.
    EXPECT_EQ(fits.samples[0], img.sample(1, h));

    EXPECT_EQ(fits.key("BZERO"), "32768");
    EXPECT_EQ(fits.key("BSCALE"), "1");
    EXPECT_EQ(fits.key("ROWORDER"), "BOTTOM-UP");
    EXPECT_EQ(fits.key("DATE-OBS"), "2035-12-11T15:42:05");
    EXPECT_EQ(fits.key("EXPTIME"), "10.000");  // four snapshots of 2.5 s
    EXPECT_EQ(fits.key("SNAPEXP"), "2.500");
    EXPECT_EQ(fits.key("SNAPSHOT"), "4");
    EXPECT_EQ(fits.key("CCD-TEMP"), "-10.25");
    EXPECT_EQ(fits.key("FOCALLEN"), "2540.0");  // 254 cm in millimetres
    EXPECT_EQ(fits.key("APTAREA"), "6451.6");   // 64.516 cm^2 in square millimetres
    EXPECT_EQ(fits.key("XPIXSZ"), "7.40");
    EXPECT_EQ(fits.key("YPIXSZ"), "7.40");
    EXPECT_EQ(fits.key("EGAIN"), "2.50");
    EXPECT_EQ(fits.key("FILTER"), "Red");
    EXPECT_EQ(fits.key("PEDESTAL"), "100");

    // The note, made printable, spread over comment cards.
    std::string comments;
    for (const auto& c : fits.comments) comments += c;
    EXPECT_NE(comments.find("Note: M42 ? with a note"), std::string::npos) << comments;
    EXPECT_NE(comments.find("comment card in the file"), std::string::npos) << comments;
}

TEST(FitsExport, UnknownValuesAreLeftOutAndAStrangeDateIsKeptAsAComment) {
    TempDir dir;
    ImageHeader h;  // as after start-up and a load that had no optics
    h.hdrExposure = 1234;
    h.exposureSeconds = 99.0;  // stale from an earlier download: disagrees with the file
    h.hdrExposureCount = 1;
    h.dateText = "02/30/2024";
    h.timeText = "27:10:00";  // an after-noon hour past 23 from the device
    h.noteText = "";
    const PixelArray img = patternImage(5, 3);
    const auto res = encodeFits(h, img, 5, 3);
    ASSERT_EQ(res.error, "");
    const std::string name = dir.name("plain.fits");
    writeBytes(name, res.bytes);

    int errors = 0, warnings = 0;
    const std::string report = runFitsverify(name, errors, warnings);
    EXPECT_EQ(errors, 0) << report;
    EXPECT_EQ(warnings, 0) << report;

    const FitsReadBack fits = readFits(name);
    ASSERT_EQ(fits.status, 0);
    EXPECT_EQ(fits.key("EXPTIME"), "12.340");
    EXPECT_FALSE(fits.has("SNAPEXP"));
    EXPECT_EQ(fits.key("SNAPSHOT"), "1");
    EXPECT_FALSE(fits.has("DATE-OBS"));
    EXPECT_FALSE(fits.has("XPIXSZ"));
    EXPECT_FALSE(fits.has("FOCALLEN"));
    EXPECT_FALSE(fits.has("APTAREA"));
    EXPECT_FALSE(fits.has("EGAIN"));
    EXPECT_FALSE(fits.has("FILTER"));
    bool rawDate = false;
    for (const auto& c : fits.comments)
        rawDate |= c.find("Date and time as recorded: 02/30/2024 27:10:00") != std::string::npos;
    EXPECT_TRUE(rawDate);
}

TEST(FitsExport, NoImageGivesAnErrorAndNoBytes) {
    const auto res = encodeFits(ImageHeader{}, PixelArray{}, 0, 0);
    EXPECT_NE(res.error, "");
    EXPECT_TRUE(res.bytes.empty());
}

TEST(FitsExport, SizeBeyondTheArrayReadsZeroCells) {
    TempDir dir;
    const PixelArray img = patternImage(2, 2);
    const auto res = encodeFits(ImageHeader{}, img, 3, 2);
    ASSERT_EQ(res.error, "");
    const std::string name = dir.name("wide.fits");
    writeBytes(name, res.bytes);
    const FitsReadBack fits = readFits(name);
    ASSERT_EQ(fits.status, 0);
    ASSERT_EQ(fits.samples.size(), 6u);
    EXPECT_EQ(fits.sample(2, 1), img.sample(2, 1));
    EXPECT_EQ(fits.sample(3, 1), 0);
    EXPECT_EQ(fits.sample(3, 2), 0);
}

TEST(FitsExport, DateObsAndExposureSeconds) {
    EXPECT_EQ(fitsDateObs("01/02/2003", "04:05:06"), "2003-01-02T04:05:06");
    EXPECT_EQ(fitsDateObs("02/29/2024", "23:59:59"), "2024-02-29T23:59:59");
    EXPECT_EQ(fitsDateObs("02/29/2023", "12:00:00"), "");
    EXPECT_EQ(fitsDateObs("00/00/00", "00:00:00"), "");
    EXPECT_EQ(fitsDateObs("13/01/2020", "00:00:00"), "");
    EXPECT_EQ(fitsDateObs("12/11/2035", "24:00:00"), "");
    EXPECT_EQ(fitsDateObs("12/11/2035", "1:00:00"), "");
    EXPECT_EQ(fitsDateObs("1a/11/2035", "10:00:00"), "");

    ImageHeader h;
    h.hdrExposure = 50;  // exposure word 60500: 0.5 s in the millisecond form
    h.exposureSeconds = 0.5;
    EXPECT_DOUBLE_EQ(frameExposureSeconds(h), 0.5);
    h.hdrExposure = 12;  // word 60123: 0.123 s, hundredths truncated
    h.exposureSeconds = 0.123;
    EXPECT_DOUBLE_EQ(frameExposureSeconds(h), 0.123);
    h.exposureSeconds = 0.0;  // a loaded file has only the hundredths
    h.hdrExposure = 250;
    EXPECT_DOUBLE_EQ(frameExposureSeconds(h), 2.5);

    EXPECT_EQ(fitsText("a\tb\xe9"
                       "c~"),
              "a?b?c~");
}

TEST(ImageExport, PictureAtTheImageSizeWithTheWindowsGreyMapping) {
    PixelArray img(3, 2);
    img.setCell(1, 1, PixelArray::toCell(100));
    img.setCell(2, 1, PixelArray::toCell(228));
    img.setCell(3, 1, PixelArray::toCell(356));
    img.setCell(1, 2, PixelArray::toCell(65535));
    img.setCell(2, 2, PixelArray::toCell(50));
    const Picture p = imagePicture(img, 4, 2, 100, 256 * 2);  // one grey step per 2 samples
    EXPECT_EQ(p.width, 4);
    EXPECT_EQ(p.height, 2);
    ASSERT_EQ(p.grey.size(), 8u);
    EXPECT_EQ(p.at(0, 0), 0);
    EXPECT_EQ(p.at(1, 0), 64);
    EXPECT_EQ(p.at(2, 0), 128);
    EXPECT_EQ(p.at(3, 0), 0);  // beyond the array: sample 0
    EXPECT_EQ(p.at(0, 1), 255);
    EXPECT_EQ(p.at(1, 1), 0);
    EXPECT_EQ(p.at(2, 1), greyLevel(0, 100, greyStep(512)));

    const Picture empty = imagePicture(img, -1, 5, 0, 256);
    EXPECT_EQ(empty.width, 0);
    EXPECT_TRUE(empty.grey.empty());
}

}  // namespace
}  // namespace kyr::test
