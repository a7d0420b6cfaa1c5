#include "indi_rig.h"

#include <arpa/inet.h>
#include <basedevice.h>
#include <fitsio.h>
#include <indipropertyblob.h>
#include <indipropertynumber.h>
#include <indipropertyswitch.h>
#include <indipropertytext.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/sim_device.h"

extern char** environ;

namespace kyr::indi::test {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point guardDeadline() {
    return Clock::now() + std::chrono::seconds(kGuardSeconds);
}

}  // namespace

int freePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// ---------------------------------------------------------------- processes

Child::Child(std::vector<std::string> argv, const std::vector<std::string>& env, bool pipeStderr) {
    int pin[2], pout[2], perr[2] = {-1, -1};
    if (pipe(pin) != 0 || pipe(pout) != 0 || (pipeStderr && pipe(perr) != 0)) return;
    // Everything exec needs is made before fork: the test has threads.
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& mine : env)
            replaced |= entry.rfind(mine.substr(0, mine.find('=') + 1), 0) == 0;
        if (!replaced) envText.push_back(entry);
    }
    envText.insert(envText.end(), env.begin(), env.end());
    std::vector<char*> envp, args;
    for (auto& e : envText) envp.push_back(e.data());
    for (auto& a : argv) args.push_back(a.data());
    envp.push_back(nullptr);
    args.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        dup2(pin[0], STDIN_FILENO);
        dup2(pout[1], STDOUT_FILENO);
        if (pipeStderr) dup2(perr[1], STDERR_FILENO);
        for (int fd : {pin[0], pin[1], pout[0], pout[1], perr[0], perr[1]})
            if (fd > 2) close(fd);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(pin[0]);
    close(pout[1]);
    if (pipeStderr) close(perr[1]);
    in = pin[1];
    out = pout[0];
    err = perr[0];
}

std::string Child::readLine() {
    std::string line;
    const auto deadline = guardDeadline();
    char c;
    while (true) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long>(0, ms.count()))) <= 0 ||
            read(out, &c, 1) != 1 || c == '\n')
            return line;
        line += c;
    }
}

void Child::stop(int sig) {
    if (pid > 0) {
        ::kill(pid, sig);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    if (sig != SIGKILL) return;
    for (int* fd : {&in, &out, &err}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

Simulator::Simulator(std::vector<std::string> args)
    : child_((args.insert(args.begin(), KYR_SIM_EXE), args), {}, false),
      address_(child_.readLine()) {}

bool Simulator::command(const std::string& line) {
    const std::string l = line + "\n";
    if (write(child_.in, l.data(), l.size()) != static_cast<ssize_t>(l.size())) return false;
    for (std::string reply; (reply = child_.readLine()) != "ok";)
        if (reply.empty() || reply.rfind("error", 0) == 0) return false;
    return true;
}

Server::Server(const std::string& folder) : folder_(folder) {
    // The free port is free only until something else takes it (other tests on the machine):
    // a server that could not listen is started again on another one.
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) start(freePort());
}

void Server::start(int port) {
    stop();
    const char* asan = std::getenv("ASAN_OPTIONS");
    const char* ubsan = std::getenv("UBSAN_OPTIONS");
    const std::string log = ":log_path=" + folder_ + "/sanitizer";
    // libindi 1.9.9 frees a compressed FITS image (fpack's, from malloc) with delete[]: with
    // glibc that is free() all the same, but AddressSanitizer would end the driver for it.
    const std::string libindiMismatch = ":alloc_dealloc_mismatch=0";
    log_.clear();
    ended_ = false;
    child_ = std::make_unique<Child>(
        std::vector<std::string>{KYR_INDISERVER, "-v", "-p", std::to_string(port), "-u",
                                 folder_ + "/indiserver.socket", KYR_INDI_DRIVER},
        std::vector<std::string>{"HOME=" + folder_,
                                 std::string("ASAN_OPTIONS=") + (asan ? asan : "") + libindiMismatch + log,
                                 std::string("UBSAN_OPTIONS=") + (ubsan ? ubsan : "") + log},
        true);
    // The server's log, read to its end (it ends when the server does).
    reader_ = std::thread([this, fd = child_->err] {
        char buf[4096];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
            std::lock_guard<std::mutex> lock(m_);
            if (n > 0) log_.append(buf, static_cast<std::size_t>(n));
            cv_.notify_all();
        }
        std::lock_guard<std::mutex> lock(m_);
        ended_ = true;
        cv_.notify_all();
    });
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_until(lock, guardDeadline(), [&] {
        return ended_ || log_.find("listening to port") != std::string::npos;
    });
    if (!ended_ && log_.find("listening to port") != std::string::npos) port_ = port;
}

int Server::driverStarts() {
    std::lock_guard<std::mutex> lock(m_);
    int n = 0;
    for (auto at = log_.find(": pid="); at != std::string::npos; at = log_.find(": pid=", at + 1)) ++n;
    return n;
}

std::string Server::stop() {
    if (!child_) return {};
    child_->stop(SIGTERM);  // the driver reads the end of its input and ends
    if (reader_.joinable()) reader_.join();
    child_.reset();
    // The driver writes its sanitizer reports when it ends.
    const auto at = log_.find(": pid=");
    if (at != std::string::npos) {
        const int fd =
            static_cast<int>(syscall(SYS_pidfd_open, std::atoi(log_.c_str() + at + 6), 0));
        pollfd p{fd, POLLIN, 0};
        if (fd >= 0) poll(&p, 1, kGuardSeconds * 1000);
        if (fd >= 0) close(fd);
    }
    std::string reports;
    for (const auto& e : std::filesystem::directory_iterator(folder_)) {
        if (e.path().filename().string().rfind("sanitizer", 0) != 0) continue;
        std::stringstream s;
        s << std::ifstream(e.path()).rdbuf();
        reports += s.str();
    }
    return reports;
}

// ---------------------------------------------------------------- client

bool Client::connect(int port) {
    setServer("127.0.0.1", static_cast<unsigned>(port));
    setVerbose(false);
    watchDevice(kDevice);
    if (!connectServer()) return false;
    setBLOBMode(B_ALSO, kDevice, nullptr);
    return true;
}

bool Client::waitFor(const std::function<bool()>& pred) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_until(lock, guardDeadline(), pred);
}

