// Times an INDI exposure end to end: from the client's CCD_EXPOSURE request to the FITS BLOB
// in the client, through indiserver and indi_kyr_ccd, against kyr-sim paced at the line's
// speed. The bound is the wire time of the download's bytes (11 bits each, both directions,
// since every request waits for its answer), counted by replaying the same download in
// process against the same simulated device.
//
//   kyr-indi-timing [--baud N]       goal: ratio at most 1.02
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "console/console.h"
#include "indi_rig.h"
#include "link/basic_serial_port.h"
#include "sim/sim_device.h"

namespace {

using kyr::indi::test::Client;

// The console's line straight into a simulated device, counting the bytes each way.
class LoopbackPort : public kyr::BasicSerialPort {
  public:
    explicit LoopbackPort(kyr::sim::SimDevice& device) : device_(device) {}
    std::size_t sent = 0, received = 0;

    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    std::vector<std::uint8_t> input() override {
        std::vector<std::uint8_t> b;
        b.swap(pending_);
        received += b.size();
        return b;
    }
    void output(std::span<const std::uint8_t> bytes) override {
        sent += bytes.size();
        const auto answer = device_.onHostBytes(bytes);
        pending_.insert(pending_.end(), answer.begin(), answer.end());
    }
    // Delivers answers (and the answers to what the console sends back) until none is left.
    void pump() {
        while (!pending_.empty()) raise(kyr::kCommEventReceive);
    }

  private:
    kyr::sim::SimDevice& device_;
    std::vector<std::uint8_t> pending_;
    bool open_ = false;
};


// Bytes on the line from the header request to the image's completion.
struct Counter : kyr::ConsoleEvents {
    LoopbackPort* port = nullptr;
    std::size_t bytes = 0;
    void imageComplete(int) override { bytes = port->sent + port->received; }
};

std::size_t downloadBytes() {
    kyr::sim::SimDevice device;
    LoopbackPort port(device);
    kyr::QuietUi ui;
    kyr::PlainReplyTimer timer;
    kyr::SystemClock clock;
    kyr::NoScheduler scheduler;
    kyr::Console con(port, ui, timer, clock, scheduler);
    Counter counter;
    counter.port = &port;
    con.setEvents(&counter);
    con.establishLink(1);
    port.pump();
    port.sent = port.received = 0;
    con.downloadScreenImage();
    port.pump();
    con.setEvents(nullptr);
    return counter.bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int baud = 115200;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--baud") == 0) baud = std::atoi(argv[i + 1]);

    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("kyr_indi_timing_" + std::to_string(getpid()));
    fs::create_directories(folder);
    int status = 1;
    {
        kyr::indi::test::Simulator sim({"--pty", "--baud", std::to_string(baud)});
        kyr::indi::test::Server server(folder.string());
        Client client;
        if (server.port() == 0 || !client.connect(server.port()) ||
            !client.connectSerial(sim.address())) {
            std::fprintf(stderr, "kyr-indi-timing: no connection to the simulated KYR\n");
        } else {
            // The link's own answers (the display) are in before the clock starts.
            client.waitFor([&] {
                const auto* display = client.prop("KYR_DISPLAY");
                return display != nullptr && !display->texts.at("LINE1").empty();
            });
            const auto start = std::chrono::steady_clock::now();
            const auto blob = client.expose(1);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const std::size_t bytes = downloadBytes();
            const double bound = 11.0 * static_cast<double>(bytes) / baud;
            std::printf("INDI exposure to BLOB at %d baud: %s\n", baud,
                        blob.empty() ? "FAILED" : "received");
            std::printf("  download bytes %zu, FITS %zu bytes\n", bytes, blob.size());
            std::printf("  wire-time bound %.3f s, measured %.3f s, ratio %.4f (goal <= 1.02)\n",
                        bound, elapsed, elapsed / bound);
            status = blob.empty() ? 1 : 0;
        }
        server.stop();
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
