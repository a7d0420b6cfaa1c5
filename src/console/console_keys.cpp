// The front-panel keys and the mirror of the device's display.
#include <algorithm>

#include "console/console.h"

namespace kyr {

void Console::keyClick(std::uint16_t mask) {
    sendKeypress(mask);
    showStatus("Keypress not acknowledged");
    if (upload.uploadState != UploadState::Idle) ui_.setProgress(0, 0);
    upload.uploadState = UploadState::Idle;
}

void Console::toggleTurbo() {
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

void Console::pressKey(PanelKey k) {
    const PanelKeyInfo& info = panelKeyInfo(k);
    keyClick(isArrowKey(k) ? arrowMask(info.mask) : info.mask);
    if (k == PanelKey::Parameter) ui_.repaintStatus();
    if (k == PanelKey::Interrupt && download.downloadAllActive) endDownloadAll();
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
    if (!rx.payloadValid()) {
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

}  // namespace kyr
