// kyr-alpaca as observers run it: the program against kyr-sim on a pseudo-terminal, asked by
// the tests' own Alpaca client. Images are compared with the simulator's own, made in
// process from the same seed.
#include <gtest/gtest.h>

#include <signal.h>

#include <asio/ip/udp.hpp>
#include <functional>
#include <thread>

#include "alpaca/alpaca_test_client.h"
#include "alpaca/e2e/process_rig.h"
#include "camera/camera.h"
#include "sim/sim_device.h"

namespace kyr::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kCamera = "/api/v1/camera/0/";
constexpr int kWidth = 320, kHeight = 200;

// An image as rows, top row first.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::uint16_t> values;
    bool operator==(const Pixels&) const = default;
};

// The simulator's screen image after `taken` new images, cut and binned as asked.
Pixels deviceImage(int taken, camera::Frame f = {}, int bin = 1) {
    sim::SimDevice device;
    for (int i = 0; i < taken; ++i) device.takeScreenImage();
    const sim::SimImage& image = device.image(31);
    std::vector<std::uint16_t> cut;
    for (int y = f.y; y < f.y + f.height; ++y)
        for (int x = f.x; x < f.x + f.width; ++x) cut.push_back(image.at(x, y));
    return {f.width / bin, f.height / bin, camera::binPixels(cut, f.width, f.height, bin, bin)};
}

std::uint32_t le(const std::string& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}

// ImageBytes: metadata version 1, no error, Int32 image sent as UInt16, x the first
// dimension.
Pixels fromImageBytes(const HttpReply& r) {
    EXPECT_EQ(r.header("content-type"), "application/imagebytes");
    const std::string& b = r.body;
    if (b.size() < 44) return {};
    EXPECT_EQ(le(b, 0, 4), 1u);    // metadata version
    EXPECT_EQ(le(b, 4, 4), 0u);    // error number
    EXPECT_EQ(le(b, 16, 4), 44u);  // data start
    EXPECT_EQ(le(b, 20, 4), 2u);   // Int32
    EXPECT_EQ(le(b, 24, 4), 8u);   // UInt16
    EXPECT_EQ(le(b, 28, 4), 2u);   // rank
    Pixels p{static_cast<int>(le(b, 32, 4)), static_cast<int>(le(b, 36, 4)), {}};
    if (b.size() != 44 + 2u * p.width * p.height) return {};
    p.values.resize(static_cast<std::size_t>(p.width) * p.height);
    for (int x = 0; x < p.width; ++x)
        for (int y = 0; y < p.height; ++y)
            p.values[static_cast<std::size_t>(y) * p.width + x] = static_cast<std::uint16_t>(
                le(b, 44 + 2 * (static_cast<std::size_t>(x) * p.height + y), 2));
    return p;
}

Pixels fromJson(const HttpReply& r) {
    const json j = r.json();
    EXPECT_EQ(j["Type"], 2);
    EXPECT_EQ(j["Rank"], 2);
    const json& v = j["Value"];  // Value[x][y]
    Pixels p{static_cast<int>(v.size()), v.empty() ? 0 : static_cast<int>(v[0].size()), {}};
    p.values.resize(static_cast<std::size_t>(p.width) * p.height);
    for (int x = 0; x < p.width; ++x)
        for (int y = 0; y < p.height; ++y)
            p.values[static_cast<std::size_t>(y) * p.width + x] = v[x][y].get<std::uint16_t>();
    return p;
}

