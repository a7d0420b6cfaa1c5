#include "files/track_list.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "common/format.h"
#include "image/download_state.h"

namespace kyr {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int kMaxPairs = kAuxLength / 2;

std::int32_t unsignedAux(std::int32_t v) {
    return v < 0 ? v + 65536 : v;
}

// The leading decimal number of a text, blanks anywhere ignored; 0 when there is none.
double leadingNumber(std::string_view text) {
    std::string s;
    for (char ch : text)
        if (ch != ' ' && ch != '\t' && ch != '\n') s += ch;
    std::size_t p = 0;
    bool negative = false;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) negative = s[p++] == '-';
    std::string clean;
    auto digitsInto = [&](std::string& to) {
        int n = 0;
        while (p < s.size() && s[p] >= '0' && s[p] <= '9') to += s[p++], ++n;
        return n;
    };
    int digits = digitsInto(clean);
    if (p < s.size() && s[p] == '.') {
        clean += s[p++];
        digits += digitsInto(clean);
    }
    if (digits == 0) return 0.0;
    if (p < s.size() && (s[p] == 'E' || s[p] == 'e' || s[p] == 'D' || s[p] == 'd')) {
        std::string exp = "e";
        ++p;
        if (p < s.size() && (s[p] == '+' || s[p] == '-')) exp += s[p++];
        if (digitsInto(exp) > 0) clean += exp;
    }
    double value = 0.0;
    const auto res = std::from_chars(clean.data(), clean.data() + clean.size(), value,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range)
        value =
            clean.find("e-") == std::string::npos ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

std::optional<std::int16_t> toInt16(std::string_view text) {
    const double v = leadingNumber(text);
    if (!std::isfinite(v)) return std::nullopt;
    const std::int64_t r = roundHalfEven(v);
    if (r < -32768 || r > 32767) return std::nullopt;
    return static_cast<std::int16_t>(r);
}

// Text lines ended by CR LF (a lone CR or LF also ends a line).
std::vector<std::string_view> splitLines(const std::string& text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.emplace_back(text.data() + pos, text.size() - pos);
            break;
        }
        lines.emplace_back(text.data() + pos, end - pos);
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    return lines;
}

}  // namespace

std::string trackListText(const ImageHeader& hdr, AuxRow& auxData) {
    for (std::size_t i = 1; i < auxData.size(); ++i)
        if (auxData[i] > 32767) auxData[i] -= 65536;

    std::string t;
    t += "KYR Track List" + std::string(kCrLf);
    t += "Version = 1" + std::string(kCrLf);
    t += "Snapshots = " + signedText(hdr.hdrExposureCount) + kCrLf;
    t += "Snapshot_time = " + formatPicture(hdr.exposureSeconds, "###.##") + kCrLf;
    t += "Temperature = " + formatPicture(hdr.temperature, "###.##") + kCrLf;
    t += "Height = " + signedText(hdr.hdrHeight) + kCrLf;
    t += "Width = " + signedText(hdr.hdrWidth) + kCrLf;
    t += "Offset = " + signedText(hdr.hdrPedestal) + kCrLf;
    const int pairs = std::min<int>(hdr.hdrExposureCount, kMaxPairs);
    for (int i = 1; i <= pairs; ++i) {
        t += signedText(auxData[static_cast<std::size_t>(2 * i - 1)]) + ", " +
             signedText(auxData[static_cast<std::size_t>(2 * i)]) + kCrLf;
    }
    t += "End " + std::string(kCrLf);
    return t;
}

