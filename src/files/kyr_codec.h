#pragma once
// The console's own image file (".KYR"): a 2048-byte text header of "key = value" lines,
// then the pixel rows, each delta-coded or plain. Pure functions: bytes in, bytes out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr {

inline constexpr std::size_t kKyrHeaderSize = 2048;
inline constexpr int kKyrMaxWidth = 320;
inline constexpr int kKyrMaxHeight = 200;

// The 2048 header bytes: 33 lines each ended by 10, 13; byte 26 after the End line; spaces.
// Free texts (note, date, time, history, filter) lose bytes 10, 13 and 26 so that they cannot
// break the line structure, and an over-long header is shortened to fit: the note first, then
// the filter, history, time and date texts, each from its end.
std::vector<std::uint8_t> encodeKyrHeader(const ImageHeader& hdr, std::int32_t background,
                                          std::int32_t range, int imageWidth, int imageHeight);

// One compressed row: L (16-bit little-endian) and the L-byte body. Cells are taken as
// unsigned samples. Deltas of -127..127 take one byte, others the escape 128 and the sample;
// a body that would not be shorter than the plain row is written plain.
std::vector<std::uint8_t> compressRow(std::span<const std::int16_t> row);

// All rows 1..height of the compressed pixel data (cells outside the array read as 0).
std::vector<std::uint8_t> encodeKyrPixels(const PixelArray& pixels, int width, int height);

// Header and compressed pixels, the whole file as the console writes it.
std::vector<std::uint8_t> encodeKyrFile(const ImageHeader& hdr, std::int32_t background,
                                        std::int32_t range, const PixelArray& pixels, int width,
                                        int height);

enum class KyrDecodeMode {
    Image,      // the image loader: every key taken, samples stored as cells
    FlatField,  // the flat-field loader: four keys, samples must stay below 32768
};

// Values read from a header; a key absent from the file leaves its value empty.
struct KyrFile {
    std::optional<std::int32_t> background;
    std::optional<std::int32_t> range;
    std::optional<std::int16_t> imageHeight;
    std::optional<std::int16_t> imageWidth;
    std::optional<std::string> dateText;
    std::optional<std::string> timeText;
    std::optional<std::string> noteText;
    std::optional<std::int32_t> hdrExposure;
    std::optional<std::int16_t> hdrExposureCount;
    std::optional<std::int32_t> hdrPedestal;
    std::optional<float> focalLength;
    std::optional<float> apertureArea;
    std::optional<float> temperature;
    // Also read back so that a loaded image saved again keeps them.
    std::optional<float> pixelSize;
    std::optional<std::int32_t> hdrEgainRaw;
    std::optional<std::string> filterName;
    std::optional<std::string> historyText;
    std::optional<std::int16_t> hdrSite;
    std::optional<std::int16_t> readoutMode;
    std::optional<std::int16_t> hdrYear;
    std::string panelText;    // the "Image Information" text built from the header lines
    bool compressed = false;  // a header line contains "Compressed Image"
};

struct KyrLoadResult {
    enum Status { Ok, TooWide, TooTall, Failed };
    Status status = Failed;
    // Filled once the header pass has found its End line (so also for TooWide and TooTall).
    std::string panelText;
    KyrFile values;
    PixelArray pixels;  // width x height of the header, only when status is Ok
};

// Reads a whole file. panelPrefix starts the panel text in Image mode (the file name and a
// line break); FlatField mode starts it empty. Malformed input ends in Failed: a header value
// that does not convert or leaves its range, no End line, a missing or negative size, rows
// that end early or that step outside 0..65535.
KyrLoadResult decodeKyrFile(std::span<const std::uint8_t> bytes, const std::string& panelPrefix,
                            KyrDecodeMode mode);

// The data pass alone: pixel bytes (from file offset 2048 on) into a width x height array.
// Returns false on malformed data; `out` is then unspecified.
bool decodeKyrPixels(std::span<const std::uint8_t> data, int width, int height, bool compressed,
                     KyrDecodeMode mode, PixelArray& out);

}  // namespace kyr
