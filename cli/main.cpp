// tavorin-chm: the conversion engine without a window, for scripts and batch runs.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "cli/convert_options.h"
#include "cli/scan_command.h"

namespace {

constexpr char kFormats[] =
    "formats (by extension): MP3 (.mp3), WAV (.wav .pcm), WMA (.wma), FLAC (.flac), Ogg Vorbis (.ogg .oga),\n"
    "Opus (.opus), AAC in MP4 (.m4a), AIFF (.aif .aiff); each file becomes a mono file of its own format";

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "tavorin-chm: %s\n%s\n", problem.c_str(), chm::kConvertUsage);
    return chm::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.empty()) return UsageError("no command given");
    const std::string& command = arguments.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s\n%s\n%s\n", chm::kConvertUsage, chm::kScanUsage, kFormats);
        return 0;
    }
    if (command == "scan") return chm::RunScanCommand(std::span(arguments).subspan(1));
    if (command != "convert") return UsageError("unknown command '" + command + "'");
    chm::ConvertOptions options;
    std::string problem;
    if (!chm::ParseConvertArguments(std::span(arguments).subspan(1), options, problem)) return UsageError(problem);
    return chm::RunConvert(options);
}
