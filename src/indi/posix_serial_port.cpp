// POSIX: termios, poll, non-blocking reads and writes on a borrowed descriptor, and telnet
// through Rfc2217Client for an RFC 2217 server.
#include "indi/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

namespace kyr {

namespace {

// Longest wait for room in the output buffer of a stalled line before bytes are dropped.
constexpr int kWriteStallMs = 2000;

speed_t speedConstant(int baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            throw SerialError("speed " + std::to_string(baud) + " is not supported");
    }
}

}  // namespace

PosixSerialPort::~PosixSerialPort() {
    dropHandler();
    release();
}

void PosixSerialPort::release() {
    if (!open_) return;
    watch_.unwatch();
    open_ = false;
    pending_.clear();
    telnet_.reset();
}

void PosixSerialPort::setPortOpen(bool open) {
    if (!open) {
        release();
        return;
    }
    if (open_) throw SerialError("port already open");
    if (fd_ < 0) throw SerialError("no line for COM" + std::to_string(commPort()));
    struct stat st {};
    if (fstat(fd_, &st) != 0) throw SerialError(std::strerror(errno));
    socket_ = S_ISSOCK(st.st_mode);
    terminal_ = isatty(fd_) == 1;
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0)
        throw SerialError(std::strerror(errno));
    open_ = true;
    pending_.clear();
    bytesReceived_ = 0;
    try {
        if (wire_ == Wire::Rfc2217)
            openTelnet();
        else
            applySettings(lineSettings());
    } catch (const SerialError&) {
        open_ = false;
        telnet_.reset();
        pending_.clear();
        throw;
    }
    watch_.watch(fd_, [this] { onReadable(); });
}

void PosixSerialPort::openTelnet() {
    telnet_.emplace();
    if (!writeWire(telnet_->start())) throw SerialError("the server takes nothing");
    awaitServer([this] { return telnet_->negotiation() != Rfc2217Client::Negotiation::Pending; },
                "the server did not answer the telnet negotiation");
    if (telnet_->negotiation() == Rfc2217Client::Negotiation::Refused)
        throw SerialError(telnet_->refusal());
    sendTelnetSettings(lineSettings());
}

void PosixSerialPort::sendTelnetSettings(const LineSettings& settings) {
    if (!writeWire(telnet_->requestSettings(settings)))
        throw SerialError("the server takes nothing");
    awaitServer([this] { return !telnet_->settingsPending(); },
                "the server did not answer the line settings " + lineSettingsText(settings));
    if (!telnet_->settingsFault().empty()) throw SerialError(telnet_->settingsFault());
}

void PosixSerialPort::awaitServer(const std::function<bool()>& done, const std::string& what) {
    // The one wait on the line outside the event loop: bounded, and only when the user asked
    // for this port or for new settings. The line's bytes that come meanwhile go out with the
    // next receive event.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(serverReplyMs_);
    while (true) {
        if (!drain()) throw SerialError("the server closed the connection");
        if (done()) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            throw SerialError(what + " within " + std::to_string(serverReplyMs_) + " ms");
        pollfd pfd{fd_, POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(left));
    }
}

void PosixSerialPort::applySettings(const LineSettings& s) {
    if (!open_) return;
    if (telnet_) {
        sendTelnetSettings(s);
        return;
    }
    if (!terminal_) return;  // a raw socket carries bytes only
    termios t{};
    if (tcgetattr(fd_, &t) != 0) throw SerialError(std::strerror(errno));
    const speed_t speed = speedConstant(s.baud);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (s.dataBits) {
        case 5:
            t.c_cflag |= CS5;
            break;
        case 6:
            t.c_cflag |= CS6;
            break;
        case 7:
            t.c_cflag |= CS7;
            break;
        default:
            t.c_cflag |= CS8;
            break;
    }
    if (s.parity == 'E') t.c_cflag |= PARENB;
    if (s.parity == 'O') t.c_cflag |= PARENB | PARODD;
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // Bytes already queued leave with the old settings.
    if (tcsetattr(fd_, TCSADRAIN, &t) != 0) throw SerialError(std::strerror(errno));
}

bool PosixSerialPort::drain() {
    std::uint8_t buf[4096];
    std::vector<std::uint8_t> reply;  // what telnet owes the server
    bool alive = true;
    while (true) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            const std::span<const std::uint8_t> got(buf, static_cast<std::size_t>(n));
            const std::size_t before = pending_.size();
            if (telnet_)
                telnet_->receive(got, pending_, reply);
            else
                pending_.insert(pending_.end(), got.begin(), got.end());
            bytesReceived_ += pending_.size() - before;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // Otherwise: nothing more for now, or the end of file (peer closed) or an error such
        // as EIO (hang-up).
        alive = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
    }
    if (!reply.empty() && alive) writeWire(reply);
    return alive;
}

void PosixSerialPort::onReadable() {
    if (!open_) return;
    if (!drain()) {
        // The line has gone: the port closes once and says so; the opener closes the
        // descriptor.
        release();
        raise(kCommEventDeviceLost);
        return;
    }
    if (!pending_.empty()) raise(kCommEventReceive);
}

std::vector<std::uint8_t> PosixSerialPort::input() {
    if (!open_) return {};
    // A read outside the event (the reply timer discards what is left) sees the newest bytes.
    // A line found gone here is reported by the watch, which sees the same end.
    drain();
    std::vector<std::uint8_t> out;
    out.swap(pending_);
    return out;
}

void PosixSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (!open_) return;
    // A line that takes nothing loses the packet, and the reply timer repeats the request;
    // a line that has gone is reported by the watch.
    if (!telnet_) {
        writeWire(bytes);
        return;
    }
    std::vector<std::uint8_t> wire;
    Rfc2217Client::encodeData(bytes, wire);
    writeWire(wire);
}

bool PosixSerialPort::writeWire(std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint8_t* p = bytes.data() + done;
        const std::size_t left = bytes.size() - done;
        // A socket whose peer has gone must not end the program with SIGPIPE.
        const ssize_t n = socket_ ? send(fd_, p, left, MSG_NOSIGNAL) : write(fd_, p, left);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd_, POLLOUT, 0};
            if (poll(&pfd, 1, kWriteStallMs) > 0) continue;
        }
        return false;
    }
    return true;
}

bool PosixSerialPort::waitForInput(int ms) {
    if (!open_) return false;
    pollfd pfd{fd_, POLLIN, 0};
    int r;
    do {
        r = poll(&pfd, 1, ms < 0 ? 0 : ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return false;
    const std::uint64_t before = bytesReceived_;
    onReadable();
    return bytesReceived_ > before;
}

}  // namespace kyr
