#include "cli/convert_options.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <istream>
#include <optional>

#include "platform/file_system.h"

namespace chm {

const char* const kConvertUsage =
    "usage: tavorin-chm convert [--method mix|left|right] [--output-folder DIR] [--files-from FILE|- [--null]] "
    "[--jobs N] [--keep-dates] [--keep-tree DIR] FILE...";

namespace {

// A file named on the command line, or a list of them to be read.
struct Source {
    bool is_list;
    std::string value;
};

std::optional<int> MethodFromName(const std::string& name) {
    if (name == "mix") return 0;
    if (name == "left") return 1;
    if (name == "right") return 2;
    return std::nullopt;
}

// One path per entry, taken as it stands: only the separator ends it, a line break or, with
// --null, a NUL byte (as find -print0 and tavorin-chm scan --print0 write them), so that names
// holding line breaks come through whole. Empty entries are skipped; the last one needs no
// separator after it.
// A whole positive decimal number and nothing else.
std::optional<int> JobCount(const std::string& text) {
    int count = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, count);
    if (text.empty() || error != std::errc() || stop != end || count < 1) return std::nullopt;
    return count;
}

bool ReadList(std::istream& in, char separator, std::vector<std::string>& files) {
    std::string entry;
    while (std::getline(in, entry, separator))
        if (!entry.empty()) files.push_back(entry);
    return in.eof();
}

bool ReadListFrom(const std::string& name, char separator, std::vector<std::string>& files) {
    if (name == "-") return ReadList(std::cin, separator, files);
    if (!IsRegularFile(name)) return false;
    std::ifstream in(name, std::ios::binary);
    return in && ReadList(in, separator, files);
}

}  // namespace

int UsableProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

bool ParseConvertArguments(std::span<const std::string> arguments, ConvertOptions& options, std::string& error) {
    std::vector<Source> sources;
    bool options_ended = false;
    bool stdin_taken = false;
    bool null_separated = false;  // for every list, wherever --null stands
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            sources.push_back({false, argument});
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        // "--name value" or "--name=value".
        std::string name = argument;
        std::optional<std::string> value;
        if (const size_t equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        if (name == "--null" || name == "--keep-dates") {
            if (value) {
                error = "option '" + name + "' takes no value";
                return false;
            }
            (name == "--null" ? null_separated : options.keep_dates) = true;
            continue;
        }
        // "-j N" and "-jN", as make takes them.
        if (argument.starts_with("-j")) {
            name = "--jobs";
            if (argument.size() > 2) value = argument.substr(2);
        }
        if (name != "--method" && name != "--output-folder" && name != "--files-from" && name != "--jobs" &&
            name != "--keep-tree") {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!value) {
            if (i + 1 == arguments.size()) {
                error = "option '" + name + "' needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (name == "--method") {
            const auto method = MethodFromName(*value);
            if (!method) {
                error = "unknown method '" + *value + "' (mix, left or right)";
                return false;
            }
            options.method = *method;
        } else if (name == "--jobs") {
            const auto jobs = JobCount(*value);
            if (!jobs) {
                error = "option '--jobs' needs a whole number of files at once, 1 or more, not '" + *value + "'";
                return false;
            }
            options.jobs = *jobs;
        } else if (name == "--output-folder") {
            options.output_folder = *value;
        } else if (name == "--keep-tree") {
            options.keep_tree = *value;
        } else {
            if (*value == "-") {
                if (stdin_taken) {
                    error = "standard input can be read only once";
                    return false;
                }
                stdin_taken = true;
            }
            sources.push_back({true, *value});
        }
    }
    // The program refuses to start with an output folder that is not there; so does this.
    if (!options.output_folder.empty() && !IsDirectory(options.output_folder)) {
        error = "output folder is not an existing folder: " + options.output_folder;
        return false;
    }
    if (!options.keep_tree.empty() && !IsDirectory(options.keep_tree)) {
        error = "the folder of --keep-tree is not an existing folder: " + options.keep_tree;
        return false;
    }
    for (const Source& source : sources) {
        if (!source.is_list) {
            options.files.push_back(source.value);
        } else if (!ReadListFrom(source.value, null_separated ? '\0' : '\n', options.files)) {
            error = "cannot read the file list " + (source.value == "-" ? std::string("from standard input") : source.value);
            return false;
        }
    }
    if (options.files.empty()) {
        error = "no input files";
        return false;
    }
    return true;
}

}  // namespace chm
