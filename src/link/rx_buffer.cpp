#include "link/rx_buffer.h"

#include <algorithm>

namespace kyr {

void RxBuffer::consumeRxBytes(int n) {
    if (n <= 0) return;
    if (n >= rxCount) {
        rxCount = 0;
        return;
    }
    const int remaining = rxCount - n;
    std::copy(rxBuffer.begin() + n, rxBuffer.begin() + rxCount, rxBuffer.begin());
    rxCount = static_cast<std::int16_t>(remaining);
}

bool RxBuffer::checkPayloadChecksum() const {
    const int len = payloadLength();
    if (rxCount < len + 8) return false;
    const std::uint16_t sum = byteSum16(std::span(rxBuffer.data() + kHeaderSize,
                                                  static_cast<std::size_t>(len)));
    return sum == readLe16(rxBuffer.data() + kHeaderSize + len);
}

void RxBuffer::clear() {
    rxCount = 0;
    headerValid = false;
    backlog_.clear();
}

void RxBuffer::setHeaderOnlyTypes(std::initializer_list<std::uint8_t> types) {
    headerOnly_.reset();
    for (auto t : types) headerOnly_.set(t);
}

void RxBuffer::fillFromBacklog() {
    const std::size_t room = static_cast<std::size_t>(kRxBufferSize - rxCount);
    const std::size_t n = std::min(room, backlog_.size());
    std::copy_n(backlog_.begin(), n, rxBuffer.begin() + rxCount);
    backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<std::ptrdiff_t>(n));
    rxCount = static_cast<std::int16_t>(rxCount + static_cast<int>(n));
}

void RxBuffer::receive(std::span<const std::uint8_t> bytes,
                       const std::function<DispatchResult()>& dispatch) {
    backlog_.insert(backlog_.end(), bytes.begin(), bytes.end());
    // More bytes than fit are fed in pieces, running the loop between pieces, so that no
    // byte that could fit is lost.
    while (true) {
        fillFromBacklog();
        if (!frame(dispatch)) return;
        if (backlog_.empty()) return;
        if (rxCount == kRxBufferSize) {
            // A full buffer that no handler consumed cannot make progress: drop it rather
            // than spin; the reply timer recovers the exchange.
            clear();
            return;
        }
    }
}

bool RxBuffer::frame(const std::function<DispatchResult()>& dispatch) {
    while (true) {
        // 3
        if (rxCount < 1) return true;
        // 4: resynchronise on the start byte
        if (rxBuffer[0] != kStartByte) {
            int skip = 0;
            while (skip < rxCount && rxBuffer[static_cast<std::size_t>(skip)] != kStartByte) ++skip;
            consumeRxBytes(skip);
            if (rxCount < 1) return true;
        }
        // 5
        if (rxCount < kHeaderSize) return true;
        // 6
        if (!headerValid) {
            const std::uint16_t s = byteSum16(std::span(rxBuffer.data(), 4));
            if (s != readLe16(rxBuffer.data() + 4)) {
                consumeRxBytes(kHeaderSize);
                continue;
            }
            headerValid = true;
            // A payload that can never fit the buffer would stall the link: drop its header.
            if (!headerOnly_.test(type()) && payloadLength() > kMaxPayload) {
                removePacket(kHeaderSize);
                continue;
            }
        }
        // 7
        if (dispatch() == DispatchResult::EndEvent) return false;
        // 8
        if (headerValid || rxCount <= 0) return true;
    }
}

}  // namespace kyr
