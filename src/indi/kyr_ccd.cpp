#include "indi/kyr_ccd.h"

#include <fitsio.h>
#include <indilogger.h>
#include <indistandardproperty.h>
#include <sharedblob.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "files/file_io.h"
#include "files/fits_cards.h"
#include "link/line_settings.h"
#include "link/speed_table.h"

namespace kyr::indi {

namespace {

namespace fs = std::filesystem;

const char* const kKyrTab = "KYR";
constexpr int kFullWidth = 320, kFullHeight = 200;
// Until a header tells: the pixel size of the first readout mode.
constexpr double kDefaultPixelMicrons = 7.4;
// A row request on the line: the frame around its 8-byte payload.
constexpr int kRowRequestBytes = 14;

struct KeyItem {
    const char* name;
    const char* label;
    PanelKey key;
};
struct KeyGroup {
    const char* property;
    const char* label;
    int count;
    KeyItem keys[4];
};
// The front panel as the device groups it, but Turbo, which is a toggle of its own. Clients
// show a switch vector of a few members as a row of buttons (more become a drop-down list),
// so the arrows of the Control group have a row of their own.
constexpr KeyGroup kKeyGroups[] = {
    {"KYR_ACQUIRE",
     "Acquire",
     3,
     {{"FOCUS", "Focus", PanelKey::Focus},
      {"IMAGE", "Image", PanelKey::Image},
      {"MONITOR", "Monitor", PanelKey::Monitor}}},
    {"KYR_GUIDE",
     "Guide",
     2,
     {{"CALIBRATE", "Calibrate", PanelKey::Calibrate}, {"TRACK", "Track", PanelKey::Track}}},
    {"KYR_PROCESS",
     "Process",
     2,
     {{"DISPLAY", "Display", PanelKey::Display}, {"FILE_OPS", "File Ops", PanelKey::FileOps}}},
    {"KYR_CONTROL",
     "Control",
     2,
     {{"PARAMETER", "Parameter", PanelKey::Parameter}, {"VALUE", "Value", PanelKey::Value}}},
    {"KYR_ARROWS",
     "Arrows",
     4,
     {{"UP", "Up", PanelKey::Up},
      {"DOWN", "Down", PanelKey::Down},
      {"LEFT", "Left", PanelKey::Left},
      {"RIGHT", "Right", PanelKey::Right}}},
    {"KYR_SETUP",
     "Setup / Interrupt",
     2,
     {{"SETUP", "Setup", PanelKey::Setup}, {"INTERRUPT", "Interrupt", PanelKey::Interrupt}}},
};

std::string numberText(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &local);
    return buf;
}

// A serial line that does not go looking for the device on every other port of the machine
// unless the user asks for it, and offers only the speeds the KYR has.
class KyrSerial : public NetworkSerial {
  public:
    explicit KyrSerial(INDI::DefaultDevice* dev) : NetworkSerial(dev) {
        int index = -1;
        if (IUGetConfigOnSwitchIndex(dev->getDeviceName(), INDI::SP::DEVICE_AUTO_SEARCH, &index) !=
            0) {
            AutoSearchS[INDI::DefaultDevice::INDI_ENABLED].s = ISS_OFF;
            AutoSearchS[INDI::DefaultDevice::INDI_DISABLED].s = ISS_ON;
        }
        // The rates are the members' labels; the others are dropped from the end.
        int kept = 0;
        for (int i = 0; i < BaudRateSP.nsp; ++i)
            if (baudCodeForRate(std::atol(BaudRateS[i].label)) != 0) BaudRateS[kept++] = BaudRateS[i];
        BaudRateSP.nsp = kept;
    }
};

// The value of a FITS card in `cards` (added when it is not there).
FitsCard& card(std::vector<FitsCard>& cards, const std::string& key, FitsCard::Kind kind) {
    for (FitsCard& c : cards)
        if (c.key == key) return c;
    cards.push_back(FitsCard{kind, key, {}, 0, 0.0, 0, {}});
    return cards.back();
}

}  // namespace

std::string displayUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// ---------------------------------------------------------------- construction

KyrCcd::KyrCcd()
    : ui_([this](IndiUi::Level level, const std::string& text) {
          switch (level) {
              case IndiUi::Level::Debug:
                  LOGF_DEBUG("%s", text.c_str());
                  break;
              case IndiUi::Level::Info:
                  LOGF_INFO("%s", text.c_str());
                  break;
              case IndiUi::Level::Error:
                  LOGF_ERROR("%s", text.c_str());
                  break;
          }
      }),
      con_(port_, ui_, timer_, clock_, scheduler_),
      camera_(con_, scheduler_, clock_) {
    setVersion(KYR_VERSION_MAJOR, KYR_VERSION_MINOR);
    camera_.setListener(this);
    camera_.forwardConsoleEvents(this);
    con_.files.cutInFileNameOnly = true;
    timer_.setCallback([this] { con_.onReplyTimer(); });
    // Without a save folder, Download All still publishes every image; its files go nowhere.
    con_.setFileWriter([this](const fs::path& path, std::span<const std::uint8_t> bytes) {
        return savingFiles() ? writeNewFile(path, bytes) : std::string();
    });
}

