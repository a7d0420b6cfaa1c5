#pragma once
// A serial port option for asio::serial_port: parity as the settings text names it (N, E, O,
// M, S). Asio's own option knows none, odd and even only; mark and space are the system's.

#include <system_error>

#include <asio/serial_port_base.hpp>

namespace kyr {

// What asio::serial_port hands its options (its header brings the system's declaration).
#if defined(_WIN32)
using LineOptionStorage = DCB;
#else
using LineOptionStorage = ::termios;
#endif

class LineParity {
  public:
    explicit LineParity(char parity) : parity_(parity) {}
    char value() const { return parity_; }

    // What asio::serial_port::set_option and get_option call.
    void store(LineOptionStorage& storage, std::error_code& ec) const;
    void load(const LineOptionStorage& storage, std::error_code& ec);

  private:
    char parity_;
};

}  // namespace kyr
