#include "observation/capture_log.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/format.h"

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

std::string captureBaseName(const std::string& path) { return path.substr(0, path.find('.')); }

bool writeCaptureFile(const std::string& name, const std::string& content, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path target(name);
    fs::path temp = target;
    temp += ".kyrtmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            if (error) *error = "cannot create file";
            return false;
        }
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temp, ignored);
            if (error) *error = "write failed";
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        if (error) *error = ec.message();
        return false;
    }
    return true;
}

}  // namespace kyr
