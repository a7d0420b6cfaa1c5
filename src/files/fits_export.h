#pragma once
// The image as a FITS file for astronomy software: the unsigned 16-bit samples as BITPIX 16
// with BZERO 32768, and the header record under the keywords capture programs use.

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr {

struct FitsEncodeResult {
    std::vector<std::uint8_t> bytes;  // the whole file, a multiple of 2880 bytes
    std::string error;                // "" on success, else CFITSIO's reason
};

// One header card of the image's FITS keywords.
struct FitsCard {
    enum class Kind { Text, Integer, Fixed, Comment };
    Kind kind = Kind::Text;
    std::string key;      // empty for a comment
    std::string text;     // Text value or the comment's words
    long integer = 0;     // Integer value
    double number = 0.0;  // Fixed value, written with `decimals` places
    int decimals = 0;
    std::string comment;
};

// The header values as FITS keywords (INSTRUME, DATE-OBS, EXPTIME, SNAPSHOT, CCD-TEMP,
// FOCALLEN in mm, APTAREA in mm^2, XPIXSZ, EGAIN, FILTER, PEDESTAL, the note), shared by the
// FITS export and the INDI driver. Unknown values (zero optics, pixel size or gain, an empty
// filter, a date that does not convert) are left out rather than written as 0.
std::vector<FitsCard> fitsKeywords(const ImageHeader& hdr);

// The CREATOR card of the export: this, a space and the version. Opening a FITS file, the
// console knows its own export by it.
inline constexpr const char* kFitsCreator = "KYR console";

// The primary array of width x height samples, the bottom row of the image first (ROWORDER
// BOTTOM-UP, as viewers that ignore ROWORDER expect), with fitsKeywords. Keywords whose value is unknown (zero optics, pixel size or gain,
// an empty filter, a date that does not convert) are left out rather than written as 0.
FitsEncodeResult encodeFits(const ImageHeader& hdr, const PixelArray& pixels, int width,
                            int height);

// "MM/DD/YYYY" and "hh:mm:ss" as "YYYY-MM-DDThh:mm:ss"; "" when either is not a valid date
// or time of day.
std::string fitsDateObs(const std::string& dateText, const std::string& timeText);

// The exposure of one frame in seconds: exposureSeconds when it agrees with hdrExposure (a
// downloaded image keeps the millisecond form), else hdrExposure / 100 (a loaded file only
// has the hundredths).
double frameExposureSeconds(const ImageHeader& hdr);

// Text made safe for a FITS card: bytes outside printable ASCII become '?'.
std::string fitsText(const std::string& text);

}  // namespace kyr
