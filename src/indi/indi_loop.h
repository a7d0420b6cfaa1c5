#pragma once
// The console's timer, deferred calls and port watch on libindi's event loop (IEAddTimer,
// IEAddCallback): everything runs on the driver's one thread.

#include <functional>
#include <map>

#include "console/platform.h"
#include "indi/posix_serial_port.h"

namespace kyr::indi {

// The reply timer: a tick every interval while enabled.
class IndiReplyTimer : public ReplyTimer {
  public:
    IndiReplyTimer() = default;
    ~IndiReplyTimer() override;
    IndiReplyTimer(const IndiReplyTimer&) = delete;
    IndiReplyTimer& operator=(const IndiReplyTimer&) = delete;

    void setCallback(std::function<void()> tick) { tick_ = std::move(tick); }
    void setEnabled(bool enabled) override;
    bool enabled() const override { return enabled_; }
    void setInterval(int ms) override { interval_ = ms < 1 ? 1 : ms; }
    int interval() const override { return interval_; }

  private:
    static void fire(void* self);
    void arm();

    std::function<void()> tick_;
    bool enabled_ = false;
    int interval_ = 1000;
    int id_ = -1;
};

class IndiScheduler : public Scheduler {
  public:
    IndiScheduler() = default;
    ~IndiScheduler() override;
    IndiScheduler(const IndiScheduler&) = delete;
    IndiScheduler& operator=(const IndiScheduler&) = delete;

    void callLater(int ms, std::function<void()> fn) override;

  private:
    struct Call {
        IndiScheduler* owner;
        long key;
        int id;
        std::function<void()> fn;
    };
    static void fire(void* call);

    std::map<long, Call*> pending_;
    long nextKey_ = 0;
};

class IndiDescriptorWatch : public DescriptorWatch {
  public:
    IndiDescriptorWatch() = default;
    ~IndiDescriptorWatch() override { unwatch(); }
    IndiDescriptorWatch(const IndiDescriptorWatch&) = delete;
    IndiDescriptorWatch& operator=(const IndiDescriptorWatch&) = delete;

    void watch(int fd, std::function<void()> readable) override;
    void unwatch() override;

  private:
    static void fire(int fd, void* self);

    std::function<void()> readable_;
    int id_ = -1;
};

}  // namespace kyr::indi