KyrCcd::~KyrCcd() {
    camera_.setListener(nullptr);
    camera_.forwardConsoleEvents(nullptr);
    timer_.setCallback(nullptr);
}

bool KyrCcd::initProperties() {
    INDI::CCD::initProperties();
    SetCCDCapability(CCD_CAN_ABORT | CCD_CAN_SUBFRAME | CCD_CAN_BIN);
    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0.01, 3600, 0.01, false);
    SetCCDParams(kFullWidth, kFullHeight, 16, kDefaultPixelMicrons, kDefaultPixelMicrons);
    PrimaryCCD.setFrameBufferSize(kFullWidth * kFullHeight * 2);
    addCaptureFormat({"INDI_MONO", "Mono", 16, true, true});
    // The sensor temperature comes with every image; the KYR has no cooler to set.
    TemperatureNP.p = IP_RO;

    const char* dev = getDeviceName();
    static_assert(std::size(kKeyGroups) == kKeyGroupCount);
    for (int g = 0; g < kKeyGroupCount; ++g) {
        const KeyGroup& group = kKeyGroups[g];
        for (int i = 0; i < group.count; ++i)
            IUFillSwitch(&KeyS[g][i], group.keys[i].name, group.keys[i].label, ISS_OFF);
        IUFillSwitchVector(&KeySP[g], KeyS[g], group.count, dev, group.property, group.label,
                           kKyrTab, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    }
    IUFillSwitch(&TurboS[0], "TURBO_ON", "On", ISS_OFF);
    IUFillSwitch(&TurboS[1], "TURBO_OFF", "Off", ISS_ON);
    IUFillSwitchVector(&TurboSP, TurboS, 2, dev, "KYR_TURBO", "Turbo", kKyrTab, IP_RW, ISR_1OFMANY,
                       60, IPS_IDLE);
    IUFillText(&DisplayT[0], "LINE1", "Line 1", "");
    IUFillText(&DisplayT[1], "LINE2", "Line 2", "");
    IUFillTextVector(&DisplayTP, DisplayT, 2, dev, "KYR_DISPLAY", "Display", kKyrTab, IP_RO, 60,
                     IPS_IDLE);
    IUFillSwitch(&DownloadAllS[0], "DOWNLOAD_ALL_START", "Start", ISS_OFF);
    IUFillSwitch(&DownloadAllS[1], "DOWNLOAD_ALL_ABORT", "Abort", ISS_OFF);
    IUFillSwitchVector(&DownloadAllSP, DownloadAllS, 2, dev, "KYR_DOWNLOAD_ALL", "Download All",
                       kKyrTab, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    IUFillSwitch(&AutoDownloadS[0], "INDI_ENABLED", "On", ISS_OFF);
    IUFillSwitch(&AutoDownloadS[1], "INDI_DISABLED", "Off", ISS_ON);
    IUFillSwitchVector(&AutoDownloadSP, AutoDownloadS, 2, dev, "KYR_AUTO_DOWNLOAD", "Auto download",
                       kKyrTab, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    IUFillText(&SaveT[0], "FOLDER", "Folder", "");
    IUFillTextVector(&SaveTP, SaveT, 1, dev, "KYR_SAVE", "Save folder", kKyrTab, IP_RW, 60,
                     IPS_IDLE);
    IUFillSwitch(&UnitsS[0], "INCHES", "Inches", ISS_ON);
    IUFillSwitch(&UnitsS[1], "CENTIMETERS", "Centimeters", ISS_OFF);
    IUFillSwitchVector(&UnitsSP, UnitsS, 2, dev, "KYR_UNITS", "Units", kKyrTab, IP_RW, ISR_1OFMANY,
                       60, IPS_IDLE);
    IUFillNumber(&OpticsN[0], "FOCAL_LENGTH", "Focal length", "%.2f", 0, 100000, 0, 0);
    IUFillNumber(&OpticsN[1], "APERTURE", "Aperture diameter", "%.2f", 0, 10000, 0, 0);
    IUFillNumberVector(&OpticsNP, OpticsN, 2, dev, "KYR_OPTICS", "Optics (0: as the KYR says)",
                       kKyrTab, IP_RW, 60, IPS_IDLE);
    IUFillText(&NoteT[0], "NOTE", "Note", "");
    IUFillTextVector(&NoteTP, NoteT, 1, dev, "KYR_NOTE", "Note", kKyrTab, IP_RW, 60, IPS_IDLE);
    IUFillSwitch(&CaptureS[0], "CAPTURE_START", "Start", ISS_OFF);
    IUFillSwitch(&CaptureS[1], "CAPTURE_STOP", "Stop", ISS_OFF);
    IUFillSwitchVector(&CaptureSP, CaptureS, 2, dev, "KYR_CAPTURE", "Display capture", kKyrTab,
                       IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    IUFillSwitch(&DateSourceS[0], "KYR_CLOCK", "KYR's clock", ISS_ON);
    IUFillSwitch(&DateSourceS[1], "COMPUTER_UTC", "Computer (UTC)", ISS_OFF);
    IUFillSwitchVector(&DateSourceSP, DateSourceS, 2, dev, "KYR_DATE_OBS", "DATE-OBS from", kKyrTab,
                       IP_RW, ISR_1OFMANY, 60, IPS_IDLE);

    serial_ = std::make_unique<KyrSerial>(this);
    serial_->setDefaultPort("/dev/ttyUSB0");
    serial_->setDefaultBaudRate(Connection::Serial::B_115200);
    serial_->setWordSize(8);
    serial_->setParity(0);
    serial_->setStopBits(2);
    serial_->registerHandshake(
        [this] { return handshake(serial_->getPortFD(), serial_->baud(), serial_->wire()); });
    registerConnection(serial_.get());
    tcp_ = std::make_unique<Connection::TCP>(this);
    tcp_->registerHandshake([this] { return handshake(tcp_->getPortFD(), 115200); });
    registerConnection(tcp_.get());

    addDebugControl();
    return true;
}

bool KyrCcd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        defineProperty(&TemperatureNP);
        showCameraGeometry();
        defineProperty(&DisplayTP);
        for (ISwitchVectorProperty& keys : KeySP) defineProperty(&keys);
        defineProperty(&TurboSP);
        defineProperty(&DownloadAllSP);
        defineProperty(&SaveTP);
        defineProperty(&AutoDownloadSP);
        defineProperty(&UnitsSP);
        defineProperty(&OpticsNP);
        defineProperty(&NoteTP);
        defineProperty(&CaptureSP);
        defineProperty(&DateSourceSP);
        // The observer's settings as kept; the save folder before auto download, which
        // needs it.
        loadConfig(true, SaveTP.name);
        loadConfig(true, UnitsSP.name);
        loadConfig(true, OpticsNP.name);
        loadConfig(true, NoteTP.name);
        loadConfig(true, AutoDownloadSP.name);
        loadConfig(true, DateSourceSP.name);
        applyObservation();
    } else {
        deleteProperty(TemperatureNP.name);
        for (ISwitchVectorProperty& keys : KeySP) deleteProperty(keys.name);
        for (const char* name :
             {DisplayTP.name, TurboSP.name, DownloadAllSP.name, SaveTP.name, AutoDownloadSP.name,
              UnitsSP.name, OpticsNP.name, NoteTP.name, CaptureSP.name, DateSourceSP.name})
            deleteProperty(name);
    }
    return true;
}

bool KyrCcd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigText(fp, &SaveTP);
    IUSaveConfigSwitch(fp, &UnitsSP);
    IUSaveConfigNumber(fp, &OpticsNP);
    IUSaveConfigText(fp, &NoteTP);
    IUSaveConfigSwitch(fp, &AutoDownloadSP);
    IUSaveConfigSwitch(fp, &DateSourceSP);
    return true;
}

