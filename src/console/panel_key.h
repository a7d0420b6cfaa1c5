#pragma once
// The sixteen keys of the KYR's front panel. Turbo is not here: it is a toggle that the
// console keeps (Console::toggleTurbo) and adds to the arrow keys while it is on.

#include <array>
#include <cstdint>

namespace kyr {

enum class PanelKey {
    Focus,
    Image,
    Monitor,
    Parameter,
    Setup,
    Value,
    Interrupt,
    Calibrate,
    Track,
    Display,
    FileOps,
    Up,
    Down,
    Left,
    Right
};

// Key mask bits as the device reads them.
namespace key {
inline constexpr std::uint16_t Focus = 0x0001, Image = 0x0002, Monitor = 0x0004, Turbo = 0x0008,
                               Parameter = 0x0010, Setup = 0x0020, Value = 0x0040,
                               Interrupt = 0x0080, Calibrate = 0x0100, Track = 0x0200,
                               Display = 0x0400, FileOps = 0x0800, Down = 0x1000, Up = 0x2000,
                               Right = 0x4000, Left = 0x8000;
}

struct PanelKeyInfo {
    PanelKey key;
    std::uint16_t mask;
    const char* caption;  // as printed on the device's panel
};

inline constexpr std::array<PanelKeyInfo, 15> kPanelKeys{{
    {PanelKey::Focus, key::Focus, "Focus"},
    {PanelKey::Image, key::Image, "Image"},
    {PanelKey::Monitor, key::Monitor, "Monitor"},
    {PanelKey::Parameter, key::Parameter, "Parameter"},
    {PanelKey::Setup, key::Setup, "Setup"},
    {PanelKey::Value, key::Value, "Value"},
    {PanelKey::Interrupt, key::Interrupt, "Interrupt"},
    {PanelKey::Calibrate, key::Calibrate, "Calibrate"},
    {PanelKey::Track, key::Track, "Track"},
    {PanelKey::Display, key::Display, "Display"},
    {PanelKey::FileOps, key::FileOps, "File Ops"},
    {PanelKey::Up, key::Up, "Up"},
    {PanelKey::Down, key::Down, "Down"},
    {PanelKey::Left, key::Left, "Left"},
    {PanelKey::Right, key::Right, "Right"},
}};

constexpr const PanelKeyInfo& panelKeyInfo(PanelKey k) {
    return kPanelKeys[static_cast<std::size_t>(k)];
}

constexpr bool isArrowKey(PanelKey k) {
    return k == PanelKey::Up || k == PanelKey::Down || k == PanelKey::Left || k == PanelKey::Right;
}

}  // namespace kyr
