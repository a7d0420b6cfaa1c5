// kyr-delay-proxy: makes a loopback TCP link look like a slow, uneven network, for the tests
// and the timing bench. Every chunk of bytes is held for the one-way delay (plus uniform
// jitter) in each direction, without ever overtaking the bytes before it; the direction from
// the target (the device) to the client (the console) can stall once. Loopback only, and it
// ends by itself.
//
//   kyr-delay-proxy --target HOST:PORT [--port N] [--delay MS] [--jitter MS] [--seed N]
//                   [--stall-after BYTES | --stall-at MS] [--stall-ms MS]
//                   [--max-seconds S] [--linger-ms MS]
//
// It listens on 127.0.0.1 (port 0: the kernel's choice) and prints "listening PORT" as its
// first line. Each client gets its own connection to the target. --stall-after freezes the
// target-to-client direction when byte BYTES of it (counted over all connections, from 0) is
// due, for --stall-ms; --stall-at freezes it MS after the first client came. It exits after
// --max-seconds (default 120), or --linger-ms (default 1000) after its last connection
// closed on both sides with no new one.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <optional>
#include <utility>
#include <random>
#include <string>
#include <vector>

namespace {

using Ms = std::int64_t;

constexpr std::size_t kReadSize = 16384;
// A direction stops reading while this much waits in it, so a stalled link pushes back.
constexpr std::size_t kMaxQueued = 4u << 20;

Ms nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Options {
    std::string targetHost;
    std::string targetPort;
    int port = 0;
    int delayMs = 0;
    int jitterMs = 0;
    unsigned seed = 1;
    std::optional<std::int64_t> stallAfter;
    std::optional<int> stallAt;
    int stallMs = 0;
    int maxSeconds = 120;
    int lingerMs = 1000;
};

constexpr const char* kUsage =
    "usage: kyr-delay-proxy --target HOST:PORT [--port N] [--delay MS] [--jitter MS] [--seed N]\n"
    "                       [--stall-after BYTES | --stall-at MS] [--stall-ms MS]\n"
    "                       [--max-seconds S] [--linger-ms MS]\n";

template <typename T>
bool parseNumber(const char* text, T& out, T low, T high) {
    const char* end = text + std::strlen(text);
    T value{};
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc{} || ptr != end || ptr == text || value < low || value > high) return false;
    out = value;
    return true;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--target") {
            const std::string t = value;
            const auto colon = t.rfind(':');
            if (colon == std::string::npos || colon == 0) return std::nullopt;
            o.targetHost = t.substr(0, colon);
            if (o.targetHost.size() > 2 && o.targetHost.front() == '[' && o.targetHost.back() == ']')
                o.targetHost = o.targetHost.substr(1, o.targetHost.size() - 2);
            o.targetPort = t.substr(colon + 1);
            int p = 0;
            ok = parseNumber(o.targetPort.c_str(), p, 1, 65535);
        } else if (arg == "--port") {
            ok = parseNumber(value, o.port, 0, 65535);
        } else if (arg == "--delay") {
            ok = parseNumber(value, o.delayMs, 0, 600000);
        } else if (arg == "--jitter") {
            ok = parseNumber(value, o.jitterMs, 0, 600000);
        } else if (arg == "--seed") {
            ok = parseNumber(value, o.seed, 0u, 0xFFFFFFFFu);
        } else if (arg == "--stall-after") {
            std::int64_t n = 0;
            ok = parseNumber<std::int64_t>(value, n, 0, INT64_MAX);
            o.stallAfter = n;
        } else if (arg == "--stall-at") {
            int n = 0;
            ok = parseNumber(value, n, 0, 86400000);
            o.stallAt = n;
        } else if (arg == "--stall-ms") {
            ok = parseNumber(value, o.stallMs, 0, 600000);
        } else if (arg == "--max-seconds") {
            ok = parseNumber(value, o.maxSeconds, 1, 86400);
        } else if (arg == "--linger-ms") {
            ok = parseNumber(value, o.lingerMs, 0, 600000);
        } else {
            ok = false;
        }
        if (!ok) return std::nullopt;
    }
    if (o.targetHost.empty() || (o.stallAfter && o.stallAt)) return std::nullopt;
    return o;
}

