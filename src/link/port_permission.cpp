#include "link/port_permission.h"

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kyr {

std::string permissionHint(const std::string& path) {
#if defined(__linux__)
    // Debian and most distributions give the serial devices to the dialout group, and a
    // user joins it once. Asked of the file itself, since a busy port is refused too.
    if (path.empty() || faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0 ||
        errno != EACCES)
        return {};
    return " (serial ports are open to the dialout group: sudo adduser $USER dialout, then log "
           "in again)";
#else
    (void)path;
    return {};
#endif
}

}  // namespace kyr
