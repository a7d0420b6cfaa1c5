// The Alpaca server end to end: the tests' own client over loopback TCP against the real
// server with a fake camera, all on one io_context.
#include "alpaca/alpaca_server.h"

#include <gtest/gtest.h>

#include <array>

#include "alpaca/alpaca_test_client.h"
#include "alpaca/fake_camera.h"

namespace kyr::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kCamera = "/api/v1/camera/0/";

std::uint32_t le(const std::string& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
    return v;
}
std::uint32_t le32(const std::string& b, std::size_t at) { return le(b, at, 4); }

class AlpacaServerTest : public ::testing::Test {
  protected:
    static alpaca::AlpacaServerOptions options() {
        alpaca::AlpacaServerOptions o;
        o.port = 0;
        o.description.uniqueId = "0123456789abcdef";
        o.requestTimeout = 200ms;
        return o;
    }
    AlpacaTestClient client() { return AlpacaTestClient(io, server.port()); }
    int errorNumber(const HttpReply& r) {
        EXPECT_EQ(r.status, 200) << r.body;
        return r.status == 200 ? r.json()["ErrorNumber"].get<int>() : -1;
    }

    asio::io_context io;
    FakeCamera camera;
    alpaca::AlpacaServer server{io, camera, options()};
};

TEST_F(AlpacaServerTest, ManagementApiDescribesOneCameraAndTransactionsAreNumbered) {
    AlpacaTestClient c = client();
    const HttpReply versions = c.get("/management/apiversions?ClientID=1&ClientTransactionID=41");
    EXPECT_EQ(versions.status, 200);
    EXPECT_EQ(versions.header("content-type"), "application/json; charset=utf-8");
    const json v = versions.json();
    EXPECT_EQ(v["Value"], json::array({1}));
    EXPECT_EQ(v["ClientTransactionID"], 41);
    EXPECT_EQ(v["ErrorNumber"], 0);
    EXPECT_EQ(v["ErrorMessage"], "");

    const json d = c.get("/management/v1/description").json();
    EXPECT_EQ(d["Value"]["ServerName"], "KYR Alpaca Server");
    EXPECT_EQ(d["ClientTransactionID"], 0);  // none given

    const json devices = c.get("/management/v1/configureddevices?clienttransactionid=43").json();
    EXPECT_EQ(devices["Value"], json::parse(R"([{"DeviceName":"KYR","DeviceType":"Camera",
                                                "DeviceNumber":0,"UniqueID":"0123456789abcdef"}])"));
    EXPECT_EQ(devices["ClientTransactionID"], 43);

    const auto serverTid = [](const json& j) { return j["ServerTransactionID"].get<unsigned>(); };
    EXPECT_GE(serverTid(v), 1u);
    EXPECT_LT(serverTid(v), serverTid(d));
    EXPECT_LT(serverTid(d), serverTid(devices));
    EXPECT_EQ(c.get("/setup").header("content-type"), "text/html; charset=utf-8");
}

