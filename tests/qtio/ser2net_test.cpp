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
    port.setOnComm([&] { con.onReceive(); });
    const auto linked = [&] { return waitFor([&] { return con.link.linkEstablished; }); };
    const auto far = [&] { return PtyPair::lineOf(device); };

    // Start-up's "115200,N,8,2" reaches the far port.
    con.start();
    ASSERT_TRUE(con.link.portOpen) << ui.status;
    EXPECT_EQ(port.backend(), RoutingSerialPort::Backend::Rfc2217);
    EXPECT_EQ(far().baud, 115200);
    EXPECT_EQ(far().stopBits, 2);
    ASSERT_TRUE(linked());

    con.downloadScreenImage();
    ASSERT_TRUE(waitFor([&] { return con.download.imageComplete; }, 60000)) << ui.status;
    std::vector<std::uint16_t> got;
    for (int y = 1; y <= con.image.imageData.rows(); ++y)
        for (int x = 1; x <= con.image.imageData.cols(); ++x)
            got.push_back(static_cast<std::uint16_t>(con.image.imageData.sample(x, y)));
    EXPECT_TRUE(got == screen.pixels);
    EXPECT_GT(std::count_if(got.begin(), got.end(),
                            [](std::uint16_t v) { return (v & 0xFF) == 0xFF || v >> 8 == 0xFF; }),
              100);

    // The 9600 item changes the far port at once; Establish Link keeps the speed and the
    // device still answers.
    con.setBaudRate(5);
    EXPECT_EQ(far().baud, 9600);
    EXPECT_EQ(far().stopBits, 1);
    con.establishLink(1);
    EXPECT_EQ(far().baud, 9600);
    EXPECT_EQ(far().stopBits, 2);
    ASSERT_TRUE(linked());

    // The firmware upload switches to "115200,N,8,1"; Establish Link brings two stop bits back.
    // Its pages hold 0xFF bytes too, doubled on the way out.
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
    con.uploadFirmware();
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
    // Establish Link connects again once it is back.
    ASSERT_TRUE(server.start(QStringLiteral(KYR_SER2NET_YAML), pty))
        << server.error().toStdString();
    port.portMap().map(1, server.rfc2217Path().toStdString());
    con.establishLink(1);
    ASSERT_TRUE(linked()) << ui.status;
    con.shutdown();
}

}  // namespace
}  // namespace kyr::test

#endif
