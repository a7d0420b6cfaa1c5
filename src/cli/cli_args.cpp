#include "cli/cli_args.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>

#include "files/file_io.h"
#include "image/render.h"
#include "link/speed_table.h"

namespace kyr::cli {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::optional<double> positiveNumber(const std::string& text) {
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || ptr != text.data() + text.size() || !std::isfinite(v) || v <= 0)
        return std::nullopt;
    return v;
}

std::optional<int> positiveInt(const std::string& text) {
    int v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || ptr != text.data() + text.size() || v < 1) return std::nullopt;
    return v;
}

const std::map<std::string, Command>& commands() {
    static const std::map<std::string, Command> m{
        {"link", Command::Link},
        {"keys", Command::Keys},
        {"display", Command::Display},
        {"download", Command::Download},
        {"download-all", Command::DownloadAll},
        {"capture", Command::Capture},
        {"upload", Command::Upload},
        {"info", Command::Info},
        {"convert", Command::Convert},
        {"flatfield", Command::Flatfield},
        {"help", Command::Help},
    };
    return m;
}

// Options that take a value.
bool takesValue(const std::string& opt) {
    static const std::array<const char*, 14> kWithValue{
        "--com",    "--port",         "--baud",     "--timeout",    "-o",
        "--output", "--seconds",      "--records",  "--background", "--range",
        "--note",   "--focal-length", "--aperture", "--units"};
    return std::any_of(kWithValue.begin(), kWithValue.end(),
                       [&](const char* o) { return opt == o; });
}

bool convertTarget(const std::string& out) {
    const std::string ext = lower(std::filesystem::path(out).extension().string());
    return ext == ".kyr" || ext == ".bmp" || ext == ".png" || ext == ".fits" || ext == ".fit" ||
           ext == ".fts";
}

// An output name the console's own naming would change is refused with the name to give,
// so that kyrctl never writes somewhere else than asked. "" when the name is kept.
std::string renamedOutput(Command command, const std::string& out) {
    const bool hasOutput = command == Command::Download || command == Command::Convert ||
                           command == Command::Flatfield || command == Command::DownloadAll ||
                           command == Command::Capture;
    if (!hasOutput) return {};
    if (std::filesystem::path(out).filename().empty())
        return out + " names a folder: give a file name";
    const std::string cut = cutBeforeFirstDotOfName(out);
    switch (command) {
        case Command::Download:
        case Command::Convert:
        case Command::Flatfield: {
            // Image files are the name before its first "." and ".KYR"; the exports keep
            // the name they are given.
            if (lower(std::filesystem::path(out).extension().string()) != ".kyr" &&
                command != Command::Download)
                return {};
            const std::string kept = cut + ".KYR";
            if (out == kept) return {};
            return out + " would be saved as " + kept + ": give " + kept;
        }
        case Command::DownloadAll:
            if (out == cut) return {};
            return "-o " + out + ": the images would be saved as " + cut + "001.KYR, " + cut +
                   "002.KYR, ...: give -o " + cut;
        case Command::Capture:
            if (out == cut || out == cut + ".txt") return {};
            return "-o " + out + ": the log would be written to " + cut + ".txt: give -o " + cut;
        default:
            return {};
    }
}

}  // namespace

std::optional<std::optional<PanelKey>> keyByName(const std::string& name) {
    const std::string n = lower(name);
    if (n == "turbo") return std::optional<PanelKey>{};
    for (const PanelKeyInfo& k : kPanelKeys) {
        std::string caption = lower(k.caption);
        if (n == caption) return k.key;
        // "File Ops" is typed as fileops or file-ops
        std::replace(caption.begin(), caption.end(), ' ', '-');
        if (n == caption) return k.key;
        caption.erase(std::remove(caption.begin(), caption.end(), '-'), caption.end());
        if (n == caption) return k.key;
    }
    return std::nullopt;
}

std::optional<int> baudCodeForRate(const std::string& rate) {
    for (std::size_t code = 1; code < kSpeeds.size(); ++code)
        if (rate == std::to_string(kSpeeds[code].rate)) return static_cast<int>(code);
    return std::nullopt;
}

