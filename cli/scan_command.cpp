#include "cli/scan_command.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "cli/cli_port.h"
#include "cli/command_help.h"
#include "cli/convert_command.h"
#include "cli/progress_line_text.h"
#include "cli/standard_output.h"
#include "cli/stop_signals.h"
#include "platform/file_system.h"
#include "platform/tick.h"
#include "search/folder_search_worker.h"

namespace chm {

const char* const kScanUsage = "usage: tavorin-chm scan [--recurse] [--print0] FOLDER";

namespace {

// Private to the command line: a stop signal, handed from the signal thread to the loop with
// its number in wParam.
constexpr uint32_t kScanStopRequest = kWmApp + 2002;
// The terminal is redrawn at most this often while files fly past.
constexpr uint32_t kStatusRedrawInterval = 50;

struct ScanOptions {
    bool recurse = false;
    bool print0 = false;  // each path ended by a NUL byte instead of a line break
    std::string folder;
};

std::optional<ScanOptions> ParseScanArguments(std::span<const std::string> arguments, std::string& problem) {
    ScanOptions options;
    std::vector<std::string> folders;
    bool options_ended = false;
    for (const std::string& argument : arguments) {
        if (!options_ended && argument == "--") {
            options_ended = true;
        } else if (!options_ended && argument == "--recurse") {
            options.recurse = true;
        } else if (!options_ended && argument == "--print0") {
            options.print0 = true;
        } else if (!options_ended && argument.size() > 1 && argument[0] == '-') {
            problem = "unknown option '" + argument + "'";
            return std::nullopt;
        } else {
            folders.push_back(argument);
        }
    }
    if (folders.empty()) {
        problem = "no search folder given";
        return std::nullopt;
    }
    if (folders.size() > 1) {
        problem = "more than one search folder given";
        return std::nullopt;
    }
    options.folder = folders.front();
    return options;
}

// The path ellipsis: the file name stays whole as long as it fits, the folder part gives way
// from its end ("/home/user/.../song.mp3").
std::string CompactPath(const std::string& path, size_t width) {
    const std::vector<size_t> starts = CharacterStarts(path);
    if (starts.size() <= width) return path;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash);
    const size_t name_length = CharacterStarts(name).size();
    if (name_length + 3 <= width) {
        const size_t head = width - 3 - name_length;
        return path.substr(0, starts[head]) + "..." + name;
    }
    if (width <= 3) return std::string(width, '.');
    return name.substr(0, CharacterStarts(name)[width - 3]) + "...";
}

// The search page's status line, on a terminal only: one line on standard error that is
// overwritten in place.
class StatusLine {
public:
    StatusLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

    // `urgent` draws at once; otherwise the text waits for the next redraw slot.
    void Show(const std::string& text, bool urgent) {
        if (!enabled_) return;
        text_ = text;
        const uint32_t now = TickCount();
        if (!urgent && shown_ && now - drawn_at_ < kStatusRedrawInterval) return;
        Draw();
        drawn_at_ = now;
    }

    void ShowPath(const std::string& prefix, const std::string& path) {
        if (!enabled_) return;
        const size_t columns = TerminalColumns();
        const size_t room = columns > prefix.size() + 1 ? columns - prefix.size() - 1 : 1;
        Show(prefix + CompactPath(path, room), false);
    }

    // Takes the line away before other output reaches the terminal.
    void Clear() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

