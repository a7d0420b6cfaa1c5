#include "link/basic_serial_port.h"

namespace kyr {

void BasicSerialPort::setSettings(const std::string& settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed) throw SerialError("invalid line settings \"" + settings + "\"");
    applySettings(*parsed);
    settings_ = settings;
}

}  // namespace kyr
