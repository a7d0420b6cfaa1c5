#pragma once
// kyr-alpaca's HTTP/1.1 server on standalone Asio: keep-alive connections, requests bounded
// in size and time, each handed to the AlpacaRouter. One thread runs the io_context; the
// camera's completions come back to it.
//
// The camera layer plugs in here: kyr-alpaca's main makes an AlpacaCameraDevice over
// src/camera on the io_context that also carries the line, constructs an AlpacaServer with
// it, prints "listening ADDR:PORT" from endpoint(), starts an AlpacaDiscovery with port()
// when asked to, and runs the io_context.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "alpaca/alpaca_camera_device.h"
#include "alpaca/alpaca_router.h"
#include "alpaca/http_request.h"

namespace kyr::alpaca {

struct AlpacaServerOptions {
    std::string address = "127.0.0.1";  // loopback until the observer opens it
    std::uint16_t port = 11111;          // 0: any free port (port() says which)
    ServerDescription description;
    std::string serverHeader = "kyr-alpaca";
    HttpLimits limits;
    // A request begun must be whole within this, or it is answered 408 and the connection
    // ends; a new connection must begin its first request within it too.
    std::chrono::milliseconds requestTimeout{5000};
    // A kept-alive connection that sends nothing for this long is closed.
    std::chrono::milliseconds idleTimeout{30000};
    // A client that does not take its response within this is dropped.
    std::chrono::milliseconds writeTimeout{60000};
    // More clients than this at once are refused (the connection is closed at once).
    std::size_t maxConnections = 32;
};

class AlpacaServer {
  public:
    // Listens at once; throws std::system_error when the address or port cannot be had.
    AlpacaServer(asio::io_context& io, AlpacaCameraDevice& camera, AlpacaServerOptions options);
    // Stops listening and ends every connection; the camera is not called after this. On
    // the io_context's thread, or once it has stopped.
    ~AlpacaServer();
    AlpacaServer(const AlpacaServer&) = delete;
    AlpacaServer& operator=(const AlpacaServer&) = delete;

    asio::ip::tcp::endpoint endpoint() const;
    std::uint16_t port() const { return endpoint().port(); }
    // Open client connections.
    std::size_t connections() const;

    struct Shared;
    class Connection;

  private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace kyr::alpaca
