#include "cli/convert_command.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "cli/cli_port.h"
#include "cli/stop_signals.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "engine/task_progress.h"

namespace chm {
namespace {

// Private to the command line: the stop signal, handed from the signal thread to the loop.
constexpr uint32_t kStopRequest = kWmApp + 2001;

bool IsConverted(const TaskProgress& progress) {
    return progress.Total() > 0 && progress.Done() == progress.Total() && !progress.IsCancelled() &&
           !progress.IsFailed();
}

bool IsTouched(const TaskProgress& progress) {
    return progress.Total() > 0 || progress.IsCancelled() || progress.IsFailed();
}

// Starts of the UTF-8 characters, so that a shortened name never splits one.
std::vector<size_t> CharacterStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    return starts;
}

// Keeps both ends of a name that does not fit, as the list's path ellipsis does.
std::string ElideMiddle(const std::string& text, size_t width) {
    const std::vector<size_t> starts = CharacterStarts(text);
    if (starts.size() <= width) return text;
    if (width < 5) return text.substr(0, starts[width]);
    const size_t head = (width - 3) / 2;
    const size_t tail = width - 3 - head;
    return text.substr(0, starts[head]) + "..." + text.substr(starts[starts.size() - tail]);
}

size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// The live line on a terminal: file n of N, its name and the row's percentage. Drawn only
// when what it shows changes, so a burst of progress messages costs no terminal output.
class ProgressLine {
public:
    ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

    void Show(size_t index, size_t count, const std::string& name, int percent) {
        if (!enabled_ || (shown_ && index == index_ && percent == percent_)) return;
        index_ = index;
        percent_ = percent;
        const std::string prefix = "[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ";
        const std::string suffix = " " + std::to_string(percent) + "%";
        const size_t columns = TerminalColumns();
        const size_t room = columns > prefix.size() + suffix.size() + 1 ? columns - prefix.size() - suffix.size() - 1 : 1;
        std::fprintf(stderr, "\r\033[K%s%s%s", prefix.c_str(), ElideMiddle(name, room).c_str(), suffix.c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    // Before anything else is written to the terminal.
    void Clear() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    bool shown_ = false;
    size_t index_ = 0;
    int percent_ = -1;
};

// The command line's side of a run: what the work view and the file list do in the program,
// in text. Everything here runs on the main thread; the worker only posts.
class ConvertRun {
public:
    explicit ConvertRun(const ConvertOptions& options) : options_(options) {}

    int Execute() {
        auto port = std::make_shared<CliPort>([this](const PortMessage& message) { return Handle(message); });
        const WindowHandle window(port);
        // Before any other thread exists, so that no thread can take the signals.
        StopSignals stop_signals([window] { window.Post(kStopRequest, 0, 0); });

        for (const std::string& file : options_.files) items_.push_back(std::make_unique<FileListItem>(file, window));
        std::vector<FileListItem*> rows;
        for (const auto& item : items_) rows.push_back(item.get());

        ConversionWorker worker(window);
        worker_ = &worker;
        window.Send(kTaskListPrepare, 0, 0);
        worker.Job().Fill(rows, options_.output_folder, options_.method);
        if (!worker.Start()) {
            std::fputs("tavorin-chm: cannot start the conversion thread\n", stderr);
            return kExitSomeFailed;
        }
        while (!ended_) port->DispatchNext();
        worker.StopAndWait();
        worker_ = nullptr;
        progress_line_.Clear();
        return exit_code_;
    }

private:
    intptr_t Handle(const PortMessage& message) {
        switch (message.message) {
            case kTaskListPrepare:
                id_map_.clear();
                for (size_t i = 0; i < items_.size(); ++i) id_map_[items_[i]->Id()] = i;
                break;
            case kItemProgressNotify:
                OnItemProgress(message.wparam);
                break;
            case kTaskNotify:
                OnTaskNotify(message.wparam);
                break;
            case kStopRequest:
                // The stop button: only while a run is active.
                stop_requested_ = true;
                if (worker_ && worker_->IsRunning()) worker_->Abort();
                break;
            default:
                break;
        }
        return 0;
    }

    void OnItemProgress(uintptr_t id) {
        const auto found = id_map_.find(static_cast<uint32_t>(id));
        if (found == id_map_.end()) return;
        const FileListItem& item = *items_[found->second];
        progress_line_.Show(found->second, items_.size(), item.Name(), static_cast<int>(item.Progress().Percent()));
    }

    void OnTaskNotify(uintptr_t code) {
        switch (code) {
            case kTaskFileFinished:
                if (finished_ < items_.size()) {
                    PrintOutcome(*items_[finished_], options_.files[finished_]);
                    ++finished_;
                }
                break;
            case kTaskRunCompleted:
                OnRunCompleted();
                break;
            case kTaskRunEnded:
                OnRunEnded();
                break;
            default:
                break;
        }
    }

    void OnRunCompleted() {
        int converted = 0;
        for (const auto& item : items_) converted += IsConverted(item->Progress()) ? 1 : 0;
        const int total = static_cast<int>(items_.size());
        PrintLine(ReportSentence(total, converted));
        exit_code_ = converted == total ? kExitAllConverted : kExitSomeFailed;
        ended_ = true;
    }

    // Aborted, or refused to start. The file in hand tells how it ended; files never started
    // say nothing, and an aborted run has no report.
    void OnRunEnded() {
        if (finished_ < items_.size() && IsTouched(items_[finished_]->Progress()))
            PrintOutcome(*items_[finished_], options_.files[finished_]);
        if (!stop_requested_) {
            progress_line_.Clear();
            std::fputs("tavorin-chm: the conversion ended before the end of the list\n", stderr);
        }
        exit_code_ = stop_requested_ ? kExitStopped : kExitSomeFailed;
        ended_ = true;
    }

    void PrintOutcome(const FileListItem& item, const std::string& input) {
        const TaskProgress& progress = item.Progress();
        if (IsConverted(progress))
            PrintLine("converted: " + input + " -> " + item.OutputPath());
        else if (progress.IsCancelled())
            PrintLine("cancelled: " + input);
        else
            PrintLine("failed: " + input);
    }

    void PrintLine(const std::string& line) {
        progress_line_.Clear();
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    const ConvertOptions& options_;
    std::vector<std::unique_ptr<FileListItem>> items_;
    std::unordered_map<uint32_t, size_t> id_map_;
    ConversionWorker* worker_ = nullptr;
    ProgressLine progress_line_;
    size_t finished_ = 0;
    bool stop_requested_ = false;
    bool ended_ = false;
    int exit_code_ = kExitSomeFailed;
};

}  // namespace

std::string ReportSentence(int total, int converted) {
    if (total < 2) return converted > 0 ? "File converted successfully." : "Error converting specified file.";
    return std::to_string(converted) + " of " + std::to_string(total) + " files " + (converted > 1 ? "are" : "is") +
           " converted successfully.";
}

int RunConvert(const ConvertOptions& options) { return ConvertRun(options).Execute(); }

}  // namespace chm
