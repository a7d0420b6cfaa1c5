// POSIX line for kyr-sim: a pseudo-terminal (posix_openpt) or a TCP socket on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "sim/sim_control.h"
#include "sim/sim_serve.h"

namespace kyr::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

volatile sig_atomic_t gStop = 0;
extern "C" void onSignal(int) {
    gStop = 1;
}

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: poll() returns EINTR and the loop sees the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void setNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// The pseudo-terminal's master side; the console opens the slave, whose name is returned.
int openPty(std::string& slaveName) {
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return -1;
    const char* name = (grantpt(m) == 0 && unlockpt(m) == 0) ? ptsname(m) : nullptr;
    if (!name) {
        close(m);
        return -1;
    }
    slaveName = name;
    // Raw mode on the slave before anyone uses it: no echo of the console's bytes back to
    // us, no line editing, no translation. The settings stay with the pair.
    const int s = open(name, O_RDWR | O_NOCTTY);
    if (s >= 0) {
        termios t{};
        if (tcgetattr(s, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(s, TCSANOW, &t);
        }
        close(s);
    }
    setNonBlocking(m);
    return m;
}

int openListener(int port, int& actualPort) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(s);
        return -1;
    }
    setNonBlocking(s);
    actualPort = ntohs(a.sin_port);
    return s;
}

class Server {
  public:
    Server(SimDevice& d, const ServeOptions& o) : device_(d), options_(o) {}
    int run();

  private:
    bool connected() const { return options_.tcp ? client_ >= 0 : ptyPeerPresent_; }
    int lineFd() const { return options_.tcp ? client_ : (ptyPeerPresent_ ? master_ : -1); }
    bool pacing() const { return options_.baud > 0; }
    void note(const char* text) const {
        if (options_.verbose) std::fprintf(stderr, "kyr-sim: %s\n", text);
    }
    void readControl();
    void handleControlLine(const std::string& line);
    void readLine();
    void writeLine(Clock::time_point now);
    void acceptClient();
    void checkPtyPeer(Clock::time_point now);
    void peerGone();
    void collect();
    void refillBudget(Clock::time_point now);
    void deliverInbound(Clock::time_point now);
    Clock::duration byteTime(std::size_t n) const;
    Clock::duration waitTime(Clock::time_point now) const;

    SimDevice& device_;
    ServeOptions options_;
    int master_ = -1, listener_ = -1, client_ = -1;
    bool ptyPeerPresent_ = true;
    bool quit_ = false;
    std::string controlBuffer_;
    std::deque<std::vector<std::uint8_t>> out_;
    std::size_t outOffset_ = 0;  // bytes of out_.front() already written
    double budget_ = 0;
    bool lineBusy_ = false;  // answers are being sent: the budget refills at the line's rate
    // Bytes from the console still crossing the paced line, with the time their last byte
    // arrives: the device acts on a request only once all of it has come in.
    struct Inbound {
        std::vector<std::uint8_t> bytes;
        Clock::time_point at;
    };
    std::deque<Inbound> in_;
    Clock::time_point inLineFreeAt_ = Clock::now();
    Clock::time_point lastRefill_ = Clock::now();
    Clock::time_point lastTraffic_ = Clock::now();
    Clock::time_point lastIdle_ = Clock::now();
    Clock::time_point nextPeerCheck_ = Clock::now();
    Clock::time_point nextChunkAt_ = Clock::now();
};

constexpr auto kIdleEvery = milliseconds(2000);
constexpr auto kPeerCheckEvery = milliseconds(50);
constexpr auto kSplitGap = std::chrono::microseconds(800);
constexpr std::size_t kMaxQueuedChunks = 4096;

