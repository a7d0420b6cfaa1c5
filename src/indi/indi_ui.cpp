#include "indi/indi_ui.h"

namespace kyr::indi {

std::string logLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "; ";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void IndiUi::setStatusText(const std::string& text) {
    // Texts repeated while a packet arrives in pieces are logged once.
    if (text == lastStatus_) return;
    lastStatus_ = text;
    if (log_) log_(statusLevel_, logLine(text));
}

void IndiUi::showMessage(const std::string& text) {
    lastStatus_.clear();
    if (log_) log_(Level::Error, logLine(text));
}

std::string IndiUi::prompt(const std::string&, const std::string& title, const std::string&) {
    const auto it = prompts_.find(title);
    if (it == prompts_.end()) return {};
    std::string answer = std::move(it->second);
    prompts_.erase(it);
    return answer;
}

std::string IndiUi::runFileDialog(const FileDialogRequest&) {
    if (files_.empty()) return {};
    std::string name = std::move(files_.front());
    files_.pop_front();
    return name;
}

}  // namespace kyr::indi
