// The reply timer and deferred calls on the event loop.
#include "asioio/asio_platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kyr {
namespace {

TEST(AsioPlatformTest, TicksUntilStoppedCallsWhenDueAndNothingFromWhatHasGone) {
    asio::io_context io;
    auto timer = std::make_unique<AsioReplyTimer>(io);
    auto scheduler = std::make_unique<AsioScheduler>(io);
    int ticks = 0;
    std::string order;
    timer->setCallback([&] {
        if (++ticks == 3) timer->setEnabled(false);
    });
    timer->setInterval(0);  // at least a millisecond
    timer->setEnabled(true);
    scheduler->callLater(30, [&] { order += "c"; });
    scheduler->callLater(-5, [&] {
        order += "a";
        scheduler->callLater(0, [&] { order += "b"; });
    });
    io.run();  // ends once nothing is left to wait for: the timer stopped itself
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(timer->interval(), 1);
    EXPECT_EQ(order, "abc");

    timer->setEnabled(true);
    scheduler->callLater(0, [&] { order += "x"; });
    timer.reset();
    scheduler.reset();
    io.restart();
    io.run();
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(order, "abc");
}

}  // namespace
}  // namespace kyr