// ---------------------------------------------------------------- connection

bool KyrCcd::handshake(int fd, std::uint32_t baud, PosixSerialPort::Wire wire) {
    const int code = baudCodeForRate(baud);
    if (code == 0) {
        LOGF_ERROR("The KYR's line runs at 9600 to 115200 baud, not %u.", baud);
        return false;
    }
    port_.setDescriptor(fd, wire);
    linkUp_ = false;
    openFailed_ = false;
    exposureNoteSaid_ = false;
    // As the window does: the speed from the baud menu, then Establish Link (8N2).
    con_.setBaudRate(code);
    con_.establishLink(1);
    if (openFailed_) return false;
    // The link request is sent again after each reply time without an acknowledge; the
    // fourth time without one fails, as the reply timer does for other requests. Only the
    // line is waited for: a handshake must know its answer before it returns.
    // A network line's round trip is not known before its first answer: 2 s a try there.
    const int replyMs = port_.networkLine() ? 2000 : con_.link.replyTimeout;
    for (int attempt = 0; attempt < 4 && !linkUp_ && port_.portOpen(); ++attempt) {
        if (attempt > 0) con_.sendLinkRequest(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyMs);
        while (!linkUp_ && port_.portOpen()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            port_.waitForInput(static_cast<int>(left));
        }
    }
    if (!linkUp_) {
        LOG_ERROR("Communication Failed");
        port_.setPortOpen(false);
        return false;
    }
    return true;
}

