#include "files/kyr_codec.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "common/format.h"
#include "common/le16.h"

namespace kyr {

namespace {

constexpr std::uint8_t kLf = 10;
constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kEof = 26;
constexpr std::uint8_t kEscape = 128;

// Bytes that would end or split a header line.
std::string lineSafe(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<std::uint8_t>(ch);
        if (b != kLf && b != kCr && b != kEof) out += ch;
    }
    return out;
}

std::int32_t sampleOf(std::int16_t cell) {
    return PixelArray::toSample(cell);
}

// Appends L and the row body for `width` cells read through `cellAt`.
template <typename CellAt>
void appendRow(std::vector<std::uint8_t>& out, int width, CellAt cellAt) {
    const std::size_t w = static_cast<std::size_t>(width > 0 ? width : 0);
    const std::size_t start = out.size();
    out.resize(start + 2 + 3 * w);
    std::uint8_t* body = out.data() + start + 2;
    std::size_t k = 0;
    if (w > 0) {
        std::int32_t prev = sampleOf(cellAt(0));
        writeLe16(body, static_cast<unsigned>(prev));
        k = 2;
        for (std::size_t c = 1; c < w; ++c) {
            const std::int32_t v = sampleOf(cellAt(c));
            const std::int32_t d = v - prev;
            if (d >= -127 && d <= 127) {
                body[k++] = static_cast<std::uint8_t>(d & 0xFF);
            } else {
                body[k] = kEscape;
                writeLe16(body + k + 1, static_cast<unsigned>(v));
                k += 3;
            }
            prev = v;
        }
    }
    if (k >= 2 * w) {  // coding is not shorter: the plain row
        k = 2 * w;
        for (std::size_t c = 0; c < w; ++c) {
            const std::int32_t v = sampleOf(cellAt(c));
            writeLe16(body + 2 * c, static_cast<unsigned>(v));
        }
    }
    writeLe16(out.data() + start, static_cast<unsigned>(k));
    out.resize(start + 2 + k);
}

// ---- header pass helpers

bool isBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

// A number as the host's conversions accept it: leading and trailing blanks, an optional
// sign, digits with an optional decimal point, an optional exponent (E or D).
std::optional<double> parseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    std::size_t end = text.size();
    while (end > i && isBlank(text[end - 1])) --end;
    text = text.substr(i, end - i);
    if (text.empty()) return std::nullopt;

