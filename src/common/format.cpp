#include "common/format.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kyr {

std::int64_t roundHalfEven(double value) {
    if (std::isnan(value)) return 0;
    const double r = std::nearbyint(value);  // default rounding mode: ties to even
    constexpr double kMax = 9.2233720368547748e18;
    if (r >= kMax) return std::numeric_limits<std::int64_t>::max();
    if (r <= -kMax) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(r);
}

std::int64_t roundHalfEvenClamped(double value, std::int64_t lo, std::int64_t hi) {
    const std::int64_t r = roundHalfEven(value);
    if (r < lo) return lo;
    if (r > hi) return hi;
    return r;
}

std::string signedText(std::int64_t value) {
    if (value < 0) return std::to_string(value);
    std::string out(1, ' ');
    out += std::to_string(value);
    return out;
}

std::string formatPicture(double value, std::string_view picture) {
    const auto point = picture.find('.');
    const std::string_view intPart = picture.substr(0, point);
    const std::string_view decPart =
        point == std::string_view::npos ? std::string_view{} : picture.substr(point + 1);
    int minIntDigits = 0;
    for (char c : intPart) minIntDigits += (c == '0');
    int requiredDecimals = 0;
    for (char c : decPart) requiredDecimals += (c == '0');
    const int decimals = static_cast<int>(decPart.size());

    if (!std::isfinite(value)) value = 0.0;
    // The exact binary value rounded, true ties to even, point as separator whatever the
    // host's locale.
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed,
                                   decimals);
    std::string digits(buf, res.ptr);
    std::string whole = digits.substr(0, digits.find('.'));
    std::string frac = decimals > 0 ? digits.substr(digits.find('.') + 1) : std::string{};

    // Trailing '#' decimals are shown only when significant.
    while (static_cast<int>(frac.size()) > requiredDecimals && !frac.empty() && frac.back() == '0')
        frac.pop_back();
    // Integer digits: strip leading zeros, then pad to the number of '0' places.
    std::size_t firstNonZero = whole.find_first_not_of('0');
    whole = firstNonZero == std::string::npos ? std::string{} : whole.substr(firstNonZero);
    while (static_cast<int>(whole.size()) < minIntDigits) whole.insert(whole.begin(), '0');

    const bool isZero = whole.find_first_not_of('0') == std::string::npos &&
                        frac.find_first_not_of('0') == std::string::npos;
    std::string out;
    if (value < 0 && !isZero) out += '-';
    out += whole;
    if (point != std::string_view::npos) {
        out += '.';
        out += frac;
    }
    return out;
}

std::string generalFloatText(float value) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "Inf" : "-Inf");
    if (value == 0.0f) return "0";
    const double v = value;
    const double mag = std::fabs(v);
    char buf[64];
    if (mag >= 1e15 || mag < 1e-15) {
        const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 6);
        std::string s(buf, res.ptr);
        for (char& c : s)
            if (c == 'e') c = 'E';
        // Trim trailing zeros of the mantissa: 1.500000E+10 -> 1.5E+10
        auto e = s.find('E');
        std::string mant = s.substr(0, e), ex = s.substr(e);
        while (!mant.empty() && mant.back() == '0') mant.pop_back();
        if (!mant.empty() && mant.back() == '.') mant.pop_back();
        return mant + ex;
    }
    // Seven significant digits in plain decimal form.
    const int exponent = static_cast<int>(std::floor(std::log10(mag)));
    int decimals = 6 - exponent;
    if (decimals < 0) decimals = 0;
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, res.ptr);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

std::string zeroPadded(std::int64_t value, int width) {
    std::string s = std::to_string(value < 0 ? -value : value);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return value < 0 ? "-" + s : s;
}

}  // namespace kyr
