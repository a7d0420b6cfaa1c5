// The image subsystem's handlers: header, row decoding, rendering, contrast and readout.
// The arithmetic lives in the pure functions of src/image; these wrap them with state and Ui.
#include <algorithm>

#include "common/format.h"
#include "console/console.h"
#include "image/header_parse.h"
#include "image/readout.h"
#include "image/render.h"
#include "image/row_decode.h"
#include "image/stretch_contrast.h"
#include "image/zscale.h"

namespace kyr {

namespace {

bool isBlank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char ch) { return ch == ' ' || ch == '\t'; });
}

}  // namespace

void Console::parseImageHeader() {
    // The dispatcher has already refused headers the console cannot hold (imageHeaderProblem).
    if (parseImageHeaderPayload(rx.payloadBytes(), header.hdrHasFilterByte, header, display.background,
                                display.range)) {
        ui_.setHeaderText(imageInformationPanel(header, display.background, display.range));
    }
}

bool Console::decodeCompressedRow() {
    // The extra data row always comes uncompressed.
    if (download.currentRow == kAuxRow) return false;
    const auto row = image.imageData.row(download.currentRow - header.hdrFirstRow + 1);
    if (row.empty()) return false;
    if (download.window.active) return decodeWindowRow(false, row);
    return decodeCompressedRowPayload(rx.payloadBytes(), header.hdrWidth, row);
}

bool Console::decodeRawRow() {
    if (download.currentRow == kAuxRow) return decodeAuxRowPayload(rx.payloadBytes(), image.auxData);
    const auto row = image.imageData.row(download.currentRow - header.hdrFirstRow + 1);
    if (row.empty()) return false;
    if (download.window.active) return decodeWindowRow(true, row);
    return decodeRawRowPayload(rx.payloadBytes(), header.hdrWidth, row);
}

void Console::renderImage() {
    const bool useFlat = flat.showFlat;
    const PixelArray& src = useFlat ? flat.flatData : image.imageData;
    const int width = useFlat ? flat.flatWidth : image.imageWidth;
    const int height = useFlat ? flat.flatHeight : image.imageHeight;
    display.lut.update(display.background, display.range, display.stretch);
    RenderResult drawn = renderWholePicture(src, width, height, display.lut);
    display.picture = std::move(drawn.picture);
    display.displayOffsetX = drawn.displayOffsetX;
    display.displayOffsetY = drawn.displayOffsetY;
    display.imageShown = true;
    ui_.showPicture(display.picture);
    showStatus(contrastStatusText(display.background, display.range));
}

void Console::adjustContrast() {
    std::string backgroundText = signedText(display.background);
    std::string rangeText = signedText(display.range);
    ui_.showContrastDialog(backgroundText, rangeText);

    if (isBlank(backgroundText)) return;
    const auto background = parseContrastEntry(backgroundText);
    if (!background) {
        ui_.showMessage("Background must be a whole number");
        return;
    }
    if (isBlank(rangeText)) {
        display.background = *background;  // a background alone is kept without a redraw
        return;
    }
    // Both values are checked before either changes.
    const auto range = parseContrastEntry(rangeText);
    if (!range || *range == 0) {
        ui_.showMessage("Range must be a non-zero whole number");
        return;
    }
    display.background = *background;
    display.range = *range;
    renderImage();
}

void Console::autoContrast() {
    // Linear keeps the histogram rule; the curves put black at the sky instead.
    const Stretch stretch = display.stretch;
    applyAutoContrast([stretch](const PixelArray& img, int width, int height) {
        return autoContrastFor(img, width, height, stretch);
    });
}

void Console::autoContrastZscale() { applyAutoContrast(zscaleContrast); }

void Console::applyAutoContrast(
    const std::function<Contrast(const PixelArray&, int, int)>& rule) {
    if (image.imageWidth <= 0 || image.imageHeight <= 0) {
        showStatus("No image to adjust: download or load an image first");
        return;
    }
    const Contrast c = rule(image.imageData, image.imageWidth, image.imageHeight);
    display.background = c.background;
    display.range = c.range;
    renderImage();
}

void Console::readOutPixelAt(float x, float y) {
    const Readout r =
        pixelReadout(x, y, display.displayOffsetX, display.displayOffsetY, image.imageData,
                     image.imageWidth, image.imageHeight, display.imageShown);
    if (!r.changed) return;
    ui_.setMousePointer(r.pointer);
    if (!r.text.empty()) showStatus(r.text);
}

}  // namespace kyr
