// indi_kyr_ccd as the camera a capture program drives: fresh frames, transfer formats,
// abort, sub-frames, binning, temperature, under the real indiserver against kyr-sim, whose
// screen image changes only when told.
#include <basedevice.h>

#include <array>
#include <cstring>

#include "indi_fixture.h"

namespace kyr::indi::test {
namespace {

constexpr int kWidth = 320;

// The pixels of a native-format BLOB (the frame buffer as it is: 16-bit, this machine's order).
std::vector<std::uint16_t> nativePixels(const Bytes& bytes) {
    std::vector<std::uint16_t> px(bytes.size() / 2);
    std::memcpy(px.data(), bytes.data(), px.size() * 2);
    return px;
}

}  // namespace

// CCD_FRAME (all four values at once, as clients send it) and CCD_BINNING, until the driver
// shows them.
void IndiDriverTest::setFrame(const std::array<int, 4>& f, int bin) {
    ASSERT_TRUE(client.waitFor([&] { return client.prop("CCD_BINNING") != nullptr; }));
    client.locked([&] {
        INDI::PropertyNumber frame = client.getDevice(Client::kDevice).getNumber("CCD_FRAME");
        const char* names[] = {"X", "Y", "WIDTH", "HEIGHT"};
        for (int i = 0; i < 4; ++i) frame.findWidgetByName(names[i])->setValue(f[static_cast<std::size_t>(i)]);
        client.sendNewNumber(frame);
        INDI::PropertyNumber binning = client.getDevice(Client::kDevice).getNumber("CCD_BINNING");
        binning.findWidgetByName("HOR_BIN")->setValue(bin);
        binning.findWidgetByName("VER_BIN")->setValue(bin);
        client.sendNewNumber(binning);
        return true;
    });
    ASSERT_TRUE(client.waitFor([&] {
        const Prop* fp = client.prop("CCD_FRAME");
        const Prop* bp = client.prop("CCD_BINNING");
        return fp && bp && fp->numbers.at("X") == f[0] && fp->numbers.at("Y") == f[1] &&
               fp->numbers.at("WIDTH") == f[2] && fp->numbers.at("HEIGHT") == f[3] &&
               bp->numbers.at("HOR_BIN") == bin && bp->numbers.at("VER_BIN") == bin;
    }));
}

namespace {

TEST_F(IndiDriverTest, FreshFramesAndEveryTransferFormat) {
    Simulator sim({"--tcp", "0"});
    ASSERT_TRUE(client.connectTcp(std::stoi(sim.address().substr(16))));

    // The first exposure is the screen image, bit for bit.
    expectImage(client.expose(0.1));
    // No new image since: never the same one again as a good exposure.
    const std::size_t blobs = client.locked([&] { return client.allBlobs.size(); });
    EXPECT_TRUE(client.expose(0.1).empty());
    EXPECT_EQ(client.state("CCD_EXPOSURE"), IPS_ALERT);
    EXPECT_EQ(client.locked([&] { return client.allBlobs.size(); }), blobs);
    EXPECT_EQ(countContaining(messages(), "has taken no new image in 5 s"), 1);

    // Native, FITS, compressed FITS, native and FITS again, each with a new image: the driver
    // stays up and every image is whole.
    int taken = 0;
    const auto exposeNew = [&](const char* format, bool compressed) {
        ASSERT_TRUE(client.setSwitch("CCD_TRANSFER_FORMAT", format));
        ASSERT_TRUE(client.setSwitch("CCD_COMPRESSION", compressed ? "INDI_ENABLED" : "INDI_DISABLED"));
        ASSERT_TRUE(sim.command("new-image"));
        ++taken;
        const Blob b = client.exposeAny(0.1);
        ASSERT_FALSE(b.bytes.empty()) << format << " after " << taken << " new images";
        if (compressed) return;  // libindi's own compression, not ours to check
        if (std::strcmp(format, "FORMAT_NATIVE") == 0) {
            EXPECT_TRUE(nativePixels(b.bytes) == simImage(31, taken));
        } else {
            EXPECT_EQ(b.format, ".fits");
            EXPECT_TRUE(readFits(b.bytes).pixels == simImage(31, taken));
        }
    };
    exposeNew("FORMAT_NATIVE", false);
    exposeNew("FORMAT_FITS", false);
    exposeNew("FORMAT_NATIVE", true);
    exposeNew("FORMAT_FITS", true);
    exposeNew("FORMAT_NATIVE", false);
    exposeNew("FORMAT_FITS", false);
    EXPECT_EQ(server->driverStarts(), 1);
    EXPECT_EQ(client.state("CONNECTION"), IPS_OK);
    const Fits last = readFits(client.locked([&] { return client.blobs.back(); }));
    EXPECT_EQ(last.keys.at("DATE-OBS"), "2027-08-22T02:44:41");  // the KYR's clock, frame 6
    EXPECT_EQ(last.keys.at("MJD-OBS").substr(0, 11), "61639.11436");
}

TEST_F(IndiDriverTest, AbortMidTransferFreesTheCamera) {
    Simulator sim({"--pty", "--baud", "115200"});  // a whole image takes seconds
    ASSERT_TRUE(client.connectSerial(sim.address()));
    // Only the KYR's speeds are offered.
    const auto speeds = client.locked([&] {
        const Prop* p = client.prop("DEVICE_BAUD_RATE");
        return p ? p->switches : std::map<std::string, ISState>{};
    });
    EXPECT_EQ(speeds.size(), 5u);
    EXPECT_EQ(speeds.count("230400"), 0u);
    EXPECT_EQ(speeds.count("9600"), 1u);
    ASSERT_TRUE(client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1));
    ASSERT_TRUE(client.waitFor([&] { return countdowns(client) >= 2; }));
    ASSERT_TRUE(client.setSwitch("CCD_ABORT_EXPOSURE", "ABORT"));
    ASSERT_TRUE(client.waitFor([&] { return client.state("CCD_ABORT_EXPOSURE") == IPS_OK; }));
    // The aborted exposure's own alert may come after the abort's answer: wait for it, or the
    // next exposure would take it for its own.
    ASSERT_TRUE(client.waitFor([&] { return client.state("CCD_EXPOSURE") != IPS_BUSY; }));
    // Free at once: the next exposure is taken, and brings the image whole (it was never
    // delivered), with no row of the aborted one in it.
    const Bytes next = client.expose(1);
    expectImage(next);
    EXPECT_EQ(client.locked([&] { return client.blobs.size(); }), 1u);
    EXPECT_EQ(countContaining(messages(), "refused"), 0);