    // Puts the last text back after other output.
    void Restore() {
        if (enabled_ && !shown_ && !text_.empty()) Draw();
    }

private:
    void Draw() {
        std::fprintf(stderr, "\r\033[K%s", text_.c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    bool enabled_;
    bool shown_ = false;
    std::string text_;
    uint32_t drawn_at_ = 0;
};

// The command line's search page: everything here runs on the main thread; the worker only
// posts.
class ScanRun {
public:
    explicit ScanRun(const ScanOptions& options) : options_(options) {}

    int Execute() {
        auto port = std::make_shared<CliPort>([this](const PortMessage& message) { return Handle(message); });
        const WindowHandle window(port);
        // Before any other thread exists, so that no thread can take the signals.
        StopSignals stop_signals(
            [window](int signal) { window.Post(kScanStopRequest, static_cast<uintptr_t>(signal), 0); });
        stop_signals_ = &stop_signals;

        FolderSearchWorker worker(window);
        worker_ = &worker;
        worker.SetJob(options_.folder, options_.recurse);
        if (!worker.Start()) {
            std::fputs("tavorin-chm: cannot start the search thread\n", stderr);
            return kExitScanEnded;
        }
        while (!ended_) port->DispatchNext();
        worker.StopAndWait();
        worker_ = nullptr;
        stop_signals_ = nullptr;
        return exit_code_;
    }

private:
    intptr_t Handle(const PortMessage& message) {
        if (message.message == kScanStopRequest) {
            Stop(static_cast<int>(message.wparam));
        } else if (message.message == kSearchNotify) {
            OnSearchNotify(message.wparam, message.lparam);
        }
        return 0;
    }

    // The first stop's signal gives the exit code.
    void Stop(int signal) {
        if (stop_signal_ != 0) return;
        stop_signal_ = signal;
        if (worker_ && worker_->IsRunning()) worker_->Abort();
    }

    void OnSearchNotify(uintptr_t code, intptr_t count) {
        switch (code) {
            case kSearchFilterBegin:
                status_.Show("Filtering files...", true);
                break;
            case kSearchFilterProgress:
            case kSearchFilterEnd:
                status_.Show("Filtering files... " + std::to_string(count), code == kSearchFilterEnd);
                break;
            case kSearchAnalyzeBegin:
                status_.Show("Analyzing files...", true);
                break;
            case kSearchAnalyzeFile:
                if (const std::string current = worker_->CurrentFile(); !current.empty())
                    status_.ShowPath("Analyzing ", current);
                break;
            case kSearchRecommended:
                PrintResults();
                break;
            case kSearchAborted:
            case kSearchCompleted:
                End(code == kSearchCompleted);
                break;
            default:
                break;
        }
    }

    // Each path on a line of its own, as soon as it is recommended. A path that holds a line
    // break would reach the reader as two paths, the second one perhaps naming another file:
    // it is left out, and said so. With --print0 a NUL byte, which no path can hold, ends each
    // one instead, and every path goes out whole (for convert --files-from --null, xargs -0).
    void PrintResults() {
        std::vector<std::string> paths;
        if (!worker_->TakeResults(paths)) return;
        status_.Clear();
        std::string text;
        for (const std::string& path : paths) {
            if (!options_.print0 && (path.find('\n') != std::string::npos || path.find('\r') != std::string::npos)) {
                std::fprintf(stderr, "tavorin-chm: left out a path with a line break: %s\n", Escaped(path).c_str());
                continue;
            }
            text += path;
            text += options_.print0 ? '\0' : '\n';
            ++printed_;
        }
        // A reader that has gone (`| head`) ends the search as SIGPIPE does.
        if (WriteStandardOutput(text) == EPIPE && stop_signals_->Claim(SIGPIPE)) Stop(SIGPIPE);
        std::fflush(stderr);
        status_.Restore();
    }

    static std::string Escaped(const std::string& path) {
        std::string text;
        for (char c : path) text += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
        return text;
    }

    // The common end steps: the results so far stay, then the count line.
    void End(bool completed) {
        PrintResults();
        status_.Clear();
        if (!completed) std::fputs("Search aborted.\n", stderr);
        if (printed_ > 0)
            std::fprintf(stderr, "%u files recommended for conversion:\n", printed_);
        else
            std::fputs("No files recommended for conversion.\n", stderr);
        std::fflush(stderr);
        if (completed)
            exit_code_ = kExitScanCompleted;
        else
            exit_code_ = stop_signal_ != 0 ? StopExitCode(stop_signal_) : kExitScanEnded;
        ended_ = true;
    }

    const ScanOptions& options_;
    FolderSearchWorker* worker_ = nullptr;
    StopSignals* stop_signals_ = nullptr;  // while Execute runs
    StatusLine status_;
    unsigned printed_ = 0;
    int stop_signal_ = 0;  // the first stop's, 0 while none came
    bool ended_ = false;
    int exit_code_ = kExitScanEnded;
};

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "tavorin-chm: %s\n%s\n%s\n", problem.c_str(), kScanUsage, HelpHint("scan").c_str());
    return kExitUsage;
}

}  // namespace

int RunScanCommand(std::span<const std::string> arguments) {
    std::string problem;
    const std::optional<ScanOptions> options = ParseScanArguments(arguments, problem);
    if (!options) return UsageError(problem);
    // The wizard's folder check, with its messages.
    if (options->folder.empty()) {
        std::fputs("Please select a folder!\n", stderr);
        return kExitUsage;
    }
    if (!IsDirectory(options->folder)) {
        std::fputs("Invalid search folder!\n", stderr);
        return kExitUsage;
    }
    return ScanRun(*options).Execute();
}

}  // namespace chm
