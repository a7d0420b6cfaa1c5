#pragma once
// The console's reply timer and deferred calls on an Asio io_context: everything runs on the
// thread that runs it, as the receive events of AsioSerialPort do.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include "console/platform.h"

namespace kyr {

// A tick every interval while enabled; the tick calls what the shell wires to
// Console::onReplyTimer. A new interval on a running timer counts from the change.
class AsioReplyTimer : public ReplyTimer {
  public:
    explicit AsioReplyTimer(asio::io_context& io) : timer_(io) {}
    ~AsioReplyTimer() override;
    AsioReplyTimer(const AsioReplyTimer&) = delete;
    AsioReplyTimer& operator=(const AsioReplyTimer&) = delete;

    void setCallback(std::function<void()> onTick) { onTick_ = std::move(onTick); }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void setInterval(int ms) override;
    int interval() const override { return interval_; }

  private:
    void arm();

    asio::steady_timer timer_;
    std::function<void()> onTick_;
    bool enabled_ = false;
    int interval_ = 100;
    // Each arming has its own generation: an expiry already queued for an earlier one is
    // dropped.
    unsigned generation_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// Calls still pending when the scheduler goes are dropped.
class AsioScheduler : public Scheduler {
  public:
    explicit AsioScheduler(asio::io_context& io) : io_(io) {}
    ~AsioScheduler() override;
    AsioScheduler(const AsioScheduler&) = delete;
    AsioScheduler& operator=(const AsioScheduler&) = delete;

    void callLater(int ms, std::function<void()> fn) override;
    // Calls not yet made.
    std::size_t pending() const { return timers_.size(); }

  private:
    asio::io_context& io_;
    std::map<std::uint64_t, std::unique_ptr<asio::steady_timer>> timers_;
    std::uint64_t next_ = 0;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kyr
