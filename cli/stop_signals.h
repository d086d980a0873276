#pragma once
#include <functional>
#include <thread>

#include "platform/unique_fd.h"

namespace chm {

// The exit code of a run stopped by `signal`: what a shell shows for a command that the signal
// ended (SIGHUP 129, SIGINT 130, SIGPIPE 141, SIGTERM 143).
constexpr int StopExitCode(int signal) { return 128 + signal; }
constexpr bool IsStopExitCode(int exit_code) { return exit_code > 128; }

// Turns SIGINT and SIGTERM into a call of `on_stop` on a thread of its own, so that nothing
// but the kernel runs at signal time. Must be made before any other thread: the signals are
// blocked in the calling thread and in every thread started after it, and stay blocked.
class StopSignals {
public:
    explicit StopSignals(std::function<void()> on_stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the signals could not be routed; they then keep their default action.
    bool IsActive() const { return thread_.joinable(); }

private:
    void Watch();

    std::function<void()> on_stop_;
    UniqueFd signal_fd_;
    UniqueFd quit_fd_;  // an eventfd: written once to end the watch
    std::thread thread_;
};

}  // namespace chm
