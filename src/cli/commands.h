#pragma once
// kyrctl's commands: each drives the console's own handlers, as the window's menus do, and
// waits for their outcome on the event loop.

#include <string>

#include "cli/cli_args.h"
#include "cli/cli_ui.h"
#include "console/platform.h"

namespace kyr::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs a parsed command (not Help); returns the exit status. Needs a QCoreApplication for
// the commands on the line.
int runCommand(const CliArgs& args, CliUi& ui, ImageEncoder* png);

}  // namespace kyr::cli
