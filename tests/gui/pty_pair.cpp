#include "pty_pair.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kyr::test {

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        closeMaster();
        return;
    }
    const char* name = ::ptsname(master_);
    if (name == nullptr) {
        closeMaster();
        return;
    }
    slave_ = name;
}

PtyPair::~PtyPair() {
    closeMaster();
}

bool PtyPair::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done,
                                  static_cast<std::size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray PtyPair::readAvailable() {
    QByteArray out;
    char buf[256];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, n);
    }
    return out;
}

namespace {
PtyPair::Line lineOfFd(int fd) {
    termios t{};
    PtyPair::Line l;
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) return l;
    switch (::cfgetospeed(&t)) {
        case B9600:
            l.baud = 9600;
            break;
        case B19200:
            l.baud = 19200;
            break;
        case B38400:
            l.baud = 38400;
            break;
        case B57600:
            l.baud = 57600;
            break;
        case B115200:
            l.baud = 115200;
            break;
        default:
            l.baud = -1;
            break;
    }
    l.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 'O' : 'E') : 'N';
    switch (t.c_cflag & CSIZE) {
        case CS5:
            l.dataBits = 5;
            break;
        case CS6:
            l.dataBits = 6;
            break;
        case CS7:
            l.dataBits = 7;
            break;
        default:
            l.dataBits = 8;
            break;
    }
    l.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return l;
}
}  // namespace

PtyPair::Line PtyPair::line() const {
    // On a pseudo-terminal the master reports the slave's settings.
    return lineOfFd(master_);
}

PtyPair::Line PtyPair::lineOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const Line l = lineOfFd(fd);
    if (fd >= 0) ::close(fd);
    return l;
}

void PtyPair::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace kyr::test
