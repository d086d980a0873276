#pragma once
#include <atomic>
#include <functional>
#include <thread>

#include "platform/unique_fd.h"

namespace chm {

// The exit code of a run stopped by `signal`: what a shell shows for a command that the signal
// ended (SIGHUP 129, SIGINT 130, SIGPIPE 141, SIGTERM 143).
constexpr int StopExitCode(int signal) { return 128 + signal; }
constexpr bool IsStopExitCode(int exit_code) { return exit_code > 128; }

// Turns SIGHUP, SIGINT, SIGPIPE and SIGTERM (each unless ignored from the start) into a call of
// `on_stop` on a thread of its own, so that nothing but the kernel runs at signal time. Must be
// made before any other thread: the signals are blocked in the calling thread and in every
// thread started after it, and stay blocked; a write into a closed pipe then fails with EPIPE
// instead of killing the process. The first stop calls `on_stop`; a stop signal after it ends
// the process at once with that signal's code, for a user who will not wait for the first
// stop's clean-up.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> on_stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the signals could not be routed; they then keep their default action.
    bool IsActive() const { return thread_.joinable(); }

    // Marks the run as stopping because of `signal`; true when no stop came before. The owner
    // calls it for a stop it finds itself (a write that failed with EPIPE), which does not
    // call `on_stop`.
    bool Claim(int signal);

private:
    void Watch();

    std::function<void(int)> on_stop_;
    std::atomic<int> first_stop_{0};  // the signal of the first stop, 0 before it
    UniqueFd signal_fd_;
    UniqueFd quit_fd_;  // an eventfd: written once to end the watch
    std::thread thread_;
};

}  // namespace chm
