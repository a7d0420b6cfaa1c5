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

// Front-panel key masks.
namespace key {
inline constexpr std::uint16_t Focus = 0x0001, Image = 0x0002, Monitor = 0x0004,
                               Turbo = 0x0008, Parameter = 0x0010, Setup = 0x0020,
                               Value = 0x0040, Interrupt = 0x0080, Calibrate = 0x0100,
                               Track = 0x0200, Display = 0x0400, FileOps = 0x0800,
                               Down = 0x1000, Up = 0x2000, Right = 0x4000, Left = 0x8000;
}

class Console {
public:
    Console(SerialPort& port, Ui& ui, ReplyTimer& timer, Clock& clock, Scheduler& scheduler);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // ---- start-up and shutdown
    void Form_Load();
    void Form_Unload();
    void mnuexit_Click() { Form_Unload(); }
    void Form_MouseMove();
    // Where the typed outcomes go (null: nowhere). Set before Form_Load.
    void setEvents(ConsoleEvents* events) { events_ = events ? events : &noEvents_; }
    ConsoleEvents& events() { return *events_; }
    // True once shutdown ran: the shell then ends the program.
    bool terminated() const { return terminated_; }

    // ---- serial link
    void MSComm1_OnComm();
    void entrytimer_Timer();
    void sendLinkRequest(std::uint8_t flag);
    void mnu9600_Click() { setBaudRate(5); }
    void mnu19200_Click() { setBaudRate(4); }
    void mnu38400_Click() { setBaudRate(3); }
    void mnu57600_Click() { setBaudRate(2); }
    void mnu115200_Click() { setBaudRate(1); }
    void mnuestablishlink1_Click() { establishLink(1); }
    void mnuestablishlink2_Click() { establishLink(2); }
    void mnuestablishlink3_Click() { establishLink(3); }
    void mnuestablishlink4_Click() { establishLink(4); }
    void mnuestablishlink5_Click() { establishLink(5); }
    void mnuestablishlink6_Click() { establishLink(6); }
    void setBaudRate(int code);
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
    void cmdfocus_Click() { keyClick(key::Focus); }
    void cmdimage_Click() { keyClick(key::Image); }
    void cmdmonitor_Click() { keyClick(key::Monitor); }
    void cmdturbo_Click();
    void cmdparameter_Click();
    void cmdsetup_Click() { keyClick(key::Setup); }
    void cmdvalue_Click() { keyClick(key::Value); }
    void cmdinterrupt_Click();
    void cmdcalibrate_Click() { keyClick(key::Calibrate); }
    void cmdtrack_Click() { keyClick(key::Track); }
    void cmddisplay_Click() { keyClick(key::Display); }
    void cmdfileops_Click() { keyClick(key::FileOps); }
    void cmddown_Click() { keyClick(arrowMask(key::Down)); }
    void cmdup_Click() { keyClick(arrowMask(key::Up)); }
    void cmdright_Click() { keyClick(arrowMask(key::Right)); }
    void cmdleft_Click() { keyClick(arrowMask(key::Left)); }
    void showDisplayText();

    // ---- image download
    void mnudownloadlight_Click();
    void mnuflashdownload_Click();
    void mnuabort_Click();
    // The row decoders return false when the row's codes do not fit its payload (a bad row).
    bool decodeCompressedRow();
    bool decodeRawRow();
    void parseImageHeader();

    // ---- rendering, contrast, readout
    void renderImage();
    void mnucontrast_Click();
    void mnuautocontrast_Click();
    // "Auto Contrast (zscale)": background and range from the zscale limits.
    void mnuautocontrastzscale_Click();
    void Picdata_MouseMove(float x, float y);

    // ---- flat field
    std::string loadFlatField();
    void mnuflatfield_Click();

    // ---- files
    std::string showFileDialog(FileDialogMode mode, FileDialogFilter filter);
    void mnuload_Click() { loadImageFile(); }
    void loadImageFile();
    void mnuCompSave_Click() { saveImageNow(); }
    void saveImageNow();
    void mnuautosave_Click() { startAutoSave(); }
    void startAutoSave();
    void mnubitmap_Click() { exportBitmap(); }
    void exportBitmap();
    void writeImageFile();
    void writeTrackList();
    void writeMosaicData();
    void readTrackList();
    // Exports of the image at its own size: the samples as FITS, the grey levels as PNG.
    void mnuexportfits_Click() { exportFits(); }
    void exportFits();
    void mnuexportpng_Click() { exportPng(); }
    void exportPng();
    // The image at its own size as a bitmap (kyrctl convert; the menu's bitmap is the area).
    void exportImageBitmap();
    // The PNG encoder of the shell (null: PNG export is not available).
    void setImageEncoder(ImageEncoder* encoder) { imageEncoder_ = encoder; }
    // How image and companion files are created (tests give a writer that fails).
    void setFileWriter(NewFileWriter writer) { writeNewFile_ = std::move(writer); }

    // ---- observation settings
    void mnunote_Click();
    void mnufocallength_Click();
    void mnuaperturedia_Click();
    void mnuinches_Click();
    void mnucentimeters_Click();

    // ---- capture log
    void mnuSetFileName_Click();
    void mnuStartCapture_Click();
    void mnuEndCapture_Click();
    void recordCapture(const std::string& logLine);
    void rollCaptureFile();
    // Shutdown while a capture runs: writes what is held, as End Data Capture would.
    void endCaptureOnShutdown();

    // ---- firmware upload
    void mnuUploadFile_Click();
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
    void applyAutoContrast(Contrast (*rule)(const PixelArray&, int, int));
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
    void handleImageRow();
    void completeImage();
    // The image file, then its track list and mosaic data where the image has them.
    void saveImageWithCompanions();
    // The files themselves, without the device's acknowledge; false when refused.
    bool storeImageFile();
    bool storeCompanionFile(FileKind kind, const std::string& extension, const std::string& text);
    void acknowledgeSave(bool saved);
    // The save dialog for automatic saving (Download All, auto-save); false on cancel.
    bool chooseAutoSaveName();
    void requestNextBuffer();
    // The lowest flagged buffer from `first` on becomes the next to fetch (Download All
    // goes on); with none flagged Download All is over.
    void takeFirstFlaggedBuffer(int first);
    // Forgets the remaining flagged buffers: the image in transfer is the last one.
    void endDownloadAll();
    // Tells the front ends that the Download All under way is over.
    void finishDownloadAll();
    void startHeaderRequest(int buffer);

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
