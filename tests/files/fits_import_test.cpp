// Opening FITS files: the console's own export back bit for bit, files as other programs
// write them (made here with CFITSIO), and files that must be refused with a reason.
#include <gtest/gtest.h>

#include <fitsio.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "fakes/temp_dir.h"
#include "files/fits_export.h"
#include "files/fits_import.h"

namespace kyr {
namespace {

std::vector<std::uint8_t> fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A FITS file of `type` (CFITSIO's BYTE_IMG, ...) with the data rows in file order, values
// written as stored (no scaling), then the given text keywords; with no `keys` at all, the
// image is put in an extension after an empty primary array.
std::vector<std::uint8_t> foreignFits(const test::TempDir& dir, int type, std::vector<long> axes,
                                      std::vector<double> stored,
                                      std::vector<std::pair<std::string, std::string>> keys = {},
                                      double bscale = 1, double bzero = 0) {
    const std::string name = dir.name("foreign.fits");
    std::filesystem::remove(name);
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, name.c_str(), &status);
    if (keys.empty() && bscale == 1) fits_create_img(f, type, 0, nullptr, &status);
    fits_create_img(f, type, static_cast<int>(axes.size()), axes.data(), &status);
    if (bscale != 1 || bzero != 0) {
        fits_update_key_dbl(f, "BSCALE", bscale, -15, nullptr, &status);
        fits_update_key_dbl(f, "BZERO", bzero, -15, nullptr, &status);
        fits_set_bscale(f, 1, 0, &status);
    }
    for (auto& [k, v] : keys) fits_update_key_str(f, k.c_str(), v.data(), nullptr, &status);
    fits_write_img(f, TDOUBLE, 1, static_cast<LONGLONG>(stored.size()), stored.data(), &status);
    fits_close_file(f, &status);
    EXPECT_EQ(status, 0);
    return fileBytes(name);
}

// Samples of image row r, columns 1..width.
std::vector<std::int32_t> rowOf(const FitsImage& img, int r) {
    std::vector<std::int32_t> out;
    for (int c = 1; c <= img.width; ++c) out.push_back(img.pixels.sample(c, r));
    return out;
}

TEST(FitsImport, OwnExportComesBackBitExactWithItsHeader) {
    test::TempDir dir;
    const int w = 37, h = 23;
    PixelArray img(w, h);
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c)
            img.setCell(c, r, PixelArray::toCell((c * 2731 + r * 977) % 65536));
    img.setCell(1, 1, PixelArray::toCell(65535));
    ImageHeader hdr;
    hdr.dateText = "12/11/2035";
    hdr.timeText = "15:42:05";
    hdr.hdrExposure = 250;
    hdr.exposureSeconds = 2.5;
    hdr.hdrExposureCount = 4;
    hdr.temperature = -10.25f;
    hdr.unitsMetric = true;
    hdr.focalLength = 254.0f;
    hdr.apertureArea = 64.516f;
    hdr.pixelSize = 0.0074f;
    hdr.hdrEgainRaw = 250;
    hdr.filterName = "Red";
    hdr.hdrPedestal = 100;
    hdr.noteText = std::string(65, 'a') + " and a second card's worth, ending in a space ";
    const auto res = encodeFits(hdr, img, w, h);
    ASSERT_EQ(res.error, "");

    const FitsReadResult back = decodeFits(res.bytes);
    ASSERT_EQ(back.error, "");
    const FitsImage& f = back.image;
    EXPECT_TRUE(f.ownExport);
    ASSERT_EQ(f.width, w);
    ASSERT_EQ(f.height, h);
    EXPECT_TRUE(f.pixels == img);
    EXPECT_EQ(f.bitpix, 16);
    EXPECT_EQ(f.saturation, 65535);
    EXPECT_EQ(f.conversion, "");
    EXPECT_EQ(f.header.dateText, "12/11/2035");
    EXPECT_EQ(f.header.hdrYear, 2035);
    EXPECT_EQ(f.header.timeText, "15:42:05");
    EXPECT_EQ(f.header.hdrExposure, 250);
    EXPECT_EQ(f.header.hdrExposureCount, 4);
    EXPECT_FLOAT_EQ(f.header.temperature, -10.25f);
    EXPECT_FLOAT_EQ(f.header.focalLength, 254.0f);
    EXPECT_FLOAT_EQ(f.header.apertureArea, 64.516f);
    EXPECT_FLOAT_EQ(f.header.pixelSize, 0.0074f);
    EXPECT_EQ(f.header.hdrEgainRaw, 250);
    EXPECT_EQ(f.header.filterName, "Red");
    EXPECT_EQ(f.header.hdrPedestal, 100);
    EXPECT_EQ(f.header.noteText, std::string(65, 'a') + " and a second card's worth, ending in a space");

