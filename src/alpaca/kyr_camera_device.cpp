#include "alpaca/kyr_camera_device.h"

#include <algorithm>
#include <cmath>

#include "common/version.h"

namespace kyr::alpaca {

namespace {

// The longest exposure a client may ask for: the KYR takes its own, set on its panel; the
// camera waits this long (and a margin) for its next image.
constexpr double kExposureMax = 3600;

std::chrono::system_clock::time_point fromUnixSeconds(double seconds) {
    return std::chrono::system_clock::time_point(
        std::chrono::round<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(seconds)));
}

}  // namespace

void KyrCameraDevice::LogUi::showMessage(const std::string& text) {
    if (log_) log_(text);
}

KyrCameraDevice::KyrCameraDevice(asio::io_context& io, KyrLineOptions options, Log log)
    : options_(std::move(options)),
      log_(std::move(log)),
      port_(io, options_.line),
      timer_(io),
      scheduler_(io),
      con_(port_, ui_, timer_, clock_, scheduler_),
      camera_(con_, scheduler_, clock_) {
    timer_.setCallback([this] { con_.onReplyTimer(); });
    camera_.setListener(&listener_);
    camera_.forwardConsoleEvents(&listener_);
    // Alpaca's start times are UTC: the computer's clock, not the KYR's.
    camera_.setDateSource(camera::DateSource::Computer);
}

KyrCameraDevice::~KyrCameraDevice() {
    camera_.setListener(nullptr);
    camera_.forwardConsoleEvents(nullptr);
    closeLine();
}

void KyrCameraDevice::say(const std::string& text) const {
    if (log_) log_(text);
}

CameraIdentity KyrCameraDevice::identity() const {
    return {"KYR", "KYR astronomical video camera and autoguider on " + options_.line,
            "kyr-alpaca, the KYR Remote Operation Console's Alpaca camera server",
            projectVersion()};
}

// ---------------------------------------------------------------- connection

void KyrCameraDevice::connect(Completion done) {
    if (linked_) return done({});
    if (connecting_) finishConnect({error::kInvalidOperation, "a new connection was asked for"});
    connecting_ = std::move(done);
    portError_.clear();
    // As the window does: the speed, then Establish Link (8N2), which opens the line.
    con_.setBaudRate(options_.baudCode);
    con_.establishLink(1);
    if (!port_.portOpen())
        return finishConnect(
            {error::kDriverError, "the KYR's line cannot be opened: " +
                                      (portError_.empty() ? options_.line : portError_)});
    linkRequests_ = 1;
    armLinkCheck();
}

void KyrCameraDevice::armLinkCheck() {
    // A network line's round trip is not the serial line's.
    const int ms =
        port_.networkLine() ? std::max<int>(1000, con_.link.replyTimeout) : con_.link.replyTimeout;
    const unsigned generation = ++linkCheck_;
    scheduler_.callLater(ms, [this, generation] {
        if (generation == linkCheck_) checkLink();
    });
}

void KyrCameraDevice::checkLink() {
    if (linked_ || !connecting_ || !port_.portOpen()) return;
    if (port_.opening()) return armLinkCheck();  // the request is still waiting to go out
    if (linkRequests_ >= options_.linkAttempts) {
        closeLine();
        return finishConnect(
            {error::kDriverError,
             "the KYR on " + options_.line + " did not answer the link request " +
                 std::to_string(linkRequests_) + " times: is it on, and is the line's speed " +
                 std::to_string(kSpeeds[static_cast<std::size_t>(options_.baudCode)].rate) +
                 " baud?"});
    }
    ++linkRequests_;
    con_.sendLinkRequest(1);
    armLinkCheck();
}

void KyrCameraDevice::finishConnect(AlpacaResult result) {
    if (!connecting_) return;
    Completion done = std::move(*connecting_);
    connecting_.reset();
    ++linkCheck_;
    if (!result.ok()) say(result.message);
    done(std::move(result));
}

void KyrCameraDevice::linkUp() {
    if (!connecting_) return;  // the device's own link request while linked
    linked_ = true;
    image_.reset();
    exposureError_.clear();
    say("linked to the KYR on " + options_.line);
    finishConnect({});
}

void KyrCameraDevice::linkDown() {
    const std::string why = port_.lastError().empty() ? "the line was closed" : port_.lastError();
    exposing_ = false;
    if (connecting_) {
        linked_ = false;
        return finishConnect({error::kDriverError, "the KYR's line cannot be opened: " + why});
    }
    if (linked_) say("the KYR's line was lost (" + why + "): connect again once it is back");
    linked_ = false;
}

