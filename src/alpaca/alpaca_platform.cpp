#include "alpaca/alpaca_platform.h"

#include <asio/socket_base.hpp>

#if !defined(_WIN32)
#include <sys/socket.h>
#endif

namespace kyr::alpaca {

void prepareListener(asio::ip::tcp::acceptor& acceptor) {
#if defined(_WIN32)
    // There SO_REUSEADDR would let another program take the port from under the server.
    (void)acceptor;
#else
    acceptor.set_option(asio::socket_base::reuse_address(true));
#endif
}

void shareDiscoveryPort(asio::ip::udp::socket& socket) {
    // What the Alpaca discovery protocol asks: SO_REUSEADDR everywhere, SO_REUSEPORT too
    // where the system has it.
    socket.set_option(asio::socket_base::reuse_address(true));
#if defined(SO_REUSEPORT)
    socket.set_option(asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>(true));
#endif
}

}  // namespace kyr::alpaca
