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
    if (!run_event_.IsSet()) run_event_.Set();
    bool result = false;
    if (thread_.Exists()) {
        SetAbortFlag();
        result = true;
    }
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
