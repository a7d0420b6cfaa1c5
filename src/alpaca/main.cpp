// kyr-alpaca: the KYR as an ASCOM Alpaca camera for imaging programs on the network.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>

#include <asio/io_context.hpp>
#include <asio/ip/host_name.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include "alpaca/alpaca_server.h"
#include "alpaca/discovery.h"
#include "alpaca/kyr_camera_device.h"
#include "common/version.h"
#include "link/speed_table.h"

namespace {

constexpr const char* kProgram = "kyr-alpaca";

void usage(std::FILE* f) {
    std::fputs(
        "Usage: kyr-alpaca --line PORT [--baud N] [--listen ADDR:PORT] [--discovery]\n"
        "  or:  kyr-alpaca --help | --version\n"
        "\n"
        "Serves the KYR as camera 0 of an ASCOM Alpaca device, for imaging programs that\n"
        "reach cameras through ASCOM Alpaca (HTTP/JSON). The line opens when a program\n"
        "connects the camera and closes when it disconnects. The first line printed is\n"
        "\"listening ADDR:PORT\". The server ends on SIGINT or SIGTERM.\n"
        "\n"
        "Options:\n"
        "  --line PORT         the KYR's line: a serial device (/dev/ttyUSB0, COM3),\n"
        "                      tcp://HOST:PORT (raw) or rfc2217://HOST:PORT (telnet)\n"
        "  --baud N            the line's speed: 115200 (the default), 57600, 38400, 19200\n"
        "                      or 9600\n"
        "  --listen ADDR:PORT  where the programs connect (default 127.0.0.1:11111: this\n"
        "                      computer only; 0.0.0.0:11111 opens it to the network);\n"
        "                      port 0 picks a free port\n"
        "  --discovery         answer Alpaca discovery on UDP port 32227, so that programs\n"
        "                      find the camera by themselves\n"
        "  --help              show this help and exit\n"
        "  --version           show the version and exit\n",
        f);
}

struct Listen {
    std::string address = "127.0.0.1";
    unsigned short port = 11111;
};

// "ADDR:PORT" or "[IPv6]:PORT", the address a numeric one.
std::optional<Listen> parseListen(const std::string& text) {
    std::string host, port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos) return std::nullopt;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) return std::nullopt;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    std::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    char* end = nullptr;
    const long n = std::strtol(port.c_str(), &end, 10);
    if (ec || port.empty() || *end != '\0' || n < 0 || n > 65535) return std::nullopt;
    return Listen{address.to_string(), static_cast<unsigned short>(n)};
}

std::string endpointText(const asio::ip::tcp::endpoint& e) {
    const std::string a = e.address().to_string();
    return (e.address().is_v6() ? "[" + a + "]" : a) + ":" + std::to_string(e.port());
}

int usageError(const std::string& why) {
    std::fprintf(stderr, "%s: %s (try --help)\n", kProgram, why.c_str());
    return 2;
}

void note(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kyr;
    std::optional<std::string> line;
    int baudCode = 1;
    Listen listen;
    bool discovery = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool takesValue = a == "--line" || a == "--baud" || a == "--listen";
        if (takesValue && i + 1 >= argc) return usageError(a + " needs a value");
        const std::string value = takesValue ? argv[++i] : "";
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--version") {
            std::fputs(versionText(kProgram).c_str(), stdout);
            return 0;
        } else if (a == "--line") {
            if (value.empty()) return usageError("--line needs a device path or address");
            line = value;
        } else if (a == "--baud") {
            char* end = nullptr;
            const long rate = std::strtol(value.c_str(), &end, 10);
            baudCode = *end == '\0' ? baudCodeForRate(rate) : 0;
            if (baudCode == 0)
                return usageError(
                    "the KYR's line runs at 115200, 57600, 38400, 19200 or 9600 "
                    "baud, not " +
                    value);
        } else if (a == "--listen") {
            const auto l = parseListen(value);
            if (!l)
                return usageError(
                    "--listen needs ADDR:PORT such as 127.0.0.1:11111 or "
                    "0.0.0.0:11111, not " +
                    value);
            listen = *l;
        } else if (a == "--discovery") {
            discovery = true;
        } else {
            return usageError("unknown option " + a);
        }
    }
    if (!line) return usageError("--line PORT is missing: where is the KYR?");

    asio::io_context io(1);
    alpaca::KyrCameraDevice camera(io, {*line, baudCode}, note);

    alpaca::AlpacaServerOptions options;
    options.address = listen.address;
    options.port = listen.port;
    options.description.manufacturerVersion = projectVersion();
    options.description.uniqueId = alpaca::stableUniqueId(asio::ip::host_name(), *line);
    std::optional<alpaca::AlpacaServer> server;
    try {
        server.emplace(io, camera, options);
    } catch (const std::system_error& e) {
        note("cannot listen on " + listen.address + ":" + std::to_string(listen.port) + ": " +
             e.code().message());
        return 1;
    }
    const auto at = server->endpoint();

    std::optional<alpaca::AlpacaDiscovery> discoverer;
    if (discovery) {
        // Discovery would lead other computers to a port they cannot reach: while the server
        // listens on loopback only, it answers this computer's programs only.
        const bool loopback = at.address().is_loopback();
        if (loopback)
            note("discovery answers programs on this computer only, as the server listens on " +
                 at.address().to_string() + "; --listen 0.0.0.0:" + std::to_string(at.port()) +
                 " opens both to the network");
        try {
            discoverer.emplace(io, at.port(), alpaca::AlpacaDiscovery::kDefaultPort,
                               loopback ? "127.0.0.1" : "0.0.0.0");
        } catch (const std::system_error& e) {
            note("cannot answer discovery on UDP port " +
                 std::to_string(alpaca::AlpacaDiscovery::kDefaultPort) + ": " + e.code().message());
            return 1;
        }
    }

    // Said once everything answers: whoever reads it may ask at once.
    std::printf("listening %s\n", endpointText(at).c_str());
    std::fflush(stdout);

    // On SIGINT or SIGTERM: no new requests, the link-off request to the KYR, then the end
    // once the line has taken it.
    asio::signal_set signals(io, SIGINT, SIGTERM);
    asio::steady_timer last(io);
    signals.async_wait([&](const std::error_code& ec, int) {
        if (ec) return;
        server.reset();
        discoverer.reset();
        camera.disconnect([](alpaca::AlpacaResult) {});
        last.expires_after(std::chrono::milliseconds(300));
        last.async_wait([&io](const std::error_code& e) {
            if (!e) io.stop();
        });
    });
    io.run();
    return 0;
}
