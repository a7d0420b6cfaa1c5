// Times an Alpaca exposure end to end: from the client's startexposure to the whole
// ImageBytes array in the client, through kyr-alpaca against kyr-sim paced at the line's
// speed. The bound is the wire time of the exposure's bytes on the line (11 bits each, both
// directions, since every request waits for its answer), counted by running the same
// exposure through the camera layer in process against the same simulated device. The JSON
// array's cost (transfer and parsing in the client) is shown beside the ImageBytes one.
//
//   kyr-alpaca-timing [--baud N]       goal: ratio at most 1.02
#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "alpaca/e2e/process_rig.h"
#include "camera/camera.h"
#include "loopback_port.h"
#include "sim/sim_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

using kyr::bench::LoopbackPort;

struct Delivered : kyr::camera::CameraListener {
    std::vector<std::uint16_t> pixels;
    void imageReady(const kyr::camera::CameraImage& image) override { pixels = image.pixels; }
};

// The line's bytes of one exposure of a new image, and that image.
std::size_t exposureBytes(std::vector<std::uint16_t>& image) {
    kyr::sim::SimDevice device;
    device.takeScreenImage();
    LoopbackPort port(device);
    kyr::QuietUi ui;
    kyr::PlainReplyTimer timer;
    kyr::SystemClock clock;
    kyr::NoScheduler scheduler;
    kyr::Console con(port, ui, timer, clock, scheduler);
    kyr::camera::Camera camera(con, scheduler, clock);
    Delivered delivered;
    camera.setListener(&delivered);
    con.establishLink(1);
    port.pump();
    port.sent = port.received = 0;
    camera.expose(0);
    port.pump();
    image = delivered.pixels;
    return port.sent + port.received;
}

// Plain HTTP/1.1 on one kept-alive connection, blocking.
class Http {
  public:
    explicit Http(std::uint16_t port) : socket_(io_) {
        socket_.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        socket_.set_option(tcp::no_delay(true));
    }
    std::string request(const std::string& method, const std::string& target,
                        const std::string& form = "", const std::string& accept = "") {
        std::string r = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!accept.empty()) r += "Accept: " + accept + "\r\n";
        if (method == "PUT")
            r += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                 std::to_string(form.size()) + "\r\n";
        asio::write(socket_, asio::buffer(r + "\r\n" + form));
        const std::size_t head =
            asio::read_until(socket_, asio::dynamic_buffer(buffer_), "\r\n\r\n");
        std::string lower = buffer_.substr(0, head);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = lower.find("content-length:");
        const std::size_t length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 15));
        buffer_.erase(0, head);
        if (buffer_.size() < length)
            asio::read(socket_, asio::dynamic_buffer(buffer_),
                       asio::transfer_exactly(length - buffer_.size()));
        std::string body = buffer_.substr(0, length);
        buffer_.erase(0, length);
        return body;
    }
    nlohmann::json value(const std::string& member) {
        return nlohmann::json::parse(request("GET", "/api/v1/camera/0/" + member))["Value"];
    }

  private:
    asio::io_context io_;
    tcp::socket socket_;
    std::string buffer_;
};

// The pixels of an ImageBytes array (x the first dimension), row after row.
std::vector<std::uint16_t> rows(const std::string& b, int& width, int& height) {
    const auto le = [&b](std::size_t at, int size) {
        std::uint32_t v = 0;
        for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
        return v;
    };
    if (b.size() < 44 || le(24, 4) != 8) return {};
    width = static_cast<int>(le(32, 4));
    height = static_cast<int>(le(36, 4));
    if (b.size() != 44 + 2u * width * height) return {};
    std::vector<std::uint16_t> p(static_cast<std::size_t>(width) * height);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y)
            p[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint16_t>(
                le(44 + 2 * (static_cast<std::size_t>(x) * height + y), 2));
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    int baud = 115200;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--baud") == 0) baud = std::atoi(argv[i + 1]);

    kyr::test::SimProcess sim({"--baud", std::to_string(baud)});
    kyr::test::AlpacaProcess server(
        {"--line", sim.path(), "--listen", "127.0.0.1:0", "--baud", std::to_string(baud)});
    if (sim.path().empty() || server.port() == 0) {
        std::fprintf(stderr, "kyr-alpaca-timing: the simulator or the server did not start\n");
        return 1;
    }
    try {
        Http http(server.port());
        const auto connected = nlohmann::json::parse(
            http.request("PUT", "/api/v1/camera/0/connected", "Connected=true"));
        if (connected["ErrorNumber"] != 0) {
            std::fprintf(stderr, "kyr-alpaca-timing: %s\n", connected.dump().c_str());
            return 1;
        }
        sim.command("new-image");

        const auto start = Clock::now();
        http.request("PUT", "/api/v1/camera/0/startexposure", "Duration=0&Light=true");
        while (http.value("imageready") != true)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const auto ready = Clock::now();
        const std::string bytes =
            http.request("GET", "/api/v1/camera/0/imagearray", "", "application/imagebytes");
        const auto end = Clock::now();
        const std::string json = http.request("GET", "/api/v1/camera/0/imagearray");
        const auto jsonEnd = Clock::now();
        const auto parsed = nlohmann::json::parse(json);
        const auto parseEnd = Clock::now();

        std::vector<std::uint16_t> expected;
        const std::size_t lineBytes = exposureBytes(expected);
        int width = 0, height = 0;
        const bool exact = rows(bytes, width, height) == expected && !expected.empty() &&
                           parsed["Value"].size() == static_cast<std::size_t>(width);
        const double bound = 11.0 * static_cast<double>(lineBytes) / baud;
        const double elapsed = seconds(end - start);
        std::printf("Alpaca exposure to ImageBytes at %d baud: %dx%d, %s\n", baud, width, height,
                    exact ? "bit-exact" : "NOT the device's image");
        std::printf("  line bytes %zu, wire-time bound %.3f s\n", lineBytes, bound);
        std::printf("  startexposure to ImageBytes %.3f s, ratio %.4f (goal <= 1.02)\n", elapsed,
                    elapsed / bound);
        std::printf("  ImageBytes: %zu bytes in %.1f ms after ImageReady\n", bytes.size(),
                    1000 * seconds(end - ready));
        std::printf("  JSON:       %zu bytes in %.1f ms, parsed by the client in %.1f ms\n",
                    json.size(), 1000 * seconds(jsonEnd - end), 1000 * seconds(parseEnd - jsonEnd));
        return exact ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kyr-alpaca-timing: %s\n", e.what());
        return 1;
    }
}
