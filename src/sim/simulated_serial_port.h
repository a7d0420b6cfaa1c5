#pragma once
// A serial port whose far end is a SimDevice in the same process: no OS resource, fully
// deterministic. Writes go straight to the device; its answers wait in a queue until the
// test delivers them, one receive event per piece.

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "link/basic_serial_port.h"
#include "sim/sim_device.h"

namespace kyr::sim {

class SimulatedSerialPort : public BasicSerialPort {
  public:
    explicit SimulatedSerialPort(SimDevice& device) : device_(device) {}

    // Ports that exist (COM1 by default); opening another throws SerialError.
    std::set<int> availablePorts{1};

    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    std::vector<std::uint8_t> input() override;
    void output(std::span<const std::uint8_t> bytes) override;

    // Delivers the next piece of the device's answers and raises the receive event;
    // false when nothing is waiting.
    bool deliverNext();
    // Delivers until nothing is waiting (answers to answers included), at most `limit`
    // pieces; returns how many were delivered.
    int deliverPending(int limit = 1000000);
    bool hasPending();
    // The line goes away: the port closes and a lost-device event is raised.
    void loseDevice();

    SimDevice& device() { return device_; }
    // Every write of the console, in order.
    std::vector<std::vector<std::uint8_t>> writes;

  private:
    void collect();

    SimDevice& device_;
    bool open_ = false;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::vector<std::uint8_t> pending_;
};

}  // namespace kyr::sim
