#include "cli/convert_command.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <span>
#include <memory>
#include <vector>

#include "audio/audio_file_type.h"
#include "cli/cli_port.h"
#include "cli/progress_line_text.h"
#include "cli/standard_output.h"
#include "cli/stop_signals.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "engine/output_tree.h"
#include "engine/store_room.h"
#include "engine/task_progress.h"

namespace chm {
namespace {

// Every failure says why; this is for a step that failed without saying.
constexpr char kUnknownFailure[] = "the file could not be converted";
constexpr char kUnsupportedType[] = "files of this type are not converted";

// Private to the command line: a stop signal, handed from the signal thread to the loop with
// its number in wParam.
constexpr uint32_t kStopRequest = kWmApp + 2001;

bool IsConverted(const TaskProgress& progress) {
    return progress.Total() > 0 && progress.Done() == progress.Total() && !progress.IsCancelled() &&
           !progress.IsFailed();
}

bool IsTouched(const TaskProgress& progress) {
    return progress.Total() > 0 || progress.IsCancelled() || progress.IsFailed();
}

// The live line on a terminal. One file at a time: file n of N, its name and percentage. More:
// the files done of all and the running files' percentages, as many as fit. Drawn only when what
// it shows changes, so a burst of progress messages costs no terminal output.
class ProgressLine {
public:
    ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

    void ShowOne(size_t index, size_t count, const RunningFile& file) {
        Draw("[" + std::to_string(index + 1) + "/" + std::to_string(count) + "] ", {file});
    }

    void ShowMany(size_t done, size_t count, const std::vector<RunningFile>& files) {
        Draw("[" + std::to_string(done) + " of " + std::to_string(count) + " done] ", files);
    }

    // Before anything else is written to the terminal.
    void Clear() {
        if (!shown_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        shown_ = false;
    }

private:
    void Draw(const std::string& prefix, const std::vector<RunningFile>& files) {
        if (!enabled_) return;
        std::string key = prefix;
        for (const RunningFile& file : files) key += file.name + '\0' + std::to_string(file.percent) + '\0';
        if (shown_ && key == key_) return;
        key_ = std::move(key);
        const std::string line = FitProgressLine(prefix, files, TerminalColumns());
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    bool enabled_;
    bool shown_ = false;
    std::string key_;
};

// The target window of one worker: forwards its messages to the run's port with the worker's
// number in lParam, which the worker itself always leaves 0, so the run knows who ended.
class SlotPort : public MessagePort {
public:
    SlotPort(std::shared_ptr<CliPort> port, size_t slot) : port_(std::move(port)), slot_(static_cast<intptr_t>(slot)) {}
    void Post(uint32_t message, uintptr_t wparam, intptr_t) override { port_->Post(message, wparam, slot_); }
    intptr_t Send(uint32_t message, uintptr_t wparam, intptr_t) override { return port_->Send(message, wparam, slot_); }

private:
    std::shared_ptr<CliPort> port_;
    intptr_t slot_;
};

// The command line's side of a run: what the work view and the file list do in the program,
// in text. Up to `jobs` files convert at once, each as a run of one file on a worker of its
// own; everything here runs on the main thread, and the workers only post.
class ConvertRun {
public:
    explicit ConvertRun(const ConvertOptions& options) : options_(options) {}

    int Execute() {
        auto port = std::make_shared<CliPort>([this](const PortMessage& message) { return Handle(message); });
        const WindowHandle window(port);
        // Before any other thread exists, so that no thread can take the signals.
        StopSignals stop_signals(
            [window](int signal) { window.Post(kStopRequest, static_cast<uintptr_t>(signal), 0); });
        stop_signals_ = &stop_signals;

        for (const std::string& file : options_.files) {
            items_.push_back(std::make_unique<FileListItem>(file, window));
            // Below --keep-tree's folder, a file keeps its place below the output folder.
            std::string relative;
            if (TreePathOf(file, options_.keep_tree, relative)) items_.back()->SetFoundUnder(options_.keep_tree);
        }
        states_.assign(items_.size(), State::kWaiting);

        // Without --jobs: as many as there are processors, but no more than the temporary folder
        // holds the samples of. Probing the files may start the media framework's threads, so
        // only after the signals are taken.
        const int jobs = options_.jobs > 0 ? options_.jobs
                                           : JobsThatFit(UsableProcessorCount(), LargestTemporaryBytes(options_.files),
                                                         TemporaryFolderFreeBytes());
        const size_t count = std::min(items_.size(), static_cast<size_t>(jobs));
        for (size_t i = 0; i < count; ++i) {
            auto slot_port = std::make_shared<SlotPort>(port, i);
            slots_.push_back({slot_port, std::make_unique<ConversionWorker>(WindowHandle(slot_port)), kNone});
        }
        for (Slot& slot : slots_) StartNext(slot);
        while (!ended_) {
            if (Busy() == 0) End();
            else port->DispatchNext();
        }
        slots_.clear();  // each worker stops and waits for its thread
        progress_line_.Clear();
        stop_signals_ = nullptr;
        return exit_code_;
    }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    // kWaiting: not started yet. kEnded: its line is due. kSilent: ended without being touched
    // (stopped before it began), so it says nothing.
    enum class State { kWaiting, kRunning, kEnded, kSilent };

    struct Slot {
        std::shared_ptr<SlotPort> port;  // the worker's target window lives as long as the worker
        std::unique_ptr<ConversionWorker> worker;
        size_t item;  // kNone while idle
    };

    size_t Busy() const {
        return static_cast<size_t>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.item != kNone; }));
    }

