#include "qtio/serial_adapters.h"

#include <gtest/gtest.h>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "gui/event_wait.h"
#include "link/packet.h"
#include "gui/pty_pair.h"

namespace kyr::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

QByteArray qbytes(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

// Records the receive events of a port the way the console's handler sees them.
struct EventLog {
    explicit EventLog(SerialPort& p) : port(p) {
        port.setOnComm([this] {
            events.push_back(port.commEvent());
            if (port.commEvent() == kCommEventReceive) {
                auto in = port.input();
                received.insert(received.end(), in.begin(), in.end());
            } else if (port.commEvent() == kCommEventDeviceLost) {
                portOpenWhenLost = port.portOpen();
            }
        });
    }
    int count(int event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    SerialPort& port;
    std::vector<int> events;
    Bytes received;
    bool portOpenWhenLost = true;
};

const Bytes kLinkRequest{165, 9, 2, 0, 176, 0, 1, 0, 1, 0};

TEST(QtSerialPortTest, TalksOverAPseudoTerminalAndReportsTheLostDeviceOnce) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(QString::fromStdString(pty.slavePath()));
    EventLog log(port);

    port.setSettings("115200,N,8,2");
    port.setPortOpen(true);
    ASSERT_TRUE(port.portOpen());
    PtyPair::Line line = pty.line();
    EXPECT_EQ(line.baud, 115200);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.stopBits, 2);

    // Opening an open port is refused, as the component does.
    EXPECT_THROW(port.setPortOpen(true), SerialError);

    // Console to device: one whole packet, written without waiting.
    port.output(kLinkRequest);
    QByteArray atDevice;
    ASSERT_TRUE(waitFor([&] {
        atDevice += pty.readAvailable();
        return atDevice.size() >= static_cast<qsizetype>(kLinkRequest.size());
    }));
    EXPECT_EQ(atDevice, qbytes(kLinkRequest));

    // Device to console: every byte, in order, through receive events on the event loop.
    Bytes display = buildPacket(9, Bytes(48, 'A'));
    display.push_back(0);
    display.push_back(255);
    ASSERT_TRUE(pty.write(qbytes(display)));
    ASSERT_TRUE(waitFor([&] { return log.received.size() >= display.size(); }));
    EXPECT_EQ(log.received, display);
    EXPECT_GE(log.count(kCommEventReceive), 1);
    EXPECT_EQ(port.input(), Bytes{});  // nothing left pending

    // Settings take effect at once on the open port. (A pseudo-terminal keeps 8 data bits
    // without parity whatever it is told, so only speed and stop bits show there.)
    port.setSettings("57600,E,7,1");
    EXPECT_EQ(port.settings(), "57600,E,7,1");
    line = pty.line();
    EXPECT_EQ(line.baud, 57600);
    EXPECT_EQ(line.stopBits, 1);
    port.setSettings("9600,N,8,2");
    line = pty.line();
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.parity, 'N');
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_EQ(port.settings(), "9600,N,8,2");

    // Bad settings text: refused, the line and the text stay as they were.
    EXPECT_THROW(port.setSettings("9600,X,8,2"), SerialError);
    EXPECT_THROW(port.setSettings("fast"), SerialError);
    EXPECT_EQ(port.settings(), "9600,N,8,2");
    EXPECT_EQ(pty.line().baud, 9600);

    // The device goes away: the port closes itself and says so exactly once.
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return log.count(kCommEventDeviceLost) > 0; }));
    drainEvents();
    EXPECT_EQ(log.count(kCommEventDeviceLost), 1);
    EXPECT_FALSE(log.portOpenWhenLost);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.commEvent(), kCommEventDeviceLost);
    // A closed port neither writes nor reads nor complains.
    port.output(kLinkRequest);
    EXPECT_EQ(port.input(), Bytes{});
    port.setPortOpen(false);
}

