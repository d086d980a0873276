#pragma once
#include <string_view>

namespace chm {

// Exit code of a run whose standard output could not be written, as GNU tools have it.
constexpr int kExitWriteError = 1;

// Writes `text` on standard output and flushes it, so that a failure is seen at once. Returns
// 0, or the errno of the failed write (EPIPE: the reader has gone).
int WriteStandardOutput(std::string_view text);

// The last step of every command: flushes and closes standard output. When any write to it
// failed, the exit code says so: a broken pipe ends as SIGPIPE would (141), any other failure
// (a full disk) is named on standard error and gives kExitWriteError. A stop's code stays.
int FinishStandardOutput(int exit_code);

}  // namespace chm
