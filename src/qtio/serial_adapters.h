#pragma once
// The serial component behind the console: a real serial line (QSerialPort), a connection
// to a remote serial server (tcp://host:port raw, rfc2217://host:port telnet), and the router
// that turns COMn into one of them through the port map.

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTcpSocket>
#include <functional>
#include <memory>
#include <optional>

#include "link/basic_serial_port.h"
#include "link/port_map.h"
#include "link/rfc2217.h"

namespace kyr {

// A serial device path (/dev/ttyUSB0, /dev/pts/3, COM3) through QSerialPort.
class QtSerialPort : public QObject, public BasicSerialPort {
    Q_OBJECT
  public:
    explicit QtSerialPort(QString path = {}, QObject* parent = nullptr);
    ~QtSerialPort() override;

    // The device to open; set while the port is closed.
    void setPath(const QString& path) { path_ = path; }
    QString path() const { return path_; }

    void setPortOpen(bool open) override;
    bool portOpen() const override { return serial_.isOpen(); }
    void setRThreshold(int bytes) override { threshold_ = bytes < 1 ? 1 : bytes; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

  protected:
    void applySettings(const LineSettings& settings) override;

  private:
    void applyToOpenPort(const LineSettings& settings);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void closeLostPort();

    QSerialPort serial_;
    QString path_;
    int threshold_ = 1;
    bool lostPending_ = false;
};

// A connection to a remote serial server: raw bytes (tcp://host:port; line settings are
// validated but mean nothing there) or telnet with RFC 2217 (rfc2217://host:port; line
// settings go to the far port and the server's answers are checked). Nagle's algorithm is
// off either way: the protocol waits for every answer, so every delayed write costs a row.
class TcpSerialPort : public QObject, public BasicSerialPort {
    Q_OBJECT
  public:
    explicit TcpSerialPort(QString path = {}, QObject* parent = nullptr);
    ~TcpSerialPort() override;

    // "tcp://host:port" or "rfc2217://host:port"; set while the port is closed.
    void setPath(const QString& path) { path_ = path; }
    QString path() const { return path_; }
    // How long opening may wait for the connection.
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    // How long opening and a change of settings wait for the server's telnet answers.
    void setReplyTimeout(int ms) { replyTimeoutMs_ = ms; }
    // TCP_NODELAY as the socket has it (false while closed).
    bool noDelay();

    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    bool networkLine() const override { return true; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

  protected:
    void applySettings(const LineSettings& settings) override;

  private:
    void openTelnet();
    void sendSettings(const LineSettings& settings);
    // Blocks (bounded by the reply timeout) until `done`; throws SerialError saying `what`
    // did not come.
    void awaitServer(const std::function<bool()>& done, const std::string& what);
    // With telnet, reads the socket, decodes into pending_ and answers the server. True when
    // new line bytes came (raw: when bytes wait in the socket).
    bool pump();
    void writeWire(const std::vector<std::uint8_t>& wire);
    void deliverLater();
    void onReadyRead();
    void onGone();
    void closeLostPort();

    QTcpSocket socket_;
    QString path_;
    int connectTimeoutMs_ = 3000;
    int replyTimeoutMs_ = 3000;
    bool open_ = false;
    bool lostPending_ = false;
    bool waiting_ = false;
    std::optional<Rfc2217Client> telnet_;
    std::vector<std::uint8_t> pending_;  // telnet: line bytes not yet read
};

// The one port object the console gets: on open, COMn is looked up in the port map and the
// operation goes to the serial or the TCP backend; everything else is forwarded.
class RoutingSerialPort : public SerialPort {
  public:
    enum class Backend { None, Serial, Tcp, Rfc2217 };

    explicit RoutingSerialPort(PortMap map = {});
    ~RoutingSerialPort() override;

    PortMap& portMap() { return map_; }
    // The backend of the port last opened (None before the first open).
    Backend backend() const;
    // The path COMn resolved to at the last open.
    std::string currentPath() const { return path_; }

    void setCommPort(int n) override { commPort_ = n; }
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setInputLen(int length) override;
    void setInputMode(InputMode mode) override;
    void setInBufferSize(int bytes) override;
    void setOutBufferSize(int bytes) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override { return active_ != nullptr && active_->portOpen(); }
    bool networkLine() const override { return active_ != nullptr && active_->networkLine(); }
    void setRThreshold(int bytes) override;
    int commEvent() const override { return active_ != nullptr ? active_->commEvent() : 0; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;
    void setOnComm(CommHandler handler) override { handler_ = std::move(handler); }

  private:
    void forward(SerialPort* from);

    PortMap map_;
    // Both backends live as long as the router, so that an event handler running inside
    // one of them never sees it destroyed under its feet.
    std::unique_ptr<QtSerialPort> serial_;
    std::unique_ptr<TcpSerialPort> tcp_;
    SerialPort* active_ = nullptr;
    std::string path_;
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    int inputLen_ = 0;
    InputMode inputMode_ = InputMode::Binary;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int threshold_ = 1;
    CommHandler handler_;
};

}  // namespace kyr
