#pragma once
// The KYR as a camera, over one Console: what the INDI driver and the Alpaca server share.
//
// The KYR takes its own exposures (set and started on its panel) and keeps the last one as
// its screen image, so an exposure here is "the next image the KYR takes": the camera asks
// for the screen image's header, and only when its date and time differ from those of the
// image it delivered last does it fetch the rows (of the frame asked for, binned after the
// download). Otherwise it asks again about every second, up to the exposure asked for and a
// margin. An abort ends the transfer at once; an exposure asked for while one runs waits for
// it. Everything runs on the console's thread; waits are deferred calls on its Scheduler.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"

namespace kyr::camera {

// The screen image's size, the largest frame.
inline constexpr int kSensorWidth = 320;
inline constexpr int kSensorHeight = 200;
inline constexpr int kMaxBin = 4;

enum class CameraState {
    Idle,
    Waiting,      // for the KYR to take a new image
    Downloading,  // rows on the line (an exposure's, or an image the device sends itself)
    Error,        // the last exposure failed; the next one clears it
};

// A part of the screen image in its own pixels, (0, 0) at its first row and column.
struct Frame {
    int x = 0, y = 0;
    int width = kSensorWidth, height = kSensorHeight;
    bool operator==(const Frame&) const = default;
};

enum class DateSource {
    Kyr,       // DATE-OBS is the KYR's clock from the header
    Computer,  // the computer's UTC clock: when the header came, less the exposure
};

struct CameraImage {
    int width = 0, height = 0;  // after binning
    int binX = 1, binY = 1;
    Frame frame;                         // the screen image's pixels it covers
    std::vector<std::uint16_t> pixels;   // width x height, top row first
    ImageHeader header;                  // the KYR's record (its geometry is the frame's)
    int buffer = kScreenBuffer;          // 31: the screen image
    bool requested = true;               // false: the device sent it on its own, or Download All
    double exposureSeconds = 0;          // all frames summed
    double temperature = 0;              // degrees C
    std::string dateObs;                 // ISO 8601 by the chosen clock; "" when not known
    double mjdObs = 0;                   // of dateObs; 0 when not known
    std::optional<double> dateObsSeconds;  // dateObs in seconds since 1970-01-01T00:00:00
    std::string kyrDateObs;              // the KYR's own date and time, whatever the choice
};

// The computer's UTC clock in seconds since 1970-01-01T00:00:00Z.
double systemUtcSeconds();

// What a front end hears from the camera. The console's other events (the line, keys,
// display, Download All, files) reach it through Camera::forwardConsoleEvents.
class CameraListener {
  public:
    virtual ~CameraListener() = default;
    virtual void cameraStateChanged(CameraState /*state*/) {}
    // An exposure's image, or one the device sent itself (image.requested false).
    virtual void imageReady(const CameraImage& /*image*/) {}
    // The exposure asked for failed; `reason` is for the user.
    virtual void exposureFailed(const std::string& /*reason*/) {}
    virtual void downloadProgress(int /*rowsDone*/, int /*rows*/) {}
    // From every header the KYR sends.
    virtual void temperatureChanged(double /*celsius*/) {}
};

class Camera : private ConsoleEvents {
  public:
    // Takes the console's events sink; the console must outlive the camera. Waits are timed
    // by the clock's steady count.
    Camera(Console& console, Scheduler& scheduler, Clock& clock);
    ~Camera() override;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    void setListener(CameraListener* listener);
    // Every console event goes on to `events` after the camera has taken it (null: nowhere).
    void forwardConsoleEvents(ConsoleEvents* events);

    // The next new image of the KYR, of the frame and binning set now, waiting for it up to
    // `seconds` and the margin. False when the line is not open. While an exposure runs this
    // one is queued (a later one replaces it) and starts when the camera is free.
    bool expose(double seconds);
    // Ends the exposure, the queued one and whatever transfer runs; late answers are dropped.
    void abort();
    // False (and nothing changes) for a frame outside the screen image or a binning
    // outside 1..4.
    bool setFrame(const Frame& frame);
    bool setBinning(int x, int y);
    void setDateSource(DateSource source) { dateSource_ = source; }
    // Seconds beyond the exposure to wait for a new image (default 5).
    void setNewImageMargin(double seconds) { marginSeconds_ = seconds; }
    // Where the computer's UTC time comes from (tests give their own).
    void setUtcClock(std::function<double()> utcSeconds) { utcSeconds_ = std::move(utcSeconds); }

