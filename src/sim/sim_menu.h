#pragma once
// The device's front panel as the simulator plays it: a small menu model that turns the
// sixteen key masks into changes of the 2 x 24 character display.

#include <cstdint>
#include <string>

namespace kyr::sim {

namespace keys {
inline constexpr std::uint16_t Focus = 0x0001, Image = 0x0002, Monitor = 0x0004, Turbo = 0x0008,
                               Parameter = 0x0010, Setup = 0x0020, Value = 0x0040,
                               Interrupt = 0x0080, Calibrate = 0x0100, Track = 0x0200,
                               Display = 0x0400, FileOps = 0x0800, Down = 0x1000, Up = 0x2000,
                               Right = 0x4000, Left = 0x8000;
}

inline constexpr int kDisplayColumns = 24;
inline constexpr int kSensorSetPoint = -1025;  // hundredths of a degree C
inline constexpr int kDisplayChars = 48;

// Two display lines of 24 characters each, padded or cut to fit.
std::string displayLines(const std::string& line1, const std::string& line2);

enum class Screen { Main, Parameter, Value, Mode, Restarting };

// The adjustable parameters, cycled by Parameter (and Left/Right), changed by Up/Down.
enum class Param { Exposure = 0, Gain, Threshold, Filter, Count };

class SimMenu {
  public:
    // Applies one key mask; returns true when it was a key the panel knows.
    bool press(std::uint16_t mask);
    // The current 48 display characters.
    std::string text() const;

    // Firmware restart: the display shows "KYR restarting..." until the next link request.
    void restart();
    // A link request: after a restart the panel comes back on its main screen.
    void linkRequested();
    // Idle sensor drift (hundredths of a degree) and one second of the clock.
    void idleTick(int temperatureStep);
    // A new screen image, as the Image key takes it, without leaving the current screen.
    void takeImage();

    Screen screen() const { return screen_; }
    const std::string& modeName() const { return mode_; }
    Param param() const { return param_; }
    int value(Param p) const { return values_[static_cast<int>(p)]; }
    bool turbo() const { return turbo_; }
    int frame() const { return frame_; }
    int temperatureHundredths() const { return temperature_; }
    int seconds() const { return seconds_; }

    static const char* paramName(Param p);
    std::string valueText(Param p) const;

  private:
    void setMode(const std::string& mode, const std::string& info);
    void step(int direction, bool big);

    Screen screen_ = Screen::Main;
    std::string mode_ = "Image";
    std::string modeTitle_, modeInfo_;
    Param param_ = Param::Exposure;
    int values_[static_cast<int>(Param::Count)] = {250, 1, 200, 2};
    bool turbo_ = false;
    int frame_ = 0;
    int temperature_ = kSensorSetPoint;
    int seconds_ = 0;
};

}  // namespace kyr::sim
