// The receive event, the dispatcher by packet type, the reply timer and the download cycle.
#include <algorithm>

#include "console/console.h"
#include "common/le16.h"
#include "image/header_parse.h"
#include "link/protocol.h"

namespace kyr {

namespace {
constexpr int kHeaderOnlyPacket = kHeaderSize;
}

// ---------------------------------------------------------------- receive event

void Console::MSComm1_OnComm() {
    // A modal dialog opened from inside a handler runs a nested event loop in which the
    // port may raise this event again; the outer pass takes those events up instead.
    const int event = port_.commEvent();
    if (receiveDepth_ > 0) {
        if (event == kCommEventDeviceLost) lostPending_ = true;
        else receivePending_ = true;
        return;
    }
    ++receiveDepth_;
    if (event == kCommEventDeviceLost) {
        lostPending_ = true;
    } else {
        std::vector<std::uint8_t> bytes;
        if (event == kCommEventReceive) bytes = port_.input();
        rx.receive(bytes, [this] { return dispatchPacket(); });
        while (receivePending_ && !lostPending_ && link.portOpen) {
            receivePending_ = false;
            bytes = port_.input();
            rx.receive(bytes, [this] { return dispatchPacket(); });
        }
    }
    receivePending_ = false;
    --receiveDepth_;
    if (lostPending_) {
        lostPending_ = false;
        portLost();
    }
}

// ---------------------------------------------------------------- dispatcher

namespace {
// A payload type that arrives without a payload can never pass its checksum.
bool payloadValid(const RxBuffer& rx) { return rx.payloadLength() > 0 && rx.checkPayloadChecksum(); }
}  // namespace

DispatchResult Console::dispatchPacket() {
    switch (static_cast<DevicePacket>(rx.type())) {
        case DevicePacket::ScreenImageOffer:
            handleScreenImageOffer();
            break;
        case DevicePacket::FlashDownload:
            handleFlashDownloadNotice();
            break;
        case DevicePacket::BufferReport:
            handleBufferReport();
            break;
        case DevicePacket::ImageHeader:
            return handleImageHeader();
        case DevicePacket::RawRow:
        case DevicePacket::CompressedRow:
            handleImageRow();
            break;
        case DevicePacket::Acknowledge:
            if (upload.uploadState == UploadState::Idle) {
                if (!link.linkEstablished) {
                    showStatus("Link Established");
                    link.linkEstablished = true;
                    events_->linkEstablished();
                } else {
                    showStatus("Keypress acknowledged");
                }
                events_->acknowledged();
            } else {
                uploadAcknowledged();
            }
            rx.removePacket(kHeaderOnlyPacket);
            break;
        case DevicePacket::DisplayText:
            if (!link.linkEstablished) {
                showStatus("Link Established");
                link.linkEstablished = true;
                events_->linkEstablished();
            }
            if (!rx.complete()) break;
            showDisplayText();
            rx.removePacket(rx.packetSize());
            break;
        case DevicePacket::NotUnderstood:
            showStatus("KYR did not understand command");
            rx.removePacket(kHeaderOnlyPacket);
            events_->commandRefused();
            break;
        case DevicePacket::LinkConfirmed:
            showStatus("Link established to KYR");
            rx.removePacket(kHeaderOnlyPacket);
            break;
        case DevicePacket::LinkRequest:
            stopReplyTimer();
            showStatus("Request to establish link");
            rx.removePacket(kHeaderOnlyPacket);
            sendLinkAccept();
            break;
        default:
            // A type the console does not know: dropped once complete, so the link never stalls.
            if (rx.complete()) rx.removePacket(rx.packetSize());
            break;
    }
    return DispatchResult::Continue;
}

void Console::readBufferFlags() {
    const std::uint8_t* p = rx.payload();
    const unsigned high = readLe16(p);      // buffers 16..31
    const unsigned low = readLe16(p + 2);   // buffers 0..15
    for (int i = 0; i < 16; ++i) {
        download.bufferFlags[static_cast<std::size_t>(i)] = ((low >> i) & 1u) != 0;
        download.bufferFlags[static_cast<std::size_t>(16 + i)] = ((high >> i) & 1u) != 0;
    }
    takeFirstFlaggedBuffer(0);
}

void Console::takeFirstFlaggedBuffer(int first) {
    download.downloadAllActive = false;
    for (int b = first; b < 32; ++b) {
        if (download.bufferFlags[static_cast<std::size_t>(b)]) {
            download.imageBufferNumber = static_cast<std::int16_t>(b);
            download.bufferFlags[static_cast<std::size_t>(b)] = false;
            download.downloadAllActive = true;
            return;
        }
    }
}

void Console::endDownloadAll() {
    download.bufferFlags.fill(false);
    download.downloadAllActive = false;
}

void Console::startHeaderRequest(int buffer) {
    download.awaitingHeader = true;
    restartReplyTimer(link.replyTimeout);
    download.imageBufferNumber = static_cast<std::int16_t>(buffer);
    sendHeaderRequest(buffer);
    events_->headerRequested(buffer);
}

void Console::handleScreenImageOffer() {
    showStatus("KYR is downloading current image", true);
    rx.removePacket(kHeaderOnlyPacket);
    startHeaderRequest(kScreenBuffer);
}

void Console::handleFlashDownloadNotice() {
    showStatus("KYR is downloading flash memory", true);
    rx.removePacket(kHeaderOnlyPacket);
    sendCommand(files.autoSaveOn ? HostPacket::BufferReportRequest : HostPacket::DeclineTransfer);
}

void Console::handleBufferReport() {
    showStatus("KYR is communicating filled data buffers", true);
    if (!rx.complete()) return;
    // Only a 4-byte report carries both masks.
    if (payloadValid(rx) && rx.payloadLength() >= 4) {
        if (files.autoSaveOn) {
            readBufferFlags();
            if (download.downloadAllActive) {
                download.downloadAllImages = 0;
                int images = 1;
                for (bool flagged : download.bufferFlags) images += flagged ? 1 : 0;
                events_->downloadAllStarted(images);
                startHeaderRequest(download.imageBufferNumber);
            } else {
                showStatus("KYR data buffers are empty", true);
                events_->buffersEmpty();
            }
        } else {
            sendCommand(HostPacket::DeclineTransfer);
        }
    }
    rx.removePacket(rx.packetSize());
}

DispatchResult Console::handleImageHeader() {
    restartReplyTimer(link.transferTimeout);
    showStatus("Header data being received per host request", true);
    if (!rx.complete()) return DispatchResult::Continue;
    if (!payloadValid(rx)) {
        rx.removePacket(rx.packetSize());
        startHeaderRequest(download.imageBufferNumber);
        return DispatchResult::Continue;
    }
    stopReplyTimer();
    if (const std::string problem = imageHeaderProblem(rx.payloadBytes()); !problem.empty()) {
        // A header the console cannot hold ends the transfer instead of corrupting memory.
        rx.removePacket(rx.packetSize());
        download.awaitingHeader = false;
        download.receivingRows = false;
        endDownloadAll();
        ui_.setProgress(0, 0);
        showStatus(problem, true);
        sendCommand(HostPacket::EndOfTransfer);
        events_->headerRefused(download.imageBufferNumber, problem);
        finishDownloadAll();
        return DispatchResult::Continue;
    }
    header.hdrHasFilterByte = rx.payloadLength() == 44;
    parseImageHeader();
    if (header.hdrHeight == 0) {
        rx.removePacket(rx.packetSize());
        download.awaitingHeader = false;
        download.receivingRows = false;
        events_->headerRefused(download.imageBufferNumber, "");
        return DispatchResult::EndEvent;
    }
    image.imageData.recreate(header.hdrWidth, header.hdrHeight);
    download.currentRow = header.hdrFirstRow;
    download.requestFirstColumn = header.hdrFirstColumn;
    download.requestColumnCount = header.hdrWidth;
    download.awaitingHeader = false;
    download.receivingRows = true;
    restartReplyTimer(link.replyTimeout);
    link.timeoutTicks = 0;
    sendRowRequest(download.imageBufferNumber);
    rx.removePacket(rx.packetSize());
    download.imageComplete = false;
    ui_.setProgress(0, header.hdrHeight);
    events_->headerAccepted(download.imageBufferNumber, header);
    return DispatchResult::Continue;
}

void Console::handleImageRow() {
    // A row nobody asked for (the duplicate of a retried last row, say) changes nothing but
    // the receive buffer: the timer of the request that is outstanding keeps running.
    if (!download.receivingRows) {
        if (rx.complete()) rx.removePacket(rx.packetSize());
        return;
    }
    restartReplyTimer(link.transferTimeout);
    if (!rx.complete()) return;
    stopReplyTimer();
    const bool isRaw = rx.type() == code(DevicePacket::RawRow);
    const bool good = payloadValid(rx) && (isRaw ? decodeRawRow() : decodeCompressedRow());
    if (!good) {
        // Dropped; the same row is asked for again at once.
        rx.removePacket(rx.packetSize());
        restartReplyTimer(link.replyTimeout);
        sendRowRequest(download.imageBufferNumber);
        return;
    }
    const int r = download.currentRow;
    download.currentRow = static_cast<std::int16_t>(r + 1);
    link.timeoutTicks = 0;
    bool complete = false;
    if (r == kAuxRow) {
        complete = true;
    } else if (download.currentRow == header.hdrFirstRow + header.hdrHeight) {
        if (header.hdrExposureCount == 1 && header.mosaicType == 0) complete = true;
        else download.currentRow = kAuxRow;
    }
    if (r != kAuxRow) {
        ui_.setProgress(r - header.hdrFirstRow + 1, header.hdrHeight);
        events_->rowReceived(r - header.hdrFirstRow + 1, header.hdrHeight, r);
    }
    if (complete) {
        download.imageComplete = true;
        completeImage();
        return;
    }
    rx.removePacket(rx.packetSize());
    restartReplyTimer(link.replyTimeout);
    sendRowRequest(download.imageBufferNumber);
}

void Console::completeImage() {
    download.receivingRows = false;
    sendLinkRequest(1);
    image.imageWidth = header.hdrWidth;
    image.imageHeight = header.hdrHeight;
    if (files.autoSaveOn) saveImageWithCompanions();
    rx.removePacket(rx.packetSize());
    ui_.setProgress(0, 0);
    flat.showFlat = false;  // the new image replaces a flat frame on display
    renderImage();
    if (download.downloadAllImages >= 0) ++download.downloadAllImages;
    events_->imageComplete(download.imageBufferNumber);
    requestNextBuffer();
}

void Console::requestNextBuffer() {
    // Buffer 0 is only ever taken by the first pick, from the buffer report.
    if (download.downloadAllActive) takeFirstFlaggedBuffer(1);
    if (download.downloadAllActive) {
        startHeaderRequest(download.imageBufferNumber);
    } else {
        sendCommand(HostPacket::EndOfTransfer);
        finishDownloadAll();
    }
}

void Console::finishDownloadAll() {
    if (download.downloadAllImages < 0) return;
    const int count = download.downloadAllImages;
    download.downloadAllImages = -1;
    events_->downloadAllFinished(count);
}

// ---------------------------------------------------------------- reply timer

void Console::entrytimer_Timer() {
    link.timeoutTicks = static_cast<std::int16_t>(link.timeoutTicks + 1);
    if (link.timeoutTicks >= 4) {
        stopReplyTimer();
        ui_.setProgress(0, 0);
        showStatus("Communication Failed", true);
        events_->transferFailed();
        return;
    }
    if (upload.uploadState != UploadState::Idle) {
        uploadTick();
        return;
    }
    rx.headerValid = false;
    if (download.awaitingHeader) {
        sendHeaderRequest(download.imageBufferNumber);
    } else {
        rx.clear();
        if (port_.portOpen()) (void)port_.input();
        sendRowRequest(download.imageBufferNumber);
    }
}

// ---------------------------------------------------------------- keys and display mirror

void Console::keyClick(std::uint16_t mask) {
    sendKeypress(mask);
    showStatus("Keypress not acknowledged");
    if (upload.uploadState != UploadState::Idle) ui_.setProgress(0, 0);
    upload.uploadState = UploadState::Idle;
}

void Console::cmdturbo_Click() {
    if (!turboOn) {
        ui_.setTurboFace(true);
        turboOn = true;
        keyClick(key::Turbo);
    } else {
        ui_.setTurboFace(false);
        turboOn = false;
        keyClick(0x0000);
    }
}

void Console::cmdparameter_Click() {
    keyClick(key::Parameter);
    ui_.repaintStatus();
}

void Console::cmdinterrupt_Click() {
    keyClick(key::Interrupt);
    if (download.downloadAllActive) endDownloadAll();
}

namespace {
// Display bytes are the host's 8-bit character set; the Ui takes UTF-8.
std::string latin1ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
}  // namespace

void Console::showDisplayText() {
    if (!payloadValid(rx)) {
        ui_.setDisplayText("????????");
        ui_.repaintDisplay();
        return;
    }
    const int n = rx.payloadLength();
    std::string displayText, logLine;
    for (int i = 0; i < n; ++i) {
        const char c = static_cast<char>(rx.payload()[i]);
        displayText += c;
        logLine += c;
        if (i == 23) {
            displayText += kNewLine;
            logLine += "  ";
        }
    }
    ui_.setDisplayText(latin1ToUtf8(displayText));
    ui_.repaintDisplay();
    {
        const std::string raw(reinterpret_cast<const char*>(rx.payload()),
                              static_cast<std::size_t>(n));
        events_->displayTextReceived(raw.substr(0, std::min<std::size_t>(24, raw.size())),
                                     raw.size() > 24 ? raw.substr(24) : std::string());
    }
    if (capture.captureActive) recordCapture(logLine);
}

// ---------------------------------------------------------------- download menus

void Console::mnudownloadlight_Click() {
    if (!link.portOpen) {
        ui_.showMessage(kNoPortMessage);
        return;
    }
    startHeaderRequest(kScreenBuffer);
}

void Console::mnuflashdownload_Click() {
    if (!chooseAutoSaveName()) return;
    files.autoSaveOn = true;
    files.autoSaveNumber = 1;
    sendCommand(HostPacket::BufferReportRequest);
}

void Console::mnuabort_Click() {
    if (download.downloadAllActive) endDownloadAll();
}

}  // namespace kyr
