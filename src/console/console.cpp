#include "console/console.h"

#include <array>

#include "common/le16.h"
#include "link/packet.h"
#include "link/protocol.h"
#include "link/speed_table.h"

namespace kyr {

namespace {
std::string speedSettings(int code, int stopBits) {
    return std::to_string(kSpeeds[static_cast<std::size_t>(code)].rate) + ",N,8," +
           std::to_string(stopBits);
}
}  // namespace

Console::Console(SerialPort& port, Ui& ui, ReplyTimer& timer, Clock& clock, Scheduler& scheduler)
    : port_(port), ui_(ui), timer_(timer), clock_(clock), scheduler_(scheduler) {
    rx.setHeaderOnlyTypes({code(DevicePacket::ScreenImageOffer), code(DevicePacket::FlashDownload),
                           code(DevicePacket::Acknowledge), code(DevicePacket::NotUnderstood),
                           code(DevicePacket::LinkConfirmed), code(DevicePacket::LinkRequest)});
    port_.setOnComm([this] { onReceive(); });
}

// ---------------------------------------------------------------- start-up and shutdown

void Console::start() {
    // Reset the form-level state (all but the port).
    upload = FirmwareUpload{};
    link.timeoutTicks = 0;
    rx.clear();
    download = DownloadState{};
    link.linkEstablished = false;
    image.imageWidth = 0;
    display.imageShown = false;
    files.autoSaveOn = false;
    header.unitsMetric = false;
    header.timeText = "00:00:00";
    header.dateText = "00/00/00";
    turboOn = false;
    capture.captureActive = false;
    ui_.setTurboFace(false);

    try {
        link.portOpen = false;
        link.commPortNumber = 1;
        port_.setCommPort(1);
        port_.setSettings("115200,N,8,2");
        link.baudCode = 1;
        port_.setInputLen(0);
        port_.setInputMode(InputMode::Binary);
        port_.setInBufferSize(2048);
        port_.setOutBufferSize(2048);
        port_.setPortOpen(true);
        link.portOpen = true;
        port_.setRThreshold(1);
        lineOpened();
        setReplyIntervals(256, 256);
        events_->lineSettingsApplied("115200,N,8,2");
        sendLinkRequest(1);
        showStatus("Link not established!");
        events_->linkRequested(1);
    } catch (const SerialError& e) {
        showStatus("Unable to open COM1");
        events_->portOpenFailed(1);
        events_->portError(e.what());
    }
}

void Console::shutdown() {
    if (terminated_) return;
    endCaptureOnShutdown();
    if (link.portOpen) {
        sendLinkRequest(0);
        try {
            port_.setPortOpen(false);
        } catch (const SerialError&) {
        }
        link.portOpen = false;
    }
    stopReplyTimer();
    terminated_ = true;
}

void Console::pointerLeftPicture() { ui_.setMousePointer(MousePointer::Default); }

// ---------------------------------------------------------------- link and speed

void Console::setBaudRate(int code) {
    if (code < 1 || code > 5) return;
    const std::string settings = speedSettings(code, 1);
    try {
        port_.setSettings(settings);
    } catch (const SerialError& e) {
        showStatus("COM" + std::to_string(link.commPortNumber) + " settings not applied");
        events_->lineSettingsRefused(settings);
        events_->portError(e.what());
        return;
    }
    const auto& row = kSpeeds[static_cast<std::size_t>(code)];
    link.baudCode = static_cast<std::int16_t>(code);
    setReplyIntervals(row.replyTimeout, row.transferTimeout);
    events_->lineSettingsApplied(settings);
}

void Console::establishLink(int n) {
    try {
        if (link.portOpen) {
            link.portOpen = false;
            port_.setPortOpen(false);
        }
        rx.clear();
        link.commPortNumber = n;
        port_.setCommPort(n);
        if (link.baudCode >= 1 && link.baudCode <= 5) port_.setSettings(speedSettings(link.baudCode, 2));
        port_.setInputLen(0);
        port_.setInputMode(InputMode::Binary);
        port_.setInBufferSize(1024);
        port_.setOutBufferSize(1024);
        port_.setPortOpen(true);
        link.portOpen = true;
        port_.setRThreshold(1);
    } catch (const SerialError& e) {
        const std::string reason = e.what();
        if (port_.portOpen()) {
            try {
                port_.setPortOpen(false);
            } catch (const SerialError&) {
            }
        }
        showStatus("COM" + std::to_string(n) + " not available");
        link.portOpen = false;
        events_->portOpenFailed(n);
        events_->portError(reason);
        return;
    }
    if (link.baudCode >= 1 && link.baudCode <= 5)
        events_->lineSettingsApplied(speedSettings(link.baudCode, 2));
    lineOpened();
    setReplyIntervals(256, 110);
    link.linkEstablished = false;
    showStatus("Link not established", true);
    upload.uploadState = UploadState::Idle;
    sendLinkRequest(1);
    events_->linkRequested(n);
}

void Console::portLost() {
    if (!link.portOpen) return;
    link.portOpen = false;
    link.linkEstablished = false;
    stopReplyTimer();
    rx.clear();
    ui_.setProgress(0, 0);
    showStatus("COM" + std::to_string(link.commPortNumber) + " connection lost" + ui_.lostLineAdvice(),
               true);
    events_->linkLost();
}

// ---------------------------------------------------------------- packets out

void Console::showStatus(const std::string& text, bool repaint) {
    ui_.setStatusText(text);
    if (repaint) ui_.repaintStatus();
}

void Console::writePacket(const std::vector<std::uint8_t>& packet, bool testPortOpen) {
    txPacket = packet;
    if (!link.portOpen || !port_.portOpen()) {
        // Senders without the port test must not write to a closed port either; they stay
        // silent so that the message of the operation that called them (a file saved while
        // working offline, say) is not replaced.
        if (testPortOpen) ui_.showMessage(kNoPortMessage);
        return;
    }
    port_.output(txPacket);
}

void Console::sendLinkRequest(std::uint8_t flag) {
    const std::uint8_t payload[] = {flag, 0};
    writePacket(buildPacket(code(HostPacket::LinkRequest), payload), false);
}

void Console::sendKeypress(std::uint16_t mask) {
    const std::uint8_t payload[] = {lo(mask), hi(mask)};
    writePacket(buildPacket(code(HostPacket::Keypress), payload), true);
}

void Console::sendCommand(HostPacket type) { sendCommand(static_cast<int>(code(type))); }

void Console::sendCommand(int type) {
    writePacket(buildPacket(static_cast<std::uint8_t>(type), {}), true);
}

void Console::sendDataPacket(std::uint8_t type, std::span<const std::uint8_t> data, int n) {
    if (n < 0) n = 0;
    if (static_cast<std::size_t>(n) > data.size()) n = static_cast<int>(data.size());
    writePacket(buildPacket(type, data.first(static_cast<std::size_t>(n))), true);
    showStatus(" PageNumber = " + std::to_string(upload.uploadPage) + " of 192 being sent" +
                   kNewLine + std::to_string(link.timeoutTicks) + " retries",
               true);
}

void Console::sendHeaderRequest(int buffer) {
    const auto b = static_cast<unsigned>(buffer);
    const std::uint8_t payload[] = {lo(b), hi(b)};
    writePacket(buildPacket(code(HostPacket::HeaderRequest), payload, 4), false);
}

void Console::sendRowRequest(int buffer) {
    HostPacket type = HostPacket::CompressedRowRequest;
    unsigned first = static_cast<std::uint16_t>(download.requestFirstColumn);
    unsigned count = static_cast<std::uint16_t>(download.requestColumnCount);
    if (download.currentRow == kAuxRow) {
        type = HostPacket::RawRowRequest;
        first = 0;
        count = kAuxLength;
    }
    const unsigned row = static_cast<std::uint16_t>(download.currentRow);
    const std::uint8_t payload[] = {lo(row),   hi(row),   lo(first), hi(first), lo(count),
                                    hi(count), lo(static_cast<unsigned>(buffer)), 0};
    writePacket(buildPacket(code(type), payload), false);
}

void Console::sendSaveAck(int result) {
    const std::uint8_t payload[] = {static_cast<std::uint8_t>(result), 0};
    writePacket(buildPacket(code(HostPacket::SaveAck), payload), false);
}

void Console::sendLinkAccept() { writePacket(buildPacket(code(HostPacket::LinkAccept), {}), false); }

// ---------------------------------------------------------------- reply timer helpers

void Console::restartReplyTimer(int ms) {
    timer_.setEnabled(false);
    timer_.setInterval(ms);
    timer_.setEnabled(true);
}

void Console::stopReplyTimer() { timer_.setEnabled(false); }

}  // namespace kyr
