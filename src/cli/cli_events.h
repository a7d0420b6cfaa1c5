#pragma once
// kyrctl's ear on the console: counts what happened for the commands that wait on it, and
// prints the files written and the failures as they happen, each once.

#include <functional>
#include <string>

#include "cli/cli_ui.h"
#include "console/console_events.h"

namespace kyr::cli {

class CliEvents : public ConsoleEvents {
  public:
    explicit CliEvents(CliUi& ui) : ui_(ui) {}

    // Called after every event, so that a wait looks again.
    std::function<void()> onEvent;
    // A "did not understand" answer fails the command (keys); elsewhere it is only shown.
    bool refusalFails = false;
    // Records a capture should end after (0: no number, the records are counted).
    int recordsWanted = 0;

    struct Seen {
        long events = 0;       // every event: the operation moves on
        int lineFailures = 0;  // port, line settings, link lost, transfer, header refused
        int fileFailures = 0;  // a file not written or not loaded
        bool linkUp = false;
        int acknowledges = 0, displays = 0, records = 0, images = 0;
        int emptyHeaders = 0;  // headers that bring no image
        bool downloadAllOver = false, buffersEmpty = false;
        int downloadAllImages = 0;
        bool uploadStarted = false, uploadDone = false, uploadLinkRequested = false;
        int loads = 0, filesWritten = 0;
        bool flatCorrected = false;
    };
    const Seen& seen() const { return seen_; }

    // ---- ConsoleEvents
    void linkEstablished() override;
    void linkLost() override { lineFailure(); }
    void portOpenFailed(int) override { lineFailure(); }
    void lineSettingsRefused(const std::string&) override { lineFailure(); }
    void portError(const std::string& reason) override;
    void acknowledged() override;
    void commandRefused() override;
    void displayTextReceived(const std::string&, const std::string&) override;
    void headerRequested(int) override { happened(); }
    void headerAccepted(int, const ImageHeader&) override { happened(); }
    void headerRefused(int buffer, const std::string& reason) override;
    void rowReceived(int, int, int) override { happened(); }
    void imageComplete(int) override;
    void transferFailed() override { lineFailure(); }
    void downloadAllStarted(int images) override;
    void buffersEmpty() override;
    void downloadAllFinished(int count) override;
    void fileWritten(FileKind kind, const std::string& path) override;
    void fileRefused(FileKind kind, const std::string& path, FileRefusal why,
                     const std::string& reason) override;
    void fileLoaded(const std::string& path) override;
    void loadFailed(const std::string& path) override;
    void flatFieldCorrected() override;
    void uploadStarted() override;
    void uploadRefused(const std::string& message) override;
    void uploadProgress(int, int) override { happened(); }
    void uploadDone() override;
    void uploadLinkRequested() override;
    void captureRecord(int) override;
    void captureFileWritten(const std::string& path) override;
    void captureFileFailed(const std::string& path) override;

  private:
    void happened();
    void lineFailure();
    void fileFailure();
    void written(const std::string& path);

    CliUi& ui_;
    Seen seen_;
};

// Why a file cannot be read, as far as the file system tells ("" when it reads).
std::string unreadableReason(const std::string& path);

}  // namespace kyr::cli
