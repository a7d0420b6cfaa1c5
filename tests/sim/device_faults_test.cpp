#include <gtest/gtest.h>

#include "sim/sim_device.h"
#include "sim/simulated_serial_port.h"
#include "sim_test_util.h"

namespace kyr::sim::test {
namespace {

SimOptions faulty(std::uint64_t seed) {
    SimOptions o;
    o.seed = seed;
    o.faults.junkRate = 0.3;
    o.faults.corruptRate = 0.25;
    o.faults.dropRate = 0.25;
    o.faults.split = true;
    return o;
}

// A session of header and row requests and keys; returns every piece the line delivered.
std::vector<Bytes> session(SimDevice& d) {
    std::vector<Bytes> pieces;
    const auto run = [&](const Bytes& req) {
        d.receive(req);
        for (auto& c : d.takeChunks()) pieces.push_back(c);
    };
    run(linkRequest(1));
    run(headerRequest(31));
    for (int r = 0; r < 40; ++r) run(rowRequest(r, 0, 320, 31));
    run(keyPress(keys::Parameter));
    return pieces;
}

TEST(SimFaults, SameSeedSameFaults) {
    SimDevice a(faulty(11)), b(faulty(11)), c(faulty(12));
    const auto pa = session(a), pb = session(b), pc = session(c);
    EXPECT_EQ(pa, pb);
    EXPECT_NE(pa, pc);
    EXPECT_GT(a.stats().answersDropped, 0);
    EXPECT_GT(a.stats().answersCorrupted, 0);
    EXPECT_GT(a.stats().junkBursts, 0);
    for (const auto& p : pa) {
        EXPECT_GE(p.size(), 1u);
        EXPECT_LE(p.size(), 16u);
    }
}

TEST(SimFaults, WhatFaultsTouchAndWhatTheyLeaveAlone) {
    SimDevice d(faulty(3));
    int junk = 0;
    int lostOrBad = 0, good = 0, maxRun = 0, run = 0;
    for (int i = 0; i < 300; ++i) {
        const Bytes req = rowRequest(i % 200, 0, 320, 31);
        const auto frames = splitFrames(d.onHostBytes(req), &junk);
        // Junk never holds a start byte, so it can never swallow the real packet.
        ASSERT_LE(frames.size(), 1u);
        if (frames.empty() || !frames[0].checksumOk) {
            ++lostOrBad;
            maxRun = std::max(maxRun, ++run);
        } else {
            ++good;
            run = 0;
        }
    }
    EXPECT_GT(lostOrBad, 50);
    EXPECT_GT(good, 100);
    // Never more than two faulted answers in a row: the console's three repeats get through.
    EXPECT_EQ(maxRun, 2);

    // Panel answers, buffer reports and device events are never dropped or corrupted.
    for (int i = 0; i < 100; ++i) {
        auto frames = splitFrames(d.onHostBytes(keyPress(keys::Focus)));
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_TRUE(frames[1].checksumOk);
        frames = splitFrames(d.onHostBytes(packet(3)));
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_TRUE(frames[0].checksumOk);
    }
}

TEST(SimFaults, SimulatedPortDeliversPiecesInOrder) {
    SimOptions o;
    o.faults.split = true;
    SimDevice d(o);
    SimDevice reference;
    SimulatedSerialPort port(d);
    std::vector<Bytes> received;
    port.setOnComm([&] {
        EXPECT_EQ(port.commEvent(), kCommEventReceive);
        received.push_back(port.input());
    });
    port.setCommPort(2);
    EXPECT_THROW(port.setPortOpen(true), SerialError);
    EXPECT_THROW(port.setSettings("fast"), SerialError);
    port.setCommPort(1);
    port.setSettings("115200,N,8,2");
    port.setPortOpen(true);

    port.output(linkRequest(1));
    EXPECT_EQ(port.writes, std::vector<Bytes>{linkRequest(1)});
    EXPECT_TRUE(received.empty());  // nothing arrives until the test delivers it
    EXPECT_TRUE(port.hasPending());
    EXPECT_GT(port.deliverPending(), 3);
    Bytes all;
    for (const auto& r : received) {
        EXPECT_LE(r.size(), 16u);
        all.insert(all.end(), r.begin(), r.end());
    }
    EXPECT_EQ(all, reference.onHostBytes(linkRequest(1)));
    EXPECT_FALSE(port.deliverNext());

    // Closing the port loses what was not delivered; a closed port sends nothing.
    port.output(keyPress(keys::Focus));
    port.setPortOpen(false);
    EXPECT_FALSE(port.hasPending());
    port.output(keyPress(keys::Image));
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(d.stats().keys.size(), 1u);

    // Answers to device events queue like any other.
    port.setPortOpen(true);
    d.setFaults({});
    d.requestLink();
    received.clear();
    EXPECT_EQ(port.deliverPending(), 1);
    EXPECT_EQ(received, (std::vector<Bytes>{{165, 255, 0, 0, 164, 1}}));
    port.setOnComm({});
    port.loseDevice();
    EXPECT_FALSE(port.portOpen());
    EXPECT_EQ(port.commEvent(), kCommEventDeviceLost);
}

}  // namespace
}  // namespace kyr::sim::test
