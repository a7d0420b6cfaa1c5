#pragma once
// The console's Ui on a terminal: file dialogs answered from the command line, prompts from
// options, requested output on standard output; messages, and with --verbose the status
// texts, on standard error.

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "console/ui.h"

namespace kyr::cli {

enum class Verbosity {
    Quiet,    // errors and the requested output only
    Normal,   // also progress, the files written and the outcome
    Verbose,  // also every status text of the console, as it comes
};

class CliUi : public Ui {
  public:
    // `terminal`: standard error is a terminal, so progress may redraw one line there.
    CliUi(std::FILE* out, std::FILE* err, Verbosity verbosity, bool terminal);

    // ---- Ui
    void setStatusText(const std::string& text) override;
    void repaintStatus() override {}
    void setDisplayText(const std::string& text) override;
    void repaintDisplay() override {}
    void setHeaderText(const std::string& text) override { headerText_ = text; }
    void showPicture(const Picture&) override {}
    void setMousePointer(MousePointer) override {}
    void setTurboFace(bool) override {}
    void setProgress(int value, int maximum) override;
    void showMessage(const std::string& text) override;
    // kyrctl opens the line anew on its next run.
    std::string lostLineAdvice() const override {
        return ": run the command again once the line is back";
    }
    std::string prompt(const std::string& text, const std::string& title,
                       const std::string& defaultAnswer) override;
    std::string runFileDialog(const FileDialogRequest& request) override;
    void showContrastDialog(std::string& background, std::string& range) override;

    // ---- answers
    // The next file dialog returns this name (dialogs beyond the queue are cancelled).
    void queueFile(const std::string& name) { files_.push_back(name); }
    // The prompt with this title ("Note", "Focal Length", "Aperture Diameter") returns it.
    void setPromptAnswer(const std::string& title, const std::string& answer) {
        prompts_[title] = answer;
    }
    // What the contrast dialog's boxes hold when it is hidden (nullopt: as shown).
    void setContrastAnswers(std::optional<std::string> background,
                            std::optional<std::string> range) {
        contrastBackground_ = std::move(background);
        contrastRange_ = std::move(range);
    }

    // ---- output
    // Display texts go to standard output as they arrive.
    void setPrintDisplay(bool on) { printDisplay_ = on; }
    // Label of the progress line ("rows", "pages", "records").
    void setProgressLabel(const std::string& label) { progressLabel_ = label; }
    // A running count without a known end (records of a timed capture).
    void showCount(int value);
    // Requested output: standard output, always. CR LF line breaks become '\n'.
    void printOut(const std::string& text);
    // An error: standard error, always (but not again right after the same status line).
    void error(const std::string& text);
    // Progress, a file written, the outcome: standard error unless quiet.
    void note(const std::string& text);
    // The console has just told of a failure (an event says so): when its last word was a
    // status line, that line is the error, printed once; a message box is printed already.
    void reportLastStatus();

    // ---- what the console showed
    // Called after every message box.
    std::function<void()> onActivity;
    const std::vector<std::string>& messages() const { return messages_; }
    const std::string& headerText() const { return headerText_; }
    int unansweredDialogs() const { return unansweredDialogs_; }

  private:
    void printErr(const std::string& line);
    void drawProgress(const std::string& text);
    void endProgressLine();

    std::FILE* out_;
    std::FILE* err_;
    Verbosity verbosity_;
    bool terminal_;
    bool printDisplay_ = false;
    std::string progressLabel_ = "rows";
    bool progressLineShown_ = false;
    std::pair<int, int> progress_{0, 0};
    std::string lastStatus_;
    bool lastStatusUnreported_ = false;
    std::string lastPrintedStatus_;

    std::deque<std::string> files_;
    std::map<std::string, std::string> prompts_;
    std::optional<std::string> contrastBackground_, contrastRange_;

    std::vector<std::string> messages_;
    std::string headerText_;
    int unansweredDialogs_ = 0;
};

// Console text with CR LF line breaks as '\n' lines.
std::string withNewlines(const std::string& text);

}  // namespace kyr::cli
