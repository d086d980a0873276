#pragma once
#include <atomic>

#include "platform/job_thread.h"
#include "platform/manual_reset_event.h"

namespace chm {

// The base of every background job: one thread per Start, a pause gate and an abort flag.
class WorkerThread {
public:
    WorkerThread() = default;
    // Sets the abort flag and waits; a paused job must be resumed or aborted first.
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    virtual bool ClearAbortFlag();
    virtual void SetAbortFlag();
    virtual bool IsAbortFlagSet() const;
    virtual bool Abort();

    bool Start();
    void StopAndWait();
    void Pause() { run_event_.Reset(); }
    void Resume() { run_event_.Set(); }
    bool IsRunning() const { return thread_.IsAlive(); }
    bool IsAbortRequested() const { return IsAbortFlagSet(); }
    // True while the run operation executes (between the start and end hooks).
    bool IsRunFlagSet() const { return running_.load(); }
    // 0 when the last run returned true, 1 otherwise; meaningful once the thread ended.
    int ExitCode() const { return thread_.ExitCode(); }

protected:
    virtual bool Run() { return true; }
    virtual void OnStart() {}
    virtual void OnEnd(bool /*result*/) {}
    virtual void OnBeforeAbort() {}
    virtual void OnAfterAbort(bool /*result*/) {}

    // Derived jobs call this at their pause points: it blocks while the job is paused.
    void WaitWhilePaused() const { run_event_.Wait(); }
    const ManualResetEvent& RunEvent() const { return run_event_; }
    // Must be called first by the destructor of a derived job whose Run uses its members, so
    // that the thread has ended before those members go.
    void StopBeforeDestruction();

private:
    int ThreadMain();

    std::atomic<bool> abort_{false};
    JobThread thread_;
    ManualResetEvent run_event_{true};
    std::atomic<bool> running_{false};
};

}  // namespace chm