bool KyrCcd::Disconnect() {
    if (capturing_) stopCapture();
    camera_.abort();
    if (InExposure) PrimaryCCD.setExposureFailed();
    InExposure = false;
    if (port_.portOpen()) {
        con_.sendLinkRequest(0);  // the link-off request, as on leaving the console
        port_.setPortOpen(false);
    }
    transferEnded(true);
    return INDI::CCD::Disconnect();
}

void KyrCcd::linkLost() {
    // The console has said so (one message); the property follows, outside the port's event.
    if (quietFiles_) LOG_ERROR("The KYR's line was lost.");
    transferEnded(true);
    scheduler_.callLater(0, [this] { dropLostConnection(); });
}

void KyrCcd::dropLostConnection() {
    if (!isConnected()) return;
    if (capturing_) stopCapture();
    if (Connection::Interface* c = getActiveConnection()) c->Disconnect();
    setConnected(false, IPS_ALERT);
    updateProperties();
}

void KyrCcd::lineSettingsApplied(const std::string& settings) {
    if (const auto s = parseLineSettings(settings)) {
        lineBaud_ = s->baud;
        bitsPerByte_ = 1 + s->dataBits + (s->parity == 'N' ? 0 : 1) + s->stopBits;
    }
}

// ---------------------------------------------------------------- keys and display

void KyrCcd::pressKey(int group, int index) {
    ISwitchVectorProperty& keys = KeySP[group];
    IUResetSwitch(&keys);
    keys.s = IPS_BUSY;
    IDSetSwitch(&keys, nullptr);
    con_.pressKey(kKeyGroups[group].keys[index].key);
}

void KyrCcd::setTurbo(bool on) {
    if (on != turbo_) {
        turbo_ = on;
        TurboSP.s = IPS_BUSY;
        con_.toggleTurbo();
    }
    TurboS[0].s = turbo_ ? ISS_ON : ISS_OFF;
    TurboS[1].s = turbo_ ? ISS_OFF : ISS_ON;
    if (TurboSP.s != IPS_BUSY) TurboSP.s = IPS_OK;
    IDSetSwitch(&TurboSP, nullptr);
}

void KyrCcd::acknowledged() {
    for (ISwitchVectorProperty& keys : KeySP) {
        if (keys.s != IPS_BUSY) continue;
        keys.s = IPS_OK;
        IDSetSwitch(&keys, nullptr);
    }
    if (TurboSP.s == IPS_BUSY) {
        TurboSP.s = IPS_OK;
        IDSetSwitch(&TurboSP, nullptr);
    }
}

void KyrCcd::commandRefused() {
    for (ISwitchVectorProperty& keys : KeySP) {
        if (keys.s != IPS_BUSY) continue;
        keys.s = IPS_ALERT;
        IDSetSwitch(&keys, nullptr);
    }
    if (TurboSP.s == IPS_BUSY) {
        TurboSP.s = IPS_ALERT;
        IDSetSwitch(&TurboSP, nullptr);
    }
}

void KyrCcd::displayTextReceived(const std::string& line1, const std::string& line2) {
    // INDI's XML drops blanks at the end of a text anyway.
    const auto shown = [](const std::string& line) {
        std::string text = displayUtf8(line);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    };
    IUSaveText(&DisplayT[0], shown(line1).c_str());
    IUSaveText(&DisplayT[1], shown(line2).c_str());
    DisplayTP.s = IPS_OK;
    // The first text comes with the link's acknowledge, before the property is defined.
    if (isConnected()) IDSetText(&DisplayTP, nullptr);
}

// ---------------------------------------------------------------- exposures

bool KyrCcd::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0 &&
        std::strcmp(name, OpticsNP.name) == 0) {
        IUUpdateNumber(&OpticsNP, values, names, n);
        OpticsNP.s = IPS_OK;
        IDSetNumber(&OpticsNP, nullptr);
        applyObservation();
        if (!isConfigLoading()) saveConfig(true, OpticsNP.name);
        return true;
    }
    return INDI::CCD::ISNewNumber(dev, name, values, names, n);
}

bool KyrCcd::StartExposure(float duration) {
    // While one runs the camera queues this one: the client is never refused for that.
    if (!camera_.expose(duration)) {
        LOG_ERROR("The KYR is not connected.");
        return false;
    }
    requestedSeconds_ = duration;
    InExposure = true;
    lastCountdown_ = -1;
    PrimaryCCD.setExposureDuration(duration);
    return true;
}

bool KyrCcd::AbortExposure() {
    // The camera stops asking at once and ends the transfer; late rows are dropped.
    camera_.abort();
    InExposure = false;
    return true;
}

bool KyrCcd::UpdateCCDFrame(int x, int y, int w, int h) {
    // The camera takes it for the next exposure; the chip's own frame follows each image.
    if (camera_.setFrame({x, y, w, h})) return true;
    LOGF_ERROR("The frame (%d, %d) %d x %d does not fit the KYR's %d x %d pixels.", x, y, w, h,
               camera::kSensorWidth, camera::kSensorHeight);
    return false;
}

