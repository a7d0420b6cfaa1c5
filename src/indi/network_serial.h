#pragma once
// The driver's serial connection, which also takes a remote serial server as its port:
// tcp://host:port (the line's bytes as they are) or rfc2217://host:port (telnet, so that the
// speed and framing the driver sets reach the far port). Any other name is a local device,
// opened as libindi opens one.

#include <connectionplugins/connectionserial.h>

#include <cstdint>
#include <string>

#include "indi/posix_serial_port.h"

namespace kyr::indi {

class NetworkSerial : public Connection::Serial {
  public:
    explicit NetworkSerial(INDI::DefaultDevice* dev) : Connection::Serial(dev) {}

    // How the descriptor of the last connection carries the line.
    PosixSerialPort::Wire wire() const { return wire_; }

  protected:
    bool Connect(const char* port, uint32_t baud) override;

  private:
    PosixSerialPort::Wire wire_ = PosixSerialPort::Wire::Plain;
};

// A connected TCP socket to host:port (Nagle off: every request waits for its answer), or -1
// with `error` saying why. Waits at most timeoutMs for the connection.
int connectTcp(const std::string& host, int port, int timeoutMs, std::string& error);

}  // namespace kyr::indi
