#include "observation/capture_log.h"

#include <filesystem>

#include "common/format.h"
#include "files/file_io.h"

namespace kyr {

namespace {
constexpr const char* kCrLf = "\r\n";
}

std::string captureOpeningLines(const std::string& date, const std::string& time) {
    return std::string("Text Capture of 2x24 Displayed Information") + kCrLf + "Starting Date " +
           date + kCrLf + "Starting Time " + time + kCrLf;
}

std::string captureRecordLine(const std::string& time, const std::string& logLine) {
    return time + " " + logLine + kCrLf;
}

std::string captureClosingLines(const std::string& date, const std::string& time) {
    return "Ending Date " + date + kCrLf + "Ending Time " + time + kCrLf;
}

std::string captureFileContent(const std::string& captureText) {
    return "\"" + captureText + "\"" + kCrLf;
}

std::string captureSingleFileName(const std::string& base) { return base + ".txt"; }

std::string capturePartFileName(const std::string& base, std::int32_t part) {
    return base + "." + zeroPadded(part, 3);
}

bool writeCaptureFile(const std::string& name, const std::string& content, std::string* error) {
    const std::string failure = replaceFile(std::filesystem::path(name), bytesOf(content));
    if (error) *error = failure;
    return failure.empty();
}

}  // namespace kyr
