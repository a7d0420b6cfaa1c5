#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <system_error>

#include "cli/offline_devices.h"
#include "cli/waiter.h"
#include "console/console.h"
#include "files/file_io.h"
#include "qtio/qt_platform.h"
#include "qtio/serial_adapters.h"
#include "observation/capture_log.h"

namespace kyr::cli {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- names and folders

std::string ConsoleName::shown(const std::string& reported) const {
    return folder.empty() ? reported : (fs::path(folder) / reported).string();
}

ConsoleName consoleName(const std::string& typed) {
    const fs::path p(typed);
    const std::string parent = p.parent_path().string();
    if (parent.find('.') == std::string::npos) return {typed, {}};
    return {p.filename().string(), parent};
}

namespace {

// Enters a folder for as long as it lives.
class FolderScope {
  public:
    explicit FolderScope(const std::string& folder) {
        if (folder.empty()) return;
        std::error_code ec;
        old_ = fs::current_path(ec);
        if (!ec) fs::current_path(folder, ec);
        if (ec)
            error_ = "the folder " + folder + " cannot be entered (" + ec.message() + ")";
        else
            entered_ = true;
    }
    ~FolderScope() {
        std::error_code ec;
        if (entered_) fs::current_path(old_, ec);
    }
    FolderScope(const FolderScope&) = delete;
    FolderScope& operator=(const FolderScope&) = delete;
    const std::string& error() const { return error_; }

