#pragma once
// The console's serial port over a POSIX descriptor that someone else opened and will close:
// a terminal device (speed and framing applied with termios) or a socket (raw bytes). Any
// front end with an event loop that can watch a descriptor can use it.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "link/basic_serial_port.h"

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

    // The descriptor the next open takes up (-1: none, opening fails). Not owned.
    void setDescriptor(int fd) { fd_ = fd; }

    // Opening takes the descriptor up (non-blocking, watched, the settings applied on a
    // terminal); closing lets it go without closing it.
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

    // Waits at most `ms` for input and raises the receive event for it, outside the event
    // loop (a connection handshake that must know its answer before it returns). True when
    // bytes came.
    bool waitForInput(int ms);
    // Bytes received since the port was opened.
    std::uint64_t bytesReceived() const { return bytesReceived_; }

  protected:
    void applySettings(const LineSettings& settings) override;

  private:
    // Reads everything waiting; false when the line has gone (end of file, hang-up, error).
    bool drain();
    void onReadable();
    void release();

    DescriptorWatch& watch_;
    int fd_ = -1;
    bool open_ = false;
    bool terminal_ = false;
    bool socket_ = false;
    std::vector<std::uint8_t> pending_;
    std::uint64_t bytesReceived_ = 0;
};

}  // namespace kyr
