#include "observation/observation.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

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
    // Read with the point as decimal separator whatever the host's locale.
    const bool negative = number[0] == '-';
    const char* first = number.data() + ((number[0] == '+' || negative) ? 1 : 0);
    const char* last = number.data() + number.size();
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
        // Too large saturates; too small is 0. The magnitude is the count of integer digits
        // (without leading zeros) plus the exponent.
        const std::string_view digits(first, static_cast<std::size_t>(last - first));
        const auto ePos = digits.find_first_of("eE");
        const auto mantissa = digits.substr(0, ePos);
        const auto intDigits = mantissa.substr(0, mantissa.find('.'));
        const auto firstNonZero = intDigits.find_first_not_of('0');
        long magnitude = firstNonZero == std::string_view::npos
                             ? 0
                             : static_cast<long>(intDigits.size() - firstNonZero);
        if (ePos != std::string_view::npos) magnitude += std::atol(digits.data() + ePos + 1);
        value = magnitude > 0 ? HUGE_VAL : 0.0;
    }
    return saturatedFloat(negative ? -value : value);
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
