// Start-up, shutdown, link establishment and the baud menu against the fake port.
#include "console_fixture.h"

namespace kyr::test {
namespace {

const Bytes kLinkOn{165, 9, 2, 0, 176, 0, 1, 0, 1, 0};
const Bytes kLinkOff{165, 9, 2, 0, 176, 0, 0, 0, 0, 0};

TEST_F(ConsoleTest, StartUpOpensCom1AndRequestsLink) {
    con.start();
    EXPECT_TRUE(con.link.portOpen);
    EXPECT_EQ(port.openedPorts, std::vector<int>{1});
    EXPECT_EQ(port.settings(), "115200,N,8,2");
    EXPECT_EQ(port.inBufferSize, 2048);
    EXPECT_EQ(port.outBufferSize, 2048);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0], kLinkOn);
    EXPECT_EQ(ui.status, "Link not established!");
    EXPECT_EQ(con.link.replyTimeout, 256);
    EXPECT_EQ(con.link.transferTimeout, 256);
    EXPECT_FALSE(ui.turboGreen);
}

TEST_F(ConsoleTest, StartUpWithoutCom1WritesNothing) {
    port.availablePorts.clear();
    con.start();
    EXPECT_FALSE(con.link.portOpen);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(ui.status, "Unable to open COM1");
    // Senders that test the port refuse with a message box; those that don't never write.
    con.sendLinkRequest(1);
    con.sendSaveAck(0);
    EXPECT_EQ(ui.status, "Unable to open COM1");  // silent: the caller's message stands
    con.pressKey(PanelKey::Focus);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(ui.messages, std::vector<std::string>{"No COM port is open to KYR"});
    // Shutdown with the port closed sends nothing.
    con.quit();
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(con.terminated());
}

TEST_F(ConsoleTest, ExitWhileLinkedSendsLinkOffAndCloses) {
    startLinked();
    con.quit();
    ASSERT_FALSE(port.writes.empty());
    EXPECT_EQ(port.lastWrite(), kLinkOff);
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.closeCount, 1);
    EXPECT_TRUE(con.terminated());
    con.shutdown();  // closing the window after Exit does nothing more
    EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(ConsoleTest, BaudMenuAppliesOneStopBitAtOnceAndEstablishLinkUsesTwo) {
    con.start();
    port.availablePorts.insert(2);
    con.setBaudRate(2);
    EXPECT_EQ(port.settingsHistory.back(), "57600,N,8,1");  // applied on the open port
    EXPECT_EQ(con.link.baudCode, 2);
    EXPECT_EQ(con.link.replyTimeout, 1024);
    EXPECT_EQ(con.link.transferTimeout, 1024);
    EXPECT_EQ(port.writes.size(), 1u);  // nothing sent
    EXPECT_TRUE(port.portOpen());

    con.setBaudRate(5);
    EXPECT_EQ(con.link.transferTimeout, 1320);
    con.establishLink(2);
    EXPECT_EQ(port.openedPorts.back(), 2);
    EXPECT_EQ(port.settings(), "9600,N,8,2");
    EXPECT_EQ(con.link.baudCode, 5);
    EXPECT_EQ(con.link.transferTimeout, 110);
    EXPECT_EQ(con.link.replyTimeout, 256);
    EXPECT_EQ(ui.status, "Link not established");
    EXPECT_EQ(ui.repaintedStatus.back(), "Link not established");
    EXPECT_EQ(port.lastWrite(), kLinkOn);
}

TEST_F(ConsoleTest, EstablishLinkToMissingPortClosesOldOneAndRefusesLaterSends) {
    startLinked();
    // Front ends hear the port's own reason beside the console's message.
    struct Reasons : ConsoleEvents {
        std::vector<std::string> seen;
        void portError(const std::string& reason) override { seen.push_back(reason); }
    } reasons;
    con.setEvents(&reasons);
    con.establishLink(3);
    EXPECT_EQ(reasons.seen, std::vector<std::string>{"no such port"});
    EXPECT_EQ(port.closeCount, 1);
    EXPECT_FALSE(port.portOpen());
    EXPECT_FALSE(con.link.portOpen);
    EXPECT_EQ(ui.status, "COM3 not available");
    EXPECT_TRUE(port.writes.empty());
    con.sendCommand(2);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(ui.messages.back(), "No COM port is open to KYR");
}

TEST_F(ConsoleTest, EstablishLinkTwiceReopensEmptiesBufferAndResendsRequest) {
    startLinked();
    port.receive({165, 9, 48, 0});  // a partial display packet waits in the buffer
    EXPECT_EQ(con.rx.rxCount, 4);
    con.upload.uploadState = UploadState::Pages;
    con.establishLink(1);
    con.establishLink(1);
    EXPECT_EQ(port.closeCount, 2);
    EXPECT_EQ(port.openedPorts, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(con.rx.rxCount, 0);
    EXPECT_EQ(con.upload.uploadState, UploadState::Idle);
    EXPECT_FALSE(con.link.linkEstablished);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[1], kLinkOn);
}

TEST_F(ConsoleTest, LostDeviceClosesOnceWithOneMessage) {
    startLinked();
    con.downloadScreenImage();
    EXPECT_TRUE(timer.enabled());
    port.loseDevice();
    EXPECT_FALSE(con.link.portOpen);
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(ui.status, "COM1 connection lost - use Establish Link to reconnect");
    const auto statuses = ui.statusHistory.size();
    port.loseDevice();  // a second notification changes nothing
    EXPECT_EQ(ui.statusHistory.size(), statuses);
    con.pressKey(PanelKey::Up);
    EXPECT_EQ(ui.messages.back(), "No COM port is open to KYR");
    port.writes.clear();
    con.establishLink(1);  // the user reconnects
    EXPECT_TRUE(con.link.portOpen);
    EXPECT_EQ(port.lastWrite(), kLinkOn);
}

}  // namespace
}  // namespace kyr::test

namespace kyr::test {
namespace {

TEST_F(ConsoleTest, DeviceLostDuringAHandlersModalDialogIsHandledAfterIt) {
    startLinked();
    // The line drops while a handler is still running (as in a modal dialog's nested loop).
    bool lostDuringDialog = false;
    port.onWrite = [&](const Bytes&) {
        if (lostDuringDialog) return;
        lostDuringDialog = true;
        port.loseDevice();  // raised while the receive event is still being handled
    };
    port.receive(packet(255));  // answered with the link accept, during which the line drops
    EXPECT_FALSE(con.link.portOpen);
    EXPECT_EQ(ui.status, "COM1 connection lost - use Establish Link to reconnect");
}

}  // namespace
}  // namespace kyr::test
