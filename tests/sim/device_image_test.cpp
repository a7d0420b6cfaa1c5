#include <gtest/gtest.h>

#include <cmath>

#include "sim/sim_device.h"
#include "sim/sim_control.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

SimOptions options(std::uint64_t seed, std::vector<int> buffers = {0, 1, 2, 3, 4},
                   bool raw = false) {
    SimOptions o;
    o.seed = seed;
    o.filledBuffers = std::move(buffers);
    o.rawRows = raw;
    return o;
}

Frame onlyFrame(SimDevice& d, const Bytes& request) {
    const auto frames = splitFrames(d.onHostBytes(request));
    EXPECT_EQ(frames.size(), 1u);
    return frames.empty() ? Frame{} : frames[0];
}

DecodedHeader headerOf(SimDevice& d, int buffer, std::size_t* length = nullptr) {
    const Frame f = onlyFrame(d, headerRequest(buffer));
    EXPECT_EQ(f.type, 4);
    EXPECT_TRUE(f.checksumOk);
    if (length) *length = f.payload.size();
    return decodeHeader(f.payload);
}

// Downloads a whole image the way the console does and checks it against the device's own.
void expectDownloadMatches(SimDevice& d, int buffer, int kinds[4]) {
    const SimImage& img = d.image(buffer);
    const DecodedHeader h = headerOf(d, buffer);
    ASSERT_EQ(h.width, img.width());
    ASSERT_EQ(h.height, img.height());
    for (int r = 0; r < h.height; ++r) {
        const Frame f = onlyFrame(d, rowRequest(h.firstRow + r, h.firstColumn, h.width, buffer));
        ASSERT_TRUE(f.checksumOk);
        std::vector<std::uint16_t> row;
        if (f.type == 7) {
            ASSERT_TRUE(decodeCompressed(f.payload, h.width, row, kinds)) << "row " << r;
        } else {
            ASSERT_EQ(f.type, 5);
            row = decodeRaw(f.payload);
        }
        ASSERT_EQ(row.size(), static_cast<std::size_t>(h.width));
        for (int c = 0; c < h.width; ++c)
            ASSERT_EQ(row[c], img.at(c, r)) << "row " << r << " col " << c;
    }
}

TEST(SimImages, ScreenHeaderDecodesAsIntended) {
    SimDevice d;
    std::size_t length = 0;
    const DecodedHeader h = headerOf(d, 31, &length);
    EXPECT_EQ(length, 44u);
    EXPECT_EQ(h.flags & 0x8000u, 0u);
    EXPECT_EQ(h.width, 320);
    EXPECT_EQ(h.height, 200);
    EXPECT_EQ(h.firstRow, 0);
    EXPECT_EQ(h.firstColumn, 0);
    EXPECT_EQ(h.exposureHundredths, 250);  // the panel's exposure, 2.50 s
    EXPECT_DOUBLE_EQ(h.exposureSeconds, 2.5);
    EXPECT_EQ(h.exposureCount, 1);
    EXPECT_DOUBLE_EQ(h.temperature, -10.25);
    EXPECT_EQ(h.filterName, "Red");
    EXPECT_EQ(h.mosaicType, 0);
    EXPECT_EQ(h.dateText, "08/22/2027");
    EXPECT_EQ(h.timeText, "02:43:59");
    EXPECT_TRUE(h.metric == false);  // odd buffers use inches
    EXPECT_DOUBLE_EQ(h.focalLength, 80.0);
    EXPECT_DOUBLE_EQ(h.apertureDiameter, 8.0);
    EXPECT_EQ(h.pedestal, 100);
    EXPECT_GT(h.range, 0);
    EXPECT_EQ(h.background, d.image(31).header.background);
}

