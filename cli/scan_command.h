#pragma once
#include <span>
#include <string>

namespace chm {

// The one line that every usage error of `tavorin-chm scan` ends with.
extern const char* const kScanUsage;

constexpr int kExitScanCompleted = 0;
// Exit code of a search that ended early for another reason than a stop signal (the folder
// went away after it was checked).
constexpr int kExitScanEnded = 1;

// `tavorin-chm scan [--recurse] [--print0] FOLDER`: runs the folder search and writes every
// recommended path on standard output, one per line (with --print0 each ended by a NUL byte),
// in the order of the recommendations, so that `convert --files-from -` (with --null) can read
// them. A live status line goes to standard error when it is
// a terminal, and the count line at the end. SIGHUP, SIGINT, SIGPIPE and SIGTERM, and a reader of
// standard output that has gone, abort the search ("Search aborted.", exit 128 + the signal's
// number); a folder that does not exist gives "Invalid search folder!" and 2.
int RunScanCommand(std::span<const std::string> arguments);

}  // namespace chm
