#include "cli/command_help.h"

#include <algorithm>
#include <sstream>

#include "cli/convert_options.h"
#include "cli/scan_command.h"

namespace chm {
namespace {

constexpr OptionRow kProgramOptions[] = {
    {"-h, --help", "", "show this help and exit", ""},
    {"--version", "", "show the program's name and version and exit", ""},
};

constexpr OptionRow kConvertOptions[] = {
    {"--method", "METHOD",
     "how two channels become one: mix averages them, left keeps the left channel only, right keeps "
     "the right channel only",
     "mix"},
    {"--output-folder", "DIR", "write every mono file into DIR, which must exist",
     "each mono file beside its stereo original"},
    {"--files-from", "FILE",
     "read more input paths from FILE, one per line, and convert them where FILE stands among the "
     "inputs; - reads standard input (once); may be given more than once",
     "none"},
    {"--null", "", "the lists of --files-from end each path with a NUL byte, as scan --print0 writes them",
     "one path per line"},
    {"-j, --jobs", "N",
     "convert up to N files at once, each on a worker of its own; the lines still come in the order "
     "of the inputs, and 1 converts one file after another",
     "the number of processors this process may run on, fewer where the temporary folder cannot hold the "
     "samples of that many files at once: about 8 bytes per stereo frame, 1.3 GB for an hour at 44.1 kHz"},
    {"--keep-dates", "", "give each mono file the modification and access times of its stereo original",
     "the time of the conversion"},
    {"--keep-tree", "DIR",
     "with --output-folder, an input below DIR goes to the same place below the output folder, its folders "
     "made as needed; other inputs go directly into the output folder",
     "every mono file directly in the output folder"},
    {"-h, --help", "", "show this help and exit", ""},
};

constexpr OptionRow kScanOptions[] = {
    {"--recurse", "", "search the folders below FOLDER too", "FOLDER itself only"},
    {"--print0", "", "end each path with a NUL byte instead of a line break; without it, a path that holds a line "
     "break is left out with a warning",
     "a line break"},
    {"-h, --help", "", "show this help and exit", ""},
};

constexpr int kWidth = 79;
constexpr size_t kOptionColumn = 26;

// Words of `text` laid into lines no wider than kWidth, each after `indent` blanks; the first
// line continues whatever `out` already holds (`used` characters of it).
void Wrap(std::ostringstream& out, const std::string& text, size_t indent, size_t used) {
    std::istringstream words(text);
    std::string word;
    size_t column = used;
    bool first = true;
    while (words >> word) {
        if (!first && column + 1 + word.size() > kWidth) {
            out << '\n' << std::string(indent, ' ');
            column = indent;
            first = true;
        }
        if (!first) {
            out << ' ';
            ++column;
        }
        out << word;
        column += word.size();
        first = false;
    }
    out << '\n';
}

}  // namespace

// Built at start-up from the commands' own usage lines, which are constants.
const CommandHelp kProgramHelp = {
    "usage: tavorin-chm COMMAND [OPTION]... ARGUMENT...\n"
    "       tavorin-chm --help | --version\n"
    "\n"
    "Commands:\n"
    "  convert   turn stereo files into mono files\n"
    "  scan      list the files below a folder that are worth converting\n"
    "Each command describes itself: tavorin-chm COMMAND --help\n"
    "\n"
    "The commands' usage:\n" +
        std::string(kConvertUsage) + "\n" + kScanUsage,
    "Tavorin Channel Merger without a window: turns stereo WAV (.wav, .pcm), MP3, WMA, FLAC, Ogg Vorbis "
    "(.ogg, .oga), Opus, AAC (.m4a) and AIFF (.aif, .aiff) files into mono files in their own format, with "
    "their tags, for scripts and batch runs. Outputs never overwrite anything.",
    kProgramOptions,
    "  0    success\n"
    "  1    a file failed, the search ended early, or standard output could not be\n"
    "       written\n"
    "  2    wrong usage, or a folder that does not exist\n"
    "  129  stopped by SIGHUP (the terminal closed)\n"
    "  130  stopped by SIGINT (Ctrl+C)\n"
    "  141  stopped by SIGPIPE or a broken pipe (the reader of standard output left)\n"
    "  143  stopped by SIGTERM\n"
    "       A second stop signal ends the program at once.\n",
    "  tavorin-chm convert --method left interview.wav\n"
    "  tavorin-chm scan --print0 ~/Music | tavorin-chm convert --files-from - --null\n",
};

const CommandHelp kConvertHelp = {
    kConvertUsage,
    "Converts each stereo FILE (WAV: .wav, .pcm; MP3: .mp3; WMA: .wma; FLAC: .flac; Ogg Vorbis: .ogg, .oga; "
    "Opus: .opus; AAC: .m4a; AIFF: .aif, .aiff) into a mono file of the format its audio is in, as the "
    "program's Convert button does, keeping the title, artist, pictures and other tags of its source. An output is named like its source; a name "
    "that is taken gets the next free number in brackets, so nothing is ever overwritten. A line per file and the "
    "report's sentence go to standard output, a live progress line to standard error when it is a "
    "terminal. A failed or stopped file leaves no output behind. After --, every argument is a file.",
    kConvertOptions,
    "  0    every file converted\n"
    "  1    at least one file failed, or standard output could not be written\n"
    "  2    wrong usage: an unknown option or method, no input files, a missing output\n"
    "       folder or an unreadable list\n"
    "  129  stopped by SIGHUP (the terminal closed)\n"
    "  130  stopped by SIGINT (Ctrl+C)\n"
    "  141  stopped by SIGPIPE or a broken pipe (the reader of standard output left)\n"
    "  143  stopped by SIGTERM\n"
    "       A stop cancels every running file and deletes its unfinished output;\n"
    "       a second stop signal ends the program at once.\n",
    "  tavorin-chm convert song.mp3 voice.wma\n"
    "  tavorin-chm convert --method right --output-folder mono/ *.wav\n"
    "  tavorin-chm convert --jobs 1 big-session.wav\n"
    "  tavorin-chm scan --print0 ~/Music | tavorin-chm convert --files-from - --null\n",
};

const CommandHelp kScanHelp = {
    kScanUsage,
    "Searches FOLDER as the program's search wizard does and writes every file it recommends for "
    "conversion (a WAV, MP3, WMA, FLAC, Ogg Vorbis, Opus, AAC or AIFF file that is not already mono) on standard output, one path per "
    "line, in the order found. A live status line goes to standard error when it is a terminal, and "
    "the number of files found goes there at the end. After --, the argument is the folder.",
    kScanOptions,
    "  0    the search completed\n"
    "  1    the search ended early (the folder went away), or standard output\n"
    "       could not be written\n"
    "  2    wrong usage, or FOLDER is empty or not a folder\n"
    "  129  stopped by SIGHUP (the terminal closed)\n"
    "  130  stopped by SIGINT (Ctrl+C)\n"
    "  141  stopped by SIGPIPE or a broken pipe (the reader of standard output left)\n"
    "  143  stopped by SIGTERM\n",
    "  tavorin-chm scan --recurse ~/Music\n"
    "  tavorin-chm scan --print0 ~/Music | tavorin-chm convert --files-from - --null\n",
};

std::string FormatHelp(const CommandHelp& help) {
    std::ostringstream out;
    out << help.usage << "\n\n";
    Wrap(out, help.about, 0, 0);
    out << "\nOptions:\n";
    for (const OptionRow& row : help.options) {
        std::string head = std::string("  ") + row.names;
        if (*row.argument) head += std::string(" ") + row.argument;
        std::string text = row.text;
        if (*row.default_text) text += std::string(" (default: ") + row.default_text + ")";
        out << head;
        size_t used = head.size();
        if (used + 2 > kOptionColumn) {
            out << '\n';
            used = 0;
        }
        out << std::string(kOptionColumn - used, ' ');
        Wrap(out, text, kOptionColumn, kOptionColumn);
    }
    out << "\nExit codes:\n" << help.exit_codes << "\nExamples:\n" << help.examples;
    return out.str();
}

std::string VersionLine() {
    return std::string("tavorin-chm (Tavorin Channel Merger) ") + CHM_VERSION;
}

bool AsksForHelp(std::span<const std::string> arguments) {
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    return std::find_if(arguments.begin(), end, [](const std::string& a) { return a == "--help" || a == "-h"; }) !=
           end;
}

std::string HelpHint(const std::string& command) {
    const std::string invocation = command.empty() ? "tavorin-chm --help" : "tavorin-chm " + command + " --help";
    return "Try '" + invocation + "' for more information.";
}

}  // namespace chm