  private:
    fs::path old_;
    bool entered_ = false;
    std::string error_;
};

bool startsWith(const std::string& s, const std::string& p) {
    return s.rfind(p, 0) == 0;
}
bool endsWith(const std::string& s, const std::string& p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}
bool contains(const std::string& s, const std::string& p) {
    return s.find(p) != std::string::npos;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A status that says a file was not written.
bool isWriteFailure(const std::string& s) {
    return endsWith(s, " already exists!") || contains(s, " was not saved: ") ||
           s == "999 file number limit reached!" || startsWith(s, "Unable to write ");
}

// A status that ends work on the line.
bool isLineFailure(const std::string& s) {
    return s == "Communication Failed" || contains(s, " connection lost") || s == kNoPortMessage;
}

// What the console had said up to a point, so that a look afterwards sees only what came
// after.
struct Mark {
    std::size_t status = 0, messages = 0;
};

Mark markOf(const CliUi& ui) {
    return {ui.statusHistory().size(), ui.messages().size()};
}

std::span<const std::string> statusesSince(const CliUi& ui, const Mark& m) {
    const auto& h = ui.statusHistory();
    const std::size_t from = std::min(m.status, h.size());
    return {h.data() + from, h.size() - from};
}

bool statusSince(const CliUi& ui, const Mark& m, const std::string& text) {
    const auto s = statusesSince(ui, m);
    return std::find(s.begin(), s.end(), text) != s.end();
}

// Follows what the console says from a point on, looking at each text once, so that a long
// wait (a night's capture) costs no more per event than a short one.
class Watch {
  public:
    explicit Watch(const CliUi& ui, std::set<std::string> lookFor = {})
        : ui_(ui),
          next_(ui.statusHistory().size()),
          messagesAt_(ui.messages().size()),
          lookFor_(std::move(lookFor)) {}

    // Takes in what came since the last look.
    void update() {
        const auto& h = ui_.statusHistory();
        for (; next_ < h.size(); ++next_) {
            const std::string& s = h[next_];
            if (startsWith(s, "Logging Record Number "))
                ++records_;
            else if (!trouble_ && isLineFailure(s))
                trouble_ = s;
            else if (lookFor_.count(s) != 0)
                seen_.insert(s);
        }
        if (!trouble_ && ui_.messages().size() > messagesAt_)
            trouble_ = ui_.messages()[messagesAt_];
    }
    // A text given at construction that the console has shown since.
    bool saw(const std::string& text) const { return seen_.count(text) != 0; }
    // Records appended to the capture log since.
    int records() const { return records_; }
    // The first message box or failed line since.
    const std::optional<std::string>& trouble() const { return trouble_; }
    // The wait's verdict on trouble: Failed with its text, else Pending.
    Check troubleCheck(std::string& failure) const {
        if (!trouble_) return Check::Pending;
        failure = *trouble_;
        return Check::Failed;
    }

  private:
    const CliUi& ui_;
    std::size_t next_;
    std::size_t messagesAt_;
    std::set<std::string> lookFor_, seen_;
    int records_ = 0;
    std::optional<std::string> trouble_;
};

// Files written and failures of the writers since the mark; false when something was not
// written (reported on standard error as the console worded it).
bool reportWrites(CliUi& ui, const Mark& m, const ConsoleName& where, const std::string& suffix,
                  bool printNames) {
    bool ok = ui.messages().size() == m.messages;
    for (const auto& s : statusesSince(ui, m)) {
        if (isWriteFailure(s)) {
            ui.error(s);
            ok = false;
        } else if (printNames && endsWith(s, suffix) && !startsWith(s, "Saving ")) {
            ui.printOut(where.shown(s.substr(0, s.size() - suffix.size())) + "\n");
        }
    }
    return ok;
}

void applyObservation(Console& con, CliUi& ui, const CliArgs& a) {
    if (a.metric) {
        if (*a.metric)
            con.mnucentimeters_Click();
        else
            con.mnuinches_Click();
    }
    if (a.note) {
        ui.setPromptAnswer("Note", *a.note);
        con.mnunote_Click();
    }
    if (a.focalLength) {
        ui.setPromptAnswer("Focal Length", *a.focalLength);
        con.mnufocallength_Click();
    }
    if (a.aperture) {
        ui.setPromptAnswer("Aperture Diameter", *a.aperture);
        con.mnuaperturedia_Click();
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

// The folder an output goes to, checked before the device is asked for anything.
std::string missingFolder(const std::string& typed) {
    const fs::path folder = fs::path(typed).parent_path();
    std::error_code ec;
    if (folder.empty() || fs::is_directory(folder, ec)) return {};
    return "the folder " + folder.string() + " does not exist";
}

// ---------------------------------------------------------------- the console on files

struct OfflineConsole {
    OfflinePort port;
    OfflineTimer timer;
    SystemClock clock;
    OfflineScheduler scheduler;
    Console con;
    OfflineConsole(CliUi& ui, ImageEncoder* png) : con(port, ui, timer, clock, scheduler) {
        con.setImageEncoder(png);
    }
};

// "Load KYR  Frame from Disk" with the typed name; true when the image was loaded (the
// console's messages are already on standard error).
bool loadImage(Console& con, CliUi& ui, const std::string& typed) {
    const ConsoleName n = consoleName(typed);
    FolderScope folder(n.folder);
    if (!folder.error().empty()) {
        ui.error(folder.error());
        return false;
    }
    const int pictures = ui.pictureCount();
    ui.queueFile(n.name);
    con.loadImageFile();
    return ui.pictureCount() > pictures;
}

// Writes the image to `typed` by its extension through the console's writers.
int writeImage(Console& con, CliUi& ui, const std::string& typed) {
    const ConsoleName n = consoleName(typed);
    FolderScope folder(n.folder);
    if (!folder.error().empty()) return fail(ui, folder.error());
    const std::string ext = lower(fs::path(typed).extension().string());
    const Mark m = markOf(ui);
    ui.queueFile(n.name);
    if (ext == ".kyr")
        con.saveImageNow();
    else if (ext == ".bmp")
        con.exportImageBitmap();
    else if (ext == ".png")
        con.exportPng();
    else
        con.exportFits();
    bool saved = false;
    for (const auto& s : statusesSince(ui, m)) saved |= endsWith(s, " saved");
    const bool ok = reportWrites(ui, m, n, " saved", false);
    return ok && saved ? kExitOk : kExitFailed;
}

int runInfo(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    OfflineConsole oc(ui, png);
    if (!loadImage(oc.con, ui, a.inputs[0])) return kExitFailed;
    printPanel(ui);
    return kExitOk;
}

int runConvert(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    OfflineConsole oc(ui, png);
    Console& con = oc.con;
    if (!loadImage(con, ui, a.inputs[0])) return kExitFailed;
    const Mark m = markOf(ui);
    if (a.autoContrast) {
        con.mnuautocontrast_Click();
    } else if (a.background || a.range) {
        ui.setContrastAnswers(a.background, a.range);
        con.mnucontrast_Click();
    }
    applyObservation(con, ui, a);
    if (ui.messages().size() > m.messages) return kExitFailed;
    return writeImage(con, ui, a.inputs[1]);
}

int runFlatfield(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    OfflineConsole oc(ui, png);
    Console& con = oc.con;
    if (!loadImage(con, ui, a.inputs[0])) return kExitFailed;
    const Mark m = markOf(ui);
    ui.queueFile(a.inputs[1]);  // the flat-field loader takes the name as it is
    con.mnuflatfield_Click();
    if (!statusSince(ui, m, "Done with flat field correction")) {
        if (ui.messages().size() == m.messages) ui.error("Flat field correction failed");
        return kExitFailed;
    }
    applyObservation(con, ui, a);
    return writeImage(con, ui, a.output);
}

// ---------------------------------------------------------------- the console on the line

// Deferred calls on the event loop, counted so that a command can wait for them.
class CliScheduler : public Scheduler {
  public:
    std::function<void()> afterCall;
    void callLater(int ms, std::function<void()> fn) override {
        ++pending_;
        inner_.callLater(ms, [this, fn = std::move(fn)] {
            --pending_;
            if (fn) fn();
            if (afterCall) afterCall();
        });
    }
    int pending() const { return pending_; }

  private:
    QtScheduler inner_;
    int pending_ = 0;
};

class LineSession {
  public:
    LineSession(const CliArgs& a, CliUi& ui, ImageEncoder* png)
        : a_(a),
          ui_(ui),
          port_(a.portMap),
          con_(port_, ui, timer_, clock_, scheduler_),
          waiter_(ui, a.timeoutSeconds) {
        con_.setImageEncoder(png);
        // The same handlers the window wires, each followed by a look at the outcome.
        port_.setOnComm([this] {
            con_.MSComm1_OnComm();
            waiter_.poke();
        });
        timer_.setCallback([this] {
            con_.entrytimer_Timer();
            waiter_.poke();
        });
        scheduler_.afterCall = [this] { waiter_.poke(); };
    }
    ~LineSession() {
        // Exit: the link-off request, the port closed; a running capture is written.
        if (!con_.terminated()) con_.Form_Unload();
        timer_.setCallback(nullptr);
        port_.setOnComm(nullptr);
        scheduler_.afterCall = nullptr;
    }
    LineSession(const LineSession&) = delete;
    LineSession& operator=(const LineSession&) = delete;

    Console& con() { return con_; }
    Waiter& waiter() { return waiter_; }
    CliScheduler& scheduler() { return scheduler_; }

    // Opens the port as start-up or Establish Link does and waits for the device's answer.
    bool open(std::string& failure) {
        if (!a_.port && !a_.baudCode) {
            con_.Form_Load();
        } else {
            if (a_.baudCode) {
                con_.setBaudRate(*a_.baudCode);
                if (con_.link.baudCode != *a_.baudCode) {
                    failure = ui_.lastStatus();
                    return false;
                }
            }
            con_.establishLink(a_.port.value_or(1));
        }
        if (!con_.link.portOpen) {
            failure = ui_.lastStatus();
            return false;
        }
        Watch w(ui_);
        const WaitResult r = waiter_.run([&](std::string& f) {
            w.update();
            if (con_.link.linkEstablished) return Check::Done;
            return w.troubleCheck(f);
        });
        return finished(r, failure, ui_.lastStatus() + " (no answer from the KYR)");
    }

    // Turns the end of a wait into success, or the failure text.
    bool finished(const WaitResult& r, std::string& failure, const std::string& stalled) const {
        switch (r.end) {
            case WaitEnd::Done:
                return true;
            case WaitEnd::Failed:
                failure = r.failure;
                return false;
            case WaitEnd::Stalled:
                failure = stalled;
                return false;
            case WaitEnd::Deadline:
                failure = "the stated time is over";
                return false;
            case WaitEnd::Interrupted:
                failure = "Interrupted";
                return false;
        }
        return false;
    }

  private:
    const CliArgs& a_;
    CliUi& ui_;
    RoutingSerialPort port_;
    QtReplyTimer timer_;
    QtClock clock_;
    CliScheduler scheduler_;
    Console con_;
    Waiter waiter_;
};

void pressKey(Console& con, Key k) {
    switch (k) {
        case Key::Focus:
            con.cmdfocus_Click();
            break;
        case Key::Image:
            con.cmdimage_Click();
            break;
        case Key::Monitor:
            con.cmdmonitor_Click();
            break;
        case Key::Turbo:
            con.cmdturbo_Click();
            break;
        case Key::Parameter:
            con.cmdparameter_Click();
            break;
        case Key::Setup:
            con.cmdsetup_Click();
            break;
        case Key::Value:
            con.cmdvalue_Click();
            break;
        case Key::Interrupt:
            con.cmdinterrupt_Click();
            break;
        case Key::Calibrate:
            con.cmdcalibrate_Click();
            break;
        case Key::Track:
            con.cmdtrack_Click();
            break;
        case Key::Display:
            con.cmddisplay_Click();
            break;
        case Key::FileOps:
            con.cmdfileops_Click();
            break;
        case Key::Up:
            con.cmdup_Click();
            break;
        case Key::Down:
            con.cmddown_Click();
            break;
        case Key::Left:
            con.cmdleft_Click();
            break;
        case Key::Right:
            con.cmdright_Click();
            break;
    }
}

// How long the line must stay quiet after the last key before kyrctl ends, so that the
// display text the key brought is still printed.
constexpr int kSettleMs = 300;

int runLink(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    LineSession s(a, ui, png);
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    return kExitOk;
}

int runKeys(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    ui.setPrintDisplay(true);
    LineSession s(a, ui, png);
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    for (const auto& name : a.keys) {
        const std::string acknowledged = "Keypress acknowledged";
        const std::string refused = "KYR did not understand command";
        Watch w(ui, {acknowledged, refused});
        pressKey(s.con(), *keyByName(name));
        const WaitResult r = s.waiter().run([&](std::string& f) {
            w.update();
            if (w.saw(acknowledged)) return Check::Done;
            if (w.saw(refused)) {
                f = refused;
                return Check::Failed;
            }
            return w.troubleCheck(f);
        });
        if (!s.finished(r, failure, "Keypress not acknowledged")) return fail(ui, failure);
    }
    s.waiter().settle(kSettleMs);
    return kExitOk;
}

int runDisplay(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    ui.setPrintDisplay(true);
    LineSession s(a, ui, png);
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    Watch w(ui);
    if (!a.follow) {
        const WaitResult r = s.waiter().run([&](std::string& f) {
            w.update();
            if (!ui.displayHistory().empty()) return Check::Done;
            return w.troubleCheck(f);
        });
        if (!s.finished(r, failure, "No display text received from the KYR"))
            return fail(ui, failure);
        return kExitOk;
    }
    // Following: until the stated time, Ctrl-C, or the line fails.
    const WaitResult r = s.waiter().run(
        [&](std::string& f) {
            w.update();
            return w.troubleCheck(f);
        },
        false, a.seconds);
    if (r.end == WaitEnd::Failed) return fail(ui, r.failure);
    return kExitOk;
}

int runDownload(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string err = missingFolder(a.output); !err.empty()) return fail(ui, err);
    const ConsoleName out = consoleName(a.output);
    // Refused before the device is troubled: the console would not write over it.
    const std::string kyrName = cutBeforeFirstDot(out.name) + ".KYR";
    if (fileExists(fs::path(out.folder.empty() ? "." : out.folder) / kyrName))
        return fail(ui, out.shown(kyrName) + " already exists!");

    LineSession s(a, ui, png);
    Console& con = s.con();
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    ui.setProgressLabel("rows");
    Watch w(ui);
    con.mnudownloadlight_Click();
    const WaitResult r = s.waiter().run([&](std::string& f) {
        w.update();
        if (con.download.imageComplete) return Check::Done;
        if (w.troubleCheck(f) == Check::Failed) return Check::Failed;
        if (!con.download.awaitingHeader && !con.download.receivingRows) {
            // A header of height 0 ends the transfer without a word.
            f = ui.lastStatus() == "Header data being received per host request"
                    ? "The KYR has no image to send"
                    : ui.lastStatus();
            return Check::Failed;
        }
        return Check::Pending;
    });
    if (!s.finished(r, failure, "Communication Failed")) return fail(ui, failure);

    applyObservation(con, ui, a);
    FolderScope folder(out.folder);
    if (!folder.error().empty()) return fail(ui, folder.error());
    const Mark saveMark = markOf(ui);
    ui.queueFile(out.name);
    con.saveImageNow();
    if (!reportWrites(ui, saveMark, out, " saved", false)) return kExitFailed;
    printPanel(ui);
    return kExitOk;
}

int runDownloadAll(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string err = missingFolder(a.output); !err.empty()) return fail(ui, err);
    const ConsoleName base = consoleName(a.output);
    FolderScope folder(base.folder);  // the images are saved as they arrive
    if (!folder.error().empty()) return fail(ui, folder.error());

    LineSession s(a, ui, png);
    Console& con = s.con();
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    ui.setProgressLabel("rows");
    const Mark m = markOf(ui);
    const int pictures = ui.pictureCount();
    bool started = false;
    const std::string empty = "KYR data buffers are empty";
    Watch w(ui, {empty});
    ui.queueFile(base.name);
    con.mnuflashdownload_Click();
    const WaitResult r = s.waiter().run([&](std::string& f) {
        w.update();
        if (w.troubleCheck(f) == Check::Failed) return Check::Failed;
        if (w.saw(empty)) return Check::Done;
        started |= con.download.downloadAllActive || ui.pictureCount() > pictures;
        if (started && !con.download.awaitingHeader && !con.download.receivingRows) {
            if (con.download.downloadAllActive) {
                f = "The KYR sent an empty image: Download All stopped";
                return Check::Failed;
            }
            return Check::Done;
        }
        return Check::Pending;
    });
    const bool written = reportWrites(ui, m, base, " saved", true);
    if (!s.finished(r, failure, "Communication Failed")) return fail(ui, failure);
    return written ? kExitOk : kExitFailed;
}

int runCapture(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    if (const std::string err = missingFolder(a.output); !err.empty()) return fail(ui, err);
    const ConsoleName base = consoleName(a.output);
    FolderScope folder(base.folder);
    if (!folder.error().empty()) return fail(ui, folder.error());
    // The capture writer replaces files; kyrctl never does.
    const std::string cut = cutBeforeFirstDot(base.name);
    if (fileExists(captureSingleFileName(cut)))
        return fail(ui, base.shown(captureSingleFileName(cut)) + " already exists!");
    for (int part = 1; part <= 999; ++part)
        if (fileExists(capturePartFileName(cut, part)))
            return fail(ui, base.shown(capturePartFileName(cut, part)) + " already exists!");

    LineSession s(a, ui, png);
    Console& con = s.con();
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    ui.setProgressLabel("records");
    const Mark m = markOf(ui);
    ui.queueFile(base.name);
    con.mnuSetFileName_Click();
    if (ui.messages().size() > m.messages) return kExitFailed;
    con.mnuStartCapture_Click();

    const int want = a.records.value_or(0);
    Watch w(ui);
    const WaitResult r = s.waiter().run(
        [&](std::string& f) {
            w.update();
            if (want > 0 && w.records() >= want) return Check::Done;
            return w.troubleCheck(f);
        },
        want > 0, a.seconds);

    const Mark end = markOf(ui);
    con.mnuEndCapture_Click();  // End Data Capture: what was held is written
    const bool written = reportWrites(ui, end, base, " written to disk", true);
    if (r.end == WaitEnd::Failed) return fail(ui, r.failure);
    if (r.end == WaitEnd::Stalled)
        return fail(ui, "Only " + std::to_string(w.records()) + " of " + std::to_string(want) +
                            " records captured: the display did not change");
    return written ? kExitOk : kExitFailed;
}

int runUpload(const CliArgs& a, CliUi& ui, ImageEncoder* png) {
    LineSession s(a, ui, png);
    Console& con = s.con();
    std::string failure;
    if (!s.open(failure)) return fail(ui, failure);
    ui.setProgressLabel("pages");
    const Mark m = markOf(ui);
    ui.queueFile(a.inputs[0]);
    con.mnuUploadFile_Click();
    if (ui.messages().size() > m.messages) return kExitFailed;  // the file was refused
    if (con.upload.uploadState == UploadState::Idle) return fail(ui, ui.lastStatus());

    const std::string done = "Code succesfully uploaded - KYR restarting";
    Watch w(ui, {done});
    WaitResult r = s.waiter().run([&](std::string& f) {
        w.update();
        if (w.saw(done)) return Check::Done;
        return w.troubleCheck(f);
    });
    if (!s.finished(r, failure, "The upload stopped: no answer from the KYR"))
        return fail(ui, failure);
    // The device restarts; the link request follows two seconds later.
    r = s.waiter().run(
        [&](std::string&) { return s.scheduler().pending() == 0 ? Check::Done : Check::Pending; },
        false, 10.0);
    if (r.end != WaitEnd::Done) return fail(ui, "Interrupted before the link was requested again");
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
