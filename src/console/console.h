#pragma once
// The console: the form-level state and every procedure and handler of the main window,
// under their own names. It includes no toolkit header and reaches the world only through
// SerialPort, Ui, ReplyTimer, Clock and Scheduler.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "console/console_events.h"
#include "console/panel_key.h"
#include "console/platform.h"
#include "console/ui.h"
#include "files/file_dialog.h"
#include "files/file_io.h"
#include "files/file_naming.h"
#include "image/track_offsets.h"
#include "firmware/upload_state.h"
#include "image/display_settings.h"
#include "image/render.h"
#include "image/flat_field.h"
#include "image/image_store.h"
#include "image/download_state.h"
#include "image/image_header.h"
#include "link/link_state.h"
#include "link/protocol.h"
#include "link/rx_buffer.h"
#include "link/serial_port.h"
#include "observation/capture_state.h"

namespace kyr {

inline constexpr const char* kWindowTitle = "KYR Remote Operation Console Version 2.10";
inline constexpr const char* kNoPortMessage = "No COM port is open to KYR";
inline constexpr const char* kNewLine = "\r\n";
inline constexpr const char* kForeignFitsNotKyr =
    "This image was opened from a FITS file that this console did not write. It lacks the "
    "header a .KYR file needs (exposure, optics, date and the device's settings), so it cannot "
    "be saved in QUOR format. Export it as FITS or PNG instead.";

class Console {
public:
    Console(SerialPort& port, Ui& ui, ReplyTimer& timer, Clock& clock, Scheduler& scheduler);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // ---- start-up and shutdown
    void start();
    void shutdown();
    // File I/O > Exit.
    void quit() { shutdown(); }
    // The mouse over the window outside the picture: the default pointer again.
    void pointerLeftPicture();
    // Where the typed outcomes go (null: nowhere). Set before start.
    void setEvents(ConsoleEvents* events) { events_ = events ? events : &noEvents_; }
    ConsoleEvents& events() { return *events_; }
    // True once shutdown ran: the shell then ends the program.
    bool terminated() const { return terminated_; }

    // ---- serial link
    void onReceive();
    void onReplyTimer();
    void sendLinkRequest(std::uint8_t flag);
    // Link > Set Baud Rate: code 1..5 for 115200, 57600, 38400, 19200, 9600.
    void setBaudRate(int code);
    // Link > Establish Link (COMn).
    void establishLink(int n);

    // ---- command packets
    void sendKeypress(std::uint16_t mask);
    void sendCommand(int type);
    void sendCommand(HostPacket type);
    void sendDataPacket(std::uint8_t type, std::span<const std::uint8_t> data, int n);
    void sendHeaderRequest(int buffer);
    void sendRowRequest(int buffer);
    void sendSaveAck(int result);
    void sendLinkAccept();

    // ---- receive dispatcher
    DispatchResult dispatchPacket();
    void readBufferFlags();

    // ---- front-panel keys and display mirror
    // A click on one of the panel keys.
    void pressKey(PanelKey key);
    // The Turbo key: on and off in turn.
    void toggleTurbo();
    void showDisplayText();

    // ---- image download
    // Download > Download Screen Image / Download All / Abort Download All.
    void downloadScreenImage();
    void downloadAll();
    void abortDownloadAll();
    // For a camera on the console: the screen image's header alone (the transfer then waits
    // for downloadWindow or abortTransfer); rows firstRow.. and columns firstColumn.. of that
    // image, in device coordinates, cut to the image (the header record then describes the
    // window); the end of whatever transfer runs: nothing more is asked, late answers are
    // dropped and the device is told the transfer is over.
    void requestScreenHeader();
    void downloadWindow(int firstRow, int rows, int firstColumn, int columns);
    void abortTransfer();
    // The row decoders return false when the row's codes do not fit its payload (a bad row).
    bool decodeCompressedRow();
    bool decodeRawRow();
    void parseImageHeader();

    // ---- rendering, contrast, readout
    void renderImage();
    // Display > Adjust Contrast / Auto Contrast.
    void adjustContrast();
    void autoContrast();
    // "Auto Contrast (zscale)": background and range from the zscale limits.
    void autoContrastZscale();
    // The mouse over the picture: the pixel under it in the status line.
    void readOutPixelAt(float x, float y);

    // ---- flat field
    std::string loadFlatField();
    // Process > Flat Field.
    void applyFlatField();

    // ---- files
    std::string showFileDialog(FileDialogMode mode, FileDialogFilter filter,
                               const std::string& title = {});
    // File I/O > Load KYR Frame from Disk / Save / Receive and Automatically Save Images.
    void loadImage();
    // Loads the .KYR file `name` as the menu item does once a name is chosen (a recent
    // file, the command line).
    void loadImage(const std::string& name);
    // File I/O > Open FITS Image, and a FITS file by name: a 2-D image becomes the image on
    // display (read out, measured and exported like a downloaded one) with auto contrast for
    // the stretch in use; a file that cannot be opened changes nothing.
    void openFits();
    void openFits(const std::string& name);
    void saveImageAs();
    void startAutoSave();
    // File I/O > Save Displayed Image in Bitmap Format.
    void exportBitmap();
    void writeImageFile();
    void writeTrackList();
    void writeMosaicData();
    void readTrackList();
    // Exports of the image at its own size: the samples as FITS, the grey levels as PNG.
    void exportFits();
    void exportPng();
    // The image at its own size as a bitmap (kyrctl convert; the menu's bitmap is the area).
    void exportImageBitmap();
    // The PNG encoder of the shell (null: PNG export is not available).
    void setImageEncoder(ImageEncoder* encoder) { imageEncoder_ = encoder; }
    // How image and companion files are created (tests give a writer that fails).
    void setFileWriter(NewFileWriter writer) { writeNewFile_ = std::move(writer); }