    CameraState state() const;
    bool busy() const { return phase_ != Phase::Idle || active_.has_value(); }
    // 0..100: rows fetched of the image on its way; 100 once an image was delivered.
    int percentComplete() const;
    const Frame& frame() const { return frame_; }
    int binX() const { return binX_; }
    int binY() const { return binY_; }
    DateSource dateSource() const { return dateSource_; }
    std::optional<double> temperature() const { return temperature_; }
    std::shared_ptr<const CameraImage> lastImage() const { return lastImage_; }

  private:
    struct Request {
        double seconds = 0;
        Frame frame;
        int binX = 1, binY = 1;
        std::int64_t startMs = 0;
    };
    enum class Phase {
        Idle,
        Asking,    // a header request of ours is out
        Pausing,   // the last header was not new: the next request is due
        Rows,      // our window's rows are on the line
        Foreign,   // a transfer the console runs for the device or Download All
    };

    void begin();
    void askHeader();
    void headerIsIn();
    void notNewYet();
    // The image the console holds, cut to `crop` (its own pixels), covering `covers` of the
    // screen image, binned as the request asks (none: as it is).
    void deliver(const Frame& crop, const Frame& covers, const Request* request);
    void fail(const std::string& reason);
    void foreignEnded();
    void finishExposure();
    // Runs `fn` from the event loop once the console's handler has returned.
    void later(int ms, void (Camera::*fn)());
    void notifyState();
    CameraImage makeImage(const Frame& crop, const Frame& covers, const Request* request) const;

    // ---- ConsoleEvents
    void linkEstablished() override;
    void linkLost() override;
    void linkRequested(int commPort) override;
    void portOpenFailed(int commPort) override;
    void lineSettingsRefused(const std::string& settings) override;
    void portError(const std::string& reason) override;
    void lineSettingsApplied(const std::string& settings) override;
    void acknowledged() override;
    void commandRefused() override;
    void displayTextReceived(const std::string& line1, const std::string& line2) override;
    void headerRequested(int buffer) override;
    void headerAccepted(int buffer, const ImageHeader& header) override;
    void headerRefused(int buffer, const std::string& reason) override;
    void rowReceived(int row, int rows, int deviceRow) override;
    void imageComplete(int buffer) override;
    void transferFailed() override;
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
    void uploadProgress(int page, int pages) override;
    void uploadDone() override;
    void uploadLinkRequested() override;
    void captureRecord(int recordNumber) override;
    void captureFileWritten(const std::string& path) override;
    void captureFileFailed(const std::string& path) override;

    Console& con_;
    Scheduler& scheduler_;
    Clock& clock_;
    std::function<double()> utcSeconds_ = systemUtcSeconds;
    CameraListener noListener_;
    CameraListener* listener_ = &noListener_;
    ConsoleEvents noEvents_;
    ConsoleEvents* forward_ = &noEvents_;
    // Deferred calls check it: none runs after the camera is gone, nor one that was
    // overtaken (the generation moved on).
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);

    Frame frame_;
    int binX_ = 1, binY_ = 1;
    DateSource dateSource_ = DateSource::Kyr;
    double marginSeconds_ = 5;

    Phase phase_ = Phase::Idle;
    std::optional<Request> active_, queued_;
    bool asking_ = false;  // our own header request is being sent
    bool failed_ = false;
    CameraState reported_ = CameraState::Idle;
    Frame screen_;  // the screen image's size, from the header just taken
    int screenFirstRow_ = 0, screenFirstColumn_ = 0;
    int rowsDone_ = 0, rows_ = 0;
    double headerUtc_ = 0;  // the computer's clock when the last header came
    std::optional<std::pair<std::string, std::string>> lastDelivered_;  // date, time
    std::optional<double> temperature_;
    std::shared_ptr<const CameraImage> lastImage_;
};

// The sum of each binX x binY block, saturating at 65535; the rows and columns that do not
// fill a block are left out.
std::vector<std::uint16_t> binPixels(const std::vector<std::uint16_t>& pixels, int width,
                                     int height, int binX, int binY);

}  // namespace kyr::camera
