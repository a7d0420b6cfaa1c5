#pragma once
// kyrctl's command line: options and the command with its arguments. No I/O here.

#include <optional>

#include "console/panel_key.h"
#include <string>
#include <vector>

#include "link/port_map.h"

namespace kyr::cli {

enum class Command {
    None,
    Link,
    Keys,
    Display,
    Download,
    DownloadAll,
    Capture,
    Upload,
    Info,
    Convert,
    Flatfield,
    Help,
};

struct CliArgs {
    Command command = Command::None;

    // ---- the line
    PortMap portMap;
    std::optional<int> port;      // --port COMn: Establish Link on COMn
    std::optional<int> baudCode;  // --baud RATE: the baud menu's code 1..5
    double timeoutSeconds = 10;   // longest wait for the device without progress
    bool quiet = false;           // errors and the requested output only
    bool verbose = false;         // also every status text of the console, as it comes

    // ---- arguments of the commands
    std::vector<std::string> keys;    // keys: key names as given
    bool follow = false;              // display --follow
    std::optional<double> seconds;    // capture --seconds, display --follow --seconds
    std::optional<int> records;       // capture --records
    std::string output;               // -o FILE / BASE
    std::vector<std::string> inputs;  // info, convert, flatfield, upload file names

    // ---- answers to the console's prompts and dialogs
    std::optional<std::string> note;         // --note: the Note prompt
    std::optional<std::string> focalLength;  // --focal-length: the Focal Length prompt
    std::optional<std::string> aperture;     // --aperture: the Aperture Diameter prompt
    std::optional<bool> metric;              // --units inches|centimeters
    std::optional<std::string> background;   // convert --background: the contrast dialog
    std::optional<std::string> range;        // convert --range
    bool autoContrast = false;               // convert --auto
};

struct ParseResult {
    CliArgs args;
    std::string error;  // "" when the command line is good
};

ParseResult parseArgs(const std::vector<std::string>& argv);

// A front-panel key by name (Focus, Image, ... File-Ops, Up, Down, Left, Right, or Turbo; any
// case): a PanelKey, or nullopt inside for Turbo; nullopt outside for an unknown name.
std::optional<std::optional<PanelKey>> keyByName(const std::string& name);

// The baud menu's code for a rate (115200 -> 1 ... 9600 -> 5).
std::optional<int> baudCodeForRate(const std::string& rate);

const char* usageText();

}  // namespace kyr::cli
