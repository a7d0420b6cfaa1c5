#pragma once
// Shared helpers of the kyrctl and export tests: a scratch folder and FITS read-back.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"

namespace kyr::test {

inline std::vector<std::uint8_t> readBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// What CFITSIO reads back from a FITS file.
struct FitsReadBack {
    int status = 0;
    int bitpix = 0;
    long width = 0, height = 0;
    std::vector<std::uint16_t> samples;  // with BZERO applied
    std::vector<std::int16_t> stored;    // the stored values, scaling off
    // Keyword -> value text as CFITSIO reads it (strings without quotes).
    std::vector<std::pair<std::string, std::string>> keys;
    std::vector<std::string> comments;

    std::string key(const std::string& name) const {
        for (const auto& [k, v] : keys)
            if (k == name) return v;
        return "<absent>";
    }
    bool has(const std::string& name) const { return key(name) != "<absent>"; }
    // The sample of image column c, row r (row 1 at the top), as ROWORDER places the rows.
    std::uint16_t sample(int c, int r) const {
        const long row = key("ROWORDER") == "BOTTOM-UP" ? height - r : r - 1;
        return samples.at(static_cast<std::size_t>(row * width + c - 1));
    }
    std::int16_t storedSample(int c, int r) const {
        const long row = key("ROWORDER") == "BOTTOM-UP" ? height - r : r - 1;
        return stored.at(static_cast<std::size_t>(row * width + c - 1));
    }
};

FitsReadBack readFits(const std::string& name);

// Runs fitsverify on a file; returns its whole report, and sets errors and warnings from
// its summary line (-1 when the tool could not be run).
std::string runFitsverify(const std::string& name, int& errors, int& warnings);

}  // namespace kyr::test
