// Times a whole exchange with kyr-sim over a paced pseudo-terminal and compares it with the
// time the bytes themselves need on the line (11 bits per byte, both directions, since the
// protocol waits for each answer before the next request). With --via, the console reaches
// the pseudo-terminal through ser2net (raw or RFC 2217) started with the given configuration;
// with --delay as well, through kyr-delay-proxy in front of ser2net, adding that one-way delay
// (and --jitter): the download is then compared with the wire time plus one round trip per
// request (goal: within 1.10), and its pixels with the simulator's.
//
//   kyr-e2e-timing download|upload [--baud N] [--sim PATH]
//                  [--via raw|rfc2217 --ser2net-config YAML
//                   [--delay MS [--jitter MS] [--proxy PATH]]] [--window]
//
// --window downloads through the real main window (offscreen), which draws each row as it
// arrives: its time against the plain console's shows what the live drawing costs.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "firmware/firmware.h"
#include "gui/main_window.h"
#include "link/protocol.h"
#include "qtio/delay_proxy_process.h"
#include "qtio/qt_platform.h"
#include "qtio/ser2net_process.h"
#include "qtio/serial_adapters.h"
#include "qtio/simulator_process.h"
#include "sim/sim_device.h"

namespace {

// A download behind a slow link against the wire time plus one round trip per request.
constexpr double kSlowLinkGoal = 1.10;

// Counts the bytes crossing the port in each direction.
class CountingPort : public kyr::SerialPort {
public:
    explicit CountingPort(kyr::SerialPort& inner) : inner_(inner) {}
    std::size_t sent = 0, received = 0;
    std::size_t requests = 0;  // header and row requests, repeats included

    void setCommPort(int n) override { inner_.setCommPort(n); }
    int commPort() const override { return inner_.commPort(); }
    void setSettings(const std::string& s) override { inner_.setSettings(s); }
    std::string settings() const override { return inner_.settings(); }
    void setInputLen(int n) override { inner_.setInputLen(n); }
    void setInputMode(kyr::InputMode m) override { inner_.setInputMode(m); }
    void setInBufferSize(int n) override { inner_.setInBufferSize(n); }
    void setOutBufferSize(int n) override { inner_.setOutBufferSize(n); }
    void setPortOpen(bool open) override { inner_.setPortOpen(open); }
    bool portOpen() const override { return inner_.portOpen(); }
    void setRThreshold(int n) override { inner_.setRThreshold(n); }
    int commEvent() const override { return inner_.commEvent(); }
    std::vector<std::uint8_t> input() override {
        auto b = inner_.input();
        received += b.size();
        return b;
    }
    void output(std::span<const std::uint8_t> bytes) override {
        sent += bytes.size();
        if (bytes.size() > 1 && (bytes[1] == kyr::code(kyr::HostPacket::HeaderRequest) ||
                                 bytes[1] == kyr::code(kyr::HostPacket::RawRowRequest) ||
                                 bytes[1] == kyr::code(kyr::HostPacket::CompressedRowRequest)))
            ++requests;
        inner_.output(bytes);
    }
    void setOnComm(CommHandler h) override { inner_.setOnComm(std::move(h)); }
    bool networkLine() const override { return inner_.networkLine(); }

private:
    kyr::SerialPort& inner_;
};

// A Ui that answers the file dialog with one name and remembers the last status text.
class BenchUi : public kyr::Ui {
public:
    std::string status, fileAnswer;
    std::vector<std::string> messages;
    std::function<void()> changed;

