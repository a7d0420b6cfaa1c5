#pragma once
// The image as a FITS file for astronomy software: the unsigned 16-bit samples as BITPIX 16
// with BZERO 32768, and the header record under the keywords capture programs use.

#include <cstdint>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr {

// One header card: a keyword with its value and comment, or a COMMENT card.
struct FitsKeyword {
    enum class Kind { Text, Integer, Fixed, Comment };
    Kind kind = Kind::Text;
    std::string name;     // "" for a COMMENT card
    std::string text;     // the value of a Text card, the words of a COMMENT card
    double number = 0;    // the value of an Integer or Fixed card
    int decimals = 0;     // Fixed: digits after the point
    std::string comment;  // the card's comment
};

// The header values under the keywords capture programs read, in the order they are written.
// Keywords whose value is unknown (zero optics, pixel size or gain, an empty filter, a date
// that does not convert) are left out rather than written as 0. Layout keywords (BITPIX,
// NAXIS, ROWORDER) belong to whoever writes the pixels. Texts are already made FITS-safe.
std::vector<FitsKeyword> fitsKeywords(const ImageHeader& hdr);

struct FitsEncodeResult {
    std::vector<std::uint8_t> bytes;  // the whole file, a multiple of 2880 bytes
    std::string error;                // "" on success, else CFITSIO's reason
};

// The primary array of width x height samples, row 1 of the image first (ROWORDER TOP-DOWN),
// with the keywords of fitsKeywords.
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
