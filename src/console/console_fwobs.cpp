// Placeholder definitions: observation settings, capture log and firmware upload land here.
#include "console/console.h"

namespace kyr {

void Console::mnunote_Click() {}
void Console::mnufocallength_Click() {}
void Console::mnuaperturedia_Click() {}
void Console::mnuinches_Click() {}
void Console::mnucentimeters_Click() {}
void Console::mnuSetFileName_Click() {}
void Console::mnuStartCapture_Click() {}
void Console::mnuEndCapture_Click() {}
void Console::recordCapture(const std::string&) {}
void Console::rollCaptureFile() {}
void Console::endCaptureOnShutdown() {}
void Console::mnuUploadFile_Click() {}
void Console::fillPageBuffer() {}
void Console::uploadAcknowledged() {}
void Console::uploadTick() {}

}  // namespace kyr
