#include "alpaca/discovery.h"

#include <array>

#include <asio/buffer.hpp>
#include <asio/ip/udp.hpp>

#include "alpaca/alpaca_platform.h"

namespace kyr::alpaca {

using asio::ip::udp;

bool isDiscoveryRequest(std::string_view datagram) {
    if (datagram.size() < 16 || !datagram.starts_with("alpacadiscovery")) return false;
    const char version = datagram[15];
    return (version >= '1' && version <= '9') || (version >= 'A' && version <= 'Z');
}

std::string discoveryReply(std::uint16_t alpacaPort) {
    return "{\"AlpacaPort\":" + std::to_string(alpacaPort) + "}";
}

struct AlpacaDiscovery::State : std::enable_shared_from_this<State> {
    explicit State(asio::io_context& io) : socket(io) {}

    void receive() {
        socket.async_receive_from(
            asio::buffer(buffer), sender,
            [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
                if (self->stopped || ec == asio::error::operation_aborted) return;
                // Other errors (a datagram too large for the buffer, an ICMP notice) concern
                // one datagram only.
                if (!ec && isDiscoveryRequest(std::string_view(self->buffer.data(), n))) {
                    auto reply = std::make_shared<std::string>(discoveryReply(self->alpacaPort));
                    self->socket.async_send_to(asio::buffer(*reply), self->sender,
                                               [reply](const std::error_code&, std::size_t) {});
                }
                self->receive();
            });
    }

    udp::socket socket;
    udp::endpoint sender;
    std::array<char, 256> buffer{};
    std::uint16_t alpacaPort = 0;
    bool stopped = false;
};

AlpacaDiscovery::AlpacaDiscovery(asio::io_context& io, std::uint16_t alpacaPort,
                                 std::uint16_t discoveryPort, const std::string& address)
    : state_(std::make_shared<State>(io)) {
    state_->alpacaPort = alpacaPort;
    const udp::endpoint at(asio::ip::make_address(address), discoveryPort);
    state_->socket.open(at.protocol());
    shareDiscoveryPort(state_->socket);
    state_->socket.bind(at);
    state_->receive();
}

AlpacaDiscovery::~AlpacaDiscovery() {
    state_->stopped = true;
    std::error_code ignored;
    state_->socket.close(ignored);
}

std::uint16_t AlpacaDiscovery::port() const { return state_->socket.local_endpoint().port(); }

}  // namespace kyr::alpaca