    // Frame and binning changed while rows arrive, then disconnected in the middle: the
    // driver stays up, and after connecting again the image (never delivered) comes with them.
    ASSERT_TRUE(sim.command("new-image"));
    const int before = client.locked([&] { return countdowns(client); });
    ASSERT_TRUE(client.setNumber("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 1));
    ASSERT_TRUE(client.waitFor([&] { return countdowns(client) >= before + 2; }));
    setFrame({30, 20, 90, 60}, 3);
    ASSERT_TRUE(client.setSwitch("CONNECTION", "DISCONNECT"));
    ASSERT_TRUE(client.waitFor([&] { return client.prop("CCD_EXPOSURE") == nullptr; }));
    ASSERT_TRUE(client.connectSerial(sim.address()));
    const Fits binned = readFits(client.expose(1));
    ASSERT_EQ(binned.error, "");
    EXPECT_EQ(binned.width, 30);
    EXPECT_EQ(binned.height, 20);
    const auto px = window(simImage(31, 1), kWidth, 30, 20, 90, 60);
    std::uint32_t first = 0;
    for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx) first += px[static_cast<std::size_t>(dy * 90 + dx)];
    EXPECT_EQ(binned.pixels.at(0), std::min<std::uint32_t>(first, 65535));
    EXPECT_EQ(server->driverStarts(), 1);
}

TEST_F(IndiDriverTest, SubFrameBinningAndTemperature) {
    Simulator sim({"--tcp", "0", "--whole-rows"});  // the console cuts the columns itself
    ASSERT_TRUE(client.connectTcp(std::stoi(sim.address().substr(16))));

    // CCD_TEMPERATURE is there, read-only, and follows the headers.
    ASSERT_TRUE(client.waitFor([&] { return client.prop("CCD_TEMPERATURE") != nullptr; }));
    const auto temperature = client.locked([&] {
        const Prop* p = client.prop("CCD_TEMPERATURE");
        return p ? std::pair(p->perm, p->numbers.at("CCD_TEMPERATURE_VALUE"))
                 : std::pair(IP_RW, 0.0);
    });
    EXPECT_EQ(temperature.first, IP_RO);

    setFrame({100, 50, 64, 64}, 1);
    const Fits sub = readFits(client.expose(1));
    ASSERT_EQ(sub.error, "");
    EXPECT_EQ(sub.width, 64);
    EXPECT_EQ(sub.height, 64);
    EXPECT_TRUE(sub.pixels == window(simImage(31), kWidth, 100, 50, 64, 64));
    EXPECT_TRUE(client.waitFor([&] {
        const Prop* p = client.prop("CCD_TEMPERATURE");
        return p && p->numbers.at("CCD_TEMPERATURE_VALUE") == -10.25;
    }));

    // 2 x 2 binning of the whole frame: 160 x 100 sums of the device's pixels.
    setFrame({0, 0, 320, 200}, 2);
    ASSERT_TRUE(sim.command("new-image"));
    const Fits binned = readFits(client.expose(1));
    ASSERT_EQ(binned.error, "");
    EXPECT_EQ(binned.width, 160);
    EXPECT_EQ(binned.height, 100);
    const auto full = simImage(31, 1);
    int wrong = 0;
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 160; ++c) {
            std::uint32_t sum = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    sum += full[static_cast<std::size_t>((2 * r + dy) * kWidth + 2 * c + dx)];
            wrong += binned.pixels[static_cast<std::size_t>(r * 160 + c)] !=
                     std::min<std::uint32_t>(sum, 65535);
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(binned.keys.at("XBINNING"), "2");

    // The keys come in small groups, each a row of buttons.
    for (const char* group :
         {"KYR_ACQUIRE", "KYR_GUIDE", "KYR_PROCESS", "KYR_CONTROL", "KYR_ARROWS", "KYR_SETUP"}) {
        const std::size_t keys =
            client.locked([&] { return client.prop(group) ? client.prop(group)->switches.size() : 0; });
        EXPECT_GE(keys, 2u) << group;
        EXPECT_LE(keys, 4u) << group;
    }
}

}  // namespace
}  // namespace kyr::indi::test
