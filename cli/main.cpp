// tavorin-chm: the conversion engine without a window, for scripts and batch runs.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_help.h"
#include "cli/convert_command.h"
#include "cli/convert_options.h"
#include "cli/scan_command.h"
#include "cli/standard_output.h"

namespace {

// The usage shown is that of what was misused: the program's own without a known command.
int UsageError(const std::string& problem, const std::string& command) {
    const std::string& program = chm::kProgramHelp.usage;
    const std::string usage = command == "convert" ? chm::kConvertUsage : program.substr(0, program.find("\n\n"));
    std::fprintf(stderr, "tavorin-chm: %s\n%s\n%s\n", problem.c_str(), usage.c_str(), chm::HelpHint(command).c_str());
    return chm::kExitUsage;
}

int PrintHelp(const chm::CommandHelp& help) {
    chm::WriteStandardOutput(chm::FormatHelp(help));
    return 0;
}

int RunCommand(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.empty()) return UsageError("no command given", "");
    const std::string& command = arguments.front();
    const auto rest = std::span(arguments).subspan(1);
    if (command == "--help" || command == "-h" || command == "help") return PrintHelp(chm::kProgramHelp);
    if (command == "--version") {
        chm::WriteStandardOutput(chm::VersionLine() + "\n");
        return 0;
    }
    if (command == "scan") return chm::AsksForHelp(rest) ? PrintHelp(chm::kScanHelp) : chm::RunScanCommand(rest);
    if (command != "convert") return UsageError("unknown command '" + command + "'", "");
    if (chm::AsksForHelp(rest)) return PrintHelp(chm::kConvertHelp);
    chm::ConvertOptions options;
    std::string problem;
    if (!chm::ParseConvertArguments(rest, options, problem)) return UsageError(problem, "convert");
    return chm::RunConvert(options);
}

}  // namespace

// A write to standard output that failed anywhere turns into the exit code here.
int main(int argc, char** argv) { return chm::FinishStandardOutput(RunCommand(argc, argv)); }
