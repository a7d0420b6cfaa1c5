#pragma once
// The console's Ui on a terminal: file dialogs answered from the command line, prompts from
// options, messages and status texts on standard error, requested output on standard output.

#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/ui.h"

namespace kyr::cli {

class CliUi : public Ui {
  public:
    // `terminal`: standard error is a terminal, so progress may redraw one line there.
    CliUi(std::FILE* out, std::FILE* err, bool quiet, bool terminal);

    // ---- Ui
    void setStatusText(const std::string& text) override;
    void repaintStatus() override {}
    void setDisplayText(const std::string& text) override;
    void repaintDisplay() override {}
    void setHeaderText(const std::string& text) override { headerText_ = text; }
    void showPicture(const Picture&) override;
    void setMousePointer(MousePointer) override {}
    void setTurboFace(bool) override {}
    void setProgress(int value, int maximum) override;
    void showMessage(const std::string& text) override;
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
    // Requested output: standard output, always. CR LF line breaks become '\n'.
    void printOut(const std::string& text);
    // An error: standard error, always (but not again when it was shown as a status).
    void error(const std::string& text);
    // A note to the user: standard error unless quiet.
    void note(const std::string& text);

    // ---- what the console did, for the commands waiting on it
    // Called after every status, display, progress, picture and message.
    std::function<void()> onActivity;
    const std::vector<std::string>& statusHistory() const { return statusHistory_; }
    const std::vector<std::string>& messages() const { return messages_; }
    const std::vector<std::string>& displayHistory() const { return displayHistory_; }
    const std::string& headerText() const { return headerText_; }
    std::string lastStatus() const {
        return statusHistory_.empty() ? std::string() : statusHistory_.back();
    }
    int pictureCount() const { return pictureCount_; }
    int unansweredDialogs() const { return unansweredDialogs_; }
    // Counts every change that shows the operation moving on (a new status text, a new
    // progress value, a display text).
    long progressCount() const { return progressCount_; }

  private:
    void printErr(const std::string& line);
    void endProgressLine();
    bool isProgressStatus(const std::string& text) const;
    void activity();

    std::FILE* out_;
    std::FILE* err_;
    bool quiet_;
    bool terminal_;
    bool printDisplay_ = false;
    std::string progressLabel_ = "rows";
    bool progressLineShown_ = false;
    std::string lastPrintedStatus_;
    std::set<std::string> printedStatuses_;
    std::pair<int, int> progress_{0, 0};

    std::deque<std::string> files_;
    std::map<std::string, std::string> prompts_;
    std::optional<std::string> contrastBackground_, contrastRange_;

    std::vector<std::string> statusHistory_, messages_, displayHistory_;
    std::string headerText_;
    int pictureCount_ = 0;
    int unansweredDialogs_ = 0;
    long progressCount_ = 0;
};

// Console text with CR LF line breaks as '\n' lines.
std::string withNewlines(const std::string& text);

}  // namespace kyr::cli
