// indi_kyr_ccd with a remote serial server as its serial port: kyr-sim on a pseudo-terminal
// behind the real ser2net (the shipped configuration), reached as rfc2217://host:port
// through kyr-delay-proxy at 150 ms one way with jitter; and kyr-sim's own TCP port as
// tcp://host:port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "fakes/temp_dir.h"
#include "indi_rig.h"
#include "sim/sim_device.h"

namespace kyr::indi::test {
namespace {

// A sub-frame: every row costs a round trip.
constexpr int kRows = 16;

bool listening(int port) {
    std::ifstream table("/proc/net/tcp");
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X", port);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A") return true;
    }
    return false;
}

// ser2net with the shipped configuration, serving `device` on two free loopback ports.
class Ser2Net {
  public:
    Ser2Net(const std::string& folder, const std::string& device) {
        std::stringstream shipped;
        shipped << std::ifstream(KYR_SER2NET_YAML).rdbuf();
        for (int attempt = 0; attempt < 5 && !child_; ++attempt) {
            raw_ = freePort();
            rfc2217_ = freePort();
            std::string config;
            for (std::string line; std::getline(shipped, line);) {
                if (line.rfind("define: &kyrdevice ", 0) == 0)
                    line = "define: &kyrdevice " + device;
                if (line.rfind("define: &rawaddress ", 0) == 0)
                    line = "define: &rawaddress 127.0.0.1," + std::to_string(raw_);
                if (line.rfind("define: &rfc2217address ", 0) == 0)
                    line = "define: &rfc2217address 127.0.0.1," + std::to_string(rfc2217_);
                config += line + "\n";
            }
            shipped.clear();
            shipped.seekg(0);
            const std::string path = folder + "/ser2net.yaml";
            std::ofstream(path) << config;
            child_ = std::make_unique<Child>(
                std::vector<std::string>{"/usr/sbin/ser2net", "-d", "-u", "-c", path},
                std::vector<std::string>{}, false);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!(listening(raw_) && listening(rfc2217_)) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!(listening(raw_) && listening(rfc2217_))) child_.reset();  // a port was taken
        }
    }
    bool up() const { return child_ != nullptr; }
    int rfc2217Port() const { return rfc2217_; }

  private:
    std::unique_ptr<Child> child_;
    int raw_ = 0, rfc2217_ = 0;
};

// kyr-delay-proxy in front of a loopback port.
class DelayProxy {
  public:
    DelayProxy(int target, std::vector<std::string> options)
        : child_((options.insert(options.begin(),
                                 {KYR_DELAY_PROXY_EXE, "--target",
                                  "127.0.0.1:" + std::to_string(target), "--max-seconds", "200"}),
                  options),
                 {}, false) {
        const std::string line = child_.readLine();
        if (line.rfind("listening ", 0) == 0) port_ = std::stoi(line.substr(10));
    }
    int port() const { return port_; }

  private:
    Child child_;
    int port_ = 0;
};

// Speed and stop bits of a terminal, as its far end was set.
std::pair<speed_t, bool> lineOf(const std::string& device) {
    termios t{};
    const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const bool read = fd >= 0 && tcgetattr(fd, &t) == 0;
    if (fd >= 0) close(fd);
    if (!read) return {B0, false};
    return {cfgetospeed(&t), (t.c_cflag & CSTOPB) != 0};
}

// What the driver told the client, for a failure's report.
std::string said(Client& client) {
    std::string all;
    for (const auto& m : client.locked([&] { return client.messages; })) all += m + "\n";
    return all;
}

std::vector<std::uint16_t> deviceImage(int newImages = 0) {
    sim::SimOptions options;
    options.screenRows = kRows;
    sim::SimDevice device(options);
    for (int i = 0; i < newImages; ++i) device.takeScreenImage();
    return device.image(31).pixels;
}

TEST(IndiNetworkSerialTest, Rfc2217BehindASlowLinkAndRawTcpGiveTheImageBitExact) {
    kyr::test::TempDir dir;
    Simulator sim({"--pty", "--baud", "115200", "--screen-rows", std::to_string(kRows)});
    ASSERT_EQ(sim.address().rfind("/dev/", 0), 0u) << sim.address();
    Ser2Net ser2net(dir.path.string(), sim.address());
    ASSERT_TRUE(ser2net.up());
    DelayProxy proxy(ser2net.rfc2217Port(), {"--delay", "150", "--jitter", "30", "--seed", "3"});
    ASSERT_NE(proxy.port(), 0);
    Server server(dir.path.string());
    ASSERT_NE(server.port(), 0);
    Client client;
    ASSERT_TRUE(client.connect(server.port()));

    // The speed chosen in the driver reaches the far port, with the console's two stop bits.
    ASSERT_TRUE(client.setSwitch("DEVICE_BAUD_RATE", "57600"));
    ASSERT_TRUE(client.connectSerial("rfc2217://127.0.0.1:" + std::to_string(proxy.port())))
        << said(client);
    EXPECT_EQ(lineOf(sim.address()), (std::pair<speed_t, bool>(B57600, true)));
    Bytes blob = client.expose(1);
    Fits fits = readFits(blob);
    ASSERT_EQ(fits.error, "");
    EXPECT_TRUE(fits.pixels == deviceImage()) << "the image is not the device's";
    EXPECT_EQ(client.state("CCD_EXPOSURE"), IPS_OK);

    // Raw TCP, to a KYR of its own (ser2net gives a line to one connection at a time).
    ASSERT_TRUE(client.setSwitch("CONNECTION", "DISCONNECT"));
    ASSERT_TRUE(client.waitFor([&] { return client.prop("CCD_EXPOSURE") == nullptr; }));
    Simulator tcpSim({"--tcp", "0", "--screen-rows", std::to_string(kRows)});
    ASSERT_EQ(tcpSim.address().rfind("tcp://", 0), 0u) << tcpSim.address();
    ASSERT_TRUE(client.connectSerial(tcpSim.address())) << said(client);
    // Its screen image has the date and time of the one just delivered: the camera waits for
    // a new one.
    ASSERT_TRUE(tcpSim.command("new-image"));
    blob = client.expose(1);
    fits = readFits(blob);
    ASSERT_EQ(fits.error, "");
    EXPECT_TRUE(fits.pixels == deviceImage(1)) << "the image is not the device's";
    EXPECT_EQ(client.state("CCD_EXPOSURE"), IPS_OK);

    client.disconnectServer();
    EXPECT_EQ(server.stop(), "");  // the driver's sanitizer reports
}

}  // namespace
}  // namespace kyr::indi::test
