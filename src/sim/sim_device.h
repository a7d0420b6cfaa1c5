#pragma once
// The simulated KYR: takes the bytes the console writes and produces the device's answers.
// No I/O and no clock: everything is a function of the bytes received, the calls made and
// the seed, so that tests and the kyr-sim program see exactly the same device.

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/protocol.h"
#include "link/rx_buffer.h"
#include "sim/sim_images.h"
#include "sim/sim_menu.h"
#include "sim/sim_random.h"

namespace kyr::sim {

// Line trouble the device can play, all drawn from the seed.
struct FaultSettings {
    double junkRate = 0;     // chance of 1..8 noise bytes (never 165) before an answer
    double corruptRate = 0;  // chance that a re-requestable answer has a payload byte flipped
    double dropRate = 0;     // chance that a re-requestable answer is lost
    bool split = false;      // answers arrive in random pieces of 1..16 bytes
    // Drops and corruptions in a row are capped so that the console's three repeats always
    // get through.
    int maxConsecutiveFaults = 2;
};

struct SimOptions {
    std::uint64_t seed = 1;
    std::vector<int> filledBuffers{0, 1, 2, 3, 4};
    bool rawRows = false;  // answer row requests uncompressed (type 5)
    // Answer a row request with the whole row, whatever columns it asked for.
    bool wholeRows = false;
    FaultSettings faults;
    // The screen image keeps only its first rows (1..200): a sub-frame, so that a download
    // over a slow link takes seconds rather than minutes.
    int screenRows = kScreenRows;
};

enum class UploadResult { None, InProgress, Accepted, Refused };

// What the device has seen, for tests and the control channel's status command.
struct SimStats {
    std::array<int, 256> packetsByType{};  // good packets received, by type
    std::vector<std::uint16_t> keys;       // key masks in order
    std::vector<int> saveAcks;             // save acknowledge results in order
    int linkRequests = 0;                  // link requests with flag 1
    int linkReleases = 0;                  // link requests with flag 0 (the console left)
    int badChecksums = 0;                  // packets refused for their payload checksum
    int unknownPackets = 0;                // packets answered with "did not understand"
    int answersDropped = 0, answersCorrupted = 0, junkBursts = 0;
};

class SimDevice {
  public:
    explicit SimDevice(SimOptions options = {});

    // ---- the line
    // Bytes written by the console, in any pieces; answers are queued for takeOutput.
    void receive(std::span<const std::uint8_t> bytes);
    // Everything the device has sent since the last call.
    std::vector<std::uint8_t> takeOutput();
    // Like takeOutput, cut into the pieces the line delivers (random when split is on).
    std::vector<std::vector<std::uint8_t>> takeChunks();
    // receive + takeOutput.
    std::vector<std::uint8_t> onHostBytes(std::span<const std::uint8_t> bytes);
    bool hasOutput() const { return !out_.empty(); }

    // ---- what the device does on its own
    void offerScreenImage();                 // type 0
    void announceFlashDownload();            // type 1
    void requestLink();                      // type 255
    void sendDidNotUnderstand();             // type 21
    // A new screen image with the panel's settings of the moment (new time, new pixels), as
    // the Image key takes one; the display changes only where it shows the frame number.
    void takeScreenImage();
    void sendDisplay();                      // type 9 with the current panel text
    void showText(const std::string& text);  // type 9 with a text of its own (48 characters)
    // Called now and then while idle: the sensor temperature drifts, and the main screen
    // sends its new text when it changed.
    void idleTick();

    // ---- settings
    // Buffers 0..30 that hold images; false (and nothing changed) on a number outside.
    bool setFilledBuffers(const std::vector<int>& buffers);
    std::vector<int> filledBuffers() const;
    void setRawRows(bool raw) { options_.rawRows = raw; }
    void setWholeRows(bool whole) { options_.wholeRows = whole; }
    void setFaults(const FaultSettings& f) { options_.faults = f; }
    const SimOptions& options() const { return options_; }

    // ---- inspection
    // The exact image the device sends for a buffer (an empty one when not filled).
    const SimImage& image(int buffer) const;
    std::string displayText() const { return customText_ ? *customText_ : menu_.text(); }
    const SimMenu& menu() const { return menu_; }
    const SimStats& stats() const { return stats_; }
    bool linkUp() const { return linkUp_; }
    UploadResult uploadResult() const { return upload_.result; }
    const std::string& uploadDetail() const { return upload_.detail; }
    int uploadPagesReceived() const { return upload_.nextPage; }
    // The firmware image of the last accepted upload (empty before one).
    const std::vector<std::uint8_t>& acceptedFirmware() const { return acceptedFirmware_; }

  private:
    DispatchResult dispatch();
    void handle(std::uint8_t type, std::span<const std::uint8_t> payload);
    void handleKey(std::uint16_t mask);
    void handleHeaderRequest(int buffer);
    void handleRowRequest(std::uint8_t type, std::span<const std::uint8_t> payload);
    void handleBufferReportRequest();
    void handleUploadStart();
    void handleUploadPage(std::span<const std::uint8_t> payload);
    void handleUploadFinal(std::span<const std::uint8_t> payload);
    void refuseUpload(const std::string& why);

    // Queues a packet. Re-requestable answers (headers, rows, page acknowledges) may be
    // dropped or corrupted; every answer may be preceded by junk.
    void emit(DevicePacket type, std::span<const std::uint8_t> payload, bool reRequestable);
    void emitAck(bool reRequestable) { emit(DevicePacket::Acknowledge, {}, reRequestable); }
    void emitNak() { emit(DevicePacket::NotUnderstood, {}, false); }
    void refreshScreenImage();

    SimOptions options_;
    RxBuffer rx_;
    std::vector<std::uint8_t> out_;
    SimRandom faultRng_, chunkRng_, idleRng_;
    int consecutiveFaults_ = 0;

    SimMenu menu_;
    std::optional<std::string> customText_;
    bool linkUp_ = false;
    std::bitset<kStoredBuffers> filled_;
    mutable std::array<std::optional<SimImage>, kStoredBuffers> stored_;
    // The screen image is made when first asked for, from the settings of the moment the
    // Image key took it.
    ScreenSettings screenSettings_;
    mutable std::optional<SimImage> screen_;
    SimImage empty_;
    SimStats stats_;

    struct Upload {
        bool active = false;
        int nextPage = 0;
        std::vector<std::uint8_t> image;
        UploadResult result = UploadResult::None;
        std::string detail;
    } upload_;
    std::vector<std::uint8_t> acceptedFirmware_;
};

const char* uploadResultName(UploadResult r);

}  // namespace kyr::sim
