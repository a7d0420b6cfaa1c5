// kyr-alpaca as observers run it: the program against kyr-sim on a pseudo-terminal, asked by
// the tests' own Alpaca client. The arrays must hold the simulator's own image, made in
// process from the same seed (their encodings are pinned by image_encoding_test).
#include <gtest/gtest.h>

#include <signal.h>

#include <asio/ip/udp.hpp>
#include <cctype>
#include <cstring>
#include <functional>
#include <thread>

#include "alpaca/alpaca_test_client.h"
#include "alpaca/e2e/process_rig.h"
#include "alpaca/image_encoding.h"
#include "camera/camera.h"
#include "sim/sim_device.h"

namespace kyr::test {
namespace {

using nlohmann::json;

const std::string kCamera = "/api/v1/camera/0/";

// The simulator's screen image after `taken` new images, cut and binned as asked.
std::vector<std::uint16_t> deviceImage(int taken, camera::Frame f, int bin, int& width) {
    sim::SimDevice device;
    for (int i = 0; i < taken; ++i) device.takeScreenImage();
    std::vector<std::uint16_t> cut;
    for (int y = f.y; y < f.y + f.height; ++y)
        for (int x = f.x; x < f.x + f.width; ++x) cut.push_back(device.image(31).at(x, y));
    width = f.width / bin;
    return camera::binPixels(cut, f.width, f.height, bin, bin);
}

class KyrAlpacaTest : public ::testing::Test {
  protected:
    void start(std::vector<std::string> extra = {}) {
        ASSERT_FALSE(sim.path().empty());
        std::vector<std::string> o{"--line", sim.path(), "--listen", "127.0.0.1:0"};
        o.insert(o.end(), extra.begin(), extra.end());
        server = std::make_unique<AlpacaProcess>(o);
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
    int put(const std::string& member, const std::string& form) {
        return errorNumber(client->put(kCamera + member, form));
    }
    static int errorNumber(const HttpReply& r) {
        EXPECT_EQ(r.status, 200) << r.body;
        return r.status == 200 ? r.json()["ErrorNumber"].get<int>() : -1;
    }
    json value(const std::string& member) {
        const HttpReply r = get(member);
        EXPECT_EQ(errorNumber(r), 0) << member << ": " << r.body;
        return r.status == 200 ? r.json()["Value"] : json();
    }
    // Asks again, as clients poll, until `done` (bounded).
    static bool until(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + kGuard;
        while (!done())
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return true;
    }
    // The exposure's image in both forms equals the device's.
    void expectImage(int taken, camera::Frame f = {}, int bin = 1) {
        ASSERT_TRUE(until([this] { return value("imageready") == true; }));
        int width = 0;
        const auto pixels = deviceImage(taken, f, bin, width);
        const alpaca::ImageView<std::uint16_t> view{width, f.height / bin, pixels};
        const HttpReply bytes = client->get(kCamera + "imagearray", "application/imagebytes");
        EXPECT_EQ(bytes.header("content-type"), "application/imagebytes");
        // From the data start on (the transaction numbers before it differ).
        EXPECT_TRUE(bytes.body.size() > 16 &&
                    bytes.body.substr(16) == alpaca::encodeImageBytes(view, 0, 0).substr(16));
        EXPECT_TRUE(get("imagearray").json()["Value"] ==
                    json::parse(alpaca::encodeImageArrayJson(view, 0, 0))["Value"]);
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

    EXPECT_EQ(errorNumber(get("cameraxsize")), 0x407);  // not connected yet
    EXPECT_EQ(client->get("/api/v1/camera/5/cameraxsize").status, 400);
    EXPECT_EQ(put("connected", "Connected=true"), 0);
    EXPECT_EQ(value("cameraxsize"), 320);
    EXPECT_EQ(value("cameraysize"), 200);
    EXPECT_EQ(put("startexposure", "Duration=-1&Light=true"), 0x401);

    // The KYR takes an image; the exposure delivers it.
    ASSERT_TRUE(sim.command("new-image"));
    EXPECT_EQ(put("startexposure", "Duration=0&Light=true"), 0);
    expectImage(1);
    EXPECT_GT(value("lastexposureduration").get<double>(), 0);
    EXPECT_TRUE(value("ccdtemperature").is_number());

    // No new image yet: the next exposure waits for one, not the last again.
    EXPECT_EQ(put("startexposure", "Duration=0&Light=true"), 0);
    EXPECT_EQ(value("camerastate"), 2);  // exposing
    ASSERT_TRUE(sim.command("new-image"));
    expectImage(2);

    // Abort frees the camera at once.
    EXPECT_EQ(put("startexposure", "Duration=30&Light=true"), 0);
    EXPECT_EQ(put("abortexposure", ""), 0);
    EXPECT_EQ(value("camerastate"), 0);
    EXPECT_EQ(value("imageready"), false);

    // A sub-frame counted in binned pixels.
    for (const char* form : {"BinX=2", "BinY=2", "StartX=50", "StartY=25", "NumX=32", "NumY=20"}) {
        std::string member(form, std::strchr(form, '='));
        for (char& c : member) c = static_cast<char>(std::tolower(c));
        EXPECT_EQ(put(member, form), 0) << form;
    }
    ASSERT_TRUE(sim.command("new-image"));
    EXPECT_EQ(put("startexposure", "Duration=0&Light=true"), 0);
    expectImage(3, {100, 50, 64, 40}, 2);

    // Disconnecting closes the line after the link-off request.
    EXPECT_EQ(put("connected", "Connected=false"), 0);
    EXPECT_EQ(errorNumber(get("cameraxsize")), 0x407);
    std::string status;
    ASSERT_TRUE(sim.command("status", &status));
    EXPECT_NE(status.find("link: down"), std::string::npos) << status;
}

TEST_F(KyrAlpacaTest, JunkAndAHugeBodyLeaveTheServerAndTheExposureRunning) {
    start();
    ASSERT_EQ(put("connected", "Connected=true"), 0);
    // The image on the screen at connecting has never been delivered: the first exposure
    // takes it; the next one waits for a new image.
    ASSERT_EQ(put("startexposure", "Duration=0&Light=true"), 0);
    expectImage(0);
    ASSERT_EQ(put("startexposure", "Duration=60&Light=true"), 0);
    for (const auto& [bytes, status] : std::vector<std::pair<std::string, int>>{
             {std::string("\x16\x03\x01\x00\xa5\xff junk\r\n\r\n", 15), 400},
             {"PUT /api/v1/camera/0/startexposure HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Content-Length: 100000000\r\n\r\nDuration=1&Light=true",
              413}}) {
        AlpacaTestClient bad(io, server->port());
        EXPECT_EQ(bad.exchange(bytes).status, status);
        EXPECT_TRUE(bad.closedByServer());
    }
    EXPECT_EQ(value("camerastate"), 2);
    ASSERT_TRUE(sim.command("new-image"));
    expectImage(1);
}

TEST_F(KyrAlpacaTest, DiscoveryAnswersWithTheServersPort) {
    start({"--discovery"});
    using asio::ip::udp;
    udp::socket socket(io, udp::endpoint(udp::v4(), 0));
    socket.send_to(asio::buffer(std::string("alpacadiscovery1")),
                   udp::endpoint(asio::ip::make_address("127.0.0.1"), 32227));
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
    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--line"},
                                               {"--line", "x", "--baud", "4800"},
                                               {"--line", "x", "--listen", "x:1"}}) {
        AlpacaProcess bad(args);
        EXPECT_EQ(bad.process().finish(0), 2);  // usage errors
        EXPECT_NE(bad.process().errorText().find("(try --help)"), std::string::npos);
    }
    // A device that is not there: connecting fails with the reason, the server answers on.
    AlpacaProcess missing({"--line", "/dev/kyr-missing", "--listen", "127.0.0.1:0"});
    AlpacaTestClient c(io, missing.port());
    const HttpReply r = c.put(kCamera + "connected", "Connected=true");
    EXPECT_EQ(errorNumber(r), 0x500);
    EXPECT_NE(r.json()["ErrorMessage"].get<std::string>().find("/dev/kyr-missing"),
              std::string::npos);
    EXPECT_EQ(c.get(kCamera + "connected").json()["Value"], false);

    // The device lost while connected: the camera is no longer connected, and says why.
    start();
    ASSERT_EQ(put("connected", "Connected=true"), 0);
    sim.process().finish(SIGKILL);
    EXPECT_TRUE(until([this] { return value("connected") == false; }));
    EXPECT_NE(server->process().errorText().find("line was lost"), std::string::npos);
}

}  // namespace
}  // namespace kyr::test