const Prop* Client::prop(const std::string& name) const {
    const auto it = props_.find(name);
    return it == props_.end() ? nullptr : &it->second;
}

IPState Client::state(const std::string& name) const {
    const Prop* p = prop(name);
    return p ? p->state : IPS_IDLE;
}

void Client::take(INDI::Property property) {
    if (std::strcmp(property.getDeviceName(), kDevice) != 0) return;
    std::lock_guard<std::mutex> lock(m_);
    const std::string name = property.getName();
    Prop& p = props_[name];
    p.state = property.getState();
    p.perm = property.getPermission();
    ++p.updates;
    if (property.getType() == INDI_NUMBER) {
        for (const auto& w : INDI::PropertyNumber(property)) p.numbers[w.getName()] = w.getValue();
        if (name == "CCD_EXPOSURE")
            exposures.emplace_back(p.state, p.numbers["CCD_EXPOSURE_VALUE"]);
    } else if (property.getType() == INDI_TEXT) {
        for (const auto& w : INDI::PropertyText(property)) p.texts[w.getName()] = w.getText();
    } else if (property.getType() == INDI_SWITCH) {
        for (const auto& w : INDI::PropertySwitch(property)) p.switches[w.getName()] = w.getState();
    } else if (property.getType() == INDI_BLOB) {
        for (const auto& w : INDI::PropertyBlob(property)) {
            if (w.getBlobLen() <= 0) continue;
            const auto* data = static_cast<const std::uint8_t*>(w.getBlob());
            allBlobs.push_back({w.getFormat(), Bytes(data, data + w.getBlobLen())});
            if (std::strcmp(w.getFormat(), ".fits") == 0) blobs.push_back(allBlobs.back().bytes);
        }
    }
    cv_.notify_all();
}

void Client::removeProperty(INDI::Property property) {
    std::lock_guard<std::mutex> lock(m_);
    props_.erase(property.getName());
    cv_.notify_all();
}

void Client::newMessage(INDI::BaseDevice device, int messageID) {
    std::lock_guard<std::mutex> lock(m_);
    messages.push_back(device.messageQueue(static_cast<std::size_t>(messageID)));
    cv_.notify_all();
}

bool Client::setText(const char* property, const char* element, const std::string& v) {
    if (!waitFor([&] { return prop(property) != nullptr; })) return false;
    sendNewText(kDevice, property, element, v.c_str());
    return true;
}

bool Client::setNumber(const char* property, const char* element, double v) {
    if (!waitFor([&] { return prop(property) != nullptr; })) return false;
    sendNewNumber(kDevice, property, element, v);
    return true;
}

