#pragma once
// What happened, typed: the window, kyrctl and the INDI driver decide from these, never from
// the status texts the Ui shows. Every method has an empty default so that a front end
// listens only to what it needs. Events are emitted beside the status texts, after the
// console's own state is updated, from inside the console's handlers.

#include <string>

namespace kyr {

struct ImageHeader;

enum class FileKind { Image, TrackList, MosaicData, Bitmap, Fits, Png, Capture };

enum class FileRefusal {
    Exists,       // never written over
    WriteFailed,  // the folder is missing, the disk is full, ...
    NumberLimit,  // automatic numbering reached 999
    NoKyrHeader,  // the image came from a FITS file this console did not write
};

class ConsoleEvents {
  public:
    virtual ~ConsoleEvents() = default;

    // ---- the line
    // The device answered for the first time since start-up or Establish Link.
    virtual void linkEstablished() {}
    // An open line was lost (adapter unplugged, server gone); the port is closed.
    virtual void linkLost() {}
    // The link request went out on COMn (start-up or Establish Link); the link stands once
    // linkEstablished follows.
    virtual void linkRequested(int /*commPort*/) {}
    // Opening COMn failed (start-up or Establish Link).
    virtual void portOpenFailed(int /*commPort*/) {}
    // The port refused new line settings (a baud item or the upload's settings).
    virtual void lineSettingsRefused(const std::string& /*settings*/) {}
    // The port's own words for the failure just reported by portOpenFailed or
    // lineSettingsRefused ("rfc2217://host:3002: the server did not answer the telnet
    // negotiation within 3000 ms"); the status line keeps the console's text.
    virtual void portError(const std::string& /*reason*/) {}
    // The line settings now in force ("115200,N,8,2"), after start-up, a baud item,
    // Establish Link or the upload's switch.
    virtual void lineSettingsApplied(const std::string& /*settings*/) {}
    // An acknowledge outside an upload (a key, the link request).
    virtual void acknowledged() {}
    // The device did not understand the last command.
    virtual void commandRefused() {}
    // The two display lines as received (the host's 8-bit characters).
    virtual void displayTextReceived(const std::string& /*line1*/, const std::string& /*line2*/) {}

    // ---- image download
    // A header was requested for `buffer` (31 is the screen image).
    virtual void headerRequested(int /*buffer*/) {}
    // A good header: its rows follow.
    virtual void headerAccepted(int /*buffer*/, const ImageHeader& /*header*/) {}
    // A good header that brings no image (no rows) or one the console cannot hold; the
    // transfer ends. `reason` is empty for an empty image.
    virtual void headerRefused(int /*buffer*/, const std::string& /*reason*/) {}
    // Image row `row` (1 = first row of the header) of `rows` stored, in device row
    // `deviceRow`.
    virtual void rowReceived(int /*row*/, int /*rows*/, int /*deviceRow*/) {}
    // The image of `buffer` is complete (and saved when automatic saving is on).
    virtual void imageComplete(int /*buffer*/) {}
    // The fourth silent tick: "Communication Failed" (download or upload).
    virtual void transferFailed() {}

    // ---- Download All
    // The buffer report named `images` filled buffers; the first is being fetched.
    virtual void downloadAllStarted(int /*images*/) {}
    // The buffer report named no filled buffer.
    virtual void buffersEmpty() {}
    // Download All ended after `count` complete images (an abort, a refused save or the
    // last buffer).
    virtual void downloadAllFinished(int /*count*/) {}

    // ---- files
    virtual void fileWritten(FileKind /*kind*/, const std::string& /*path*/) {}
    virtual void fileRefused(FileKind /*kind*/, const std::string& /*path*/, FileRefusal /*why*/,
                             const std::string& /*reason*/) {}
    // An image was loaded from a file (Load KYR Frame from Disk).
    virtual void fileLoaded(const std::string& /*path*/) {}
    // Loading an image or a flat field failed; the console's message says so.
    virtual void loadFailed(const std::string& /*path*/) {}
    // The image was corrected by the flat field (and auto-contrasted).
    virtual void flatFieldCorrected() {}

    // ---- firmware upload
    // The file passed its checks and the upload started.
    virtual void uploadStarted() {}
    // The file or the line refused the upload before it began; the console's message says
    // why.
    virtual void uploadRefused(const std::string& /*message*/) {}
    virtual void uploadProgress(int /*page*/, int /*pages*/) {}
    // The final block was acknowledged; the link request follows after two seconds.
    virtual void uploadDone() {}
    // The link request after the upload's two seconds was sent.
    virtual void uploadLinkRequested() {}

    // ---- capture log
    virtual void captureRecord(int /*recordNumber*/) {}
    virtual void captureFileWritten(const std::string& /*path*/) {}
    virtual void captureFileFailed(const std::string& /*path*/) {}
};

}  // namespace kyr
