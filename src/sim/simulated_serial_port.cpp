#include "sim/simulated_serial_port.h"

#include "link/line_settings.h"

namespace kyr::sim {

void SimulatedSerialPort::setPortOpen(bool open) {
    if (open == open_) {
        if (open) throw SerialError("port already open");
        return;
    }
    if (open && !availablePorts.count(commPort())) throw SerialError("no such port");
    open_ = open;
    // Whatever the device sent while nobody listened is lost, as on a real line.
    device_.takeOutput();
    queue_.clear();
    pending_.clear();
}

std::vector<std::uint8_t> SimulatedSerialPort::input() {
    std::vector<std::uint8_t> b;
    b.swap(pending_);
    return b;
}

void SimulatedSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (!open_) return;  // like a real port: nothing leaves a closed port
    writes.emplace_back(bytes.begin(), bytes.end());
    device_.receive(bytes);
}

void SimulatedSerialPort::collect() {
    if (!open_) {
        device_.takeOutput();
        return;
    }
    for (auto& c : device_.takeChunks()) queue_.push_back(std::move(c));
}

bool SimulatedSerialPort::hasPending() {
    collect();
    return !queue_.empty();
}

bool SimulatedSerialPort::deliverNext() {
    collect();
    if (queue_.empty()) return false;
    auto& chunk = queue_.front();
    pending_.insert(pending_.end(), chunk.begin(), chunk.end());
    queue_.pop_front();
    raise(kCommEventReceive);
    return true;
}

int SimulatedSerialPort::deliverPending(int limit) {
    int n = 0;
    while (n < limit && deliverNext()) ++n;
    return n;
}

void SimulatedSerialPort::loseDevice() {
    open_ = false;
    queue_.clear();
    pending_.clear();
    raise(kCommEventDeviceLost);
}

}  // namespace kyr::sim
