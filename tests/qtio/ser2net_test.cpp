// The console through the real ser2net (shipped configuration) to kyr-sim on a
// pseudo-terminal: what the far port is set to, and every byte of an image.
#include <gtest/gtest.h>

#if defined(KYR_SIM_EXE) && defined(KYR_SER2NET_YAML)

#include <algorithm>
#include <fstream>

#include "console/console.h"
#include "fakes/fakes.h"
#include "fakes/temp_dir.h"
#include "firmware/firmware.h"
#include "gui/event_wait.h"
#include "gui/pty_pair.h"
#include "qtio/serial_adapters.h"
#include "qtio/simulator_process.h"
#include "ser2net_process.h"
#include "sim/sim_device.h"

namespace kyr::test {
namespace {

// The samples that differ from the device's screen image, and those with a 0xFF byte.
struct ImageCheck {
    int differing = 0, withFF = 0;
};
ImageCheck check(const PixelArray& got, const sim::SimImage& want) {
    ImageCheck c;
    EXPECT_EQ(got.cols(), want.width());
    EXPECT_EQ(got.rows(), want.height());
    for (int y = 0; y < want.height(); ++y)
        for (int x = 0; x < want.width(); ++x) {
            const std::uint16_t v = want.pixels[static_cast<std::size_t>(y * want.width() + x)];
            if (got.sample(x + 1, y + 1) != v) ++c.differing;
            if ((v & 0xFF) == 0xFF || (v >> 8) == 0xFF) ++c.withFF;
        }
    return c;
}

TEST(Ser2NetTest, Rfc2217SetsTheFarPortAndEveryByteCrossesIntact) {
    SimulatorProcess sim;
    // Raw rows: the samples go on the line as they are, 0xFF bytes among them.
    const QString pty = sim.start(QStringLiteral(KYR_SIM_EXE), {QStringLiteral("--raw-rows")});
    ASSERT_FALSE(pty.isEmpty()) << sim.error().toStdString();
    Ser2NetProcess server;
    ASSERT_TRUE(server.start(QStringLiteral(KYR_SER2NET_YAML), pty))
        << server.error().toStdString();
    const std::string device = pty.toStdString();
    sim::SimOptions options;
    options.rawRows = true;
    const sim::SimDevice sameDevice(options);
    const sim::SimImage& screen = sameDevice.image(31);

    PortMap map;
    map.map(1, server.rfc2217Path().toStdString());
    RoutingSerialPort port(map);
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con(port, ui, timer, clock, scheduler);
    port.setOnComm([&] { con.MSComm1_OnComm(); });
    const auto linked = [&] { return waitFor([&] { return con.link.linkEstablished; }); };
    const auto far = [&] { return PtyPair::lineOf(device); };

    // Start-up's "115200,N,8,2" reaches the far port.
    con.Form_Load();
    ASSERT_TRUE(con.link.portOpen) << ui.status;
    EXPECT_EQ(port.backend(), RoutingSerialPort::Backend::Rfc2217);
    EXPECT_EQ(far().baud, 115200);
    EXPECT_EQ(far().parity, 'N');
    EXPECT_EQ(far().dataBits, 8);
    EXPECT_EQ(far().stopBits, 2);
    ASSERT_TRUE(linked());

    con.mnudownloadlight_Click();
    ASSERT_TRUE(waitFor([&] { return con.download.imageComplete; }, 60000)) << ui.status;
    ImageCheck c = check(con.image.imageData, screen);
    EXPECT_EQ(c.differing, 0);
    EXPECT_GT(c.withFF, 100);

    // The 9600 item changes the far port at once; Establish Link keeps the speed and the
    // device still answers.
    con.mnu9600_Click();
    EXPECT_EQ(far().baud, 9600);
    EXPECT_EQ(far().stopBits, 1);
    con.establishLink(1);
    EXPECT_EQ(far().baud, 9600);
    EXPECT_EQ(far().stopBits, 2);
    ASSERT_TRUE(linked());

    // The firmware upload switches to "115200,N,8,1"; Establish Link brings two stop bits back.
    TempDir dir;
    std::vector<std::uint8_t> firmware(kFirmwareSize);
    for (std::size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
    const std::uint16_t crc = firmwareImageCrc(firmware);
    firmware[kFirmwareCrcHighAt] = static_cast<std::uint8_t>(crc >> 8);
    firmware[kFirmwareCrcLowAt] = static_cast<std::uint8_t>(crc);
    const std::string bin = (dir.path / "kyr.bin").string();
    std::ofstream(bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(firmware.data()), kFirmwareSize);
    ui.fileAnswers.push_back(bin);
    con.mnuUploadFile_Click();
    EXPECT_EQ(far().baud, 115200);
    EXPECT_EQ(far().stopBits, 1);
    ASSERT_TRUE(
        waitFor([&] { return ui.status == "Code succesfully uploaded - KYR restarting"; }, 60000))
        << ui.status;
    scheduler.runAll();
    con.establishLink(1);
    EXPECT_EQ(far().baud, 115200);
    EXPECT_EQ(far().stopBits, 2);
    ASSERT_TRUE(linked());

    // The server goes away: one message, the port closed.
    const std::string lost = "COM1 connection lost - use Establish Link to reconnect";
    server.stop();
    ASSERT_TRUE(waitFor([&] { return ui.status == lost; }));
    drainEvents();
    EXPECT_EQ(std::count(ui.statusHistory.begin(), ui.statusHistory.end(), lost), 1);
    EXPECT_FALSE(port.portOpen());
    con.Form_Unload();
}

}  // namespace
}  // namespace kyr::test

#endif
