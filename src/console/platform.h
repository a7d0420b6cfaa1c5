#pragma once
// Timers and the clock, behind interfaces so that tests drive them by hand.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/picture.h"

namespace kyr {

// The reply timer. Its tick calls Console::onReplyTimer; the shell wires it.
class ReplyTimer {
public:
    virtual ~ReplyTimer() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool enabled() const = 0;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
};

// A reply timer that only holds its state: for front ends that never wait on the device
// (file commands) or tick it themselves.
class PlainReplyTimer : public ReplyTimer {
public:
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool enabled() const override { return enabled_; }
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }

private:
    bool enabled_ = false;
    int interval_ = 100;
};

// Host date and time as text, for the capture log, and a steady millisecond count for
// timing the device's answers.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::string dateText() = 0;  // the host's short date form
    virtual std::string timeText() = 0;  // the host's long time form
    // Milliseconds from an arbitrary start, never going back.
    virtual std::int64_t steadyMs();
};

// Deferred calls on the user-interface thread (the wait after a firmware upload).
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual void callLater(int ms, std::function<void()> fn) = 0;
};

// Drops every deferred call: for front ends whose work ends before one could run.
class NoScheduler : public Scheduler {
public:
    void callLater(int, std::function<void()>) override {}
};

// Image formats that need a toolkit's encoder (PNG). The shell hands one to the console;
// without it the export says it is not available.
class ImageEncoder {
public:
    virtual ~ImageEncoder() = default;
    // The whole PNG file of the picture as 8-bit grey (top row first); empty on failure.
    virtual std::vector<std::uint8_t> encodePng(const Picture& picture) = 0;
};

// The host clock through the C library's locale forms.
class SystemClock : public Clock {
public:
    std::string dateText() override;
    std::string timeText() override;
};

}  // namespace kyr
