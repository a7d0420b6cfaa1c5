// Firmware file checks, page packing and the stop-and-wait upload.
#include <filesystem>
#include <fstream>

#include "console/console_fixture.h"
#include "fakes/temp_dir.h"
#include "firmware/firmware.h"

namespace kyr::test {
namespace {

namespace fs = std::filesystem;
const Bytes kAck{165, 6, 0, 0, 171, 0};

// A valid firmware image: a byte pattern with its CRC stored high byte first.
Bytes goodImage() {
    Bytes image(kFirmwareSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::uint16_t crc = firmwareImageCrc(image);
    image[98302] = static_cast<std::uint8_t>(crc >> 8);
    image[98303] = static_cast<std::uint8_t>(crc & 0xFF);
    return image;
}

bool crcPasses(const Bytes& image) { return firmwareImageCrc(image) == storedFirmwareCrc(image); }

Bytes payloadOf(const Bytes& packet) { return Bytes(packet.begin() + 6, packet.end() - 2); }

TEST(Firmware, CrcCheckValueAndStoredCrcComparison) {
    const std::string check = "123456789";
    EXPECT_EQ(firmwareCrc({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
              0x29B1);
    EXPECT_EQ(firmwareCrcTable()[1], 0x1021);

    Bytes image = goodImage();
    EXPECT_TRUE(crcPasses(image));
    image[98300] ^= 0xFF;  // not covered by the CRC
    image[98301] ^= 0x55;
    EXPECT_TRUE(crcPasses(image));
    image[98299] ^= 0x01;  // the last covered byte
    EXPECT_FALSE(crcPasses(image));
    EXPECT_EQ(storedFirmwareCrc(Bytes(100)), 0);  // too short to hold a CRC: no read past the end
    EXPECT_TRUE(firmwareNameAccepted("C:\\CODE\\KYR.BIN") && firmwareNameAccepted("old.bin.bak"));
}

TEST(Firmware, PagesSwapPairsAndFinalCarriesCrcLowByteFirst) {
    Bytes image = goodImage();
    const auto page5 = pagePayload(image, 5);
    EXPECT_EQ(page5[0], 69);
    EXPECT_EQ(page5[1], 0);
    EXPECT_EQ(page5[2], image[5 * 512 + 1]);
    EXPECT_EQ(page5[3], image[5 * 512]);
    const auto page191 = pagePayload(image, 191);
    EXPECT_EQ(page191[0], 255);
    EXPECT_EQ(page191[512], image[98303]);
    EXPECT_EQ(page191[513], image[98302]);

    image[98302] = 0x12;
    image[98303] = 0x34;
    const auto final = finalPayload(image);
    EXPECT_EQ(Bytes(final.begin(), final.end()), (Bytes{32, 0, 0x34, 0x12}));
    // A short image reads as zeros instead of past its end.
    EXPECT_EQ(pagePayload(Bytes(10, 1), 191)[2], 0);
    EXPECT_EQ(finalPayload(Bytes{}), (std::array<std::uint8_t, 4>{32, 0, 0, 0}));
}

class UploadTest : public ConsoleTest {
protected:
    TempDir temp;
    const fs::path dir = temp.path;

    std::string writeFile(const std::string& name, const Bytes& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    // The menu with the dialog answering `path`; true when the dialog was shown.
    bool chooseFirmware(const std::string& path) {
        ui.fileAnswers = {path};
        con.uploadFirmware();
        return !ui.fileDialogs.empty();
    }
    // The state right after a start packet went out for `image`.
    void started(const Bytes& image) {
        con.upload.firmwareImage = image;
        con.upload.uploadPage = 0;
        con.upload.uploadState = UploadState::StartSent;
        con.link.transferTimeout = 110;
    }
};

TEST_F(UploadTest, RefusedFilesSendNothingButSpeedSettingsStay) {
    startLinked();
    con.link.baudCode = 5;
    const Bytes good = goodImage();
    Bytes badCrc = good;
    badCrc[0] ^= 1;
    const std::vector<std::pair<std::string, std::string>> cases{
        {writeFile("short.bin", Bytes(good.begin(), good.end() - 1)),
         "File length doesn not match expected '.bin' file"},
        {writeFile("long.bin", [&] { Bytes b = good; b.push_back(0); return b; }()),
         "File length doesn not match expected '.bin' file"},
        {writeFile("kyr.Bin", good), "KYR code will be in a '.bin' file"},
        {"", "KYR code will be in a '.bin' file"},
        {writeFile("bad.bin", badCrc), "Code CRC check failed - code file is bad"},
        {(dir / "missing.bin").string(), "Unable to read " + (dir / "missing.bin").string()},
    };
    for (const auto& [path, message] : cases) {
        ui.messages.clear();
        ASSERT_TRUE(chooseFirmware(path));
        EXPECT_EQ(ui.messages, std::vector<std::string>{message}) << path;
    }
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(con.upload.uploadState, UploadState::Idle);
    EXPECT_EQ(port.settings(), "115200,N,8,1");
    EXPECT_EQ(con.link.baudCode, 1);
    EXPECT_EQ(con.link.replyTimeout, 256);
    EXPECT_EQ(con.link.transferTimeout, 110);
    EXPECT_EQ(ui.fileDialogs.back().mode, FileDialogMode::Open);
    EXPECT_EQ(ui.fileDialogs.back().filter, "All Files (*.*)|*.*|BIN Files (*.bin)|*.bin");
}

TEST_F(UploadTest, GoodFileSendsStartPacketAndARefusedOneLeavesTheUploadAlone) {
    startLinked();
    Bytes image = goodImage();
    image[98300] = 0xAA;  // not covered: still passes
    ASSERT_TRUE(chooseFirmware(writeFile("kyr.bin", image)));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_NE(std::find(ui.repaintedStatus.begin(), ui.repaintedStatus.end(),
                        "File CRC check passed - programming KYR"),
              ui.repaintedStatus.end());
    EXPECT_EQ(port.writes, (std::vector<Bytes>{{165, 253, 2, 0, 164, 1, 32, 0, 32, 0}}));
    EXPECT_EQ(con.upload.uploadState, UploadState::StartSent);
    EXPECT_EQ(ui.status, " PageNumber = 0 of 192 being sent\r\n0 retries");

    port.receive(kAck);  // page 0 goes out
    Bytes other = image;
    other[7] ^= 1;
    chooseFirmware(writeFile("other.bin", other));  // bad CRC while pages are being sent
    EXPECT_EQ(con.upload.firmwareImage, image);
    EXPECT_EQ(con.upload.uploadState, UploadState::Pages);
}

TEST_F(UploadTest, PagesFinalPacketAndDeferredLinkRequest) {
    startLinked();
    const Bytes image = goodImage();
    started(image);
    port.receive(kAck);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.lastWrite()[1], 252);
    const auto page0 = pagePayload(image, 0);
    EXPECT_EQ(payloadOf(port.lastWrite()), Bytes(page0.begin(), page0.end()));
    EXPECT_TRUE(timer.enabled());
    EXPECT_EQ(timer.interval(), 110);
    for (int i = 0; i < 5; ++i) port.receive(kAck);
    EXPECT_EQ(payloadOf(port.lastWrite())[0], 69);
    EXPECT_EQ(ui.progress, std::make_pair(5, 192));
    while (con.upload.uploadPage < 191) port.receive(kAck);
    EXPECT_EQ(payloadOf(port.lastWrite())[0], 255);

    port.receive(kAck);  // the last page acknowledged: the final packet, untimed
    EXPECT_EQ(con.upload.uploadState, UploadState::FinalSent);
    EXPECT_EQ(port.lastWrite()[1], 250);
    const auto final = finalPayload(image);
    EXPECT_EQ(payloadOf(port.lastWrite()), Bytes(final.begin(), final.end()));
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(ui.status, " PageNumber = 192 of 192 being sent\r\n0 retries");
    EXPECT_EQ(port.writes.size(), 1u + 192u);

    port.receive(kAck);
    EXPECT_EQ(ui.repaintedStatus.back(), "Code succesfully uploaded - KYR restarting");
    EXPECT_EQ(con.upload.uploadState, UploadState::Idle);
    EXPECT_EQ(ui.progress, std::make_pair(0, 0));
    ASSERT_EQ(scheduler.calls.size(), 1u);
    EXPECT_EQ(scheduler.calls[0].ms, 2000);
    EXPECT_EQ(port.writes.size(), 193u);  // nothing until the wait is over
    scheduler.runAll();
    EXPECT_EQ(port.lastWrite(), (Bytes{165, 9, 2, 0, 176, 0, 1, 0, 1, 0}));
}

TEST_F(UploadTest, OnANetworkLineAPageGoesAgainOnlyWhenItsAnswerIsSurelyLost) {
    // The device cannot tell a repeated page from the next one.
    port.network = true;
    startLinked();
    started(goodImage());
    port.receive(kAck);
    EXPECT_EQ(port.lastWrite()[1], 252);
    EXPECT_EQ(timer.interval(), 2000);
    con.onReplyTimer();  // a repeat backs off like any other on a network line
    EXPECT_EQ(timer.interval(), 2000);
    for (int i = 0; i < 2; ++i) con.onReplyTimer();
    EXPECT_GT(timer.interval(), 2000);
}

TEST_F(UploadTest, TicksResendTheSamePacketCountingRetries) {
    startLinked();
    const Bytes image = goodImage();
    started(image);
    timer.setEnabled(true);  // left running by an earlier exchange
    con.onReplyTimer();  // state 1: nothing defined to resend; the stray timer stops
    EXPECT_TRUE(port.writes.empty());
    EXPECT_FALSE(timer.enabled());

    port.receive(kAck);
    port.receive(kAck);  // page 1 sent
    const Bytes page1 = port.lastWrite();
    for (int retry = 1; retry <= 3; ++retry) {
        con.onReplyTimer();
        EXPECT_EQ(port.lastWrite(), page1);
        EXPECT_EQ(ui.repaintedStatus.back(),
                  " PageNumber = 1 of 192 being sent\r\n" + std::to_string(retry) + " retries");
        EXPECT_TRUE(timer.enabled());
    }
    const auto sent = port.writes.size();
    con.onReplyTimer();
    EXPECT_EQ(ui.status, "Communication Failed");
    EXPECT_EQ(port.writes.size(), sent);
    EXPECT_FALSE(timer.enabled());
    port.receive(kAck);  // a late acknowledge still resumes the upload
    EXPECT_EQ(payloadOf(port.lastWrite())[0], 66);
    EXPECT_EQ(con.link.timeoutTicks, 0);

    while (con.upload.uploadState == UploadState::Pages) port.receive(kAck);
    timer.setEnabled(true);  // someone else restarted the timer in state 3
    con.onReplyTimer();
    EXPECT_EQ(port.lastWrite()[1], 250);
    EXPECT_EQ(ui.status, " PageNumber = 192 of 192 being sent\r\n1 retries");
}

}  // namespace
}  // namespace kyr::test
