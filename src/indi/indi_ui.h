#pragma once
// The console's Ui in the INDI driver: what the console says goes to the device's INDI log
// (message boxes as errors), and its questions are answered from the driver's settings,
// set just before the driver calls the handler that asks.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "console/ui.h"

namespace kyr::indi {

class IndiUi : public QuietUi {
  public:
    enum class Level { Debug, Info, Error };
    using Log = std::function<void(Level, const std::string&)>;

    explicit IndiUi(Log log) : log_(std::move(log)) {}

    // ---- Ui
    void setStatusText(const std::string& text) override;
    // The display, the panel, the picture and progress reach INDI clients through the
    // console's events instead.
    void showMessage(const std::string& text) override;
    // A client connects again.
    std::string lostLineAdvice() const override { return ": connect again once the line is back"; }
    std::string prompt(const std::string& text, const std::string& title,
                       const std::string& defaultAnswer) override;
    std::string runFileDialog(const FileDialogRequest& request) override;

    // ---- answers, each used once
    void answerPrompt(const std::string& title, const std::string& answer) {
        prompts_[title] = answer;
    }
    void answerFileDialog(const std::string& name) { files_.push_back(name); }

    // Status texts at this level (Debug while the driver replays settings or works without
    // files, so that the log does not fill with texts about it).
    void setStatusLevel(Level level) { statusLevel_ = level; }
    Level statusLevel() const { return statusLevel_; }

  private:
    Log log_;
    Level statusLevel_ = Level::Info;
    std::string lastStatus_;
    std::map<std::string, std::string> prompts_;
    std::deque<std::string> files_;
};

// A status text or message on one log line: CR LF line breaks become "; ".
std::string logLine(const std::string& text);

// The level a console status text has in INDI's log whatever the driver's current level:
// the exchange's routine steps are debug, failures are errors; nullopt for the rest.
std::optional<IndiUi::Level> statusTextLevel(const std::string& text);

}  // namespace kyr::indi
