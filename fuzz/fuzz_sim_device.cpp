// Feeds the simulated device what a console (or anything else on its pty) might write:
// well-framed packets of any type and payload, mixed with raw bytes. The device must never
// crash, and with faults off everything it sends must be whole, valid frames.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "link/packet.h"
#include "sim/sim_device.h"

using namespace kyr;

namespace {
void checkFrames(const std::vector<std::uint8_t>& out) {
    std::size_t i = 0;
    while (i < out.size()) {
        if (out.size() - i < 6 || out[i] != kStartByte) throw std::logic_error("bad frame start");
        const std::size_t len = out[i + 2] | (out[i + 3] << 8);
        const std::size_t size = len == 0 ? 6 : len + 8;
        if (out.size() - i < size) throw std::logic_error("truncated frame");
        const std::vector<std::uint8_t> f(out.begin() + static_cast<std::ptrdiff_t>(i),
                                          out.begin() + static_cast<std::ptrdiff_t>(i + size));
        const auto payload = std::span(f).subspan(6, len);
        if (buildPacket(f[1], payload) != f) throw std::logic_error("bad checksum");
        i += size;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::SimDevice device;
    std::size_t i = 0;
    // Items: a tag byte, then either raw bytes (tag 0) or a packet of type `tag`, whose
    // payload length is the next byte (255 meaning a 514-byte firmware page).
    while (i < size) {
        const std::uint8_t tag = data[i++];
        if (i >= size) break;
        std::size_t n = data[i++];
        if (tag != 0 && n == 255) n = 514;
        n = std::min(n, size - i);
        const auto body = std::span(data + i, n);
        i += n;
        const std::uint8_t type = tag == 1 ? 0 : tag;  // tag 1 stands for type 0
        const auto bytes = tag == 0 ? std::vector<std::uint8_t>(body.begin(), body.end())
                                    : buildPacket(type, body);
        checkFrames(device.onHostBytes(bytes));
    }
    device.idleTick();
    checkFrames(device.takeOutput());
    return 0;
}
