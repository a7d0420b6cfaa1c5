#include "link/port_map.h"

#include <charconv>

namespace kyr {

std::string PortMap::platformPath(int n) {
#if defined(_WIN32)
    return "COM" + std::to_string(n);
#else
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

std::string PortMap::addMapping(const std::string& option) {
    const auto eq = option.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= option.size())
        return "expected n=PATH, got \"" + option + "\"";
    std::string num = option.substr(0, eq);
    if (num.size() > 3 && (num.rfind("COM", 0) == 0 || num.rfind("com", 0) == 0)) num = num.substr(3);
    int n = 0;
    auto [ptr, ec] = std::from_chars(num.data(), num.data() + num.size(), n);
    if (ec != std::errc{} || ptr != num.data() + num.size() || n < 1 || n > 255)
        return "bad port number in \"" + option + "\"";
    const std::string path = option.substr(eq + 1);
    if (isNetworkPath(path) && !parseTcpAddress(path))
        return "expected " + path.substr(0, path.find(':')) + "://host:port, got \"" + path + "\"";
    mapped_[n] = path;
    return "";
}

std::string PortMap::pathFor(int n) const {
    auto it = mapped_.find(n);
    return it != mapped_.end() ? it->second : platformPath(n);
}

namespace {
constexpr const char* kTcpPrefix = "tcp://";
constexpr const char* kRfc2217Prefix = "rfc2217://";
}  // namespace

bool isNetworkPath(const std::string& path) {
    return path.rfind(kTcpPrefix, 0) == 0 || path.rfind(kRfc2217Prefix, 0) == 0;
}

std::optional<TcpAddress> parseTcpAddress(const std::string& path) {
    if (!isNetworkPath(path)) return std::nullopt;
    TcpAddress a;
    a.rfc2217 = path.rfind(kRfc2217Prefix, 0) == 0;
    const std::string rest = path.substr(path.find("://") + 3);
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    a.host = rest.substr(0, colon);
    if (a.host.size() >= 2 && a.host.front() == '[' && a.host.back() == ']')
        a.host = a.host.substr(1, a.host.size() - 2);
    const std::string port = rest.substr(colon + 1);
    auto [ptr, ec] = std::from_chars(port.data(), port.data() + port.size(), a.port);
    if (ec != std::errc{} || ptr != port.data() + port.size() || a.port < 1 || a.port > 65535)
        return std::nullopt;
    return a;
}

}  // namespace kyr
