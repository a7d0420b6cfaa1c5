// POSIX: name lookup and a bounded non-blocking connect.
#include "indi/network_serial.h"

#include <fcntl.h>
#include <indilogger.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/port_map.h"

namespace kyr::indi {

namespace {

// How long connecting to a remote serial server may take before the driver says so.
constexpr int kConnectTimeoutMs = 5000;

// Connects one address; the socket, or -1 with errno set.
int connectOne(const addrinfo& a, int timeoutMs) {
    const int fd = socket(a.ai_family, a.ai_socktype | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0) return -1;
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = connect(fd, a.ai_addr, a.ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do {
            rc = poll(&p, 1, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0) {
            errno = ETIMEDOUT;
            rc = -1;
        } else if (rc > 0) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            errno = error;
            rc = error == 0 ? 0 : -1;
        }
    }
    if (rc != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    fcntl(fd, F_SETFL, flags);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

int connectTcp(const std::string& host, int port, int timeoutMs, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = gai_strerror(rc);
        return -1;
    }
    int fd = -1;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = connectOne(*a, timeoutMs);
        if (fd < 0) error = std::strerror(errno);
    }
    freeaddrinfo(found);
    return fd;
}

bool NetworkSerial::Connect(const char* port, uint32_t baud) {
    wire_ = PosixSerialPort::Wire::Plain;
    if (!isNetworkPath(port)) return Connection::Serial::Connect(port, baud);
    // libindi closes PortFD after a failed connection: never a stale number.
    PortFD = -1;
    const auto address = parseTcpAddress(port);
    if (!address) {
        LOGF_ERROR("%s is not a tcp://host:port or rfc2217://host:port address.", port);
        return false;
    }
    std::string why;
    const int fd = connectTcp(address->host, address->port, kConnectTimeoutMs, why);
    if (fd < 0) {
        LOGF_ERROR("Failed to connect to %s: %s", port, why.c_str());
        return false;
    }
    PortFD = fd;
    wire_ = address->rfc2217 ? PosixSerialPort::Wire::Rfc2217 : PosixSerialPort::Wire::Plain;
    LOGF_DEBUG("Connected to %s", port);
    return true;
}

}  // namespace kyr::indi
