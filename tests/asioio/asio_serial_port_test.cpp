// The Asio serial port against a pseudo-terminal, a raw TCP peer and a telnet server of the
// test's own that speaks just enough RFC 2217: the bytes on the wire, the settings on the
// device and at the far port, and how opening and losing the line are reported.
#include "asioio/asio_serial_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <asio/ip/tcp.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <functional>

#include "asioio/line_parity.h"
#include "link/rfc2217.h"

namespace kyr {
namespace {

using asio::ip::tcp;
using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

class AsioSerialPortTest : public ::testing::Test {
  protected:
    AsioSerialPortTest() {
        port.setOnComm([this] {
            events.push_back(port.commEvent());
            const Bytes b = port.input();
            received.insert(received.end(), b.begin(), b.end());
        });
    }
    // Runs the event loop until `done`; false if that does not come within 10 s.
    bool runUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        io.restart();
        while (!done() && std::chrono::steady_clock::now() < deadline) io.run_one_until(deadline);
        return done();
    }
    bool lost() {
        return runUntil(
            [this] { return !events.empty() && events.back() == kCommEventDeviceLost; });
    }
    template <class Stream>
    Bytes readFrom(Stream& s, std::size_t n) {
        Bytes got(n);
        bool done = false;
        asio::async_read(s, asio::buffer(got),
                         [&](const std::error_code&, std::size_t) { done = true; });
        EXPECT_TRUE(runUntil([&] { return done; }));
        return got;
    }

    asio::io_context io;
    AsioSerialPort port{io};
    std::vector<int> events;
    Bytes received;
};

TEST(LineParityTest, EveryParityOfTheSettingsTextReachesTheTerminalFlags) {
    // (A pseudo-terminal keeps 8 bits without parity whatever it is told.)
    const tcflag_t bits = PARENB | PARODD | CMSPAR;
    for (const auto& [parity, flags] :
         std::vector<std::pair<char, tcflag_t>>{{'N', 0},
                                                {'E', PARENB},
                                                {'O', PARENB | PARODD},
                                                {'M', bits},
                                                {'S', PARENB | CMSPAR}}) {
        termios t{};
        t.c_cflag = CS8 | (parity == 'N' ? bits : 0);
        t.c_iflag = INPCK | IGNPAR;
        std::error_code ec;
        LineParity(parity).store(t, ec);
        EXPECT_EQ(t.c_cflag, CS8 | flags) << parity;
        EXPECT_EQ(t.c_iflag, tcflag_t{0}) << parity;
        LineParity back('?');
        back.load(t, ec);
        EXPECT_EQ(back.value(), parity);
    }
}

TEST_F(AsioSerialPortTest, ADeviceTakesTheSettingsAndCarriesTheBytes) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(fd >= 0 && grantpt(fd) == 0 && unlockpt(fd) == 0);
    const std::string path = ptsname(fd);
    asio::posix::stream_descriptor master(io, fd);
    const auto device = [&path] {
        termios t{};
        const int d = open(path.c_str(), O_RDWR | O_NOCTTY);
        tcgetattr(d, &t);
        close(d);
        return t;
    };
    port.setPath(path);
    port.setSettings("115200,N,8,2");
    port.setPortOpen(true);
    EXPECT_FALSE(port.networkLine() || port.opening());
    termios t = device();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB), CS8 | CSTOPB);
    port.setSettings("9600,N,8,1");
    t = device();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t{0});

    port.output(Bytes{0xA5, 0x00, 0xFF});
    EXPECT_EQ(readFrom(master, 3), (Bytes{0xA5, 0x00, 0xFF}));
    asio::write(master, asio::buffer(Bytes{1, 2, 3}));
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (Bytes{1, 2, 3}));

    // The other end goes away: the port is closed and says so.
    master.close();
    ASSERT_TRUE(lost());
    EXPECT_FALSE(port.portOpen());
    EXPECT_NE(port.lastError().find(path), std::string::npos) << port.lastError();

    port.setPath("/dev/kyr-no-such-device");
    EXPECT_THROW(port.setPortOpen(true), SerialError);
}

TEST_F(AsioSerialPortTest, ARawTcpLineOpensOnTheLoopAndReportsTheServerGone) {
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    tcp::socket peer(io);
    acceptor.async_accept(peer, [](const std::error_code&) {});
    port.setPath("tcp://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port()));
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen() && port.networkLine() && port.opening());
    // Written while opening: sent once open, as it is (no telnet escapes).
    port.output(Bytes{0xA5, 0xFF, 0x01});
    ASSERT_TRUE(runUntil([&] { return peer.is_open() && !port.opening(); }));
    EXPECT_TRUE(port.noDelay());
    EXPECT_EQ(readFrom(peer, 3), (Bytes{0xA5, 0xFF, 0x01}));
    asio::write(peer, asio::buffer(Bytes{7, 0xFF, 9}));
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (Bytes{7, 0xFF, 9}));

    peer.close();
    ASSERT_TRUE(lost());
    EXPECT_FALSE(port.portOpen());
    EXPECT_NE(port.lastError().find("closed the connection"), std::string::npos)
        << port.lastError();

    // Nobody listening: opening fails on the loop, as a lost line with the reason.
    acceptor.close();
    events.clear();
    port.setPortOpen(true);
    ASSERT_TRUE(lost());
    EXPECT_NE(port.lastError().find("refused"), std::string::npos) << port.lastError();
}

// A remote serial server: agrees to COM-PORT-OPTION and binary both ways and answers each
// setting with the value asked for (unless told otherwise); logs the settings asked for
// ("s1=115200") and the line's bytes ("d165") in the order they came.
struct TelnetServer {
    enum class Mode { Agree, RefuseComPort, Silent, WrongBaud };

