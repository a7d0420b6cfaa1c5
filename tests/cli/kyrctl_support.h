#pragma once
// Running kyrctl (and kyr-sim) as processes, and making image files for them.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_header.h"
#include "image/pixel_array.h"

namespace kyr::test {

struct RunResult {
    bool finished = false;
    int exitCode = -1;
    std::string out, err;
};

// Runs kyrctl with the arguments and waits (at most two minutes) for it to end.
RunResult runKyrctl(const QStringList& args, const QString& workDir = {});

// kyrctl running alongside the test, for commands that wait for what the test does next.
class KyrctlProcess {
  public:
    explicit KyrctlProcess(const QStringList& args);
    ~KyrctlProcess();
    KyrctlProcess(const KyrctlProcess&) = delete;
    KyrctlProcess& operator=(const KyrctlProcess&) = delete;
    // Waits (bounded) until standard error / output holds `text`; false if kyrctl ended
    // first.
    bool waitForStderr(const std::string& text) { return waitFor(QProcess::StandardError, text); }
    bool waitForStdout(const std::string& text) { return waitFor(QProcess::StandardOutput, text); }
    // Asks it to end, as Ctrl-C or a service manager would.
    void terminate() { process_.terminate(); }
    // Waits (bounded) for the end.
    RunResult finish();

  private:
    bool waitFor(QProcess::ProcessChannel channel, const std::string& text);
    void collect();

    QProcess process_;
    std::string out_, err_;
};

#if defined(KYR_SIM_EXE)
// kyr-sim --pty with its control channel on standard input.
class SimProcess {
  public:
    explicit SimProcess(const QStringList& options);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    // The pseudo-terminal to open ("" if the simulator did not start).
    const std::string& path() const { return path_; }
    // "--com 1=PATH" for kyrctl.
    QStringList com() const;
    // One control command; its reply up to and including the "ok" or "error: ..." line.
    std::string command(const std::string& line);
    // The device stops answering (it is paused) or goes on again.
    void freeze(bool frozen);

  private:
    QProcess process_;
    std::string path_;
    std::string pending_;
};
#endif

// An image with a star-like pattern and the full unsigned range, and its header record.
PixelArray testImage(int w, int h, int seed);
ImageHeader testHeader(int exposureCount);

// Writes a .KYR file the way the console encodes one.
void writeKyr(const std::string& name, const ImageHeader& hdr, const PixelArray& img, int w, int h,
              std::int32_t background = 1000, std::int32_t range = 4096);

// The panel text the console shows for loading `name`, and the image it loads.
struct Loaded {
    std::string panel;
    PixelArray pixels;
    int width = 0, height = 0;
    std::int32_t background = 0, range = 0;
    std::vector<std::string> messages;
};
Loaded loadInProcess(const std::string& name);

// Console text with CR LF as '\n', ended by one '\n': what kyrctl prints for a panel.
std::string printed(const std::string& panel);

// The standard output lines of a run.
std::vector<std::string> lines(const std::string& text);

}  // namespace kyr::test
