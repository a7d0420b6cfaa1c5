#pragma once
// The observer's optical data: reading typed numbers, the aperture area and unit changes.
// Every result is a finite 32-bit float: values beyond the float range saturate at
// +-FLT_MAX and NaN becomes 0, so a huge answer can never end the program.

#include <string>

namespace kyr {

inline constexpr double kCentimetersPerInchExact = 2.54;
inline constexpr double kSquareCentimetersPerSquareInch = 6.4516;

// The answer's leading number: optional sign, digits, "." as decimal point, optional exponent
// ("e" or "E", optional sign, digits). Blanks anywhere in it are skipped, text after it is
// ignored, and an answer without a leading number gives 0.
float readLeadingNumber(const std::string& answer);

// A double stored as a finite float: beyond the float range it saturates, NaN gives 0.
float saturatedFloat(double value);

// d x d x 3.141592 / 4, then x 0.72236448 (factor flag set) or x 0.98, each step in 32-bit
// floats and saturating.
float apertureAreaFor(float diameter, bool apertureFactorFlag);

float inchesToCentimeters(float inches);
float centimetersToInches(float centimeters);
float squareInchesToSquareCentimeters(float squareInches);
float squareCentimetersToSquareInches(float squareCentimeters);

}  // namespace kyr
