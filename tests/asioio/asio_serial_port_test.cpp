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
            if (port.commEvent() == kCommEventReceive) {
                const Bytes b = port.input();
                received.insert(received.end(), b.begin(), b.end());
            }
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

    asio::io_context io;
    AsioSerialPort port{io};
    std::vector<int> events;
    Bytes received;
};

// ---------------------------------------------------------------- a device

struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        path = ptsname(master);
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    termios device() const {
        termios t{};
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    }
    int master = -1;
    std::string path;
};

TEST_F(AsioSerialPortTest, ADeviceTakesTheSettingsAndCarriesTheBytes) {
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    port.setPath(pty.path);
    port.setSettings("115200,N,8,2");
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
    EXPECT_FALSE(port.networkLine());
    EXPECT_FALSE(port.opening());
    termios t = pty.device();
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & (CSIZE | CSTOPB | PARENB), CS8 | CSTOPB);

    port.setSettings("9600,N,8,1");
    t = pty.device();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t{0});

    asio::posix::stream_descriptor master(io, pty.master);
    pty.master = -1;
    const Bytes packet{0xA5, 0x00, 0xFF, 0x0D};
    port.output(packet);
    Bytes out(packet.size());
    bool read = false;
    asio::async_read(master, asio::buffer(out),
                     [&](const std::error_code& ec, std::size_t) { read = !ec; });
    ASSERT_TRUE(runUntil([&] { return read; }));
    EXPECT_EQ(out, packet);
    asio::write(master, asio::buffer(Bytes{1, 2, 3}));
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (Bytes{1, 2, 3}));

    // The other end goes away: the port is closed and says so.
    master.close();
    ASSERT_TRUE(lost());
    EXPECT_FALSE(port.portOpen());
    EXPECT_NE(port.lastError().find(pty.path), std::string::npos) << port.lastError();

    AsioSerialPort missing(io, "/dev/kyr-no-such-device");
    try {
        missing.setPortOpen(true);
        ADD_FAILURE() << "opened a device that is not there";
    } catch (const SerialError& e) {
        EXPECT_NE(std::string(e.what()).find("/dev/kyr-no-such-device"), std::string::npos);
    }
}

TEST(LineParityTest, EveryParityOfTheSettingsTextReachesTheTerminalFlags) {
    // A pseudo-terminal keeps 8 bits without parity whatever it is told: the flags are checked
    // as the option writes them.
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
        EXPECT_FALSE(ec);
        EXPECT_EQ(t.c_cflag, CS8 | flags) << parity;
        EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | PARMRK), tcflag_t{0}) << parity;
        LineParity back('?');
        back.load(t, ec);
        EXPECT_EQ(back.value(), parity);
    }
    termios t{};
    std::error_code ec;
    LineParity('X').store(t, ec);
    EXPECT_TRUE(ec);
}

// ---------------------------------------------------------------- a raw TCP line