    bool negative = false;
    std::size_t p = 0;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        p = 1;
    }
    std::string clean;
    int digits = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') clean += text[p++], ++digits;
    if (p < text.size() && text[p] == '.') {
        clean += text[p++];
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') clean += text[p++], ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (p < text.size() && (text[p] == 'E' || text[p] == 'e' || text[p] == 'D' || text[p] == 'd')) {
        clean += 'e';
        ++p;
        if (p < text.size() && (text[p] == '+' || text[p] == '-')) clean += text[p++];
        int expDigits = 0;
        while (p < text.size() && text[p] >= '0' && text[p] <= '9') clean += text[p++], ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (p != text.size()) return std::nullopt;

    double value = 0.0;
    const auto res = std::from_chars(clean.data(), clean.data() + clean.size(), value,
                                     std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Only a huge magnitude matters here: a tiny one is 0 for every target.
        const bool huge = clean.find("e-") == std::string::npos;
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (res.ec != std::errc() || res.ptr != clean.data() + clean.size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

template <typename Int>
std::optional<Int> toInteger(std::string_view text) {
    const auto v = parseNumber(text);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    const std::int64_t r = roundHalfEven(*v);
    if (r < std::numeric_limits<Int>::min() || r > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(r);
}

std::optional<float> toFloat(std::string_view text) {
    const auto v = parseNumber(text);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*v);
}

// Stores a converted value; false when the conversion failed.
template <typename T, typename U>
bool take(const std::optional<T>& converted, std::optional<U>& target) {
    if (!converted) return false;
    target = *converted;
    return true;
}

template <typename T, typename U>
void takeIfClean(const std::optional<T>& converted, std::optional<U>& target) {
    if (converted) target = *converted;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// The keys only the image loader takes; false when a value does not convert.
template <typename Is>
bool takeImageKey(Is& is, const std::string_view& value, KyrFile& f) {
    if (is("Date ="))
        f.dateText = std::string(value);
    else if (is("Time ="))
        f.timeText = std::string(value);
    else if (is("Note ="))
        f.noteText = std::string(value);
    else if (is("Exposure ="))
        return take(toInteger<std::int32_t>(value), f.hdrExposure);
    else if (is("Number_exposures ="))
        return take(toInteger<std::int16_t>(value), f.hdrExposureCount);
    else if (is("Pedestal ="))  // 0..65535, as the header gives it
        return take(toInteger<std::int32_t>(value), f.hdrPedestal);
    else if (is("Focal_length ="))
        return take(toFloat(value), f.focalLength);
    else if (is("Aperture ="))
        return take(toFloat(value), f.apertureArea);
    else if (is("Temperature ="))
        return take(toFloat(value), f.temperature);
    // The lines below are shown in the panel only: taken over where they read cleanly (so a
    // loaded image saved again keeps them), never a reason to refuse the file.
    else if (is("X_pixel_size ="))
        takeIfClean(toFloat(value), f.pixelSize);
    else if (is("E_gain =")) {
        const auto gain = toFloat(value);
        if (gain && std::fabs(*gain) <= 2.0e7f)
            f.hdrEgainRaw = static_cast<std::int32_t>(roundHalfEven(*gain * 100.0));
    } else if (is("Filter ="))
        f.filterName = std::string(value);
    else if (is("History ="))
        f.historyText = std::string(value);
    else if (is("Observer =")) {
        // "Observer = Site 3": the number follows the word; other observers are shown only.
        if (startsWith(value, "Site")) takeIfClean(toInteger<std::int16_t>(value.substr(4)), f.hdrSite);
    } else if (is("Readout_mode ="))
        takeIfClean(toInteger<std::int16_t>(value), f.readoutMode);
    else if (is("User_4 = Y2KYear ="))
        takeIfClean(toInteger<std::int16_t>(value), f.hdrYear);
    return true;
}

// Stores one decoded sample; false when it cannot be a sample of this mode.
inline bool storeSample(std::int32_t v, KyrDecodeMode mode, std::int16_t& cell) {
    if (mode == KyrDecodeMode::Image) {
        if (static_cast<std::uint32_t>(v) > 65535u) return false;
        cell = PixelArray::toCell(v);
        return true;
    }
    if (v > 32767) return false;
    cell = v < 0 ? std::int16_t{32767} : static_cast<std::int16_t>(v);
    return true;
}

}  // namespace

std::vector<std::uint8_t> encodeKyrHeader(const ImageHeader& hdr, std::int32_t background,
                                          std::int32_t range, int imageWidth, int imageHeight) {
    double focal = hdr.focalLength;
    double area = hdr.apertureArea;
    if (hdr.unitsMetric) {  // the file always holds inches
        focal /= 2.54;
        area /= 6.4516;
    }

    // The free texts, in the order they are shortened when the header would overflow.
    enum { Note, Filter, History, Time, Date, TextCount };
    std::array<std::string, TextCount> texts{lineSafe(hdr.noteText), lineSafe(hdr.filterName),
                                             lineSafe(hdr.historyText), lineSafe(hdr.timeText),
                                             lineSafe(hdr.dateText)};

    auto buildLines = [&] {
        return std::array<std::string, 33>{
            "KYR Compressed Image",
            "File_version = 3",
            "Data_version = 1",
            "Exposure = " + signedText(hdr.hdrExposure),
            "Focal_length = " + formatPicture(focal, "###0.00"),
            "Aperture = " + formatPicture(area, "###0.000"),
            "Response_factor = 2000.000",
            "Note = " + texts[Note],
            "Background = " + signedText(background),
            "Range = " + signedText(range),
            "Height = " + signedText(imageHeight),
            "Width = " + signedText(imageWidth),
            "Date = " + texts[Date],
            "Time = " + texts[Time],
            "Exposure_state = 356",
            "Temperature = " + formatPicture(hdr.temperature, "#0.00"),
            "Number_exposures = " + signedText(hdr.hdrExposureCount),
            "Each_exposure = " + signedText(hdr.hdrExposure),
            "History = " + texts[History],
            "Observer = Site" + signedText(hdr.hdrSite),
            "X_pixel_size = " + formatPicture(hdr.pixelSize, "0.0000"),
            "Y_pixel_size = " + formatPicture(hdr.pixelSize, "0.0000"),
            "Pedestal = " + signedText(hdr.hdrPedestal),
            "E_gain = " + formatPicture(hdr.hdrEgainRaw / 100.0, "#0.0"),
            "User_1 = KYR Server Ver 1.0",
            "User_2 = -",
            "User_3 = -",
            "User_4 = Y2KYear = " + signedText(hdr.hdrYear),
            "Filter = " + texts[Filter],
            "Readout_mode = " + signedText(hdr.readoutMode),
            "Track_time = 0",
            "Sat_level = 32767",
            "End",
        };
    };

    auto lines = buildLines();
    std::size_t total = 1;  // the byte 26
    for (const auto& l : lines) total += l.size() + 2;
    if (total > kKyrHeaderSize) {
        std::size_t excess = total - kKyrHeaderSize;
        for (auto& t : texts) {
            const std::size_t cut = std::min(excess, t.size());
            t.resize(t.size() - cut);
            excess -= cut;
        }
        lines = buildLines();
    }

    std::vector<std::uint8_t> out;
    out.reserve(kKyrHeaderSize);
    for (const auto& l : lines) {
        out.insert(out.end(), l.begin(), l.end());
        out.push_back(kLf);
        out.push_back(kCr);
    }
    out.push_back(kEof);
    out.resize(kKyrHeaderSize, ' ');
    return out;
}

std::vector<std::uint8_t> compressRow(std::span<const std::int16_t> row) {
    std::vector<std::uint8_t> out;
    appendRow(out, static_cast<int>(row.size()), [&](std::size_t c) { return row[c]; });
    return out;
}

std::vector<std::uint8_t> encodeKyrPixels(const PixelArray& pixels, int width, int height) {
    std::vector<std::uint8_t> out;
    if (width < 0) width = 0;
    out.reserve(static_cast<std::size_t>(height > 0 ? height : 0) *
                (2 + 2 * static_cast<std::size_t>(width)));
    for (int r = 1; r <= height; ++r) {
        const auto cells = pixels.row(r);
        if (cells.size() >= static_cast<std::size_t>(width)) {
            appendRow(out, width, [&](std::size_t c) { return cells[c]; });
        } else {  // the array is smaller than the size to write: missing cells are 0
            appendRow(out, width,
                      [&](std::size_t c) { return pixels.cell(static_cast<int>(c) + 1, r); });
        }
    }
    return out;
}

std::vector<std::uint8_t> encodeKyrFile(const ImageHeader& hdr, std::int32_t background,
                                        std::int32_t range, const PixelArray& pixels, int width,
                                        int height) {
    auto out = encodeKyrHeader(hdr, background, range, width, height);
    const auto data = encodeKyrPixels(pixels, width, height);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

bool decodeKyrPixels(std::span<const std::uint8_t> data, int width, int height, bool compressed,
                     KyrDecodeMode mode, PixelArray& out) {
    if (width < 0 || height < 0) return false;
    out.recreate(width, height);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t size = data.size();
    const std::uint8_t* const bytes = data.data();
    std::size_t pos = 0;

    if (!compressed) {
        if (w * static_cast<std::size_t>(height) * 2 > size) return false;
        for (int r = 1; r <= height; ++r) {
            auto row = out.row(r);
            for (std::size_t c = 0; c < w; ++c, pos += 2)
                row[c] = static_cast<std::int16_t>(readLe16(bytes + pos));
        }
        return true;
    }

    for (int r = 1; r <= height; ++r) {
        if (size - pos < 2) return false;
        const std::size_t len = readLe16(bytes + pos);
        pos += 2;
        if (len > size - pos) return false;
        const std::uint8_t* body = bytes + pos;
        pos += len;
        if (w == 0) continue;
        std::int16_t* row = out.row(r).data();

        if (len == 2 * w) {  // plain row
            for (std::size_t c = 0; c < w; ++c) {
                const std::int32_t v = readLe16(body + 2 * c);
                if (!storeSample(v, mode, row[c])) return false;
            }
            continue;
        }
        if (len < 2) return false;
        std::int32_t v = readLe16(body);
        if (!storeSample(v, mode, row[0])) return false;
        std::size_t k = 2;
        for (std::size_t c = 1; c < w; ++c) {
            if (k >= len) return false;
            const std::uint8_t b = body[k];
            if (b == kEscape) {
                if (len - k < 3) return false;
                v = readLe16(body + k + 1);
                k += 3;
            } else {
                v += static_cast<std::int8_t>(b);
                ++k;
            }
            if (!storeSample(v, mode, row[c])) return false;
        }
    }
    return true;
}

KyrLoadResult decodeKyrFile(std::span<const std::uint8_t> bytes, const std::string& panelPrefix,
                            KyrDecodeMode mode) {
    KyrLoadResult result;
    KyrFile& f = result.values;
    const bool image = mode == KyrDecodeMode::Image;
    std::string panel = image ? panelPrefix : std::string{};

    // Header pass: lines up to a carriage return, a line feed right after it skipped.
    const std::size_t size = bytes.size();
    std::size_t pos = 0;
    bool ended = false;
    while (pos < size) {
        std::size_t cr = pos;
        while (cr < size && bytes[cr] != kCr) ++cr;
        const std::string_view line(reinterpret_cast<const char*>(bytes.data()) + pos, cr - pos);
        pos = cr < size ? cr + 1 : size;
        if (pos < size && cr < size && bytes[pos] == kLf) ++pos;

        if (line.size() < 4) continue;  // n = length - 1 below 3
        const std::size_t n = line.size() - 1;
        panel.append(line.substr(0, n));
        panel += "\r\n";
        if (line.find("Compressed Image") != std::string_view::npos) f.compressed = true;

        // On a key, the value runs from the second character after it to character n.
        std::string_view value;
        auto is = [&](std::string_view key) {
            if (!startsWith(line, key)) return false;
            const std::size_t from = key.size() + 1;
            value = from < n ? line.substr(from, n - from) : std::string_view{};
            return true;
        };
        bool ok = true;
        // Background and range are 32-bit settings (auto-contrast alone gives up to 65472):
        // whatever the writer wrote must load back.
        if (is("Background ="))
            ok = take(toInteger<std::int32_t>(value), f.background);
        else if (is("Range ="))
            ok = take(toInteger<std::int32_t>(value), f.range);
        else if (is("Height ="))
            ok = take(toInteger<std::int16_t>(value), f.imageHeight);
        else if (is("Width ="))
            ok = take(toInteger<std::int16_t>(value), f.imageWidth);
        else if (image)  // the flat-field loader takes only the four keys above
            ok = takeImageKey(is, value, f);
        if (!ok) return result;
        if (startsWith(line, "End")) {
            ended = true;
            break;
        }
    }
    if (!ended) return result;
    f.panelText = panel;
    result.panelText = std::move(panel);

    if (!f.imageWidth || !f.imageHeight) return result;
    if (*f.imageWidth > kKyrMaxWidth) {
        result.status = KyrLoadResult::TooWide;
        return result;
    }
    if (*f.imageHeight > kKyrMaxHeight) {
        result.status = KyrLoadResult::TooTall;
        return result;
    }
    if (*f.imageWidth < 0 || *f.imageHeight < 0) return result;

    const auto data =
        size > kKyrHeaderSize ? bytes.subspan(kKyrHeaderSize) : std::span<const std::uint8_t>{};
    if (!decodeKyrPixels(data, *f.imageWidth, *f.imageHeight, f.compressed, mode, result.pixels)) {
        result.pixels = PixelArray{};
        return result;
    }
    result.status = KyrLoadResult::Ok;
    return result;
}

}  // namespace kyr