TEST(QtSerialPortTest, OpeningAMissingDeviceFailsAndClosingByTheConsoleIsNotALoss) {
    QtSerialPort missing(QStringLiteral("/dev/kyr-no-such-port"));
    EXPECT_THROW(missing.setPortOpen(true), SerialError);
    EXPECT_FALSE(missing.portOpen());
    QtSerialPort unnamed;
    EXPECT_THROW(unnamed.setPortOpen(true), SerialError);

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QtSerialPort port(QString::fromStdString(pty.slavePath()));
    EventLog log(port);
    port.setSettings("19200,N,8,1");
    port.setPortOpen(true);
    EXPECT_EQ(pty.line().baud, 19200);
    // The link-off request written just before closing still reaches the device.
    const Bytes linkOff{165, 9, 2, 0, 176, 0, 0, 0, 0, 0};
    port.output(linkOff);
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(pty.readAvailable(), qbytes(linkOff));
    pty.closeMaster();
    drainEvents();
    EXPECT_EQ(log.count(kCommEventDeviceLost), 0);
}

#if defined(__linux__)
TEST(QtSerialPortTest, AUserTheDeviceRefusesIsToldOfTheDialoutGroup) {
    const auto reasonFor = [](const std::string& path) -> std::string {
        QtSerialPort port(QString::fromStdString(path));
        try {
            port.setPortOpen(true);
        } catch (const SerialError& e) {
            return e.what();
        }
        return "opened";
    };
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(chmod(pty.slavePath().c_str(), 0), 0);
    std::string refused;
    if (geteuid() == 0) {
        // Root opens any file: the refusal is seen as an unprivileged user.
        ASSERT_EQ(seteuid(65534), 0);
        refused = reasonFor(pty.slavePath());
        ASSERT_EQ(seteuid(0), 0);
    } else {
        refused = reasonFor(pty.slavePath());
    }
    EXPECT_EQ(refused, pty.slavePath() +
                           ": Permission denied (serial ports are open to the dialout group: "
                           "sudo adduser $USER dialout, then log in again)");
    // A missing device is not a matter of permission.
    EXPECT_EQ(reasonFor("/dev/kyr-no-such-port").find("dialout"), std::string::npos);
}
#endif

struct TcpPeer {
    TcpPeer() {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        path = "tcp://127.0.0.1:" + std::to_string(server.serverPort());
    }
    QTcpSocket* accept() {
        if (!waitFor([&] { return server.hasPendingConnections(); })) return nullptr;
        return server.nextPendingConnection();
    }
    QTcpServer server;
    std::string path;
};

TEST(TcpSerialPortTest, CarriesBytesBothWaysAndReportsTheServerGoingAwayOnce) {
    TcpPeer peer;
    TcpSerialPort port(QString::fromStdString(peer.path));
    EventLog log(port);

    // Settings are checked, then have no meaning on a raw stream.
    port.setSettings("115200,N,8,2");
    EXPECT_EQ(port.settings(), "115200,N,8,2");
    EXPECT_THROW(port.setSettings("115200,N,9,2"), SerialError);
    EXPECT_EQ(port.settings(), "115200,N,8,2");

    port.setPortOpen(true);
    ASSERT_TRUE(port.portOpen());
    EXPECT_TRUE(port.noDelay());  // every request is a small write the device waits for
    QTcpSocket* remote = peer.accept();
    ASSERT_NE(remote, nullptr);

    port.output(kLinkRequest);
    QByteArray atServer;
    ASSERT_TRUE(waitFor([&] {
        atServer += remote->readAll();
        return atServer.size() >= static_cast<qsizetype>(kLinkRequest.size());
    }));
    EXPECT_EQ(atServer, qbytes(kLinkRequest));

    const Bytes ack = buildPacket(6, {});
    const Bytes display = buildPacket(9, Bytes(48, 'z'));
    remote->write(qbytes(ack));
    remote->write(qbytes(display));
    remote->flush();
    ASSERT_TRUE(waitFor([&] { return log.received.size() >= ack.size() + display.size(); }));
    Bytes expected = ack;
    expected.insert(expected.end(), display.begin(), display.end());
    EXPECT_EQ(log.received, expected);

    // The server hangs up: one lost-device event, the port closed.
    remote->close();
    ASSERT_TRUE(waitFor([&] { return log.count(kCommEventDeviceLost) > 0; }));
    drainEvents();
    EXPECT_EQ(log.count(kCommEventDeviceLost), 1);
    EXPECT_FALSE(log.portOpenWhenLost);
    EXPECT_FALSE(port.portOpen());

    // It can be opened again once the server is back.
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
    QTcpSocket* again = peer.accept();
    ASSERT_NE(again, nullptr);
    // Closing by the console is no loss.
    port.setPortOpen(false);
    ASSERT_TRUE(waitFor([&] { return again->state() == QAbstractSocket::UnconnectedState; }));
    drainEvents();
    EXPECT_EQ(log.count(kCommEventDeviceLost), 1);
}

