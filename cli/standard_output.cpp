#include "cli/standard_output.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/stop_signals.h"

namespace chm {
namespace {

// The first failed write to standard output, 0 while there is none. Only the main thread writes
// there.
int first_error = 0;

int Remember(int error) {
    if (first_error == 0) first_error = error;
    return error;
}

}  // namespace

int WriteStandardOutput(std::string_view text) {
    // stdio may write inside fwrite already, and a failed write leaves nothing for fflush to
    // try again: only errno then tells what went wrong.
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0) return 0;
    return Remember(errno != 0 ? errno : EIO);
}

int FinishStandardOutput(int exit_code) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) Remember(errno != 0 ? errno : EIO);
    // With nothing left to write, EBADF only says that there never was a standard output.
    if (std::fclose(stdout) != 0 && errno != EBADF) Remember(errno);
    if (first_error == 0) return exit_code;
    // A reader that left early chose to; anything else the user should hear of.
    if (first_error != EPIPE) std::fprintf(stderr, "tavorin-chm: write error: %s\n", std::strerror(first_error));
    if (IsStopExitCode(exit_code)) return exit_code;
    return first_error == EPIPE ? StopExitCode(SIGPIPE) : kExitWriteError;
}

}  // namespace chm