class KyrAlpacaTest : public ::testing::Test {
  protected:
    std::vector<std::string> options(std::vector<std::string> extra = {}) {
        std::vector<std::string> o{"--line", sim.path(), "--listen", "127.0.0.1:0"};
        o.insert(o.end(), extra.begin(), extra.end());
        return o;
    }
    void start(std::vector<std::string> extra = {}) {
        ASSERT_FALSE(sim.path().empty());
        server = std::make_unique<AlpacaProcess>(options(std::move(extra)));
        ASSERT_NE(server->port(), 0) << server->firstLine() << server->process().errorText();
        client = std::make_unique<AlpacaTestClient>(io, server->port());
    }
    // The server ends cleanly on SIGTERM, with nothing from the sanitizers.
    void TearDown() override {
        if (!server) return;
        client.reset();
        EXPECT_EQ(server->process().finish(SIGTERM), 0);
        EXPECT_EQ(server->process().errorText().find("Sanitizer"), std::string::npos)
            << server->process().errorText();
    }
    HttpReply get(const std::string& member) { return client->get(kCamera + member); }
    HttpReply put(const std::string& member, const std::string& form) {
        return client->put(kCamera + member, form);
    }
    int errorNumber(const HttpReply& r) {
        EXPECT_EQ(r.status, 200) << r.body;
        return r.status == 200 ? r.json()["ErrorNumber"].get<int>() : -1;
    }
    json value(const std::string& member) {
        const HttpReply r = get(member);
        EXPECT_EQ(errorNumber(r), 0) << member << ": " << r.body;
        return r.status == 200 ? r.json()["Value"] : json();
    }
    // Asks again (as clients poll) until `done`, within the guard.
    bool until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (std::chrono::steady_clock::now() < deadline) {
            if (done()) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    bool imageReady() {
        return until([this] { return value("imageready") == true; });
    }
    Pixels imageBytes() {
        return fromImageBytes(client->get(kCamera + "imagearray", "application/imagebytes"));
    }

    SimProcess sim;
    std::unique_ptr<AlpacaProcess> server;
    asio::io_context io;
    std::unique_ptr<AlpacaTestClient> client;
};

TEST_F(KyrAlpacaTest, TheSimulatedKyrIsCameraZero) {
    start();
    EXPECT_EQ(client->get("/management/apiversions").json()["Value"], json::array({1}));
    const json devices = client->get("/management/v1/configureddevices").json()["Value"];
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0]["DeviceType"], "Camera");
    EXPECT_EQ(devices[0]["DeviceNumber"], 0);
    EXPECT_EQ(devices[0]["UniqueID"].get<std::string>().size(), 16u);

    EXPECT_EQ(errorNumber(get("cameraxsize")), 0x407);  // not connected yet
    EXPECT_EQ(client->get("/api/v1/camera/5/cameraxsize").status, 400);

    EXPECT_EQ(errorNumber(put("connected", "Connected=true")), 0);
    EXPECT_EQ(value("connected"), true);
    EXPECT_EQ(value("cameraxsize"), kWidth);
    EXPECT_EQ(value("cameraysize"), kHeight);
    EXPECT_EQ(value("sensortype"), 0);
    EXPECT_EQ(value("canstopexposure"), false);
    EXPECT_EQ(errorNumber(put("startexposure", "Duration=-1&Light=true")), 0x401);

    // The KYR takes an image; the exposure delivers it, as ImageBytes and as JSON.
    ASSERT_TRUE(sim.command("new-image"));
    EXPECT_EQ(errorNumber(put("startexposure", "Duration=0&Light=true")), 0);
    ASSERT_TRUE(imageReady());
    const Pixels first = deviceImage(1, {});
    EXPECT_TRUE(imageBytes() == first);
    EXPECT_TRUE(fromJson(get("imagearray")) == first);
    EXPECT_GT(value("lastexposureduration").get<double>(), 0);
    EXPECT_TRUE(value("ccdtemperature").is_number());

    // No new image yet: the next exposure waits for one, and gets it, not the last again.
    EXPECT_EQ(errorNumber(put("startexposure", "Duration=0&Light=true")), 0);
    EXPECT_EQ(value("camerastate"), 2);  // exposing
    EXPECT_EQ(value("imageready"), false);
    ASSERT_TRUE(sim.command("new-image"));
    ASSERT_TRUE(imageReady());
    EXPECT_TRUE(imageBytes() == deviceImage(2, {}));

    // Abort frees the camera at once.
    EXPECT_EQ(errorNumber(put("startexposure", "Duration=30&Light=true")), 0);
    EXPECT_EQ(errorNumber(put("abortexposure", "")), 0);
    EXPECT_EQ(value("camerastate"), 0);
    EXPECT_EQ(value("imageready"), false);

    // A binned sub-frame: counted in binned pixels.
    for (const auto& [member, form] :
         std::vector<std::pair<std::string, std::string>>{{"binx", "BinX=2"},
                                                          {"biny", "BinY=2"},
                                                          {"startx", "StartX=50"},
                                                          {"starty", "StartY=25"},
                                                          {"numx", "NumX=32"},
                                                          {"numy", "NumY=20"}})
        EXPECT_EQ(errorNumber(put(member, form)), 0) << member;
    ASSERT_TRUE(sim.command("new-image"));
    EXPECT_EQ(errorNumber(put("startexposure", "Duration=0&Light=true")), 0);
    ASSERT_TRUE(imageReady());
    EXPECT_TRUE(imageBytes() == deviceImage(3, {100, 50, 64, 40}, 2));

    // Disconnecting closes the line after the link-off request.
    EXPECT_EQ(errorNumber(put("connected", "Connected=false")), 0);
    EXPECT_EQ(errorNumber(get("cameraxsize")), 0x407);
    std::string status;
    ASSERT_TRUE(sim.command("status", &status));
    EXPECT_NE(status.find("link: down"), std::string::npos) << status;
}

