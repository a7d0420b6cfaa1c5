#pragma once

#include <cstdint>

#include "link/round_trip.h"

namespace kyr {

// Port, speed and link state.
struct LinkState {
    bool portOpen = false;
    int commPortNumber = 1;          // the n of the COMn last opened or tried
    std::int16_t baudCode = 1;       // 1 = 115200, 2 = 57600, 3 = 38400, 4 = 19200, 5 = 9600
    std::int16_t replyTimeout = 256;     // ms, after a header or row request
    std::int16_t transferTimeout = 256;  // ms, while a packet body or an upload answer is awaited
    bool linkEstablished = false;
    std::int16_t timeoutTicks = 0;   // reply-timer ticks since the last progress
    // The open port is a network connection: the reply timer follows roundTrip there,
    // never going below the two intervals above.
    bool networkLine = false;
    RoundTripEstimator roundTrip;
};

}  // namespace kyr