TEST(SimImages, StoredHeadersCoverTheHeaderVariants) {
    SimDevice d(options(7, {0, 1, 2, 3, 4, 5, 9, 16, 30}));
    std::size_t len = 0;

    DecodedHeader h = headerOf(d, 0, &len);  // plain 200 x 100, 42 bytes
    EXPECT_EQ(len, 42u);
    EXPECT_EQ((std::vector<int>{h.width, h.height, h.firstRow, h.firstColumn}),
              (std::vector<int>{200, 100, 50, 60}));
    EXPECT_EQ(h.exposureHundredths, 3000);
    EXPECT_EQ(h.timeText, "19:00:00");  // after-noon bit
    EXPECT_EQ(h.dateText, "01/01/2024");
    EXPECT_TRUE(h.metric);
    EXPECT_TRUE(h.factor072);
    EXPECT_EQ(h.readoutMode, 0);
    EXPECT_EQ(h.history, 'g');
    EXPECT_DOUBLE_EQ(h.temperature, -10.0);
    EXPECT_EQ(h.filterName, "None");

    h = headerOf(d, 1, &len);  // the millisecond exposure form, 38 bytes
    EXPECT_EQ(len, 38u);
    EXPECT_EQ(h.exposureHundredths, 150);
    EXPECT_DOUBLE_EQ(h.exposureSeconds, 1.5);
    EXPECT_EQ(h.filterName, "Lunar");  // default from flag bit 11
    EXPECT_FALSE(h.metric);
    EXPECT_EQ(h.readoutMode, 1);
    EXPECT_EQ(h.timeText, "20:13:29");

    h = headerOf(d, 2, &len);  // summed, 44 bytes with a filter code
    EXPECT_EQ(len, 44u);
    EXPECT_EQ(h.exposureCount, 4);
    EXPECT_EQ(h.filterName, "Blue");
    EXPECT_FALSE(h.factor072);
    EXPECT_EQ(h.range, 32767);  // bright summed stars: the console clamps the range
    EXPECT_EQ(h.pedestal, 400);

    h = headerOf(d, 3);
    EXPECT_EQ(h.mosaicType, 40);
    EXPECT_EQ(h.width, 320);
    EXPECT_EQ(h.height, 200);

    h = headerOf(d, 4, &len);  // mosaic of 6; the filter byte is not valid (byte 43 set)
    EXPECT_EQ(len, 44u);
    EXPECT_EQ(h.mosaicType, 6);
    EXPECT_EQ(h.readoutMode, -1);
    EXPECT_EQ(h.filterName, "Lunar");
    EXPECT_EQ(h.timeText, "23:52:56");  // after-noon bit with hour word 11

    h = headerOf(d, 5);
    EXPECT_EQ(h.timeText, "00:05:25");  // midnight: hour 0, no after-noon bit
    EXPECT_EQ(headerOf(d, 30).height, 100);

    // Empty buffers answer a header of height 0.
    h = headerOf(d, 6, &len);
    EXPECT_EQ(h.height, 0);
    EXPECT_EQ(len, 42u);
    // A buffer number beyond 31 is not understood.
    EXPECT_EQ(onlyFrame(d, headerRequest(32)).type, 21);
}

TEST(SimImages, CompressedRowsDecodeToTheExactImageUsingAllCodes) {
    SimDevice d;
    int kinds[4] = {};
    expectDownloadMatches(d, 31, kinds);
    EXPECT_GT(kinds[0], 1000);  // small steps up
    EXPECT_GT(kinds[1], 1000);  // small steps down
    EXPECT_GT(kinds[2], 100);   // star edges
    EXPECT_GT(kinds[3], 5);     // bright cores, sent as absolute values
    for (int b : {0, 1, 2, 3, 4}) {
        int k[4] = {};
        expectDownloadMatches(d, b, k);
    }
}