// The target's address, when it is a loopback one. Only "localhost" is looked up by name;
// anything else must be a numeric address, so the proxy never asks a name server.
std::optional<sockaddr_storage> loopbackTarget(const Options& o, socklen_t& length) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = o.targetHost == "localhost" ? 0 : AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(o.targetHost.c_str(), o.targetPort.c_str(), &hints, &found) != 0) return std::nullopt;
    std::optional<sockaddr_storage> result;
    for (const addrinfo* a = found; a != nullptr && !result; a = a->ai_next) {
        bool loopback = false;
        if (a->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            loopback = (ntohl(in->sin_addr.s_addr) >> 24) == 127;
        } else if (a->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            loopback = IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
        }
        if (!loopback) continue;
        sockaddr_storage s{};
        std::memcpy(&s, a->ai_addr, a->ai_addrlen);
        length = a->ai_addrlen;
        result = s;
    }
    freeaddrinfo(found);
    return result;
}

void noDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Chunk {
    Ms due = 0;
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    bool eof = false;         // the sender closed: shut the far side's writing down
    bool stallStart = false;  // the link freezes when this chunk is due
};

struct Direction {
    int from = -1;
    int to = -1;
    bool towardClient = false;
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    Ms lastDue = 0;
    Ms holdUntil = 0;
    bool readEof = false;
    bool writeEof = false;
    bool wantWrite = false;
};

struct Session {
    int client = -1;
    int target = -1;
    Direction up;    // client -> target
    Direction down;  // target -> client
    bool dead = false;
};

class Proxy {
  public:
    explicit Proxy(Options o) : o_(std::move(o)), rng_(o_.seed) {}

    int run(int listener, const sockaddr_storage& target, socklen_t targetLength);

  private:
    void accept(int listener, const sockaddr_storage& target, socklen_t targetLength);
    void readInto(Session& s, Direction& d);
    void enqueue(Direction& d, Chunk chunk);
    // The earliest time the head of `d` may go out.
    Ms readyAt(const Direction& d) const;
    void flush(Session& s, Direction& d);
    Ms jittered(Ms now);

    Options o_;
    std::mt19937 rng_;
    std::list<Session> sessions_;
    std::int64_t towardClientBytes_ = 0;
    bool stallPlaced_ = false;
    std::optional<Ms> freezeFrom_, freezeUntil_;
    int sessionsEnded_ = 0;
    Ms lastEnd_ = 0;
};

Ms Proxy::jittered(Ms now) {
    Ms due = now + o_.delayMs;
    if (o_.jitterMs > 0) {
        const auto span = static_cast<std::uint32_t>(2 * o_.jitterMs + 1);
        due += static_cast<Ms>(rng_() % span) - o_.jitterMs;
    }
    return std::max(due, now);
}

void Proxy::enqueue(Direction& d, Chunk chunk) {
    // Never before the bytes ahead of it: jitter reorders nothing.
    chunk.due = std::max(chunk.due, d.lastDue);
    d.lastDue = chunk.due;
    d.queued += chunk.bytes.size();
    d.queue.push_back(std::move(chunk));
}

void Proxy::readInto(Session& s, Direction& d) {
    std::vector<std::uint8_t> buffer(kReadSize);
    const ssize_t n = recv(d.from, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) s.dead = true;
        return;
    }
    const Ms now = nowMs();
    Chunk chunk;
    chunk.due = jittered(now);
    if (n == 0) {
        d.readEof = true;
        chunk.eof = true;
        enqueue(d, std::move(chunk));
        return;
    }
    buffer.resize(static_cast<std::size_t>(n));
    if (d.towardClient && o_.stallAfter && !stallPlaced_ && *o_.stallAfter >= towardClientBytes_ &&
        *o_.stallAfter < towardClientBytes_ + n) {
        // Split where the stall begins, so the bytes before it are not held.
        const auto at = static_cast<std::size_t>(*o_.stallAfter - towardClientBytes_);
        if (at > 0) {
            Chunk before;
            before.due = chunk.due;
            before.bytes.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
            enqueue(d, std::move(before));
        }
        chunk.bytes.assign(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.end());
        chunk.stallStart = true;
        stallPlaced_ = true;
    } else {
        chunk.bytes = std::move(buffer);
    }
    if (d.towardClient) towardClientBytes_ += n;
    enqueue(d, std::move(chunk));
}

Ms Proxy::readyAt(const Direction& d) const {
    const Chunk& head = d.queue.front();
    Ms at = std::max(head.due, d.holdUntil);
    if (d.towardClient && freezeFrom_ && at >= *freezeFrom_ && at < *freezeUntil_) at = *freezeUntil_;
    return at;
}

