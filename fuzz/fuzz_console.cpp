// Plays an arbitrary device against the console: line bytes in arbitrary chunks, with reply
// timer ticks and user actions in between. Nothing the device sends may crash the console.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "console/console.h"

using namespace kyr;

namespace {

class Port : public SerialPort {
public:
    std::vector<std::uint8_t> pending;
    void setCommPort(int) override {}
    int commPort() const override { return 1; }
    void setSettings(const std::string&) override {}
    std::string settings() const override { return "115200,N,8,2"; }
    void setInputLen(int) override {}
    void setInputMode(InputMode) override {}
    void setInBufferSize(int) override {}
    void setOutBufferSize(int) override {}
    void setPortOpen(bool o) override { open_ = o; }
    bool portOpen() const override { return open_; }
    void setRThreshold(int) override {}
    int commEvent() const override { return kCommEventReceive; }
    std::vector<std::uint8_t> input() override { return std::move(pending); }
    void output(std::span<const std::uint8_t>) override {}
    void setOnComm(CommHandler h) override { handler = std::move(h); }
    CommHandler handler;

private:
    bool open_ = false;
};

// Shows nothing and cancels every dialog (nothing is written to disk while fuzzing), but
// checks that every picture is whole.
class NullUi : public QuietUi {
public:
    void showPicture(const Picture& p) override {
        if (p.grey.size() != static_cast<std::size_t>(p.width * p.height)) __builtin_trap();
    }
};

class Timer : public ReplyTimer {
public:
    void setEnabled(bool) override {}
    bool enabled() const override { return true; }
    void setInterval(int) override {}
    int interval() const override { return 100; }
};

class NullClock : public Clock {
public:
    std::string dateText() override { return "1/1/2000"; }
    std::string timeText() override { return "0:00:00"; }
};

class NullScheduler : public Scheduler {
public:
    void callLater(int, std::function<void()>) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Port port;
    NullUi ui;
    Timer timer;
    NullClock clock;
    NullScheduler scheduler;
    Console con(port, ui, timer, clock, scheduler);
    con.start();
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t op = data[i++];
        switch (op & 7) {
            case 0: con.onReplyTimer(); break;
            case 1: con.downloadScreenImage(); break;
            case 2: con.pressKey(PanelKey::Interrupt); break;
            case 3: con.readOutPixelAt(static_cast<float>(op), static_cast<float>(op >> 1)); break;
            case 4: con.autoContrast(); break;
            default: {
                std::size_t n = (op >> 3) * 13u + 1u;
                if (n > size - i) n = size - i;
                port.pending.assign(data + i, data + i + n);
                i += n;
                port.handler();
                break;
            }
        }
        if (con.rx.rxCount < 0 || con.rx.rxCount > kRxBufferSize) __builtin_trap();
    }
    return 0;
}
