#include "fakes/fakes.h"

#include "link/line_settings.h"

namespace kyr::test {

void FakeSerialPort::setSettings(const std::string& s) {
    if (!parseLineSettings(s)) throw SerialError("invalid settings " + s);
    settings_ = s;
    if (open_) settingsHistory.push_back(s);
}

void FakeSerialPort::setPortOpen(bool open) {
    if (open == open_) {
        if (open) throw SerialError("port already open");
        return;
    }
    if (open) {
        if (!availablePorts.count(commPort_)) throw SerialError("no such port");
        open_ = true;
        openedPorts.push_back(commPort_);
        settingsHistory.push_back(settings_);
    } else {
        open_ = false;
        ++closeCount;
        pending_.clear();
    }
}

Bytes FakeSerialPort::input() {
    Bytes b;
    b.swap(pending_);
    return b;
}

void FakeSerialPort::output(std::span<const std::uint8_t> bytes) {
    Bytes b(bytes.begin(), bytes.end());
    writes.push_back(b);
    if (onWrite) onWrite(b);
}

void FakeSerialPort::receive(const Bytes& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    event_ = kCommEventReceive;
    if (handler_) handler_();
}

void FakeSerialPort::loseDevice() {
    open_ = false;
    pending_.clear();
    event_ = kCommEventDeviceLost;
    if (handler_) handler_();
}

Bytes FakeSerialPort::allWritten() const {
    Bytes all;
    for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
    return all;
}

std::string FakeUi::prompt(const std::string& text, const std::string& title,
                           const std::string& defaultAnswer) {
    prompts.push_back({text, title, defaultAnswer});
    if (promptAnswers.empty()) return "";
    std::string a = promptAnswers.front();
    promptAnswers.pop_front();
    return a;
}

std::string FakeUi::runFileDialog(const FileDialogRequest& request) {
    fileDialogs.push_back(request);
    if (fileAnswers.empty()) return "";
    std::string a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
}

void FakeUi::showContrastDialog(std::string& background, std::string& range) {
    contrastShown.push_back({background, range});
    if (contrastInput) contrastInput(background, range);
}

void FakeScheduler::runAll() {
    auto pending = std::move(calls);
    calls.clear();
    for (auto& c : pending) c.fn();
}

}  // namespace kyr::test
