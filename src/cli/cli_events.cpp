#include "cli/cli_events.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "files/file_io.h"

namespace kyr::cli {

void CliEvents::happened() {
    ++seen_.events;
    if (onEvent) onEvent();
}

void CliEvents::lineFailure() {
    ui_.reportLastStatus();
    ++seen_.lineFailures;
    happened();
}

void CliEvents::fileFailure() {
    ui_.reportLastStatus();
    ++seen_.fileFailures;
    happened();
}

void CliEvents::written(const std::string& path) {
    ui_.note("wrote " + path);
    ++seen_.filesWritten;
    happened();
}

void CliEvents::linkEstablished() {
    seen_.linkUp = true;
    happened();
}

void CliEvents::portError(const std::string& reason) {
    // The port's own words, beside the console's status that reported the failure.
    if (!reason.empty()) ui_.error(reason);
    happened();
}

void CliEvents::acknowledged() {
    ++seen_.acknowledges;
    happened();
}

void CliEvents::commandRefused() {
    if (refusalFails)
        lineFailure();
    else
        happened();
}

void CliEvents::displayTextReceived(const std::string&, const std::string&) {
    ++seen_.displays;
    happened();
}

void CliEvents::headerRefused(int, const std::string& reason) {
    // Without a reason the header brought no image: the command says what that means.
    if (!reason.empty()) {
        lineFailure();
        return;
    }
    ++seen_.emptyHeaders;
    happened();
}

void CliEvents::imageComplete(int) {
    ++seen_.images;
    happened();
}

void CliEvents::downloadAllStarted(int images) {
    ui_.note("Download All: " + std::to_string(images) + (images == 1 ? " image" : " images") +
             " in the KYR's buffers");
    happened();
}

void CliEvents::buffersEmpty() {
    seen_.buffersEmpty = true;
    happened();
}

void CliEvents::downloadAllFinished(int count) {
    seen_.downloadAllOver = true;
    seen_.downloadAllImages = count;
    happened();
}

void CliEvents::fileWritten(FileKind, const std::string& path) {
    written(path);
}

void CliEvents::fileRefused(FileKind, const std::string&, FileRefusal, const std::string&) {
    fileFailure();
}

void CliEvents::fileLoaded(const std::string&) {
    ++seen_.loads;
    happened();
}

void CliEvents::loadFailed(const std::string& path) {
    // The console's message says that loading failed; the file system may say why.
    if (const std::string why = unreadableReason(path); !why.empty()) ui_.error(path + ": " + why);
    fileFailure();
}

void CliEvents::flatFieldCorrected() {
    seen_.flatCorrected = true;
    happened();
}

void CliEvents::uploadStarted() {
    seen_.uploadStarted = true;
    happened();
}

void CliEvents::uploadRefused(const std::string&) {
    // The console's message box, or the status of refused line settings, says why.
    ui_.reportLastStatus();
    happened();
}

void CliEvents::uploadDone() {
    seen_.uploadDone = true;
    happened();
}

void CliEvents::uploadLinkRequested() {
    seen_.uploadLinkRequested = true;
    happened();
}

void CliEvents::captureRecord(int) {
    ++seen_.records;
    if (recordsWanted > 0)
        ui_.setProgress(seen_.records, recordsWanted);
    else
        ui_.showCount(seen_.records);
    happened();
}

void CliEvents::captureFileWritten(const std::string& path) {
    written(path);
}

void CliEvents::captureFileFailed(const std::string&) {
    fileFailure();
}

std::string unreadableReason(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (st.type() == fs::file_type::not_found) return "no such file";
    if (ec) return ec.message();
    if (fs::is_directory(st)) return "a folder, not a file";
    if (!fs::is_regular_file(st)) return "not a regular file";
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > kMaxReadableFileBytes)
        return "larger than any image file (" + std::to_string(size) + " bytes)";
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return errno != 0 ? std::strerror(errno) : "it cannot be opened";
    std::fclose(f);
    return {};
}

}  // namespace kyr::cli