    // The next file of the list on this worker, unless the run is stopping.
    void StartNext(Slot& slot) {
        slot.item = kNone;
        if (stop_requested_ || refused_ || next_item_ >= items_.size()) return;
        const size_t index = next_item_++;
        FileListItem* item = items_[index].get();
        slot.worker->Job().Fill(std::span(&item, 1), options_.output_folder, options_.method,
                                options_.keep_dates, !options_.keep_tree.empty());
        if (!slot.worker->Start()) {
            std::fputs("tavorin-chm: cannot start a conversion thread\n", stderr);
            states_[index] = State::kSilent;
            refused_ = true;
            return;
        }
        states_[index] = State::kRunning;
        slot.item = index;
    }

    intptr_t Handle(const PortMessage& message) {
        switch (message.message) {
            case kItemProgressNotify:
                ShowProgress();
                break;
            case kTaskNotify:
                if (static_cast<size_t>(message.lparam) < slots_.size())
                    OnTaskNotify(slots_[static_cast<size_t>(message.lparam)], message.wparam);
                break;
            case kStopRequest:
                Stop(static_cast<int>(message.wparam));
                break;
            default:
                break;
        }
        return 0;
    }

    // The stop button, for every file running; the first stop's signal gives the exit code.
    void Stop(int signal) {
        if (stop_requested_) return;
        stop_requested_ = true;
        stop_signal_ = signal;
        for (Slot& slot : slots_)
            if (slot.item != kNone && slot.worker->IsRunning()) slot.worker->Abort();
    }

    void ShowProgress() {
        std::vector<RunningFile> running;
        for (const Slot& slot : slots_)
            if (slot.item != kNone) running.push_back({items_[slot.item]->Name(), Percent(*items_[slot.item])});
        if (running.empty()) return;
        if (slots_.size() == 1)
            progress_line_.ShowOne(slots_[0].item, items_.size(), running.front());
        else
            progress_line_.ShowMany(ended_count_, items_.size(), running);
    }

    static int Percent(const FileListItem& item) { return static_cast<int>(item.Progress().Percent()); }

