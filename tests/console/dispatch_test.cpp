// The dispatcher by packet type, the reply timer, keys and the display mirror.
#include "console_fixture.h"

namespace kyr::test {
namespace {

const Bytes kAck{165, 6, 0, 0, 171, 0};

TEST_F(ConsoleTest, AcknowledgesEstablishLinkThenKeypress) {
    con.start();
    port.receive(kAck);
    EXPECT_EQ(ui.status, "Link Established");
    EXPECT_TRUE(con.link.linkEstablished);
    port.receive(kAck);
    EXPECT_EQ(ui.status, "Keypress acknowledged");
    EXPECT_EQ(con.rx.rxCount, 0);
}

TEST_F(ConsoleTest, DisplayPacketEstablishesLinkBeforeItsBodyArrives) {
    con.start();
    const Bytes p = packet(9, displayPayload("KYR Main Menu           Exposure 1.00 s      "
                                             "   "));
    port.receive(Bytes(p.begin(), p.begin() + 10));
    EXPECT_EQ(ui.status, "Link Established");
    EXPECT_TRUE(ui.displayHistory.empty());
    port.receive(Bytes(p.begin() + 10, p.end()));
    EXPECT_EQ(ui.display, "KYR Main Menu           \r\nExposure 1.00 s         ");
    EXPECT_EQ(con.rx.rxCount, 0);
}

TEST_F(ConsoleTest, DisplayTextLinesLogLineAndBadChecksum) {
    startLinked();
    std::string captured;
    con.capture.captureActive = false;
    const std::string line1 = "ABCDEFGHIJKLMNOPQRSTUVWX", line2 = "abcdefghijklmnopqrstuvwx";
    Bytes two = packet(9, displayPayload(line1 + line2));
    Bytes second = packet(9, displayPayload(line2 + line1));
    Bytes both = two;
    both.insert(both.end(), second.begin(), second.end());
    port.receive(both);  // two display packets in one event
    ASSERT_EQ(ui.displayHistory.size(), 2u);
    EXPECT_EQ(ui.displayHistory[0], line1 + "\r\n" + line2);
    EXPECT_EQ(ui.display, line2 + "\r\n" + line1);
    EXPECT_EQ(ui.displayRepaints, 2);

    // Fewer than 24 characters: no break; exactly 24: ends with it.
    port.receive(packet(9, displayPayload("short")));
    EXPECT_EQ(ui.display, "short");
    port.receive(packet(9, displayPayload(line1)));
    EXPECT_EQ(ui.display, line1 + "\r\n");

    Bytes bad = packet(9, displayPayload(line1 + line2));
    bad[20] ^= 0x01;
    port.receive(bad);
    EXPECT_EQ(ui.display, "????????");
    EXPECT_EQ(con.rx.rxCount, 0);

    // High characters of the device's 8-bit set reach the window intact.
    Bytes deg = displayPayload(line1 + line2);
    deg[5] = 0xB0;  // degree sign
    port.receive(packet(9, deg));
    EXPECT_EQ(ui.display.substr(5, 2), "\xC2\xB0");
}

TEST_F(ConsoleTest, DeviceLinkRequestRefusalAndUnknownTypes) {
    startLinked();
    timer.setEnabled(true);
    port.receive({165, 255, 0, 0, 164, 1});
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(ui.status, "Request to establish link");
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 254, 0, 0, 163, 1}));
    port.receive({165, 254, 0, 0, 163, 1});
    EXPECT_EQ(ui.status, "Link established to KYR");
    port.receive(packet(21));
    EXPECT_EQ(ui.status, "KYR did not understand command");

    // A type the console does not know is dropped once complete; what follows is handled.
    Bytes in = packet(42, Bytes(20, 0x55));
    in.insert(in.end(), kAck.begin(), kAck.end());
    port.receive(Bytes(in.begin(), in.begin() + 12));
    EXPECT_TRUE(con.rx.headerValid);
    port.receive(Bytes(in.begin() + 12, in.end()));
    EXPECT_EQ(ui.status, "Keypress acknowledged");
    EXPECT_EQ(con.rx.rxCount, 0);
    EXPECT_FALSE(con.rx.headerValid);
}

