#include "observation/observation.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

namespace kyr {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

float saturatedFloat(double value) {
    if (std::isnan(value)) return 0.0f;
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

float readLeadingNumber(const std::string& answer) {
    // Blanks are skipped anywhere inside the number, so drop them all first.
    std::string s;
    s.reserve(answer.size());
    for (char c : answer)
        if (!isBlank(c)) s += c;

    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
    bool anyDigit = false;
    while (i < s.size() && isDigit(s[i])) {
        number += s[i++];
        anyDigit = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && isDigit(s[i])) {
            number += s[i++];
            anyDigit = true;
        }
    }
    if (!anyDigit) return 0.0f;
    // An exponent counts only when digits follow it ("8e" and "8east" read 8).
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) exponent += s[j++];
            number += exponent;
        }
    }
    // strtod saturates to +-HUGE_VAL (or underflows towards 0) without undefined behaviour.
    const double value = std::strtod(number.c_str(), nullptr);
    return saturatedFloat(value);
}

float apertureAreaFor(float diameter, bool apertureFactorFlag) {
    // Each step is rounded to a float, as 32-bit float arithmetic would; the steps run in
    // double so that a product beyond the float range saturates once, at the end, instead
    // of turning into infinity.
    const auto floatStep = [](double v) {
        return std::fabs(v) <= FLT_MAX ? static_cast<double>(static_cast<float>(v)) : v;
    };
    const float factor = apertureFactorFlag ? 0.72236448f : 0.98f;
    double area = floatStep(static_cast<double>(diameter) * diameter);
    area = floatStep(area * 3.141592f);
    area = floatStep(area / 4.0);
    return saturatedFloat(area * factor);
}

float inchesToCentimeters(float inches) {
    return saturatedFloat(static_cast<double>(inches) * kCentimetersPerInchExact);
}
float centimetersToInches(float centimeters) {
    return saturatedFloat(static_cast<double>(centimeters) / kCentimetersPerInchExact);
}
float squareInchesToSquareCentimeters(float squareInches) {
    return saturatedFloat(static_cast<double>(squareInches) * kSquareCentimetersPerSquareInch);
}
float squareCentimetersToSquareInches(float squareCentimeters) {
    return saturatedFloat(static_cast<double>(squareCentimeters) / kSquareCentimetersPerSquareInch);
}

}  // namespace kyr