std::string mosaicDataText(const ImageHeader& hdr, const AuxRow& auxData,
                           const PixelArray& imageData) {
    std::string t;
    t += "KYR Mosaic Data" + std::string(kCrLf);
    t += "Version = 1" + std::string(kCrLf);
    t += "Snapshots = " + signedText(hdr.mosaicType) + kCrLf;
    t += "Snapshot exposure time = " + formatPicture(hdr.exposureSeconds, "###.##") + kCrLf;
    t += "Temperature = " + formatPicture(hdr.temperature, "###.##") + kCrLf;
    t += "First exposure end time = " + hdr.timeText + kCrLf;
    t += "First exposure end date = " + hdr.dateText + kCrLf;
    t += "Center of exposure times relative to first exposure (in milliseconds)" +
         std::string(kCrLf);
    t += "Centroid data is in mm relative to center of mosaic box" + std::string(kCrLf);
    t += "Number\tTime\tCounts\tX-Cen\tY-Cen" + std::string(kCrLf);

    // Time stamps are unsigned 32-bit values; entries already turned signed by the track
    // list writer are read back as 0..65535. 64-bit so that no stamp can overflow.
    auto stamp = [&](int a) {
        return static_cast<std::int64_t>(
                   unsignedAux(auxData[static_cast<std::size_t>(2 * a - 1)])) *
                   65536 +
               unsignedAux(auxData[static_cast<std::size_t>(2 * a)]);
    };
    const std::int64_t half = roundHalfEven(hdr.exposureSeconds * 500.0);
    const int snapshots = std::min<int>(hdr.mosaicType, kMaxPairs);
    for (int a = 1; a <= snapshots; ++a) {
        const std::int64_t time = a == 1 ? 0 : stamp(a) - stamp(1) - half;
        std::int64_t counts = 0;
        float xCen = 0.0f, yCen = 0.0f;
        if (hdr.mosaicType > 6) {
            const int c0 = ((a - 1) % 8) * 40;
            const int r0 = ((a - 1) / 8) * 40;
            auto at = [&](int i, int j) { return imageData.sample(c0 + i, r0 + j); };
            std::int64_t ring = 0;
            for (int i = 1; i <= 38; ++i) ring += at(i, 1) + at(i, 38);
            for (int j = 1; j <= 38; ++j) ring += at(1, j) + at(38, j);
            const std::int64_t bg = ring / 152;
            // |s| <= 65535 over 36 x 36 pixels: every sum fits 32 bits as described.
            std::int64_t sx = 0, sy = 0;
            for (int j = 2; j <= 37; ++j) {
                for (int i = 2; i <= 37; ++i) {
                    const std::int64_t s = at(i, j) - bg;
                    counts += s;
                    sx += s * i;
                    sy += s * j;
                }
            }
            if (counts != 0) {
                const double n = static_cast<double>(counts);
                xCen = static_cast<float>((static_cast<double>(sx) / n - 19.5) * hdr.pixelSize);
                yCen = static_cast<float>((static_cast<double>(sy) / n - 19.5) * hdr.pixelSize);
            }
        }
        t += signedText(a) + "\t" + signedText(time) + "\t" + signedText(counts) + "\t" +
             formatPicture(xCen, "##0.000") + "\t" + formatPicture(yCen, "##0.000") + kCrLf;
    }
    t += "End " + std::string(kCrLf);
    return t;
}

TrackListRead parseTrackList(const std::string& text) {
    TrackListRead out;
    const auto lines = splitLines(text);
    std::size_t next = 8;  // the header lines are skipped
    std::string_view key;
    auto readLine = [&](std::string_view& line) {
        if (next >= lines.size()) return false;
        line = lines[next++];
        if (line.size() >= 3) key = line.substr(0, 3);
        return true;
    };
    std::string_view line;
    if (!readLine(line)) return out;
    int count = 0;
    while (key != "End") {
        ++count;
        if (count > kMaxTrackSnapshots) return out;
        const auto comma = line.find(',');
        if (comma == std::string_view::npos) return out;
        const auto x = toInt16(line.substr(0, comma));
        const auto y = toInt16(line.substr(comma + 1));
        if (!x || !y) return out;
        out.offsets.trackOffsetX[static_cast<std::size_t>(count)] = *x;
        out.offsets.trackOffsetY[static_cast<std::size_t>(count)] = *y;
        if (!readLine(line)) return out;
    }
    out.status = TrackListRead::Ok;
    out.count = count;
    out.offsets.trackSnapshotCount = static_cast<std::int16_t>(count);
    return out;
}

}  // namespace kyr
