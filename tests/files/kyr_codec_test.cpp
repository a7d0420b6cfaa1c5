#include "files/kyr_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kyr {
namespace {

using Bytes = std::vector<std::uint8_t>;

ImageHeader sampleHeader() {
    ImageHeader h;
    h.hdrExposure = 250;
    h.hdrExposureCount = 4;
    h.focalLength = 101.6f;    // cm: 40 inches
    h.apertureArea = 64.516f;  // cm^2: 10 square inches
    h.unitsMetric = true;
    h.pixelSize = 0.0074f;
    h.readoutMode = 1;
    h.dateText = "07/12/26";
    h.hdrYear = 2026;
    h.timeText = "21:15:00";
    h.temperature = -5.25f;
    h.hdrSite = 3;
    h.hdrEgainRaw = 230;
    h.hdrPedestal = 100;
    h.filterName = "Red";
    h.historyText = "g";
    h.noteText = "M42 from the roof";
    return h;
}

Bytes headerFromLines(const std::vector<std::string>& lines) {
    Bytes b;
    for (const auto& l : lines) {
        b.insert(b.end(), l.begin(), l.end());
        b.push_back(10);
        b.push_back(13);
    }
    b.push_back(26);
    b.resize(2048, ' ');
    return b;
}

std::string str(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

Bytes withData(Bytes header, const Bytes& data) {
    header.insert(header.end(), data.begin(), data.end());
    return header;
}

// A plain-text header of the given lines (ended 10, 13) followed by pixel bytes.
Bytes fileOf(const std::vector<std::string>& lines, const Bytes& data) {
    return withData(headerFromLines(lines), data);
}

TEST(KyrHeader, SavedHeaderMatchesTheLinesByteForByte) {
    const Bytes got = encodeKyrHeader(sampleHeader(), -20, 1500, 320, 200);
    const Bytes want = headerFromLines({
        "KYR Compressed Image",
        "File_version = 3",
        "Data_version = 1",
        "Exposure =  250",
        "Focal_length = 40.00",
        "Aperture = 10.000",
        "Response_factor = 2000.000",
        "Note = M42 from the roof",
        "Background = -20",
        "Range =  1500",
        "Height =  200",
        "Width =  320",
        "Date = 07/12/26",
        "Time = 21:15:00",
        "Exposure_state = 356",
        "Temperature = -5.25",
        "Number_exposures =  4",
        "Each_exposure =  250",
        "History = g",
        "Observer = Site 3",
        "X_pixel_size = 0.0074",
        "Y_pixel_size = 0.0074",
        "Pedestal =  100",
        "E_gain = 2.3",
        "User_1 = KYR Server Ver 1.0",
        "User_2 = -",
        "User_3 = -",
        "User_4 = Y2KYear =  2026",
        "Filter = Red",
        "Readout_mode =  1",
        "Track_time = 0",
        "Sat_level = 32767",
        "End",
    });
    ASSERT_EQ(got.size(), 2048u);
    EXPECT_EQ(str(got), str(want));

    // Inches are written as they are; a value below 1 keeps its leading zero.
    ImageHeader inches = sampleHeader();
    inches.unitsMetric = false;
    inches.focalLength = 0.5f;
    inches.apertureArea = 0.25f;
    const std::string text = str(encodeKyrHeader(inches, 0, 0, 1, 1));
    EXPECT_NE(text.find("\n\rFocal_length = 0.50\n\rAperture = 0.250\n\r"), std::string::npos);
    EXPECT_NE(text.find("\n\rBackground =  0\n\r"), std::string::npos);
}

TEST(KyrHeader, FreeTextsCannotBreakOrOverflowTheHeader) {
    ImageHeader h = sampleHeader();
    h.noteText = "two\r\nlines\x1a";
    h.filterName = "Cl\rear";
    std::string text = str(encodeKyrHeader(h, 0, 0, 8, 8));
    EXPECT_NE(text.find("\n\rNote = twolines\n\r"), std::string::npos);
    EXPECT_NE(text.find("\n\rFilter = Clear\n\r"), std::string::npos);

    // An over-long note is shortened so that the End line and byte 26 still fit.
    h.noteText = std::string(3000, 'n');
    h.filterName = std::string(500, 'f');
    const Bytes longHeader = encodeKyrHeader(h, 0, 0, 8, 8);
    ASSERT_EQ(longHeader.size(), 2048u);
    EXPECT_EQ(longHeader.back(), 26);
    text = str(longHeader);
    EXPECT_EQ(text.substr(2048 - 6), "End\n\r\x1a");
    EXPECT_NE(text.find("\n\rFilter = " + std::string(500, 'f') + "\n\r"), std::string::npos);

    // Then the other free texts, once the note is gone.
    h.noteText = "";
    h.filterName = std::string(2000, 'f');
    h.dateText = std::string(2000, 'd');
    text = str(encodeKyrHeader(h, 0, 0, 8, 8));
    ASSERT_EQ(text.size(), 2048u);
    EXPECT_EQ(text.substr(2048 - 6), "End\n\r\x1a");
    EXPECT_NE(text.find("\n\rFilter = \n\r"), std::string::npos);

    // Such a header reads back, with the shortened note.
    h = sampleHeader();
    h.noteText = std::string(3000, 'n');
    PixelArray px(2, 1);
    const auto loaded = decodeKyrFile(encodeKyrFile(h, 0, 0, px, 2, 1), "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    ASSERT_TRUE(loaded.values.noteText);
    EXPECT_GT(loaded.values.noteText->size(), 1000u);
    EXPECT_EQ(loaded.values.noteText->find_first_not_of('n'), std::string::npos);
}

std::vector<std::int16_t> cells(std::initializer_list<std::int32_t> samples) {
    std::vector<std::int16_t> v;
    for (auto s : samples) v.push_back(PixelArray::toCell(s));
    return v;
}

TEST(KyrRows, CompressionEdgeCases) {
    // Rise by 127: one byte; by 128: the escape and the sample.
    EXPECT_EQ(compressRow(cells({1000, 1127, 1255, 1255, 1255, 1255, 1255, 1255})),
              (Bytes{11, 0, 0xE8, 0x03, 127, 128, 0xE7, 0x04, 0, 0, 0, 0, 0}));
    // Fall by 127: the byte 129; fall by exactly 128: escaped.
    EXPECT_EQ(compressRow(cells({1000, 873, 745, 745, 745, 745, 745, 745})),
              (Bytes{11, 0, 0xE8, 0x03, 129, 128, 0xE9, 0x02, 0, 0, 0, 0, 0}));
    // Samples above 32767 are coded unsigned, and a step across 0 / 65535 is a big step.
    EXPECT_EQ(compressRow(cells({65535, 65534, 0, 0})),
              (Bytes{7, 0, 0xFF, 0xFF, 255, 128, 0, 0, 0}));
    // A flat row: width + 1 bytes.
    const std::vector<std::int16_t> flat(320, 77);
    const Bytes f = compressRow(flat);
    ASSERT_EQ(f.size(), 2u + 321u);
    EXPECT_EQ(f[0] | (f[1] << 8), 321);
    // Coding exactly as long as the plain row (2 + 3 + 3 + 1 + 1 = 2 x 5): written plain.
    EXPECT_EQ(compressRow(cells({0, 1000, 2000, 2001, 2002})),
              (Bytes{10, 0, 0, 0, 0xE8, 0x03, 0xD0, 0x07, 0xD1, 0x07, 0xD2, 0x07}));
    // One byte shorter than plain (11 < 12): coded.
    EXPECT_EQ(compressRow(cells({0, 1000, 2000, 2001, 2002, 2003})),
              (Bytes{11, 0, 0, 0, 128, 0xE8, 0x03, 128, 0xD0, 0x07, 1, 1, 1}));
    // Coding longer than plain: plain.
    EXPECT_EQ(compressRow(cells({0, 1000, 0})), (Bytes{6, 0, 0, 0, 0xE8, 0x03, 0, 0}));
    // Width 1 is always plain (2 bytes), and an empty row has L = 0.
    EXPECT_EQ(compressRow(cells({40000})), (Bytes{2, 0, 0x40, 0x9C}));
    EXPECT_EQ(compressRow({}), (Bytes{0, 0}));
}

PixelArray starField(int w, int h) {
    PixelArray px(w, h);
    std::uint32_t seed = 12345;
    for (int r = 1; r <= h; ++r) {
        for (int c = 1; c <= w; ++c) {
            seed = seed * 1103515245u + 12345u;
            std::int32_t v = 900 + static_cast<std::int32_t>((seed >> 16) % 60);
            if ((c * 7 + r * 3) % 97 == 0) v = 60000;  // bright, over 32767
            if ((c + r) % 53 == 0) v = 300 + static_cast<std::int32_t>((seed >> 8) % 500);
            px.setCell(c, r, PixelArray::toCell(v));
        }
    }
    return px;
}

TEST(KyrFile, RoundTripsKeepPixelsAndHeaderValues) {
    for (auto [w, h] : {std::pair{320, 200}, {1, 1}, {17, 3}, {0, 5}, {5, 0}}) {
        const PixelArray px = starField(w, h);
        const Bytes file = encodeKyrFile(sampleHeader(), 950, 300, px, w, h);
        const auto loaded = decodeKyrFile(file, "C:\\a.KYR\r\n", KyrDecodeMode::Image);
        ASSERT_EQ(loaded.status, KyrLoadResult::Ok) << w << "x" << h;
        EXPECT_TRUE(loaded.pixels == px) << w << "x" << h;
        EXPECT_TRUE(loaded.values.compressed);
    }
    const auto loaded =
        decodeKyrFile(encodeKyrFile(sampleHeader(), -20, 1500, starField(3, 2), 3, 2),
                      "C:\\a.KYR\r\n", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    const KyrFile& v = loaded.values;
    EXPECT_EQ(v.background, -20);
    EXPECT_EQ(v.range, 1500);
    EXPECT_EQ(v.imageWidth, 3);
    EXPECT_EQ(v.imageHeight, 2);
    EXPECT_EQ(v.dateText, "07/12/26");
    EXPECT_EQ(v.timeText, "21:15:00");
    EXPECT_EQ(v.noteText, "M42 from the roof");
    EXPECT_EQ(v.hdrExposure, 250);
    EXPECT_EQ(v.hdrExposureCount, 4);
    EXPECT_EQ(v.hdrPedestal, 100);
    EXPECT_EQ(v.focalLength, 40.0f);  // the file's units (inches)
    EXPECT_EQ(v.apertureArea, 10.0f);
    EXPECT_EQ(v.temperature, -5.25f);
    // The panel: the prefix, then each line without its last character (here the LF).
    const std::string start = "C:\\a.KYR\r\nKYR Compressed Image\r\nFile_version = 3\r\nData_";
    EXPECT_EQ(loaded.panelText.substr(0, start.size()), start);
    EXPECT_EQ(loaded.panelText.substr(loaded.panelText.size() - 24),
              "Sat_level = 32767\r\nEnd\r\n");
    EXPECT_EQ(v.panelText, loaded.panelText);
}

const std::vector<std::string> kMinimal = {"KYR Compressed Image", "Width =  2", "Height =  1",
                                           "End"};

TEST(KyrFile, UncompressedAndHandMadeRows) {
    // No "Compressed Image": the cells are plain, row after row.
    auto loaded = decodeKyrFile(fileOf({"KYR Image", "Width =  2", "Height =  2", "End"},
                                       {1, 0, 2, 0, 0x40, 0x9C, 0xFF, 0xFF}),
                                "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_FALSE(loaded.values.compressed);
    EXPECT_EQ(loaded.pixels.cell(1, 1), 1);
    EXPECT_EQ(loaded.pixels.sample(1, 2), 40000);
    EXPECT_EQ(loaded.pixels.cell(2, 2), -1);

    // A note containing "Compressed Image" marks a file compressed.
    loaded = decodeKyrFile(
        fileOf({"KYR Image", "Note = Compressed Image test", "Width =  2", "Height =  1", "End"},
               {3, 0, 10, 0, 5}),
        "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_TRUE(loaded.values.compressed);
    EXPECT_EQ(loaded.pixels.cell(2, 1), 15);

    // Deltas apply to the unsigned sample; the escape sets the sample.
    loaded = decodeKyrFile(fileOf({"KYR Compressed Image", "Width =  4", "Height =  1", "End"},
                                  {7, 0, 0x40, 0x9C, 0x81, 128, 0x10, 0x00, 0x7F}),
                           "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.pixels.sample(2, 1), 40000 - 127);
    EXPECT_EQ(loaded.pixels.sample(3, 1), 16);
    EXPECT_EQ(loaded.pixels.sample(4, 1), 16 + 127);

    // Bytes after the last row, and body bytes past what the columns need, are ignored.
    loaded = decodeKyrFile(fileOf(kMinimal, {5, 0, 1, 0, 1, 9, 7, 7, 7}), "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.pixels.cell(2, 1), 2);
}

TEST(KyrFile, HeaderPassRules) {
    // Leading blanks and nearest-integer (halves to even) conversions; keys need " =".
    auto loaded = decodeKyrFile(fileOf({"KYR Compressed Image", "Background =     12.5",
                                        "Range = 13.5", "Exposure_state = 356", "Exposure =  1e3",
                                        "Width =  2", "Height =  1", "Widthx = 7", "End"},
                                       {4, 0, 1, 0, 2, 0}),
                                "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.values.background, 12);
    EXPECT_EQ(loaded.values.range, 14);
    EXPECT_EQ(loaded.values.hdrExposure, 1000);
    EXPECT_FALSE(loaded.values.hdrExposureCount);  // absent keys stay empty
    // Lines shorter than 3 characters after the drop are skipped, also for the panel.
    loaded =
        decodeKyrFile(fileOf({"KYR Compressed Image", "ab", "", "Width =  2", "Height =  1", "End"},
                             {4, 0, 1, 0, 2, 0}),
                      "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.panelText, "KYR Compressed Image\r\nWidth =  2\r\nHeight =  1\r\nEnd\r\n");

    // Conversion failures: out of 16 bits, not a number, an empty value.
    for (const char* bad : {"Width =  32768", "Width =  12x", "Width = ", "Width =  --1",
                            "Background =  3000000000", "Focal_length =  1e39", "Exposure =  3e9"}) {
        std::vector<std::string> lines = kMinimal;
        lines.insert(lines.begin() + 1, bad);
        EXPECT_EQ(decodeKyrFile(fileOf(lines, {4, 0, 1, 0, 2, 0}), "", KyrDecodeMode::Image).status,
                  KyrLoadResult::Failed)
            << bad;
    }
    // Lines shown in the panel only never fail a load; clean ones are still taken over.
    for (const char* shown : {"E_gain = n/a", "Observer = Site XYZ", "X_pixel_size = ?",
                              "Readout_mode = x", "User_4 = Y2KYear = abcd"}) {
        std::vector<std::string> lines = kMinimal;
        lines.insert(lines.begin() + 1, shown);
        loaded = decodeKyrFile(fileOf(lines, {4, 0, 1, 0, 2, 0}), "", KyrDecodeMode::Image);
        EXPECT_EQ(loaded.status, KyrLoadResult::Ok) << shown;
        EXPECT_NE(loaded.panelText.find(shown), std::string::npos) << shown;
    }
    std::vector<std::string> clean = kMinimal;
    clean.insert(clean.begin() + 1, "Readout_mode =  2");
    EXPECT_EQ(decodeKyrFile(fileOf(clean, {4, 0, 1, 0, 2, 0}), "", KyrDecodeMode::Image).values.readoutMode, 2);

    // A header written with CR LF loses every line's last character: "En" is ignored and
    // the load fails for want of an End line.
    auto crlfFile = [](const std::string& text) {
        Bytes file(text.begin(), text.end());
        file.resize(2048, ' ');
        file.insert(file.end(), {4, 0, 1, 0, 2, 0});
        return file;
    };
    const std::string crlf = "KYR Compressed Image\r\nWidth =  20\r\nHeight =  10\r\n";
    EXPECT_EQ(decodeKyrFile(crlfFile(crlf + "End\r\n"), "", KyrDecodeMode::Image).status,
              KyrLoadResult::Failed);
    // The same lines with a fourth character on End: it loads, as 2 x 1 ("20" lost its "0").
    loaded = decodeKyrFile(crlfFile(crlf + "Endx\r\n"), "", KyrDecodeMode::Image);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.values.imageWidth, 2);
    EXPECT_EQ(loaded.values.imageHeight, 1);
    EXPECT_EQ(loaded.panelText, "KYR Compressed Imag\r\nWidth =  2\r\nHeight =  1\r\nEnd\r\n");

    // The file ending before End, an empty file, no size keys.
    const Bytes header = headerFromLines(kMinimal);
    EXPECT_EQ(
        decodeKyrFile(Bytes(header.begin(), header.begin() + 40), "", KyrDecodeMode::Image).status,
        KyrLoadResult::Failed);
    EXPECT_EQ(decodeKyrFile({}, "", KyrDecodeMode::Image).status, KyrLoadResult::Failed);
    EXPECT_EQ(
        decodeKyrFile(fileOf({"KYR Compressed Image", "End"}, {}), "", KyrDecodeMode::Image).status,
        KyrLoadResult::Failed);
}

TEST(KyrFile, SizeLimitsAndMalformedData) {
    auto withSize = [](int w, int h) {
        return std::vector<std::string>{
            "KYR Compressed Image", "Note = n",
            "Width = " + std::string(w < 0 ? "" : " ") + std::to_string(w),
            "Height = " + std::string(h < 0 ? "" : " ") + std::to_string(h), "End"};
    };
    const PixelArray big = starField(320, 200);
    auto full = withData(headerFromLines(withSize(320, 200)), encodeKyrPixels(big, 320, 200));
    EXPECT_EQ(decodeKyrFile(full, "", KyrDecodeMode::Image).status, KyrLoadResult::Ok);

    auto tooWide = decodeKyrFile(fileOf(withSize(321, 10), {}), "f\r\n", KyrDecodeMode::Image);
    EXPECT_EQ(tooWide.status, KyrLoadResult::TooWide);
    EXPECT_EQ(tooWide.panelText,
              "f\r\nKYR Compressed Image\r\nNote = n\r\nWidth =  321\r\n"
              "Height =  10\r\nEnd\r\n");
    EXPECT_EQ(decodeKyrFile(fileOf(withSize(10, 201), {}), "", KyrDecodeMode::Image).status,
              KyrLoadResult::TooTall);
    EXPECT_EQ(decodeKyrFile(fileOf(withSize(400, 400), {}), "", KyrDecodeMode::Image).status,
              KyrLoadResult::TooWide);
    EXPECT_EQ(decodeKyrFile(fileOf(withSize(-1, 1), {}), "", KyrDecodeMode::Image).status,
              KyrLoadResult::Failed);
    EXPECT_EQ(decodeKyrFile(fileOf(withSize(1, -1), {}), "", KyrDecodeMode::Image).status,
              KyrLoadResult::Failed);

    // Every truncation of a good file fails cleanly.
    const Bytes good = encodeKyrFile(sampleHeader(), 0, 0, starField(20, 6), 20, 6);
    for (std::size_t n = 0; n < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_EQ(decodeKyrFile(cut, "", KyrDecodeMode::Image).status, KyrLoadResult::Failed) << n;
    }
    // A header shorter than 2048 bytes with no data when rows are needed.
    EXPECT_EQ(
        decodeKyrFile(Bytes{'E', 'n', 'd', 10, 'W', 'i', 'd', 't', 'h', ' ', '=', ' ', '1', 10, 13},
                      "", KyrDecodeMode::Image)
            .status,
        KyrLoadResult::Failed);

    for (const Bytes& rows : std::vector<Bytes>{{9, 0, 1, 0, 2, 0},  // L runs past the file
                                                {3, 0, 1, 0, 128},   // escape cut short by L
                                                {1, 0, 7},           // no room for the first sample
                                                {2, 0, 1, 0},        // body too short for column 2
                                                {3, 0, 10, 0, 0xF0},          // delta below 0
                                                {5, 0, 0xFF, 0xFF, 1, 0, 0},  // delta above 65535
                                                {4}}) {                       // L itself cut
        EXPECT_EQ(decodeKyrFile(fileOf(kMinimal, rows), "", KyrDecodeMode::Image).status,
                  KyrLoadResult::Failed)
            << int(rows[0]);
    }
}

TEST(KyrFile, FlatFieldModeDifferences) {
    const std::vector<std::string> lines = {
        "KYR Compressed Image", "Note = x",   "Exposure =  junk", "Background =  1000",
        "Range =  200",         "Width =  6", "Height =  2",      "End"};
    // Row 1 falls below 0 by deltas: such a sample becomes 32767 and decoding goes on from
    // the negative value (-100 + 127 = 27). Row 2 is plain.
    const Bytes rows = {7, 0, 100, 0, 156, 156, 127, 127, 127, 12, 0, 1,
                        0, 2, 0,   3, 0,   4,   0,   5,   0,   6,  0};
    auto loaded = decodeKyrFile(fileOf(lines, rows), "ignored\r\n", KyrDecodeMode::FlatField);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.panelText.substr(0, 22), "KYR Compressed Image\r\n");
    EXPECT_EQ(loaded.values.background, 1000);
    EXPECT_FALSE(loaded.values.noteText);  // only the four size and contrast keys
    EXPECT_FALSE(loaded.values.hdrExposure);
    const std::vector<std::int16_t> row1(loaded.pixels.row(1).begin(), loaded.pixels.row(1).end());
    EXPECT_EQ(row1, (std::vector<std::int16_t>{100, 0, 32767, 27, 154, 281}));
    EXPECT_EQ(loaded.pixels.cell(6, 2), 6);
    // The image loader fails on the bad Exposure value and on the negative sample.
    EXPECT_EQ(decodeKyrFile(fileOf(lines, rows), "", KyrDecodeMode::Image).status,
              KyrLoadResult::Failed);

    // A sample above 32767 fails the flat field (delta row, plain row or first sample).
    for (const Bytes& bad :
         std::vector<Bytes>{{3, 0, 0xFF, 0x7F, 1}, {4, 0, 0, 0x80, 0, 0}, {3, 0, 0x00, 0x90, 0}}) {
        const std::vector<std::string> small = {"KYR Compressed Image", "Width =  2", "Height =  1",
                                                "End"};
        EXPECT_EQ(decodeKyrFile(fileOf(small, bad), "", KyrDecodeMode::FlatField).status,
                  KyrLoadResult::Failed);
        EXPECT_EQ(decodeKyrFile(fileOf(small, bad), "", KyrDecodeMode::Image).status,
                  KyrLoadResult::Ok);
    }
    // Uncompressed flat cells are stored as read.
    loaded = decodeKyrFile(fileOf({"KYR Image", "Width =  1", "Height =  1", "End"}, {0, 0x90}), "",
                           KyrDecodeMode::FlatField);
    ASSERT_EQ(loaded.status, KyrLoadResult::Ok);
    EXPECT_EQ(loaded.pixels.cell(1, 1), static_cast<std::int16_t>(0x9000));
}

}  // namespace
}  // namespace kyr
