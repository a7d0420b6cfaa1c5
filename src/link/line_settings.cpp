#include "link/line_settings.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace kyr {

namespace {
std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == ',') {
            parts.push_back(cur);
            cur.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

std::optional<int> toInt(const std::string& s) {
    int v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || ptr != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}
}  // namespace

std::optional<LineSettings> parseLineSettings(const std::string& text) {
    const auto parts = splitCommas(text);
    if (parts.size() != 4) return std::nullopt;
    LineSettings s;
    auto baud = toInt(parts[0]);
    if (!baud || *baud <= 0) return std::nullopt;
    s.baud = *baud;
    if (parts[1].size() != 1) return std::nullopt;
    s.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
    if (std::string("NEOMS").find(s.parity) == std::string::npos) return std::nullopt;
    auto data = toInt(parts[2]);
    if (!data || *data < 5 || *data > 8) return std::nullopt;
    s.dataBits = *data;
    auto stop = toInt(parts[3]);
    if (!stop || (*stop != 1 && *stop != 2)) return std::nullopt;
    s.stopBits = *stop;
    return s;
}

std::string lineSettingsText(const LineSettings& s) {
    return std::to_string(s.baud) + "," + s.parity + "," + std::to_string(s.dataBits) + "," +
           std::to_string(s.stopBits);
}

}  // namespace kyr
