#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <locale>
#include <optional>
#include <sstream>
#include <system_error>

#include "cli/cli_events.h"
#include "cli/offline_devices.h"
#include "cli/waiter.h"
#include "console/console.h"
#include "files/file_io.h"
#include "observation/capture_log.h"
#include "qtio/qt_platform.h"
#include "qtio/serial_adapters.h"

namespace kyr::cli {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

void applyObservation(Console& con, CliUi& ui, const CliArgs& a) {
    if (a.metric) {
        if (*a.metric)
            con.useCentimeters();
        else
            con.useInches();
    }
    if (a.note) {
        ui.setPromptAnswer("Note", *a.note);
        con.enterNote();
    }
    if (a.focalLength) {
        ui.setPromptAnswer("Focal Length", *a.focalLength);
        con.enterFocalLength();
    }
    if (a.aperture) {
        ui.setPromptAnswer("Aperture Diameter", *a.aperture);
        con.enterApertureDiameter();
    }
}

// The "Image Information" panel as lines on standard output.
void printPanel(CliUi& ui) {
    const std::string& panel = ui.headerText();
    const bool ended = !panel.empty() && panel.back() == '\n';
    ui.printOut(ended ? panel : panel + "\n");
}

int fail(CliUi& ui, const std::string& why) {
    ui.error(why);
    return kExitFailed;
}

// The folder of an output that is not there ("" when it is).
std::string missingFolder(const std::string& path) {
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec)) return {};
    return folder.string() + ": no such folder";
}

// What an output may not be, checked before anything is loaded, computed or asked of the
// device: in a missing folder, or a file that is there already.
std::string outputProblem(const std::string& path) {
    if (std::string why = missingFolder(path); !why.empty()) return why;
    if (fileExists(path)) return path + " is there already: kyrctl never writes over a file";
    return {};
}

// What the console has shown so far, so that a look afterwards sees only what came after.
struct Mark {
    int lineFailures = 0, fileFailures = 0, filesWritten = 0;
    std::size_t messages = 0;
};

Mark markOf(const CliUi& ui, const CliEvents& ev) {
    return {ev.seen().lineFailures, ev.seen().fileFailures, ev.seen().filesWritten,
            ui.messages().size()};
}

// Nothing went wrong with the files since the mark (the console's words are on standard
// error already).
bool filesFine(const CliUi& ui, const CliEvents& ev, const Mark& m) {
    return ev.seen().fileFailures == m.fileFailures && ui.messages().size() == m.messages;
}

// ---------------------------------------------------------------- the console on files

struct OfflineConsole {
    OfflinePort port;
    OfflineTimer timer;
    SystemClock clock;
    OfflineScheduler scheduler;
    CliEvents events;
    Console con;
    OfflineConsole(CliUi& ui, ImageEncoder* png)
        : events(ui), con(port, ui, timer, clock, scheduler) {
        con.setImageEncoder(png);
        con.setEvents(&events);
        con.files.cutInFileNameOnly = true;
    }
};

// "Load KYR  Frame from Disk" with the name as typed; true when the image was loaded (the
// console's messages are already on standard error).
bool loadImage(OfflineConsole& oc, CliUi& ui, const std::string& path) {
    const int loads = oc.events.seen().loads;
    ui.queueFile(path);
    oc.con.loadImage();
    return oc.events.seen().loads > loads;
}

// Writes the image to `path` by its extension through the console's writers.
int writeImage(OfflineConsole& oc, CliUi& ui, const std::string& path) {
    Console& con = oc.con;
    const std::string ext = lower(fs::path(path).extension().string());
    const Mark m = markOf(ui, oc.events);
    ui.queueFile(path);
    if (ext == ".kyr")
        con.saveImageAs();
    else if (ext == ".bmp")
        con.exportImageBitmap();
    else if (ext == ".png")
        con.exportPng();
    else
        con.exportFits();
    const bool written = oc.events.seen().filesWritten > m.filesWritten;
    return written && filesFine(ui, oc.events, m) ? kExitOk : kExitFailed;
}

int runInfo(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    OfflineConsole oc(ui, png);
    if (!loadImage(oc, ui, a.inputs[0])) return kExitFailed;
    printPanel(ui);
    return kExitOk;
}