bool KyrCcd::UpdateCCDBin(int hor, int ver) {
    if (camera_.setBinning(hor, ver)) return true;
    LOGF_ERROR("Binning %d x %d: the KYR's images bin 1 to %d in each direction.", hor, ver,
               camera::kMaxBin);
    return false;
}

void KyrCcd::showCameraGeometry() {
    const camera::Frame& f = camera_.frame();
    const auto show = [this](const char* property,
                             std::initializer_list<std::pair<const char*, double>> values) {
        INDI::PropertyNumber p = getNumber(property);
        if (!p.isValid()) return;
        bool changed = false;
        for (const auto& [name, value] : values) {
            auto* n = p.findWidgetByName(name);
            if (n == nullptr || n->getValue() == value) continue;
            n->setValue(value);
            changed = true;
        }
        if (changed) p.apply();
    };
    show("CCD_FRAME", {{"X", f.x}, {"Y", f.y}, {"WIDTH", f.width}, {"HEIGHT", f.height}});
    show("CCD_BINNING", {{"HOR_BIN", camera_.binX()}, {"VER_BIN", camera_.binY()}});
}

void KyrCcd::headerAccepted(int, const ImageHeader&) {
    bytesAtHeader_ = port_.bytesReceived();
    rowsSeen_ = 0;
    applyObservation();
}

void KyrCcd::countDown(int rowsLeft) {
    // The time the rows still need on the line: each is a request and its answer, the
    // answers as long as those seen so far.
    const std::uint64_t received = port_.bytesReceived() - bytesAtHeader_;
    const double rowBytes = rowsSeen_ > 0 ? static_cast<double>(received) / rowsSeen_
                                          : static_cast<double>(rowWidth_ + 9);
    const double seconds =
        rowsLeft * (rowBytes + kRowRequestBytes) * bitsPerByte_ / std::max(1, lineBaud_);
    // Tenths of a second are news to a client; every row (a few milliseconds) is not.
    if (lastCountdown_ >= 0 && lastCountdown_ - seconds < 0.1) return;
    lastCountdown_ = seconds;
    PrimaryCCD.setExposureLeft(seconds);
}

void KyrCcd::downloadProgress(int rowsDone, int rows) {
    rowsSeen_ = rowsDone;
    rowWidth_ = con_.header.hdrWidth;
    if (InExposure) countDown(rows - rowsDone);
}

void KyrCcd::temperatureChanged(double celsius) {
    TemperatureN[0].value = celsius;
    TemperatureNP.s = IPS_OK;
    if (isConnected()) IDSetNumber(&TemperatureNP, nullptr);
}

void KyrCcd::exposureFailed(const std::string& reason) {
    LOGF_ERROR("%s", reason.c_str());
    if (InExposure) PrimaryCCD.setExposureFailed();
    InExposure = false;
}

void KyrCcd::imageReady(const camera::CameraImage& image) {
    if (image.requested && !exposureNoteSaid_ &&
        std::fabs(image.exposureSeconds - requestedSeconds_) > 0.005) {
        LOGF_INFO(
            "The KYR takes its own exposures, set on its panel: this image was exposed %.3f s, "
            "not the %.3f s requested; EXPTIME is the KYR's.",
            image.exposureSeconds, requestedSeconds_);
        exposureNoteSaid_ = true;
    }
    // Images the device sends itself (its offer, Download All) are published too, but an
    // offer is not passed off as the image of an exposure that waits for a new one.
    if (!image.requested && InExposure && !downloadAll_) {
        LOG_DEBUG("An image the KYR sent by itself is not published during an exposure.");
        return;
    }
    publishImage(image);
    InExposure = false;
}

