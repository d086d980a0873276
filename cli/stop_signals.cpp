#include "cli/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace chm {
namespace {

// A signal ignored from the start stays ignored: nohup and a shell's background job ask for
// that. Blocked and read from the signalfd, it would stop the run all the same, since Linux keeps
// a blocked signal pending even when its action is to ignore it.
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
        sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int signal)> on_stop) : on_stop_(std::move(on_stop)) {
    const sigset_t set = StopSet();
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &set, &previous) != 0) return;
    signal_fd_.Reset(::signalfd(-1, &set, SFD_CLOEXEC));
    quit_fd_.Reset(::eventfd(0, EFD_CLOEXEC));
    if (signal_fd_.IsValid() && quit_fd_.IsValid()) {
        try {
            thread_ = std::thread([this] { Watch(); });
            return;
        } catch (const std::system_error&) {
        }
    }
    // Without the watch a blocked signal would be lost: give the signals back their default.
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

StopSignals::~StopSignals() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    while (::write(quit_fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
}

bool StopSignals::Claim(int signal) {
    int none = 0;
    return first_stop_.compare_exchange_strong(none, signal);
}

void StopSignals::Watch() {
    pollfd fds[2] = {{signal_fd_.Get(), POLLIN, 0}, {quit_fd_.Get(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signal_fd_.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            const int signal = static_cast<int>(info.ssi_signo);
            // Asked a second time: the user no longer waits for the first stop's clean-up. This is
            // _exit's own system call: a sanitizer's _exit flushes stdio first, which waits for
            // a main thread that may be stuck writing to standard output.
            if (!Claim(signal)) ::syscall(SYS_exit_group, StopExitCode(signal));
            on_stop_(signal);
        }
    }
}

}  // namespace chm
