#pragma once
#include <signal.h>
#include <spawn.h>

namespace chm::test {

// Spawn attributes that give the stop signals (SIGHUP, SIGINT, SIGPIPE, SIGTERM) the default
// action and block none, as a terminal gives them, whatever the test runner inherited. The
// caller destroys them with posix_spawnattr_destroy.
inline void DefaultStopSignals(posix_spawnattr_t& attributes) {
    posix_spawnattr_init(&attributes);
    sigset_t stop_signals, none;
    sigemptyset(&stop_signals);
    for (const int signal : {SIGHUP, SIGINT, SIGPIPE, SIGTERM}) sigaddset(&stop_signals, signal);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &stop_signals);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

}  // namespace chm::test
