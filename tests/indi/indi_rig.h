#pragma once
// The driver as INDI users run it: kyr-sim on a pseudo-terminal or a TCP port, the real
// indiserver on 127.0.0.1 with indi_kyr_ccd, and a client on libindi's BaseClient. Waits are
// on conditions, each bounded by a guard that only a failure reaches.

#include <baseclient.h>
#include <signal.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kyr::indi::test {

using Bytes = std::vector<std::uint8_t>;

// Long enough for a paced download under the sanitizers on a busy machine.
inline constexpr int kGuardSeconds = 90;

// A program with its standard input and output (and optionally error) on pipes.
struct Child {
    Child(std::vector<std::string> argv, const std::vector<std::string>& env, bool pipeStderr);
    ~Child() { stop(SIGKILL); }
    // One line of standard output ("" at its end or when the guard runs out).
    std::string readLine();
    // Sends the signal and reaps the program; the pipes stay open to be read to their end.
    void stop(int sig);
    pid_t pid = -1;
    int in = -1, out = -1, err = -1;
};

// kyr-sim; its first line is the address to connect to.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> args);
    const std::string& address() const { return address_; }
    // A control command; true when the simulator answered "ok".
    bool command(const std::string& line);
    void kill() { child_.stop(SIGKILL); }

  private:
    Child child_;
    std::string address_;
};

// indiserver on a free port of 127.0.0.1 running indi_kyr_ccd, with its own home folder (the
// driver's configuration), local socket and sanitizer logs.
class Server {
  public:
    explicit Server(const std::string& folder);
    ~Server() { stop(); }
    int port() const { return port_; }
    // How many times the server started the driver (more than once: it died and was restarted).
    int driverStarts();
    // Ends the server, waits for the driver to end and returns the sanitizers' reports.
    std::string stop();

  private:
    // Starts it on `port`; port_ is set once it listens there.
    void start(int port);

    std::string folder_;
    int port_ = 0;
    std::unique_ptr<Child> child_;
    std::thread reader_;
    std::mutex m_;
    std::condition_variable cv_;
    std::string log_;
    bool ended_ = false;  // its log reached its end
};

// What the client knows of one property.
struct Prop {
    IPState state = IPS_IDLE;
    IPerm perm = IP_RW;
    int updates = 0;  // definitions and updates seen
    std::map<std::string, double> numbers;
    std::map<std::string, std::string> texts;
    std::map<std::string, ISState> switches;
};

// A BLOB as it came: its format (".fits", ".bin", ".fits.fz", ...) and bytes.
struct Blob {
    std::string format;
    Bytes bytes;
};

class Client : public INDI::BaseClient {
  public:
    static constexpr const char* kDevice = "KYR CCD";
    ~Client() override { disconnectServer(); }
    bool connect(int port);

    // Waits until `pred` holds; it runs with the client's lock held. False when the guard
    // ran out.
    bool waitFor(const std::function<bool()>& pred);
    // Runs `f` with the lock held (to copy what it returns).
    template <class F>
    auto locked(F f) {
        std::lock_guard<std::mutex> lock(m_);
        return f();
    }

    // ---- under the lock
    const Prop* prop(const std::string& name) const;
    IPState state(const std::string& name) const;
    std::vector<Bytes> blobs;  // FITS images received, in order
    std::vector<Blob> allBlobs;  // every image received, whatever its format
    std::vector<std::string> messages;
    std::vector<std::pair<IPState, double>> exposures;  // every CCD_EXPOSURE update

    // ---- requests (each waits until the property is known)
    bool setText(const char* property, const char* element, const std::string& v);
    bool setNumber(const char* property, const char* element, double v);
    bool setSwitch(const char* property, const char* element);
    // The line's settings and CONNECT: true when the camera's properties came. A KYR that
    // did not answer the link request in time (a simulator just started on a busy machine)
    // is asked again, up to `attempts` connections in all.
    bool connectSerial(const std::string& path, int attempts = 3);
    bool connectTcp(int port, int attempts = 3);
    // The FITS of the image an exposure brings (empty when it failed).
    Bytes expose(double seconds);
    // Any image an exposure brings, in whatever format (empty bytes when it failed).
    Blob exposeAny(double seconds);

  protected:
    void newProperty(INDI::Property property) override { take(property); }
    void updateProperty(INDI::Property property) override { take(property); }
    void removeProperty(INDI::Property property) override;
    void newMessage(INDI::BaseDevice device, int messageID) override;

  private:
    void take(INDI::Property property);
    bool connectNow(int attempts);

    std::mutex m_;
    std::condition_variable cv_;
    std::map<std::string, Prop> props_;
};

// A FITS file's image and cards (error "" when it was read).
// A loopback TCP port free at the moment of asking.
int freePort();

struct Fits {
    long width = 0, height = 0;
    std::vector<std::uint16_t> pixels;  // first row of the data first
    std::map<std::string, std::string> keys;
    std::string error;
};
Fits readFits(const Bytes& bytes);

// The image of a buffer (31: the screen) exactly as kyr-sim with seed 1 sends it; the screen
// image after `newImages` new-image commands.
std::vector<std::uint16_t> simImage(int buffer, int newImages = 0);
// Pixels x..x+w-1 of rows y..y+h-1 of an image `width` pixels wide.
std::vector<std::uint16_t> window(const std::vector<std::uint16_t>& pixels, int width, int x,
                                  int y, int w, int h);

}  // namespace kyr::indi::test
