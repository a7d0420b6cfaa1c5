#pragma once
// Test doubles for the console's platform interfaces. Each records what the console did
// and lets the test drive what the outside world does.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "console/platform.h"
#include "console/ui.h"
#include "link/serial_port.h"

namespace kyr::test {

using Bytes = std::vector<std::uint8_t>;

// What a fake recorded, in order. Its last entry reads as an empty value while nothing was
// recorded, so that a test expecting an entry fails instead of reading before the list.
template <class T>
struct Record : std::vector<T> {
    using std::vector<T>::vector;
    const T& back() const {
        static const T none{};
        return this->empty() ? none : std::vector<T>::back();
    }
};

class FakeSerialPort : public SerialPort {
public:
    // Ports that exist on this fake machine (COM1 by default).
    std::set<int> availablePorts{1};

    void setCommPort(int n) override { commPort_ = n; }
    int commPort() const override { return commPort_; }
    void setSettings(const std::string& s) override;
    std::string settings() const override { return settings_; }
    void setInputLen(int) override {}
    void setInputMode(InputMode) override {}
    void setInBufferSize(int n) override { inBufferSize = n; }
    void setOutBufferSize(int n) override { outBufferSize = n; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    bool networkLine() const override { return network; }
    bool network = false;  // behave as a tcp:// or rfc2217:// port
    void setRThreshold(int) override {}
    int commEvent() const override { return event_; }
    Bytes input() override;
    void output(std::span<const std::uint8_t> bytes) override;
    void setOnComm(CommHandler h) override { handler_ = std::move(h); }

    // Test side: bytes arrive from the device and the receive event fires.
    void receive(const Bytes& bytes);
    // Bytes arrive but no event is raised (they wait in the pending input).
    void queueInput(const Bytes& bytes) { pending_.insert(pending_.end(), bytes.begin(), bytes.end()); }
    // The device goes away: the port closes itself and a lost-device event fires.
    void loseDevice();

    // Every packet written, in order, and all bytes concatenated.
    Record<Bytes> writes;
    Bytes allWritten() const;
    Bytes lastWrite() const { return writes.empty() ? Bytes{} : writes.back(); }
    // Settings applied while open, in order (to check "applied at once").
    Record<std::string> settingsHistory;
    Record<int> openedPorts;
    int closeCount = 0;
    int inBufferSize = 0, outBufferSize = 0;
    // Called for every write (a test peer may answer from here).
    std::function<void(const Bytes&)> onWrite;

private:
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    bool open_ = false;
    int event_ = 0;
    Bytes pending_;
    CommHandler handler_;
};

class FakeUi : public Ui {
public:
    void setStatusText(const std::string& t) override { status = t; statusHistory.push_back(t); }
    void repaintStatus() override { repaintedStatus.push_back(status); }
    void setDisplayText(const std::string& t) override { display = t; displayHistory.push_back(t); }
    void repaintDisplay() override { ++displayRepaints; }
    void setHeaderText(const std::string& t) override { headerText = t; }
    void showPicture(const Picture& p) override { picture = p; ++pictureCount; }
    void setMousePointer(MousePointer p) override { pointer = p; ++pointerChanges; }
    void setTurboFace(bool on) override { turboGreen = on; }
    void setProgress(int value, int maximum) override { progress = {value, maximum}; }
    void showMessage(const std::string& t) override { messages.push_back(t); }
    std::string prompt(const std::string& text, const std::string& title,
                       const std::string& defaultAnswer) override;
    std::string runFileDialog(const FileDialogRequest& request) override;
    void showContrastDialog(std::string& background, std::string& range) override;

    std::string status, display, headerText;
    Record<std::string> statusHistory, displayHistory, repaintedStatus, messages;
    int displayRepaints = 0, pictureCount = 0, pointerChanges = 0;
    Picture picture;
    MousePointer pointer = MousePointer::Default;
    bool turboGreen = false;
    std::pair<int, int> progress{0, 0};

    // Scripted answers, taken in order; an empty queue answers "" (cancel).
    std::deque<std::string> fileAnswers, promptAnswers;
    struct PromptSeen { std::string text, title, defaultAnswer; };
    Record<PromptSeen> prompts;
    Record<FileDialogRequest> fileDialogs;
    // The contrast dialog: what the user types (nullopt leaves the box as shown).
    std::function<void(std::string&, std::string&)> contrastInput;
    Record<std::pair<std::string, std::string>> contrastShown;
};

class FakeReplyTimer : public ReplyTimer {
public:
    void setEnabled(bool e) override { enabled_ = e; ++restarts; }
    bool enabled() const override { return enabled_; }
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    int restarts = 0;

private:
    bool enabled_ = false;
    int interval_ = 100;
};

class FakeClock : public Clock {
public:
    std::string dateText() override { return date; }
    std::string timeText() override { return time; }
    std::int64_t steadyMs() override { return ms; }
    std::string date = "12/7/2026";
    std::int64_t ms = 0;
    std::string time = "9:15:00 PM";
};

class FakeScheduler : public Scheduler {
public:
    void callLater(int ms, std::function<void()> fn) override { calls.push_back({ms, std::move(fn)}); }
    // Runs every deferred call queued so far.
    void runAll();
    struct Call { int ms; std::function<void()> fn; };
    std::vector<Call> calls;
};

}  // namespace kyr::test
