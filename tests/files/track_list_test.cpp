#include "files/track_list.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kyr {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

ImageHeader trackHeader() {
    ImageHeader h;
    h.hdrExposureCount = 3;
    h.exposureSeconds = 2.0;
    h.temperature = -10.5f;
    h.hdrHeight = 200;
    h.hdrWidth = 320;
    h.hdrPedestal = 100;
    return h;
}

TEST(TrackList, ThreeSnapshotsAndSignedOffsets) {
    AuxRow aux{};
    aux[1] = 5;
    aux[2] = 3;
    aux[3] = 65535;
    aux[4] = 40000;
    aux[5] = 0;
    aux[6] = 32767;
    aux[300] = 50000;
    const std::string text = trackListText(trackHeader(), aux);
    EXPECT_EQ(text,
              "KYR Track List\r\nVersion = 1\r\nSnapshots =  3\r\nSnapshot_time = 2.\r\n"
              "Temperature = -10.5\r\nHeight =  200\r\nWidth =  320\r\nOffset =  100\r\n"
              " 5,  3\r\n-1, -25536\r\n 0,  32767\r\nEnd \r\n");
    // The extra row now holds signed offsets, all of it.
    EXPECT_EQ(aux[3], -1);
    EXPECT_EQ(aux[4], -25536);
    EXPECT_EQ(aux[6], 32767);
    EXPECT_EQ(aux[300], 50000 - 65536);

    // And it reads back.
    const TrackListRead read = parseTrackList(text);
    ASSERT_EQ(read.status, TrackListRead::Ok);
    EXPECT_EQ(read.count, 3);
    EXPECT_EQ(read.offsets.trackSnapshotCount, 3);
    EXPECT_EQ(read.offsets.trackOffsetX[1], 5);
    EXPECT_EQ(read.offsets.trackOffsetY[1], 3);
    EXPECT_EQ(read.offsets.trackOffsetX[2], -1);
    EXPECT_EQ(read.offsets.trackOffsetY[2], -25536);
    EXPECT_EQ(read.offsets.trackOffsetY[3], 32767);

    // More snapshots than the extra row holds: 160 pairs at most, no read past it.
    ImageHeader many = trackHeader();
    many.hdrExposureCount = 500;
    EXPECT_EQ(linesOf(trackListText(many, aux)).size(), 8u + 160u + 1u);
}

std::string trackFile(const std::vector<std::string>& pairs, bool end = true) {
    std::string t = "KYR Track List\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n";
    for (const auto& p : pairs) t += p + "\r\n";
    if (end) t += "End \r\n";
    return t;
}

TEST(TrackList, ReadingBack) {
    // Leading numbers, blanks ignored anywhere, nearest integer with halves to even.
    auto read = parseTrackList(trackFile({"  12.5 , 1 3", "abc, -2.5e1x", "+7,-0.5"}));
    ASSERT_EQ(read.status, TrackListRead::Ok);
    EXPECT_EQ(read.count, 3);
    EXPECT_EQ(read.offsets.trackOffsetX[1], 12);
    EXPECT_EQ(read.offsets.trackOffsetY[1], 13);
    EXPECT_EQ(read.offsets.trackOffsetX[2], 0);
    EXPECT_EQ(read.offsets.trackOffsetY[2], -25);
    EXPECT_EQ(read.offsets.trackOffsetX[3], 7);
    EXPECT_EQ(read.offsets.trackOffsetY[3], 0);
    // Fractions round to the nearest integer, not toward zero.
    read = parseTrackList(trackFile({" 13.5,  2.7", "-1.5, -3.6"}));
    ASSERT_EQ(read.status, TrackListRead::Ok);
    EXPECT_EQ(read.offsets.trackOffsetX[1], 14);
    EXPECT_EQ(read.offsets.trackOffsetY[1], 3);
    EXPECT_EQ(read.offsets.trackOffsetX[2], -2);
    EXPECT_EQ(read.offsets.trackOffsetY[2], -4);

    // No pairs at all; lines ended by LF alone also read.
    read = parseTrackList(trackFile({}));
    EXPECT_EQ(read.status, TrackListRead::Ok);
    EXPECT_EQ(read.count, 0);
    read = parseTrackList("a\nb\nc\nd\ne\nf\ng\nh\n1, 2\nEnd\n");
    ASSERT_EQ(read.status, TrackListRead::Ok);
    EXPECT_EQ(read.offsets.trackOffsetY[1], 2);

    // 64 pairs fit the tables; 65 do not.
    std::vector<std::string> pairs(64, " 1,  1");
    EXPECT_EQ(parseTrackList(trackFile(pairs)).status, TrackListRead::Ok);
    pairs.push_back(" 1,  1");
    EXPECT_EQ(parseTrackList(trackFile(pairs)).status, TrackListRead::Missing);

    // A pair without ",", a short line among the pairs, no End, a value beyond 16 bits,
    // fewer than 8 header lines, an empty file.
    EXPECT_EQ(parseTrackList(trackFile({" 1  2"})).status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList(trackFile({" 1, 2", ""})).status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList(trackFile({" 1, 2"}, false)).status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList(trackFile({" 40000, 2"})).status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList(trackFile({" 1, 1e99999"})).status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList("a\r\nb\r\nEnd \r\n").status, TrackListRead::Missing);
    EXPECT_EQ(parseTrackList("").status, TrackListRead::Missing);
}

