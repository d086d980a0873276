#pragma once
#include <span>
#include <string>

namespace chm {

// One option as --help and the manual page describe it: every option is exactly one row, so
// that the help text, the manual's drift test and the bash completion read one list.
struct OptionRow {
    const char* names;     // "-h, --help" or "--method"
    const char* argument;  // "METHOD", or "" for a switch
    const char* text;      // what it does
    const char* default_text;  // the default, shown as "(default: ...)"; "" for none
};

// What `tavorin-chm [COMMAND] --help` prints.
struct CommandHelp {
    std::string usage;  // the usage line(s), ending without a line break
    const char* about;  // one paragraph
    std::span<const OptionRow> options;
    const char* exit_codes;  // indented lines
    const char* examples;    // indented lines
};

extern const CommandHelp kProgramHelp;
extern const CommandHelp kConvertHelp;
extern const CommandHelp kScanHelp;

// The help text, laid out in columns for a terminal.
std::string FormatHelp(const CommandHelp& help);

// "tavorin-chm (Tavorin Channel Merger) 1.2".
std::string VersionLine();

// True when `--help` or `-h` stands among the options (before a lone "--").
bool AsksForHelp(std::span<const std::string> arguments);

// The last line of every usage error: where the full description is.
std::string HelpHint(const std::string& command);

}  // namespace chm
