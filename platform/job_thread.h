#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace chm {

// A thread that runs one function and keeps its exit code after it ends, until joined.
class JobThread {
public:
    JobThread() = default;
    ~JobThread();
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    // False when a thread already exists or the system refuses a new one.
    bool Start(std::function<int()> body);
    // Waits without time-out; afterwards no thread exists.
    void Join();
    bool Exists() const { return thread_.joinable(); }
    bool IsAlive() const { return thread_.joinable() && !state_->finished.load(); }
    // The body's result; only meaningful once the thread has finished.
    int ExitCode() const { return state_->exit_code.load(); }

private:
    struct State {
        // Set once the thread object is in place, so that the body may look at it.
        std::atomic<bool> launched{false};
        std::atomic<bool> finished{false};
        std::atomic<int> exit_code{0};
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

}  // namespace chm