    void setStatusText(const std::string& t) override {
        status = t;
        if (changed) changed();
    }
    void repaintStatus() override {}
    void setDisplayText(const std::string&) override {}
    void repaintDisplay() override {}
    void setHeaderText(const std::string&) override {}
    void showPicture(const kyr::Picture&) override {}
    void setMousePointer(kyr::MousePointer) override {}
    void setTurboFace(bool) override {}
    void setProgress(int, int) override {}
    void showMessage(const std::string& t) override {
        messages.push_back(t);
        if (changed) changed();
    }
    std::string prompt(const std::string&, const std::string&, const std::string&) override { return {}; }
    std::string runFileDialog(const kyr::FileDialogRequest&) override { return fileAnswer; }
    void showContrastDialog(std::string&, std::string&) override {}
};

// Runs the event loop until `done` holds or `timeoutMs` passes; false on time-out.
bool runUntil(BenchUi& ui, const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    ui.changed = [&] {
        if (done()) loop.quit();
    };
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    ui.changed = nullptr;
    return done();
}

// The same for the window, whose Ui the bench cannot hook: the condition is looked at
// every 2 ms (a negligible delay against seconds).
bool runUntilPolled(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(2);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

std::vector<std::uint8_t> firmwareImage() {
    std::vector<std::uint8_t> image(kyr::kFirmwareSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>((i * 7 + 3) & 0xFF);
    const std::uint16_t crc = kyr::firmwareImageCrc(image);
    image[98302] = static_cast<std::uint8_t>(crc >> 8);
    image[98303] = static_cast<std::uint8_t>(crc & 0xFF);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || (args[1] != "download" && args[1] != "upload")) {
        std::fprintf(stderr, "usage: kyr-e2e-timing download|upload [--baud N] [--sim PATH] "
                             "[--via raw|rfc2217 --ser2net-config YAML [--delay MS "
                             "[--jitter MS] [--proxy PATH]]] [--window]\n");
        return 2;
    }
    const bool upload = args[1] == "upload";
    int baud = 115200;
    bool withWindow = false;
    QString simPath = kyr::SimulatorProcess::locate(QCoreApplication::applicationDirPath());
    QString via, ser2netConfig;
    QString proxyPath = QStringLiteral(KYR_DELAY_PROXY_EXE);
    int delayMs = -1, jitterMs = 0;
    for (int i = 2; i < args.size(); ++i) {
        if (args[i] == "--window") withWindow = true;
        else if (args[i] == "--baud" && i + 1 < args.size()) baud = args[++i].toInt();
        else if (args[i] == "--sim" && i + 1 < args.size()) simPath = args[++i];
        else if (args[i] == "--via" && i + 1 < args.size()) via = args[++i];
        else if (args[i] == "--ser2net-config" && i + 1 < args.size()) ser2netConfig = args[++i];
        else if (args[i] == "--delay" && i + 1 < args.size()) delayMs = args[++i].toInt();
        else if (args[i] == "--jitter" && i + 1 < args.size()) jitterMs = args[++i].toInt();
        else if (args[i] == "--proxy" && i + 1 < args.size()) proxyPath = args[++i];
    }
    if (withWindow && upload) {
        std::fprintf(stderr, "kyr-e2e-timing: --window times the download only\n");
        return 2;
    }

    kyr::SimulatorProcess sim;
    const QString pty = sim.start(simPath, {"--baud", QString::number(baud)});
    if (pty.isEmpty()) {
        std::fprintf(stderr, "kyr-e2e-timing: %s\n", qPrintable(sim.error()));
        return 1;
    }
    kyr::PortMap map;
    map.map(1, pty.toStdString());
    kyr::test::Ser2NetProcess server;
    if (!via.isEmpty()) {
        if (!server.start(ser2netConfig, pty)) {
            std::fprintf(stderr, "kyr-e2e-timing: %s\n", qPrintable(server.error()));
            return 1;
        }
        map.map(1, (via == "raw" ? server.rawPath() : server.rfc2217Path()).toStdString());
    }
    const bool proxied = delayMs >= 0;
    kyr::test::DelayProxyProcess proxy;
    if (proxied) {
        if (via.isEmpty() || upload || withWindow) {
            std::fprintf(stderr, "kyr-e2e-timing: --delay times the download through ser2net only\n");
            return 2;
        }
        const QString served = via == "raw" ? server.rawPath() : server.rfc2217Path();
        if (!proxy.start(proxyPath, served,
                         {"--delay", QString::number(delayMs), "--jitter", QString::number(jitterMs),
                          "--max-seconds", "900"})) {
            std::fprintf(stderr, "kyr-e2e-timing: %s\n", qPrintable(proxy.error()));
            return 1;
        }
        map.map(1, proxy.path().toStdString());
    }
    kyr::RoutingSerialPort routed(map);
    CountingPort port(routed);
    BenchUi ui;
    kyr::QtReplyTimer timer;
    kyr::QtScheduler scheduler;
    kyr::SystemClock clock;
    std::unique_ptr<kyr::Console> plain;
    std::unique_ptr<kyr::MainWindow> window;
    if (withWindow) {
        window = std::make_unique<kyr::MainWindow>(port, timer, clock, scheduler);
        window->resize(1400, 1000);  // the picture at twice its size
        window->show();
    } else {
        plain = std::make_unique<kyr::Console>(port, ui, timer, clock, scheduler);
    }
    kyr::Console& con = withWindow ? window->console() : *plain;
    timer.setCallback([&] { con.onReplyTimer(); });
    const auto waitFor = [&](const std::function<bool()>& done, int timeoutMs) {
        return withWindow ? runUntilPolled(done, timeoutMs) : runUntil(ui, done, timeoutMs);
    };

    con.start();
    if (!waitFor([&] { return con.link.linkEstablished; }, 5000)) {
        std::fprintf(stderr, "kyr-e2e-timing: no link (%s)\n", ui.status.c_str());
        return 1;
    }
    // The line settings of the exchange: the console's own (8N2), or 8N1 for the upload.
    if (!upload) con.establishLink(1);
    waitFor([&] { return con.link.linkEstablished; }, 5000);
    QTemporaryDir dir;
    if (upload) {
        const auto image = firmwareImage();
        ui.fileAnswer = QDir(dir.path()).filePath("kyr.bin").toStdString();
        std::ofstream(ui.fileAnswer, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    // Let the link's own answers settle before counting.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    port.sent = port.received = port.requests = 0;
    QElapsedTimer clockStart;
    clockStart.start();
    bool ok = false;
    if (upload) {
        con.uploadFirmware();
        ok = runUntil(ui, [&] {
            return ui.status == "Code succesfully uploaded - KYR restarting" ||
                   ui.status == "Communication Failed" || !ui.messages.empty();
        }, 120000) && ui.status == "Code succesfully uploaded - KYR restarting";
    } else {
        // A slow link pays a round trip for each of the 201 requests (the header and every
        // row), and a few more for repeats: the wait grows with the delay.
        const int waitMs = 120000 + (proxied ? 210 * 2 * 2 * (delayMs + jitterMs) : 0);
        con.downloadScreenImage();
        ok = waitFor([&] {
            return con.download.imageComplete || ui.status == "Communication Failed";
        }, waitMs) && con.download.imageComplete;
    }
    const double elapsed = static_cast<double>(clockStart.nsecsElapsed()) / 1e9;
    const std::size_t bytes = port.sent + port.received;
    if (upload && ok) {
        // The device restarts after the final acknowledge: the link request must wait 2 s.
        QElapsedTimer restart;
        restart.start();
        const std::size_t before = port.sent;
        runUntil(ui, [&] { return port.sent > before; }, 5000);
        std::printf("  final acknowledge to link request: %.3f s\n",
                    static_cast<double>(restart.nsecsElapsed()) / 1e9);
    }
    const double bound = 11.0 * static_cast<double>(bytes) / baud;
    std::string route = via.isEmpty() ? (withWindow ? " through the window" : "")
                                      : " through ser2net (" + via.toStdString() + ")";
    if (proxied)
        route += " behind a " + std::to_string(delayMs) + " ms (+-" + std::to_string(jitterMs) +
                 ") one-way delay";
    std::printf("%s at %d baud%s: %s\n", upload ? "firmware upload" : "screen image download", baud,
                route.c_str(), ok ? "completed" : "FAILED");
    std::printf("  bytes sent %zu, received %zu\n", port.sent, port.received);
    if (proxied && con.header.hdrHeight > 0) {
        // One request for the header, one per row, one more for the extra data row.
        const bool extraRow = con.header.hdrExposureCount != 1 || con.header.mosaicType != 0;
        const int needed = 1 + con.header.hdrHeight + (extraRow ? 1 : 0);
        const double ideal = 11.0 * static_cast<double>(bytes) / baud + needed * 2.0 * delayMs / 1000.0;
        std::printf("  requests sent %zu, needed %d\n", port.requests, needed);
        std::printf("  wire time + requests x round trip %.3f s, measured %.3f s, ratio %.4f "
                    "(goal <= %.2f: %s)\n",
                    ideal, elapsed, elapsed / ideal, kSlowLinkGoal,
                    elapsed / ideal <= kSlowLinkGoal ? "met" : "NOT MET");
        // The device's own screen image, from the same seed.
        const kyr::sim::SimImage& truth = kyr::sim::SimDevice{}.image(31);
        const int rows = con.image.imageData.rows(), cols = con.image.imageData.cols();
        int wrongRows = 0;
        if (static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) != truth.pixels.size())
            wrongRows = rows;
        else
            for (int y = 1; y <= rows; ++y)
                for (int x = 1; x <= cols; ++x)
                    if (con.image.imageData.sample(x, y) !=
                        truth.pixels[static_cast<std::size_t>((y - 1) * cols + x - 1)]) {
                        ++wrongRows;
                        break;
                    }
        if (ok && wrongRows > 0) {
            std::printf("  WRONG IMAGE: %d of %d rows differ from the device's\n", wrongRows, rows);
            ok = false;
        } else if (ok) {
            std::printf("  image bit-exact\n");
        }
    }
    std::printf("  wire-time bound %.3f s, measured %.3f s, ratio %.4f\n", bound, elapsed,
                elapsed / bound);
    con.shutdown();
    sim.stop();
    return ok ? 0 : 1;
}
