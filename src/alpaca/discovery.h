#pragma once
// Alpaca discovery: a client broadcasts "alpacadiscovery1" to UDP port 32227 and every Alpaca
// device answers the sender with {"AlpacaPort": N}, the port of its HTTP server.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>

namespace kyr::alpaca {

// "alpacadiscovery" then a version character (1..9, A..Z); later versions only add bytes.
bool isDiscoveryRequest(std::string_view datagram);
std::string discoveryReply(std::uint16_t alpacaPort);

class AlpacaDiscovery {
  public:
    static constexpr std::uint16_t kDefaultPort = 32227;

    // Answers on every IPv4 interface (or the address given) at discoveryPort; 0 picks a free
    // port (port() says which). Throws std::system_error when the port cannot be had.
    AlpacaDiscovery(asio::io_context& io, std::uint16_t alpacaPort,
                    std::uint16_t discoveryPort = kDefaultPort,
                    const std::string& address = "0.0.0.0");
    ~AlpacaDiscovery();
    AlpacaDiscovery(const AlpacaDiscovery&) = delete;
    AlpacaDiscovery& operator=(const AlpacaDiscovery&) = delete;

    std::uint16_t port() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace kyr::alpaca
