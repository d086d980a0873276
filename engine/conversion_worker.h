#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "audio/audio_file_type.h"
#include "engine/conversion_job.h"
#include "engine/worker_thread.h"
#include "platform/message_port.h"

namespace chm {

struct FormatPreset;

class FileListItem;
class TaskProgress;
class UnnamedFile;
class NameClaim;

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

// MP3 and WMA files: the encoders take the largest share of the time, hence of the bar.
constexpr uint32_t kMp3ReaderBudget = 1000;
constexpr uint32_t kMp3FoldBudget = 100;
constexpr uint32_t kMp3WriterBudget = 5000;
constexpr uint32_t kMp3Budget = kMp3ReaderBudget + kMp3FoldBudget + kMp3WriterBudget;  // 6100
constexpr uint32_t kWmaReaderBudget = 1000;
constexpr uint32_t kWmaFoldBudget = 100;
constexpr uint32_t kWmaWriterBudget = 3000;
constexpr uint32_t kWmaBudget = kWmaReaderBudget + kWmaFoldBudget + kWmaWriterBudget;  // 4100

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
    // Read, fold with the job's conversion method, write; the progress gets the
    // budget of a WAV file and equals its total exactly when the output is complete.
    bool ConvertWavFile(const std::string& input_path, const std::string& output_path, TaskProgress& progress);
    // The same three steps through the MP3 document (decoded by libmpg123, encoded by LAME) and
    // the WMA document (decoding graph, WMA encoder), with the source's tags carried over.
    bool ConvertMp3File(const std::string& input_path, const std::string& output_path, TaskProgress& progress);
    bool ConvertWmaFile(const std::string& input_path, const std::string& output_path, TaskProgress& progress);
    // The same for FLAC, Ogg Vorbis, Opus, AAC and AIFF, each through the document of its preset
    // with the preset's budgets.
    bool ConvertFormatFile(const FormatPreset& preset, const std::string& input_path, const std::string& output_path,
                           TaskProgress& progress);

protected:
    bool Run() override;
    void OnStart() override;
    void OnEnd(bool result) override;
    void OnAfterAbort(bool result) override;

private:
    bool RunLoop();
    void SetCurrentProgress(TaskProgress* progress);
    // Step 1 of every pipeline: the file's progress starts over with its budget. A stop that
    // came after the progress was made current but before this reset would be wiped out by it
    // (the file would then run to its end): the abort flag, raised before the progress is
    // cancelled, is looked at again here.
    void StartFileProgress(TaskProgress& progress, uint32_t total);
    static bool CreateOutputFile(UnnamedFile& output, const std::string& output_path);
    // Adds the source's other tags (see OtherTags) to an MP3 or WMA output.
    static void CarryOtherTags(const std::string& input_path, const std::string& output_path, AudioFileType type);
    // Gives the output the source's access and modification times; a note where it cannot.
    static void KeepSourceDates(const std::string& input_path, const std::string& output_path, TaskProgress& progress);
    bool PublishOutput(FileListItem& item, const std::string& found_under, UnnamedFile& output,
                       std::string& output_path, NameClaim& claim, TaskProgress& progress);

    WindowHandle target_window_;
    ConversionJob job_;
    std::mutex state_lock_;
    TaskProgress* current_progress_ = nullptr;  // guarded by state_lock_
};

}  // namespace chm
