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

CliUi::CliUi(std::FILE* out, std::FILE* err, Verbosity verbosity, bool terminal)
    : out_(out), err_(err), verbosity_(verbosity), terminal_(terminal) {}

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

void CliUi::drawProgress(const std::string& text) {
    if (verbosity_ == Verbosity::Quiet || !terminal_) return;
    std::fputs(("\r\033[K" + text).c_str(), err_);
    std::fflush(err_);
    progressLineShown_ = true;
}

void CliUi::setStatusText(const std::string& text) {
    lastStatus_ = text;
    lastStatusUnreported_ = true;
    if (verbosity_ == Verbosity::Verbose) {
        printErr(withNewlines(text));
        lastPrintedStatus_ = text;
    }
}

void CliUi::setDisplayText(const std::string& text) {
    if (!printDisplay_) return;
    endProgressLine();
    printOut(text + "\r\n");
}

void CliUi::setProgress(int value, int maximum) {
    if (progress_ == std::pair{value, maximum}) return;
    progress_ = {value, maximum};
    if (maximum > 0)
        drawProgress(progressLabel_ + " " + std::to_string(value) + "/" + std::to_string(maximum));
    else
        endProgressLine();
}

void CliUi::showCount(int value) {
    drawProgress(progressLabel_ + " " + std::to_string(value));
}

void CliUi::showMessage(const std::string& text) {
    messages_.push_back(text);
    lastStatusUnreported_ = false;  // the message box is the console's word on it
    error(text);
    if (onActivity) onActivity();
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
    // Just shown as a status line (--verbose): not twice.
    if (verbosity_ == Verbosity::Verbose && text == lastPrintedStatus_) return;
    printErr("kyrctl: " + withNewlines(text));
}

void CliUi::note(const std::string& text) {
    if (verbosity_ != Verbosity::Quiet) printErr(withNewlines(text));
}

void CliUi::reportLastStatus() {
    if (!lastStatusUnreported_) return;
    lastStatusUnreported_ = false;
    error(lastStatus_);
}

}  // namespace kyr::cli
