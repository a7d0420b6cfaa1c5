#pragma once
// kyr-sim and kyr-alpaca as the tests and the bench run them: programs with their standard
// streams on pipes. Every wait is bounded by a guard that only a failure reaches. POSIX.

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

    // One line of standard output, without its end ("" once it ended or the guard ran out).
    std::string readLine(std::chrono::milliseconds guard = kGuard);
    void write(const std::string& text);
    // Standard error as far as it has come.
    std::string errorText();
    // Sends the signal (0: none) and waits for the end: the exit status, 128 + the signal
    // that ended it, or -1 when it did not end within the guard.
    int finish(int signal, std::chrono::milliseconds guard = kGuard);

  private:
    int pid_ = -1;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string outBuffer_, errBuffer_;
};

// kyr-sim on a pseudo-terminal, driven through its control channel.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> options = {});
    // The pseudo-terminal ("" when the simulator did not start).
    const std::string& path() const { return path_; }
    // A control command; true when the simulator answered "ok". Its reply's lines go to
    // `reply` when given.
    bool command(const std::string& line, std::string* reply = nullptr);
    ChildProcess& process() { return child_; }

  private:
    ChildProcess child_;
    std::string path_;
};

// kyr-alpaca with the options given, on a free port of 127.0.0.1.
class AlpacaProcess {
  public:
    explicit AlpacaProcess(std::vector<std::string> options);
    // The port it listens on (0 when it did not say "listening").
    std::uint16_t port() const { return port_; }
    const std::string& firstLine() const { return firstLine_; }
    ChildProcess& process() { return child_; }

  private:
    ChildProcess child_;
    std::string firstLine_;
    std::uint16_t port_ = 0;
};

}  // namespace kyr::test