    // From disk the same; a date the device gave that is no date comes back as it was.
    hdr.dateText = "02/30/2024";
    hdr.timeText = "27:10:00";
    hdr.noteText = "";
    const std::string name = dir.name("own.fits");
    const auto again = encodeFits(hdr, img, w, h).bytes;
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(again.data()), static_cast<std::streamsize>(again.size()));
    const FitsReadResult disk = readFitsFile(name);
    ASSERT_EQ(disk.error, "");
    EXPECT_TRUE(disk.image.pixels == img);
    EXPECT_EQ(disk.image.header.dateText, "02/30/2024");
    EXPECT_EQ(disk.image.header.timeText, "27:10:00");
    EXPECT_EQ(disk.image.header.noteText, "");
}

TEST(FitsImport, OtherProgramsFilesInEveryTypeAndRowOrder) {
    test::TempDir dir;
    // 8-bit, no ROWORDER: the first row of the data is the bottom of the image.
    auto f = decodeFits(foreignFits(dir, BYTE_IMG, {3, 2}, {0, 1, 2, 253, 254, 255}, {{"OBJECT", "M1"}}));
    ASSERT_EQ(f.error, "");
    EXPECT_FALSE(f.image.ownExport);
    EXPECT_EQ(f.image.bitpix, 8);
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{253, 254, 255}));
    EXPECT_EQ(rowOf(f.image, 2), (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(f.image.saturation, 255);
    EXPECT_EQ(f.image.header.hdrExposureCount, 1);

    // 32-bit, TOP-DOWN: values beyond the samples clamped and counted.
    f = decodeFits(foreignFits(dir, LONG_IMG, {2, 2}, {-5, 70000, 1234, 65535},
                               {{"ROWORDER", "TOP-DOWN"}, {"DATE-OBS", "2026-01-02"},
                                {"TIME-OBS", "03:04:05.25"}}));
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{0, 65535}));
    EXPECT_EQ(rowOf(f.image, 2), (std::vector<std::int32_t>{1234, 65535}));
    EXPECT_EQ(f.image.clipped, 2);
    EXPECT_EQ(f.image.saturation, 65535);
    EXPECT_EQ(f.image.header.dateText, "01/02/2026");
    EXPECT_EQ(f.image.header.timeText, "03:04:05");

    // 16-bit with BSCALE 2, BZERO 1000, BOTTOM-UP: stored 0..5 are 1000..1010.
    f = decodeFits(foreignFits(dir, SHORT_IMG, {3, 2}, {0, 1, 2, 3, 4, 5},
                               {{"ROWORDER", "BOTTOM-UP"}}, 2, 1000));
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{1006, 1008, 1010}));
    EXPECT_EQ(rowOf(f.image, 2), (std::vector<std::int32_t>{1000, 1002, 1004}));
    EXPECT_EQ(f.image.saturation, 65535);  // 32767 * 2 + 1000 is beyond the samples

    // Floats within the samples are rounded (halves to even), NaN is 0.
    f = decodeFits(foreignFits(dir, FLOAT_IMG, {4, 1}, {2.5, 3.5, NAN, 65535},
                               {{"ROWORDER", "TOP-DOWN"}}));
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{2, 4, 0, 65535}));
    EXPECT_EQ(f.image.undefined, 1);
    EXPECT_EQ(f.image.conversion, "");
    // Normalised floats scaled by 65535; others mapped from their extent; BSCALE/BZERO first.
    f = decodeFits(foreignFits(dir, DOUBLE_IMG, {3, 1}, {0, 0.5, 1}));
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{0, 32768, 65535}));
    EXPECT_EQ(f.image.conversion, "values 0..1 scaled to 0..65535");
    f = decodeFits(foreignFits(dir, FLOAT_IMG, {3, 1}, {-50, 0, 50}, {}, 2, -100));
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{0, 32768, 65535}));
    EXPECT_EQ(f.image.conversion, "values -200..0 mapped onto 0..65535");
    EXPECT_EQ(f.image.clipped, 0);

    // A third axis of length 1 is still a 2-D image, here in an extension after an empty
    // primary array.
    f = decodeFits(foreignFits(dir, SHORT_IMG, {2, 1, 1}, {7, 8}));
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(rowOf(f.image, 1), (std::vector<std::int32_t>{7, 8}));
}

