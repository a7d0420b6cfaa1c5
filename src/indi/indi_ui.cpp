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

namespace {

bool startsWith(const std::string& s, const char* part) { return s.rfind(part, 0) == 0; }
bool endsWith(const std::string& s, const std::string& part) {
    return s.size() >= part.size() && s.compare(s.size() - part.size(), part.size(), part) == 0;
}

}  // namespace

std::optional<IndiUi::Level> statusTextLevel(const std::string& text) {
    // The exchange's own steps, said for every key or image: for the debug log only.
    for (const char* step : {"Keypress acknowledged", "Keypress not acknowledged",
                             "Link not established", "Link not established!",
                             "Header data being received per host request",
                             "KYR is downloading current image"})
        if (text == step) return IndiUi::Level::Debug;
    if (startsWith(text, "Background = ")) return IndiUi::Level::Debug;  // each image drawn
    if (text == "Communication Failed" || text == "KYR did not understand command" ||
        text.find("connection lost") != std::string::npos || startsWith(text, "Unable to open") ||
        endsWith(text, " not available") || endsWith(text, " settings not applied"))
        return IndiUi::Level::Error;
    return std::nullopt;
}

void IndiUi::setStatusText(const std::string& text) {
    // Texts repeated while a packet arrives in pieces are logged once.
    if (text == lastStatus_) return;
    lastStatus_ = text;
    const auto level = statusTextLevel(text);
    // Errors are errors even while the driver keeps the rest quiet.
    const Level use = level == Level::Error ? Level::Error
                      : level                ? std::min(*level, statusLevel_)
                                             : statusLevel_;
    if (log_) log_(use, logLine(text));
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
