// The receive event, the dispatcher by packet type and the reply timer.
#include "console/console.h"
#include "link/protocol.h"

namespace kyr {

// ---------------------------------------------------------------- receive event

void Console::onReceive() {
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

// ---------------------------------------------------------------- reply timer

void Console::onReplyTimer() {
    link.timeoutTicks = static_cast<std::int16_t>(link.timeoutTicks + 1);
    if (link.timeoutTicks >= 4) {
        stopReplyTimer();
        ui_.setProgress(0, 0);
        showStatus("Communication Failed", true);
        events_->transferFailed();
        return;
    }
    // A network line waits longer after each repeat (back-off); a local one keeps the
    // interval it has.
    if (link.networkLine) link.roundTrip.repeated();
    if (upload.uploadState != UploadState::Idle) {
        uploadTick();
        return;
    }
    rx.headerValid = false;
    requestRepeated();
    // The timer keeps its interval on a local line.
    if (link.networkLine) restartReplyTimer(replyInterval());
    if (download.awaitingHeader) {
        sendHeaderRequest(download.imageBufferNumber);
    } else {
        rx.clear();
        if (port_.portOpen()) (void)port_.input();
        sendRowRequest(download.imageBufferNumber);
    }
}

}  // namespace kyr
