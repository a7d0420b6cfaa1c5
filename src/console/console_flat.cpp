// Placeholder definitions: the flat-field correction lands here.
#include "console/console.h"

namespace kyr {

std::string Console::loadFlatField() { return {}; }
void Console::mnuflatfield_Click() {}

}  // namespace kyr
