// The driver program. libindi's own main runs the event loop and hands every client request
// to the device made here; this one answers --help and --version first, as every program of
// the console does.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/version.h"
#include "indi/kyr_ccd.h"

namespace {

const std::unique_ptr<kyr::indi::KyrCcd> kyrCcd = std::make_unique<kyr::indi::KyrCcd>();

constexpr const char* kHelp =
    "Usage: indi_kyr_ccd --help | --version\n"
    "  or:  indiserver [-v] [-p PORT] indi_kyr_ccd\n"
    "The KYR as the INDI camera \"KYR CCD\", run by indiserver.\n"
    "\n"
    "  -v          more messages on standard error (repeat for more)\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kyr::versionText("indi_kyr_ccd").c_str(), stdout);
            return 0;
        }
    }
    // libindi's driver main, which this program's main hides.
    using Main = int (*)(int, char**);
    const auto indiMain = reinterpret_cast<Main>(dlsym(RTLD_NEXT, "main"));
    if (indiMain == nullptr) {
        std::fprintf(stderr, "indi_kyr_ccd: libindi's driver main not found\n");
        return 1;
    }
    return indiMain(argc, argv);
}
