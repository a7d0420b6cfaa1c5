#pragma once
// What to tell a user whom the system refused a serial device.

#include <string>

namespace kyr {

// " (serial ports are open to the dialout group: ...)" when this user (by the effective
// IDs) may not read and write the device file `path`, to follow the port's own reason;
// otherwise, and on systems without such a group, "".
std::string permissionHint(const std::string& path);

}  // namespace kyr
