#pragma once
// An AlpacaCameraDevice for the server tests: a 320x200 camera that links at once and whose
// exposures end at once with a known picture of the frame asked for.

#include <memory>
#include <vector>

#include "alpaca/alpaca_camera_device.h"

namespace kyr::test {

class FakeCamera : public alpaca::AlpacaCameraDevice {
  public:
    // Pixel (x, y) of an exposure: distinct everywhere, 65535 in the corner to show the top.
    static std::uint16_t pixel(int x, int y) {
        return x == 0 && y == 0 ? 65535 : static_cast<std::uint16_t>(100 * y + x);
    }

    alpaca::CameraIdentity identity() const override {
        return {"KYR", "KYR camera (test)", "fake", "2.10"};
    }
    bool connected() const override { return linked; }
    void connect(alpaca::Completion done) override {
        linked = true;
        done({});
    }
    void disconnect(alpaca::Completion done) override {
        linked = false;
        done({});
    }
    alpaca::CameraCapabilities capabilities() const override {
        alpaca::CameraCapabilities c;
        c.sensorWidth = 320;
        c.sensorHeight = 200;
        c.maxAdu = 65535;
        c.maxBinX = c.maxBinY = 2;
        c.canAbortExposure = true;
        c.exposureMin = 0.001;
        c.exposureMax = 3600;
        c.exposureResolution = 0.001;
        return c;
    }
    alpaca::CameraState state() const override { return alpaca::CameraState::Idle; }
    std::optional<double> ccdTemperature() const override { return std::nullopt; }
    std::optional<int> percentCompleted() const override { return std::nullopt; }
    bool imageReady() const override { return picture != nullptr; }
    std::shared_ptr<const alpaca::CameraImage> image() const override { return picture; }
    std::optional<alpaca::LastExposure> lastExposure() const override { return last; }

    void startExposure(const alpaca::ExposureRequest& request, alpaca::Completion done) override {
        exposures.push_back(request);
        auto p = std::make_shared<alpaca::CameraImage>();
        p->width = request.frame.numX;
        p->height = request.frame.numY;
        for (int y = 0; y < p->height; ++y)
            for (int x = 0; x < p->width; ++x) p->pixels.push_back(pixel(x, y));
        picture = p;
        last = alpaca::LastExposure{request.duration, std::chrono::system_clock::time_point{}};
        done({});
    }
    void abortExposure(alpaca::Completion done) override {
        ++aborts;
        done({});
    }
    void stopExposure(alpaca::Completion done) override { done({alpaca::error::kNotImplemented, "no"}); }

    bool linked = false;
    std::shared_ptr<alpaca::CameraImage> picture;
    std::optional<alpaca::LastExposure> last;
    std::vector<alpaca::ExposureRequest> exposures;
    int aborts = 0;
};

}  // namespace kyr::test
