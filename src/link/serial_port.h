#pragma once
// The serial-port component the console talks through: exactly the operations the
// console uses, so that a QSerialPort, a raw TCP socket or a test fake can stand behind it.

#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kyr {

// Raised by operations that can fail (opening, applying settings); callers guard them.
class SerialError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class InputMode { Text = 0, Binary = 1 };

// Event codes read at the start of the receive event.
enum CommEvent : int {
    kCommEventNone = 0,
    kCommEventReceive = 2,       // data received
    kCommEventDeviceLost = 1010  // the line went away (adapter unplugged, peer closed); port closed
};

class SerialPort {
public:
    using CommHandler = std::function<void()>;
    virtual ~SerialPort() = default;

    // Port number n (COMn); set while the port is closed.
    virtual void setCommPort(int n) = 0;
    virtual int commPort() const = 0;
    // Line settings such as "115200,N,8,2"; applied at once, also on an open port.
    // Throws SerialError when the text is not valid or cannot be applied.
    virtual void setSettings(const std::string& settings) = 0;
    virtual std::string settings() const = 0;
    // Read length (0 = everything pending) and input mode (raw bytes).
    virtual void setInputLen(int length) = 0;
    virtual void setInputMode(InputMode mode) = 0;
    virtual void setInBufferSize(int bytes) = 0;
    virtual void setOutBufferSize(int bytes) = 0;
    // Opens (throws SerialError when the port is missing or busy) or closes the port.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // The receive event is raised whenever at least this many bytes have arrived.
    virtual void setRThreshold(int bytes) = 0;
    // Event code of the event being handled (kCommEventReceive for data).
    virtual int commEvent() const = 0;
    // All bytes received and not yet read, in order; the pending input is then empty.
    virtual std::vector<std::uint8_t> input() = 0;
    // Queues a whole packet for transmission and returns without waiting.
    virtual void output(std::span<const std::uint8_t> bytes) = 0;
    // The receive event, raised on the user-interface thread.
    virtual void setOnComm(CommHandler handler) = 0;
    // True while the open port is a network connection (tcp://, rfc2217://): its answers
    // take a round trip that no speed table knows.
    virtual bool networkLine() const { return false; }
};

}  // namespace kyr
