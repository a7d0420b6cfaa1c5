#pragma once
// Timers and the clock of the console on Qt's event loop.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

#include "console/platform.h"

namespace kyr {

// The reply timer: its tick calls the function the shell wires to Console::onReplyTimer.
class QtReplyTimer : public ReplyTimer {
  public:
    QtReplyTimer();
    void setCallback(std::function<void()> onTick) { onTick_ = std::move(onTick); }

    void setEnabled(bool enabled) override;
    bool enabled() const override { return timer_.isActive(); }
    void setInterval(int ms) override;
    int interval() const override { return timer_.interval(); }

  private:
    QTimer timer_;
    std::function<void()> onTick_;
};

// Deferred calls on the GUI thread; calls still pending when the scheduler goes are dropped.
class QtScheduler : public Scheduler {
  public:
    void callLater(int ms, std::function<void()> fn) override;

  private:
    void callAt(std::chrono::steady_clock::time_point due, std::function<void()> fn);
    QObject context_;
};

// The host's short date and long time in the system locale.
class QtClock : public Clock {
  public:
    std::string dateText() override;
    std::string timeText() override;
};

}  // namespace kyr
