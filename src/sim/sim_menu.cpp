#include "sim/sim_menu.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kyr::sim {

namespace {

struct Range {
    int min, max, small, big;
};
constexpr Range kRanges[] = {
    {1, 60000, 10, 100},  // exposure in 1/100 s: 0.1 s steps, Turbo 1 s
    {1, 16, 1, 4},        // gain
    {0, 4095, 1, 64},     // guide threshold
    {0, 5, 1, 1},         // filter wheel position
};
const char* const kFilters[] = {"None", "Lunar", "Red", "Green", "Blue", "Clear"};

std::string fit(std::string s) {
    s.resize(kDisplayColumns, ' ');
    return s;
}

std::string hundredths(int v, const char* unit) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%d.%02d%s", v < 0 ? "-" : "", std::abs(v) / 100,
                  std::abs(v) % 100, unit);
    return buf;
}

// Hundredths shown to one decimal, cut toward zero ("-10.2").
std::string tenths(int v) {
    const int t = std::abs(v) / 10;
    return (v < 0 ? "-" : "") + std::to_string(t / 10) + "." + std::to_string(t % 10);
}

}  // namespace

std::string displayLines(const std::string& line1, const std::string& line2) {
    return fit(line1) + fit(line2);
}

const char* SimMenu::paramName(Param p) {
    switch (p) {
        case Param::Exposure:
            return "Exposure";
        case Param::Gain:
            return "Gain";
        case Param::Threshold:
            return "Threshold";
        case Param::Filter:
            return "Filter";
        case Param::Count:
            break;
    }
    return "?";
}

std::string SimMenu::valueText(Param p) const {
    const int v = value(p);
    switch (p) {
        case Param::Exposure:
            return hundredths(v, " s");
        case Param::Filter:
            return kFilters[std::clamp(v, 0, 5)];
        default:
            return std::to_string(v);
    }
}

void SimMenu::takeImage() {
    ++frame_;
    if (screen_ == Screen::Mode && modeTitle_ == "IMAGE")
        setMode("IMAGE", "Frame " + std::to_string(frame_) + " on screen");
}

void SimMenu::setMode(const std::string& title, const std::string& info) {
    screen_ = Screen::Mode;
    modeTitle_ = title;
    modeInfo_ = info;
}

void SimMenu::step(int direction, bool big) {
    const Range& r = kRanges[static_cast<int>(param_)];
    int& v = values_[static_cast<int>(param_)];
    v = std::clamp(v + direction * (big ? r.big : r.small), r.min, r.max);
    if (screen_ != Screen::Value) screen_ = Screen::Parameter;
}

bool SimMenu::press(std::uint16_t mask) {
    if (screen_ == Screen::Restarting) return true;  // the panel is dead until the link returns
    const bool big = (mask & keys::Turbo) != 0;
    const std::uint16_t key = static_cast<std::uint16_t>(mask & ~keys::Turbo);
    switch (key) {
        case 0:
            // The Turbo key alone: 0x0008 switches it on, 0x0000 off.
            turbo_ = big;
            return true;
        case keys::Focus:
            mode_ = "Focus";
            setMode("FOCUS", "Exp " + valueText(Param::Exposure));
            return true;
        case keys::Image:
            mode_ = "Image";
            takeImage();
            setMode("IMAGE", "Frame " + std::to_string(frame_) + " on screen");
            return true;
        case keys::Monitor:
            mode_ = "Monitor";
            setMode("MONITOR", "Continuous exposures");
            return true;
        case keys::Setup:
            setMode("SETUP", "Site 1  Units cm");
            return true;
        case keys::Calibrate:
            setMode("CALIBRATE", "Calibrating guider");
            return true;
        case keys::Track:
            setMode("TRACK", "Tracking guide star");
            return true;
        case keys::Display:
            setMode("DISPLAY", "Buffer 31 on screen");
            return true;
        case keys::FileOps:
            setMode("FILE OPS", "Select buffer");
            return true;
        case keys::Value:
            screen_ = Screen::Value;
            return true;
        case keys::Interrupt:
            screen_ = Screen::Main;
            return true;
        case keys::Parameter: {
            if (screen_ == Screen::Parameter) {
                param_ = static_cast<Param>((static_cast<int>(param_) + 1) %
                                            static_cast<int>(Param::Count));
            }
            screen_ = Screen::Parameter;
            return true;
        }
        case keys::Right:
        case keys::Left: {
            const int n = static_cast<int>(Param::Count);
            const int d = key == keys::Right ? 1 : n - 1;
            param_ = static_cast<Param>((static_cast<int>(param_) + d) % n);
            screen_ = Screen::Parameter;
            return true;
        }
        case keys::Up:
            step(+1, big);
            return true;
        case keys::Down:
            step(-1, big);
            return true;
        default:
            return false;
    }
}

std::string SimMenu::text() const {
    const std::string t = turbo_ ? "T" : " ";
    switch (screen_) {
        case Screen::Main: {
            std::string l1 = fit("KYR  Mode: " + mode_);
            l1.back() = t[0];
            return l1 +
                   fit("Exp " + valueText(Param::Exposure) + " CCD " + tenths(temperature_) + "C");
        }
        case Screen::Parameter: {
            std::string l1 = fit(std::string("Param: ") + paramName(param_));
            l1.back() = t[0];
            return l1 + fit("Value: " + valueText(param_));
        }
        case Screen::Value: {
            std::string l1 = fit(std::string("Set ") + paramName(param_));
            l1.back() = t[0];
            return l1 + fit("= " + valueText(param_) + "  Up/Down");
        }
        case Screen::Mode: {
            std::string l1 = fit(modeTitle_);
            l1.back() = t[0];
            return l1 + fit(modeInfo_);
        }
        case Screen::Restarting:
            return displayLines("KYR restarting...", "");
    }
    return displayLines("", "");
}

void SimMenu::restart() {
    *this = SimMenu{};
    screen_ = Screen::Restarting;
}

void SimMenu::linkRequested() {
    if (screen_ == Screen::Restarting) screen_ = Screen::Main;
}

void SimMenu::idleTick(int temperatureStep) {
    temperature_ = std::clamp(temperature_ + temperatureStep, -3000, 2000);
    ++seconds_;
}

}  // namespace kyr::sim
