// Flat-field correction of the image on display.
#include "console/console.h"
#include "image/flat_field.h"

namespace kyr {

std::string Console::loadFlatField() { return {}; }

void Console::mnuflatfield_Click() {
    if (loadFlatField().empty()) return;
    // After "Flat field unsuccessfully loaded" there is no frame to correct by.
    if (!flat.loaded) return;
    if (flat.flatHeight != image.imageHeight || flat.flatWidth != image.imageWidth) {
        ui_.showMessage("Flat field dimensions do not match image!");
        return;
    }
    showStatus("Calculating shifted and summed flat field", true);
    const FlatFieldResult r = correctFlatField(image.imageData, image.imageWidth, image.imageHeight,
                                               flat.flatData, header.hdrPedestal, track);
    if (!r.ok) {
        ui_.showMessage("Track offsets leave no area common to all snapshots - image not corrected");
        return;
    }
    image.imageWidth = static_cast<std::int16_t>(r.width());
    image.imageHeight = static_cast<std::int16_t>(r.height());
    showStatus("Done with flat field correction");
    flat.showFlat = false;
    mnuautocontrast_Click();
}

}  // namespace kyr
