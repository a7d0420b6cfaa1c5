#pragma once
// Helpers for the simulator's tests: a small frame splitter and reference decoders written
// from the packet formats, independent of both the console and the simulator.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kyr::sim::test {

using Bytes = std::vector<std::uint8_t>;

struct Frame {
    int type = -1;
    Bytes payload;
    bool checksumOk = true;
};

// Cuts a byte stream into frames; bytes before a start byte are counted as junk.
std::vector<Frame> splitFrames(std::span<const std::uint8_t> bytes, int* junk = nullptr);

// A console packet: 165, type, length, header sum, payload, payload sum.
Bytes packet(std::uint8_t type, const Bytes& payload = {});
Bytes linkRequest(int flag);
Bytes keyPress(std::uint16_t mask);
Bytes headerRequest(int buffer);  // 14 bytes, as the console writes it
Bytes rowRequest(int row, int firstColumn, int count, int buffer, std::uint8_t type = 7);

// The header fields as the console would read them.
struct DecodedHeader {
    unsigned flags = 0;
    int height = 0, width = 0, firstRow = 0, firstColumn = 0;
    int exposureHundredths = 0;  // hdrExposure
    double exposureSeconds = 0;
    int exposureCount = 0;
    double focalLength = 0, apertureDiameter = 0;
    bool metric = true, factor072 = true;
    int readoutMode = -1;  // -1: bits 00
    std::string dateText, timeText;
    double temperature = 0;
    int site = 0, egainRaw = 0, background = 0, range = 0, pedestal = 0;
    std::string filterName;
    char history = '-';
    int mosaicType = 0;
};
DecodedHeader decodeHeader(const Bytes& payload);

// A compressed row: width values, and the count of each code kind
// (1-byte up, 1-byte down, 2-byte delta, absolute). False when the codes run out.
bool decodeCompressed(const Bytes& payload, int width, std::vector<std::uint16_t>& out,
                      int kinds[4] = nullptr);
std::vector<std::uint16_t> decodeRaw(const Bytes& payload);

}  // namespace kyr::sim::test
