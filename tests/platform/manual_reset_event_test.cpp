#include "platform/manual_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/job_thread.h"
#include "platform/tick.h"

namespace chm {
namespace {

TEST(ManualResetEventTest, StaysSignalledUntilReset) {
    ManualResetEvent event(true);
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_TRUE(event.WaitFor(0));
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(10));
}

TEST(ManualResetEventTest, SetReleasesEveryWaiter) {
    ManualResetEvent event;
    std::atomic<int> released{0};
    std::thread a([&] { event.Wait(); ++released; });
    std::thread b([&] { event.Wait(); ++released; });
    SleepMs(20);
    EXPECT_EQ(released, 0);
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(released, 2);
}

TEST(JobThreadTest, KeepsTheExitCodeAfterTheEnd) {
    JobThread thread;
    ASSERT_TRUE(thread.Start([] { return 7; }));
    EXPECT_FALSE(thread.Start([] { return 8; }));  // one thread at a time
    thread.Join();
    EXPECT_FALSE(thread.Exists());
    EXPECT_EQ(thread.ExitCode(), 7);
}

TEST(TickTest, SleepAdvancesTheTick) {
    const uint32_t start = TickCount();
    SleepMs(30);
    EXPECT_GE(TickCount() - start, 30u);
}

}  // namespace
}  // namespace chm
