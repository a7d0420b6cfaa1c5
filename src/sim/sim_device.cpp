#include "sim/sim_device.h"

#include <algorithm>

#include "common/le16.h"
#include "link/packet.h"
#include "link/protocol.h"

namespace kyr::sim {

namespace {

// Payload lengths of the packets the console sends; other lengths are not understood.
int expectedLength(std::uint8_t type) {
    switch (static_cast<HostPacket>(type)) {
        case HostPacket::DeclineTransfer:
        case HostPacket::EndOfTransfer:
        case HostPacket::BufferReportRequest:
        case HostPacket::LinkAccept:
            return 0;
        case HostPacket::HeaderRequest:
        case HostPacket::Keypress:
        case HostPacket::LinkRequest:
        case HostPacket::SaveAck:
        case HostPacket::FirmwareStart:
            return 2;
        case HostPacket::RawRowRequest:
        case HostPacket::CompressedRowRequest:
            return 8;
        case HostPacket::FirmwareFinal:
            return 4;
        case HostPacket::FirmwarePage:
            return 2 + kFirmwarePageSize;
    }
    return -1;
}


ScreenSettings screenSettingsOf(const SimMenu& m) {
    ScreenSettings s;
    s.frame = m.frame();
    s.exposureHundredths = m.value(Param::Exposure);
    s.gain = m.value(Param::Gain);
    s.filterCode = m.value(Param::Filter);
    s.temperatureHundredths = m.temperatureHundredths();
    return s;
}

}  // namespace

const char* uploadResultName(UploadResult r) {
    switch (r) {
        case UploadResult::None:
            return "none";
        case UploadResult::InProgress:
            return "in progress";
        case UploadResult::Accepted:
            return "accepted";
        case UploadResult::Refused:
            return "refused";
    }
    return "?";
}

SimDevice::SimDevice(SimOptions options)
    : options_(std::move(options)),
      faultRng_(mixSeed(options_.seed, 1)),
      chunkRng_(mixSeed(options_.seed, 2)),
      idleRng_(mixSeed(options_.seed, 3)),
      empty_(makeEmptyImage()) {
    if (!setFilledBuffers(options_.filledBuffers)) setFilledBuffers({});
    screenSettings_ = screenSettingsOf(menu_);
}

// ---------------------------------------------------------------- the line

void SimDevice::receive(std::span<const std::uint8_t> bytes) {
    rx_.receive(bytes, [this] { return dispatch(); });
}

std::vector<std::uint8_t> SimDevice::takeOutput() {
    std::vector<std::uint8_t> o;
    o.swap(out_);
    return o;
}

std::vector<std::vector<std::uint8_t>> SimDevice::takeChunks() {
    std::vector<std::vector<std::uint8_t>> chunks;
    auto all = takeOutput();
    if (all.empty()) return chunks;
    if (!options_.faults.split) {
        chunks.push_back(std::move(all));
        return chunks;
    }
    std::size_t at = 0;
    while (at < all.size()) {
        const auto n =
            std::min(all.size() - at, static_cast<std::size_t>(chunkRng_.between(1, 16)));
        chunks.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                            all.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    }
    return chunks;
}

std::vector<std::uint8_t> SimDevice::onHostBytes(std::span<const std::uint8_t> bytes) {
    receive(bytes);
    return takeOutput();
}

DispatchResult SimDevice::dispatch() {
    const int length = rx_.payloadLength();
    const int size = length == 0 ? kHeaderSize : length + 8;
    if (rx_.rxCount < size) return DispatchResult::Continue;  // the rest is still coming
    const std::uint8_t type = rx_.type();
    const bool good = length == 0 || rx_.checkPayloadChecksum();
    const std::vector<std::uint8_t> payload(rx_.payload(), rx_.payload() + length);
    rx_.removePacket(size);
    if (!good) {
        ++stats_.badChecksums;
        emitNak();
        return DispatchResult::Continue;
    }
    if (expectedLength(type) != length) {
        ++stats_.unknownPackets;
        emitNak();
        return DispatchResult::Continue;
    }
    ++stats_.packetsByType[type];
    handle(type, payload);
    return DispatchResult::Continue;
}

void SimDevice::handle(std::uint8_t type, std::span<const std::uint8_t> p) {
    switch (static_cast<HostPacket>(type)) {
        case HostPacket::LinkRequest:
            if (p[0] == 1) {
                ++stats_.linkRequests;
                linkUp_ = true;
                menu_.linkRequested();
                customText_.reset();
                emitAck(false);
                sendDisplay();
            } else if (p[0] == 0) {
                ++stats_.linkReleases;
                linkUp_ = false;  // the console leaves; nothing is answered
            } else {
                ++stats_.unknownPackets;
                emitNak();
            }
            return;
        case HostPacket::Keypress:
            handleKey(readLe16(p, 0));
            return;
        case HostPacket::HeaderRequest:
            handleHeaderRequest(readLe16(p, 0));
            return;
        case HostPacket::RawRowRequest:
        case HostPacket::CompressedRowRequest:
            handleRowRequest(type, p);
            return;
        case HostPacket::BufferReportRequest:
            handleBufferReportRequest();
            return;
        case HostPacket::DeclineTransfer:  // the console declined a flash download
        case HostPacket::EndOfTransfer:    // end of an image transfer
        case HostPacket::LinkAccept:       // the console accepted the link the device asked for
            return;                        // noted in the statistics, not answered
        case HostPacket::SaveAck:
            stats_.saveAcks.push_back(p[0]);
            return;
        case HostPacket::FirmwareStart:
            handleUploadStart();
            return;
        case HostPacket::FirmwarePage:
            handleUploadPage(p);
            return;
        case HostPacket::FirmwareFinal:
            handleUploadFinal(p);
            return;
    }
    ++stats_.unknownPackets;
    emitNak();
}

void SimDevice::emit(DevicePacket type, std::span<const std::uint8_t> payload, bool reRequestable) {
    auto packet = buildPacket(code(type), payload);
    const FaultSettings& f = options_.faults;
    if (f.junkRate > 0 && faultRng_.chance(f.junkRate)) {
        ++stats_.junkBursts;
        const int n = faultRng_.between(1, 8);
        for (int i = 0; i < n; ++i) {
            auto b = static_cast<std::uint8_t>(faultRng_.between(0, 255));
            out_.push_back(b == kStartByte ? 0x5A : b);
        }
    }
    if (reRequestable) {
        if (consecutiveFaults_ < f.maxConsecutiveFaults) {
            if (f.dropRate > 0 && faultRng_.chance(f.dropRate)) {
                ++consecutiveFaults_;
                ++stats_.answersDropped;
                return;
            }
            if (f.corruptRate > 0 && faultRng_.chance(f.corruptRate)) {
                ++consecutiveFaults_;
                ++stats_.answersCorrupted;
                if (payload.empty()) {
                    packet[4] ^= 0x01;  // a damaged header: the console drops the six bytes
                } else {
                    const auto i = static_cast<std::size_t>(
                        kHeaderSize + faultRng_.between(0, static_cast<int>(payload.size()) - 1));
                    packet[i] ^= static_cast<std::uint8_t>(faultRng_.between(1, 255));
                }
                out_.insert(out_.end(), packet.begin(), packet.end());
                return;
            }
        }
        consecutiveFaults_ = 0;
    }
    out_.insert(out_.end(), packet.begin(), packet.end());
}

// ---------------------------------------------------------------- panel

void SimDevice::handleKey(std::uint16_t mask) {
    stats_.keys.push_back(mask);
    if (!menu_.press(mask)) {
        ++stats_.unknownPackets;
        emitNak();
        return;
    }
    customText_.reset();
    refreshScreenImage();
    emitAck(false);
    sendDisplay();
}

void SimDevice::sendDisplay() {
    const std::string t = displayText();
    std::vector<std::uint8_t> payload(t.begin(), t.end());
    payload.resize(kDisplayChars, ' ');
    emit(DevicePacket::DisplayText, payload, false);
}

void SimDevice::showText(const std::string& text) {
    std::string t = text;
    t.resize(kDisplayChars, ' ');
    customText_ = t;
    sendDisplay();
}

void SimDevice::idleTick() {
    const std::string before = displayText();
    // A cooled sensor wanders around its set point.
    const int pull = (kSensorSetPoint - menu_.temperatureHundredths()) / 8;
    menu_.idleTick(idleRng_.between(-12, 12) + pull);
    if (displayText() != before) sendDisplay();
}

void SimDevice::offerScreenImage() {
    emit(DevicePacket::ScreenImageOffer, {}, false);
}
void SimDevice::announceFlashDownload() {
    emit(DevicePacket::FlashDownload, {}, false);
}
void SimDevice::requestLink() {
    emit(DevicePacket::LinkRequest, {}, false);
}
void SimDevice::sendDidNotUnderstand() {
    emit(DevicePacket::NotUnderstood, {}, false);
}

void SimDevice::takeScreenImage() {
    const std::string before = displayText();
    menu_.takeImage();
    refreshScreenImage();
    if (displayText() != before) sendDisplay();
}

// ---------------------------------------------------------------- images

bool SimDevice::setFilledBuffers(const std::vector<int>& buffers) {
    std::bitset<kStoredBuffers> f;
    for (int b : buffers) {
        if (b < 0 || b >= kStoredBuffers) return false;
        f.set(static_cast<std::size_t>(b));
    }
    filled_ = f;
    return true;
}

std::vector<int> SimDevice::filledBuffers() const {
    std::vector<int> v;
    for (int b = 0; b < kStoredBuffers; ++b) {
        if (filled_.test(static_cast<std::size_t>(b))) v.push_back(b);
    }
    return v;
}

const SimImage& SimDevice::image(int buffer) const {
    if (buffer == kScreenBuffer) {
        if (!screen_)
            screen_ =
                firstRows(makeScreenImage(options_.seed, screenSettings_), options_.screenRows);
        return *screen_;
    }
    if (buffer < 0 || buffer >= kStoredBuffers || !filled_.test(static_cast<std::size_t>(buffer))) {
        return empty_;
    }
    auto& slot = stored_[static_cast<std::size_t>(buffer)];
    if (!slot) slot = makeStoredImage(options_.seed, buffer);
    return *slot;
}

void SimDevice::refreshScreenImage() {
    // A new frame is taken by the Image key, with the settings of that moment.
    if (menu_.frame() == screenSettings_.frame) return;
    screenSettings_ = screenSettingsOf(menu_);
    screen_.reset();
}

void SimDevice::handleHeaderRequest(int buffer) {
    if (buffer < 0 || buffer > kScreenBuffer) {
        ++stats_.unknownPackets;
        emitNak();
        return;
    }
    emit(DevicePacket::ImageHeader, encodeHeaderPayload(image(buffer).header), true);
}

void SimDevice::handleRowRequest(std::uint8_t type, std::span<const std::uint8_t> p) {
    const int row = readLe16(p, 0);
    const int first = readLe16(p, 2);
    int count = readLe16(p, 4);
    const SimImage& img = image(p[6]);
    if (row == kExtraRow) {
        // The extra data row goes out whole and uncompressed, whatever columns were asked.
        emit(DevicePacket::RawRow, encodeRawRow(img.extraRow), true);
        return;
    }
    const SimHeader& h = img.header;
    const int r = row - h.firstRow;
    const int c = options_.wholeRows ? 0 : first - h.firstColumn;
    if (options_.wholeRows && !img.empty()) count = h.width;
    if (img.empty() || r < 0 || r >= h.height || c < 0 || count < 1 || c + count > h.width) {
        ++stats_.unknownPackets;
        emitNak();
        return;
    }
    const auto values =
        img.row(r).subspan(static_cast<std::size_t>(c), static_cast<std::size_t>(count));
    if (type == code(HostPacket::CompressedRowRequest) && !options_.rawRows) {
        if (auto packed = encodeCompressedRow(values)) {
            emit(DevicePacket::CompressedRow, *packed, true);
            return;
        }
    }
    emit(DevicePacket::RawRow, encodeRawRow(values), true);
}

void SimDevice::handleBufferReportRequest() {
    unsigned low = 0, high = 0;
    for (int b = 0; b < kStoredBuffers; ++b) {
        if (!filled_.test(static_cast<std::size_t>(b))) continue;
        if (b < 16)
            low |= 1u << b;
        else
            high |= 1u << (b - 16);
    }
    const std::uint8_t payload[] = {lo(high), hi(high), lo(low), hi(low)};
    emit(DevicePacket::BufferReport, payload, false);
}

// ---------------------------------------------------------------- firmware

void SimDevice::handleUploadStart() {
    upload_.active = true;
    upload_.nextPage = 0;
    upload_.image.assign(kFirmwareSize, 0xFF);
    upload_.result = UploadResult::InProgress;
    upload_.detail.clear();
    emitAck(false);
}

void SimDevice::handleUploadPage(std::span<const std::uint8_t> p) {
    const int page = p[0] - 64;
    if (!upload_.active || p[0] < 64 || p[1] != 0) {
        ++stats_.unknownPackets;
        emitNak();
        return;
    }
    // The page just acknowledged may come again when the acknowledge was lost.
    if (page != upload_.nextPage && page != upload_.nextPage - 1) {
        upload_.detail = "page " + std::to_string(page) + " sent while page " +
                         std::to_string(upload_.nextPage) + " was expected";
        emitNak();
        return;
    }
    const auto base = static_cast<std::size_t>(page) * kFirmwarePageSize;
    for (std::size_t k = 0; k < kFirmwarePageSize; k += 2) {
        upload_.image[base + k] = p[2 + k + 1];
        upload_.image[base + k + 1] = p[2 + k];
    }
    if (page == upload_.nextPage) ++upload_.nextPage;
    emitAck(true);
}

void SimDevice::refuseUpload(const std::string& why) {
    upload_.active = false;
    upload_.result = UploadResult::Refused;
    upload_.detail = why;
    emitNak();
}

void SimDevice::handleUploadFinal(std::span<const std::uint8_t> p) {
    if (!upload_.active || p[0] != 32 || p[1] != 0) {
        ++stats_.unknownPackets;
        emitNak();
        return;
    }
    if (upload_.nextPage != kFirmwarePages) {
        refuseUpload("page " + std::to_string(upload_.nextPage) + " missing");
        return;
    }
    const auto& img = upload_.image;
    const std::uint16_t computed = firmwareCrc16(std::span(img.data(), kFirmwareCrcCovered));
    const std::uint16_t stored =
        static_cast<std::uint16_t>(img[kFirmwareSize - 2] << 8 | img[kFirmwareSize - 1]);
    const std::uint16_t announced = readLe16(p, 2);
    if (computed != stored) {
        refuseUpload("CRC check failed");
        return;
    }
    if (announced != stored) {
        refuseUpload("final packet CRC does not match the code");
        return;
    }
    upload_.active = false;
    upload_.result = UploadResult::Accepted;
    upload_.detail.clear();
    acceptedFirmware_ = img;
    emitAck(false);
    // The new code starts: the panel says so until the console asks for the link again.
    menu_.restart();
    customText_.reset();
    linkUp_ = false;
    screenSettings_ = screenSettingsOf(menu_);
    screen_.reset();
    sendDisplay();
}

}  // namespace kyr::sim
