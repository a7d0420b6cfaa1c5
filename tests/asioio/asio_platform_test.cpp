// The reply timer and deferred calls on the event loop: ticks while enabled, deferred calls
// in the order they fall due, nothing from a timer or scheduler that has gone.
#include "asioio/asio_platform.h"

#include <gtest/gtest.h>

#include <string>

namespace kyr {
namespace {

TEST(AsioPlatformTest, TheReplyTimerTicksUntilStoppedAndNothingComesAfter) {
    asio::io_context io;
    AsioReplyTimer timer(io);
    int ticks = 0;
    timer.setCallback([&] {
        if (++ticks == 3) timer.setEnabled(false);
    });
    timer.setInterval(0);  // at least a millisecond
    EXPECT_EQ(timer.interval(), 1);
    timer.setEnabled(true);
    io.run();  // ends when nothing is left to wait for: the timer stopped itself
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer.enabled());

    // A new interval on a running timer counts from the change; a timer that goes ticks no
    // more.
    auto gone = std::make_unique<AsioReplyTimer>(io);
    bool ticked = false;
    gone->setCallback([&] { ticked = true; });
    gone->setEnabled(true);
    gone->setInterval(5);
    gone.reset();
    io.restart();
    io.run();
    EXPECT_FALSE(ticked);
}

TEST(AsioPlatformTest, DeferredCallsComeWhenDueAndNotAfterTheSchedulerHasGone) {
    asio::io_context io;
    std::string order;
    {
        AsioScheduler scheduler(io);
        scheduler.callLater(30, [&] { order += "c"; });
        scheduler.callLater(-5, [&] {
            order += "a";
            scheduler.callLater(0, [&] { order += "b"; });
        });
        EXPECT_EQ(scheduler.pending(), 2u);
        io.run();
        EXPECT_EQ(scheduler.pending(), 0u);
        scheduler.callLater(0, [&] { order += "x"; });
    }
    io.restart();
    io.run();
    EXPECT_EQ(order, "abc");
}

}  // namespace
}  // namespace kyr
