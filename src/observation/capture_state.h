#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kyr {

// A full capture file that could not be written yet: kept so that nothing is lost and
// retried (under the base name then in force) whenever the capture next writes a file.
struct UnwrittenCaptureFile {
    std::int32_t partNumber = 0;
    std::string content;  // the whole file, quotes included
};

// The display-text capture log held in memory.
struct CaptureLog {
    bool captureActive = false;
    std::string captureText;
    std::int32_t captureRecordNumber = 0;
    std::int32_t capturePartNumber = 0;
    std::vector<UnwrittenCaptureFile> unwrittenFiles;
};

}  // namespace kyr
