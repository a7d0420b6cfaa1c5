#pragma once
// Where COMn leads on this machine: the platform's own port, or what the user mapped
// with --com n=PATH (a device path, tcp://host:port or rfc2217://host:port). Messages keep
// the COMn names.

#include <map>
#include <optional>
#include <string>

namespace kyr {

class PortMap {
public:
    // The platform's port for COMn: "COMn" on Windows, /dev/ttyS<n-1> on Linux.
    static std::string platformPath(int n);

    // Parses "n=PATH" and records it; returns an error text, or "" when accepted.
    std::string addMapping(const std::string& option);
    void map(int n, const std::string& path) { mapped_[n] = path; }
    std::string pathFor(int n) const;
    bool isMapped(int n) const { return mapped_.count(n) != 0; }

private:
    std::map<int, std::string> mapped_;
};

struct TcpAddress {
    std::string host;
    int port = 0;
    bool rfc2217 = false;  // telnet with COM-PORT-OPTION rather than raw bytes
};
// "tcp://host:port" (raw) or "rfc2217://host:port" -> host and port; nullopt for any other
// text.
std::optional<TcpAddress> parseTcpAddress(const std::string& path);
// The path names a network port (tcp:// or rfc2217://), well formed or not.
bool isNetworkPath(const std::string& path);

}  // namespace kyr
