#include "alpaca/e2e/process_rig.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kyr::test {

using Clock = std::chrono::steady_clock;

namespace {

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Appends what the descriptor has within `ms`; false at its end or when nothing came.
bool readSome(int fd, std::string& into, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || poll(&p, 1, ms) <= 0) return false;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    // A program that ends early must not take the tests with it.
    signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
    finish(SIGKILL);
    for (int fd : {in_, out_, err_})
        if (fd >= 0) close(fd);
}

std::string ChildProcess::readLine(std::chrono::milliseconds guard) {
    const auto deadline = Clock::now() + guard;
    while (true) {
        const auto end = outBuffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = outBuffer_.substr(0, end);
            outBuffer_.erase(0, end + 1);
            return line;
        }
        if (!readSome(out_, outBuffer_, msLeft(deadline))) return {};
    }
}

void ChildProcess::write(const std::string& text) {
    if (in_ >= 0) (void)::write(in_, text.data(), text.size());
}

std::string ChildProcess::errorText() {
    while (readSome(err_, errBuffer_, 0)) {
    }
    return errBuffer_;
}

int ChildProcess::finish(int sig, std::chrono::milliseconds guard) {
    if (pid_ <= 0) return -1;
    if (sig != 0) kill(pid_, sig);
    const auto deadline = Clock::now() + guard;
    int status = 0;
    while (true) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (r < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return -1;
        // Standard error is drained meanwhile, so that a chatty end cannot block.
        readSome(err_, errBuffer_, 10);
    }
    pid_ = -1;
    errorText();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

SimProcess::SimProcess(std::vector<std::string> options)
    : child_([&] {
          std::vector<std::string> argv{KYR_SIM_EXE, "--pty"};
          argv.insert(argv.end(), options.begin(), options.end());
          return argv;
      }()) {
    path_ = child_.readLine();
}

bool SimProcess::command(const std::string& line, std::string* reply) {
    child_.write(line + "\n");
    while (true) {
        const std::string got = child_.readLine();
        if (got == "ok") return true;
        if (got.empty() || got.rfind("error: ", 0) == 0) return false;
        if (reply) *reply += got + "\n";
    }
}

AlpacaProcess::AlpacaProcess(std::vector<std::string> options)
    : child_([&] {
          std::vector<std::string> argv{KYR_ALPACA_EXE};
          argv.insert(argv.end(), options.begin(), options.end());
          return argv;
      }()) {
    firstLine_ = child_.readLine();
    const std::string prefix = "listening 127.0.0.1:";
    if (firstLine_.rfind(prefix, 0) == 0)
        port_ = static_cast<std::uint16_t>(std::stoi(firstLine_.substr(prefix.size())));
}

}  // namespace kyr::test
