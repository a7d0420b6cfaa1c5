// Placeholder definitions: the receive event, dispatcher, reply timer, keys and downloads.
#include "console/console.h"

namespace kyr {

void Console::MSComm1_OnComm() {}
void Console::entrytimer_Timer() {}
DispatchResult Console::dispatchPacket() { return DispatchResult::Continue; }
void Console::readBufferFlags() {}
void Console::cmdturbo_Click() {}
void Console::cmdparameter_Click() {}
void Console::cmdinterrupt_Click() {}
void Console::keyClick(std::uint16_t) {}
void Console::showDisplayText() {}
void Console::mnudownloadlight_Click() {}
void Console::mnuflashdownload_Click() {}
void Console::mnuabort_Click() {}

}  // namespace kyr