void KyrCcd::publishImage(const camera::CameraImage& image) {
    const auto w = static_cast<std::uint32_t>(image.width);
    const auto h = static_cast<std::uint32_t>(image.height);
    if (w == 0 || h == 0) return;
    // The base class writes each image on a thread of its own, reading the chip's frame before
    // it takes ccdBufferLock: the next image waits until the writer has the last one.
    {
        std::unique_lock<std::mutex> lock(handoffMutex_);
        handoff_.wait_for(lock, std::chrono::seconds(5), [this] { return writerHasImage_; });
        writerHasImage_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(ccdBufferLock);
        const ImageHeader& header = image.header;
        if (header.pixelSize > 0.0f) {
            // In whole nanometres: the float's last digits are not the sensor's. (This resets
            // the chip's frame, which is set below.)
            const double microns = std::round(static_cast<double>(header.pixelSize) * 1e6) / 1000.0;
            if (std::fabs(microns - PrimaryCCD.getPixelSizeX()) > 1e-6)
                SetCCDParams(kFullWidth, kFullHeight, 16, microns, microns);
        }
        // A buffer of our own for every image: the last one may have gone to the client as it
        // was (native format), and libindi then maps it read-only. Never smaller than a whole
        // unbinned frame, whatever the chip's frame says when the writer reads it.
        const std::size_t bytes = std::size_t{w} * h * 2;
        auto* fresh = static_cast<std::uint8_t*>(
            std::malloc(std::max<std::size_t>(bytes, std::size_t{kFullWidth} * kFullHeight * 2)));
        if (fresh == nullptr) {
            writerTookImage();
            LOG_ERROR("No memory for the image.");
            if (InExposure) PrimaryCCD.setExposureFailed();
            return;
        }
        std::memcpy(fresh, image.pixels.data(), bytes);
        std::uint8_t* old = PrimaryCCD.getFrameBuffer();
        PrimaryCCD.setFrameBuffer(fresh);
        PrimaryCCD.setFrameBufferSize(static_cast<std::uint32_t>(bytes), false);
        IDSharedBlobFree(old);
        PrimaryCCD.setBin(static_cast<std::uint8_t>(image.binX), static_cast<std::uint8_t>(image.binY));
        PrimaryCCD.setFrame(static_cast<std::uint32_t>(image.frame.x),
                            static_cast<std::uint32_t>(image.frame.y), w * image.binX,
                            h * image.binY);
        keywords_ = fitsKeywords(header);
        if (!image.dateObs.empty()) {
            card(keywords_, "DATE-OBS", FitsCard::Kind::Text).text = image.dateObs;
            FitsCard& mjd = card(keywords_, "MJD-OBS", FitsCard::Kind::Fixed);
            mjd.number = image.mjdObs;
            mjd.decimals = 8;
            mjd.comment = "modified Julian date of DATE-OBS";
        }
        if (camera_.dateSource() == camera::DateSource::Computer) {
            card(keywords_, "DATE-OBS", FitsCard::Kind::Text).comment =
                "the computer's UTC clock at the start of the exposure";
            if (!image.kyrDateObs.empty()) {
                FitsCard& kyr = card(keywords_, "DATE-KYR", FitsCard::Kind::Text);
                kyr.text = image.kyrDateObs;
                kyr.comment = "date and time of the observation by the KYR's clock";
            }
        }
        PrimaryCCD.setExposureDuration(image.exposureSeconds);
    }
    // The client's frame and binning stay what it set for the next exposure.
    showCameraGeometry();
    // libindi leaves the extension of a native image for the FITS images after it.
    PrimaryCCD.setImageExtension(EncodeFormatSP[FORMAT_FITS].getState() == ISS_ON ? "fits" : "bin");
    ExposureComplete(&PrimaryCCD);
}

void KyrCcd::addFITSKeywords(INDI::CCDChip* targetChip) {
    INDI::CCD::addFITSKeywords(targetChip);
    // Runs on the base class's thread with ccdBufferLock held. The KYR's own values replace
    // INDI's where both have a keyword (EXPTIME, DATE-OBS, XPIXSZ, FOCALLEN...).
    int status = 0;
    writeFitsKeywords(*targetChip->fitsFilePointer(), keywords_, &status);
    writerTookImage();
    if (status != 0) {
        char why[FLEN_STATUS] = {};
        fits_get_errstatus(status, why);
        LOGF_ERROR("FITS keywords not written: %s", why);
    }
}

void KyrCcd::UploadComplete(INDI::CCDChip*) {
    // A FITS image was taken when its keywords were written (the next one may be on its way
    // by now); a native one has no keywords, and is done here.
    if (EncodeFormatSP[FORMAT_FITS].getState() != ISS_ON) writerTookImage();
}

void KyrCcd::writerTookImage() {
    {
        std::lock_guard<std::mutex> lock(handoffMutex_);
        writerHasImage_ = true;
    }
    handoff_.notify_all();
}

void KyrCcd::transferFailed() {
    transferEnded(true);
}

void KyrCcd::headerRefused(int, const std::string&) {
    transferEnded(true);
}

void KyrCcd::transferEnded(bool failed) {
    // An exposure's failure is the camera's to report; this is Download All's and saving's.
    if (downloadAll_ || DownloadAllSP.s == IPS_BUSY) {
        downloadAll_ = false;
        DownloadAllSP.s = failed ? IPS_ALERT : IPS_OK;
        IDSetSwitch(&DownloadAllSP, nullptr);
    }
    // Automatic saving stays on only for auto download.
    if (AutoDownloadS[0].s != ISS_ON)
        con_.files.autoSaveOn = false;
    else if (autoSavePending_)
        armAutoSave();
    quietFiles(false);
}

// ---------------------------------------------------------------- Download All

std::string KyrCcd::saveFolder() const {
    return SaveT[0].text != nullptr ? std::string(SaveT[0].text) : std::string();
}