TEST_F(ConsoleTest, TurboArrowMasksAndButtonFace) {
    startLinked();
    con.pressKey(PanelKey::Up);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 32, 32, 0}));
    EXPECT_EQ(ui.status, "Keypress not acknowledged");
    con.toggleTurbo();
    EXPECT_TRUE(ui.turboGreen);
    EXPECT_TRUE(con.turboOn);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 0, 8, 0}));
    con.pressKey(PanelKey::Up);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 32, 40, 0}));
    con.pressKey(PanelKey::Left);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 8, 128, 136, 0}));
    con.toggleTurbo();
    EXPECT_FALSE(ui.turboGreen);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 0, 0, 0}));
    con.pressKey(PanelKey::Up);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 8, 2, 0, 175, 0, 0, 32, 32, 0}));

    // Every other key sends its own mask.
    struct K { PanelKey key; std::uint16_t mask; };
    const K keys[] = {{PanelKey::Focus, 0x0001},     {PanelKey::Image, 0x0002},
                      {PanelKey::Monitor, 0x0004},   {PanelKey::Parameter, 0x0010},
                      {PanelKey::Setup, 0x0020},     {PanelKey::Value, 0x0040},
                      {PanelKey::Interrupt, 0x0080}, {PanelKey::Calibrate, 0x0100},
                      {PanelKey::Track, 0x0200},     {PanelKey::Display, 0x0400},
                      {PanelKey::FileOps, 0x0800},   {PanelKey::Down, 0x1000},
                      {PanelKey::Right, 0x4000}};
    for (const auto& k : keys) {
        con.pressKey(k.key);
        const Bytes w = port.lastWrite();
        ASSERT_EQ(w.size(), 10u);
        EXPECT_EQ(w[6] | (w[7] << 8), k.mask);
    }
}

TEST_F(ConsoleTest, KeyClickEndsUploadHandlingAndParameterRepaints) {
    startLinked();
    con.upload.uploadState = UploadState::Pages;
    ui.repaintedStatus.clear();
    con.pressKey(PanelKey::Parameter);
    EXPECT_EQ(con.upload.uploadState, UploadState::Idle);
    ASSERT_EQ(ui.repaintedStatus.size(), 1u);
    EXPECT_EQ(ui.repaintedStatus[0], "Keypress not acknowledged");
    port.receive(kAck);  // now taken as the key's acknowledge
    EXPECT_EQ(ui.status, "Keypress acknowledged");
}

TEST_F(ConsoleTest, ReplyTimerRetriesThreeTimesThenFails) {
    startLinked();
    con.downloadScreenImage();
    const Bytes headerRequest{165, 4, 2, 0, 171, 0, 31, 0, 31, 0, 0, 0, 0, 0};
    EXPECT_EQ(port.lastWrite(), headerRequest);
    EXPECT_TRUE(timer.enabled());
    EXPECT_EQ(timer.interval(), 256);
    for (int i = 0; i < 3; ++i) {
        con.onReplyTimer();
        EXPECT_EQ(port.lastWrite(), headerRequest);
    }
    EXPECT_EQ(port.writes.size(), 4u);
    con.onReplyTimer();
    EXPECT_EQ(port.writes.size(), 4u);
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(ui.status, "Communication Failed");
    EXPECT_EQ(ui.repaintedStatus.back(), "Communication Failed");
    // The counter is cleared only by progress: a new unanswered request fails at its first tick.
    con.downloadScreenImage();
    con.onReplyTimer();
    EXPECT_EQ(ui.status, "Communication Failed");
}

TEST_F(ConsoleTest, RowRetryEmptiesBufferAndDiscardsPendingInput) {
    startLinked();
    con.download.awaitingHeader = false;
    con.download.currentRow = 12;
    con.download.requestFirstColumn = 3;
    con.download.requestColumnCount = 100;
    con.download.imageBufferNumber = 7;
    port.receive({165, 7, 200, 0, 116, 1, 1, 2, 3});  // part of a row
    EXPECT_TRUE(con.rx.headerValid);
    port.queueInput({9, 9, 9});
    con.onReplyTimer();
    EXPECT_EQ(con.rx.rxCount, 0);
    EXPECT_FALSE(con.rx.headerValid);
    EXPECT_TRUE(port.input().empty());
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 7, 8, 0, 180, 0, 12, 0, 3, 0, 100, 0, 7, 0, 122, 0}));
    // Row 200 is asked for with type 5, columns 0..319.
    con.download.currentRow = 200;
    con.sendRowRequest(7);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 5, 8, 0, 178, 0, 200, 0, 0, 0, 64, 1, 7, 0, 16, 1}));
}