TEST(TcpSerialPortTest, RefusedConnectionAndBadAddressFailToOpen) {
    std::string deadPath;
    {
        TcpPeer gone;
        deadPath = gone.path;
    }  // nobody listens there any more
    TcpSerialPort refused(QString::fromStdString(deadPath));
    refused.setConnectTimeout(3000);
    EXPECT_THROW(refused.setPortOpen(true), SerialError);
    EXPECT_FALSE(refused.portOpen());

    TcpSerialPort bad(QStringLiteral("tcp://nohost"));
    EXPECT_THROW(bad.setPortOpen(true), SerialError);

    // A server that takes the connection but never answers the telnet negotiation.
    TcpPeer silent;
    const std::string path = "rfc2217" + silent.path.substr(3);
    TcpSerialPort mute(QString::fromStdString(path));
    mute.setReplyTimeout(200);
    try {
        mute.setPortOpen(true);
        ADD_FAILURE() << "opened";
    } catch (const SerialError& e) {
        EXPECT_EQ(std::string(e.what()),
                  path + ": the server did not answer the telnet negotiation within 200 ms");
    }
    EXPECT_FALSE(mute.portOpen());
}

TEST(RoutingSerialPortTest, PicksTheBackendByTheMappingAndForwardsEverything) {
    TcpPeer peer;
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PortMap map;
    ASSERT_EQ(map.addMapping("2=" + peer.path), "");
    ASSERT_EQ(map.addMapping("3=" + pty.slavePath()), "");
    RoutingSerialPort port(map);
    EventLog log(port);
    EXPECT_EQ(port.backend(), RoutingSerialPort::Backend::None);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.input(), Bytes{});
    port.output(kLinkRequest);  // nothing open: a no-op

    // COM2 leads to the TCP server.
    port.setCommPort(2);
    port.setSettings("9600,N,8,2");
    port.setPortOpen(true);
    EXPECT_EQ(port.backend(), RoutingSerialPort::Backend::Tcp);
    EXPECT_EQ(port.currentPath(), peer.path);
    QTcpSocket* remote = peer.accept();
    ASSERT_NE(remote, nullptr);
    port.output(kLinkRequest);
    QByteArray atServer;
    ASSERT_TRUE(waitFor([&] {
        atServer += remote->readAll();
        return atServer.size() >= static_cast<qsizetype>(kLinkRequest.size());
    }));
    EXPECT_EQ(atServer, qbytes(kLinkRequest));
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());

    // COM3 leads to the pseudo-terminal, with the settings given while it was closed.
    port.setCommPort(3);
    port.setSettings("38400,N,8,2");
    port.setPortOpen(true);
    EXPECT_EQ(port.backend(), RoutingSerialPort::Backend::Serial);
    EXPECT_EQ(port.currentPath(), pty.slavePath());
    EXPECT_EQ(port.commPort(), 3);
    EXPECT_EQ(pty.line().baud, 38400);
    EXPECT_EQ(pty.line().stopBits, 2);
    // ... and settings changed while open reach the line at once.
    port.setSettings("38400,N,8,1");
    EXPECT_EQ(pty.line().stopBits, 1);
    EXPECT_THROW(port.setSettings("38400;N;8;1"), SerialError);
    EXPECT_EQ(port.settings(), "38400,N,8,1");

    const Bytes ack = buildPacket(6, {});
    ASSERT_TRUE(pty.write(qbytes(ack)));
    ASSERT_TRUE(waitFor([&] { return log.received.size() >= ack.size(); }));
    EXPECT_EQ(log.received, ack);
    EXPECT_GE(log.count(kCommEventReceive), 1);

    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return log.count(kCommEventDeviceLost) > 0; }));
    drainEvents();
    EXPECT_EQ(log.count(kCommEventDeviceLost), 1);
    EXPECT_FALSE(port.portOpen());

    // A port that cannot be opened fails the open and leaves the router closed.
    ASSERT_EQ(map.addMapping("4=/dev/kyr-no-such-port"), "");
    RoutingSerialPort other(map);
    other.setCommPort(4);
    EXPECT_THROW(other.setPortOpen(true), SerialError);
    EXPECT_FALSE(other.portOpen());
}

}  // namespace
}  // namespace kyr::test
