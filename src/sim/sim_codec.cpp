#include "sim/sim_codec.h"

#include <algorithm>

#include "common/le16.h"

namespace kyr::sim {

namespace {
unsigned clamp16(int v) {
    return static_cast<unsigned>(std::clamp(v, 0, 65535));
}
}  // namespace

std::uint16_t headerFlagWord(const SimHeader& h) {
    unsigned f = 0;
    if (h.inches) f |= 1u << 1;
    if (h.apertureFactor098) f |= 1u << 2;
    if (h.readoutMode >= 0 && h.readoutMode <= 2)
        f |= static_cast<unsigned>(h.readoutMode + 1) << 4;
    if (h.hour >= 12) f |= 1u << 10;
    if (h.defaultFilterLunar) f |= 1u << 11;
    if (h.historyGuided) f |= 1u << 12;
    if (h.mosaicType == 40) f |= 1u << 13;
    if (h.mosaicType == 6) f |= 1u << 14;
    return static_cast<std::uint16_t>(f);
}

std::uint16_t headerDateWord(const SimHeader& h) {
    const unsigned month = static_cast<unsigned>(std::clamp(h.month, 0, 15));
    const unsigned day = static_cast<unsigned>(std::clamp(h.day, 0, 31));
    const unsigned year = static_cast<unsigned>(std::clamp(h.year - 1999, 0, 127));
    return static_cast<std::uint16_t>(month << 12 | day << 7 | year);
}

std::uint16_t headerTimeWord(const SimHeader& h) {
    const unsigned hour = static_cast<unsigned>(std::clamp(h.hour % 12, 0, 15));
    const unsigned minute = static_cast<unsigned>(std::clamp(h.minute, 0, 63));
    const unsigned second = static_cast<unsigned>(std::clamp(h.second, 0, 63));
    return static_cast<std::uint16_t>(hour << 12 | minute << 6 | second);
}

std::uint16_t headerExposureWord(const SimHeader& h) {
    if (h.millisecondForm)
        return static_cast<std::uint16_t>(60000 + std::clamp(h.exposureMs, 1, 5535));
    return static_cast<std::uint16_t>(std::clamp(h.exposureMs / 10, 0, 60000));
}

std::vector<std::uint8_t> encodeHeaderPayload(const SimHeader& h) {
    const int length = (h.payloadLength == 38 || h.payloadLength == 44) ? h.payloadLength : 42;
    std::vector<std::uint8_t> p(static_cast<std::size_t>(length), 0);
    writeLe16(p.data() + 0, headerFlagWord(h));
    writeLe16(p.data() + 2, static_cast<unsigned>(std::clamp(h.height, 0, 32767)));
    writeLe16(p.data() + 4, static_cast<unsigned>(std::clamp(h.width, 0, 32767)));
    writeLe16(p.data() + 6, static_cast<unsigned>(std::clamp(h.firstRow, 0, 32767)));
    writeLe16(p.data() + 8, static_cast<unsigned>(std::clamp(h.firstColumn, 0, 32767)));
    writeLe16(p.data() + 10, headerExposureWord(h));
    writeLe16(p.data() + 12, static_cast<unsigned>(std::clamp(h.exposureCount, 0, 32767)));
    // Words the console does not read: the frame number and a fixed marker.
    writeLe16(p.data() + 14, h.frameNumber & 0xFFFF);
    writeLe16(p.data() + 16, 0x4B59);
    writeLe16(p.data() + 18, clamp16(h.focalHundredths));
    writeLe16(p.data() + 20, clamp16(h.apertureTenths));
    writeLe16(p.data() + 22, headerDateWord(h));
    writeLe16(p.data() + 24, headerTimeWord(h));
    writeLe16(p.data() + 26,
              static_cast<unsigned>(std::clamp(h.temperatureHundredths, -32768, 32767)) & 0xFFFF);
    writeLe16(p.data() + 28, static_cast<unsigned>(std::clamp(h.site, 0, 32767)));
    writeLe16(p.data() + 30, clamp16(h.egainHundredths));
    writeLe16(p.data() + 32, clamp16(h.background));
    writeLe16(p.data() + 34, clamp16(h.range));
    writeLe16(p.data() + 36, clamp16(h.pedestal));
    if (length >= 42) {
        writeLe16(p.data() + 38, (h.frameNumber >> 16) & 0xFFFF);
        writeLe16(p.data() + 40, 0x0201);
    }
    if (length == 44) {
        p[42] = h.filterCode;
        p[43] = h.filterGuard;
    }
    return p;
}

bool encodable(int previous, int value) {
    const int d = value - previous;
    return (d >= -8192 && d <= 8191) || (value >= 0 && value <= 65532 && value % 4 == 0);
}

int makeRowEncodable(std::span<std::uint16_t> row) {
    int changed = 0;
    for (std::size_t i = 1; i < row.size(); ++i) {
        if (!encodable(row[i - 1], row[i])) {
            row[i] = static_cast<std::uint16_t>(row[i] & ~3u);
            ++changed;
        }
    }
    return changed;
}

std::optional<std::vector<std::uint8_t>> encodeCompressedRow(std::span<const std::uint16_t> row,
                                                             int* codeCounts) {
    std::vector<std::uint8_t> out;
    if (row.empty()) return out;
    out.reserve(row.size() * 2);
    appendLe16(out, row[0]);
    int running = row[0];
    for (std::size_t i = 1; i < row.size(); ++i) {
        const int v = row[i];
        const int d = v - running;
        RowCode kind;
        if (d >= 0 && d <= 63) {
            out.push_back(static_cast<std::uint8_t>(d));
            kind = RowCode::SmallUp;
        } else if (d >= -64 && d < 0) {
            out.push_back(static_cast<std::uint8_t>(d + 128));
            kind = RowCode::SmallDown;
        } else if (d >= -8192 && d <= 8191) {
            const unsigned field = static_cast<unsigned>(d < 0 ? d + 0x4000 : d);
            out.push_back(static_cast<std::uint8_t>(0x80 | (field >> 8)));
            out.push_back(static_cast<std::uint8_t>(field & 0xFF));
            kind = RowCode::Delta14;
        } else if (v % 4 == 0 && v <= 65532) {
            const unsigned q = static_cast<unsigned>(v / 4);
            out.push_back(static_cast<std::uint8_t>(0xC0 | (q >> 8)));
            out.push_back(static_cast<std::uint8_t>(q & 0xFF));
            kind = RowCode::Absolute;
        } else {
            return std::nullopt;
        }
        if (codeCounts) ++codeCounts[static_cast<int>(kind)];
        running = v;
    }
    return out;
}

std::vector<std::uint8_t> encodeRawRow(std::span<const std::uint16_t> row) {
    std::vector<std::uint8_t> out(row.size() * 2);
    for (std::size_t i = 0; i < row.size(); ++i) writeLe16(out.data() + 2 * i, row[i]);
    return out;
}

std::uint16_t firmwareCrc16(std::span<const std::uint8_t> bytes) {
    // Bitwise on purpose: the console uses a table; the two must agree.
    unsigned crc = 0xFFFF;
    for (const auto b : bytes) {
        crc ^= static_cast<unsigned>(b) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
            crc &= 0xFFFF;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

}  // namespace kyr::sim
