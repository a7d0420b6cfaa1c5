#pragma once
// The receive buffer and the framing loop that cuts verified packets out of it.

#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>

#include "link/packet.h"

namespace kyr {

// What a dispatcher tells the framing loop after looking at the packet at the front.
enum class DispatchResult {
    Continue,  // the packet was handled and removed, or it is incomplete and stays in place
    EndEvent   // stop handling this receive event (bytes that follow wait for the next one)
};

class RxBuffer {
public:
    // Byte k of a packet, counted from 1 at its start byte, is rxBuffer[k - 1].
    std::array<std::uint8_t, kRxBufferSize> rxBuffer{};
    std::int16_t rxCount = 0;
    bool headerValid = false;

    // Byte at `offset` from the start byte of the packet at the front (0-based).
    std::uint8_t at(int offset) const { return rxBuffer[static_cast<std::size_t>(offset)]; }
    std::uint8_t type() const { return rxBuffer[1]; }
    int payloadLength() const { return readLe16(rxBuffer.data() + 2); }
    // A packet with an empty payload is its 6-byte header; any other is L + 8 bytes.
    int packetSize() const { return payloadLength() == 0 ? kHeaderSize : payloadLength() + 8; }
    // The whole packet at the front is present.
    bool complete() const { return rxCount >= packetSize(); }
    const std::uint8_t* payload() const { return rxBuffer.data() + kHeaderSize; }
    // The payload of the packet at the front, cut to the bytes the buffer really holds.
    std::span<const std::uint8_t> payloadBytes() const {
        const int held = rxCount > kHeaderSize ? rxCount - kHeaderSize : 0;
        const int len = payloadLength() < held ? payloadLength() : held;
        return {payload(), static_cast<std::size_t>(len)};
    }

    // Removes n bytes from the front; n beyond rxCount empties the buffer.
    void consumeRxBytes(int n);
    // Payload checksum of the complete packet at the front.
    bool checkPayloadChecksum() const;
    // A payload type that arrives without a payload can never pass its checksum.
    bool payloadValid() const { return payloadLength() > 0 && checkPayloadChecksum(); }
    // Removes the packet at the front (n bytes) and clears headerValid.
    void removePacket(int n) {
        consumeRxBytes(n);
        headerValid = false;
    }
    // Empties the buffer and the bytes still waiting to enter it.
    void clear();

    // Types whose packets are only their 6-byte header, handled without looking at L.
    void setHeaderOnlyTypes(std::initializer_list<std::uint8_t> types);

    // The receive event's framing loop: appends `bytes` (in pieces when they do not all fit)
    // and calls `dispatch` for the packet at the front whenever its header is valid.
    void receive(std::span<const std::uint8_t> bytes,
                 const std::function<DispatchResult()>& dispatch);

    // Bytes received but not yet moved into rxBuffer (only when more arrived than fit).
    std::size_t backlogSize() const { return backlog_.size(); }

private:
    // Steps 3..8 of the framing loop over what is in rxBuffer; false when the event must end.
    bool frame(const std::function<DispatchResult()>& dispatch);
    void fillFromBacklog();

    std::deque<std::uint8_t> backlog_;
    std::bitset<256> headerOnly_;
};

}  // namespace kyr
