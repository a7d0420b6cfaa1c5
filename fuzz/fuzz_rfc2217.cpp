// Plays an arbitrary telnet server against the RFC 2217 client, in arbitrary pieces, and
// checks that line bytes framed by the client come back unchanged however they are cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "link/rfc2217.h"

using namespace kyr;

namespace {
void feed(Rfc2217Client& c, std::span<const std::uint8_t> wire, std::size_t step,
          std::vector<std::uint8_t>& line, std::vector<std::uint8_t>& reply) {
    for (std::size_t i = 0; i < wire.size(); i += step)
        c.receive(wire.subspan(i, std::min(step, wire.size() - i)), line, reply);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = data[0] % 17 + 1;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);

    Rfc2217Client client;
    client.start();
    client.requestSettings(LineSettings{});
    std::vector<std::uint8_t> line, reply;
    feed(client, bytes, step, line, reply);
    if (line.size() > bytes.size()) __builtin_trap();

    std::vector<std::uint8_t> wire;
    Rfc2217Client::encodeData(bytes, wire);
    Rfc2217Client echo;
    line.clear();
    reply.clear();
    feed(echo, wire, step, line, reply);
    if (!std::equal(line.begin(), line.end(), bytes.begin(), bytes.end()) || !reply.empty())
        __builtin_trap();
    return 0;
}
