#pragma once
// The programs' version: the CMake project's version, compiled into version.cpp only.

#include <string>
#include <string_view>

namespace kyr {

// "2.10"
const char* projectVersion();

// What every program prints for --version: its name and version, then the licence.
std::string versionText(std::string_view program);

}  // namespace kyr
