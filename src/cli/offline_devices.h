#pragma once
// Stand-ins for the line, the timer and deferred calls while kyrctl works on files only.

#include <string>

#include "console/platform.h"
#include "console/ui.h"
#include "link/serial_port.h"

namespace kyr::cli {

// A port that is never open: the file commands send nothing.
class OfflinePort : public SerialPort {
  public:
    void setCommPort(int n) override { port_ = n; }
    int commPort() const override { return port_; }
    void setSettings(const std::string& s) override { settings_ = s; }
    std::string settings() const override { return settings_; }
    void setInputLen(int) override {}
    void setInputMode(InputMode) override {}
    void setInBufferSize(int) override {}
    void setOutBufferSize(int) override {}
    void setPortOpen(bool open) override {
        if (open) throw SerialError("kyrctl works offline for this command");
    }
    bool portOpen() const override { return false; }
    void setRThreshold(int) override {}
    int commEvent() const override { return kCommEventNone; }
    std::vector<std::uint8_t> input() override { return {}; }
    void output(std::span<const std::uint8_t>) override {}
    void setOnComm(CommHandler) override {}

  private:
    int port_ = 1;
    std::string settings_ = "115200,N,8,2";
};

class OfflineTimer : public ReplyTimer {
  public:
    void setEnabled(bool e) override { enabled_ = e; }
    bool enabled() const override { return enabled_; }
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }

  private:
    bool enabled_ = false;
    int interval_ = 100;
};

// Nothing the file commands do is deferred; a call would be dropped with the program.
class OfflineScheduler : public Scheduler {
  public:
    void callLater(int, std::function<void()>) override {}
};

// A Ui that shows nothing and answers the file dialog with one name: the console checks a
// file with its own rules before kyrctl goes on the line.
class SilentUi : public Ui {
  public:
    explicit SilentUi(std::string file) : file_(std::move(file)) {}
    void setStatusText(const std::string&) override {}
    void repaintStatus() override {}
    void setDisplayText(const std::string&) override {}
    void repaintDisplay() override {}
    void setHeaderText(const std::string&) override {}
    void showPicture(const Picture&) override {}
    void setMousePointer(MousePointer) override {}
    void setTurboFace(bool) override {}
    void setProgress(int, int) override {}
    void showMessage(const std::string&) override {}
    std::string prompt(const std::string&, const std::string&, const std::string&) override {
        return {};
    }
    std::string runFileDialog(const FileDialogRequest&) override { return file_; }
    void showContrastDialog(std::string&, std::string&) override {}

  private:
    std::string file_;
};

}  // namespace kyr::cli
