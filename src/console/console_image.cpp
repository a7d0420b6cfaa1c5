// Placeholder definitions: the image subsystem's handlers land here.
#include "console/console.h"

namespace kyr {

std::string imageHeaderProblem(std::span<const std::uint8_t> payload) {
    return payload.size() < 38 ? "Image header too short" : "";
}

bool Console::decodeCompressedRow() { return false; }
bool Console::decodeRawRow() { return false; }
void Console::parseImageHeader() {}
void Console::renderImage() {}
void Console::mnucontrast_Click() {}
void Console::mnuautocontrast_Click() {}
void Console::Picdata_MouseMove(float, float) {}

}  // namespace kyr
