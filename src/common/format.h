#pragma once
// Number-to-text and rounding rules shared by panels, status texts and files.

#include <cstdint>
#include <string>
#include <string_view>

namespace kyr {

// Round to nearest, halves to even (the console's one rounding rule for conversions).
// Values outside the int64 range saturate instead of invoking undefined behaviour.
std::int64_t roundHalfEven(double value);

// roundHalfEven, then clamped to [lo, hi].
std::int64_t roundHalfEvenClamped(double value, std::int64_t lo, std::int64_t hi);

// The plain number form used in panels, status texts and files:
// one leading space for zero or positive numbers, "-" for negative ones.
std::string signedText(std::int64_t value);

// Formats value with a picture such as "##0.000", "###0.00", "0.0000", "00" or "###.##".
// '0' is a digit always shown, '#' one shown only when significant; decimals are rounded
// to the places shown; no grouping; point as separator; a negative value gets "-".
// In the decimal part, '#' places drop trailing zeros ("###.##" writes 2 as "2." and
// 0.25 as ".25").
std::string formatPicture(double value, std::string_view picture);

// The host's general number form for a 32-bit float: up to 7 significant digits,
// no leading space ("0.5", "2000"), exponent form only for huge or tiny magnitudes.
std::string generalFloatText(float value);

// Decimal digits of value, left-padded with zeros to at least `width` digits.
std::string zeroPadded(std::int64_t value, int width);

}  // namespace kyr
