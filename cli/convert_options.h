#pragma once
#include <span>
#include <string>
#include <vector>

namespace chm {

// The one line that every usage error ends with.
extern const char* const kConvertUsage;

// What `tavorin-chm convert` was asked to do.
struct ConvertOptions {
    int method = 0;              // a ConversionMethod value: 0 mix, 1 keep left, 2 keep right
    std::string output_folder;   // empty: each output beside its input
    int jobs = 0;                // files converted at once; 0: as many as fit (JobsThatFit)
    bool keep_dates = false;     // outputs take their source's modification time
    std::string keep_tree;       // inputs below this folder keep their place below the output folder
    std::vector<std::string> files;  // in the order given
};

// How many processors this process may run on (its affinity mask), at least one.
int UsableProcessorCount();

// Reads the arguments after "convert". Lists named by --files-from are read only once every
// argument is known to be good, each in the place where it was named: one path per line, or,
// with --null anywhere among the arguments, NUL-separated paths. On a usage error returns false
// with a one-line description of the problem.
bool ParseConvertArguments(std::span<const std::string> arguments, ConvertOptions& options, std::string& error);

}  // namespace chm
