// kyr-delay-proxy as a process between two sockets of the test: every byte arrives unchanged
// and in order both ways, a stall holds the target's bytes while the other way still flows,
// and it ends by itself once both sides closed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;

Bytes pattern(std::size_t n, unsigned salt) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * salt + i / 251);
    return b;
}

int listenLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 4) != 0) return -1;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

int connectLoopback(int port, int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

// Appends what `fd` holds just now.
void readAvailable(int fd, Bytes& into) {
    std::uint8_t buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) into.insert(into.end(), buf, buf + n);
}

// Sends as much of bytes[sent..] (at most `piece`) as fits without waiting.
void sendSome(int fd, const Bytes& bytes, std::size_t& sent, std::size_t piece) {
    if (sent >= bytes.size()) return;
    const ssize_t n =
        send(fd, bytes.data() + sent, std::min(piece, bytes.size() - sent), MSG_DONTWAIT);
    if (n > 0) sent += static_cast<std::size_t>(n);
}

// Reads what `fd` has into `into` until it holds `want` bytes; false after 20 s.
bool readUntil(int fd, Bytes& into, std::size_t want) {
    const auto end = Steady::now() + std::chrono::seconds(20);
    std::uint8_t buf[4096];
    while (into.size() < want && Steady::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = recv(fd, buf, std::min(sizeof buf, want - into.size()), 0);
        if (n <= 0) return false;
        into.insert(into.end(), buf, buf + n);
    }
    return into.size() == want;
}

// The proxy as a child process; its first output line gives the port.
class ProxyProcess {
  public:
    explicit ProxyProcess(std::vector<std::string> args) {
        args.insert(args.begin(), KYR_DELAY_PROXY_EXE);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c = 0;
        pollfd p{out[0], POLLIN, 0};
        while (pid_ > 0 && line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 &&
               read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        if (line.rfind("listening ", 0) == 0) port_ = std::stoi(line.substr(10));
    }
    ~ProxyProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }
    // Its exit status once it has ended by itself; -1 if it is still running after 10 s.
    int exitStatus() {
        const auto end = Steady::now() + std::chrono::seconds(10);
        int status = 0;
        while (pid_ > 0 && Steady::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            poll(nullptr, 0, 20);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

TEST(DelayProxyTest, EveryByteCrossesBothWaysInOrderThroughJitterAndItEndsByItself) {
    ProxyProcess elsewhere({"--target", "192.0.2.1:3001"});
    EXPECT_EQ(elsewhere.port(), 0);
    EXPECT_EQ(elsewhere.exitStatus(), 2);

    int targetPort = 0;
    const int listener = listenLoopback(targetPort);
    ASSERT_GE(listener, 0);
    ProxyProcess proxy({"--target", "127.0.0.1:" + std::to_string(targetPort), "--delay", "3",
                        "--jitter", "3", "--seed", "7", "--linger-ms", "0"});
    ASSERT_GT(proxy.port(), 0);
    const int console = connectLoopback(proxy.port(), 2048);
    const int device = accept(listener, nullptr, nullptr);
    ASSERT_GE(console, 0);
    ASSERT_GE(device, 0);

    // Pieces of every size each way, so many chunks with different jitter are under way at
    // once. The console reads only once the device has sent all: the proxy's writes to it
    // stop half-way and must resume where they stopped.
    const Bytes up = pattern(70000, 7), down = pattern(3000000, 13);
    Bytes gotUp, gotDown;
    std::size_t sentUp = 0, sentDown = 0, piece = 1;
    const auto end = Steady::now() + std::chrono::seconds(60);
    while ((gotUp.size() < up.size() || gotDown.size() < down.size()) && Steady::now() < end) {
        piece = piece % 700 + 1;
        sendSome(console, up, sentUp, piece);
        sendSome(device, down, sentDown, piece * 64);
        pollfd p[2] = {{device, POLLIN, 0}, {console, POLLIN, 0}};
        poll(p, 2, 1);
        readAvailable(device, gotUp);
        if (sentDown == down.size()) readAvailable(console, gotDown);
    }
    ASSERT_TRUE(readUntil(device, gotUp, up.size()));
    ASSERT_TRUE(readUntil(console, gotDown, down.size()));
    EXPECT_TRUE(gotUp == up);
    EXPECT_TRUE(gotDown == down);

    // The console leaves: the device sees the end after the bytes, closes, and the proxy ends.
    close(console);
    std::uint8_t b = 0;
    pollfd p{device, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 10000), 0);
    EXPECT_EQ(recv(device, &b, 1, 0), 0);
    close(device);
    close(listener);
    EXPECT_EQ(proxy.exitStatus(), 0);
}

TEST(DelayProxyTest, AStallHoldsTheDevicesBytesWhileTheConsolesStillPass) {
    int targetPort = 0;
    const int listener = listenLoopback(targetPort);
    ASSERT_GE(listener, 0);
    ProxyProcess proxy({"--target", "127.0.0.1:" + std::to_string(targetPort), "--delay", "1",
                        "--stall-after", "1000", "--stall-ms", "3000", "--linger-ms", "0"});
    ASSERT_GT(proxy.port(), 0);
    const int console = connectLoopback(proxy.port());
    const int device = accept(listener, nullptr, nullptr);
    ASSERT_GE(console, 0);
    ASSERT_GE(device, 0);

    const Bytes down = pattern(3000, 29);
    ASSERT_EQ(send(device, down.data(), down.size(), 0), 3000);
    Bytes got;
    ASSERT_TRUE(readUntil(console, got, 1000));
    // A request crosses the stalled link: it reached the device, yet nothing after byte 1000
    // has reached the console.
    const Bytes ping{'p', 'i', 'n', 'g'};
    ASSERT_EQ(send(console, ping.data(), ping.size(), 0), 4);
    Bytes gotPing;
    ASSERT_TRUE(readUntil(device, gotPing, 4));
    EXPECT_TRUE(gotPing == ping);
    std::uint8_t b = 0;
    EXPECT_LT(recv(console, &b, 1, MSG_DONTWAIT), 0);
    // After the stall the rest follows, whole and in order.
    ASSERT_TRUE(readUntil(console, got, down.size()));
    EXPECT_TRUE(got == down);

    close(device);
    close(console);
    close(listener);
    EXPECT_EQ(proxy.exitStatus(), 0);
}

}  // namespace
