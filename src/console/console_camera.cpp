// What a camera on the console needs beyond the menu's downloads: the screen image's header
// alone (is there a new image?), a window of its rows and columns (a sub-frame), and the end
// of a transfer on demand (an abort).
#include <algorithm>
#include <vector>

#include "console/console.h"
#include "image/header_parse.h"
#include "image/row_decode.h"
#include "link/protocol.h"

namespace kyr {

void Console::requestScreenHeader() {
    if (!link.portOpen) {
        ui_.showMessage(kNoPortMessage);
        return;
    }
    startHeaderRequest(kScreenBuffer);
    download.headerOnly = true;
}

DispatchResult Console::acceptHeaderOnly() {
    // The header is in the record and on the panel; the transfer stays open until the rows
    // are asked for or it is ended.
    rx.removePacket(rx.packetSize());
    download.awaitingHeader = false;
    download.receivingRows = false;
    download.headerOnly = false;
    link.timeoutTicks = 0;
    events_->headerAccepted(download.imageBufferNumber, header);
    return DispatchResult::Continue;
}

void Console::downloadWindow(int firstRow, int rows, int firstColumn, int columns) {
    const int top = std::max(firstRow, static_cast<int>(header.hdrFirstRow));
    const int left = std::max(firstColumn, static_cast<int>(header.hdrFirstColumn));
    const int bottom = std::min(firstRow + rows, header.hdrFirstRow + header.hdrHeight);
    const int right = std::min(firstColumn + columns, header.hdrFirstColumn + header.hdrWidth);
    if (!link.portOpen || bottom <= top || right <= left) {
        abortTransfer();
        return;
    }
    download.window = {right - left < header.hdrWidth, header.hdrFirstColumn, header.hdrWidth};
    header.hdrFirstRow = static_cast<std::int16_t>(top);
    header.hdrHeight = static_cast<std::int16_t>(bottom - top);
    header.hdrFirstColumn = static_cast<std::int16_t>(left);
    header.hdrWidth = static_cast<std::int16_t>(right - left);
    ui_.setHeaderText(imageInformationPanel(header, display.background, display.range));
    startRows();
}

void Console::abortTransfer() {
    stopReplyTimer();
    // With both flags down, a header or row still on its way is dropped when it arrives.
    download.awaitingHeader = false;
    download.receivingRows = false;
    download.headerOnly = false;
    download.window = {};
    endDownloadAll();
    ui_.setProgress(0, 0);
    if (link.portOpen) sendCommand(HostPacket::EndOfTransfer);
    finishDownloadAll();
}

bool Console::decodeWindowRow(bool raw, std::span<std::int16_t> row) {
    const std::span<const std::uint8_t> payload = rx.payloadBytes();
    const int width = header.hdrWidth;
    const int whole = download.window.rowWidth;
    const auto size = payload.size();
    // The answer's length tells the window's columns from the whole row.
    bool cut = false;
    if (raw) {
        if (size == 2 * static_cast<std::size_t>(width)) return decodeRawRowPayload(payload, width, row);
        cut = size == 2 * static_cast<std::size_t>(whole);
    } else {
        if (compressedRowLength(payload, width) == size) {
            return decodeCompressedRowPayload(payload, width, row);
        }
        cut = compressedRowLength(payload, whole) == size;
    }
    if (!cut) return false;
    std::vector<std::int16_t> all(static_cast<std::size_t>(whole));
    const bool good = raw ? decodeRawRowPayload(payload, whole, all)
                          : decodeCompressedRowPayload(payload, whole, all);
    if (!good) return false;
    const auto from = static_cast<std::size_t>(header.hdrFirstColumn - download.window.rowFirstColumn);
    std::copy_n(all.begin() + static_cast<std::ptrdiff_t>(from), width, row.begin());
    return true;
}

}  // namespace kyr
