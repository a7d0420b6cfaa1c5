#include "cli/cli_ui.h"

namespace kyr::cli {

std::string withNewlines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

CliUi::CliUi(std::FILE* out, std::FILE* err, bool quiet, bool terminal)
    : out_(out), err_(err), quiet_(quiet), terminal_(terminal) {}

void CliUi::activity() {
    if (onActivity) onActivity();
}

bool CliUi::isProgressStatus(const std::string& text) const {
    // The texts an upload and a capture repeat for every page and record.
    return text.rfind(" PageNumber = ", 0) == 0 || text.rfind("Logging Record Number ", 0) == 0;
}

void CliUi::endProgressLine() {
    if (!progressLineShown_) return;
    std::fputs("\r\033[K", err_);
    progressLineShown_ = false;
}

void CliUi::printErr(const std::string& line) {
    endProgressLine();
    std::fputs(line.c_str(), err_);
    std::fputc('\n', err_);
    std::fflush(err_);
}

void CliUi::setStatusText(const std::string& text) {
    if (statusHistory_.empty() || statusHistory_.back() != text) ++progressCount_;
    statusHistory_.push_back(text);
    if (!quiet_) {
        if (isProgressStatus(text)) {
            if (terminal_) {
                std::string line = withNewlines(text);
                for (char& c : line)
                    if (c == '\n') c = ',';
                std::fputs(("\r\033[K" + line).c_str(), err_);
                std::fflush(err_);
                progressLineShown_ = true;
            }
        } else if (text != lastPrintedStatus_) {
            printErr(withNewlines(text));
            lastPrintedStatus_ = text;
            printedStatuses_.insert(text);
        }
    }
    activity();
}

void CliUi::setDisplayText(const std::string& text) {
    ++progressCount_;
    displayHistory_.push_back(text);
    if (printDisplay_) {
        endProgressLine();
        printOut(text + "\r\n");
    }
    activity();
}

void CliUi::showPicture(const Picture&) {
    ++pictureCount_;
    activity();
}

void CliUi::setProgress(int value, int maximum) {
    if (progress_ != std::pair{value, maximum}) ++progressCount_;
    progress_ = {value, maximum};
    if (!quiet_ && terminal_) {
        if (maximum > 0) {
            std::fprintf(err_, "\r\033[K%s %d/%d", progressLabel_.c_str(), value, maximum);
            std::fflush(err_);
            progressLineShown_ = true;
        } else {
            endProgressLine();
        }
    }
    activity();
}

void CliUi::showMessage(const std::string& text) {
    messages_.push_back(text);
    error(text);
    activity();
}

std::string CliUi::prompt(const std::string&, const std::string& title, const std::string&) {
    const auto it = prompts_.find(title);
    return it == prompts_.end() ? std::string() : it->second;
}

std::string CliUi::runFileDialog(const FileDialogRequest&) {
    if (files_.empty()) {
        ++unansweredDialogs_;
        return {};
    }
    std::string name = files_.front();
    files_.pop_front();
    return name;
}

void CliUi::showContrastDialog(std::string& background, std::string& range) {
    if (contrastBackground_) background = *contrastBackground_;
    if (contrastRange_) range = *contrastRange_;
}

void CliUi::printOut(const std::string& text) {
    const std::string t = withNewlines(text);
    std::fwrite(t.data(), 1, t.size(), out_);
    std::fflush(out_);
}

void CliUi::error(const std::string& text) {
    const std::string line = withNewlines(text);
    // Already on screen as a status line: not twice.
    if (!quiet_ && printedStatuses_.count(text) != 0) return;
    printErr("kyrctl: " + line);
}

void CliUi::note(const std::string& text) {
    if (!quiet_) printErr(withNewlines(text));
}

}  // namespace kyr::cli
