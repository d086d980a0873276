#include "engine/worker_thread.h"

namespace chm {

WorkerThread::~WorkerThread() { StopBeforeDestruction(); }

void WorkerThread::StopBeforeDestruction() {
    if (!thread_.Exists()) return;
    abort_ = true;
    thread_.Join();
}

bool WorkerThread::ClearAbortFlag() {
    abort_ = false;
    return true;
}

void WorkerThread::SetAbortFlag() { abort_ = true; }

bool WorkerThread::IsAbortFlagSet() const { return abort_.load(); }

bool WorkerThread::Abort() {
    OnBeforeAbort();
    // The flag goes up before a paused job wakes: woken first, the job could pass its next
    // check before the flag was set and carry on as if nobody had asked it to stop.
    const bool result = thread_.Exists();
    if (result) SetAbortFlag();
    if (!run_event_.IsSet()) run_event_.Set();
    OnAfterAbort(result);
    return result;
}

bool WorkerThread::Start() {
    if (thread_.Exists()) {
        Abort();
        thread_.Join();
    }
    ClearAbortFlag();
    return thread_.Start([this] { return ThreadMain(); });
}

void WorkerThread::StopAndWait() {
    if (Abort()) thread_.Join();
}

int WorkerThread::ThreadMain() {
    OnStart();
    running_ = true;
    const bool result = Run();
    running_ = false;
    OnEnd(result);
    return result ? 0 : 1;
}

}  // namespace chm
