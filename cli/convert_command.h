#pragma once
#include <string>

#include "cli/convert_options.h"

namespace chm {

// Exit codes of `tavorin-chm convert`.
constexpr int kExitAllConverted = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
// A run stopped by a signal exits with StopExitCode(signal) (cli/stop_signals.h).

// The report's sentence for a completed run of `total` files of which `converted` converted.
std::string ReportSentence(int total, int converted);

// Converts the files as the program's convert button does, up to `options.jobs` of them at
// once: one line per file on standard output in the order of the list, the report's sentence
// at the end, a live progress line when standard error is a terminal. SIGHUP, SIGINT, SIGPIPE
// and SIGTERM, and a reader of standard output that has gone, press the stop button for every
// running file. Returns the exit code.
int RunConvert(const ConvertOptions& options);

}  // namespace chm
