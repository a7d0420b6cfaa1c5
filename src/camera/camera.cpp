#include "camera/camera.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "camera/obs_time.h"

namespace kyr::camera {

namespace {

constexpr int kPollMs = 1000;

// The part of `f` inside `area` (both from the same origin); empty when they do not meet.
Frame clip(const Frame& f, const Frame& area) {
    const int left = std::clamp(f.x, area.x, area.x + area.width);
    const int top = std::clamp(f.y, area.y, area.y + area.height);
    const int right = std::clamp(f.x + f.width, left, area.x + area.width);
    const int bottom = std::clamp(f.y + f.height, top, area.y + area.height);
    return {left, top, right - left, bottom - top};
}

std::string wholeSeconds(double s) {
    return std::to_string(std::lround(std::max(0.0, s)));
}

}  // namespace

double systemUtcSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<std::uint16_t> binPixels(const std::vector<std::uint16_t>& pixels, int width,
                                     int height, int binX, int binY) {
    if (binX < 1 || binY < 1 || width < 1 || height < 1) return {};
    const int w = width / binX, h = height / binY;
    std::vector<std::uint16_t> out(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            std::uint32_t sum = 0;
            for (int dy = 0; dy < binY; ++dy)
                for (int dx = 0; dx < binX; ++dx)
                    sum += pixels[static_cast<std::size_t>(r * binY + dy) * static_cast<std::size_t>(width) +
                                  static_cast<std::size_t>(c * binX + dx)];
            out[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)] =
                static_cast<std::uint16_t>(std::min<std::uint32_t>(sum, 65535));
        }
    }
    return out;
}

// ---------------------------------------------------------------- set-up

Camera::Camera(Console& console, Scheduler& scheduler, Clock& clock)
    : con_(console), scheduler_(scheduler), clock_(clock) {
    con_.setEvents(this);
}

Camera::~Camera() {
    con_.setEvents(nullptr);
}

void Camera::setListener(CameraListener* listener) {
    listener_ = listener ? listener : &noListener_;
}

void Camera::forwardConsoleEvents(ConsoleEvents* events) {
    forward_ = events ? events : &noEvents_;
}

bool Camera::setFrame(const Frame& f) {
    if (f.x < 0 || f.y < 0 || f.width < 1 || f.height < 1 || f.x + f.width > kSensorWidth ||
        f.y + f.height > kSensorHeight)
        return false;
    frame_ = f;
    return true;
}

bool Camera::setBinning(int x, int y) {
    if (x < 1 || y < 1 || x > kMaxBin || y > kMaxBin) return false;
    binX_ = x;
    binY_ = y;
    return true;
}

// ---------------------------------------------------------------- state

CameraState Camera::state() const {
    switch (phase_) {
        case Phase::Asking:
        case Phase::Pausing:
            return CameraState::Waiting;
        case Phase::Rows:
        case Phase::Foreign:
            return CameraState::Downloading;
        case Phase::Idle:
            break;
    }
    if (active_) return CameraState::Waiting;  // about to ask
    return failed_ ? CameraState::Error : CameraState::Idle;
}

int Camera::percentComplete() const {
    if (phase_ == Phase::Rows || phase_ == Phase::Foreign)
        return rows_ > 0 ? 100 * rowsDone_ / rows_ : 0;
    if (phase_ == Phase::Idle && !active_ && lastImage_) return 100;
    return 0;
}

void Camera::notifyState() {
    const CameraState now = state();
    if (now == reported_) return;
    reported_ = now;
    listener_->cameraStateChanged(now);
}

void Camera::later(int ms, void (Camera::*fn)()) {
    const int generation = *generation_;
    std::weak_ptr<int> alive = generation_;
    scheduler_.callLater(ms, [this, alive, generation, fn] {
        const auto g = alive.lock();
        if (g && *g == generation) (this->*fn)();
    });
}

