#include "alpaca/discovery.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include <asio/ip/udp.hpp>

namespace kyr::test {
namespace {

using namespace std::chrono_literals;

TEST(AlpacaDiscovery, AnswersTheDiscoveryDatagramWithTheServersPortAndNothingElse) {
    using alpaca::isDiscoveryRequest;
    EXPECT_TRUE(isDiscoveryRequest("alpacadiscovery1"));
    EXPECT_TRUE(isDiscoveryRequest("alpacadiscoveryB with more bytes"));
    EXPECT_FALSE(isDiscoveryRequest("alpacadiscovery"));
    EXPECT_FALSE(isDiscoveryRequest("alpacadiscovery0"));
    EXPECT_FALSE(isDiscoveryRequest("ALPACADISCOVERY1"));

    asio::io_context io;
    alpaca::AlpacaDiscovery discovery(io, 4567, 0, "127.0.0.1");
    asio::ip::udp::socket s(io, asio::ip::udp::endpoint(asio::ip::udp::v4(), 0));
    const asio::ip::udp::endpoint to(asio::ip::make_address("127.0.0.1"), discovery.port());
    s.send_to(asio::buffer(std::string("hello")), to);
    s.send_to(asio::buffer(std::string("alpacadiscovery1")), to);
    std::array<char, 64> reply{};
    std::size_t length = 0;
    bool done = false;
    s.async_receive(asio::buffer(reply), [&](const std::error_code& ec, std::size_t n) {
        EXPECT_FALSE(ec);
        length = n;
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done && std::chrono::steady_clock::now() < deadline) io.run_one_until(deadline);
    ASSERT_TRUE(done);
    EXPECT_EQ(std::string(reply.data(), length), R"({"AlpacaPort":4567})");
    EXPECT_EQ(s.available(), 0u);  // nothing for "hello"
    // Another Alpaca device on this computer can share the port.
    EXPECT_NO_THROW(alpaca::AlpacaDiscovery(io, 1, discovery.port(), "127.0.0.1"));
}

}  // namespace
}  // namespace kyr::test