int runConvert(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string why = outputProblem(a.inputs[1]); !why.empty()) return fail(ui, why);
    OfflineConsole oc(ui, png);
    Console& con = oc.con;
    if (!loadImage(oc, ui, a.inputs[0])) return kExitFailed;
    const Mark m = markOf(ui, oc.events);
    if (a.autoContrast) {
        con.autoContrast();
    } else if (a.background || a.range) {
        ui.setContrastAnswers(a.background, a.range);
        con.adjustContrast();
    }
    applyObservation(con, ui, a);
    if (ui.messages().size() > m.messages) return kExitFailed;  // the dialog refused a value
    return writeImage(oc, ui, a.inputs[1]);
}

int runFlatfield(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string why = outputProblem(a.output); !why.empty()) return fail(ui, why);
    OfflineConsole oc(ui, png);
    Console& con = oc.con;
    if (!loadImage(oc, ui, a.inputs[0])) return kExitFailed;
    ui.queueFile(a.inputs[1]);
    con.applyFlatField();
    if (!oc.events.seen().flatCorrected) return kExitFailed;  // the console said why
    applyObservation(con, ui, a);
    return writeImage(oc, ui, a.output);
}

// The console's own checks of a firmware file (name, length, CRC), run on a console that
// has no line: a refused file never touches the port or its settings.
bool firmwareFileAccepted(CliUi& ui, const std::string& path) {
    struct Verdict : ConsoleEvents {
        bool started = false;
        std::optional<std::string> refused;
        void uploadStarted() override { started = true; }
        void uploadRefused(const std::string& message) override { refused = message; }
    } verdict;
    SilentUi silent(path);
    OfflinePort port;
    OfflineTimer timer;
    SystemClock clock;
    OfflineScheduler scheduler;
    Console con(port, silent, timer, clock, scheduler);
    con.setEvents(&verdict);
    con.uploadFirmware();
    if (verdict.started) return true;
    ui.error(verdict.refused.value_or(path + " was not accepted as KYR code"));
    return false;
}

// ---------------------------------------------------------------- the console on the line

class LineSession {
  public:
    LineSession(const CliArgs& a, CliUi& ui, ImageEncoder* png)
        : a_(a),
          ui_(ui),
          events_(ui),
          port_(a.portMap),
          con_(port_, ui, timer_, clock_, scheduler_),
          waiter_(a.timeoutSeconds, [this] { return events_.seen().events; }) {
        con_.setImageEncoder(png);
        con_.setEvents(&events_);
        // Whole paths are handed over: a "." in a folder's name stays.
        con_.files.cutInFileNameOnly = true;
        timer_.setCallback([this] { con_.onReplyTimer(); });
        events_.onEvent = [this] { waiter_.poke(); };
        ui_.onActivity = [this] { waiter_.poke(); };
    }
    ~LineSession() {
        // Exit: the link-off request, the port closed; a running capture is written.
        if (!con_.terminated()) con_.shutdown();
        timer_.setCallback(nullptr);
        events_.onEvent = nullptr;
        ui_.onActivity = nullptr;
    }
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    Console& con() { return con_; }
    CliEvents& events() { return events_; }
    Waiter& waiter() { return waiter_; }
    Mark mark() const { return markOf(ui_, events_); }

    // Runs the event loop from the mark until `done`; a line failure or a message box since
    // the mark (both on standard error already) ends it as Failed.
    WaitEnd wait(const Mark& from, const std::function<bool()>& done, bool stall = true,
                 std::optional<double> deadlineSeconds = std::nullopt) {
        return waiter_.run(
            [&] {
                if (events_.seen().lineFailures > from.lineFailures ||
                    ui_.messages().size() > from.messages)
                    return Check::Failed;
                return done() ? Check::Done : Check::Pending;
            },
            stall, deadlineSeconds);
    }

    // A wait that ended without its outcome: says why unless the console already did.
    int notDone(WaitEnd end, const std::string& stalled) {
        switch (end) {
            case WaitEnd::Done:
                return kExitOk;
            case WaitEnd::Failed:
                break;
            case WaitEnd::Stalled:
                ui_.error(stalled + " (nothing came for " + seconds() + ")");
                break;
            case WaitEnd::Deadline:
                ui_.error(stalled);
                break;
            case WaitEnd::Interrupted:
                ui_.error("interrupted");
                break;
        }
        return kExitFailed;
    }