// A header of the given cards alone, padded to a block.
std::vector<std::uint8_t> headerOnly(const std::vector<std::string>& cards) {
    std::string text;
    for (std::string c : cards) {
        c.resize(80, ' ');
        text += c;
    }
    text.resize(2880, ' ');
    return {text.begin(), text.end()};
}

TEST(FitsImport, BadFilesAreRefusedWithTheirReason) {
    test::TempDir dir;
    PixelArray img(40, 40);
    const auto good = encodeFits(ImageHeader{}, img, 40, 40).bytes;
    ASSERT_EQ(good.size(), 2880u * 3);  // header, then 3200 bytes of data in two blocks

    auto error = [](std::vector<std::uint8_t> bytes) { return decodeFits(bytes).error; };
    EXPECT_EQ(error({good.begin(), good.begin() + 2880 + 3199}),
              "the FITS file is truncated: its image data ends early");
    EXPECT_EQ(error({good.begin(), good.begin() + 2880 + 3200}), "");  // unpadded: complete
    EXPECT_EQ(error({good.begin(), good.begin() + 1000}),
              "the FITS file is truncated: its header ends early");
    std::vector<std::string> longHeader(40, "COMMENT the header goes on past the file's end");
    longHeader.insert(longHeader.begin(), {"SIMPLE  =                    T",
                                           "BITPIX  =                   16",
                                           "NAXIS   =                    0"});
    EXPECT_EQ(error(headerOnly(longHeader)), "the FITS file is truncated: its header ends early");
    EXPECT_EQ(error({}), "the file is not a FITS file");
    EXPECT_EQ(error({'P', '5', ' ', '1', ' ', '1'}), "the file is not a FITS file");

    EXPECT_EQ(error(foreignFits(dir, SHORT_IMG, {4, 3, 2}, std::vector<double>(24, 1.0))),
              "the FITS image has 3 axes (4 x 3 x 2): only 2-D images can be opened");
    EXPECT_EQ(error(foreignFits(dir, SHORT_IMG, {4}, std::vector<double>(4, 1.0))),
              "the FITS image has 1 axis (4): only 2-D images can be opened");
    EXPECT_EQ(error(headerOnly({"SIMPLE  =                    T", "BITPIX  =                   16",
                                "NAXIS   =                    2", "NAXIS1  =               100000",
                                "NAXIS2  =                  200", "END"})),
              "the FITS image is 100000 x 200 pixels: the largest that can be opened is 8192 x 8192");
    EXPECT_EQ(error(headerOnly({"SIMPLE  =                    T", "BITPIX  =                    8",
                                "NAXIS   =                    0", "END"})),
              "the FITS file holds no image");
    EXPECT_EQ(readFitsFile(dir.name("absent.fits")).error, "the file cannot be read");
    // Read where it lies, and an unpadded last block too.
    const std::string unpadded = dir.name("unpadded.fits");
    std::ofstream(unpadded, std::ios::binary).write(reinterpret_cast<const char*>(good.data()), 2880 + 3200);
    EXPECT_EQ(readFitsFile(unpadded).image.width, 40);
    std::filesystem::resize_file(unpadded, 2880 + 3199);
    EXPECT_EQ(readFitsFile(unpadded).error, "the FITS file is truncated: its image data ends early");
}

}  // namespace
}  // namespace kyr