    // ---- observation settings
    // Edit Data > Note / Focal Length / Aperture Diameter; Units > Inches / Centimeters.
    void enterNote();
    void enterFocalLength();
    void enterApertureDiameter();
    void useInches();
    void useCentimeters();

    // ---- capture log: Log Data > Capture 2x24 Text > Set Text File Name / Start / End
    void setCaptureFileName();
    void startCapture();
    void endCapture();
    void recordCapture(const std::string& logLine);
    void rollCaptureFile();
    // Shutdown while a capture runs: writes what is held, as End Data Capture would.
    void endCaptureOnShutdown();

    // ---- firmware upload
    // Upload > Upload New KYR Code at 115 KBaud.
    void uploadFirmware();
    void fillPageBuffer();
    // Called by the dispatcher for an acknowledge, and by the reply timer for a tick that did
    // not yet fail (ticks already counted), while uploadState is 1, 2 or 3.
    void uploadAcknowledged();
    void uploadTick();

    // ---- state, grouped by subsystem (public: the shells and the tests read it)
    LinkState link;
    RxBuffer rx;
    std::vector<std::uint8_t> txPacket;
    DownloadState download;
    ImageHeader header;
    ImageStore image;
    DisplaySettings display;
    FlatField flat;
    FileNaming files;
    TrackOffsets track;
    CaptureLog capture;
    FirmwareUpload upload;
    bool turboOn = false;

private:
    void keyClick(std::uint16_t mask);
    std::uint16_t arrowMask(std::uint16_t mask) const {
        return turboOn ? static_cast<std::uint16_t>(mask | key::Turbo) : mask;
    }
    // Auto Contrast by one rule (the description's, or zscale); nothing without an image.
    void applyAutoContrast(const std::function<Contrast(const PixelArray&, int, int)>& rule);
    void restartReplyTimer(int ms);
    void stopReplyTimer();
    void writePacket(const std::vector<std::uint8_t>& packet, bool testPortOpen);
    void showStatus(const std::string& text, bool repaint = false);
    void portLost();
    // The steps every export shares: image check, dialog, extension, never over a file.
    void exportImageFile(FileDialogFilter filter, FileKind fileKind, const std::string& kind,
                         std::initializer_list<const char*> extensions,
                         const std::function<std::vector<std::uint8_t>(std::string&)>& encode);

    // dispatcher steps by type
    void handleScreenImageOffer();
    void handleFlashDownloadNotice();
    void handleBufferReport();
    DispatchResult handleImageHeader();
    // A good header that was asked for alone.
    DispatchResult acceptHeaderOnly();
    // The row at the front into `row` of a window, cut from a whole row where the device
    // sent one.
    bool decodeWindowRow(bool raw, std::span<std::int16_t> row);
    void handleImageRow();
    void completeImage();
    // The image file, then its track list and mosaic data where the image has them.
    void saveImageWithCompanions();
    // The files themselves, without the device's acknowledge; false when refused.
    bool storeImageFile();
    bool storeCompanionFile(FileKind kind, const std::string& extension, const std::string& text);
    void acknowledgeSave(bool saved);
    // The save dialog for automatic saving (Download All, auto-save); false on cancel.
    bool chooseAutoSaveName(const std::string& title);
    void requestNextBuffer();
    // The lowest flagged buffer from `first` on becomes the next to fetch (Download All
    // goes on); with none flagged Download All is over.
    void takeFirstFlaggedBuffer(int first);
    // Forgets the remaining flagged buffers: the image in transfer is the last one.
    void endDownloadAll();
    // Tells the front ends that the Download All under way is over.
    void finishDownloadAll();
    void startHeaderRequest(int buffer);
    // Rows of the image the header record describes, from its first: the pixel array made
    // to its size and the first row asked for.
    void startRows();

    // ---- answers to repeated requests and the reply timer's intervals
    // The speed table's intervals; on a network line the round trip follows them as floors.
    void setReplyIntervals(int reply, int transfer);
    // The port just opened: a new line, nothing measured on it yet.
    void lineOpened();
    // Waits after a request, between the pieces of an answer, and for an upload's answer:
    // the speed table's on a local line, the measured round trip's on a network line.
    int replyInterval() const;
    int pieceInterval() const;
    int uploadInterval() const;
    // A request for the next header or row goes out: the timer waits for its first answer.
    void awaitFirstAnswer();
    // The request awaited goes again (a tick).
    void requestRepeated();
    // A good answer to the header or row awaited, still at the front of rxBuffer.
    void answerTaken();
    // A bad answer to the header or row awaited was dropped: it is asked for again.
    void repeatAfterBadAnswer();
    // A complete header or row nobody is waiting for: dropped, asking for nothing.
    void dropUnaskedAnswer();
    // The complete packet at the front is a copy of the last answer taken, still due from
    // a repeated request: true when it was dropped.
    bool dropCopyOfLastAnswer();

    ConsoleEvents noEvents_;
    ConsoleEvents* events_ = &noEvents_;
    SerialPort& port_;
    Ui& ui_;
    ReplyTimer& timer_;
    Clock& clock_;
    Scheduler& scheduler_;
    ImageEncoder* imageEncoder_ = nullptr;
    NewFileWriter writeNewFile_ = [](const std::filesystem::path& path,
                                     std::span<const std::uint8_t> bytes) {
        return writeNewFile(path, bytes);
    };
    bool terminated_ = false;
    int receiveDepth_ = 0;
    bool receivePending_ = false;
    bool lostPending_ = false;
};

}  // namespace kyr
