// Flat-field correction of the image on display.
#include "console/console.h"
#include "files/file_io.h"
#include "files/kyr_codec.h"
#include "image/flat_field.h"

namespace kyr {

std::string Console::loadFlatField() {
    flat.loaded = false;
    const std::string name = showFileDialog(FileDialogMode::Open, FileDialogFilter::Kyr);
    if (name.empty()) {
        ui_.showMessage("No file was selected");
        return name;
    }
    showStatus(name + " loaded");
    files.imageFileName = name;
    const auto bytes = readWholeFile(name, kMaxReadableFileBytes);
    if (!bytes) {
        ui_.showMessage("Flat field unsuccessfully loaded");
        events_->loadFailed(name);
        return name;
    }
    KyrLoadResult loaded = decodeKyrFile(*bytes, "", KyrDecodeMode::FlatField);
    switch (loaded.status) {
        case KyrLoadResult::TooWide:
            ui_.setHeaderText(loaded.panelText);
            ui_.showMessage("Image is too wide - not KYR Format!");
            events_->loadFailed(name);
            return name;
        case KyrLoadResult::TooTall:
            ui_.setHeaderText(loaded.panelText);
            ui_.showMessage("Image is too tall - not KYR Format!");
            events_->loadFailed(name);
            return name;
        case KyrLoadResult::Failed:
            ui_.showMessage("Flat field unsuccessfully loaded");
            events_->loadFailed(name);
            return name;
        case KyrLoadResult::Ok:
            break;
    }
    // Taken over only when the whole frame was read.
    const KyrFile& v = loaded.values;
    flat.flatData = std::move(loaded.pixels);
    flat.flatWidth = *v.imageWidth;
    flat.flatHeight = *v.imageHeight;
    if (v.background) display.background = *v.background;
    if (v.range) display.range = *v.range;
    files.loadCompressed = v.compressed;
    ui_.setHeaderText(loaded.panelText);
    flat.showFlat = true;
    flat.loaded = true;
    renderImage();
    return name;
}

void Console::applyFlatField() {
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
    autoContrast();
    events_->flatFieldCorrected();
}

}  // namespace kyr
