// Opening FITS images: the console's own exports and files from other programs.
#include "common/format.h"
#include "console/console.h"
#include "files/fits_import.h"
#include "image/header_parse.h"
#include "image/stretch_contrast.h"

namespace kyr {

namespace {

// Image Information for a FITS file from elsewhere: what it is and how its values were taken,
// then its own header.
std::string fitsPanel(const FitsImage& fits, const std::string& name) {
    std::string text = "FITS Image" + std::string(kNewLine) + name + kNewLine;
    text += "Width =" + signedText(fits.width) + " Pixels" + kNewLine;
    text += "Height =" + signedText(fits.height) + " Pixels" + kNewLine;
    text += "BITPIX =" + signedText(fits.bitpix) + kNewLine;
    if (!fits.conversion.empty()) text += fits.conversion + kNewLine;
    if (fits.clipped > 0)
        text += std::to_string(fits.clipped) + " values outside 0..65535 clipped" + kNewLine;
    if (fits.undefined > 0)
        text += std::to_string(fits.undefined) + " undefined values shown as 0" + kNewLine;
    for (const std::string& card : fits.cards) text += card + kNewLine;
    return text;
}

}  // namespace

void Console::openFits() {
    const std::string name =
        showFileDialog(FileDialogMode::Open, FileDialogFilter::FitsAny, "Open FITS Image");
    if (name.empty()) {
        ui_.showMessage("No file was selected");
        return;
    }
    openFits(name);
}

void Console::openFits(const std::string& name) {
    FitsReadResult read = readFitsFile(name);
    if (!read.error.empty()) {
        // Nothing is taken over: the image, its header and the display stay as they were.
        ui_.showMessage(name + " cannot be opened: " + read.error + ".");
        events_->loadFailed(name);
        return;
    }
    FitsImage& fits = read.image;
    files.imageFileName = name;
    image.imageData = std::move(fits.pixels);
    image.imageWidth = static_cast<std::int16_t>(fits.width);
    image.imageHeight = static_cast<std::int16_t>(fits.height);
    image.fromForeignFits = !fits.ownExport;
    image.saturationLimit = fits.saturation;
    image.auxData.fill(0);
    track.trackSnapshotCount = 1;

    // The file's header values; the observer's note and optics stay where it has none.
    ImageHeader next = fits.header;
    const ImageHeader none;
    if (next.noteText == none.noteText) next.noteText = header.noteText;
    if (next.focalLength == none.focalLength && next.apertureArea == none.apertureArea &&
        next.apertureDiameter == none.apertureDiameter) {
        next.focalLength = header.focalLength;
        next.apertureArea = header.apertureArea;
        next.apertureDiameter = header.apertureDiameter;
        next.unitsMetric = header.unitsMetric;
        next.apertureFactorFlag = header.apertureFactorFlag;
    }
    next.mosaicType = 0;
    header = next;

    // A FITS file has no display settings of the console's: auto contrast for the stretch.
    const Contrast c = autoContrastFor(image.imageData, fits.width, fits.height, display.stretch);
    display.background = c.background;
    display.range = c.range;
    ui_.setHeaderText(fits.ownExport ? imageInformationPanel(header, c.background, c.range)
                                     : fitsPanel(fits, name));
    flat.showFlat = false;
    renderImage();
    events_->fileLoaded(name);
}

}  // namespace kyr