    // Opens the port as start-up or Establish Link does and waits for the device's answer.
    bool open() {
        const Mark m = mark();
        if (!a_.port && !a_.baudCode) {
            con_.start();
        } else {
            if (a_.baudCode) {
                con_.setBaudRate(*a_.baudCode);
                if (events_.seen().lineFailures > m.lineFailures) return false;
            }
            con_.establishLink(a_.port.value_or(1));
        }
        const std::string where =
            "COM" + std::to_string(a_.port.value_or(1)) + " (" + port_.currentPath() + ")";
        if (events_.seen().lineFailures > m.lineFailures) return false;  // not opened
        const WaitEnd end = wait(m, [this] { return events_.seen().linkUp; });
        if (end != WaitEnd::Done) {
            notDone(end, "the KYR on " + where + " did not answer the link request");
            return false;
        }
        ui_.note("Linked to the KYR on " + where);
        return true;
    }

  private:
    std::string seconds() const {
        std::ostringstream s;
        s.imbue(std::locale::classic());
        s << a_.timeoutSeconds << " s";
        return s.str();
    }

    const CliArgs& a_;
    CliUi& ui_;
    CliEvents events_;
    RoutingSerialPort port_;
    QtReplyTimer timer_;
    QtClock clock_;
    // The wait after an upload: never shorter than asked.
    QtScheduler scheduler_;
    Console con_;
    Waiter waiter_;
};

void pressKey(Console& con, std::optional<PanelKey> k) {
    if (k)
        con.pressKey(*k);
    else
        con.toggleTurbo();
}

// How long the line must stay quiet after the last key before kyrctl ends, so that the
// display text the key brought is still printed.
constexpr int kSettleMs = 300;

int runLink(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    LineSession s(a, ui, png);
    return s.open() ? kExitOk : kExitFailed;
}

int runKeys(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    ui.setPrintDisplay(true);
    LineSession s(a, ui, png);
    if (!s.open()) return kExitFailed;
    s.events().refusalFails = true;
    for (const auto& name : a.keys) {
        const Mark m = s.mark();
        const int acks = s.events().seen().acknowledges;
        pressKey(s.con(), *keyByName(name));
        const WaitEnd end = s.wait(m, [&] { return s.events().seen().acknowledges > acks; });
        if (end != WaitEnd::Done)
            return s.notDone(end, "the KYR did not acknowledge the key " + name);
    }
    s.waiter().settle(kSettleMs);
    return kExitOk;
}

int runDisplay(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    ui.setPrintDisplay(true);
    LineSession s(a, ui, png);
    const Mark m = s.mark();
    if (!s.open()) return kExitFailed;
    if (!a.follow) {
        const WaitEnd end = s.wait(m, [&] { return s.events().seen().displays > 0; });
        return s.notDone(end, "no display text came from the KYR");
    }
    // Following: until the stated time, Ctrl-C, or the line fails.
    const WaitEnd end = s.wait(m, [] { return false; }, false, a.seconds);
    return end == WaitEnd::Failed ? kExitFailed : kExitOk;
}

int runDownload(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    // Refused before the device is troubled.
    if (const std::string why = outputProblem(a.output); !why.empty()) return fail(ui, why);

    LineSession s(a, ui, png);
    Console& con = s.con();
    const CliEvents& ev = s.events();
    if (!s.open()) return kExitFailed;
    ui.setProgressLabel("rows");
    Mark m = s.mark();
    const int images = ev.seen().images, empty = ev.seen().emptyHeaders;
    con.downloadScreenImage();
    const WaitEnd end = s.wait(
        m, [&] { return ev.seen().images > images || ev.seen().emptyHeaders > empty; });
    if (end != WaitEnd::Done) return s.notDone(end, "the KYR stopped sending the image");
    if (ev.seen().emptyHeaders > empty) return fail(ui, "the KYR has no image to send");

    applyObservation(con, ui, a);
    m = s.mark();
    ui.queueFile(a.output);
    con.saveImageAs();
    if (!filesFine(ui, ev, m)) return kExitFailed;
    printPanel(ui);
    return kExitOk;
}

