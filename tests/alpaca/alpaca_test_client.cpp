#include "alpaca/alpaca_test_client.h"

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <array>
#include <cctype>
#include <functional>
#include <chrono>

namespace kyr::test {

using asio::ip::tcp;

AlpacaTestClient::AlpacaTestClient(asio::io_context& io, std::uint16_t port)
    : io_(io), socket_(io) {
    bool done = false;
    socket_.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port),
                          [&](const std::error_code& ec) {
                              EXPECT_FALSE(ec) << ec.message();
                              done = true;
                          });
    runUntil(done);
}

bool AlpacaTestClient::runUntil(const bool& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    io_.restart();
    while (!done && std::chrono::steady_clock::now() < deadline) io_.run_one_until(deadline);
    if (done) return true;
    ADD_FAILURE() << "no answer within 10 s";
    // The handlers waiting refer to the caller's variables: end them before it returns.
    std::error_code ignored;
    socket_.close(ignored);
    while (!done) io_.run_one();
    return false;
}

void AlpacaTestClient::send(std::string_view bytes) {
    bool done = false;
    asio::async_write(socket_, asio::buffer(bytes), [&](const std::error_code&, std::size_t) {
        done = true;  // a refused write shows as a missing answer
    });
    runUntil(done);
}

HttpReply AlpacaTestClient::receive() {
    HttpReply reply;
    bool done = false;
    std::size_t need = 0;
    asio::async_read_until(
        socket_, asio::dynamic_buffer(buffer_), "\r\n\r\n",
        [&](const std::error_code& ec, std::size_t headEnd) {
            if (ec) {
                done = true;
                return;
            }
            // "HTTP/1.1 200 OK", then "Name: value" lines.
            const std::string head = buffer_.substr(0, headEnd);
            buffer_.erase(0, headEnd);
            reply.status = std::stoi(head.substr(9, 3));
            std::size_t at = head.find("\r\n") + 2;
            while (at < head.size() - 2) {
                const std::size_t end = head.find("\r\n", at);
                const std::string line = head.substr(at, end - at);
                std::string name = line.substr(0, line.find(':'));
                for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                reply.headers[name] = line.substr(line.find(':') + 2);
                at = end + 2;
            }
            need = std::stoul(reply.header("content-length"));
            const std::size_t have = std::min(need, buffer_.size());
            asio::async_read(socket_, asio::dynamic_buffer(buffer_),
                             asio::transfer_exactly(need - have),
                             [&](const std::error_code&, std::size_t) {
                                 reply.body = buffer_.substr(0, need);
                                 buffer_.erase(0, std::min(need, buffer_.size()));
                                 done = true;
                             });
        });
    runUntil(done);
    return reply;
}

HttpReply AlpacaTestClient::exchange(std::string_view bytes) {
    send(bytes);
    return receive();
}

HttpReply AlpacaTestClient::get(const std::string& target, const std::string& accept) {
    std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!accept.empty()) request += "Accept: " + accept + "\r\n";
    return exchange(request + "\r\n");
}

HttpReply AlpacaTestClient::put(const std::string& target, const std::string& form) {
    return exchange("PUT " + target +
                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(form.size()) + "\r\n\r\n" + form);
}

bool AlpacaTestClient::closedByServer() {
    bool closed = false;
    bool done = false;
    std::array<char, 4096> scratch;
    std::function<void()> readMore = [&] {
        socket_.async_read_some(asio::buffer(scratch), [&](const std::error_code& ec, std::size_t) {
            if (!ec) return readMore();
            closed = ec == asio::error::eof || ec == asio::error::connection_reset;
            done = true;
        });
    };
    readMore();
    return runUntil(done) && closed;
}

}  // namespace kyr::test
