#pragma once
// A fresh folder per test, removed afterwards. Its path has no "." so that names cut before
// their first "." stay inside it.

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace kyr::test {

struct TempDir {
    std::filesystem::path path;

    TempDir() {
        static int counter = 0;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path = base / ("kyr_test_" + std::to_string(std::random_device{}()) + "_" +
                           std::to_string(++counter));
            if (std::filesystem::create_directory(path)) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string name(const std::string& leaf) const { return (path / leaf).string(); }

    // The names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

}  // namespace kyr::test