ParseResult parseArgs(const std::vector<std::string>& argv) {
    ParseResult res;
    CliArgs& a = res.args;
    auto fail = [&res](const std::string& why) {
        res.error = why;
        return res;
    };

    std::vector<std::string> positional;
    bool seenSeconds = false, seenRecords = false;
    bool seenContrast = false;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        std::string opt = argv[i];
        std::string value;
        bool hasValue = false;
        if (opt.size() > 2 && opt.rfind("--", 0) == 0) {
            const auto eq = opt.find('=');
            if (eq != std::string::npos) {
                value = opt.substr(eq + 1);
                opt = opt.substr(0, eq);
                hasValue = true;
                if (!takesValue(opt)) return fail(opt + " takes no value");
            }
        }
        if (opt.empty() || opt[0] != '-' || opt == "-") {
            positional.push_back(argv[i]);
            continue;
        }
        if (takesValue(opt) && !hasValue) {
            if (i + 1 >= argv.size()) return fail(opt + " needs a value");
            value = argv[++i];
        }

        if (opt == "--help" || opt == "-h") {
            a.command = Command::Help;
            return res;
        } else if (opt == "--quiet" || opt == "-q") {
            a.quiet = true;
        } else if (opt == "--verbose" || opt == "-v") {
            a.verbose = true;
        } else if (opt == "--com") {
            if (const std::string err = a.portMap.addMapping(value); !err.empty())
                return fail("--com: " + err);
        } else if (opt == "--port") {
            std::string n = lower(value);
            if (n.rfind("com", 0) == 0) n = n.substr(3);
            const auto port = positiveInt(n);
            if (!port || *port > 6) return fail("--port takes COM1 .. COM6, got \"" + value + "\"");
            a.port = *port;
        } else if (opt == "--baud") {
            a.baudCode = baudCodeForRate(value);
            if (!a.baudCode)
                return fail("--baud takes 115200, 57600, 38400, 19200 or 9600, got \"" + value +
                            "\"");
        } else if (opt == "--timeout") {
            const auto t = positiveNumber(value);
            if (!t) return fail("--timeout takes a number of seconds above 0");
            a.timeoutSeconds = *t;
        } else if (opt == "-o" || opt == "--output") {
            if (value.empty()) return fail(opt + " needs a file name");
            a.output = value;
        } else if (opt == "--follow") {
            a.follow = true;
        } else if (opt == "--seconds") {
            a.seconds = positiveNumber(value);
            if (!a.seconds) return fail("--seconds takes a number above 0");
            seenSeconds = true;
        } else if (opt == "--records") {
            a.records = positiveInt(value);
            if (!a.records) return fail("--records takes a whole number above 0");
            seenRecords = true;
        } else if (opt == "--background" || opt == "--range") {
            if (!parseContrastEntry(value)) return fail(opt + " takes a whole number");
            (opt == "--background" ? a.background : a.range) = value;
            seenContrast = true;
        } else if (opt == "--auto") {
            a.autoContrast = true;
        } else if (opt == "--note") {
            a.note = value;
        } else if (opt == "--focal-length") {
            a.focalLength = value;
        } else if (opt == "--aperture") {
            a.aperture = value;
        } else if (opt == "--units") {
            const std::string u = lower(value);
            if (u == "inches" || u == "in")
                a.metric = false;
            else if (u == "centimeters" || u == "centimetres" || u == "cm")
                a.metric = true;
            else
                return fail("--units takes inches or centimeters");
        } else {
            return fail("unknown option " + opt);
        }
    }

    if (a.quiet && a.verbose) return fail("--quiet and --verbose exclude each other");
    if (positional.empty()) return fail("no command given");
    const auto cmd = commands().find(positional.front());
    if (cmd == commands().end()) return fail("unknown command \"" + positional.front() + "\"");
    a.command = cmd->second;
    positional.erase(positional.begin());

    // What each command accepts.
    const bool takesOutput = a.command == Command::Download || a.command == Command::DownloadAll ||
                             a.command == Command::Capture || a.command == Command::Flatfield;
    const bool takesPrompts = a.command == Command::Download || a.command == Command::Convert ||
                              a.command == Command::Flatfield;
    if (!takesOutput && !a.output.empty()) return fail("-o does not apply to this command");
    if (takesOutput && a.output.empty()) return fail("-o is required");
    if (!takesPrompts && (a.note || a.focalLength || a.aperture || a.metric))
        return fail(
            "--note, --focal-length, --aperture and --units apply to download, convert "
            "and flatfield");
    if (a.command != Command::Convert && (seenContrast || a.autoContrast))
        return fail("--background, --range and --auto apply to convert");
    if (a.command != Command::Display && a.follow) return fail("--follow applies to display");
    if (a.command != Command::Capture && seenRecords) return fail("--records applies to capture");
    if (seenSeconds && a.command != Command::Capture &&
        !(a.command == Command::Display && a.follow))
        return fail("--seconds applies to capture and display --follow");

    std::size_t wantMin = 0, wantMax = 0;
    switch (a.command) {
        case Command::Keys:
            wantMin = 1;
            wantMax = std::numeric_limits<std::size_t>::max();
            break;
        case Command::Upload:
        case Command::Info:
            wantMin = wantMax = 1;
            break;
        case Command::Convert:
        case Command::Flatfield:
            wantMin = wantMax = 2;
            break;
        default:
            break;
    }
    if (positional.size() < wantMin) return fail("missing arguments for " + cmd->first);
    if (positional.size() > wantMax)
        return fail("unexpected argument \"" + positional[wantMax] + "\"");

    if (a.command == Command::Keys) {
        for (const auto& k : positional)
            if (!keyByName(k)) return fail("unknown key \"" + k + "\"");
        a.keys = positional;
    } else {
        a.inputs = positional;
    }
    if (a.command == Command::Capture && seenRecords == seenSeconds)
        return fail("capture takes either --records N or --seconds S");
    if (a.command == Command::Convert) {
        if (!convertTarget(a.inputs[1]))
            return fail("the output of convert ends in .KYR, .bmp, .png or .fits (.fit, .fts)");
        if (a.autoContrast && seenContrast)
            return fail("--auto and --background/--range exclude each other");
    }
    if (a.command == Command::Flatfield && !convertTarget(a.output))
        return fail("the output of flatfield ends in .KYR, .bmp, .png or .fits (.fit, .fts)");
    const std::string& out = a.command == Command::Convert ? a.inputs[1] : a.output;
    if (const std::string why = renamedOutput(a.command, out); !why.empty()) return fail(why);
    return res;
}

