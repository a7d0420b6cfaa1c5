// kyrctl over slow and uneven network links: kyr-sim on a pseudo-terminal behind the real
// ser2net (the shipped configuration), or behind a second RFC 2217 server, with
// kyr-delay-proxy adding delay, jitter or a stall on 127.0.0.1. Whatever the link does, the
// saved image is the device's to the bit, or kyrctl fails with one message and writes
// nothing. Only outcomes are checked, never how long they took.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <filesystem>

#include "cli/cli_test_support.h"
#include "cli/kyrctl_support.h"
#include "files/kyr_codec.h"
#include "link/packet.h"
#include "link/protocol.h"
#include "qtio/delay_proxy_process.h"
#include "qtio/ser2net_process.h"
#include "sim/sim_device.h"

namespace kyr::test {
namespace {

// A sub-frame of the screen image: each request costs a round trip, and a whole image over a
// 700 ms round trip would take minutes.
constexpr int kRows = 16;

const QString kPythonServer =
    QStringLiteral("/usr/share/doc/python3-serial/examples/rfc2217_server.py");

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The device's screen image as kyr-sim with these rows sends it.
std::vector<std::uint16_t> deviceImage(int rows) {
    sim::SimOptions options;
    options.screenRows = rows;
    return sim::SimDevice(options).image(31).pixels;
}

// How many bytes the device sends kyrctl ahead of its answer to row `row`: the link's
// acknowledge and display text, the header, and the rows before.
std::int64_t deviceBytesBeforeRow(int row) {
    sim::SimOptions options;
    options.screenRows = kRows;
    sim::SimDevice device(options);
    const auto ask = [&](HostPacket type, std::vector<std::uint8_t> payload) {
        return static_cast<std::int64_t>(
            device.onHostBytes(buildPacket(code(type), payload)).size());
    };
    std::int64_t n = ask(HostPacket::LinkRequest, {1, 0}) + ask(HostPacket::HeaderRequest, {31, 0});
    for (int r = 0; r < row; ++r)
        n += ask(HostPacket::CompressedRowRequest,
                 {static_cast<std::uint8_t>(r), 0, 0, 0, 320 & 0xFF, 320 >> 8, 31, 0});
    return n;
}

// The samples of a saved image, row-major ("" when the file does not load).
std::vector<std::uint16_t> fileSamples(const std::string& name) {
    const auto bytes = readBytes(name);
    const KyrLoadResult r = decodeKyrFile(bytes, "", KyrDecodeMode::Image);
    std::vector<std::uint16_t> out;
    if (r.status != KyrLoadResult::Ok) return out;
    for (int y = 1; y <= r.pixels.rows(); ++y)
        for (int x = 1; x <= r.pixels.cols(); ++x)
            out.push_back(static_cast<std::uint16_t>(r.pixels.sample(x, y)));
    return out;
}

// The example RFC 2217 server of Debian's python3-serial: an implementation of the protocol
// independent of ser2net. It serves kyr-sim's TCP port (a pseudo-terminal takes no modem
// control lines, which it sets), on a port of its own that it cannot be asked to choose.
class PythonRfc2217Server {
  public:
    ~PythonRfc2217Server() { stop(); }
    bool start(const std::string& simAddress) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost, 0)) return false;
            port_ = probe.serverPort();
            probe.close();
            process_.setProcessChannelMode(QProcess::MergedChannels);
            process_.start(QStringLiteral("/usr/bin/python3"),
                           {kPythonServer, QStringLiteral("-p"), QString::number(port_),
                            QStringLiteral("socket://") + q(simAddress.substr(6))});
            QByteArray said;
            const QDeadlineTimer deadline(10000);
            while (process_.state() != QProcess::NotRunning && !deadline.hasExpired() &&
                   !said.contains("TCP/IP port:")) {
                process_.waitForReadyRead(50);
                said += process_.readAll();
            }
            if (said.contains("TCP/IP port:")) return true;
            stop();  // the port was taken meanwhile: another one
        }
        return false;
    }
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    QString path() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port_); }

  private:
    QProcess process_;
    int port_ = 0;
};

