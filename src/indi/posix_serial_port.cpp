// POSIX: termios, poll, non-blocking reads and writes on a borrowed descriptor.
#include "indi/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
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
    try {
        applySettings(lineSettings());
    } catch (const SerialError&) {
        open_ = false;
        throw;
    }
    pending_.clear();
    bytesReceived_ = 0;
    watch_.watch(fd_, [this] { onReadable(); });
}

void PosixSerialPort::applySettings(const LineSettings& s) {
    if (!open_ || !terminal_) return;  // a socket carries bytes only
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
    while (true) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            pending_.insert(pending_.end(), buf, buf + n);
            bytesReceived_ += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;  // end of file (peer closed) or an error such as EIO (hang-up)
    }
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
        // A line that takes nothing: the packet is lost, and the reply timer repeats the
        // request; a line that has gone is reported by the watch.
        return;
    }
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
