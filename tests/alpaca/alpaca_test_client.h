#pragma once
// A small Alpaca client of the tests' own: raw HTTP/1.1 over an Asio socket, with its own
// response reading (nothing shared with the server's parser). It runs on the io_context
// that also runs the server under test, one step at a time, so a test is one thread and
// every wait is bounded.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <nlohmann/json.hpp>

namespace kyr::test {

struct HttpReply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    nlohmann::json json() const { return nlohmann::json::parse(body); }
    std::string header(const std::string& lowerName) const {
        const auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

class AlpacaTestClient {
  public:
    AlpacaTestClient(asio::io_context& io, std::uint16_t port);

    // Sends the bytes as they are and reads one response (status 0 if none came).
    HttpReply exchange(std::string_view bytes);
    void send(std::string_view bytes);
    HttpReply receive();

    HttpReply get(const std::string& target, const std::string& accept = "");
    HttpReply put(const std::string& target, const std::string& form);

    // Reads until the server closes the connection; false if it stays open for 10 s.
    bool closedByServer();

  private:
    // Runs the io_context until done (the server's handlers with it), at most 10 s.
    bool runUntil(const bool& done);

    asio::io_context& io_;
    asio::ip::tcp::socket socket_;
    std::string buffer_;
};

}  // namespace kyr::test
