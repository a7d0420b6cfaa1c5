// Writes the seed files of fuzz_kyr_loader with the console's own encoder:
//   build-fuzz/fuzz/make_kyr_seeds fuzz/seeds/fuzz_kyr_loader
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/file_io.h"
#include "files/kyr_codec.h"

using namespace kyr;

namespace {
ImageHeader someHeader() {
    ImageHeader h;
    h.hdrExposure = 250;
    h.exposureSeconds = 2.5;
    h.hdrExposureCount = 1;
    h.focalLength = 40.0f;
    h.apertureArea = 12.5f;
    h.pixelSize = 0.0074f;
    h.dateText = "07/12/26";
    h.timeText = "21:15:00";
    h.temperature = -10.5f;
    h.hdrSite = 3;
    h.hdrEgainRaw = 230;
    h.hdrPedestal = 100;
    h.filterName = "Red";
    h.historyText = "g";
    h.noteText = "KYR Image";
    h.hdrYear = 2026;
    return h;
}

bool g_failed = false;

void write(const std::filesystem::path& dir, const char* name, const std::vector<std::uint8_t>& b) {
    const auto err = replaceFile(dir / name, b);
    if (!err.empty()) {
        std::fprintf(stderr, "%s: %s\n", name, err.c_str());
        g_failed = true;
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_kyr_seeds FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];

    // Compressed: small deltas, +-127, the escape, a plain row and samples above 32767.
    PixelArray px(16, 6);
    for (int r = 1; r <= 6; ++r)
        for (int c = 1; c <= 16; ++c) px.setCell(c, r, PixelArray::toCell(1000 + 3 * c + 7 * r));
    px.setCell(5, 2, PixelArray::toCell(1000 + 15 + 14 + 127));
    px.setCell(9, 3, PixelArray::toCell(40000));
    px.setCell(10, 3, PixelArray::toCell(40000 - 128));
    for (int c = 1; c <= 16; ++c) px.setCell(c, 5, PixelArray::toCell(c % 2 ? 200 : 60000));
    write(dir, "compressed_16x6.KYR", encodeKyrFile(someHeader(), 900, 400, px, 16, 6));

    // Uncompressed form: the same header lines with the plain magic and raw cells.
    auto plain = encodeKyrHeader(someHeader(), 0, 1000, 4, 3);
    const std::string magic = "KYR Image           ";  // as long as the compressed magic
    std::copy(magic.begin(), magic.end(), plain.begin());
    for (int i = 0; i < 12; ++i) {
        plain.push_back(static_cast<std::uint8_t>(i * 21));
        plain.push_back(static_cast<std::uint8_t>(i * 13));
    }
    write(dir, "uncompressed_4x3.KYR", plain);

    // A flat frame whose first row falls below 0 by deltas (the flat-field loader stores
    // such samples as 32767); the encoder never writes this, so the rows are built here.
    auto flat = encodeKyrHeader(someHeader(), 1000, 200, 6, 2);
    const std::uint8_t rows[] = {7, 0, 200,  0,    156, 156, 156, 156, 156,  // 200, 100 .. -300
                                 7, 0, 0x4C, 0x04, 0,   0,   0,   0,   0};   // 1100 flat
    flat.insert(flat.end(), std::begin(rows), std::end(rows));
    write(dir, "flat_6x2.KYR", flat);
    return g_failed ? 1 : 0;
}
