#include "cli/cli_platform.h"

#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kyr::cli {

namespace {
volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void onInterrupt(int sig) {
    interruptFlag = 1;
    std::signal(sig, SIG_DFL);  // the next one ends the program
}
}  // namespace

bool stderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

void installInterruptHandler() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interruptRequested() {
    return interruptFlag != 0;
}

}  // namespace kyr::cli
