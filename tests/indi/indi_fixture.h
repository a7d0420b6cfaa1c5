#pragma once
// A test with the real indiserver running indi_kyr_ccd and a client connected to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"
#include "indi_rig.h"
#include "link/packet.h"
#include "sim/sim_device.h"

namespace kyr::indi::test {

inline int countContaining(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.find(part) != std::string::npos;
    }));
}

// Countdown updates while rows arrive: the time they need on the line, more than the 1 s
// asked for.
inline int countdowns(const Client& c) {
    return static_cast<int>(std::count_if(c.exposures.begin(), c.exposures.end(), [](auto& e) {
        return e.first == IPS_BUSY && e.second > 1.5;
    }));
}

// The display lines after a link request and a key, as the simulated panel shows them
// (INDI texts have no trailing blanks).
inline std::string displayAfterKey(std::uint8_t mask) {
    sim::SimDevice device;
    device.receive(buildPacket(9, std::vector<std::uint8_t>{1, 0}));
    device.receive(buildPacket(8, std::vector<std::uint8_t>{mask, 0}));
    const std::string text = device.displayText();
    const auto trimmed = [](std::string s) { return s.erase(s.find_last_not_of(' ') + 1); };
    return trimmed(text.substr(0, 24)) + "|" + trimmed(text.substr(24));
}

class IndiDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_unique<Server>(dir.path.string());
        ASSERT_NE(server->port(), 0);
        ASSERT_TRUE(client.connect(server->port()));
    }
    void TearDown() override {
        // INDI's words: no window menu items, no acknowledge for every image.
        for (const std::string& m : messages()) {
            EXPECT_EQ(m.find("Establish Link"), std::string::npos) << m;
            EXPECT_EQ(m.find("Keypress acknowledged"), std::string::npos) << m;
        }
        client.disconnectServer();
        EXPECT_EQ(server->stop(), "");  // the driver's sanitizer reports
    }
    void expectImage(const Bytes& blob, int buffer = 31) {
        const Fits fits = readFits(blob);
        ASSERT_EQ(fits.error, "") << "buffer " << buffer;
        EXPECT_EQ(fits.keys.at("ROWORDER"), "TOP-DOWN");
        EXPECT_TRUE(fits.pixels == simImage(buffer)) << "buffer " << buffer;
    }
    void setFrame(const std::array<int, 4>& frame, int bin);
    std::vector<std::string> messages() {
        return client.locked([&] { return client.messages; });
    }

    kyr::test::TempDir dir;
    std::unique_ptr<Server> server;
    Client client;
};

}  // namespace kyr::indi::test
