// kyr-sim serves a pseudo-terminal or a TCP port through POSIX calls only.
#include <cstdio>

#include "sim/sim_serve.h"

namespace kyr::sim {

int serve(SimDevice&, const ServeOptions&) {
    std::fprintf(stderr, "kyr-sim: serving a line is only available on POSIX systems\n");
    return 1;
}

}  // namespace kyr::sim
