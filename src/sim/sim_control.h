#pragma once
// The simulator's control channel: one text command per line (from kyr-sim's standard
// input), each answered by a few lines that end with "ok" or "error: ...".

#include <string>
#include <vector>

#include "sim/sim_device.h"

namespace kyr::sim {

struct ControlReply {
    std::string text;  // lines, each ending in '\n'; the last is "ok" or "error: ..."
    bool quit = false;
};

ControlReply runControlCommand(SimDevice& device, const std::string& line);

// The command list, as shown by "help" and "kyr-sim --help".
const char* controlHelp();

// "0,3,7" or "none"; false for anything else (numbers must be 0..30).
bool parseBufferList(const std::string& text, std::vector<int>& buffers);
// A rate 0 <= r < 1.
bool parseRate(const std::string& text, double& rate);

// The status report: what the device has seen.
std::string statusReport(const SimDevice& device);

}  // namespace kyr::sim