int runDownloadAll(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string why = missingFolder(a.output); !why.empty()) return fail(ui, why);

    LineSession s(a, ui, png);
    Console& con = s.con();
    const CliEvents& ev = s.events();
    if (!s.open()) return kExitFailed;
    ui.setProgressLabel("rows");
    const Mark m = s.mark();
    const int empty = ev.seen().emptyHeaders;
    ui.queueFile(a.output);
    con.downloadAll();
    const WaitEnd end = s.wait(m, [&] {
        return ev.seen().downloadAllOver || ev.seen().buffersEmpty ||
               ev.seen().emptyHeaders > empty;
    });
    if (end != WaitEnd::Done) return s.notDone(end, "the KYR stopped sending images");
    if (ev.seen().emptyHeaders > empty)
        return fail(ui, "the KYR sent an empty image: Download All stopped");
    if (ev.seen().buffersEmpty) {
        ui.note("Nothing to download: the KYR's buffers hold no image");
        return kExitOk;
    }
    if (!filesFine(ui, ev, m)) return kExitFailed;
    const int n = ev.seen().downloadAllImages;
    ui.note("Download All: " + std::to_string(n) + (n == 1 ? " image" : " images") +
            " downloaded");
    return kExitOk;
}

int runCapture(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    // The capture writer replaces files; kyrctl never does.
    const std::string base = cutBeforeFirstDotOfName(a.output);
    if (const std::string why = outputProblem(captureSingleFileName(base)); !why.empty())
        return fail(ui, why);
    for (int part = 1; part <= 999; ++part)
        if (const std::string why = outputProblem(capturePartFileName(base, part)); !why.empty())
            return fail(ui, why);

    LineSession s(a, ui, png);
    Console& con = s.con();
    CliEvents& ev = s.events();
    if (!s.open()) return kExitFailed;
    ui.setProgressLabel("records");
    const Mark m = s.mark();
    ui.queueFile(a.output);
    con.setCaptureFileName();
    if (ui.messages().size() > m.messages) return kExitFailed;
    con.startCapture();
    ui.note("Capturing the display text into " + captureSingleFileName(base) +
            " (Ctrl-C ends the capture)");

    const int want = a.records.value_or(0);
    ev.recordsWanted = want;
    const int records = ev.seen().records;
    const WaitEnd end = s.wait(
        m, [&] { return want > 0 && ev.seen().records - records >= want; }, want > 0, a.seconds);

    con.endCapture();  // End Data Capture: what was held is written
    const int got = ev.seen().records - records;
    if (end == WaitEnd::Failed) return kExitFailed;
    if (end == WaitEnd::Stalled)
        return fail(ui, "only " + std::to_string(got) + " of " + std::to_string(want) +
                            " records captured: the display did not change");
    ui.note(std::to_string(got) + (got == 1 ? " record" : " records") + " captured");
    return filesFine(ui, ev, m) ? kExitOk : kExitFailed;
}

int runUpload(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (!firmwareFileAccepted(ui, a.inputs[0])) return kExitFailed;

    LineSession s(a, ui, png);
    Console& con = s.con();
    const CliEvents& ev = s.events();
    if (!s.open()) return kExitFailed;
    ui.setProgressLabel("pages");
    Mark m = s.mark();
    ui.queueFile(a.inputs[0]);
    con.uploadFirmware();
    if (!ev.seen().uploadStarted) return kExitFailed;  // refused: the console said why
    ui.note("Uploading " + a.inputs[0]);
    WaitEnd end = s.wait(m, [&] { return ev.seen().uploadDone; });
    if (end != WaitEnd::Done) return s.notDone(end, "the upload stopped: no answer from the KYR");
    // The device restarts; the link request follows after two seconds.
    m = s.mark();
    end = s.wait(m, [&] { return ev.seen().uploadLinkRequested; }, false, 10.0);
    if (end != WaitEnd::Done) return s.notDone(end, "the link was not requested again");
    ui.note("KYR code uploaded; the KYR restarts and the link was requested again");
    return kExitOk;
}

}  // namespace

int runCommand(const CliArgs& args, CliUi& ui, ImageEncoder* png) {
    switch (args.command) {
        case Command::Link:
            return runLink(args, ui, png);
        case Command::Keys:
            return runKeys(args, ui, png);
        case Command::Display:
            return runDisplay(args, ui, png);
        case Command::Download:
            return runDownload(args, ui, png);
        case Command::DownloadAll:
            return runDownloadAll(args, ui, png);
        case Command::Capture:
            return runCapture(args, ui, png);
        case Command::Upload:
            return runUpload(args, ui, png);
        case Command::Info:
            return runInfo(args, ui, png);
        case Command::Convert:
            return runConvert(args, ui, png);
        case Command::Flatfield:
            return runFlatfield(args, ui, png);
        case Command::None:
        case Command::Help:
            break;
    }
    return kExitUsage;
}

}  // namespace kyr::cli
