#pragma once
// Building the display-text capture files and writing them safely.

#include <cstdint>
#include <string>

namespace kyr {

// A file holds at most this many record lines; the record counter reaching 4000 closes it.
inline constexpr std::int32_t kCaptureRecordsPerFile = 3999;

// "Text Capture of 2x24 Displayed Information", "Starting Date ...", "Starting Time ...".
std::string captureOpeningLines(const std::string& date, const std::string& time);
// time + " " + logLine + CRLF.
std::string captureRecordLine(const std::string& time, const std::string& logLine);
// "Ending Date ...", "Ending Time ...".
std::string captureClosingLines(const std::string& date, const std::string& time);
// The whole file: the text as one quoted item, then CRLF. Quotes inside are not escaped.
std::string captureFileContent(const std::string& captureText);

// base + ".txt": a capture that fits in one file.
std::string captureSingleFileName(const std::string& base);
// base + "." + the part number in at least three digits.
std::string capturePartFileName(const std::string& base, std::int32_t part);

// Creates or replaces `name` with `content`: written under a temporary name in the same
// folder, then renamed into place, so a failure never leaves a half-written file.
// Returns false (with a short reason in *error) when the file could not be written.
bool writeCaptureFile(const std::string& name, const std::string& content, std::string* error);

}  // namespace kyr
