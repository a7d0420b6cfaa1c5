// Runs the real kyr-sim program and talks to it over its pseudo-terminal and TCP port.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

constexpr int kGuardMs = 15000;  // a failure guard only; answers come in milliseconds

class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            close(in[1]);
            close(out[0]);
            std::vector<char*> argv{const_cast<char*>(KYR_SIM_EXE)};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(KYR_SIM_EXE, argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toSim_ = in[1];
        fromSim_ = out[0];
    }
    ~SimProcess() {
        if (toSim_ >= 0) close(toSim_);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fromSim_ >= 0) close(fromSim_);
    }

    // One line of the simulator's standard output ("" when it ended or timed out).
    std::string readLine() {
        std::string line;
        char c;
        while (true) {
            pollfd p{fromSim_, POLLIN, 0};
            if (poll(&p, 1, kGuardMs) <= 0 || read(fromSim_, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
    }
    void command(const std::string& line) {
        const std::string l = line + "\n";
        ASSERT_EQ(write(toSim_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    }
    // Lines of a command's reply, up to and including its "ok".
    std::vector<std::string> reply() {
        std::vector<std::string> lines;
        while (true) {
            lines.push_back(readLine());
            if (lines.back() == "ok" || lines.back().rfind("error: ", 0) == 0 ||
                lines.back().empty()) {
                return lines;
            }
        }
    }
    void closeInput() {
        close(toSim_);
        toSim_ = -1;
    }
    // Exit status after the process ended (-1 when it did not end normally in time).
    int wait() {
        for (int i = 0; i < kGuardMs / 10; ++i) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            pollfd none{-1, 0, 0};
            poll(&none, 0, 10);  // waiting for a child has no file descriptor to poll
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    int toSim_ = -1, fromSim_ = -1;
    bool reaped_ = false;
};

bool writeAll(int fd, const Bytes& b) {
    return write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size());
}

// Reads until `n` bytes arrived (or the guard ran out).
Bytes readBytes(int fd, std::size_t n) {
    Bytes got;
    std::uint8_t buf[512];
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kGuardMs) <= 0) break;
        const ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0) break;
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

int openPty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

const Bytes kAck{165, 6, 0, 0, 171, 0};

void expectLinkAnswer(int fd) {
    ASSERT_TRUE(writeAll(fd, linkRequest(1)));
    const Bytes got = readBytes(fd, 62);
    ASSERT_EQ(got.size(), 62u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 6), kAck);
    const auto frames = splitFrames(got);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].type, 9);
    EXPECT_EQ(std::string(frames[1].payload.begin(), frames[1].payload.begin() + 24),
              "KYR  Mode: Image        ");
}

TEST(SimProcess, ServesAPseudoTerminal) {
    SimProcess sim({"--pty", "--seed", "3", "--baud", "115200"});
    const std::string path = sim.readLine();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
    int fd = openPty(path);
    ASSERT_GE(fd, 0);
    expectLinkAnswer(fd);

    // The console closes its end and opens it again: the device is still there.
    close(fd);
    fd = openPty(path);
    ASSERT_GE(fd, 0);
    expectLinkAnswer(fd);

    // Control channel: a display text of the device's own, then the status report.
    sim.command("display Hello from|the control channel");
    EXPECT_EQ(sim.reply(), std::vector<std::string>{"ok"});
    const auto frames = splitFrames(readBytes(fd, 56));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(std::string(frames[0].payload.begin(), frames[0].payload.end()),
              "Hello from              the control channel     ");
    ASSERT_TRUE(writeAll(fd, keyPress(0x2008)));
    EXPECT_EQ(readBytes(fd, 62).size(), 62u);
    sim.command("status");
    const auto status = sim.reply();
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status[0], "link: up");
    EXPECT_EQ(status[2], "keys: 1 last=0x2008");
    EXPECT_EQ(status.back(), "ok");

    // It ends with its parent: end of standard input.
    close(fd);
    sim.closeInput();
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimProcess, ServesATcpPortAndStopsOnSigterm) {
    SimProcess sim({"--tcp", "0", "--split", "--junk", "0.2"});
    const std::string url = sim.readLine();
    ASSERT_EQ(url.rfind("tcp://127.0.0.1:", 0), 0u) << url;
    const int port = std::stoi(url.substr(16));
    ASSERT_GT(port, 0);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

    // With junk on, noise may come first; the two packets still arrive whole.
    ASSERT_TRUE(writeAll(s, headerRequest(31)));
    Bytes got;
    std::vector<Frame> frames;
    while (frames.empty()) {
        const Bytes more = readBytes(s, 1);
        ASSERT_GT(more.size(), 0u);
        got.insert(got.end(), more.begin(), more.end());
        frames = splitFrames(got);
    }
    EXPECT_EQ(frames[0].type, 4);
    EXPECT_EQ(frames[0].payload.size(), 44u);
    close(s);

    kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimProcess, RefusesBadOptions) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--drop", "1.5"},
                                                 {"--buffers", "0,31"},
                                                 {"--tcp"},
                                                 {"--screen-rows", "0"},
                                                 {"--bogus"}}) {
        SimProcess sim(args);
        EXPECT_EQ(sim.readLine(), "");
        EXPECT_EQ(sim.wait(), 2) << args[0];
    }
}

}  // namespace
}  // namespace kyr::sim::test
#endif
