// The firmware upload: the file's checks, then page by page with stop and wait.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "console/console.h"
#include "files/file_io.h"
#include "firmware/firmware.h"

namespace kyr {

void Console::uploadFirmware() {
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
    setReplyIntervals(256, 110);

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
    upload.uploadState = UploadState::StartSent;
    const std::uint8_t start[] = {32, 0};
    sendDataPacket(code(HostPacket::FirmwareStart), start, 2);
    ui_.setProgress(0, kFirmwarePages);
    events_->uploadStarted();
}

void Console::fillPageBuffer() {
    upload.pageBuffer = pagePayload(upload.firmwareImage, upload.uploadPage);
}

void Console::uploadAcknowledged() {
    switch (upload.uploadState) {
        case UploadState::StartSent:
            fillPageBuffer();
            restartReplyTimer(uploadInterval());
            upload.uploadState = UploadState::Pages;
            link.timeoutTicks = 0;
            sendDataPacket(code(HostPacket::FirmwarePage), upload.pageBuffer, kPagePayloadSize);
            ui_.setProgress(upload.uploadPage, kFirmwarePages);
            events_->uploadProgress(upload.uploadPage, kFirmwarePages);
            break;
        case UploadState::Pages:
            ++upload.uploadPage;
            if (upload.uploadPage >= kFirmwarePages) {
                upload.uploadState = UploadState::FinalSent;
                const auto final = finalPayload(upload.firmwareImage);
                std::copy(final.begin(), final.end(), upload.pageBuffer.begin());
                link.timeoutTicks = 0;
                stopReplyTimer();
                sendDataPacket(code(HostPacket::FirmwareFinal), upload.pageBuffer, kFinalPayloadSize);
            } else {
                fillPageBuffer();
                restartReplyTimer(uploadInterval());
                link.timeoutTicks = 0;
                sendDataPacket(code(HostPacket::FirmwarePage), upload.pageBuffer, kPagePayloadSize);
            }
            ui_.setProgress(upload.uploadPage, kFirmwarePages);
            events_->uploadProgress(upload.uploadPage, kFirmwarePages);
            break;
        case UploadState::FinalSent:
            showStatus("Code succesfully uploaded - KYR restarting", true);
            upload.uploadState = UploadState::Idle;
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
        case UploadState::Idle:
            break;
    }
}

void Console::uploadTick() {
    switch (upload.uploadState) {
        case UploadState::StartSent:
            // Only a timer left over from another exchange ticks here; no page has been filled
            // yet and the start packet is not repeated, so the tick just stops that timer.
            stopReplyTimer();
            break;
        case UploadState::Pages:
            restartReplyTimer(uploadInterval());
            sendDataPacket(code(HostPacket::FirmwarePage), upload.pageBuffer, kPagePayloadSize);
            break;
        case UploadState::FinalSent:
            restartReplyTimer(uploadInterval());
            sendDataPacket(code(HostPacket::FirmwareFinal), upload.pageBuffer, kFinalPayloadSize);
            break;
        default:
            break;
    }
}

}  // namespace kyr
