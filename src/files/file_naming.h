#pragma once

#include <cstdint>
#include <string>

namespace kyr {

// Names of saved and loaded files and the automatic numbering.
struct FileNaming {
    std::string saveBaseName;   // the chosen name cut before its first "."
    std::string imageFileName;  // last image file written or chosen
    bool autoSaveOn = false;
    std::int16_t autoSaveNumber = 1;
    bool loadCompressed = false;
};

}  // namespace kyr