// ---------------------------------------------------------------- exposures

bool Camera::expose(double seconds) {
    if (!con_.link.portOpen) return false;
    Request r{std::max(0.0, seconds), frame_, binX_, binY_, clock_.steadyMs()};
    if (active_) {
        queued_ = r;
        return true;
    }
    active_ = r;
    failed_ = false;
    if (phase_ == Phase::Idle) begin();
    notifyState();
    return true;
}

void Camera::begin() {
    if (active_ && phase_ == Phase::Idle) askHeader();
}

void Camera::askHeader() {
    if (!con_.link.portOpen) {
        phase_ = Phase::Idle;
        fail(kNoPortMessage);
        return;
    }
    phase_ = Phase::Asking;
    asking_ = true;
    con_.requestScreenHeader();
    asking_ = false;
    notifyState();
}

void Camera::headerIsIn() {
    const ImageHeader& h = con_.header;
    screenFirstRow_ = h.hdrFirstRow;
    screenFirstColumn_ = h.hdrFirstColumn;
    screen_ = {0, 0, h.hdrWidth, h.hdrHeight};
    if (lastDelivered_ && lastDelivered_->first == h.dateText && lastDelivered_->second == h.timeText) {
        notNewYet();
        return;
    }
    // A new image: its rows, of the frame asked for as far as the image has them.
    const Frame f = clip(active_->frame, screen_);
    if (f.width < active_->binX || f.height < active_->binY) {
        con_.abortTransfer();
        phase_ = Phase::Idle;
        fail("The frame lies outside the KYR's image of " + std::to_string(screen_.width) + " x " +
             std::to_string(screen_.height) + " pixels");
        return;
    }
    phase_ = Phase::Rows;
    rowsDone_ = 0;
    rows_ = f.height;
    con_.downloadWindow(screenFirstRow_ + f.y, f.height, screenFirstColumn_ + f.x, f.width);
    notifyState();
}

void Camera::notNewYet() {
    // Each question is a transfer of its own, ended as every transfer is.
    con_.abortTransfer();
    const double waitSeconds = active_->seconds + marginSeconds_;
    const std::int64_t deadline =
        active_->startMs + static_cast<std::int64_t>(std::llround(waitSeconds * 1000.0));
    if (clock_.steadyMs() + kPollMs > deadline) {
        phase_ = Phase::Idle;
        fail("The KYR has taken no new image in " + wholeSeconds(waitSeconds) +
             " s: start an exposure on its panel, or press Image");
        return;
    }
    phase_ = Phase::Pausing;
    later(kPollMs, &Camera::askHeader);
    notifyState();
}

void Camera::fail(const std::string& reason) {
    ++*generation_;
    active_.reset();
    failed_ = true;
    listener_->exposureFailed(reason);
    finishExposure();
}

void Camera::finishExposure() {
    // The queued exposure starts once the console's handler has finished with the line.
    if (queued_ && !active_) {
        active_ = queued_;
        queued_.reset();
        active_->startMs = clock_.steadyMs();
        failed_ = false;
        if (phase_ == Phase::Idle) later(0, &Camera::begin);
    }
    notifyState();
}

void Camera::abort() {
    ++*generation_;
    active_.reset();
    queued_.reset();
    const bool onLine = phase_ != Phase::Idle;
    phase_ = Phase::Idle;
    failed_ = false;
    if (onLine) con_.abortTransfer();
    notifyState();
}