const char* usageText() {
    return "Usage: kyrctl [OPTION]... COMMAND [ARGS]\n"
           "  or:  kyrctl --help | --version\n"
           "\n"
           "Commands on the KYR (the serial line):\n"
           "  link                    open the port and request the link\n"
           "  keys KEY...             press front-panel keys in order, waiting for each\n"
           "                          acknowledge; prints every display text received. Keys:\n"
           "                          Focus Image Monitor Turbo Parameter Setup Value Interrupt\n"
           "                          Calibrate Track Display FileOps Up Down Left Right\n"
           "  display [--follow [--seconds S]]\n"
           "                          print the display text (two lines); --follow keeps\n"
           "                          printing it as it changes (until Ctrl-C or S seconds)\n"
           "  download -o NAME.KYR    Download Screen Image, then save it (and NAME.trk or\n"
           "                          NAME.txt for a summed or mosaic image); prints the\n"
           "                          Image Information panel\n"
           "  download-all -o BASE    Download All into BASE001.KYR, BASE002.KYR, ...\n"
           "  capture -o BASE (--records N | --seconds S)\n"
           "                          capture the display text into BASE.txt (BASE.001,\n"
           "                          BASE.002, ... beyond 3999 records); ends after N records\n"
           "                          (texts arriving together are all kept) or S seconds\n"
           "  upload FIRMWARE.bin     upload new KYR code; the file is checked first\n"
           "Commands on files:\n"
           "  info FILE.KYR           print the Image Information panel of an image file\n"
           "  convert IN.KYR OUT [--background B --range R | --auto]\n"
           "                          OUT by extension: NAME.KYR, .bmp or .png (grey picture\n"
           "                          at the image's size), .fits, .fit or .fts (FITS: the\n"
           "                          samples)\n"
           "  flatfield IMAGE.KYR FLAT.KYR -o OUT\n"
           "                          correct IMAGE by the flat field FLAT; OUT as for convert\n"
           "\n"
           "Names: an image file is saved as NAME.KYR, NAME having no \".\"; a name the\n"
           "console would change is refused with the name to give. No file is ever written\n"
           "over.\n"
           "\n"
           "Options:\n"
           "  --com n=PATH       COMn is the serial device PATH, tcp://host:port (raw) or\n"
           "                     rfc2217://host:port (line settings reach the far port)\n"
           "                     (repeatable)\n"
           "  --port COMn        the port to open, as Establish Link (COMn) (default COM1)\n"
           "  --baud RATE        115200 (default), 57600, 38400, 19200 or 9600\n"
           "  --timeout SECONDS  longest wait for the KYR without progress (default 10)\n"
           "  --quiet            only errors and the requested output\n"
           "  --verbose          also every status text of the console, as it comes\n"
           "  --note TEXT, --focal-length X, --aperture X, --units inches|centimeters\n"
           "                     observation data for download, convert and flatfield\n"
           "  --help             show this help and exit\n"
           "  --version          show the version and exit\n"
           "\n"
           "Output: requested output (panels, display texts) on standard output; progress,\n"
           "the files written, the outcome and errors on standard error.\n"
           "Exit status: 0 success, 1 the operation failed, 2 usage error.\n";
}

}  // namespace kyr::cli
