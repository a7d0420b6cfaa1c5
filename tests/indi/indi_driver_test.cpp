// indi_kyr_ccd under the real indiserver, with kyr-sim as the KYR.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "indi_fixture.h"
#include "link/packet.h"
#include "sim/sim_device.h"

namespace kyr::indi::test {
namespace {

TEST_F(IndiDriverTest, SerialLineExposureAgainAndKeys) {
    Simulator sim({"--pty", "--baud", "115200"});  // paced as a real KYR's line
    ASSERT_TRUE(client.connectSerial(sim.address()));

    ASSERT_TRUE(client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1));
    ASSERT_TRUE(client.waitFor([&] { return countdowns(client) >= 2; }));
    // A second request while the rows arrive.
    ASSERT_TRUE(client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1));
    ASSERT_TRUE(client.waitFor([&] { return !client.blobs.empty(); }));
    const Bytes blob = client.locked([&] { return client.blobs[0]; });
    expectImage(blob);
    const Fits fits = readFits(blob);
    EXPECT_EQ(fits.keys.at("EXPTIME"), "2.500");  // the KYR's own exposure
    EXPECT_EQ(fits.keys.at("INSTRUME"), "KYR");
    EXPECT_EQ(countContaining(messages(), "takes its own exposures"), 1);
    // The second request was not refused: the one on its way gave way to it (libindi aborts
    // the exposure under way first), and the image came once.
    EXPECT_EQ(countContaining(messages(), "refused"), 0);
    EXPECT_TRUE(client.locked([&] {
        return std::none_of(client.exposures.begin(), client.exposures.end(),
                            [](auto& e) { return e.first == IPS_ALERT; });
    }));

    ASSERT_TRUE(client.setSwitch("KYR_SETUP", "SETUP"));
    const std::string shown = displayAfterKey(0x20);
    EXPECT_TRUE(client.waitFor([&] {
        const Prop* p = client.prop("KYR_DISPLAY");
        return p && p->texts.at("LINE1") + "|" + p->texts.at("LINE2") == shown &&
               client.state("KYR_SETUP") == IPS_OK;
    })) << shown;
    EXPECT_EQ(client.locked([&] { return client.blobs.size(); }), 1u);
}

TEST_F(IndiDriverTest, TcpWithFaultsDeviceOfferAndDownloadAll) {
    // A serial server that takes the connection and never answers: the handshake fails.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(silent, 1), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_FALSE(client.connectTcp(ntohs(a.sin_port), 1));
    close(silent);
    EXPECT_EQ(countContaining(messages(), "Communication Failed"), 1);

    Simulator sim(
        {"--tcp", "0", "--junk", "0.02", "--corrupt", "0.02", "--drop", "0.02", "--split"});
    ASSERT_EQ(sim.address().rfind("tcp://127.0.0.1:", 0), 0u) << sim.address();
    ASSERT_TRUE(client.connectTcp(std::stoi(sim.address().substr(16))));
    expectImage(client.expose(1));

    // The device offers its screen image: published at once. (Pieces 1 ms apart make an
    // image take seconds: the rest goes whole, with the other faults.)
    ASSERT_TRUE(sim.command("split off"));
    ASSERT_TRUE(sim.command("offer"));
    ASSERT_TRUE(client.waitFor([&] { return client.blobs.size() == 2; }));

    // Download All: each filled buffer (0..4) as a BLOB, and its files in the save folder.
    const auto folder = dir.path / "saved";
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(client.setText("KYR_SAVE", "FOLDER", folder.string()));
    ASSERT_TRUE(client.setSwitch("KYR_DOWNLOAD_ALL", "DOWNLOAD_ALL_START"));
    ASSERT_TRUE(client.waitFor(
        [&] { return client.blobs.size() == 7 && client.state("KYR_DOWNLOAD_ALL") == IPS_OK; }));
    const auto blobs = client.locked([&] { return client.blobs; });
    expectImage(blobs[1]);
    for (int b = 0; b < 5; ++b) expectImage(blobs[2 + static_cast<std::size_t>(b)], b);
    std::vector<std::string> ends;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        ends.push_back(e.path().filename().string().substr(19));  // after KYR-YYYYMMDD-hhmmss
    std::sort(ends.begin(), ends.end());
    // Buffer 2 is a summed image (track list), 3 and 4 are mosaics (mosaic data).
    EXPECT_EQ(ends, (std::vector<std::string>{"001.KYR", "002.KYR", "003.KYR", "003.trk", "004.KYR",
                                              "004.txt", "005.KYR", "005.txt"}));
}

TEST_F(IndiDriverTest, DeviceLostMidDownloadThenBack) {
    auto sim = std::make_unique<Simulator>(std::vector<std::string>{"--pty", "--baud", "115200"});
    ASSERT_TRUE(client.connectSerial(sim->address()));
    ASSERT_TRUE(client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1));
    ASSERT_TRUE(client.waitFor([&] { return countdowns(client) >= 2; }));
    sim->kill();  // the adapter pulled out in the middle of the rows
    ASSERT_TRUE(client.waitFor([&] {
        return client.state("CONNECTION") == IPS_ALERT && client.prop("CCD_EXPOSURE") == nullptr &&
               !client.exposures.empty() && client.exposures.back().first == IPS_ALERT;
    }));

    // Back again (on a new line): connecting works and the image is whole.
    sim = std::make_unique<Simulator>(std::vector<std::string>{"--pty"});
    ASSERT_TRUE(client.connectSerial(sim->address()));
    expectImage(client.expose(1));
    EXPECT_EQ(countContaining(messages(), "connection lost"), 1);
}

}  // namespace
}  // namespace kyr::indi::test
