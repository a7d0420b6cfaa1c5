// The download cycle: header, rows, the extra data row, saving with the acknowledge the
// device waits for, then the next flagged buffer or the end of the transfer.
#include "common/le16.h"
#include "console/console.h"
#include "image/header_parse.h"
#include "link/protocol.h"

namespace kyr {

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
    download.headerOnly = false;
    download.window = {};
    download.awaitingHeader = true;
    awaitFirstAnswer();
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
    if (rx.payloadValid() && rx.payloadLength() >= 4) {
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
    // A header nobody asked for (the late answer to a header request the timer repeated)
    // changes nothing but the receive buffer: taken while rows arrive, it would start the rows
    // again and the row in flight would land one row off.
    if (!download.awaitingHeader) {
        dropUnaskedAnswer();
        return DispatchResult::Continue;
    }
    restartReplyTimer(pieceInterval());
    showStatus("Header data being received per host request", true);
    if (!rx.complete()) return DispatchResult::Continue;
    if (!rx.payloadValid()) {
        rx.removePacket(rx.packetSize());
        repeatAfterBadAnswer();
        sendHeaderRequest(download.imageBufferNumber);
        events_->headerRequested(download.imageBufferNumber);
        return DispatchResult::Continue;
    }
    stopReplyTimer();
    answerTaken();
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
    if (download.headerOnly) return acceptHeaderOnly();
    startRows();
    rx.removePacket(rx.packetSize());
    events_->headerAccepted(download.imageBufferNumber, header);
    return DispatchResult::Continue;
}

void Console::startRows() {
    image.imageData.recreate(header.hdrWidth, header.hdrHeight);
    image.fromForeignFits = false;
    image.saturationLimit = 65535;
    download.currentRow = header.hdrFirstRow;
    download.requestFirstColumn = header.hdrFirstColumn;
    download.requestColumnCount = header.hdrWidth;
    download.awaitingHeader = false;
    download.receivingRows = true;
    download.imageComplete = false;
    awaitFirstAnswer();
    link.timeoutTicks = 0;
    sendRowRequest(download.imageBufferNumber);
    ui_.setProgress(0, header.hdrHeight);
}

void Console::handleImageRow() {
    // A row nobody asked for (the duplicate of a retried last row, say) changes nothing but
    // the receive buffer: the timer of the request that is outstanding keeps running.
    if (!download.receivingRows) {
        dropUnaskedAnswer();
        return;
    }
    restartReplyTimer(pieceInterval());
    if (!rx.complete()) return;
    if (dropCopyOfLastAnswer()) {
        // The answer to a repeat of the request before; the one awaited is still to come.
        restartReplyTimer(replyInterval());
        return;
    }
    stopReplyTimer();
    const bool isRaw = rx.type() == code(DevicePacket::RawRow);
    const bool good = rx.payloadValid() && (isRaw ? decodeRawRow() : decodeCompressedRow());
    if (!good) {
        // Dropped; the same row is asked for again at once.
        rx.removePacket(rx.packetSize());
        repeatAfterBadAnswer();
        sendRowRequest(download.imageBufferNumber);
        return;
    }
    answerTaken();
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
    awaitFirstAnswer();
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

// The device waits for one acknowledge per file: after the image of a single exposure, after
// each companion file; a refusal ends a running Download All.
void Console::acknowledgeSave(bool saved) {
    if (!saved) download.downloadAllActive = false;
    sendSaveAck(saved ? 0 : 1);
}

void Console::saveImageWithCompanions() {
    // An image and its companion are written both or neither.
    if (!storeImageFile()) {
        acknowledgeSave(false);
        return;
    }
    if (header.hdrExposureCount == 1) acknowledgeSave(true);
    if (header.hdrExposureCount > 1) writeTrackList();
    if (header.mosaicType > 0) writeMosaicData();
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

// ---------------------------------------------------------------- download menus

void Console::downloadScreenImage() {
    if (!link.portOpen) {
        ui_.showMessage(kNoPortMessage);
        return;
    }
    startHeaderRequest(kScreenBuffer);
}

void Console::downloadAll() {
    // The images are saved as this name with 001, 002... added.
    if (!chooseAutoSaveName("Download All: Base Name for the Images")) return;
    files.autoSaveOn = true;
    files.autoSaveNumber = 1;
    sendCommand(HostPacket::BufferReportRequest);
}

void Console::abortDownloadAll() {
    if (download.downloadAllActive) endDownloadAll();
}

}  // namespace kyr