void Proxy::flush(Session& s, Direction& d) {
    d.wantWrite = false;
    while (!d.queue.empty() && !s.dead) {
        const Ms now = nowMs();
        if (readyAt(d) > now) return;
        Chunk& head = d.queue.front();
        if (head.stallStart) {
            head.stallStart = false;
            d.holdUntil = head.due + o_.stallMs;
            continue;
        }
        if (head.eof) {
            shutdown(d.to, SHUT_WR);
            d.writeEof = true;
            d.queue.pop_front();
            continue;
        }
        const ssize_t n = send(d.to, head.bytes.data() + head.sent, head.bytes.size() - head.sent,
                               MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) d.wantWrite = true;
            else s.dead = true;
            return;
        }
        head.sent += static_cast<std::size_t>(n);
        d.queued -= static_cast<std::size_t>(n);
        if (head.sent < head.bytes.size()) {
            d.wantWrite = true;
            return;
        }
        d.queue.pop_front();
    }
}

void Proxy::accept(int listener, const sockaddr_storage& target, socklen_t targetLength) {
    const int client = ::accept(listener, nullptr, nullptr);
    if (client < 0) return;
    const int far = socket(target.ss_family, SOCK_STREAM, 0);
    if (far < 0 || connect(far, reinterpret_cast<const sockaddr*>(&target), targetLength) != 0) {
        std::fprintf(stderr, "kyr-delay-proxy: cannot reach the target: %s\n", std::strerror(errno));
        if (far >= 0) close(far);
        close(client);
        return;
    }
    noDelay(client);
    noDelay(far);
    if (o_.stallAt && !freezeFrom_) {
        freezeFrom_ = nowMs() + *o_.stallAt;
        freezeUntil_ = *freezeFrom_ + o_.stallMs;
    }
    Session& s = sessions_.emplace_back();
    s.client = client;
    s.target = far;
    s.up.from = client;
    s.up.to = far;
    s.down.from = far;
    s.down.to = client;
    s.down.towardClient = true;
}

int Proxy::run(int listener, const sockaddr_storage& target, socklen_t targetLength) {
    const Ms deadline = nowMs() + Ms{o_.maxSeconds} * 1000;
    for (;;) {
        const Ms now = nowMs();
        if (now >= deadline) {
            std::fprintf(stderr, "kyr-delay-proxy: --max-seconds reached\n");
            return 0;
        }
        if (sessions_.empty() && sessionsEnded_ > 0 && now - lastEnd_ >= o_.lingerMs) return 0;

        std::vector<pollfd> fds;
        // Who reads from fds[i] (none for the listener at 0).
        std::vector<std::pair<Session*, Direction*>> owners;
        fds.push_back({listener, POLLIN, 0});
        owners.emplace_back(nullptr, nullptr);
        Ms wake = deadline;
        if (sessions_.empty() && sessionsEnded_ > 0) wake = std::min(wake, lastEnd_ + o_.lingerMs);
        for (Session& s : sessions_) {
            for (Direction* d : {&s.up, &s.down}) {
                // The other direction writes to the socket this one reads from.
                const Direction& back = d == &s.up ? s.down : s.up;
                short events = 0;
                if (!d->readEof && d->queued < kMaxQueued) events |= POLLIN;
                if (back.wantWrite) events |= POLLOUT;
                // A socket closed both ways reports a hang-up on every poll: leave it out
                // unless something still has to be written to it.
                fds.push_back({d->readEof && !back.wantWrite ? -1 : d->from, events, 0});
                owners.emplace_back(&s, d);
                if (!d->queue.empty() && !d->wantWrite) wake = std::min(wake, readyAt(*d));
            }
        }
        const int timeout = static_cast<int>(std::clamp<Ms>(wake - now, 0, 1000));
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            std::perror("kyr-delay-proxy: poll");
            return 1;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            auto [s, d] = owners[i];
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !d->readEof) readInto(*s, *d);
        }
        if (fds[0].revents & POLLIN) accept(listener, target, targetLength);
        for (auto it = sessions_.begin(); it != sessions_.end();) {
            flush(*it, it->up);
            flush(*it, it->down);
            const bool done = it->up.writeEof && it->down.writeEof;
            if (it->dead || done) {
                close(it->client);
                close(it->target);
                ++sessionsEnded_;
                lastEnd_ = nowMs();
                it = sessions_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    socklen_t targetLength = 0;
    const auto target = loopbackTarget(*options, targetLength);
    if (!target) {
        std::fprintf(stderr, "kyr-delay-proxy: %s is not a loopback address\n",
                     options->targetHost.c_str());
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(options->port));
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("kyr-delay-proxy: listen");
        return 1;
    }
    std::printf("listening %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    Proxy proxy(*options);
    const int status = proxy.run(listener, *target, targetLength);
    close(listener);
    return status;
}