TEST_F(KyrAlpacaTest, JunkAndAHugeBodyLeaveTheServerAndTheExposureRunning) {
    start();
    ASSERT_EQ(errorNumber(put("connected", "Connected=true")), 0);
    ASSERT_EQ(errorNumber(put("startexposure", "Duration=60&Light=true")), 0);
    {
        AlpacaTestClient junk(io, server->port());
        const HttpReply r = junk.exchange(std::string("\x16\x03\x01\x00\xa5\xff junk\r\n\r\n", 15));
        EXPECT_EQ(r.status, 400);
        EXPECT_TRUE(junk.closedByServer());
    }
    {
        AlpacaTestClient huge(io, server->port());
        const HttpReply r = huge.exchange(
            "PUT /api/v1/camera/0/startexposure HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 100000000\r\n\r\n"
            "Duration=1&Light=true");
        EXPECT_EQ(r.status, 413);
        EXPECT_TRUE(huge.closedByServer());
    }
    EXPECT_EQ(value("camerastate"), 2);
    ASSERT_TRUE(sim.command("new-image"));
    ASSERT_TRUE(imageReady());
    EXPECT_TRUE(imageBytes() == deviceImage(1, {}));
}

TEST_F(KyrAlpacaTest, DiscoveryAnswersWithTheServersPort) {
    start({"--discovery"});
    using asio::ip::udp;
    udp::socket socket(io, udp::endpoint(udp::v4(), 0));
    const std::string ask = "alpacadiscovery1";
    socket.send_to(asio::buffer(ask), udp::endpoint(asio::ip::make_address("127.0.0.1"), 32227));
    std::array<char, 256> answer{};
    std::size_t got = 0;
    udp::endpoint from;
    socket.async_receive_from(asio::buffer(answer), from,
                              [&](const std::error_code& ec, std::size_t n) { got = ec ? 0 : n; });
    io.restart();
    io.run_for(kGuard);
    ASSERT_GT(got, 0u);
    EXPECT_EQ(json::parse(std::string(answer.data(), got)), json({{"AlpacaPort", server->port()}}));
    // Listening on loopback, it says that only this computer can find it.
    EXPECT_NE(server->process().errorText().find("this computer only"), std::string::npos);
}

TEST_F(KyrAlpacaTest, ALineThatFailsIsReportedAndTheServerGoesOn) {
    // Usage errors end at once with status 2.
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--line"},
                                               {"--line", "x", "--baud", "4800"},
                                               {"--line", "x", "--listen", "nowhere"},
                                               {"--line", "x", "--frobnicate"}}) {
        AlpacaProcess bad(args);
        EXPECT_EQ(bad.process().finish(0), 2);
        EXPECT_NE(bad.process().errorText().find("(try --help)"), std::string::npos);
    }
    AlpacaProcess help({"--help"});
    EXPECT_EQ(help.firstLine().rfind("Usage: kyr-alpaca --line PORT", 0), 0u) << help.firstLine();

    // A device that is not there: connecting fails with the reason, the server answers on.
    AlpacaProcess missing({"--line", "/dev/kyr-missing", "--listen", "127.0.0.1:0"});
    ASSERT_NE(missing.port(), 0);
    AlpacaTestClient c(io, missing.port());
    const HttpReply r = c.put(kCamera + "connected", "Connected=true");
    EXPECT_EQ(errorNumber(r), 0x500);
    EXPECT_NE(r.json()["ErrorMessage"].get<std::string>().find("/dev/kyr-missing"),
              std::string::npos);
    EXPECT_EQ(c.get(kCamera + "connected").json()["Value"], false);

    // The device lost while connected: the camera is no longer connected, and says why.
    start();
    ASSERT_EQ(errorNumber(put("connected", "Connected=true")), 0);
    EXPECT_EQ(sim.process().finish(SIGKILL), 128 + SIGKILL);
    EXPECT_TRUE(until([this] { return value("connected") == false; }));
    EXPECT_NE(server->process().errorText().find("line was lost"), std::string::npos);
}

}  // namespace
}  // namespace kyr::test