    void OnTaskNotify(Slot& slot, uintptr_t code) {
        if (slot.item == kNone) return;
        switch (code) {
            case kTaskFileFinished:
            case kTaskRunCompleted:
                if (states_[slot.item] == State::kRunning) {
                    states_[slot.item] = State::kEnded;
                    ++ended_count_;
                }
                if (code == kTaskRunCompleted) FileEnded(slot);
                break;
            case kTaskRunEnded:
                // Aborted, or refused to start. The file tells how it ended; a file never
                // touched says nothing.
                if (states_[slot.item] == State::kRunning) {
                    const bool touched = IsTouched(items_[slot.item]->Progress());
                    states_[slot.item] = touched ? State::kEnded : State::kSilent;
                    ended_count_ += touched ? 1 : 0;
                }
                if (!stop_requested_) refused_ = true;
                FileEnded(slot);
                break;
            default:
                break;
        }
    }

    void FileEnded(Slot& slot) {
        PrintDueLines();
        StartNext(slot);
        ShowProgress();
    }

    // In the order of the list: a line appears once its file and every file before it ended.
    void PrintDueLines() {
        while (next_line_ < items_.size() &&
               (states_[next_line_] == State::kEnded || states_[next_line_] == State::kSilent)) {
            if (states_[next_line_] == State::kEnded) PrintOutcome(*items_[next_line_], options_.files[next_line_]);
            ++next_line_;
        }
    }

    // Every worker is idle: the list is done, or the run stopped early.
    void End() {
        PrintDueLines();
        if (!stop_requested_) Report();
        // A reader that left can stop the run on its very last line too.
        if (stop_requested_) exit_code_ = StopExitCode(stop_signal_);
        ended_ = true;
    }

    void Report() {
        if (refused_) {
            progress_line_.Clear();
            std::fputs("tavorin-chm: the conversion ended before the end of the list\n", stderr);
            exit_code_ = kExitSomeFailed;
        } else {
            int converted = 0;
            for (const auto& item : items_) converted += IsConverted(item->Progress()) ? 1 : 0;
            const int total = static_cast<int>(items_.size());
            PrintLine(ReportSentence(total, converted));
            exit_code_ = converted == total ? kExitAllConverted : kExitSomeFailed;
        }
    }

    // A failure's reason, and the notes of a converted file, on indented lines under its result.
    void PrintOutcome(const FileListItem& item, const std::string& input) {
        const TaskProgress& progress = item.Progress();
        if (IsConverted(progress)) {
            PrintLine("converted: " + input + " -> " + item.OutputPath());
            for (const std::string& note : progress.Notes()) PrintLine("  " + note);
        } else if (progress.IsCancelled()) {
            PrintLine("cancelled: " + input);
        } else {
            PrintLine("failed: " + input);
            std::string reason = progress.FailureReason();
            // A file of a type that is not converted never starts: its progress says nothing.
            if (reason.empty() && GetAudioFileType(input) == AudioFileType::Unsupported) reason = kUnsupportedType;
            PrintLine("  " + (reason.empty() ? std::string(kUnknownFailure) : reason));
        }
    }

    void PrintLine(const std::string& line) {
        progress_line_.Clear();
        // A reader that has gone (`| head`) stops the run as SIGPIPE does. Any other failure
        // (a full disk) only spoils the exit code: the files themselves still convert.
        if (WriteStandardOutput(line + '\n') == EPIPE && stop_signals_->Claim(SIGPIPE)) Stop(SIGPIPE);
    }

    const ConvertOptions& options_;
    StopSignals* stop_signals_ = nullptr;  // while Execute runs
    std::vector<std::unique_ptr<FileListItem>> items_;
    std::vector<State> states_;
    std::vector<Slot> slots_;
    ProgressLine progress_line_;
    size_t next_item_ = 0;
    size_t next_line_ = 0;
    size_t ended_count_ = 0;  // files whose line is due or printed
    bool stop_requested_ = false;
    int stop_signal_ = 0;
    bool refused_ = false;
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
