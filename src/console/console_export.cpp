// Exports of the image for other programs: the samples as FITS, the grey picture as PNG or
// bitmap. All at the image's own size and, like every writer of the console, never over a file.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "console/console.h"
#include "files/bmp.h"
#include "files/file_io.h"
#include "files/fits_export.h"
#include "files/image_export.h"

namespace kyr {

namespace {

// The chosen name, with the first of `known` added when it ends in none of them (any case).
std::string withExtension(const std::string& chosen, std::initializer_list<const char*> known) {
    std::string have = std::filesystem::path(chosen).extension().string();
    std::transform(have.begin(), have.end(), have.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* k : known)
        if (have == k) return chosen;
    return chosen + *known.begin();
}

}  // namespace

void Console::exportImageFile(
    FileDialogFilter filter, FileKind fileKind, const std::string& kind, std::initializer_list<const char*> extensions,
    const std::function<std::vector<std::uint8_t>(std::string&)>& encode) {
    if (image.imageWidth <= 0 || image.imageHeight <= 0) {
        ui_.showMessage("No image data available to export");
        return;
    }
    const std::string chosen = showFileDialog(FileDialogMode::Save, filter);
    if (chosen.empty()) {
        ui_.showMessage("No file name specified");
        return;
    }
    const std::string name = withExtension(chosen, extensions);
    if (fileExists(name)) {
        ui_.showMessage(kind + " File with same name already exists!");
        events_->fileRefused(fileKind, name, FileRefusal::Exists, "already exists");
        return;
    }
    showStatus("Saving " + name, true);
    std::string err;
    const std::vector<std::uint8_t> bytes = encode(err);
    if (err.empty()) err = writeNewFile(name, bytes);
    if (!err.empty()) {
        showStatus(name + " was not saved: " + err);
        ui_.showMessage(kind + " file " + name + " was not saved: " + err);
        events_->fileRefused(fileKind, name, FileRefusal::WriteFailed, err);
        return;
    }
    showStatus(name + " saved");
    events_->fileWritten(fileKind, name);
}

void Console::exportFits() {
    exportImageFile(
        FileDialogFilter::Fits, FileKind::Fits, "FITS", {".fits", ".fit", ".fts"}, [this](std::string& err) {
            FitsEncodeResult fits =
                encodeFits(header, image.imageData, image.imageWidth, image.imageHeight);
            err = fits.error;
            return std::move(fits.bytes);
        });
}

void Console::exportPng() {
    if (imageEncoder_ == nullptr) {
        ui_.showMessage("PNG export is not available");
        return;
    }
    exportImageFile(FileDialogFilter::Png, FileKind::Png, "PNG", {".png"}, [this](std::string& err) {
        auto png = imageEncoder_->encodePng(imagePicture(image.imageData, image.imageWidth,
                                                         image.imageHeight, display.background,
                                                         display.range, display.stretch));
        if (png.empty()) err = "the PNG encoder failed";
        return png;
    });
}

void Console::exportImageBitmap() {
    exportImageFile(FileDialogFilter::Bmp, FileKind::Bitmap, "Bitmap", {".bmp"}, [this](std::string&) {
        return encodeBmp(imagePicture(image.imageData, image.imageWidth, image.imageHeight,
                                      display.background, display.range));
    });
}

}  // namespace kyr