CameraImage Camera::makeImage(const Frame& crop, const Frame& covers, const Request* request) const {
    const ImageHeader& h = con_.header;
    const int binX = request ? request->binX : 1, binY = request ? request->binY : 1;
    CameraImage img;
    img.buffer = con_.download.imageBufferNumber;
    img.requested = request != nullptr;
    img.header = h;
    img.binX = binX;
    img.binY = binY;
    img.frame = covers;
    std::vector<std::uint16_t> px(static_cast<std::size_t>(crop.width) *
                                  static_cast<std::size_t>(crop.height));
    std::size_t i = 0;
    for (int r = 1; r <= crop.height; ++r)
        for (int c = 1; c <= crop.width; ++c)
            px[i++] = static_cast<std::uint16_t>(con_.image.imageData.sample(crop.x + c, crop.y + r));
    img.width = crop.width / binX;
    img.height = crop.height / binY;
    img.pixels = binX == 1 && binY == 1 ? std::move(px)
                                        : binPixels(px, crop.width, crop.height, binX, binY);
    img.exposureSeconds = h.exposureSeconds * std::max<int>(1, h.hdrExposureCount);
    img.temperature = h.temperature;
    if (const auto t = kyrTime(h.dateText, h.timeText)) img.kyrDateObs = isoText(*t, false);
    std::optional<CivilTime> start;
    if (dateSource_ == DateSource::Computer) {
        start = civilTime(headerUtc_ - img.exposureSeconds);
        img.dateObs = isoText(*start, true);
    } else if ((start = kyrTime(h.dateText, h.timeText))) {
        img.dateObs = img.kyrDateObs;
    }
    if (start) {
        img.mjdObs = modifiedJulianDate(*start);
        img.dateObsSeconds = secondsSinceEpoch(*start);
    }
    return img;
}

void Camera::deliver(const Frame& crop, const Frame& covers, const Request* request) {
    auto img = std::make_shared<CameraImage>(makeImage(crop, covers, request));
    if (img->buffer == kScreenBuffer)
        lastDelivered_ = std::make_pair(img->header.dateText, img->header.timeText);
    lastImage_ = img;
    listener_->imageReady(*img);
}

// ---------------------------------------------------------------- the console's events

void Camera::headerRequested(int buffer) {
    if (!asking_ && phase_ != Phase::Foreign) {
        // The device offers its image, or Download All goes on: our exposure waits for it.
        ++*generation_;
        phase_ = Phase::Foreign;
        rowsDone_ = rows_ = 0;
        notifyState();
    }
    forward_->headerRequested(buffer);
}

void Camera::headerAccepted(int buffer, const ImageHeader& header) {
    headerUtc_ = utcSeconds_();
    temperature_ = header.temperature;
    listener_->temperatureChanged(header.temperature);
    if (phase_ == Phase::Asking) {
        headerIsIn();
    } else if (phase_ == Phase::Foreign) {
        rowsDone_ = 0;
        rows_ = header.hdrHeight;
    }
    forward_->headerAccepted(buffer, header);
}

void Camera::headerRefused(int buffer, const std::string& reason) {
    if (phase_ == Phase::Asking) {
        if (reason.empty()) {
            notNewYet();  // no image on the screen yet
        } else {
            phase_ = Phase::Idle;
            fail(reason);
        }
    } else if (phase_ == Phase::Foreign) {
        foreignEnded();
    }
    forward_->headerRefused(buffer, reason);
}

void Camera::rowReceived(int row, int rows, int deviceRow) {
    if (phase_ == Phase::Rows || phase_ == Phase::Foreign) {
        rowsDone_ = row;
        rows_ = rows;
        listener_->downloadProgress(row, rows);
    }
    forward_->rowReceived(row, rows, deviceRow);
}

