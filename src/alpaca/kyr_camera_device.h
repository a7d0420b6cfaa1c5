#pragma once
// The KYR behind the Alpaca server: the camera layer (src/camera) on one Console whose line,
// reply timer and deferred calls all run on the server's io_context. Connecting opens the
// line and links as Establish Link does; disconnecting sends the link-off request and closes
// the line, so that other programs may use it meanwhile.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <asio/io_context.hpp>

#include "alpaca/alpaca_camera_device.h"
#include "asioio/asio_platform.h"
#include "asioio/asio_serial_port.h"
#include "camera/camera.h"
#include "console/console.h"

namespace kyr::alpaca {

struct KyrLineOptions {
    std::string line;  // a device path, tcp://host:port or rfc2217://host:port
    int baudCode = 1;  // the speed table's code: 1 = 115200 ... 5 = 9600
    // How many link requests go unanswered before connecting fails.
    int linkAttempts = 4;
};

class KyrCameraDevice : public AlpacaCameraDevice {
  public:
    using Log = std::function<void(const std::string&)>;

    // `log` hears what the observer should know: the console's messages, links made and
    // lost, exposures that failed.
    KyrCameraDevice(asio::io_context& io, KyrLineOptions options, Log log = {});
    ~KyrCameraDevice() override;
    KyrCameraDevice(const KyrCameraDevice&) = delete;
    KyrCameraDevice& operator=(const KyrCameraDevice&) = delete;

    // ---- AlpacaCameraDevice
    CameraIdentity identity() const override;
    bool connected() const override { return linked_; }
    void connect(Completion done) override;
    void disconnect(Completion done) override;
    CameraCapabilities capabilities() const override;
    CameraState state() const override;
    std::optional<double> ccdTemperature() const override { return camera_.temperature(); }
    std::optional<int> percentCompleted() const override;
    bool imageReady() const override { return image_ != nullptr; }
    std::shared_ptr<const CameraImage> image() const override { return image_; }
    std::optional<LastExposure> lastExposure() const override { return last_; }
    std::string exposureError() const override { return exposureError_; }
    void startExposure(const ExposureRequest& request, Completion done) override;
    void abortExposure(Completion done) override;
    void stopExposure(Completion done) override;

    // The line as the console sees it (tests and the program's messages).
    const AsioSerialPort& port() const { return port_; }

  private:
    class LogUi : public QuietUi {
      public:
        explicit LogUi(Log& log) : log_(log) {}
        void showMessage(const std::string& text) override;
        std::string lostLineAdvice() const override {
            return ": connect again once the line is back";
        }

      private:
        Log& log_;
    };

    // What the camera layer and the console tell.
    class Listener : public camera::CameraListener, public ConsoleEvents {
      public:
        explicit Listener(KyrCameraDevice& device) : d_(device) {}
        void imageReady(const camera::CameraImage& image) override { d_.delivered(image); }
        void exposureFailed(const std::string& reason) override { d_.failed(reason); }
        void linkEstablished() override { d_.linkUp(); }
        void linkLost() override { d_.linkDown(); }
        void portError(const std::string& reason) override { d_.portError_ = reason; }

      private:
        KyrCameraDevice& d_;
    };

    void say(const std::string& text) const;
    void armLinkCheck();
    void checkLink();
    void finishConnect(AlpacaResult result);
    void closeLine();
    void delivered(const camera::CameraImage& image);
    void failed(const std::string& reason);
    void linkUp();
    void linkDown();

    KyrLineOptions options_;
    Log log_;
    AsioSerialPort port_;
    AsioReplyTimer timer_;
    AsioScheduler scheduler_;
    SystemClock clock_;
    LogUi ui_{log_};
    Console con_;
    camera::Camera camera_;
    Listener listener_{*this};

    bool linked_ = false;
    std::optional<Completion> connecting_;
    int linkRequests_ = 0;
    unsigned linkCheck_ = 0;  // generation of the pending link check
    std::string portError_;
    bool exposing_ = false;
    std::chrono::system_clock::time_point requestedAt_;
    std::shared_ptr<const CameraImage> image_;
    std::optional<LastExposure> last_;
    std::string exposureError_;
};

}  // namespace kyr::alpaca
