#pragma once
// The console's line straight into a simulated device, counting the bytes each way: the
// benches' wire-time bound without a line's pacing.

#include <cstdint>
#include <span>
#include <vector>

#include "link/basic_serial_port.h"
#include "sim/sim_device.h"

namespace kyr::bench {

class LoopbackPort : public kyr::BasicSerialPort {
  public:
    explicit LoopbackPort(kyr::sim::SimDevice& device) : device_(device) {}
    std::size_t sent = 0, received = 0;

    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    std::vector<std::uint8_t> input() override {
        std::vector<std::uint8_t> b;
        b.swap(pending_);
        received += b.size();
        return b;
    }
    void output(std::span<const std::uint8_t> bytes) override {
        sent += bytes.size();
        const auto answer = device_.onHostBytes(bytes);
        pending_.insert(pending_.end(), answer.begin(), answer.end());
    }
    // Delivers answers (and the answers to what the console sends back) until none is left.
    void pump() {
        while (!pending_.empty()) raise(kyr::kCommEventReceive);
    }

  private:
    kyr::sim::SimDevice& device_;
    std::vector<std::uint8_t> pending_;
    bool open_ = false;
};

}  // namespace kyr::bench