TEST_F(AlpacaServerTest, ErrorsAnswerAsTheAlpacaReferenceSays) {
    AlpacaTestClient c = client();
    // Not connected yet: HTTP 200 with NotConnected, and the client's transaction echoed.
    HttpReply r = c.get(kCamera + "cameraxsize?ClientTransactionID=7");
    EXPECT_EQ(errorNumber(r), 0x407);
    EXPECT_EQ(r.json()["ClientTransactionID"], 7);
    EXPECT_NE(r.json()["ErrorMessage"], "");
    EXPECT_FALSE(r.json().contains("Value"));

    // What the device cannot understand: HTTP 400 with a text message.
    for (const std::string& target : std::vector<std::string>{
             "/api/v1/camera/5/cameraxsize", "/api/v1/camera/x/cameraxsize", kCamera + "canslew",
          "/api/v1/telescope/0/canslew", "/api/v2/camera/0/cameraxsize",
          "/api/v1/camera/0/CameraXSize", "/apii/v1/camera/0/cameraxsize",
          kCamera + "cameraxsize?ClientID=abc", kCamera + "cameraxsize?ClientTransactionID=-1",
          kCamera + "cameraxsize?ClientTransactionID=4294967296", kCamera + "startexposure"}) {
        r = c.get(target);
        EXPECT_EQ(r.status, 400) << target;
        EXPECT_EQ(r.header("content-type"), "text/plain; charset=utf-8") << target;
    }
    EXPECT_EQ(c.get("/api/v1/camera/5/cameraxsize").body, "there is no camera 5: the only camera is 0");
    r = c.exchange("DELETE " + kCamera + "connected HTTP/1.1\r\n\r\n");
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.header("allow"), "GET, PUT");
    EXPECT_EQ(c.put(kCamera + "connected", "ClientID=1").status, 400);  // Connected missing
    EXPECT_EQ(c.put(kCamera + "connected", "Connected=yes").status, 400);
    EXPECT_FALSE(camera.linked);

    // Parameter names in any case, in a form body as in a query string.
    r = c.put(kCamera + "connected", "connected=TRUE&clienttransactionid=12");
    EXPECT_EQ(errorNumber(r), 0);
    EXPECT_EQ(r.json()["ClientTransactionID"], 12);
    EXPECT_TRUE(camera.linked);
    r = c.get(kCamera + "cameraxsize?CLIENTTRANSACTIONID=13");
    EXPECT_EQ(r.json()["Value"], 320);
    EXPECT_EQ(r.json()["ClientTransactionID"], 13);
    EXPECT_EQ(c.get(kCamera + "cameraysize").json()["Value"], 200);

    // Out of range: InvalidValue. Not reported by this camera: NotImplemented, never a value.
    // Not yet: ValueNotSet. Not now: InvalidOperation.
    EXPECT_EQ(errorNumber(c.put(kCamera + "startexposure", "Duration=-1&Light=true")), 0x401);
    EXPECT_EQ(errorNumber(c.put(kCamera + "startexposure", "Duration=3601&Light=true")), 0x401);
    EXPECT_EQ(errorNumber(c.put(kCamera + "binx", "BinX=3")), 0x401);
    EXPECT_EQ(errorNumber(c.get(kCamera + "pixelsizex")), 0x400);
    EXPECT_EQ(errorNumber(c.get(kCamera + "ccdtemperature")), 0x400);
    EXPECT_EQ(errorNumber(c.get(kCamera + "imagearrayvariant")), 0x400);
    EXPECT_EQ(errorNumber(c.put(kCamera + "stopexposure", "")), 0x400);
    EXPECT_EQ(errorNumber(c.get(kCamera + "lastexposureduration")), 0x402);
    EXPECT_EQ(errorNumber(c.get(kCamera + "imagearray")), 0x40B);
    EXPECT_EQ(errorNumber(c.get(kCamera + "percentcompleted")), 0x40B);
    // A sub-frame is checked when the exposure starts, against sensor and binning.
    EXPECT_EQ(errorNumber(c.put(kCamera + "numx", "NumX=161")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "binx", "BinX=2")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "biny", "BinY=2")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "numy", "NumY=100")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "startexposure", "Duration=1&Light=true")), 0x401);
    EXPECT_EQ(errorNumber(c.put(kCamera + "biny", "BinY=1")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "numx", "NumX=160")), 0);
    EXPECT_EQ(errorNumber(c.put(kCamera + "startexposure", "Duration=1&Light=true")), 0x40B);
    EXPECT_EQ(c.put(kCamera + "startexposure", "Duration=1,5&Light=true").status, 400);
    EXPECT_EQ(c.put(kCamera + "startexposure", "Duration=1").status, 400);
    EXPECT_TRUE(camera.exposures.empty());
}

