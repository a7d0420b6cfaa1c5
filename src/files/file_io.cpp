#include "files/file_io.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace kyr {

namespace fs = std::filesystem;

namespace {

std::string errnoText(int err) {
    if (err == 0) return "unknown error";
    return std::error_code(err, std::generic_category()).message();
}

fs::path folderOf(const fs::path& path) {
    fs::path dir = path.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

// A name in the target's folder that no file has yet.
fs::path temporaryName(const fs::path& path) {
    static unsigned counter = 0;
    std::error_code ec;
    for (;;) {
        fs::path tmp = path;
        tmp += "." + std::to_string(++counter) + ".kyrtmp";
        if (!fs::exists(tmp, ec)) return tmp;
    }
}

void removeQuietly(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

// Writes the bytes to a fresh temporary file; "" or the reason it failed.
std::string writeTemporary(const fs::path& path, std::span<const std::uint8_t> bytes,
                           fs::path& tmp) {
    std::error_code ec;
    const fs::path dir = folderOf(path);
    if (!fs::is_directory(dir, ec)) return "the folder " + dir.string() + " does not exist";
    tmp = temporaryName(path);
    errno = 0;
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) {
        const int err = errno;
        removeQuietly(tmp);
        return "cannot create a file in " + dir.string() + " (" + errnoText(err) + ")";
    }
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.flush();
    const bool written = static_cast<bool>(out);
    errno = 0;
    out.close();
    if (!written || out.fail()) {
        const int err = errno;
        removeQuietly(tmp);
        return "writing failed (" + (err != 0 ? errnoText(err) : std::string("disk full?")) + ")";
    }
    return {};
}

}  // namespace

std::string writeNewFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::error_code ec;
    if (fs::exists(path, ec)) return path.string() + " already exists";
    fs::path tmp;
    if (auto err = writeTemporary(path, bytes, tmp); !err.empty()) return err;

    // A hard link never replaces an existing name, so a file that appeared meanwhile is safe.
    fs::create_hard_link(tmp, path, ec);
    if (!ec) {
        removeQuietly(tmp);
        return {};
    }
    std::error_code existsEc;
    if (fs::exists(path, existsEc)) {
        removeQuietly(tmp);
        return path.string() + " already exists";
    }
    // File systems without hard links: test and rename.
    fs::rename(tmp, path, ec);
    if (ec) {
        removeQuietly(tmp);
        return "cannot create " + path.string() + " (" + ec.message() + ")";
    }
    return {};
}

std::string replaceFile(const fs::path& path, std::span<const std::uint8_t> bytes) {
    fs::path tmp;
    if (auto err = writeTemporary(path, bytes, tmp); !err.empty()) return err;
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        removeQuietly(tmp);
        return "cannot replace " + path.string() + " (" + ec.message() + ")";
    }
    return {};
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const fs::path& path,
                                                       std::uintmax_t maxBytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > maxBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    char buf[65536];
    while (in) {
        in.read(buf, sizeof buf);
        const auto got = in.gcount();
        if (got > 0) bytes.insert(bytes.end(), buf, buf + got);
        if (bytes.size() > maxBytes) return std::nullopt;  // grew while being read
    }
    if (in.bad()) return std::nullopt;
    return bytes;
}

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

std::string cutBeforeFirstDot(const std::string& name) {
    return name.substr(0, name.find('.'));
}

std::string cutBeforeFirstDotOfName(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return name.substr(0, name.find('.', start));
}

}  // namespace kyr
