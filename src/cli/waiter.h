#pragma once
// Waiting for the console's outcome on the event loop: a top-level QEventLoop in the command
// code (never inside a console handler), always bounded.

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <optional>

namespace kyr::cli {

enum class Check { Pending, Done, Failed };

enum class WaitEnd {
    Done,         // the check said so
    Failed,       // the check said so
    Stalled,      // nothing moved for the stall time
    Deadline,     // the stated time is over
    Interrupted,  // Ctrl-C or a termination request
};

class Waiter {
  public:
    using CheckFn = std::function<Check()>;

    // stallSeconds: the longest time without progress (a change of `progress`) before a wait
    // ends as Stalled.
    Waiter(double stallSeconds, std::function<long()> progress)
        : stallMs_(toMs(stallSeconds)), progress_(std::move(progress)) {}

    // Runs the event loop until `check` decides. With `stall` false only the deadline and an
    // interrupt end an undecided wait.
    WaitEnd run(const CheckFn& check, bool stall = true,
                std::optional<double> deadlineSeconds = std::nullopt);

    // Processes events until nothing has happened for quietMs (at most the stall time).
    void settle(int quietMs);

    // Called after everything the console reports: re-evaluates the check.
    void poke();

  private:
    static int toMs(double seconds);
    void finish(WaitEnd end);

    int stallMs_;
    std::function<long()> progress_;
    QEventLoop* loop_ = nullptr;
    QTimer* stallTimer_ = nullptr;
    QTimer* quietTimer_ = nullptr;
    const CheckFn* check_ = nullptr;
    long lastProgress_ = 0;
    WaitEnd result_ = WaitEnd::Done;
};

}  // namespace kyr::cli