std::string KyrCcd::freshSaveBase() const {
    const fs::path folder = savingFiles() ? fs::path(saveFolder()) : fs::temp_directory_path();
    const std::string stamp = "KYR-" + timeStamp();
    std::string base = (folder / stamp).string();
    // Nothing yet starts with it: no image (001 on), no capture log (.txt).
    for (int n = 2; fileExists(base + "001.KYR") || fileExists(base + ".txt"); ++n)
        base = (folder / (stamp + "-" + std::to_string(n))).string();
    return base;
}

void KyrCcd::quietFiles(bool quiet) {
    // Without a save folder the console's words about saving would not be true.
    quietFiles_ = quiet;
    ui_.setStatusLevel(quiet ? IndiUi::Level::Debug : IndiUi::Level::Info);
}

void KyrCcd::startDownloadAll() {
    if (camera_.busy()) {
        LOG_ERROR("Download All refused: the KYR is still sending an image.");
        DownloadAllSP.s = IPS_ALERT;
        IDSetSwitch(&DownloadAllSP, nullptr);
        return;
    }
    DownloadAllSP.s = IPS_BUSY;
    IDSetSwitch(&DownloadAllSP, nullptr);
    quietFiles(!savingFiles());
    ui_.answerFileDialog(freshSaveBase());
    con_.downloadAll();
}

void KyrCcd::downloadAllStarted(int images) {
    downloadAll_ = true;
    DownloadAllSP.s = IPS_BUSY;
    IDSetSwitch(&DownloadAllSP, nullptr);
    LOGF_INFO("Download All: %d images", images);
}

void KyrCcd::buffersEmpty() {
    // The console's words, which a Download All without files kept out of the log.
    if (quietFiles_) LOG_INFO("KYR data buffers are empty");
    transferEnded(false);
}

void KyrCcd::downloadAllFinished(int count) {
    transferEnded(false);
    LOGF_INFO("Download All: %d images done", count);
}

void KyrCcd::setAutoDownload(bool on) {
    if (on && !savingFiles()) {
        LOG_ERROR("Auto download saves the KYR's images: set the save folder first.");
        on = false;
        AutoDownloadSP.s = IPS_ALERT;
    } else {
        AutoDownloadSP.s = IPS_OK;
    }
    AutoDownloadS[0].s = on ? ISS_ON : ISS_OFF;
    AutoDownloadS[1].s = on ? ISS_OFF : ISS_ON;
    IDSetSwitch(&AutoDownloadSP, nullptr);
    // During a transfer its end settles automatic saving.
    autoSavePending_ = camera_.busy() && on;
    if (camera_.busy()) return;
    if (on)
        armAutoSave();
    else
        con_.files.autoSaveOn = false;
}

void KyrCcd::armAutoSave() {
    // The console's "Receive and Automatically Save Images": the device's flash announcement
    // then runs Download All, and every image received is saved too.
    autoSavePending_ = false;
    ui_.answerFileDialog(freshSaveBase());
    con_.startAutoSave();
}

// ---------------------------------------------------------------- capture log

void KyrCcd::startCapture() {
    if (!savingFiles()) {
        LOG_ERROR("The capture file goes into the save folder: set it first.");
        CaptureSP.s = IPS_ALERT;
        IDSetSwitch(&CaptureSP, nullptr);
        return;
    }
    // The console has one base name for images and the capture log: a fresh one serves
    // both (the log is the base and .txt, images add their numbers).
    ui_.answerFileDialog(freshSaveBase());
    con_.setCaptureFileName();
    con_.startCapture();
    capturing_ = true;
    CaptureSP.s = IPS_BUSY;
    IDSetSwitch(&CaptureSP, nullptr);
}

void KyrCcd::stopCapture() {
    if (!capturing_) return;
    capturing_ = false;
    CaptureSP.s = IPS_OK;
    con_.endCapture();
    IDSetSwitch(&CaptureSP, nullptr);
}

void KyrCcd::captureFileFailed(const std::string&) {
    CaptureSP.s = IPS_ALERT;
    IDSetSwitch(&CaptureSP, nullptr);
}

// ---------------------------------------------------------------- observation settings

void KyrCcd::applyObservation() {
    // Quietly: the console's words about each value are not news to the client that set it.
    const IndiUi::Level level = ui_.statusLevel();
    ui_.setStatusLevel(IndiUi::Level::Debug);
    if (UnitsS[1].s == ISS_ON)
        con_.useCentimeters();
    else
        con_.useInches();
    if (OpticsN[0].value > 0) {
        ui_.answerPrompt("Focal Length", numberText(OpticsN[0].value));
        con_.enterFocalLength();
    }
    if (OpticsN[1].value > 0) {
        ui_.answerPrompt("Aperture Diameter", numberText(OpticsN[1].value));
        con_.enterApertureDiameter();
    }
    if (NoteT[0].text != nullptr && NoteT[0].text[0] != '\0') {
        ui_.answerPrompt("Note", NoteT[0].text);
        con_.enterNote();
    }
    ui_.setStatusLevel(level);
}

