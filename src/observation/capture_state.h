#pragma once

#include <cstdint>
#include <string>

namespace kyr {

// The display-text capture log held in memory.
struct CaptureLog {
    bool captureActive = false;
    std::string captureText;
    std::int32_t captureRecordNumber = 0;
    std::int32_t capturePartNumber = 0;
};

}  // namespace kyr