    TelnetServer(asio::io_context& io, Mode m)
        : acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)), peer(io), mode(m) {
        acceptor.async_accept(peer, [this](const std::error_code& ec) {
            if (!ec) read();
        });
    }
    std::string address() const {
        return "rfc2217://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port());
    }
    void read() {
        peer.async_read_some(asio::buffer(chunk), [this](const std::error_code& ec, std::size_t n) {
            if (ec) return;
            for (std::size_t i = 0; i < n; ++i) take(chunk[i]);
            read();
        });
    }
    void take(std::uint8_t b) {
        if (!iac) {
            if (b == kIAC) return void(iac = true);
            return inSub ? sub.push_back(b) : data(b);
        }
        iac = false;
        if (b == kIAC) return inSub ? sub.push_back(b) : data(b);
        if (b == kSB) return void((inSub = true, sub.clear()));
        if (b == kSE) return inSub = false, setting();
        if (b >= kWILL) verb = b;
    }
    // The byte after IAC WILL / DO comes as data: answered here.
    void data(std::uint8_t b) {
        if (verb == 0) return log.push_back("d" + std::to_string(b));
        const std::uint8_t asked = std::exchange(verb, 0);
        ++verbs;
        if (mode == Mode::Silent) return;
        if (asked == kWILL)
            send({kIAC, mode == Mode::RefuseComPort && b == kOptComPort ? kDONT : kDO, b});
        if (asked == kDO) send({kIAC, kWILL, b});
    }
    void setting() {
        if (sub.size() < 3 || sub[0] != kOptComPort) return;
        std::uint32_t n = 0;
        for (std::size_t i = 2; i < sub.size(); ++i) n = n << 8 | sub[i];
        log.push_back("s" + std::to_string(sub[1]) + "=" + std::to_string(n));
        Bytes answer{kIAC, kSB, kOptComPort, static_cast<std::uint8_t>(sub[1] + kServerOffset)};
        if (mode == Mode::WrongBaud && sub[1] == kSetBaudRate)
            answer.insert(answer.end(), {0, 0, 0xE1, 0x00});  // 57600
        else
            answer.insert(answer.end(), sub.begin() + 2, sub.end());
        answer.insert(answer.end(), {kIAC, kSE});
        send(answer);
    }
    void send(Bytes bytes) {
        if (hold) return void(held.insert(held.end(), bytes.begin(), bytes.end()));
        auto wire = std::make_shared<Bytes>(std::move(bytes));
        asio::async_write(peer, asio::buffer(*wire),
                          [wire](const std::error_code&, std::size_t) {});
    }
    void release() {
        hold = false;
        send(std::exchange(held, {}));
    }

    tcp::acceptor acceptor;
    tcp::socket peer;
    Mode mode;
    std::array<std::uint8_t, 1024> chunk{};
    bool iac = false, inSub = false;
    std::uint8_t verb = 0;
    Bytes sub;
    std::vector<std::string> log;
    int verbs = 0;      // negotiation commands received
    bool hold = false;  // answers wait for release()
    Bytes held;
};

TEST_F(AsioSerialPortTest, AnRfc2217LineSendsTheSettingsBeforeTheLinesBytes) {
    TelnetServer server(io, TelnetServer::Mode::Agree);
    port.setPath(server.address());
    port.setSettings("115200,N,8,2");
    server.hold = true;
    port.setPortOpen(true);
    port.output(Bytes{0xA5});  // while connecting
    ASSERT_TRUE(runUntil([&] { return server.verbs == 3; }));
    EXPECT_TRUE(port.opening());
    port.output(Bytes{0xFF});  // while negotiating
    server.release();
    ASSERT_TRUE(runUntil([&] { return server.log.size() == 6; }));
    EXPECT_FALSE(port.opening());
    EXPECT_EQ(server.log,
              (std::vector<std::string>{"s1=115200", "s2=8", "s3=1", "s4=2", "d165", "d255"}));

    // The line's 255 comes doubled, between telnet commands that are not the line's.
    server.send({1, kIAC, kIAC, kIAC, 241 /* NOP */, 2});
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (Bytes{1, 0xFF, 2}));

    // New settings on the open line reach the far port.
    port.setSettings("9600,E,7,1");
    ASSERT_TRUE(runUntil([&] { return server.log.size() == 10; }));
    EXPECT_EQ(server.log[6], "s1=9600");
    EXPECT_EQ(server.log[8], "s3=3");
    EXPECT_TRUE(port.portOpen());
}

TEST_F(AsioSerialPortTest, AnRfc2217LineThatCannotOpenIsReportedLostWithTheReason) {
    port.setConnectTimeout(std::chrono::milliseconds(200));
    for (const auto& [mode, reason] : std::vector<std::pair<TelnetServer::Mode, std::string>>{
             {TelnetServer::Mode::RefuseComPort, "refuses RFC 2217"},
             {TelnetServer::Mode::Silent, "within 200 ms"},
             {TelnetServer::Mode::WrongBaud, "57600"}}) {
        TelnetServer server(io, mode);
        events.clear();
        port.setPath(server.address());
        port.setPortOpen(true);
        port.output(Bytes{0xA5});
        ASSERT_TRUE(lost()) << reason;
        EXPECT_NE(port.lastError().find(reason), std::string::npos) << port.lastError();
        // The line's bytes never went to a port whose settings were not agreed.
        for (const auto& entry : server.log) EXPECT_NE(entry[0], 'd') << reason;
    }
}

}  // namespace
}  // namespace kyr
