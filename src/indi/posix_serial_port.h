#pragma once
// The console's serial port over a POSIX descriptor that someone else opened and will close:
// a terminal device (speed and framing applied with termios), a socket to a remote serial
// server carrying the line's bytes as they are, or one speaking telnet with RFC 2217 (speed
// and framing sent to the far port). Any front end with an event loop that can watch a
// descriptor can use it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/basic_serial_port.h"
#include "link/rfc2217.h"

namespace kyr {

// How the event loop watches one descriptor for input.
class DescriptorWatch {
  public:
    virtual ~DescriptorWatch() = default;
    // Calls `readable` on the event loop whenever `fd` has input or has hung up.
    virtual void watch(int fd, std::function<void()> readable) = 0;
    virtual void unwatch() = 0;
};

class PosixSerialPort : public BasicSerialPort {
  public:
    explicit PosixSerialPort(DescriptorWatch& watch) : watch_(watch) {}
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // How the descriptor carries the line.
    enum class Wire {
        Plain,    // the line's bytes as they are (a terminal, a raw TCP server)
        Rfc2217,  // telnet with COM-PORT-OPTION: settings go to the far port
    };

    // The descriptor the next open takes up (-1: none, opening fails), and how it carries
    // the line. Not owned.
    void setDescriptor(int fd, Wire wire = Wire::Plain) {
        fd_ = fd;
        wire_ = wire;
    }
    // How long opening and a change of settings wait for a telnet server's answers.
    void setServerReplyTimeout(int ms) { serverReplyMs_ = ms; }

    // Opening takes the descriptor up (non-blocking, watched, the settings applied on a
    // terminal); closing lets it go without closing it.
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    // A socket's answers take a round trip that no speed table knows.
    bool networkLine() const override { return open_ && socket_; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

    // Waits at most `ms` for input and raises the receive event for it, outside the event
    // loop (a connection handshake that must know its answer before it returns). True when
    // bytes came.
    bool waitForInput(int ms);
    // The line's bytes received since the port was opened (telnet's own are not counted).
    std::uint64_t bytesReceived() const { return bytesReceived_; }

  protected:
    void applySettings(const LineSettings& settings) override;

  private:
    // Reads everything waiting; false when the line has gone (end of file, hang-up, error).
    bool drain();
    void onReadable();
    void release();
    // Writes every byte, waiting a little for room; false when the line took nothing.
    bool writeWire(std::span<const std::uint8_t> bytes);
    void openTelnet();
    void sendTelnetSettings(const LineSettings& settings);
    // Reads (bounded by the server reply timeout) until `done`; throws SerialError saying
    // `what` did not come. Line bytes read meanwhile wait in pending_.
    void awaitServer(const std::function<bool()>& done, const std::string& what);

    DescriptorWatch& watch_;
    int fd_ = -1;
    bool open_ = false;
    bool terminal_ = false;
    bool socket_ = false;
    Wire wire_ = Wire::Plain;
    int serverReplyMs_ = 3000;
    std::optional<Rfc2217Client> telnet_;
    std::vector<std::uint8_t> pending_;
    std::uint64_t bytesReceived_ = 0;
};

}  // namespace kyr