void KyrCameraDevice::disconnect(Completion done) {
    finishConnect({error::kDriverError, "the connection was ended before the KYR answered"});
    camera_.abort();
    exposing_ = false;
    const bool was = linked_;
    linked_ = false;
    image_.reset();
    closeLine();
    if (was) say("the KYR's line is closed");
    done({});
}

void KyrCameraDevice::closeLine() {
    if (!port_.portOpen()) return;
    con_.sendLinkRequest(0);  // the link-off request, as on leaving the console
    port_.setPortOpen(false);
}

// ---------------------------------------------------------------- what the camera is

CameraCapabilities KyrCameraDevice::capabilities() const {
    CameraCapabilities c;
    c.sensorWidth = camera::kSensorWidth;
    c.sensorHeight = camera::kSensorHeight;
    c.maxAdu = 65535;
    c.maxBinX = c.maxBinY = camera::kMaxBin;
    c.canAsymmetricBin = true;
    c.canAbortExposure = true;
    c.canStopExposure = false;  // the KYR's exposure is its own: it cannot be cut short
    c.exposureMin = 0;
    c.exposureMax = kExposureMax;
    c.exposureResolution = 0.01;
    // What the KYR's headers say, once one has come.
    if (const auto last = camera_.lastImage()) {
        if (last->header.pixelSize > 0) {
            // Millimetres in the header; to a tenth of a micron, as the KYR states them.
            const double um =
                std::round(static_cast<double>(last->header.pixelSize) * 10000.0) / 10.0;
            c.pixelSizeX = c.pixelSizeY = um;
        }
        if (last->header.hdrEgainRaw > 0) c.electronsPerAdu = last->header.hdrEgainRaw / 100.0;
    }
    return c;
}

CameraState KyrCameraDevice::state() const {
    switch (camera_.state()) {
        case camera::CameraState::Waiting:
            return CameraState::Exposing;  // the KYR is taking the image waited for
        case camera::CameraState::Downloading:
            return CameraState::Download;
        case camera::CameraState::Error:
            return CameraState::Error;
        case camera::CameraState::Idle:
            break;
    }
    return CameraState::Idle;
}

std::optional<int> KyrCameraDevice::percentCompleted() const {
    if (camera_.busy()) return camera_.percentComplete();
    if (image_) return 100;
    return std::nullopt;
}

// ---------------------------------------------------------------- exposures

void KyrCameraDevice::startExposure(const ExposureRequest& request, Completion done) {
    const CameraFrame& f = request.frame;
    // Alpaca counts the sub-frame in binned pixels, the camera layer in the sensor's.
    if (!camera_.setBinning(f.binX, f.binY) ||
        !camera_.setFrame({f.startX * f.binX, f.startY * f.binY, f.numX * f.binX, f.numY * f.binY}))
        return done({error::kInvalidValue, "the sub-frame does not fit the KYR's image"});
    image_.reset();
    exposureError_.clear();
    requestedAt_ = std::chrono::system_clock::now();
    if (!camera_.expose(request.duration))
        return done({error::kNotConnected, "the KYR's line is not open: connect again"});
    exposing_ = true;
    done({});
}

void KyrCameraDevice::delivered(const camera::CameraImage& image) {
    // Images the device sends on its own are not this exposure's.
    if (!image.requested || !exposing_) return;
    exposing_ = false;
    auto out = std::make_shared<CameraImage>();
    out->width = image.width;
    out->height = image.height;
    out->pixels = image.pixels;
    image_ = std::move(out);
    LastExposure last;
    last.duration = image.exposureSeconds;
    last.start = image.dateObsSeconds ? fromUnixSeconds(*image.dateObsSeconds) : requestedAt_;
    last_ = last;
}

void KyrCameraDevice::failed(const std::string& reason) {
    exposing_ = false;
    exposureError_ = reason;
    say("the exposure failed: " + reason);
}

void KyrCameraDevice::abortExposure(Completion done) {
    camera_.abort();
    exposing_ = false;
    done({});
}

void KyrCameraDevice::stopExposure(Completion done) {
    done({error::kNotImplemented, "the KYR cannot cut its exposure short"});
}

}  // namespace kyr::alpaca
