// Placeholder definitions: the image files' handlers land here.
#include "console/console.h"

namespace kyr {

std::string Console::showFileDialog(FileDialogMode, FileDialogFilter) { return {}; }
void Console::loadImageFile() {}
void Console::saveImageNow() {}
void Console::startAutoSave() {}
void Console::exportBitmap() {}
void Console::writeImageFile() {}
void Console::writeTrackList() {}
void Console::writeMosaicData() {}
void Console::readTrackList() {}

}  // namespace kyr