void Camera::imageComplete(int buffer) {
    const ImageHeader& h = con_.header;
    const Frame whole{0, 0, h.hdrWidth, h.hdrHeight};
    if (phase_ == Phase::Rows) {
        // Our window: the console holds just its pixels.
        phase_ = Phase::Idle;
        const Request r = *active_;
        active_.reset();
        deliver(whole,
                {h.hdrFirstColumn - screenFirstColumn_, h.hdrFirstRow - screenFirstRow_, h.hdrWidth,
                 h.hdrHeight},
                &r);
        finishExposure();
    } else if (phase_ == Phase::Foreign) {
        const bool fresh = !lastDelivered_ || lastDelivered_->first != h.dateText ||
                           lastDelivered_->second != h.timeText;
        const Frame crop = active_ ? clip(active_->frame, whole) : Frame{};
        if (buffer == kScreenBuffer && active_ && fresh && crop.width >= active_->binX &&
            crop.height >= active_->binY) {
            // The new image the exposure waits for, sent by the device itself.
            const Request r = *active_;
            active_.reset();
            deliver(crop, crop, &r);
            finishExposure();
        } else {
            deliver(whole, whole, nullptr);
        }
        if (!con_.download.downloadAllActive) foreignEnded();
    }
    forward_->imageComplete(buffer);
}

void Camera::foreignEnded() {
    phase_ = Phase::Idle;
    if (active_) later(0, &Camera::begin);
    notifyState();
}

void Camera::transferFailed() {
    if (phase_ == Phase::Asking || phase_ == Phase::Rows) {
        phase_ = Phase::Idle;
        fail("Communication Failed");
    } else if (phase_ == Phase::Foreign) {
        foreignEnded();
    }
    forward_->transferFailed();
}

void Camera::linkLost() {
    const bool exposing = active_.has_value();
    ++*generation_;
    phase_ = Phase::Idle;
    queued_.reset();
    if (exposing) fail("The KYR's line was lost");
    notifyState();
    forward_->linkLost();
}

void Camera::downloadAllStarted(int images) { forward_->downloadAllStarted(images); }

void Camera::buffersEmpty() {
    if (phase_ == Phase::Foreign) foreignEnded();
    forward_->buffersEmpty();
}

void Camera::downloadAllFinished(int count) {
    if (phase_ == Phase::Foreign) foreignEnded();
    forward_->downloadAllFinished(count);
}

// ---------------------------------------------------------------- passed on as they come

void Camera::linkEstablished() { forward_->linkEstablished(); }
void Camera::linkRequested(int commPort) { forward_->linkRequested(commPort); }
void Camera::portOpenFailed(int commPort) { forward_->portOpenFailed(commPort); }
void Camera::lineSettingsRefused(const std::string& s) { forward_->lineSettingsRefused(s); }
void Camera::portError(const std::string& reason) { forward_->portError(reason); }
void Camera::lineSettingsApplied(const std::string& s) { forward_->lineSettingsApplied(s); }
void Camera::acknowledged() { forward_->acknowledged(); }
void Camera::commandRefused() { forward_->commandRefused(); }
void Camera::displayTextReceived(const std::string& line1, const std::string& line2) {
    forward_->displayTextReceived(line1, line2);
}
void Camera::fileWritten(FileKind kind, const std::string& path) { forward_->fileWritten(kind, path); }
void Camera::fileRefused(FileKind kind, const std::string& path, FileRefusal why,
                         const std::string& reason) {
    forward_->fileRefused(kind, path, why, reason);
}
void Camera::fileLoaded(const std::string& path) { forward_->fileLoaded(path); }
void Camera::loadFailed(const std::string& path) { forward_->loadFailed(path); }
void Camera::flatFieldCorrected() { forward_->flatFieldCorrected(); }
void Camera::uploadStarted() { forward_->uploadStarted(); }
void Camera::uploadRefused(const std::string& message) { forward_->uploadRefused(message); }
void Camera::uploadProgress(int page, int pages) { forward_->uploadProgress(page, pages); }
void Camera::uploadDone() { forward_->uploadDone(); }
void Camera::uploadLinkRequested() { forward_->uploadLinkRequested(); }
void Camera::captureRecord(int recordNumber) { forward_->captureRecord(recordNumber); }
void Camera::captureFileWritten(const std::string& path) { forward_->captureFileWritten(path); }
void Camera::captureFileFailed(const std::string& path) { forward_->captureFileFailed(path); }

}  // namespace kyr::camera