ImageHeader mosaicHeader(std::int16_t type) {
    ImageHeader h;
    h.mosaicType = type;
    h.exposureSeconds = 0.125;  // h = 62.5 ms -> 62 (halves to even)
    h.temperature = -10.5f;
    h.timeText = "21:15:00";
    h.dateText = "07/12/26";
    h.pixelSize = 0.0074f;
    return h;
}

TEST(MosaicData, TimesCentroidsAndLineShapes) {
    AuxRow aux{};
    aux[1] = 1;  // T(1) = 65536
    aux[2] = 0;
    aux[3] = 1;  // T(2) = 68536
    aux[4] = 3000;
    aux[5] = 40000;  // T(3) beyond 32 bits signed
    aux[6] = 0;
    PixelArray px(320, 200);
    for (int r = 1; r <= 200; ++r)
        for (int c = 1; c <= 320; ++c) px.setCell(c, r, 1000);
    px.setCell(10, 20, 1500);  // box 1: a star of 500 counts at offset (10, 20)
    px.setCell(45, 5, 1100);   // box 2: +100 and -100, counts 0
    px.setCell(70, 30, 900);
    for (int r = 41; r <= 80; ++r)  // box 9: a background above 32767
        for (int c = 1; c <= 40; ++c) px.setCell(c, r, PixelArray::toCell(40000));
    px.setCell(21, 61, PixelArray::toCell(40400));  // offset (21, 21): x, y = 1.5 px

    const auto lines = linesOf(mosaicDataText(mosaicHeader(40), aux, px));
    ASSERT_EQ(lines.size(), 10u + 40u + 1u);
    const std::vector<std::string> head = {
        "KYR Mosaic Data",
        "Version = 1",
        "Snapshots =  40",
        "Snapshot exposure time = .12",
        "Temperature = -10.5",
        "First exposure end time = 21:15:00",
        "First exposure end date = 07/12/26",
        "Center of exposure times relative to first exposure (in milliseconds)",
        "Centroid data is in mm relative to center of mosaic box",
        "Number\tTime\tCounts\tX-Cen\tY-Cen"};
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10), head);
    EXPECT_EQ(lines[10], " 1\t 0\t 500\t-0.070\t0.004");  // (10 - 19.5) x 0.0074
    EXPECT_EQ(lines[11], " 2\t 2938\t 0\t0.000\t0.000");  // no centroid without counts
    EXPECT_EQ(lines[12], " 3\t 2621374402\t 0\t0.000\t0.000");
    EXPECT_EQ(lines[18], " 9\t-65598\t 400\t0.011\t0.011");
    EXPECT_EQ(lines.back(), "End ");

    // The 6-snapshot mosaic: times only.
    const auto six = linesOf(mosaicDataText(mosaicHeader(6), aux, px));
    ASSERT_EQ(six.size(), 10u + 6u + 1u);
    EXPECT_EQ(six[10], " 1\t 0\t 0\t0.000\t0.000");
    EXPECT_EQ(six[11], " 2\t 2938\t 0\t0.000\t0.000");

    // Entries already turned signed by the track list writer still give the same stamps.
    AuxRow signedAux = aux;
    signedAux[5] = 40000 - 65536;
    EXPECT_EQ(linesOf(mosaicDataText(mosaicHeader(6), signedAux, px))[12],
              " 3\t 2621374402\t 0\t0.000\t0.000");

    // A smaller image reads 0 beyond its edge instead of reading past it.
    const auto small = linesOf(mosaicDataText(mosaicHeader(40), aux, PixelArray(50, 30)));
    EXPECT_EQ(small[49], " 40\t-65598\t 0\t0.000\t0.000");
}

}  // namespace
}  // namespace kyr
