#pragma once
// The device's side of the image and firmware formats: how the KYR packs an image header,
// compresses a row, sends a raw row, and checks a firmware image. Written independently of
// the console's decoders so that each checks the other.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kyr::sim {

// An image header as the device keeps it, in plain units; encodeHeaderPayload packs it.
struct SimHeader {
    int width = 0, height = 0;  // 0 height: the buffer is empty
    int firstRow = 0, firstColumn = 0;
    int exposureMs = 0;            // per frame
    bool millisecondForm = false;  // sent as 60000 + ms (up to 5535 ms) instead of 1/100 s
    int exposureCount = 1;
    int focalHundredths = 0;         // focal length in 1/100 of the length unit
    int apertureTenths = 0;          // aperture diameter in 1/10 of the length unit
    bool inches = false;             // flag bit 1
    bool apertureFactor098 = false;  // flag bit 2 (0.98 instead of 0.72236448)
    int readoutMode = 0;             // 0..2 -> flag bits 5-4 = 01, 10, 11; -1 sends 00
    int year = 2024, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;  // 0..23; 12..23 set the after-noon bit
    int temperatureHundredths = 0;         // degrees C x 100, may be negative
    int site = 0;
    int egainHundredths = 0;
    int background = 0, range = 0;  // suggested display settings, 0..65535
    int pedestal = 0;
    bool defaultFilterLunar = false;  // flag bit 11
    bool historyGuided = false;       // flag bit 12
    int mosaicType = 0;               // 0, 40 (bit 13) or 6 (bit 14)
    int payloadLength = 42;           // 38, 42 or 44
    std::uint8_t filterCode = 0;      // offset 42 of a 44-byte header
    std::uint8_t filterGuard = 0;     // offset 43: non-zero makes the console ignore the code
    std::uint32_t frameNumber = 0;    // in the uninterpreted words, so they are not all 0
};

// Flag word of a header (bit 15 always clear).
std::uint16_t headerFlagWord(const SimHeader& h);
// Date word: month << 12 | day << 7 | (year - 1999). Time word: hour (0..11) << 12 | min << 6 | s.
std::uint16_t headerDateWord(const SimHeader& h);
std::uint16_t headerTimeWord(const SimHeader& h);
std::uint16_t headerExposureWord(const SimHeader& h);
// The type-4 payload: 38, 42 or 44 bytes.
std::vector<std::uint8_t> encodeHeaderPayload(const SimHeader& h);

// Kinds of code in a compressed row.
enum class RowCode { SmallUp, SmallDown, Delta14, Absolute };

// One value can follow `previous` in a compressed row with a single code.
bool encodable(int previous, int value);
// Moves a row's values the least amount (dropping the two low bits of a large jump) so that
// every value can be sent compressed; returns how many values changed.
int makeRowEncodable(std::span<std::uint16_t> row);

// Compressed row (type 7): the first value as 16 bits, then one code per further value.
// std::nullopt when some value cannot be coded (a jump beyond +-8191 to a value that is
// not a multiple of 4); the device then sends the row uncompressed.
std::optional<std::vector<std::uint8_t>> encodeCompressedRow(std::span<const std::uint16_t> row,
                                                             int* codeCounts = nullptr);
// Uncompressed row (type 5): each value as 16 bits, little-endian.
std::vector<std::uint8_t> encodeRawRow(std::span<const std::uint16_t> row);

// CRC-16, polynomial 0x1021, initial 0xFFFF, most significant bit first, no final XOR.
std::uint16_t firmwareCrc16(std::span<const std::uint8_t> bytes);

inline constexpr int kFirmwareSize = 98304;
inline constexpr int kFirmwarePages = 192;
inline constexpr int kFirmwarePageSize = 512;
inline constexpr int kFirmwareCrcCovered = 98300;

}  // namespace kyr::sim
