// The display-text capture log: records, full files and their retries.
#include <string>
#include <vector>

#include "console/console.h"
#include "files/file_io.h"
#include "observation/capture_log.h"

namespace kyr {

namespace {

std::string unwrittenCaptureText(const std::string& name) {
    return "Unable to write " + name + " - capture records kept in memory";
}

// Retries the capture files that could not be written before, oldest first, under the base
// name now in force. Returns the name of the first one that still fails, or "".
std::string retryUnwrittenCaptureFiles(CaptureLog& capture, const std::string& base) {
    std::string firstFailure;
    std::vector<UnwrittenCaptureFile> stillUnwritten;
    for (auto& file : capture.unwrittenFiles) {
        const std::string name = capturePartFileName(base, file.partNumber);
        if (writeCaptureFile(name, file.content, nullptr)) continue;
        if (firstFailure.empty()) firstFailure = name;
        stillUnwritten.push_back(std::move(file));
    }
    capture.unwrittenFiles = std::move(stillUnwritten);
    return firstFailure;
}

}  // namespace

void Console::setCaptureFileName() {
    const std::string path = showFileDialog(FileDialogMode::Save, FileDialogFilter::Kyr);
    files.saveBaseName = path;
    if (path.empty()) {
        showStatus("No file name was entered!");
        ui_.showMessage("No file name was entered");
        capture.captureActive = false;
        return;
    }
    files.saveBaseName = files.cut(path);
    showStatus(files.saveBaseName + " selected");
}

void Console::startCapture() {
    // Full files of an earlier capture that could not be written get one more try; a new
    // capture reuses their part numbers, so whatever still fails is given up (and said so).
    std::string failed;
    if (!capture.unwrittenFiles.empty()) {
        failed = retryUnwrittenCaptureFiles(capture, files.saveBaseName);
        capture.unwrittenFiles.clear();
    }
    capture.captureRecordNumber = 1;
    capture.capturePartNumber = 1;
    const std::string date = clock_.dateText();
    const std::string time = clock_.timeText();
    capture.captureText = captureOpeningLines(date, time);
    capture.captureActive = true;
    if (!failed.empty())
        showStatus("Unable to write " + failed + " - its capture records were discarded", true);
}

void Console::recordCapture(const std::string& logLine) {
    if (!capture.captureActive) return;
    capture.captureText += captureRecordLine(clock_.timeText(), logLine);
    showStatus("Logging Record Number " + std::to_string(capture.captureRecordNumber));
    events_->captureRecord(capture.captureRecordNumber);
    ++capture.captureRecordNumber;
    if (capture.captureRecordNumber > kCaptureRecordsPerFile) rollCaptureFile();
}

void Console::rollCaptureFile() {
    std::string failed = retryUnwrittenCaptureFiles(capture, files.saveBaseName);
    const std::string date = clock_.dateText();
    const std::string time = clock_.timeText();
    const std::string content =
        captureFileContent(capture.captureText + captureClosingLines(date, time));
    const std::string name = capturePartFileName(files.saveBaseName, capture.capturePartNumber);
    const bool written = writeCaptureFile(name, content, nullptr);
    if (!written) {
        // Held as a finished file of its own, so the next part still starts at record 1.
        capture.unwrittenFiles.push_back({capture.capturePartNumber, content});
        if (failed.empty()) failed = name;
    }
    showStatus(failed.empty() ? name + " written to disk" : unwrittenCaptureText(failed), true);
    if (written)
        events_->captureFileWritten(name);
    else
        events_->captureFileFailed(name);

    capture.captureRecordNumber = 1;
    ++capture.capturePartNumber;
    const std::string newDate = clock_.dateText();
    const std::string newTime = clock_.timeText();
    capture.captureText = captureOpeningLines(newDate, newTime);
    capture.captureActive = true;
}

void Console::endCapture() {
    capture.captureActive = false;
    if (capture.capturePartNumber <= 0) {
        showStatus("No data capture was started", true);
        return;
    }
    std::string failed = retryUnwrittenCaptureFiles(capture, files.saveBaseName);
    const std::string date = clock_.dateText();
    const std::string time = clock_.timeText();
    const std::string text = capture.captureText + captureClosingLines(date, time);
    const std::string name = capture.capturePartNumber == 1
                                 ? captureSingleFileName(files.saveBaseName)
                                 : capturePartFileName(files.saveBaseName, capture.capturePartNumber);
    const bool written = writeCaptureFile(name, captureFileContent(text), nullptr);
    if (written)
        capture.captureText = text;
    else if (failed.empty())
        failed = name;  // the text stays without its closing lines: a later End writes it whole
    showStatus(failed.empty() ? name + " written to disk" : unwrittenCaptureText(failed), true);
    if (written)
        events_->captureFileWritten(name);
    else
        events_->captureFileFailed(name);
}

void Console::endCaptureOnShutdown() {
    if (capture.captureActive) endCapture();
}

}  // namespace kyr