TEST(SimImages, RawRowsAndPartialRows) {
    SimDevice d(options(1, {0}, true));
    int kinds[4] = {};
    expectDownloadMatches(d, 0, kinds);
    EXPECT_EQ(kinds[0] + kinds[1] + kinds[2] + kinds[3], 0);  // nothing came compressed

    // A type-5 request is answered raw; a part of a row gives those columns only.
    SimDevice c;
    const SimImage& img = c.image(0);
    Frame f = onlyFrame(c, rowRequest(50 + 7, 60 + 10, 5, 0, 5));
    ASSERT_EQ(f.type, 5);
    const auto raw = decodeRaw(f.payload);
    ASSERT_EQ(raw.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(raw[i], img.at(10 + i, 7));
    f = onlyFrame(c, rowRequest(50 + 7, 60 + 10, 5, 0, 7));
    std::vector<std::uint16_t> row;
    ASSERT_EQ(f.type, 7);
    ASSERT_TRUE(decodeCompressed(f.payload, 5, row));
    EXPECT_EQ(row, raw);

    // Rows or columns outside the image, and empty buffers, are not understood.
    for (const Bytes& bad :
         {rowRequest(49, 60, 200, 0), rowRequest(150, 60, 200, 0), rowRequest(50, 59, 200, 0),
          rowRequest(50, 60, 201, 0), rowRequest(50, 60, 0, 0), rowRequest(50, 60, 200, 8)}) {
        EXPECT_EQ(onlyFrame(c, bad).type, 21);
    }
}

TEST(SimImages, NewScreenImageOnlyWhenTakenAndWholeRowsOnRequest) {
    SimDevice d;
    d.receive(linkRequest(1));
    d.takeOutput();
    const SimImage first = d.image(31);
    // Asking changes nothing: the same header and pixels every time.
    const DecodedHeader h0 = decodeHeader(onlyFrame(d, headerRequest(31)).payload);
    EXPECT_EQ(decodeHeader(onlyFrame(d, headerRequest(31)).payload).timeText, h0.timeText);
    EXPECT_EQ(d.image(31).pixels, first.pixels);

    // Told to take one: a later time, new pixels; the main screen does not change.
    EXPECT_EQ(runControlCommand(d, "new-image").text, "ok\n");
    EXPECT_TRUE(d.takeOutput().empty());
    const DecodedHeader h1 = decodeHeader(onlyFrame(d, headerRequest(31)).payload);
    EXPECT_EQ(h0.timeText, "02:43:59");
    EXPECT_EQ(h1.timeText, "02:44:06");  // 2.5 s exposure and 5 s more
    EXPECT_EQ(h1.dateText, h0.dateText);
    EXPECT_NE(d.image(31).pixels, first.pixels);
    // On the Image screen its frame number follows.
    d.receive(keyPress(keys::Image));
    d.takeOutput();
    EXPECT_EQ(runControlCommand(d, "new-image").text, "ok\n");
    EXPECT_NE(d.displayText().find("Frame 3 on screen"), std::string::npos) << d.displayText();
    EXPECT_EQ(splitFrames(d.takeOutput()).size(), 1u);

    // A device that ignores the columns asked for sends the whole row.
    EXPECT_EQ(runControlCommand(d, "whole-rows on").text, "ok\n");
    const Frame f = onlyFrame(d, rowRequest(57, 70, 5, 31, 5));
    ASSERT_EQ(f.type, 5);
    const auto raw = decodeRaw(f.payload);
    ASSERT_EQ(raw.size(), 320u);
    for (int c = 0; c < 320; ++c) EXPECT_EQ(raw[static_cast<std::size_t>(c)], d.image(31).at(c, 57));
}

TEST(SimImages, ScreenRowsCutTheScreenImageToItsFirstRows) {
    SimOptions o;
    o.screenRows = 20;
    SimDevice d(o);
    SimDevice whole;
    const SimImage& full = whole.image(31);  // the device outlives the reference
    const SimImage& cut = d.image(31);
    EXPECT_EQ(headerOf(d, 31).height, 20);
    EXPECT_EQ(cut.pixels,
              std::vector<std::uint16_t>(full.pixels.begin(), full.pixels.begin() + 20 * 320));
    int kinds[4] = {};
    expectDownloadMatches(d, 31, kinds);
    EXPECT_EQ(onlyFrame(d, rowRequest(20, 0, 320, 31)).type, 21);
    EXPECT_EQ(headerOf(d, 0).height, 100);  // the stored buffers are whole
}

TEST(SimImages, ExtraRowCarriesTrackOffsetsOrMosaicTimes) {
    SimDevice d;
    // Summed image: four signed offset pairs, the first (0, 0).
    Frame f = onlyFrame(d, rowRequest(200, 0, 320, 2, 5));
    ASSERT_EQ(f.type, 5);
    auto extra = decodeRaw(f.payload);
    ASSERT_EQ(extra.size(), 320u);
    EXPECT_EQ(extra[0], 0);
    EXPECT_EQ(extra[1], 0);
    bool moved = false;
    for (int i = 1; i < 4; ++i) {
        const auto dx = static_cast<std::int16_t>(extra[2 * i]);
        const auto dy = static_cast<std::int16_t>(extra[2 * i + 1]);
        EXPECT_LE(std::abs(dx), 3);
        EXPECT_LE(std::abs(dy), 3);
        moved = moved || dx != 0 || dy != 0;
    }
    EXPECT_TRUE(moved);
    for (int i = 8; i < 320; ++i) EXPECT_EQ(extra[i], 0);

    // Mosaic of 40: end times, high word first, rising by exposure + readout.
    f = onlyFrame(d, rowRequest(200, 0, 320, 3, 5));
    extra = decodeRaw(f.payload);
    ASSERT_EQ(extra.size(), 320u);
    const auto t = [&](int a) {
        return (static_cast<std::uint32_t>(extra[2 * a - 2]) << 16) | extra[2 * a - 1];
    };
    EXPECT_EQ(t(1), ((22u * 60 + 39) * 60 + 27) * 1000 + 250);
    for (int a = 2; a <= 40; ++a) EXPECT_EQ(t(a) - t(a - 1), 637u);
    EXPECT_LT(extra[0], 32768);

    // The console asks row 200 with type 5 even for a type-7 image; a plain image sends zeros.
    f = onlyFrame(d, rowRequest(200, 0, 320, 0, 5));
    EXPECT_EQ(decodeRaw(f.payload), std::vector<std::uint16_t>(320, 0));
}

TEST(SimImages, MosaicStarsSitNearTheBoxCentres) {
    SimDevice d;
    const SimImage& img = d.image(3);
    ASSERT_EQ(img.starCentres.size(), 40u);
    // The console's centroid: a ring background, then moments over the interior 36 x 36.
    for (int a = 1; a <= 40; ++a) {
        const int c0 = ((a - 1) % 8) * 40, r0 = ((a - 1) / 8) * 40;
        const auto px = [&](int i, int j) {
            return static_cast<long>(img.at(c0 + i - 1, r0 + j - 1));
        };
        long ring = 0;
        for (int i = 1; i <= 38; ++i) ring += px(i, 1) + px(i, 38) + px(1, i) + px(38, i);
        const long bg = ring / 152;
        double counts = 0, sx = 0, sy = 0;
        for (int j = 2; j <= 37; ++j) {
            for (int i = 2; i <= 37; ++i) {
                const double s = static_cast<double>(px(i, j) - bg);
                counts += s, sx += s * i, sy += s * j;
            }
        }
        ASSERT_GT(counts, 10000);
        const auto& star = img.starCentres[static_cast<std::size_t>(a - 1)];
        // Offset i is column c0 + i - 1 from 0.
        EXPECT_NEAR(sx / counts - 1 + c0, star.x, 0.35) << a;
        EXPECT_NEAR(sy / counts - 1 + r0, star.y, 0.35) << a;
        EXPECT_NEAR(sx / counts, 19.5, 2.5);
    }
}

TEST(SimImages, BufferReportMasks) {
    SimDevice d(options(1, {0, 3, 7, 15, 16, 30}));
    Frame f = onlyFrame(d, packet(3));
    ASSERT_EQ(f.type, 3);
    // Buffers 16..31 first (bit k = buffer 16 + k), then 0..15.
    EXPECT_EQ(f.payload, (Bytes{0x01, 0x40, 0x89, 0x80}));
    d.setFilledBuffers({});
    EXPECT_EQ(onlyFrame(d, packet(3)).payload, (Bytes{0, 0, 0, 0}));
    EXPECT_FALSE(d.setFilledBuffers({31}));
    // End of transfer (2) and a declined flash download (1) are noted silently; so are save
    // acknowledges, which the device keeps.
    EXPECT_TRUE(d.onHostBytes(packet(2)).empty());
    EXPECT_TRUE(d.onHostBytes(packet(1)).empty());
    EXPECT_TRUE(d.onHostBytes(packet(11, {0, 0})).empty());
    EXPECT_TRUE(d.onHostBytes(packet(11, {1, 0})).empty());
    EXPECT_EQ(d.stats().saveAcks, (std::vector<int>{0, 1}));
    EXPECT_EQ(d.stats().packetsByType[2], 1);
    EXPECT_EQ(d.stats().packetsByType[1], 1);
}

TEST(SimImages, ImagesAreDeterministicAndTheImageKeyTakesANewFrame) {
    SimDevice a(options(5)), b(options(5)), c(options(6, {0, 1, 2, 3, 4, 30}));
    EXPECT_EQ(a.image(31).pixels, b.image(31).pixels);
    EXPECT_EQ(a.image(2).pixels, b.image(2).pixels);
    EXPECT_NE(a.image(31).pixels, c.image(31).pixels);
    EXPECT_NE(a.image(0).pixels, a.image(30).pixels);

    const auto before = a.image(31).pixels;
    a.onHostBytes(keyPress(keys::Up | keys::Turbo));  // exposure 3.50 s
    EXPECT_EQ(a.image(31).pixels, before);
    a.onHostBytes(keyPress(keys::Image));
    EXPECT_NE(a.image(31).pixels, before);
    EXPECT_EQ(headerOf(a, 31).exposureHundredths, 350);
}

TEST(SimCodec, CompressedCodesAtTheirLimits) {
    int kinds[4] = {};
    const std::vector<std::uint16_t> row{16,          21,   19,    275, 1024,  1024 + 63,   1023,
                                         1023 + 8191, 1023, 65532, 0,   40000, 40000 - 8192};
    const auto packed = encodeCompressedRow(row, kinds);
    ASSERT_TRUE(packed);
    // The worked example: 16, +5, -2, +256, then 1024 (a 2-byte delta from 275).
    EXPECT_EQ(Bytes(packed->begin(), packed->begin() + 7),
              (Bytes{0x10, 0x00, 0x05, 0x7E, 0x81, 0x00, 0x82}));
    std::vector<std::uint16_t> back;
    ASSERT_TRUE(decodeCompressed(*packed, static_cast<int>(row.size()), back));
    EXPECT_EQ(back, row);
    EXPECT_EQ(kinds[3], 3);  // 65532, 0 and 40000 are absolute
    // A large jump to a value that is not a multiple of 4 cannot be coded.
    EXPECT_FALSE(encodeCompressedRow(std::vector<std::uint16_t>{0, 30001}));
    std::vector<std::uint16_t> fix{0, 30001, 30003};
    EXPECT_EQ(makeRowEncodable(fix), 1);
    EXPECT_EQ(fix, (std::vector<std::uint16_t>{0, 30000, 30003}));
    EXPECT_EQ(encodeRawRow(std::vector<std::uint16_t>{0x1234, 65535}),
              (Bytes{0x34, 0x12, 0xFF, 0xFF}));
}

}  // namespace
}  // namespace kyr::sim::test