int Server::run() {
    installSignals();
    std::string name;
    if (options_.tcp) {
        int port = 0;
        listener_ = openListener(options_.tcpPort, port);
        if (listener_ < 0) {
            std::fprintf(stderr, "kyr-sim: cannot listen on 127.0.0.1:%d: %s\n", options_.tcpPort,
                         std::strerror(errno));
            return 1;
        }
        name = "tcp://127.0.0.1:" + std::to_string(port);
    } else {
        master_ = openPty(name);
        if (master_ < 0) {
            std::fprintf(stderr, "kyr-sim: cannot create a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", name.c_str());
    std::fflush(stdout);

    while (!gStop && !quit_) {
        auto now = Clock::now();
        if (options_.idleUpdates && connected() && out_.empty() &&
            now - lastTraffic_ >= kIdleEvery && now - lastIdle_ >= kIdleEvery) {
            device_.idleTick();
            lastIdle_ = now;
        }
        deliverInbound(now);
        collect();
        refillBudget(now);
        writeLine(now);

        pollfd fds[3];
        int n = 0, iStdin = -1, iLine = -1, iListen = -1;
        fds[n] = {STDIN_FILENO, POLLIN, 0};
        iStdin = n++;
        if (const int fd = lineFd(); fd >= 0) {
            short events = POLLIN;
            if (!out_.empty() && now >= nextChunkAt_ && (!pacing() || budget_ >= 1.0)) {
                events |= POLLOUT;
            }
            fds[n] = {fd, events, 0};
            iLine = n++;
        }
        if (options_.tcp && client_ < 0) {
            fds[n] = {listener_, POLLIN, 0};
            iListen = n++;
        }
        const auto wait = waitTime(now);
#if defined(__linux__)
        // Sub-millisecond waits keep the paced line close to its real rate.
        timespec ts{};
        const timespec* tsp = nullptr;
        if (wait >= Clock::duration::zero()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            ts.tv_sec = static_cast<time_t>(ns / 1000000000);
            ts.tv_nsec = static_cast<long>(ns % 1000000000);
            tsp = &ts;
        }
        const int r = ppoll(fds, static_cast<nfds_t>(n), tsp, nullptr);
#else
        const int r = poll(fds, static_cast<nfds_t>(n),
                           wait < Clock::duration::zero()
                               ? -1
                               : static_cast<int>(std::chrono::ceil<milliseconds>(wait).count()));
#endif
        if (r < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "kyr-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[iStdin].revents) readControl();
        if (iLine >= 0 && (fds[iLine].revents & (POLLIN | POLLHUP | POLLERR))) readLine();
        if (iListen >= 0 && (fds[iListen].revents & POLLIN)) acceptClient();
        now = Clock::now();
        if (!options_.tcp && !ptyPeerPresent_ && now >= nextPeerCheck_) checkPtyPeer(now);
    }
    if (client_ >= 0) close(client_);
    if (listener_ >= 0) close(listener_);
    if (master_ >= 0) close(master_);
    return 0;
}

void Server::readControl() {
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // End of input: the parent has gone, and so do we (after any last command).
        if (!controlBuffer_.empty()) handleControlLine(controlBuffer_);
        quit_ = true;
        return;
    }
    controlBuffer_.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while (!quit_ && (eol = controlBuffer_.find('\n')) != std::string::npos) {
        const std::string line = controlBuffer_.substr(0, eol);
        controlBuffer_.erase(0, eol + 1);
        handleControlLine(line);
    }
}

void Server::handleControlLine(const std::string& line) {
    const ControlReply reply = runControlCommand(device_, line);
    std::fputs(reply.text.c_str(), stdout);
    std::fflush(stdout);
    if (reply.quit) quit_ = true;
}

void Server::readLine() {
    std::uint8_t buf[4096];
    const ssize_t n = read(lineFd(), buf, sizeof buf);
    if (n > 0) {
        const auto now = Clock::now();
        lastTraffic_ = now;
        if (!pacing()) {
            device_.receive(std::span(buf, static_cast<std::size_t>(n)));
            return;
        }
        const auto start = std::max(now, inLineFreeAt_);
        inLineFreeAt_ = start + byteTime(static_cast<std::size_t>(n));
        in_.push_back({std::vector<std::uint8_t>(buf, buf + n), inLineFreeAt_});
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // 0 from a socket: the client left. EIO from the pty master: the console closed its
    // end; it may open it again, so the device keeps serving.
    peerGone();
}

void Server::peerGone() {
    if (options_.tcp) {
        if (client_ >= 0) close(client_);
        client_ = -1;
        note("console disconnected");
    } else {
        ptyPeerPresent_ = false;
        nextPeerCheck_ = Clock::now() + kPeerCheckEvery;
        note("console closed the pseudo-terminal");
    }
    // Bytes for a line nobody listens to are lost, as on a real serial line.
    in_.clear();
    out_.clear();
    outOffset_ = 0;
    device_.takeOutput();
}

void Server::checkPtyPeer(Clock::time_point now) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP)) {
        ptyPeerPresent_ = true;
        note("console opened the pseudo-terminal");
    } else {
        nextPeerCheck_ = now + kPeerCheckEvery;
    }
}

