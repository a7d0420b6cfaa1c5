#pragma once
// Waiting for the console's outcome on the event loop: a top-level QEventLoop in the command
// code (never inside a console handler), always bounded.

#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "cli/cli_ui.h"

namespace kyr::cli {

enum class Check { Pending, Done, Failed };

enum class WaitEnd {
    Done,         // the check said so
    Failed,       // the check said so; `failure` tells why
    Stalled,      // nothing moved for the stall time
    Deadline,     // the stated time is over
    Interrupted,  // Ctrl-C or a termination request
};

struct WaitResult {
    WaitEnd end = WaitEnd::Done;
    std::string failure;
};

class Waiter {
  public:
    using CheckFn = std::function<Check(std::string& failure)>;

    // stallSeconds: the longest time without progress (a new status text, progress value or
    // display text) before a wait ends as Stalled.
    Waiter(CliUi& ui, double stallSeconds) : ui_(ui), stallMs_(toMs(stallSeconds)) {}

    // Runs the event loop until `check` decides. With `stall` false only the deadline and an
    // interrupt end an undecided wait.
    WaitResult run(const CheckFn& check, bool stall = true,
                   std::optional<double> deadlineSeconds = std::nullopt);

    // Processes events until the line has been quiet for quietMs (at most the stall time).
    void settle(int quietMs);

    // Called after every handler the event loop ran for the console (a received chunk, a
    // timer tick, a deferred call): re-evaluates the check.
    void poke();

  private:
    static int toMs(double seconds);
    void finish(WaitEnd end, const std::string& failure = {});

    CliUi& ui_;
    int stallMs_;
    QEventLoop* loop_ = nullptr;
    QTimer* stallTimer_ = nullptr;
    QTimer* quietTimer_ = nullptr;
    const CheckFn* check_ = nullptr;
    long lastProgress_ = 0;
    WaitResult result_;
};

}  // namespace kyr::cli