// ---------------------------------------------------------------- switches and texts

bool KyrCcd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (dev == nullptr || std::strcmp(dev, getDeviceName()) != 0)
        return INDI::CCD::ISNewSwitch(dev, name, states, names, n);

    for (int g = 0; g < kKeyGroupCount; ++g) {
        if (std::strcmp(name, KeySP[g].name) != 0) continue;
        IUUpdateSwitch(&KeySP[g], states, names, n);
        const int index = IUFindOnSwitchIndex(&KeySP[g]);
        if (index >= 0) pressKey(g, index);
        return true;
    }
    if (std::strcmp(name, DateSourceSP.name) == 0) {
        IUUpdateSwitch(&DateSourceSP, states, names, n);
        camera_.setDateSource(DateSourceS[1].s == ISS_ON ? camera::DateSource::Computer
                                                         : camera::DateSource::Kyr);
        DateSourceSP.s = IPS_OK;
        IDSetSwitch(&DateSourceSP, nullptr);
        if (!isConfigLoading()) saveConfig(true, DateSourceSP.name);
        return true;
    }
    if (std::strcmp(name, TurboSP.name) == 0) {
        IUUpdateSwitch(&TurboSP, states, names, n);
        setTurbo(TurboS[0].s == ISS_ON);
        return true;
    }
    if (std::strcmp(name, DownloadAllSP.name) == 0) {
        IUUpdateSwitch(&DownloadAllSP, states, names, n);
        const int index = IUFindOnSwitchIndex(&DownloadAllSP);
        IUResetSwitch(&DownloadAllSP);
        if (index == 0) {
            startDownloadAll();
        } else if (index == 1) {
            con_.abortDownloadAll();  // the image on its way still arrives and is published
            IDSetSwitch(&DownloadAllSP, nullptr);
        }
        return true;
    }
    if (std::strcmp(name, AutoDownloadSP.name) == 0) {
        IUUpdateSwitch(&AutoDownloadSP, states, names, n);
        setAutoDownload(AutoDownloadS[0].s == ISS_ON);
        if (!isConfigLoading()) saveConfig(true, AutoDownloadSP.name);
        return true;
    }
    if (std::strcmp(name, UnitsSP.name) == 0) {
        const bool wasMetric = UnitsS[1].s == ISS_ON;
        IUUpdateSwitch(&UnitsSP, states, names, n);
        const bool metric = UnitsS[1].s == ISS_ON;
        if (metric != wasMetric && !isConfigLoading()) {
            // The same optics in the other unit.
            const double f = metric ? 2.54 : 1 / 2.54;
            OpticsN[0].value *= f;
            OpticsN[1].value *= f;
            IDSetNumber(&OpticsNP, nullptr);
        }
        UnitsSP.s = IPS_OK;
        IDSetSwitch(&UnitsSP, nullptr);
        applyObservation();
        if (!isConfigLoading()) {
            saveConfig(true, UnitsSP.name);
            saveConfig(true, OpticsNP.name);
        }
        return true;
    }
    if (std::strcmp(name, CaptureSP.name) == 0) {
        IUUpdateSwitch(&CaptureSP, states, names, n);
        const int index = IUFindOnSwitchIndex(&CaptureSP);
        IUResetSwitch(&CaptureSP);
        if (index == 0 && !capturing_)
            startCapture();
        else if (index == 1)
            stopCapture();
        else
            IDSetSwitch(&CaptureSP, nullptr);
        return true;
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

bool KyrCcd::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (dev != nullptr && std::strcmp(dev, getDeviceName()) == 0) {
        if (std::strcmp(name, SaveTP.name) == 0) {
            IUUpdateText(&SaveTP, texts, names, n);
            std::error_code ec;
            const bool usable = !savingFiles() || fs::is_directory(saveFolder(), ec);
            SaveTP.s = usable ? IPS_OK : IPS_ALERT;
            if (usable)
                IDSetText(&SaveTP, nullptr);
            else
                IDSetText(&SaveTP, "%s is not a folder", saveFolder().c_str());
            if (!isConfigLoading()) saveConfig(true, SaveTP.name);
            // Automatic saving moves to the new folder.
            if (AutoDownloadS[0].s == ISS_ON) setAutoDownload(true);
            return true;
        }
        if (std::strcmp(name, NoteTP.name) == 0) {
            IUUpdateText(&NoteTP, texts, names, n);
            NoteTP.s = IPS_OK;
            IDSetText(&NoteTP, nullptr);
            applyObservation();
            if (!isConfigLoading()) saveConfig(true, NoteTP.name);
            return true;
        }
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

}  // namespace kyr::indi
