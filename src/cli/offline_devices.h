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

using OfflineTimer = PlainReplyTimer;
// Nothing the file commands do is deferred; a call would be dropped with the program.
using OfflineScheduler = NoScheduler;

// A Ui that shows nothing and answers the file dialog with one name: the console checks a
// file with its own rules before kyrctl goes on the line.
class SilentUi : public QuietUi {
  public:
    explicit SilentUi(std::string file) : file_(std::move(file)) {}
    std::string runFileDialog(const FileDialogRequest&) override { return file_; }

  private:
    std::string file_;
};

}  // namespace kyr::cli
