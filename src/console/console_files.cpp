// The image files: the file dialog, loading, saving, automatic saving, bitmap export and the
// companion track-list and mosaic data files.
#include <filesystem>
#include <system_error>

#include "common/format.h"
#include "console/console.h"
#include "files/bmp.h"
#include "files/file_io.h"
#include "files/kyr_codec.h"
#include "files/track_list.h"

namespace kyr {

namespace {

constexpr int kAutoSaveLimit = 999;

}  // namespace

std::string Console::showFileDialog(FileDialogMode mode, FileDialogFilter filter,
                                    const std::string& title) {
    FileDialogRequest request;
    request.title = title;
    request.mode = mode;
    request.filter = fileDialogFilterText(filter);
    request.filterIndex = 2;
    request.flags = 4;
    return ui_.runFileDialog(request);
}

// ---------------------------------------------------------------- loading

void Console::loadImage() {
    const std::string name = showFileDialog(FileDialogMode::Open, FileDialogFilter::Kyr);
    if (name.empty()) {
        ui_.showMessage("No file was selected");
        return;
    }
    loadImage(name);
}

void Console::loadImage(const std::string& name) {
    files.imageFileName = name;
    if (name.find(".bmp") != std::string::npos) {
        ui_.showMessage("Program cannot read bitmap files");
        return;
    }

    const auto bytes = readWholeFile(name, kMaxReadableFileBytes);
    if (!bytes) {
        ui_.showMessage("Load file command failed");
        events_->loadFailed(name);
        return;
    }
    KyrLoadResult loaded = decodeKyrFile(*bytes, name + kNewLine, KyrDecodeMode::Image);
    switch (loaded.status) {
        case KyrLoadResult::TooWide:
            ui_.setHeaderText(loaded.panelText);
            ui_.showMessage("Image is too wide - not KYR Format!");
            events_->loadFailed(name);
            return;
        case KyrLoadResult::TooTall:
            ui_.setHeaderText(loaded.panelText);
            ui_.showMessage("Image is too tall - not KYR Format!");
            events_->loadFailed(name);
            return;
        case KyrLoadResult::Failed:
            // Nothing is taken over: the image, its size and header values stay as they were.
            ui_.showMessage("Load file command failed");
            events_->loadFailed(name);
            return;
        case KyrLoadResult::Ok:
            break;
    }

    // The whole load succeeded: take the values over together.
    const KyrFile& v = loaded.values;
    image.imageData = std::move(loaded.pixels);
    image.fromForeignFits = false;
    image.saturationLimit = 65535;
    image.imageWidth = *v.imageWidth;
    image.imageHeight = *v.imageHeight;
    files.loadCompressed = v.compressed;
    if (v.background) display.background = *v.background;
    if (v.range) display.range = *v.range;
    if (v.dateText) header.dateText = *v.dateText;
    if (v.timeText) header.timeText = *v.timeText;
    if (v.noteText) header.noteText = *v.noteText;
    if (v.hdrExposure) header.hdrExposure = *v.hdrExposure;
    if (v.hdrExposureCount) header.hdrExposureCount = *v.hdrExposureCount;
    if (v.hdrPedestal) header.hdrPedestal = *v.hdrPedestal;
    if (v.focalLength) header.focalLength = *v.focalLength;
    if (v.apertureArea) header.apertureArea = *v.apertureArea;
    if (v.temperature) header.temperature = *v.temperature;
    if (v.pixelSize) header.pixelSize = *v.pixelSize;
    if (v.hdrEgainRaw) header.hdrEgainRaw = *v.hdrEgainRaw;
    if (v.filterName) header.filterName = *v.filterName;
    if (v.historyText) header.historyText = *v.historyText;
    if (v.hdrSite) header.hdrSite = *v.hdrSite;
    if (v.readoutMode) header.readoutMode = *v.readoutMode;
    if (v.hdrYear) header.hdrYear = *v.hdrYear;
    // What a saved file cannot hold must not come from the image seen before: a loaded image
    // saved again gets its own sizes and exposure, no mosaic data and its own track list.
    header.hdrWidth = image.imageWidth;
    header.hdrHeight = image.imageHeight;
    header.exposureSeconds = header.hdrExposure / 100.0;
    header.mosaicType = 0;
    image.auxData.fill(0);
    ui_.setHeaderText(loaded.panelText);

    // A flat frame on display gives way to the image just loaded.
    flat.showFlat = false;
    renderImage();
    if (header.hdrExposureCount >= 2) {
        readTrackList();
        // The offsets read back are the extra data row the image came with.
        for (int j = 1; j <= std::min<int>(track.trackSnapshotCount, kMaxTrackSnapshots); ++j) {
            image.auxData[static_cast<std::size_t>(2 * j - 1)] =
                static_cast<std::uint16_t>(track.trackOffsetX[static_cast<std::size_t>(j)]);
            image.auxData[static_cast<std::size_t>(2 * j)] =
                static_cast<std::uint16_t>(track.trackOffsetY[static_cast<std::size_t>(j)]);
        }
    } else {
        track.trackSnapshotCount = 1;
    }
    events_->fileLoaded(name);
}

// ---------------------------------------------------------------- saving

void Console::saveImageAs() {
    files.autoSaveOn = false;
    const std::string name = showFileDialog(FileDialogMode::Save, FileDialogFilter::Kyr);
    if (name.empty()) {
        ui_.showMessage("No file name specified");
        return;
    }
    if (image.imageWidth == 0) {
        ui_.showMessage("No image data available to save");
        return;
    }
    if (image.fromForeignFits) {
        ui_.showMessage(kForeignFitsNotKyr);
        events_->fileRefused(FileKind::Image, name, FileRefusal::NoKyrHeader,
                             "a FITS file from elsewhere has no .KYR header");
        return;
    }
    files.saveBaseName = files.cut(name);
    showStatus("Saving " + files.saveBaseName + ".KYR");
    saveImageWithCompanions();
}

void Console::startAutoSave() {
    if (!chooseAutoSaveName("Receive and Automatically Save Images: Base Name")) return;
    if (fileExists(files.saveBaseName + "001.KYR")) {
        files.autoSaveOn = false;
        ui_.showMessage(std::string("autofilename") + "001.KYR" + " already exists!");
    } else {
        files.autoSaveOn = true;
        files.autoSaveNumber = 1;
    }
}

void Console::writeImageFile() {
    const bool saved = storeImageFile();
    // For images of several exposures the acknowledge follows the track list.
    if (!saved || header.hdrExposureCount == 1) acknowledgeSave(saved);
}

bool Console::storeImageFile() {
    std::string name;
    auto refuse = [this, &name](const std::string& status, FileRefusal why,
                                const std::string& reason) {
        showStatus(status, true);
        events_->fileRefused(FileKind::Image, name, why, reason);
        return false;
    };

    if (files.autoSaveOn) {
        const int number = files.autoSaveNumber;
        // The count stops growing past the limit instead of wrapping round to small numbers.
        if (files.autoSaveNumber <= kAutoSaveLimit) ++files.autoSaveNumber;
        if (number >= kAutoSaveLimit) {
            name = files.saveBaseName + zeroPadded(number, 3) + ".KYR";
            return refuse("999 file number limit reached!", FileRefusal::NumberLimit,
                          "999 file number limit reached");
        }
        name = files.saveBaseName + zeroPadded(number, 3) + ".KYR";
    } else {
        name = files.saveBaseName + ".KYR";
    }

    files.imageFileName = name;
    showStatus("Saving " + name, true);
    if (fileExists(name))
        return refuse(name + " already exists!", FileRefusal::Exists, "already exists");

    const auto bytes = encodeKyrFile(header, display.background, display.range, image.imageData,
                                     image.imageWidth, image.imageHeight);
    if (const std::string err = writeNewFile_(name, bytes); !err.empty())
        return refuse(name + " was not saved: " + err, FileRefusal::WriteFailed, err);
    showStatus(name + " saved", true);
    events_->fileWritten(FileKind::Image, name);
    return true;
}

void Console::exportBitmap() {
    const std::string chosen = showFileDialog(FileDialogMode::Save, FileDialogFilter::Bmp);
    if (chosen.empty()) {
        ui_.showMessage("No file name specified");
        return;
    }
    const std::string name = files.cut(chosen) + ".bmp";
    if (fileExists(name)) {
        ui_.showMessage("Bitmap File with same name already exists!");
        events_->fileRefused(FileKind::Bitmap, name, FileRefusal::Exists, "already exists");
        return;
    }
    if (const std::string err = writeNewFile(name, encodeBmp(display.picture)); !err.empty()) {
        showStatus(name + " was not saved: " + err);
        ui_.showMessage("Bitmap file " + name + " was not saved: " + err);
        events_->fileRefused(FileKind::Bitmap, name, FileRefusal::WriteFailed, err);
        return;
    }
    showStatus(name + " saved");
    events_->fileWritten(FileKind::Bitmap, name);
}

// ---------------------------------------------------------------- companion files

bool Console::storeCompanionFile(FileKind kind, const std::string& extension,
                                 const std::string& text) {
    const std::string name = files.cut(files.imageFileName) + extension;
    files.imageFileName = name;
    std::string failure, reason;
    FileRefusal why = FileRefusal::Exists;
    if (fileExists(name)) {
        failure = name + " already exists!";
        reason = "already exists";
    } else if (std::string err = writeNewFile_(name, bytesOf(text)); !err.empty()) {
        failure = name + " was not saved: " + err;
        why = FileRefusal::WriteFailed;
        reason = std::move(err);
    }
    if (!failure.empty()) {
        showStatus(failure, true);
        events_->fileRefused(kind, name, why, reason);
        return false;
    }
    showStatus(name + " saved", true);
    events_->fileWritten(kind, name);
    return true;
}

void Console::writeTrackList() {
    acknowledgeSave(
        storeCompanionFile(FileKind::TrackList, ".trk", trackListText(header, image.auxData)));
}

void Console::writeMosaicData() {
    acknowledgeSave(storeCompanionFile(FileKind::MosaicData, ".txt",
                                       mosaicDataText(header, image.auxData, image.imageData)));
}

bool Console::chooseAutoSaveName(const std::string& title) {
    const std::string name = showFileDialog(FileDialogMode::Save, FileDialogFilter::Kyr, title);
    if (name.empty()) {
        showStatus("No file was selected!");
        ui_.showMessage("No file was selected");
        files.autoSaveOn = false;
        return false;
    }
    files.saveBaseName = files.cut(name);
    showStatus(files.saveBaseName + " selected");
    return true;
}

void Console::readTrackList() {
    const std::string name = files.cut(files.imageFileName) + ".trk";
    files.imageFileName = name;
    TrackListRead read;
    if (const auto bytes = readWholeFile(name, kMaxReadableFileBytes))
        read = parseTrackList(std::string(bytes->begin(), bytes->end()));
    if (read.status != TrackListRead::Ok) {
        ui_.showMessage("No track file found for this track and accumulate image!");
        return;
    }
    if (read.count != header.hdrExposureCount) ui_.showMessage("Track File does not match image!");
    for (std::size_t j = 1; j <= static_cast<std::size_t>(read.count); ++j) {
        track.trackOffsetX[j] = read.offsets.trackOffsetX[j];
        track.trackOffsetY[j] = read.offsets.trackOffsetY[j];
    }
    track.trackSnapshotCount = static_cast<std::int16_t>(read.count);
}

}  // namespace kyr
