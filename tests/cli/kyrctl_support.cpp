#include "kyrctl_support.h"

#include <QDeadlineTimer>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/types.h>
#endif

#include "cli_test_support.h"
#include "console/console.h"
#include "fakes/fakes.h"
#include "files/kyr_codec.h"

namespace kyr::test {

RunResult runKyrctl(const QStringList& args, const QString& workDir) {
    QProcess p;
    if (!workDir.isEmpty()) p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(KYRCTL_EXE), args);
    RunResult r;
    if (!p.waitForStarted(30000)) return r;
    r.finished = p.waitForFinished(120000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

namespace {
constexpr int kLongWaitMs = 60000;  // bounds every wait on a process; never reached normally
}

KyrctlProcess::KyrctlProcess(const QStringList& args) {
    process_.start(QStringLiteral(KYRCTL_EXE), args);
    process_.waitForStarted(kLongWaitMs);
}

KyrctlProcess::~KyrctlProcess() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(kLongWaitMs);
    }
}

void KyrctlProcess::collect() {
    out_ += process_.readAllStandardOutput().toStdString();
    err_ += process_.readAllStandardError().toStdString();
}

bool KyrctlProcess::waitFor(QProcess::ProcessChannel channel, const std::string& text) {
    // waitForReadyRead waits on the read channel: the one being watched.
    process_.setReadChannel(channel);
    const std::string& seen = channel == QProcess::StandardError ? err_ : out_;
    QDeadlineTimer deadline(kLongWaitMs);
    for (;;) {
        collect();
        if (seen.find(text) != std::string::npos) return true;
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
}

RunResult KyrctlProcess::finish() {
    RunResult r;
    r.finished = process_.waitForFinished(kLongWaitMs);
    r.exitCode =
        r.finished && process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    collect();
    r.out = out_;
    r.err = err_;
    return r;
}

#if defined(KYR_SIM_EXE)
SimProcess::SimProcess(const QStringList& options) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(QStringLiteral(KYR_SIM_EXE), QStringList{"--pty"} + options);
    if (!process_.waitForStarted(kLongWaitMs)) return;
    QDeadlineTimer deadline(kLongWaitMs);
    while (pending_.find('\n') == std::string::npos && !deadline.hasExpired() &&
           process_.state() == QProcess::Running) {
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        pending_ += process_.readAllStandardOutput().toStdString();
    }
    const auto nl = pending_.find('\n');
    if (nl == std::string::npos) return;
    path_ = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
}

SimProcess::~SimProcess() {
    freeze(false);
    if (process_.state() == QProcess::NotRunning) return;
    process_.write("quit\n");
    process_.closeWriteChannel();
    if (!process_.waitForFinished(kLongWaitMs)) {
        process_.kill();
        process_.waitForFinished(kLongWaitMs);
    }
}

QStringList SimProcess::com() const {
    return {"--com", QString::fromStdString("1=" + path_)};
}

std::string SimProcess::command(const std::string& line) {
    process_.write(QByteArray::fromStdString(line + "\n"));
    process_.waitForBytesWritten(kLongWaitMs);
    QDeadlineTimer deadline(kLongWaitMs);
    for (;;) {
        pending_ += process_.readAllStandardOutput().toStdString();
        // The reply ends with a line "ok" or "error: ...".
        std::size_t start = 0;
        for (std::size_t nl; (nl = pending_.find('\n', start)) != std::string::npos;
             start = nl + 1) {
            const std::string l = pending_.substr(start, nl - start);
            if (l == "ok" || l.rfind("error: ", 0) == 0) {
                std::string reply = pending_.substr(0, nl + 1);
                pending_.erase(0, nl + 1);
                return reply;
            }
        }
        if (deadline.hasExpired() || process_.state() != QProcess::Running) return pending_;
        process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
}

void SimProcess::freeze(bool frozen) {
#if !defined(_WIN32)
    if (process_.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(process_.processId()), frozen ? SIGSTOP : SIGCONT);
#else
    (void)frozen;
#endif
}
#endif  // KYR_SIM_EXE

PixelArray testImage(int w, int h, int seed) {
    PixelArray img(w, h);
    std::uint32_t s = static_cast<std::uint32_t>(seed) * 2654435761u + 1;
    for (int r = 1; r <= h; ++r)
        for (int c = 1; c <= w; ++c) {
            s = s * 1664525u + 1013904223u;
            int v = 1000 + static_cast<int>((s >> 16) % 200);  // sky and noise
            const int dx = c - w / 3, dy = r - h / 2;
            if (dx * dx + dy * dy < 9) v += 30000 + (seed % 7) * 1000;  // a bright star
            img.setCell(c, r, PixelArray::toCell(v));
        }
    img.setCell(w, h, PixelArray::toCell(65535));
    img.setCell(1, h, PixelArray::toCell(0));
    return img;
}

ImageHeader testHeader(int exposureCount) {
    ImageHeader h;
    h.hdrExposure = 250;
    h.exposureSeconds = 2.5;
    h.hdrExposureCount = static_cast<std::int16_t>(exposureCount);
    h.focalLength = 80.0f;
    h.apertureArea = 49.26f;
    h.noteText = "Test field";
    h.dateText = "12/11/2035";
    h.timeText = "15:42:05";
    h.hdrYear = 2035;
    h.temperature = -10.25f;
    h.historyText = "-";
    h.hdrSite = 3;
    h.pixelSize = 0.0074f;
    h.hdrPedestal = 100;
    h.hdrEgainRaw = 250;
    h.filterName = "Red";
    return h;
}

void writeKyr(const std::string& name, const ImageHeader& hdr, const PixelArray& img, int w, int h,
              std::int32_t background, std::int32_t range) {
    writeBytes(name, encodeKyrFile(hdr, background, range, img, w, h));
}

Loaded loadInProcess(const std::string& name) {
    FakeSerialPort port;
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con(port, ui, timer, clock, scheduler);
    con.files.cutInFileNameOnly = true;  // as kyrctl hands over whole paths
    ui.fileAnswers = {name};
    con.loadImage();
    Loaded l;
    l.panel = ui.headerText;
    l.pixels = con.image.imageData;
    l.width = con.image.imageWidth;
    l.height = con.image.imageHeight;
    l.background = con.display.background;
    l.range = con.display.range;
    l.messages = ui.messages;
    return l;
}

std::string printed(const std::string& panel) {
    std::string out;
    for (std::size_t i = 0; i < panel.size(); ++i) {
        if (panel[i] == '\r' && i + 1 < panel.size() && panel[i + 1] == '\n') continue;
        out += panel[i];
    }
    return !out.empty() && out.back() == '\n' ? out : out + "\n";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

}  // namespace kyr::test
