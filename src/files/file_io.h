#pragma once
// The files' only contact with the file system. Writes go to a temporary name in the same
// folder first, so that a failure never leaves a partly written file under the final name.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kyr {

// Creates `path` with `bytes`; never replaces an existing file. Returns "" on success or a
// short reason ("the folder ... does not exist", "... already exists", ...). On failure
// nothing is left behind: no partial file under the final name and no temporary file.
std::string writeNewFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// How the console creates its image and companion files (writeNewFile; tests put a failing
// writer in its place).
using NewFileWriter =
    std::function<std::string(const std::filesystem::path&, std::span<const std::uint8_t>)>;

// Writes `path` with `bytes`, replacing a file of that name as a whole. Same result texts.
std::string replaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Image and track files are far smaller; a larger file is refused, not read into memory.
inline constexpr std::uintmax_t kMaxReadableFileBytes = 16u << 20;

// The whole content of a regular file, or nothing when it cannot be read or is larger than
// maxBytes (a wrongly chosen huge file is refused instead of filling memory).
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path,
                                                       std::uintmax_t maxBytes = UINTMAX_MAX);

// A file (or anything else) of that name exists; an unreadable folder counts as "no".
bool fileExists(const std::filesystem::path& path);

// The bytes of a text, one per character.
inline std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The whole path cut before its first "." (a name without "." stays whole):
// "C:\my.dir\pic" gives "C:\my".
std::string cutBeforeFirstDot(const std::string& name);

// The same cut within the last part of the path only: "/data/obs.2026/m31.KYR" gives
// "/data/obs.2026/m31". For front ends that name files by whole paths.
std::string cutBeforeFirstDotOfName(const std::string& name);

}  // namespace kyr
