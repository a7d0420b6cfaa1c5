#pragma once
// What kyr-alpaca asks of a camera: the seam where the camera layer (src/camera) plugs in,
// through a small adapter that implements this interface over it. The router
// (alpaca_router.h) keeps Alpaca's conventions and checks every value against the
// capabilities and the state before it calls here, so every camera behind it answers alike;
// an implementation does what it is asked, or says why not.
//
// Threads: every call comes from the thread that runs the server's io_context. Getters answer
// at once from what the camera already knows (no I/O on the line). Commands that need the
// line answer through their completion, later and from any thread; the server takes the
// answer back to its own thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kyr::alpaca {

// Alpaca error numbers: the ErrorNumber of an answer with HTTP status 200.
namespace error {
inline constexpr int kNotImplemented = 0x400;
inline constexpr int kInvalidValue = 0x401;
inline constexpr int kValueNotSet = 0x402;
inline constexpr int kNotConnected = 0x407;
inline constexpr int kInvalidOperation = 0x40B;
inline constexpr int kDriverError = 0x500;  // the first of the driver's own numbers
}  // namespace error

// A command's outcome: number 0 for success, else an Alpaca error number and a message the
// observer can act on.
struct AlpacaResult {
    int number = 0;
    std::string message;
    bool ok() const { return number == 0; }
};
using Completion = std::function<void(AlpacaResult)>;

// ICamera's CameraState values.
enum class CameraState { Idle = 0, Waiting = 1, Exposing = 2, Reading = 3, Download = 4, Error = 5 };

struct CameraIdentity {
    std::string name;  // short: shown in the clients' device lists
    std::string description;
    std::string driverInfo;
    std::string driverVersion;  // "major.minor"
};

// What the camera can do, as known while connected. An absent value answers NotImplemented.
struct CameraCapabilities {
    int sensorWidth = 0;  // unbinned pixels
    int sensorHeight = 0;
    std::optional<double> pixelSizeX;  // microns
    std::optional<double> pixelSizeY;
    int maxAdu = 0;
    int maxBinX = 1;
    int maxBinY = 1;
    bool canAsymmetricBin = false;
    bool canAbortExposure = false;
    bool canStopExposure = false;
    double exposureMin = 0;  // seconds
    double exposureMax = 0;
    double exposureResolution = 0;
    std::optional<bool> hasShutter;
    std::optional<double> electronsPerAdu;
    std::optional<double> fullWellCapacity;
};

// Sub-frame and binning, as ICamera counts them: start and size in binned pixels.
struct CameraFrame {
    int startX = 0;
    int startY = 0;
    int numX = 0;
    int numY = 0;
    int binX = 1;
    int binY = 1;
};

struct ExposureRequest {
    double duration = 0;  // seconds, within exposureMin..exposureMax (0 allowed for darks)
    bool light = true;
    CameraFrame frame;  // inside the sensor at that binning
};

struct LastExposure {
    double duration = 0;  // seconds, as taken
    std::chrono::system_clock::time_point start;
};

// An exposure's pixels, row after row: pixel (x, y) at y * width + x.
struct CameraImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint16_t> pixels;
};

class AlpacaCameraDevice {
  public:
    virtual ~AlpacaCameraDevice() = default;

    // Asked at any time, connected or not.
    virtual CameraIdentity identity() const = 0;
    virtual bool connected() const = 0;
    // Opens the line and links to the camera; done once linked, or with why not.
    virtual void connect(Completion done) = 0;
    virtual void disconnect(Completion done) = 0;

    // ---- asked only while connected
    virtual CameraCapabilities capabilities() const = 0;
    virtual CameraState state() const = 0;
    // Degrees Celsius, when the camera reports a sensor temperature.
    virtual std::optional<double> ccdTemperature() const = 0;
    // 0..100 for the exposure under way (taking and reading out); nullopt when none is.
    virtual std::optional<int> percentCompleted() const = 0;
    // A new image of the last exposure is ready.
    virtual bool imageReady() const = 0;
    // That image (nullptr when none is ready).
    virtual std::shared_ptr<const CameraImage> image() const = 0;
    // nullopt before the first exposure.
    virtual std::optional<LastExposure> lastExposure() const = 0;
    // Why the last exposure failed ("" when it did not).
    virtual std::string exposureError() const { return {}; }

    // Starts an exposure already checked against capabilities() and state(); done once it
    // has started, not when it ends (imageReady() tells that).
    virtual void startExposure(const ExposureRequest& request, Completion done) = 0;
    // Called only when capabilities() says the camera can.
    virtual void abortExposure(Completion done) = 0;
    virtual void stopExposure(Completion done) = 0;
};

}  // namespace kyr::alpaca
