#pragma once
// What every port implementation shares: the port number, the settings text, the event
// code and the receive handler. The options the console sets that no implementation needs
// (read length, input mode, buffer sizes, threshold) are accepted and have no effect.

#include <string>

#include "link/line_settings.h"
#include "link/serial_port.h"

namespace kyr {

class BasicSerialPort : public SerialPort {
public:
    void setCommPort(int n) override { commPort_ = n; }
    int commPort() const override { return commPort_; }
    // Validates the text and applies it (both throw SerialError); only then is it kept.
    void setSettings(const std::string& settings) override;
    std::string settings() const override { return settings_; }
    void setInputLen(int) override {}
    void setInputMode(InputMode) override {}
    void setInBufferSize(int) override {}
    void setOutBufferSize(int) override {}
    void setRThreshold(int) override {}
    int commEvent() const override { return event_; }
    void setOnComm(CommHandler handler) override { handler_ = std::move(handler); }

protected:
    // Puts valid settings into effect (on an open port at once); throws SerialError when the
    // line refuses them.
    virtual void applySettings(const LineSettings&) {}
    // The settings kept, parsed (they were validated when set).
    LineSettings lineSettings() const { return *parseLineSettings(settings_); }
    // Sets the event code and raises the receive event.
    void raise(int event) {
        event_ = event;
        if (handler_) handler_();
    }
    // No more events (an adapter that is going away).
    void dropHandler() { handler_ = nullptr; }

private:
    int commPort_ = 1;
    std::string settings_ = "9600,N,8,1";
    int event_ = kCommEventNone;
    CommHandler handler_;
};

}  // namespace kyr
