#include "engine/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/tick.h"

namespace chm {
namespace {

// A job that counts its loops until aborted, honouring the pause gate at every loop.
class LoopingJob : public WorkerThread {
public:
    ~LoopingJob() override { StopBeforeDestruction(); }
    std::atomic<int> loops{0};
    std::atomic<int> starts{0};
    std::atomic<int> ends{0};
    std::atomic<bool> result{true};

protected:
    void OnStart() override { ++starts; }
    void OnEnd(bool) override { ++ends; }
    bool Run() override {
        while (!IsAbortRequested()) {
            WaitWhilePaused();
            ++loops;
            SleepMs(1);
        }
        return result;
    }
};

class OneShotJob : public WorkerThread {
public:
    explicit OneShotJob(bool result) : result_(result) {}
    ~OneShotJob() override { StopBeforeDestruction(); }

protected:
    bool Run() override { return result_; }

private:
    bool result_;
};

// Waits up to ten seconds for a condition: generous for a loaded machine.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 10000; ++i) {
        if (condition()) return true;
        SleepMs(1);
    }
    return condition();
}

TEST(WorkerThreadTest, ExitCodeTellsTheRunResult) {
    OneShotJob good(true);
    ASSERT_TRUE(good.Start());
    good.StopAndWait();
    EXPECT_FALSE(good.IsRunning());
    EXPECT_EQ(good.ExitCode(), 0);

    OneShotJob bad(false);
    ASSERT_TRUE(bad.Start());
    ASSERT_TRUE(Eventually([&] { return !bad.IsRunning(); }));
    EXPECT_EQ(bad.ExitCode(), 1);
}

TEST(WorkerThreadTest, AbortStopsARunningJob) {
    LoopingJob job;
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(Eventually([&] { return job.loops > 0; }));
    EXPECT_TRUE(job.IsRunning());
    job.StopAndWait();
    EXPECT_FALSE(job.IsRunning());
    EXPECT_EQ(job.starts, 1);
    EXPECT_EQ(job.ends, 1);
}

TEST(WorkerThreadTest, PauseHoldsTheJobAndResumeReleasesIt) {
    LoopingJob job;
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(Eventually([&] { return job.loops > 0; }));
    job.Pause();
    SleepMs(50);  // let the loop reach the gate
    const int held = job.loops;
    SleepMs(100);
    EXPECT_LE(job.loops, held + 1);
    EXPECT_TRUE(job.IsRunning());
    job.Resume();
    ASSERT_TRUE(Eventually([&] { return job.loops > held + 1; }));
    job.StopAndWait();
}

TEST(WorkerThreadTest, AbortWakesAPausedJob) {
    LoopingJob job;
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(Eventually([&] { return job.loops > 0; }));
    job.Pause();
    EXPECT_TRUE(job.Abort());
    ASSERT_TRUE(Eventually([&] { return !job.IsRunning(); }));
    job.StopAndWait();
}

// A job that pauses itself once and tells, after the gate opens, whether it saw the abort.
class PausedOnceJob : public WorkerThread {
public:
    ~PausedOnceJob() override { StopBeforeDestruction(); }
    std::atomic<bool> waiting{false};
    std::atomic<bool> saw_abort{false};

protected:
    bool Run() override {
        Pause();
        waiting = true;
        WaitWhilePaused();
        saw_abort = IsAbortRequested();
        return true;
    }
};

// The window between waking the job and raising the flag is short: many tries make a lost
// abort show up on a two-core machine.
TEST(WorkerThreadTest, APausedJobWokenByAbortAlwaysSeesTheAbort) {
    int lost = 0;
    for (int i = 0; i < 300; ++i) {
        PausedOnceJob job;
        ASSERT_TRUE(job.Start());
        ASSERT_TRUE(Eventually([&] { return job.waiting.load(); }));
        EXPECT_TRUE(job.Abort());
        job.StopAndWait();
        if (!job.saw_abort) ++lost;
    }
    EXPECT_EQ(lost, 0);
}

TEST(WorkerThreadTest, AbortWithoutThreadReturnsFalseButOpensTheGate) {
    LoopingJob job;
    job.Pause();
    EXPECT_FALSE(job.Abort());
    EXPECT_FALSE(job.IsAbortRequested());
    // The gate is open again: a new run goes ahead at once.
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(Eventually([&] { return job.loops > 0; }));
    job.StopAndWait();
}

TEST(WorkerThreadTest, StartAgainReplacesTheEarlierThread) {
    LoopingJob job;
    ASSERT_TRUE(job.Start());
    ASSERT_TRUE(Eventually([&] { return job.loops > 0; }));
    ASSERT_TRUE(job.Start());
    EXPECT_FALSE(job.IsAbortRequested());
    ASSERT_TRUE(Eventually([&] { return job.starts == 2; }));
    EXPECT_EQ(job.ends, 1);
    job.StopAndWait();
    EXPECT_EQ(job.ends, 2);
}

// A job that aborts itself at once: its thread must already count as existing.
class SelfAbortingJob : public WorkerThread {
public:
    ~SelfAbortingJob() override { StopBeforeDestruction(); }
    std::atomic<bool> aborted{false};

protected:
    bool Run() override {
        aborted = Abort() && IsAbortRequested();
        return true;
    }
};

TEST(WorkerThreadTest, AJobCanAbortItselfFromItsFirstInstruction) {
    for (int i = 0; i < 200; ++i) {
        SelfAbortingJob job;
        ASSERT_TRUE(job.Start());
        job.StopAndWait();
        ASSERT_TRUE(job.aborted) << "run " << i;
    }
}

TEST(WorkerThreadTest, DestructionStopsARunningJob) {
    auto job = std::make_unique<LoopingJob>();
    ASSERT_TRUE(job->Start());
    ASSERT_TRUE(Eventually([&] { return job->loops > 0; }));
    job.reset();  // must not hang nor leave the thread running
    SUCCEED();
}

}  // namespace
}  // namespace chm
