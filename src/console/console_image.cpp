// Placeholder definitions: the image subsystem's handlers land here.
#include "console/console.h"

namespace kyr {

bool Console::decodeCompressedRow() { return false; }
bool Console::decodeRawRow() { return false; }
void Console::parseImageHeader() {}
void Console::renderImage() {}
void Console::mnucontrast_Click() {}
void Console::mnuautocontrast_Click() {}
void Console::Picdata_MouseMove(float, float) {}

}  // namespace kyr
