// Times an INDI exposure end to end: from the client's CCD_EXPOSURE request to the FITS BLOB
// in the client, through indiserver and indi_kyr_ccd, against kyr-sim paced at the line's
// speed. The bound is the wire time of the download's bytes (11 bits each, both directions,
// since every request waits for its answer), counted by replaying the same download in
// process against the same simulated device.
//
// Then a 64 x 64 sub-frame of a new image against the whole frame (goal: at most 0.35 of its
// time: the camera asks only for the frame's rows and columns), and an abort in the middle of
// the rows until the camera is free again (goal: at most 0.5 s).
//
//   kyr-indi-timing [--baud N]       goal: ratio at most 1.02
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <basedevice.h>

#include "console/console.h"
#include "indi_rig.h"
#include "loopback_port.h"
#include "sim/sim_device.h"

namespace {

using kyr::indi::test::Client;

using kyr::bench::LoopbackPort;


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

            // A 64 x 64 focus frame of the next image.
            client.locked([&] {
                INDI::PropertyNumber frame = client.getDevice(Client::kDevice).getNumber("CCD_FRAME");
                frame.findWidgetByName("X")->setValue(100);
                frame.findWidgetByName("Y")->setValue(50);
                frame.findWidgetByName("WIDTH")->setValue(64);
                frame.findWidgetByName("HEIGHT")->setValue(64);
                client.sendNewNumber(frame);
                return true;
            });
            client.waitFor([&] {
                const auto* f = client.prop("CCD_FRAME");
                return f != nullptr && f->numbers.at("WIDTH") == 64;
            });
            sim.command("new-image");
            const auto subStart = std::chrono::steady_clock::now();
            const auto sub = client.expose(1);
            const double subElapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - subStart).count();
            std::printf("64 x 64 sub-frame: %s in %.3f s, %.3f of the whole frame's time (goal <= 0.35)\n",
                        sub.empty() ? "FAILED" : "received", subElapsed, subElapsed / elapsed);
            if (sub.empty()) status = 1;

            // An abort while the rows of a whole frame arrive, until the camera is free.
            client.locked([&] {
                INDI::PropertyNumber frame = client.getDevice(Client::kDevice).getNumber("CCD_FRAME");
                frame.findWidgetByName("X")->setValue(0);
                frame.findWidgetByName("Y")->setValue(0);
                frame.findWidgetByName("WIDTH")->setValue(320);
                frame.findWidgetByName("HEIGHT")->setValue(200);
                client.sendNewNumber(frame);
                return true;
            });
            sim.command("new-image");
            const std::size_t seen = client.locked([&] { return client.exposures.size(); });
            client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1);
            client.waitFor([&] {
                int countdowns = 0;
                for (std::size_t i = seen; i < client.exposures.size(); ++i)
                    countdowns += client.exposures[i].first == IPS_BUSY && client.exposures[i].second > 1.5;
                return countdowns >= 3;
            });
            const auto abortStart = std::chrono::steady_clock::now();
            client.setSwitch("CCD_ABORT_EXPOSURE", "ABORT");
            const bool freed = client.waitFor([&] {
                return client.state("CCD_ABORT_EXPOSURE") == IPS_OK &&
                       client.state("CCD_EXPOSURE") != IPS_BUSY;
            });
            const double abortElapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - abortStart).count();
            std::printf("abort mid-transfer: camera free after %.3f s (goal <= 0.5)\n", abortElapsed);
            if (!freed) status = 1;
        }
        server.stop();
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
