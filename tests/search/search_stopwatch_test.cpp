// The stopwatch that throttles the search's progress messages.
#include "search/search_stopwatch.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/tick.h"

namespace chm {
namespace {

class SearchStopwatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The tick counter reads 0 only in its first millisecond after a wrap.
        while (TickCount() == 0) SleepMs(1);
        watch_.Start();
    }
    SearchStopwatch watch_;
};

TEST_F(SearchStopwatchTest, StartTakesNowAndRuns) {
    const uint32_t before = TickCount();
    watch_.Start();
    EXPECT_LE(watch_.StartTick() - before, 1000u);
    EXPECT_EQ(watch_.StopTick(), 0u);
}

TEST_F(SearchStopwatchTest, ElapsedWhileRunningCountsToNow) {
    EXPECT_EQ(watch_.ElapsedAt(watch_.StartTick() + 150), 150u);
    EXPECT_EQ(watch_.ElapsedAt(watch_.StartTick()), 0u);
}

TEST_F(SearchStopwatchTest, ClockEarlierThanTheStartCountsAsLongElapsed) {
    EXPECT_EQ(watch_.ElapsedAt(watch_.StartTick() - 1), std::numeric_limits<uint32_t>::max());
}

TEST_F(SearchStopwatchTest, StopFreezesTheElapsedTime) {
    SleepMs(5);
    watch_.Stop();
    const uint32_t stop = watch_.StopTick();
    ASSERT_NE(stop, 0u);
    const uint32_t elapsed = stop - watch_.StartTick();
    EXPECT_GE(elapsed, 5u);
    EXPECT_EQ(watch_.ElapsedAt(stop + 100000), elapsed);
    EXPECT_EQ(watch_.Elapsed(), elapsed);
}

TEST_F(SearchStopwatchTest, SecondStopKeepsTheFirstStopTick) {
    watch_.Stop();
    const uint32_t first = watch_.StopTick();
    SleepMs(5);
    watch_.Stop();
    EXPECT_EQ(watch_.StopTick(), first);
}

TEST_F(SearchStopwatchTest, RestartClearsTheStopAndRunsAgain) {
    SleepMs(5);
    watch_.Stop();
    const uint32_t old_start = watch_.StartTick();
    watch_.Restart();
    EXPECT_EQ(watch_.StopTick(), 0u);
    EXPECT_GE(watch_.StartTick() - old_start, 5u);
    EXPECT_EQ(watch_.ElapsedAt(watch_.StartTick() + 7), 7u);
}

}  // namespace
}  // namespace chm
