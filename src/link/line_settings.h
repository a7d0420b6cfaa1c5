#pragma once
// The settings text of the serial component ("115200,N,8,2").

#include <optional>
#include <string>

namespace kyr {

struct LineSettings {
    int baud = 115200;
    char parity = 'N';  // N, E, O, M or S
    int dataBits = 8;   // 5..8
    int stopBits = 2;   // 1 or 2 (1.5 is not used by the console)
};

std::optional<LineSettings> parseLineSettings(const std::string& text);
std::string lineSettingsText(const LineSettings& s);

}  // namespace kyr
