// Feeds arbitrary line bytes, in arbitrary chunks, through the framing loop with a
// dispatcher that behaves like the console's (waits for bodies, removes packets).
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "link/rx_buffer.h"

using namespace kyr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RxBuffer rx;
    rx.setHeaderOnlyTypes({0, 1, 6, 21, 254, 255});
    auto dispatch = [&]() -> DispatchResult {
        if (rx.rxCount < kHeaderSize || rx.at(0) != kStartByte || !rx.headerValid)
            throw std::logic_error("dispatched without a verified header");
        const std::uint8_t t = rx.type();
        if (t == 0 || t == 1 || t == 6 || t == 21 || t == 254 || t == 255) {
            rx.removePacket(kHeaderSize);
            return DispatchResult::Continue;
        }
        if (!rx.complete()) return DispatchResult::Continue;
        (void)rx.checkPayloadChecksum();
        rx.removePacket(rx.packetSize());
        return t == 4 ? DispatchResult::EndEvent : DispatchResult::Continue;
    };
    // The first byte of each chunk gives the length of the next chunk.
    std::size_t i = 0;
    while (i < size) {
        std::size_t n = data[i++];
        n = n == 0 ? 1 : n * 11;
        if (n > size - i) n = size - i;
        rx.receive({data + i, n}, dispatch);
        if (rx.rxCount < 0 || rx.rxCount > kRxBufferSize) __builtin_trap();
        i += n;
    }
    return 0;
}