TEST_F(AsioSerialPortTest, ARawTcpLineOpensOnTheLoopAndReportsTheServerGone) {
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    tcp::socket peer(io);
    bool accepted = false;
    acceptor.async_accept(peer, [&](const std::error_code& ec) { accepted = !ec; });
    port.setPath("tcp://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port()));
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
    EXPECT_TRUE(port.networkLine());
    EXPECT_TRUE(port.opening());
    // Written while opening: sent once open, as it is (no telnet escapes).
    port.output(Bytes{0xA5, 0xFF, 0x01});
    ASSERT_TRUE(runUntil([&] { return accepted && !port.opening(); }));
    EXPECT_TRUE(port.noDelay());
    Bytes got(3);
    bool read = false;
    asio::async_read(peer, asio::buffer(got),
                     [&](const std::error_code& ec, std::size_t) { read = !ec; });
    ASSERT_TRUE(runUntil([&] { return read; }));
    EXPECT_EQ(got, (Bytes{0xA5, 0xFF, 0x01}));
    asio::write(peer, asio::buffer(Bytes{7, 0xFF, 9}));
    ASSERT_TRUE(runUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (Bytes{7, 0xFF, 9}));

    peer.close();
    ASSERT_TRUE(lost());
    EXPECT_FALSE(port.portOpen());
    EXPECT_NE(port.lastError().find("closed the connection"), std::string::npos)
        << port.lastError();

    // Nobody listening: opening fails on the loop, as a lost line with the reason.
    const auto nowhere = acceptor.local_endpoint().port();
    acceptor.close();
    events.clear();
    port.setPath("tcp://127.0.0.1:" + std::to_string(nowhere));
    port.setPortOpen(true);
    ASSERT_TRUE(lost());
    EXPECT_NE(port.lastError().find("refused"), std::string::npos) << port.lastError();
}

// ---------------------------------------------------------------- RFC 2217

// A remote serial server: agrees to COM-PORT-OPTION and binary both ways and answers each
// setting with the value asked for (or as told), records the line's bytes and the settings
// asked for, in the order they came.
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
        if (state == 0 && b == kIAC) return void(state = 1);
        if (state == 0) return void(log.push_back("d" + std::to_string(b)));
        if (state == 1 && b == kIAC) return state = 0, void(log.push_back("d255"));
        if (state == 1 && b == kSB) return state = 3, sub.clear();
        if (state == 1) return state = 2, void(verb = b);
        if (state == 2) {
            state = 0;
            ++verbs;
            if (mode == Mode::Silent) return;
            const bool refuse = mode == Mode::RefuseComPort && b == kOptComPort;
            if (verb == kWILL) send({kIAC, refuse ? kDONT : kDO, b});
            if (verb == kDO) send({kIAC, kWILL, b});
            return;
        }
        if (state == 3 && b == kIAC) return void(state = 4);
        if (state == 3) return sub.push_back(b);
        if (state == 4 && b == kIAC) return state = 3, sub.push_back(kIAC);
        state = 0;  // IAC SE: a setting, answered with what the far port took
        if (sub.size() < 3 || sub[0] != kOptComPort) return;
        Bytes value(sub.begin() + 2, sub.end());
        log.push_back("s" + std::to_string(sub[1]) + "=" + number(value));
        if (mode == Mode::WrongBaud && sub[1] == kSetBaudRate) value = {0, 0, 0xE1, 0x00};
        Bytes answer{kIAC, kSB, kOptComPort, static_cast<std::uint8_t>(sub[1] + kServerOffset)};
        answer.insert(answer.end(), value.begin(), value.end());
        answer.insert(answer.end(), {kIAC, kSE});
        send(answer);
    }
    static std::string number(const Bytes& v) {
        std::uint32_t n = 0;
        for (std::uint8_t b : v) n = n << 8 | b;
        return std::to_string(n);
    }
    void send(Bytes bytes) {
        if (hold) return void(held.insert(held.end(), bytes.begin(), bytes.end()));
        auto wire = std::make_shared<Bytes>(std::move(bytes));
        asio::async_write(peer, asio::buffer(*wire),
                          [wire](const std::error_code&, std::size_t) {});
    }

    tcp::acceptor acceptor;
    tcp::socket peer;
    Mode mode;
    std::array<std::uint8_t, 1024> chunk{};
    int state = 0;
    std::uint8_t verb = 0;
    Bytes sub;
    std::vector<std::string> log;  // "s1=115200" settings, "d165" line bytes
    int verbs = 0;                 // negotiation commands received
    bool hold = false;             // answers wait for release()
    Bytes held;
    void release() {
        hold = false;
        send(std::exchange(held, {}));
    }
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
    EXPECT_TRUE(port.networkLine());
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
    EXPECT_TRUE(events.empty() || events.back() != kCommEventDeviceLost);
}

TEST_F(AsioSerialPortTest, AnRfc2217LineThatCannotOpenIsReportedLostWithTheReason) {
    struct Case {
        TelnetServer::Mode mode;
        std::string reason;
    };
    for (const Case& c : {Case{TelnetServer::Mode::RefuseComPort, "refuses RFC 2217"},
                          Case{TelnetServer::Mode::Silent, "within 200 ms"},
                          Case{TelnetServer::Mode::WrongBaud, "57600"}}) {
        TelnetServer server(io, c.mode);
        events.clear();
        port.setConnectTimeout(std::chrono::milliseconds(200));
        port.setPath(server.address());
        port.setPortOpen(true);
        port.output(Bytes{0xA5});
        ASSERT_TRUE(lost()) << c.reason;
        EXPECT_FALSE(port.portOpen());
        EXPECT_NE(port.lastError().find(c.reason), std::string::npos) << port.lastError();
        // The line's bytes never went to a port whose settings were not agreed.
        for (const auto& entry : server.log) EXPECT_NE(entry[0], 'd') << c.reason;
    }
}

}  // namespace
}  // namespace kyr