class KyrctlSlowLink : public ::testing::Test {
  protected:
    // kyr-sim paced as a KYR's line, ser2net in front of it.
    void SetUp() override {
        sim = std::make_unique<SimProcess>(
            QStringList{"--baud", "115200", "--screen-rows", QString::number(kRows)});
        ASSERT_FALSE(sim->path().empty());
        ASSERT_TRUE(server.start(QStringLiteral(KYR_SER2NET_YAML), q(sim->path())))
            << server.error().toStdString();
    }
    // The proxy in front of `served` with its options.
    void slowDown(const QString& served, const QStringList& options) {
        ASSERT_TRUE(proxy.start(QStringLiteral(KYR_DELAY_PROXY_EXE), served,
                                options + QStringList{"--max-seconds", "200"}))
            << proxy.error().toStdString();
    }
    RunResult download(const std::string& name, const QStringList& more = {}) {
        return runKyrctl(QStringList{"--com", "1=" + proxy.path()} + more +
                         QStringList{"download", "-o", q(name)});
    }
    void expectSaved(const RunResult& r, const std::string& name) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(countOf(r.err, "wrote " + name + "\n"), 1u) << r.err;
        EXPECT_TRUE(fileSamples(name) == deviceImage(kRows))
            << "the saved image is not the device's";
    }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    Ser2NetProcess server;
    DelayProxyProcess proxy;
};

TEST_F(KyrctlSlowLink, Rfc2217With150MsAndJitterSavesTheImageBitExact) {
    slowDown(server.rfc2217Path(), {"--delay", "150", "--jitter", "30", "--seed", "7"});
    const std::string name = dir.name("jitter.KYR");
    expectSaved(download(name), name);
}

TEST_F(KyrctlSlowLink, RawTcpWith350MsSavesTheImageBitExact) {
    slowDown(server.rawPath(), {"--delay", "350"});
    const std::string name = dir.name("far.KYR");
    expectSaved(download(name), name);
}

TEST_F(KyrctlSlowLink, OneStallOnAFastLinkSavesTheImageBitExact) {
    // Row 6's whole answer is held for 450 ms: the reply timer asks again, and both answers
    // then come, one after the other (raw TCP: the bytes on the link are the device's).
    slowDown(server.rawPath(), {"--delay", "25", "--stall-after",
                                QString::number(deviceBytesBeforeRow(6)), "--stall-ms", "450"});
    const std::string name = dir.name("stall.KYR");
    expectSaved(download(name), name);
}

TEST_F(KyrctlSlowLink, ALinkThatNeverDeliversFailsOnceAndWritesNothing) {
    // The rows stop for good: kyrctl's own wait ends first, or the console's reply timer.
    slowDown(server.rfc2217Path(),
             {"--delay", "25", "--stall-after", "3000", "--stall-ms", "600000"});
    const std::string name = dir.name("never.KYR");
    RunResult r = download(name, {"--timeout", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.err).back(),
              "kyrctl: the KYR stopped sending the image (nothing came for 1 s)")
        << r.err;
    EXPECT_EQ(countOf(r.err, "kyrctl: "), 1u) << r.err;
    slowDown(server.rfc2217Path(),
             {"--delay", "25", "--stall-after", "3000", "--stall-ms", "600000"});
    r = download(name);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(lines(r.err).back(), "kyrctl: Communication Failed") << r.err;
    EXPECT_EQ(countOf(r.err, "kyrctl: "), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(name));
    EXPECT_EQ(dir.names(), std::vector<std::string>{});
}

TEST_F(KyrctlSlowLink, ASecondRfc2217ServerWith150MsAndJitterSavesTheImageBitExact) {
    if (!QFile::exists(kPythonServer))
        GTEST_SKIP() << kPythonServer.toStdString()
                     << " is missing (python3-serial, from scripts/install-deps.sh, ships it)";
    server.stop();
    SimProcess tcpSim({"--tcp", "0", "--baud", "115200", "--screen-rows", QString::number(kRows)});
    ASSERT_EQ(tcpSim.path().rfind("tcp://", 0), 0u) << tcpSim.path();
    PythonRfc2217Server python;
    ASSERT_TRUE(python.start(tcpSim.path()));
    slowDown(python.path(), {"--delay", "150", "--jitter", "30", "--seed", "11"});
    const std::string name = dir.name("second.KYR");
    expectSaved(download(name), name);
}

}  // namespace
}  // namespace kyr::test