void Server::acceptClient() {
    const int c = accept(listener_, nullptr, nullptr);
    if (c < 0) return;
    setNonBlocking(c);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    client_ = c;
    note("console connected");
}

void Server::collect() {
    auto chunks = device_.takeChunks();
    if (!connected()) return;
    for (auto& c : chunks) out_.push_back(std::move(c));
    // Nobody reads (a pty nobody opened yet): keep the newest answers only.
    while (out_.size() > kMaxQueuedChunks) {
        out_.pop_front();
        outOffset_ = 0;
    }
}

Clock::duration Server::byteTime(std::size_t n) const {
    const double seconds = 11.0 * static_cast<double>(n) / static_cast<double>(options_.baud);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void Server::deliverInbound(Clock::time_point now) {
    while (!in_.empty() && in_.front().at <= now) {
        device_.receive(in_.front().bytes);
        in_.pop_front();
    }
}

void Server::refillBudget(Clock::time_point now) {
    if (!pacing()) return;
    const double rate = static_cast<double>(options_.baud) / 11.0;
    if (out_.empty()) {
        // An idle line earns no credit: an answer starts going out when it is ready.
        lineBusy_ = false;
        budget_ = 0;
    } else if (!lineBusy_) {
        lineBusy_ = true;
        budget_ = 1.0;  // the first byte starts now
    } else {
        const double elapsed = std::chrono::duration<double>(now - lastRefill_).count();
        // Some slack for late wake-ups, never more than a few milliseconds of the line.
        budget_ = std::min(budget_ + elapsed * rate, std::max(64.0, rate / 200.0));
    }
    lastRefill_ = now;
}

void Server::writeLine(Clock::time_point now) {
    while (!out_.empty() && lineFd() >= 0 && now >= nextChunkAt_) {
        const auto& chunk = out_.front();
        std::size_t n = chunk.size() - outOffset_;
        if (pacing()) n = std::min(n, static_cast<std::size_t>(std::floor(budget_)));
        if (n == 0) return;
        const ssize_t w = write(lineFd(), chunk.data() + outOffset_, n);
        if (w < 0) {
            if (errno != EAGAIN && errno != EINTR) peerGone();
            return;
        }
        outOffset_ += static_cast<std::size_t>(w);
        if (pacing()) budget_ -= static_cast<double>(w);
        lastTraffic_ = now;
        if (outOffset_ < chunk.size()) continue;
        out_.pop_front();
        outOffset_ = 0;
        // Split delivery: a short gap so that the pieces reach the console one by one.
        if (device_.options().faults.split) nextChunkAt_ = now + kSplitGap;
    }
}

// How long the loop may wait for the line or the control channel (negative: no limit).
Clock::duration Server::waitTime(Clock::time_point now) const {
    auto t = Clock::duration::min();
    const auto consider = [&](Clock::duration d) {
        if (d < Clock::duration::zero()) d = Clock::duration::zero();
        t = t == Clock::duration::min() ? d : std::min(t, d);
    };
    if (!options_.tcp && !ptyPeerPresent_) consider(nextPeerCheck_ - now);
    if (!in_.empty()) consider(in_.front().at - now);
    if (!out_.empty()) {
        if (now < nextChunkAt_) {
            consider(nextChunkAt_ - now);
        } else if (pacing() && budget_ < 1.0) {
            const double rate = static_cast<double>(options_.baud) / 11.0;
            consider(std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>((1.0 - budget_) / rate)));
        }
    }
    if (options_.idleUpdates && connected() && out_.empty()) {
        const auto since = std::min(now - lastTraffic_, now - lastIdle_);
        consider(kIdleEvery - since);
    }
    if (t == Clock::duration::min()) return Clock::duration(-1);
    return std::min<Clock::duration>(t, std::chrono::seconds(60));
}

}  // namespace

int serve(SimDevice& device, const ServeOptions& options) {
    return Server(device, options).run();
}

}  // namespace kyr::sim