TEST_F(ConsoleTest, BufferReportPicksLowestBufferAndEmptyReport) {
    startLinked();
    con.files.autoSaveOn = true;
    // buffers 16..31 mask: bit 3 -> buffer 19; buffers 0..15 mask: bits 0 and 5.
    port.receive(packet(3, {0x08, 0x00, 0x21, 0x00}));
    EXPECT_TRUE(con.download.downloadAllActive);
    EXPECT_EQ(con.download.imageBufferNumber, 0);
    EXPECT_FALSE(con.download.bufferFlags[0]);
    EXPECT_TRUE(con.download.bufferFlags[5]);
    EXPECT_TRUE(con.download.bufferFlags[19]);
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 4, 2, 0, 171, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(con.download.awaitingHeader);

    port.receive(packet(3, {0, 0, 0, 0}));
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_EQ(ui.status, "KYR data buffers are empty");

    // Without automatic saving the report is answered with command 1; a bad one is dropped.
    con.files.autoSaveOn = false;
    port.writes.clear();
    port.receive(packet(3, {0, 0, 1, 0}));
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 1, 0, 0, 166, 0}));
    Bytes bad = packet(3, {0, 0, 1, 0});
    bad[8] = 3;
    port.receive(bad);
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(con.rx.rxCount, 0);
}

TEST_F(ConsoleTest, FlashNoticeAndScreenOffer) {
    startLinked();
    port.receive(packet(1));
    EXPECT_EQ(ui.repaintedStatus.back(), "KYR is downloading flash memory");
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 1, 0, 0, 166, 0}));
    con.files.autoSaveOn = true;
    port.receive(packet(1));
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 3, 0, 0, 168, 0}));

    port.receive(packet(0));
    EXPECT_EQ(ui.repaintedStatus.back(), "KYR is downloading current image");
    EXPECT_EQ(con.download.imageBufferNumber, 31);
    EXPECT_TRUE(con.download.awaitingHeader);
    EXPECT_TRUE(timer.enabled());
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 4, 2, 0, 171, 0, 31, 0, 31, 0, 0, 0, 0, 0}));
}

TEST_F(ConsoleTest, InterruptAndAbortEndDownloadAll) {
    startLinked();
    con.download.downloadAllActive = true;
    con.download.bufferFlags.fill(true);
    con.pressKey(PanelKey::Interrupt);
    EXPECT_FALSE(con.download.downloadAllActive);
    for (bool f : con.download.bufferFlags) EXPECT_FALSE(f);
    EXPECT_EQ(port.lastWrite()[6], 0x80);

    con.download.downloadAllActive = true;
    con.download.bufferFlags[4] = true;
    const auto writes = port.writes.size();
    con.abortDownloadAll();
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_FALSE(con.download.bufferFlags[4]);
    EXPECT_EQ(port.writes.size(), writes);  // nothing sent
}

TEST_F(ConsoleTest, DownloadAllAsksForNameAndBufferReport) {
    startLinked();
    con.downloadAll();
    EXPECT_EQ(ui.status, "No file was selected!");
    EXPECT_EQ(ui.messages.back(), "No file was selected");
    EXPECT_FALSE(con.files.autoSaveOn);
    EXPECT_TRUE(port.writes.empty());
}

}  // namespace
}  // namespace kyr::test

namespace kyr::test {
namespace {

TEST_F(ConsoleTest, RefusedHeaderEndsTheTransferWithItsReason) {
    startLinked();
    con.download.downloadAllActive = true;
    con.download.bufferFlags[9] = true;
    con.download.imageBufferNumber = 4;
    con.download.awaitingHeader = true;  // the header of buffer 4 was asked for
    ui.headerText = "Image Information";
    Bytes hdr(38, 0);
    hdr[2] = 44;  // height 300
    hdr[3] = 1;
    hdr[4] = 144;  // width 400
    hdr[5] = 1;
    port.receive(packet(4, hdr));
    EXPECT_EQ(ui.status, "Image header refused: 400 x 300 pixels do not fit the 320 x 200 picture area");
    EXPECT_EQ(ui.headerText, "Image Information");
    EXPECT_FALSE(con.download.downloadAllActive);
    EXPECT_FALSE(con.download.bufferFlags[9]);
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 2, 0, 0, 167, 0}));  // end of transfer
    EXPECT_EQ(con.rx.rxCount, 0);
    // A row that nobody asked for is dropped without a request.
    const auto writes = port.writes.size();
    port.receive(packet(5, Bytes(40, 1)));
    EXPECT_EQ(port.writes.size(), writes);
    EXPECT_EQ(con.rx.rxCount, 0);
}

}  // namespace
}  // namespace kyr::test
