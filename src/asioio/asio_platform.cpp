#include "asioio/asio_platform.h"

#include <chrono>

namespace kyr {

AsioReplyTimer::~AsioReplyTimer() {
    alive_.reset();
    timer_.cancel();
}

void AsioReplyTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled)
        arm();
    else {
        ++generation_;
        timer_.cancel();
    }
}

void AsioReplyTimer::setInterval(int ms) {
    // A zero interval would tick on every pass of the event loop.
    interval_ = ms < 1 ? 1 : ms;
    if (enabled_) arm();
}

void AsioReplyTimer::arm() {
    const unsigned generation = ++generation_;
    timer_.expires_after(std::chrono::milliseconds(interval_));
    timer_.async_wait(
        [this, alive = std::weak_ptr<int>(alive_), generation](const std::error_code& ec) {
            if (ec || alive.expired() || generation != generation_ || !enabled_) return;
            // Armed again first: the tick may stop the timer or set a new interval.
            arm();
            if (onTick_) onTick_();
        });
}

AsioScheduler::~AsioScheduler() {
    alive_.reset();
    timers_.clear();  // each destroyed timer cancels its wait
}

void AsioScheduler::callLater(int ms, std::function<void()> fn) {
    const std::uint64_t id = next_++;
    auto timer = std::make_unique<asio::steady_timer>(io_);
    timer->expires_after(std::chrono::milliseconds(ms < 0 ? 0 : ms));
    timer->async_wait([this, alive = std::weak_ptr<int>(alive_), id,
                       fn = std::move(fn)](const std::error_code& ec) {
        if (ec || alive.expired()) return;
        timers_.erase(id);
        if (fn) fn();
    });
    timers_.emplace(id, std::move(timer));
}

}  // namespace kyr
