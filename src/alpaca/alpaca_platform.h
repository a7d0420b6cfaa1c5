#pragma once
// Socket options whose meaning differs between systems: the one place kyr-alpaca's code
// says which system it is on.

#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>

namespace kyr::alpaca {

// A restarted server gets its port back at once, while old connections wait out TIME_WAIT.
void prepareListener(asio::ip::tcp::acceptor& acceptor);

// Several Alpaca devices on one computer share the discovery port.
void shareDiscoveryPort(asio::ip::udp::socket& socket);

}  // namespace kyr::alpaca
