#pragma once
// kyr-sim and kyr-alpaca as the tests and the bench run them, their standard streams on
// pipes. Every wait is bounded by a guard that only a failure reaches. POSIX.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kyr::test {

inline constexpr std::chrono::seconds kGuard{30};

class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // One line of standard output ("" once it has ended).
    std::string readLine();
    void write(const std::string& text);
    // Standard error as far as it has come.
    std::string errorText();
    // Sends the signal (0: none) and waits for the end: the exit status, 128 + the signal
    // that ended it, or -1.
    int finish(int signal);

  private:
    int pid_ = -1, in_ = -1, out_ = -1, err_ = -1;
    std::string out, err;
};

// kyr-sim on a pseudo-terminal (path() "" when it did not start).
struct SimProcess {
    explicit SimProcess(const std::vector<std::string>& options = {});
    const std::string& path() const { return path_; }
    ChildProcess& process() { return child; }
    // A control command; true when answered "ok". The reply's lines go to `reply`.
    bool command(const std::string& line, std::string* reply = nullptr);

    ChildProcess child;
    std::string path_;
};

// kyr-alpaca; port() 0 unless it said "listening 127.0.0.1:PORT".
struct AlpacaProcess {
    explicit AlpacaProcess(const std::vector<std::string>& options);
    std::uint16_t port() const { return port_; }
    const std::string& firstLine() const { return first; }
    ChildProcess& process() { return child; }

    ChildProcess child;
    std::string first;
    std::uint16_t port_ = 0;
};

}  // namespace kyr::test
