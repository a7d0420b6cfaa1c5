// kyrctl: the console's work from the command line.
//
//   kyrctl [--com n=PATH]... [--port COMn] [--baud RATE] [--timeout SECONDS]
//          [--quiet | --verbose] COMMAND [ARGS]          (kyrctl --help lists the commands)
//   kyrctl --version

#include <QCoreApplication>
#include <algorithm>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_platform.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "common/version.h"
#include "qtio/png_encoder.h"

int main(int argc, char** argv) {
    using namespace kyr::cli;
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (std::find(words.begin(), words.end(), "--version") != words.end()) {
        std::fputs(kyr::versionText("kyrctl").c_str(), stdout);
        return kExitOk;
    }
    const ParseResult parsed = parseArgs(words);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "kyrctl: %s\nTry \"kyrctl --help\" for the commands and options.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    if (parsed.args.command == Command::Help) {
        std::fputs(usageText(), stdout);
        return kExitOk;
    }

    QCoreApplication app(argc, argv);
    // Numbers in files and texts are written with a point, whatever the host's locale.
    std::setlocale(LC_NUMERIC, "C");
    installInterruptHandler();

    const Verbosity verbosity = parsed.args.quiet     ? Verbosity::Quiet
                                : parsed.args.verbose ? Verbosity::Verbose
                                                      : Verbosity::Normal;
    CliUi ui(stdout, stderr, verbosity, stderrIsTerminal());
    kyr::QtPngEncoder png;
    return runCommand(parsed.args, ui, &png);
}