TEST_F(AlpacaServerTest, AnExposuresImageArrivesBitExactAsJsonAndAsImageBytes) {
    AlpacaTestClient c = client();
    EXPECT_EQ(errorNumber(c.put(kCamera + "connect", "")), 0);
    EXPECT_TRUE(c.get(kCamera + "connected").json()["Value"]);
    EXPECT_FALSE(c.get(kCamera + "connecting").json()["Value"]);
    EXPECT_EQ(c.get(kCamera + "numx").json()["Value"], 320);  // the whole sensor to start with
    EXPECT_EQ(c.get(kCamera + "numy").json()["Value"], 200);
    for (const char* set : {"startx|StartX=1", "starty|StartY=2", "numx|NumX=3", "numy|NumY=2"}) {
        const std::string s = set;
        EXPECT_EQ(errorNumber(c.put(kCamera + s.substr(0, s.find('|')), s.substr(s.find('|') + 1))), 0);
    }
    EXPECT_EQ(errorNumber(c.put(kCamera + "startexposure", "Duration=0.5&Light=false")), 0);
    ASSERT_EQ(camera.exposures.size(), 1u);
    const alpaca::ExposureRequest& e = camera.exposures[0];
    EXPECT_EQ(e.duration, 0.5);
    EXPECT_FALSE(e.light);
    EXPECT_EQ((std::array{e.frame.startX, e.frame.startY, e.frame.numX, e.frame.numY,
                          e.frame.binX, e.frame.binY}),
              (std::array{1, 2, 3, 2, 1, 1}));
    EXPECT_TRUE(c.get(kCamera + "imageready").json()["Value"]);
    EXPECT_EQ(c.get(kCamera + "lastexposureduration").json()["Value"], 0.5);
    EXPECT_EQ(c.get(kCamera + "lastexposurestarttime").json()["Value"], "1970-01-01T00:00:00.000");

    const json j = c.get(kCamera + "imagearray?ClientTransactionID=21").json();
    EXPECT_EQ(j["Type"], 2);
    EXPECT_EQ(j["Rank"], 2);
    EXPECT_EQ(j["ErrorNumber"], 0);
    EXPECT_EQ(j["ClientTransactionID"], 21);
    ASSERT_EQ(j["Value"].size(), 3u);
    for (int x = 0; x < 3; ++x) {
        ASSERT_EQ(j["Value"][x].size(), 2u);
        for (int y = 0; y < 2; ++y) EXPECT_EQ(j["Value"][x][y], FakeCamera::pixel(x, y));
    }

    HttpReply r = c.get(kCamera + "imagearray?ClientTransactionID=22",
                        "application/json, application/imagebytes");
    EXPECT_EQ(r.header("content-type"), "application/imagebytes");
    ASSERT_EQ(r.body.size(), 44u + 3 * 2 * 2);
    const std::uint32_t metadata[] = {1, 0, 22, le32(r.body, 12), 44, 2, 8, 2, 3, 2, 0};
    for (std::size_t i = 0; i < std::size(metadata); ++i) EXPECT_EQ(le32(r.body, 4 * i), metadata[i]) << i;
    EXPECT_GT(le32(r.body, 12), j["ServerTransactionID"].get<std::uint32_t>());
    for (int x = 0, at = 44; x < 3; ++x)
        for (int y = 0; y < 2; ++y, at += 2)
            EXPECT_EQ(le(r.body, at, 2), FakeCamera::pixel(x, y));
    EXPECT_EQ(c.get(kCamera + "imagearray", "application/imagebytes;q=0").header("content-type"),
              "application/json; charset=utf-8");

    EXPECT_EQ(errorNumber(c.put(kCamera + "abortexposure", "")), 0);
    EXPECT_EQ(camera.aborts, 1);
    // A client that takes ImageBytes is told of an error in that form too.
    EXPECT_EQ(errorNumber(c.put(kCamera + "connected", "Connected=false")), 0);
    r = c.get(kCamera + "imagearray", "application/imagebytes");
    EXPECT_EQ(r.header("content-type"), "application/imagebytes");
    ASSERT_GT(r.body.size(), 44u);
    EXPECT_EQ(le32(r.body, 4), 0x407u);
    EXPECT_EQ(r.body.substr(44), "the camera is not connected: set Connected to true first");
}

TEST_F(AlpacaServerTest, JunkSlowAndHugeRequestsGetAnErrorAndTheServerAnswersOn) {
    {
        AlpacaTestClient c = client();
        const HttpReply r = c.exchange("\x16\x03\x01\x02junk\r\n\r\n");
        EXPECT_EQ(r.status, 400);
        EXPECT_EQ(r.header("connection"), "close");
        EXPECT_TRUE(c.closedByServer());
    }
    {
        AlpacaTestClient c = client();
        const HttpReply r = c.exchange(
            "PUT /api/v1/camera/0/connected HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n"
            "Connected=true");
        EXPECT_EQ(r.status, 413);
        EXPECT_TRUE(c.closedByServer());
        EXPECT_FALSE(camera.linked);
    }
    {
        AlpacaTestClient c = client();
        c.send("GET /management/apiversions HTTP/1.1\r\nHost: kyr\r\n");  // and no more
        EXPECT_EQ(c.receive().status, 408);
        EXPECT_TRUE(c.closedByServer());
    }
    {
        AlpacaTestClient silent = client();  // connects and says nothing
        EXPECT_TRUE(silent.closedByServer());
    }
    // Kept alive, and two requests in one write answered in order.
    AlpacaTestClient c = client();
    c.send("GET /management/apiversions?ClientTransactionID=1 HTTP/1.1\r\n\r\n"
           "GET /management/apiversions?ClientTransactionID=2 HTTP/1.1\r\n\r\n");
    EXPECT_EQ(c.receive().json()["ClientTransactionID"], 1);
    EXPECT_EQ(c.receive().json()["ClientTransactionID"], 2);
    EXPECT_EQ(c.get("/management/apiversions").status, 200);
}

}  // namespace
}  // namespace kyr::test
