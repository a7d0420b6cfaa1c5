#include "cli/waiter.h"

#include <climits>
#include <cmath>

#include "cli/cli_platform.h"

namespace kyr::cli {

int Waiter::toMs(double seconds) {
    const double ms = std::ceil(seconds * 1000.0);
    if (!(ms > 0)) return 1;
    return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

void Waiter::finish(WaitEnd end) {
    if (loop_ == nullptr) return;
    result_ = end;
    QEventLoop* loop = loop_;
    loop_ = nullptr;  // decided: later pokes in this pass change nothing
    loop->quit();
}

WaitEnd Waiter::run(const CheckFn& check, bool stall, std::optional<double> deadlineSeconds) {
    switch (check()) {
        case Check::Done:
            return WaitEnd::Done;
        case Check::Failed:
            return WaitEnd::Failed;
        case Check::Pending:
            break;
    }
    if (interruptRequested()) return WaitEnd::Interrupted;

    QEventLoop loop;
    QTimer stallTimer, deadline, interruptPoll;
    stallTimer.setSingleShot(true);
    QObject::connect(&stallTimer, &QTimer::timeout, [this] { finish(WaitEnd::Stalled); });
    if (stall) stallTimer.start(stallMs_);
    if (deadlineSeconds) {
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [this] { finish(WaitEnd::Deadline); });
        deadline.start(toMs(*deadlineSeconds));
    }
    QObject::connect(&interruptPoll, &QTimer::timeout, [this] {
        if (interruptRequested()) finish(WaitEnd::Interrupted);
    });
    interruptPoll.start(100);

    loop_ = &loop;
    stallTimer_ = stall ? &stallTimer : nullptr;
    check_ = &check;
    lastProgress_ = progress_();
    result_ = WaitEnd::Done;
    loop.exec();
    loop_ = nullptr;
    stallTimer_ = nullptr;
    check_ = nullptr;
    return result_;
}

void Waiter::settle(int quietMs) {
    if (interruptRequested()) return;
    QEventLoop loop;
    QTimer quiet, limit;
    quiet.setSingleShot(true);
    limit.setSingleShot(true);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    quiet.start(quietMs);
    limit.start(stallMs_);
    quietTimer_ = &quiet;
    loop.exec();
    quietTimer_ = nullptr;
}

void Waiter::poke() {
    if (quietTimer_ != nullptr) quietTimer_->start();
    if (loop_ == nullptr || check_ == nullptr) return;
    if (stallTimer_ != nullptr && progress_() != lastProgress_) {
        lastProgress_ = progress_();
        stallTimer_->start();
    }
    switch ((*check_)()) {
        case Check::Done:
            finish(WaitEnd::Done);
            break;
        case Check::Failed:
            finish(WaitEnd::Failed);
            break;
        case Check::Pending:
            break;
    }
}

}  // namespace kyr::cli
