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

// The name handed to the console for a path typed on the command line. The console cuts
// names before their first ".", so a path whose folder part holds a "." is worked on from
// inside that folder, under its bare file name.
struct ConsoleName {
    std::string name;    // what the console gets
    std::string folder;  // the folder to enter first ("" when the typed path is used as is)
    // A name the console reports (in the entered folder) as the user finds it.
    std::string shown(const std::string& reported) const;
};
ConsoleName consoleName(const std::string& typed);

}  // namespace kyr::cli
