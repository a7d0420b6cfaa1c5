// kyr-sim: the simulated KYR on a pseudo-terminal or a loopback TCP port.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/version.h"
#include "sim/sim_control.h"
#include "sim/sim_device.h"
#include "sim/sim_serve.h"

namespace {

void usage(std::FILE* f) {
    std::fprintf(
        f,
        "Usage: kyr-sim [OPTION]...\n"
        "  or:  kyr-sim --help | --version\n"
        "\n"
        "Plays the KYR camera on a serial line for the console. The first line printed is\n"
        "the line to open: a pseudo-terminal path or tcp://127.0.0.1:PORT. The simulator\n"
        "ends when its standard input ends, on \"quit\", or on SIGTERM/SIGINT.\n"
        "\n"
        "Options:\n"
        "  --pty            serve on a pseudo-terminal (the default)\n"
        "  --tcp PORT       serve on a loopback TCP port instead; 0 picks a free port\n"
        "  --seed N         images and faults repeat from this seed (default 1)\n"
        "  --baud N         pace the line at N baud both ways (N/11 bytes per second); 0 = none\n"
        "  --junk R         chance 0 <= R < 1 of noise bytes before an answer\n"
        "  --corrupt R      chance of a damaged header, row or page acknowledge (bad checksum)\n"
        "  --drop R         chance of a lost header, row or page acknowledge\n"
        "  --split          deliver answers in small random pieces\n"
        "  --raw-rows       answer row requests uncompressed (type 5)\n"
        "  --whole-rows     answer row requests with whole rows, whatever the columns asked\n"
        "  --buffers LIST   filled flash buffers, e.g. 0,3,7 or none (default 0,1,2,3,4)\n"
        "  --idle-updates   the main screen refreshes its sensor reading every 2 s when idle\n"
        "  --screen-rows N  the screen image is its first N rows only (1..200, default 200)\n"
        "  --verbose        report connections on standard error\n"
        "  --help           show this help and exit\n"
        "  --version        show the version and exit\n"
        "\n"
        "Commands on standard input, one per line:\n%s"
        "Each is answered by a few lines that end with \"ok\" or \"error: ...\".\n",
        kyr::sim::controlHelp());
}

bool parseNumber(const char* text, long lo, long hi, long& v) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (!*text || *end || n < lo || n > hi) return false;
    v = n;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kyr::sim;
    SimOptions sim;
    ServeOptions serveOptions;
    const auto fail = [](const std::string& why) {
        std::fprintf(stderr, "kyr-sim: %s (try --help)\n", why.c_str());
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const char* value = hasValue ? argv[i + 1] : "";
        long n = 0;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::fputs(kyr::versionText("kyr-sim").c_str(), stdout);
            return 0;
        } else if (a == "--pty") {
            serveOptions.tcp = false;
        } else if (a == "--split") {
            sim.faults.split = true;
        } else if (a == "--raw-rows") {
            sim.rawRows = true;
        } else if (a == "--whole-rows") {
            sim.wholeRows = true;
        } else if (a == "--idle-updates") {
            serveOptions.idleUpdates = true;
        } else if (a == "--verbose") {
            serveOptions.verbose = true;
        } else if (!hasValue && (a == "--tcp" || a == "--seed" || a == "--baud" || a == "--junk" ||
                                 a == "--corrupt" || a == "--drop" || a == "--buffers" ||
                                 a == "--screen-rows")) {
            return fail(a + " needs a value");
        } else if (a == "--tcp") {
            if (!parseNumber(value, 0, 65535, n)) return fail("--tcp needs a port 0..65535");
            serveOptions.tcp = true;
            serveOptions.tcpPort = static_cast<int>(n);
            ++i;
        } else if (a == "--seed") {
            char* end = nullptr;
            const unsigned long long s = std::strtoull(value, &end, 10);
            if (!*value || *end || *value == '-') return fail("--seed needs a number");
            sim.seed = s;
            ++i;
        } else if (a == "--baud") {
            if (!parseNumber(value, 0, 10000000, n))
                return fail("--baud needs a rate such as 9600");
            serveOptions.baud = n;
            ++i;
        } else if (a == "--junk" || a == "--corrupt" || a == "--drop") {
            double r = 0;
            if (!parseRate(value, r)) return fail(a + " needs a rate 0 <= R < 1");
            (a == "--junk"      ? sim.faults.junkRate
             : a == "--corrupt" ? sim.faults.corruptRate
                                : sim.faults.dropRate) = r;
            ++i;
        } else if (a == "--buffers") {
            if (!parseBufferList(value, sim.filledBuffers)) {
                return fail("--buffers needs numbers 0..30 like 0,3,7, or none");
            }
            ++i;
        } else if (a == "--screen-rows") {
            if (!parseNumber(value, 1, kScreenRows, n))
                return fail("--screen-rows needs a number of rows 1..200");
            sim.screenRows = static_cast<int>(n);
            ++i;
        } else {
            return fail("unknown option " + a);
        }
    }
    SimDevice device(sim);
    return serve(device, serveOptions);
}
