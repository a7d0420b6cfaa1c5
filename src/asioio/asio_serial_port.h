#pragma once
// The console's serial port on standalone Asio, for front ends without Qt (kyr-alpaca): a
// serial device (/dev/ttyUSB0, /dev/pts/3, COM3), a raw TCP connection (tcp://host:port) or
// a telnet connection with RFC 2217 (rfc2217://host:port: the line settings go to the far
// port). Everything runs on the io_context's thread; nothing here waits.
//
// A device opens at once or throws. A network line cannot answer that quickly without
// blocking the event loop, so its opening returns at once and completes on the loop: the
// connection, the telnet negotiation and the far port's settings must all be done within the
// connect timeout. Packets written meanwhile go out once they are; a line that cannot be
// opened in time, like a server that goes away later, is reported as a lost device
// (kCommEventDeviceLost, the port closed) with the reason in lastError().

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <asio/io_context.hpp>

#include "link/basic_serial_port.h"

namespace kyr {

class AsioSerialPort : public BasicSerialPort {
  public:
    explicit AsioSerialPort(asio::io_context& io, std::string path = {});
    ~AsioSerialPort() override;
    AsioSerialPort(const AsioSerialPort&) = delete;
    AsioSerialPort& operator=(const AsioSerialPort&) = delete;

    // The device path or network address; set while the port is closed.
    void setPath(std::string path) { path_ = std::move(path); }
    const std::string& path() const { return path_; }
    // How long a network line may take to open (default 3 s).
    void setConnectTimeout(std::chrono::milliseconds t) { connectTimeout_ = t; }
    // Why the line last failed or was lost ("" while all is well).
    const std::string& lastError() const { return lastError_; }
    // A network line still opening: what is written waits for it.
    bool opening() const;
    // TCP_NODELAY as the socket has it (false for a device or a closed port).
    bool noDelay() const;

    void setPortOpen(bool open) override;
    bool portOpen() const override { return session_ != nullptr; }
    bool networkLine() const override;
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

    struct Session;

  protected:
    void applySettings(const LineSettings& settings) override;

  private:
    // The session ends: the port is closed and, when `why` is given, reported lost.
    void lost(const std::string& why);

    asio::io_context& io_;
    std::string path_;
    std::chrono::milliseconds connectTimeout_{3000};
    std::string lastError_;
    // One per opening; handlers still queued for an ended session find it detached.
    std::shared_ptr<Session> session_;
};

}  // namespace kyr
