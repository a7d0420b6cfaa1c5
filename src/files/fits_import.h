#pragma once
// Opening FITS images: a 2-D image of 8, 16, 32 or 64-bit integers or 32/64-bit floats (the
// primary array, or the first image extension when the primary one is empty) becomes the
// console's 16-bit samples, with what its keywords tell about the image header.
//
// Samples: BZERO and BSCALE are applied. Integer data is rounded (halves to even) and
// clamped to 0..65535. Float data is taken as it is (rounded) when it lies within 0..65535,
// scaled by 65535 when it lies within 0..1 (normalised images), and otherwise mapped
// linearly from its lowest..highest value onto 0..65535. Undefined values (NaN, BLANK) are 0.
// Rows: ROWORDER 'TOP-DOWN' puts the first row of the data at the top; 'BOTTOM-UP' (what the
// console's export writes) or no ROWORDER at all (FITS's own convention, how viewers draw a
// file without it) puts it at the bottom.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr {

inline constexpr int kFitsMaxSide = 8192;  // the largest image opened, each way

struct FitsImage {
    PixelArray pixels;  // width x height, row 1 at the top
    int width = 0;
    int height = 0;
    // The keywords the console's export writes (DATE-OBS, EXPTIME, SNAPSHOT, CCD-TEMP,
    // FOCALLEN, APTAREA, XPIXSZ, EGAIN, FILTER, PEDESTAL, the note), where the file has them;
    // focal length and aperture in centimetres. Size fields are the image's.
    ImageHeader header;
    bool ownExport = false;  // written by the console's FITS export (its CREATOR card)
    int bitpix = 0;          // as stored: 8, 16, 32, 64, -32 or -64
    // The highest sample the data can reach once converted (255 for 8-bit data, 32767 for
    // signed 16-bit data without BZERO, else 65535; the SATURATE card when it has one and the
    // samples were taken as they are): the saturation limit of the focus aid.
    std::int32_t saturation = 65535;
    std::string conversion;     // how float values became samples; "" when taken as they are
    std::int64_t clipped = 0;   // integer values outside 0..65535 set to the nearer end
    std::int64_t undefined = 0; // NaN or BLANK values, shown as 0
    std::vector<std::string> cards;  // the image HDU's header, one card a line, for showing
};

struct FitsReadResult {
    std::string error;  // "" on success, else why the file cannot be opened (a sentence part)
    FitsImage image;    // only when error is ""
};

// A whole FITS file in memory.
FitsReadResult decodeFits(std::span<const std::uint8_t> bytes);

// A FITS file on disk, read where it lies (only the image HDU's rows are read).
FitsReadResult readFitsFile(const std::filesystem::path& path);

}  // namespace kyr
