#pragma once
// Serving a SimDevice on a real line: a pseudo-terminal or a loopback TCP port, with the
// control channel on standard input. The only platform-specific part of kyr-sim.

#include <string>

#include "sim/sim_device.h"

namespace kyr::sim {

struct ServeOptions {
    bool tcp = false;  // false: pseudo-terminal
    int tcpPort = 0;   // 0: any free port
    long baud = 0;     // > 0: pace the output at baud / 11 bytes per second
    bool idleUpdates = false;
    bool verbose = false;  // connection changes on standard error
};

// Prints the line's name as the first line of standard output, then serves until standard
// input ends, "quit" is read, or SIGTERM/SIGINT arrives. Returns the exit status.
int serve(SimDevice& device, const ServeOptions& options);

}  // namespace kyr::sim