bool Client::setSwitch(const char* property, const char* element) {
    if (!waitFor([&] { return prop(property) != nullptr; })) return false;
    // One of many: the others go off (libindi's own helper leaves them as they were).
    INDI::PropertySwitch svp = getDevice(kDevice).getSwitch(property);
    auto* sp = svp.isValid() ? svp.findWidgetByName(element) : nullptr;
    if (sp == nullptr) return false;
    svp.reset();
    sp->setState(ISS_ON);
    sendNewSwitch(svp);
    return true;
}

bool Client::connectNow(int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // A new outcome is awaited.
        locked([&] { return props_["CONNECTION"].state = IPS_BUSY; });
        if (!setSwitch("CONNECTION", "CONNECT")) return false;
        // Connected: the camera's properties are defined. Failed: the switch goes to alert.
        waitFor(
            [&] { return prop("CCD_EXPOSURE") != nullptr || state("CONNECTION") == IPS_ALERT; });
        const auto [connected, failed] = locked([&] {
            return std::pair(prop("CCD_EXPOSURE") != nullptr, state("CONNECTION") == IPS_ALERT);
        });
        if (connected || !failed) return connected;
    }
    return false;
}

bool Client::connectSerial(const std::string& path, int attempts) {
    return setSwitch("CONNECTION_MODE", "CONNECTION_SERIAL") &&
           setText("DEVICE_PORT", "PORT", path) && connectNow(attempts);
}

bool Client::connectTcp(int port, int attempts) {
    return setSwitch("CONNECTION_MODE", "CONNECTION_TCP") &&
           setText("DEVICE_ADDRESS", "ADDRESS", "127.0.0.1") &&
           setText("DEVICE_ADDRESS", "PORT", std::to_string(port)) && connectNow(attempts);
}

Bytes Client::expose(double seconds) {
    const Blob b = exposeAny(seconds);
    return b.format == ".fits" ? b.bytes : Bytes{};
}

Blob Client::exposeAny(double seconds) {
    if (!waitFor([&] { return prop("CCD_EXPOSURE") != nullptr; })) return {};
    const auto [n, updates] =
        locked([&] { return std::pair(allBlobs.size(), props_["CCD_EXPOSURE"].updates); });
    if (!setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", seconds)) return {};
    // The image, or a new alert.
    waitFor([&, n = n, updates = updates] {
        const Prop* p = prop("CCD_EXPOSURE");
        return allBlobs.size() > n || (p && p->updates > updates && p->state == IPS_ALERT);
    });
    return locked([&, n = n] { return allBlobs.size() > n ? allBlobs[n] : Blob{}; });
}

// ---------------------------------------------------------------- FITS and images

Fits readFits(const Bytes& bytes) {
    Fits out;
    Bytes copy = bytes;
    void* mem = copy.data();
    std::size_t size = copy.size();
    fitsfile* f = nullptr;
    int status = 0;
    if (bytes.empty() ||
        fits_open_memfile(&f, "blob", READONLY, &mem, &size, 0, nullptr, &status)) {
        out.error = "not a FITS file";
        return out;
    }
    long axes[2] = {0, 0};
    int anyNull = 0, cards = 0;
    fits_get_img_size(f, 2, axes, &status);
    out.width = axes[0];
    out.height = axes[1];
    out.pixels.resize(static_cast<std::size_t>(axes[0] * axes[1]));
    fits_read_img(f, TUSHORT, 1, static_cast<LONGLONG>(out.pixels.size()), nullptr,
                  out.pixels.data(), &anyNull, &status);
    fits_get_hdrspace(f, &cards, nullptr, &status);
    for (int i = 1; i <= cards && status == 0; ++i) {
        char name[FLEN_KEYWORD] = {}, value[FLEN_VALUE] = {}, comment[FLEN_COMMENT] = {};
        fits_read_keyn(f, i, name, value, comment, &status);
        std::string v = value;
        if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.find_last_not_of("' "));
        out.keys[name] = v;
    }
    if (status != 0) out.error = "FITS error " + std::to_string(status);
    fits_close_file(f, &status);
    return out;
}

std::vector<std::uint16_t> simImage(int buffer, int newImages) {
    sim::SimDevice device;
    for (int i = 0; i < newImages; ++i) device.takeScreenImage();
    return device.image(buffer).pixels;
}

std::vector<std::uint16_t> window(const std::vector<std::uint16_t>& pixels, int width, int x,
                                  int y, int w, int h) {
    std::vector<std::uint16_t> out;
    for (int r = y; r < y + h; ++r)
        for (int c = x; c < x + w; ++c)
            out.push_back(pixels[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) +
                                 static_cast<std::size_t>(c)]);
    return out;
}

}  // namespace kyr::indi::test
