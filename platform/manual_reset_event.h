#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace chm {

// An event that stays signalled until it is reset: the pause gate of background jobs.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    void Wait() const;
    // True when the event was signalled within the time-out.
    bool WaitFor(uint32_t milliseconds) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool signalled_;
};

}  // namespace chm
