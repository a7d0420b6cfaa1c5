#pragma once
// indi_kyr_ccd: the KYR as an INDI camera. A shell over the same Console as the window and
// kyrctl, through the camera layer that the Alpaca server shares: exposures, abort, frame,
// binning and temperature are the camera's; the panel, Download All and the observer's
// settings are the console's. One thread: libindi's event loop (the base class writes each
// image on a thread of its own).

#include <indiccd.h>

#include <connectionplugins/connectionserial.h>
#include <connectionplugins/connectiontcp.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "console/console.h"
#include "console/console_events.h"
#include "files/fits_export.h"
#include "indi/indi_loop.h"
#include "indi/indi_ui.h"
#include "indi/network_serial.h"
#include "indi/posix_serial_port.h"

namespace kyr::indi {

class KyrCcd : public INDI::CCD, public ConsoleEvents, public camera::CameraListener {
  public:
    KyrCcd();
    ~KyrCcd() override;

    const char* getDefaultName() override { return "KYR CCD"; }
    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                     int n) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                     int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

  protected:
    bool Disconnect() override;
    bool StartExposure(float duration) override;
    bool AbortExposure() override;
    bool UpdateCCDFrame(int x, int y, int w, int h) override;
    bool UpdateCCDBin(int hor, int ver) override;
    void addFITSKeywords(INDI::CCDChip* targetChip) override;
    void UploadComplete(INDI::CCDChip* targetChip) override;
    bool saveConfigItems(FILE* fp) override;

    // ---- the camera's outcomes
    void imageReady(const camera::CameraImage& image) override;
    void exposureFailed(const std::string& reason) override;
    void downloadProgress(int rowsDone, int rows) override;
    void temperatureChanged(double celsius) override;

    // ---- the console's outcomes
    void linkEstablished() override { linkUp_ = true; }
    void linkLost() override;
    void portOpenFailed(int) override { openFailed_ = true; }
    void lineSettingsApplied(const std::string& settings) override;
    void acknowledged() override;
    void commandRefused() override;
    void displayTextReceived(const std::string& line1, const std::string& line2) override;
    void headerAccepted(int buffer, const ImageHeader& header) override;
    void headerRefused(int buffer, const std::string& reason) override;
    void transferFailed() override;
    void downloadAllStarted(int images) override;
    void buffersEmpty() override;
    void downloadAllFinished(int count) override;
    void captureFileFailed(const std::string& path) override;

  private:
    bool handshake(int fd, std::uint32_t baud,
                   PosixSerialPort::Wire wire = PosixSerialPort::Wire::Plain);
    void dropLostConnection();
    // The transfer under way ended (done, failed, refused or lost).
    void transferEnded(bool failed);
    void publishImage(const camera::CameraImage& image);
    // Called on the base class's writer thread once it holds the image (ccdBufferLock).
    void writerTookImage();
    void countDown(int rowsLeft);
    // CCD_FRAME and CCD_BINNING as the camera has them (publishing sets the chip's to the
    // image's).
    void showCameraGeometry();
    // The observer's settings, put into the console again (a header brings the device's).
    void applyObservation();
    // Automatic saving for Download All and auto download: a base name in the save folder
    // that no file starts with yet.
    std::string freshSaveBase() const;
    bool savingFiles() const { return !saveFolder().empty(); }
    std::string saveFolder() const;
    void startDownloadAll();
    void setAutoDownload(bool on);
    void armAutoSave();
    void startCapture();
    void stopCapture();
    void pressKey(int group, int index);
    void setTurbo(bool on);
    void quietFiles(bool quiet);

    IndiDescriptorWatch watch_;
    PosixSerialPort port_{watch_};
    IndiUi ui_;
    IndiReplyTimer timer_;
    IndiScheduler scheduler_;
    SystemClock clock_;
    Console con_;
    camera::Camera camera_;
    std::unique_ptr<NetworkSerial> serial_;
    std::unique_ptr<Connection::TCP> tcp_;

    // ---- the line and the transfer under way, as the events tell it
    bool linkUp_ = false;
    bool openFailed_ = false;
    int lineBaud_ = 115200;
    int bitsPerByte_ = 11;
    bool downloadAll_ = false;  // a Download All runs
    double requestedSeconds_ = 0;
    bool exposureNoteSaid_ = false;
    std::uint64_t bytesAtHeader_ = 0;
    int rowWidth_ = 320;
    int rowsSeen_ = 0;
    double lastCountdown_ = -1;  // the time left last sent
    bool quietFiles_ = false;
    bool autoSavePending_ = false;  // auto download was switched on during a transfer
    bool turbo_ = false;
    bool capturing_ = false;
    // The keywords of the image in the frame buffer (guarded by ccdBufferLock: the base class
    // writes the FITS on a thread of its own).
    std::vector<FitsCard> keywords_;
    std::mutex handoffMutex_;
    std::condition_variable handoff_;
    bool writerHasImage_ = true;  // the writer has taken the last image (or there was none)

    // ---- the "KYR" tab
    // The panel's keys in its groups (kKeyGroups), each a row of a few buttons.
    static constexpr int kKeyGroupCount = 6;
    ISwitch KeyS[kKeyGroupCount][4];
    ISwitchVectorProperty KeySP[kKeyGroupCount];
    ISwitch TurboS[2];
    ISwitchVectorProperty TurboSP;
    IText DisplayT[2]{};
    ITextVectorProperty DisplayTP;
    ISwitch DownloadAllS[2];
    ISwitchVectorProperty DownloadAllSP;
    ISwitch AutoDownloadS[2];
    ISwitchVectorProperty AutoDownloadSP;
    IText SaveT[1]{};
    ITextVectorProperty SaveTP;
    ISwitch UnitsS[2];
    ISwitchVectorProperty UnitsSP;
    INumber OpticsN[2];
    INumberVectorProperty OpticsNP;
    IText NoteT[1]{};
    ITextVectorProperty NoteTP;
    ISwitch CaptureS[2];
    ISwitchVectorProperty CaptureSP;
    ISwitch DateSourceS[2];
    ISwitchVectorProperty DateSourceSP;
};

// The host's 8-bit display bytes as UTF-8 text for XML (control bytes become '?').
std::string displayUtf8(const std::string& bytes);

}  // namespace kyr::indi
