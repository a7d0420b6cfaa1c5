#pragma once

#include <cstdint>
#include <string>

#include "files/file_io.h"

namespace kyr {

// Names of saved and loaded files and the automatic numbering.
struct FileNaming {
    std::string saveBaseName;   // the chosen name cut before its first "."
    std::string imageFileName;  // last image file written or chosen
    bool autoSaveOn = false;
    std::int16_t autoSaveNumber = 1;
    bool loadCompressed = false;
    // The window cuts a chosen name at the first "." of the whole path; front ends that
    // pass whole paths (kyrctl, the INDI driver) keep a "." in a folder's name.
    bool cutInFileNameOnly = false;

    std::string cut(const std::string& name) const {
        return cutInFileNameOnly ? cutBeforeFirstDotOfName(name) : cutBeforeFirstDot(name);
    }
};

}  // namespace kyr
