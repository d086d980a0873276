#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/conversion_job.h"
#include "engine/worker_thread.h"
#include "platform/message_port.h"

namespace chm {

class FileListItem;
class TaskProgress;

// wParam values of TaskNotify posted by the worker to its target window.
constexpr uintptr_t kTaskRunStarted = 0;
constexpr uintptr_t kTaskFileFinished = 1;  // whatever the file's outcome
constexpr uintptr_t kTaskRunCompleted = 2;  // the end of the list was reached
constexpr uintptr_t kTaskRunEnded = 4;      // aborted, or refused to start

// Budgets of a WAV file's progress: reader, fold and writer steps.
constexpr uint32_t kWavReaderBudget = 1000;
constexpr uint32_t kWavFoldBudget = 300;
constexpr uint32_t kWavWriterBudget = 1000;
constexpr uint32_t kWavBudget = kWavReaderBudget + kWavFoldBudget + kWavWriterBudget;  // 2300

// Converts the job's files one after another on its own thread. Made once by its window and
// reused for later runs; it reaches the window only by posting to it.
class ConversionWorker : public WorkerThread {
public:
    explicit ConversionWorker(WindowHandle target_window);
    ~ConversionWorker() override;

    // Filled by the interface thread before Start, never while a run is active.
    ConversionJob& Job() { return job_; }

    // One file: skipped when converted before and its output still exists; otherwise given a
    // fresh output path and converted by the pipeline of its type. No partial output survives
    // a failed or cancelled file.
    bool ProcessItem(FileListItem& item);
    // Read, fold with the conversion method of the settings, write; the progress gets the
    // budget of a WAV file and equals its total exactly when the output is complete.
    bool ConvertWavFile(const std::string& input_path, const std::string& output_path, TaskProgress& progress);

protected:
    bool Run() override;
    void OnStart() override;
    void OnEnd(bool result) override;
    void OnAfterAbort(bool result) override;

private:
    bool RunLoop();
    // The type is known, but its conversion pipeline is not part of this program yet: the
    // file fails like any file that cannot be converted, rather than passing as done.
    static bool FailWithoutPipeline(TaskProgress& progress, uint32_t budget);
    void SetCurrentProgress(TaskProgress* progress);

    WindowHandle target_window_;
    ConversionJob job_;
    std::mutex state_lock_;
    TaskProgress* current_progress_ = nullptr;  // guarded by state_lock_
};

}  // namespace chm
