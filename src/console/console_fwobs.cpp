// Observation settings, the display-text capture log and the firmware upload.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/format.h"
#include "console/console.h"
#include "files/file_io.h"
#include "firmware/firmware.h"
#include "observation/capture_log.h"
#include "observation/observation.h"

namespace kyr {

namespace {

std::string unitsWord(bool metric) { return metric ? " centimeters" : " inches"; }

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

// ---------------------------------------------------------------- observation settings

void Console::mnunote_Click() {
    const std::string answer = ui_.prompt("Input note (if desired)", "Note",
                                          "Enter configuration and observer info here!");
    if (answer.empty()) return;
    header.noteText = answer;
    showStatus(answer);
}

void Console::mnufocallength_Click() {
    const bool metric = header.unitsMetric;
    const std::string answer =
        ui_.prompt(metric ? "Input focal length in centimeters" : "Input focal length in inches",
                   "Focal Length", generalFloatText(header.focalLength));
    if (answer.empty()) return;
    header.focalLength = readLeadingNumber(answer);
    showStatus("Focal length = " + generalFloatText(header.focalLength) + unitsWord(metric));
}

void Console::mnuaperturedia_Click() {
    const bool metric = header.unitsMetric;
    const std::string answer = ui_.prompt(metric ? "Input aperture diameter in  centimeters"
                                                 : "Input aperture diameter in inches",
                                          "Aperture Diameter",
                                          generalFloatText(header.apertureDiameter));
    if (!answer.empty()) {
        header.apertureDiameter = readLeadingNumber(answer);
        showStatus("Aperture diameter = " + generalFloatText(header.apertureDiameter) +
                   unitsWord(metric));
    }
    // Recomputed in any case, also from an unchanged diameter.
    header.apertureArea = apertureAreaFor(header.apertureDiameter, header.apertureFactorFlag);
}

void Console::mnuinches_Click() {
    if (!header.unitsMetric) return;
    header.focalLength = centimetersToInches(header.focalLength);
    header.apertureDiameter = centimetersToInches(header.apertureDiameter);
    header.apertureArea = squareCentimetersToSquareInches(header.apertureArea);
    header.unitsMetric = false;
}

void Console::mnucentimeters_Click() {
    if (header.unitsMetric) return;
    header.focalLength = inchesToCentimeters(header.focalLength);
    header.apertureDiameter = inchesToCentimeters(header.apertureDiameter);
    header.apertureArea = squareInchesToSquareCentimeters(header.apertureArea);
    header.unitsMetric = true;
}

// ---------------------------------------------------------------- capture log

void Console::mnuSetFileName_Click() {
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

void Console::mnuStartCapture_Click() {
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
    if (!writeCaptureFile(name, content, nullptr)) {
        // Held as a finished file of its own, so the next part still starts at record 1.
        capture.unwrittenFiles.push_back({capture.capturePartNumber, content});
        if (failed.empty()) failed = name;
        events_->captureFileFailed(name);
    } else {
        events_->captureFileWritten(name);
    }
    showStatus(failed.empty() ? name + " written to disk" : unwrittenCaptureText(failed), true);

    capture.captureRecordNumber = 1;
    ++capture.capturePartNumber;
    const std::string newDate = clock_.dateText();
    const std::string newTime = clock_.timeText();
    capture.captureText = captureOpeningLines(newDate, newTime);
    capture.captureActive = true;
}

void Console::mnuEndCapture_Click() {
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
    if (writeCaptureFile(name, captureFileContent(text), nullptr)) {
        capture.captureText = text;
        events_->captureFileWritten(name);
    } else {
        // The text stays without its closing lines, so a later End Data Capture writes it whole.
        if (failed.empty()) failed = name;
        events_->captureFileFailed(name);
    }
    showStatus(failed.empty() ? name + " written to disk" : unwrittenCaptureText(failed), true);
}

void Console::endCaptureOnShutdown() {
    if (capture.captureActive) mnuEndCapture_Click();
}

// ---------------------------------------------------------------- firmware upload

void Console::mnuUploadFile_Click() {
    try {
        port_.setSettings("115200,N,8,1");
    } catch (const SerialError& e) {
        const std::string text = "COM" + std::to_string(link.commPortNumber) + " settings not applied";
        showStatus(text, true);
        events_->lineSettingsRefused("115200,N,8,1");
        events_->portError(e.what());
        events_->uploadRefused(text);
        return;
    }
    events_->lineSettingsApplied("115200,N,8,1");
    link.baudCode = 1;
    link.replyTimeout = 256;
    link.transferTimeout = 110;

    const std::string path = showFileDialog(FileDialogMode::Open, FileDialogFilter::Bin);
    if (!firmwareNameAccepted(path)) {
        ui_.showMessage("KYR code will be in a '.bin' file");
        events_->uploadRefused("KYR code will be in a '.bin' file");
        return;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(std::filesystem::path(path), ec);
    if (ec) {
        ui_.showMessage("Unable to read " + path);
        events_->uploadRefused("Unable to read " + path);
        return;
    }
    if (size != static_cast<std::uintmax_t>(kFirmwareSize)) {
        ui_.showMessage("File length doesn not match expected '.bin' file");
        events_->uploadRefused("File length doesn not match expected '.bin' file");
        return;
    }
    // Read aside: a refused file must not disturb an upload that is still running.
    auto read = readWholeFile(std::filesystem::path(path), kFirmwareSize);
    if (!read || read->size() != static_cast<std::size_t>(kFirmwareSize)) {
        ui_.showMessage("Unable to read " + path);
        events_->uploadRefused("Unable to read " + path);
        return;
    }
    std::vector<std::uint8_t> image = std::move(*read);
    if (firmwareImageCrc(image) != storedFirmwareCrc(image)) {
        ui_.showMessage("Code CRC check failed - code file is bad");
        events_->uploadRefused("Code CRC check failed - code file is bad");
        return;
    }
    upload.firmwareImage = std::move(image);
    showStatus("File CRC check passed - programming KYR", true);

    // The start packet is not timed: the device may take long to get ready for the pages.
    // A timer left running by an earlier exchange must not fire into the upload.
    stopReplyTimer();
    link.timeoutTicks = 0;
    upload.uploadPage = 0;
    upload.uploadState = 1;
    const std::uint8_t start[] = {32, 0};
    sendDataPacket(253, start, 2);
    ui_.setProgress(0, kFirmwarePages);
    events_->uploadStarted();
}

void Console::fillPageBuffer() {
    upload.pageBuffer = pagePayload(upload.firmwareImage, upload.uploadPage);
}

void Console::uploadAcknowledged() {
    switch (upload.uploadState) {
        case 1:
            fillPageBuffer();
            restartReplyTimer(link.transferTimeout);
            upload.uploadState = 2;
            link.timeoutTicks = 0;
            sendDataPacket(252, upload.pageBuffer, kPagePayloadSize);
            ui_.setProgress(upload.uploadPage, kFirmwarePages);
            events_->uploadProgress(upload.uploadPage, kFirmwarePages);
            break;
        case 2:
            ++upload.uploadPage;
            if (upload.uploadPage >= kFirmwarePages) {
                upload.uploadState = 3;
                const auto final = finalPayload(upload.firmwareImage);
                std::copy(final.begin(), final.end(), upload.pageBuffer.begin());
                link.timeoutTicks = 0;
                stopReplyTimer();
                sendDataPacket(250, upload.pageBuffer, kFinalPayloadSize);
            } else {
                fillPageBuffer();
                restartReplyTimer(link.transferTimeout);
                link.timeoutTicks = 0;
                sendDataPacket(252, upload.pageBuffer, kPagePayloadSize);
            }
            ui_.setProgress(upload.uploadPage, kFirmwarePages);
            events_->uploadProgress(upload.uploadPage, kFirmwarePages);
            break;
        case 3:
            showStatus("Code succesfully uploaded - KYR restarting", true);
            upload.uploadState = 0;
            link.timeoutTicks = 0;
            ui_.setProgress(0, 0);
            // The device restarts: ask for the link once it has had two seconds, without
            // holding up the window meanwhile.
            scheduler_.callLater(2000, [this] {
                if (terminated_) return;
                sendLinkRequest(1);
                events_->uploadLinkRequested();
            });
            events_->uploadDone();
            break;
        default:
            break;
    }
}

void Console::uploadTick() {
    switch (upload.uploadState) {
        case 1:
            // Only a timer left over from another exchange ticks here; no page has been filled
            // yet and the start packet is not repeated, so the tick just stops that timer.
            stopReplyTimer();
            break;
        case 2:
            restartReplyTimer(link.transferTimeout);
            sendDataPacket(252, upload.pageBuffer, kPagePayloadSize);
            break;
        case 3:
            restartReplyTimer(link.transferTimeout);
            sendDataPacket(250, upload.pageBuffer, kFinalPayloadSize);
            break;
        default:
            break;
    }
}

}  // namespace kyr
