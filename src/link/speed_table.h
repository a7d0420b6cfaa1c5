#pragma once
// The speeds of the Set Baud Rate menu and the reply timer's intervals at each, by the menu's
// item code (1 = 115200 ... 5 = 9600). Every front end takes its speeds from here.

#include <array>
#include <cstdint>

namespace kyr {

struct SpeedRow {
    int rate;
    std::int16_t transferTimeout;  // ms between the pieces of one answer
    std::int16_t replyTimeout;     // ms before a request is sent again
};

inline constexpr std::array<SpeedRow, 6> kSpeeds{{
    {0, 0, 0},
    {115200, 110, 256},
    {57600, 1024, 1024},
    {38400, 330, 256},
    {19200, 660, 256},
    {9600, 1320, 256},
}};

// The menu's code for a rate; 0 for a rate the KYR does not have.
constexpr int baudCodeForRate(long rate) {
    for (std::size_t code = 1; code < kSpeeds.size(); ++code)
        if (kSpeeds[code].rate == rate) return static_cast<int>(code);
    return 0;
}

}  // namespace kyr
