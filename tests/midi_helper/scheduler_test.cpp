#include <gtest/gtest.h>

#include <vector>

#include "midi_helper/manual_scheduler.h"

namespace norv {
namespace {

TEST(PeriodicTimer, KeepsItsRateOnABusyLoopAndSkipsRunsItMissedEntirely)
{
    ManualScheduler clock(0);
    PeriodicTimer timer(clock);
    std::vector<uint64_t> runs;
    timer.start(1000, 250, [&] { runs.push_back(clock.nowNs()); });
    clock.setTimerLateness(40);
    clock.advance(1800);
    // Due at 1000, 1250, 1500, 1750; each ran 40 late without moving the ones after it.
    EXPECT_EQ(runs, (std::vector<uint64_t>{1040, 1290, 1540, 1790}));

    // A loop stalled for over two periods runs once, then keeps the old phase.
    runs.clear();
    clock.setTimerLateness(600);
    clock.advance(800); // the run due at 2000 comes at 2600
    clock.setTimerLateness(0);
    clock.advance(400);
    EXPECT_EQ(runs, (std::vector<uint64_t>{2600, 2750, 3000}));
}

} // namespace
} // namespace norv
