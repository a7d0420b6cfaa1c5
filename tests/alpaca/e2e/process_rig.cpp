#include "alpaca/e2e/process_rig.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kyr::test {

namespace {

using Clock = std::chrono::steady_clock;

// Appends what the descriptor has within `ms`: 1 when bytes came, 0 when none, -1 at its end.
int readSome(int fd, std::string& into, int ms) {
    pollfd p{fd, POLLIN, 0};
    if (fd < 0) return -1;
    if (poll(&p, 1, ms) <= 0) return 0;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return -1;
    into.append(chunk, static_cast<std::size_t>(n));
    return 1;
}

std::vector<std::string> with(std::vector<std::string> argv, const std::vector<std::string>& more) {
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    signal(SIGPIPE, SIG_IGN);  // a program that ends early must not take the tests with it
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
    in_ = in[1], out_ = out[0], err_ = err[0];
}

ChildProcess::~ChildProcess() {
    finish(SIGKILL);
    for (int fd : {in_, out_, err_}) close(fd);
}

std::string ChildProcess::readLine() {
    const auto deadline = Clock::now() + kGuard;
    std::size_t end;
    while ((end = out.find('\n')) == std::string::npos)
        if (Clock::now() > deadline || readSome(out_, out, 100) < 0) return {};
    std::string line = out.substr(0, end);
    out.erase(0, end + 1);
    return line;
}

void ChildProcess::write(const std::string& text) {
    if (::write(in_, text.data(), text.size()) < 0) return;
}

std::string ChildProcess::errorText() {
    while (readSome(err_, err, 0) > 0) {
    }
    return err;
}

int ChildProcess::finish(int sig) {
    if (pid_ <= 0) return -1;
    if (sig != 0) kill(pid_, sig);
    const auto deadline = Clock::now() + kGuard;
    int status = 0;
    // Standard error is drained meanwhile, so that a chatty end cannot block.
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Clock::now() > deadline) return -1;
        if (readSome(err_, err, 10) < 0) usleep(1000);
    }
    pid_ = -1;
    errorText();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

SimProcess::SimProcess(const std::vector<std::string>& options)
    : child(with({KYR_SIM_EXE, "--pty"}, options)), path_(child.readLine()) {}

bool SimProcess::command(const std::string& line, std::string* reply) {
    child.write(line + "\n");
    for (std::string got = child.readLine(); got != "ok"; got = child.readLine()) {
        if (got.empty() || got.rfind("error: ", 0) == 0) return false;
        if (reply) *reply += got + "\n";
    }
    return true;
}

AlpacaProcess::AlpacaProcess(const std::vector<std::string>& options)
    : child(with({KYR_ALPACA_EXE}, options)), first(child.readLine()) {
    const std::string prefix = "listening 127.0.0.1:";
    if (first.rfind(prefix, 0) == 0)
        port_ = static_cast<std::uint16_t>(std::stoi(first.substr(prefix.size())));
}

}  // namespace kyr::test
