#include <gtest/gtest.h>

#include "sim/sim_control.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

TEST(SimControl, CommandsDriveTheDevice) {
    SimDevice d;
    EXPECT_EQ(runControlCommand(d, "offer").text, "ok\n");
    EXPECT_EQ(runControlCommand(d, "  flash  ").text, "ok\n");
    EXPECT_EQ(runControlCommand(d, "link").text, "ok\n");
    EXPECT_EQ(runControlCommand(d, "nak").text, "ok\n");
    std::vector<int> types;
    for (const auto& f : splitFrames(d.takeOutput())) types.push_back(f.type);
    EXPECT_EQ(types, (std::vector<int>{0, 1, 255, 21}));

    EXPECT_EQ(runControlCommand(d, "display Line one|Line  two").text, "ok\n");
    EXPECT_EQ(d.displayText(), "Line one                Line  two               ");
    EXPECT_EQ(splitFrames(d.takeOutput()).size(), 1u);

    EXPECT_EQ(runControlCommand(d, "buffers 2, 5,30").text, "ok\n");
    EXPECT_EQ(d.filledBuffers(), (std::vector<int>{2, 5, 30}));
    EXPECT_EQ(runControlCommand(d, "buffers none").text, "ok\n");
    EXPECT_TRUE(d.filledBuffers().empty());
    for (const char* bad : {"buffers 31", "buffers", "buffers 1,,2", "buffers -1", "buffers x"}) {
        EXPECT_EQ(runControlCommand(d, bad).text.substr(0, 7), "error: ") << bad;
    }

    EXPECT_EQ(runControlCommand(d, "drop 0.2").text, "ok\n");
    EXPECT_EQ(runControlCommand(d, "split on").text, "ok\n");
    EXPECT_EQ(runControlCommand(d, "raw-rows on").text, "ok\n");
    EXPECT_DOUBLE_EQ(d.options().faults.dropRate, 0.2);
    EXPECT_TRUE(d.options().faults.split);
    EXPECT_TRUE(d.options().rawRows);
    EXPECT_EQ(runControlCommand(d, "junk 1").text.substr(0, 7), "error: ");
    EXPECT_EQ(runControlCommand(d, "corrupt -0.1").text.substr(0, 7), "error: ");
    EXPECT_EQ(runControlCommand(d, "split maybe").text.substr(0, 7), "error: ");
    EXPECT_EQ(runControlCommand(d, "frobnicate").text,
              "error: unknown command \"frobnicate\" (try help)\n");
    EXPECT_EQ(runControlCommand(d, "").text, "");
    EXPECT_TRUE(runControlCommand(d, "quit").quit);
    EXPECT_NE(runControlCommand(d, "help").text.find("status"), std::string::npos);
}

TEST(SimControl, StatusReportsWhatTheDeviceSaw) {
    SimDevice d;
    d.receive(linkRequest(1));
    d.receive(keyPress(keys::Up | keys::Turbo));
    d.receive(packet(11, {0, 0}));
    d.receive(packet(11, {1, 0}));
    d.receive(packet(253, {32, 0}));
    const std::string s = runControlCommand(d, "status").text;
    EXPECT_NE(s.find("link: up\n"), std::string::npos) << s;
    EXPECT_NE(s.find("keys: 1 last=0x2008\n"), std::string::npos) << s;
    EXPECT_NE(s.find("save-acks: 0,1\n"), std::string::npos) << s;
    EXPECT_NE(s.find("upload: in progress (0 of 192 pages)\n"), std::string::npos) << s;
    EXPECT_NE(s.find("display: |Param: Exposure         |Value: 3.50 s           |\n"),
              std::string::npos)
        << s;
    EXPECT_EQ(s.substr(s.size() - 3), "ok\n");
}

}  // namespace
}  // namespace kyr::sim::test
