#pragma once
// A Console wired to the fakes, started up on COM1.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "fakes/fakes.h"
#include "link/packet.h"

namespace kyr::test {

inline Bytes packet(std::uint8_t type, const Bytes& payload = {}) { return buildPacket(type, payload); }

inline Bytes displayPayload(const std::string& text48) {
    Bytes b(text48.begin(), text48.end());
    return b;
}

class ConsoleTest : public ::testing::Test {
protected:
    FakeSerialPort port;
    FakeUi ui;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    Console con{port, ui, timer, clock, scheduler};

    void startLinked() {
        con.start();
        port.receive({165, 6, 0, 0, 171, 0});
        port.writes.clear();
    }
};

}  // namespace kyr::test
