#include "engine/conversion_worker.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "audio/audio_data.h"
#include "audio/audio_document.h"
#include "audio/audio_file_type.h"
#include "audio/mp3_document.h"
#include "audio/wav_file.h"
#include "engine/failure_reasons.h"
#include "engine/file_list_item.h"
#include "engine/paths.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "platform/no_room.h"
#include "audio/temp_file.h"
#include "platform/temp_files.h"
#include "platform/unnamed_file.h"
#include "formats/format_document.h"
#include "formats/format_presets.h"
#include "formats/stream_content.h"
#include "metadata/carried_check.h"
#include "metadata/carried_metadata.h"
#include "metadata/other_tags.h"
#include "wm/wma_document.h"

namespace chm {
namespace {

bool IsConverted(const TaskProgress& progress) {
    return progress.Total() > 0 && progress.Done() == progress.Total() && !progress.IsCancelled() &&
           !progress.IsFailed();
}

// The three steps of every pipeline, for the reason of a failure that gave none.
enum class Step { kRead, kFold, kWrite };

// Why a step failed, when it did not say: the file or the output folder looked at again.
std::string StepFailure(Step step, const std::string& input_path, const std::string& output_path) {
    // The sample stores of reading and folding live in the temporary folder.
    if (TakeNoRoom() && step != Step::kWrite) return "the temporary folder is full";
    switch (step) {
        case Step::kRead:
            return ReaderFailure(input_path, GetAudioFileType(input_path));
        case Step::kFold:
            return "the audio cannot be folded to mono: the temporary folder may be full";
        case Step::kWrite: {
            // The output is written without a name; its folder is the one to look at.
            const std::string folder = UnnamedFileFolder(output_path);
            return WriterFailure(folder.empty() ? PathFolder(output_path, true) : folder);
        }
    }
    return {};
}

// One step of a pipeline on its own child of the file's progress. A step that gives up without
// saying so on its child (a loader refusing a path that does not exist leaves its sink alone)
// still fails the file: the row must show "Failed", not a bar that stopped part-way. Every
// failure that is not a cancel says why.
template <typename Run>
bool RunStep(TaskProgress& progress, uint32_t budget, Step step, const std::string& input_path,
             const std::string& output_path, Run run) {
    auto child = progress.MakeChild(budget);
    TakeNoRoom();  // only this step's writes count
    const bool ok = run(*child);
    if (!ok && !child->IsCancelled() && progress.FailureReason().empty())
        child->Fail(StepFailure(step, input_path, output_path));
    else if (!ok && !child->IsFailed() && !child->IsCancelled())
        child->Fail();
    return ok;
}

// Read, fold, write through a format's document, on a progress already started with the sum
// of the three budgets. Its temporary sample files go with the caller's document.
bool ConvertThroughDocument(VeAudioDocument& document, const std::string& input_path, const std::string& output_path,
                            int method, TaskProgress& progress, uint32_t reader_budget, uint32_t fold_budget,
                            uint32_t writer_budget) {
    // 3. Reader step.
    bool result = RunStep(progress, reader_budget, Step::kRead, input_path, output_path,
                          [&](TaskProgress& child) { return document.Load(input_path, &child); });
    // 4. Fold step.
    if (result)
        result = RunStep(progress, fold_budget, Step::kFold, input_path, output_path,
                         [&](TaskProgress& child) { return document.FoldToMono(method, &child); });
    // 5. Writer step.
    if (result)
        result = RunStep(progress, writer_budget, Step::kWrite, input_path, output_path,
                         [&](TaskProgress& child) { return document.Save(output_path, &child); });
    return result;
}

}  // namespace

ConversionWorker::ConversionWorker(WindowHandle target_window) : target_window_(std::move(target_window)) {}

ConversionWorker::~ConversionWorker() {
    // Aborting through the current progress first ends a long file at its next check instead
    // of letting it run to its end; the thread is gone before the job and the lock go.
    StopAndWait();
    StopBeforeDestruction();
}

void ConversionWorker::OnStart() { target_window_.Post(kTaskNotify, kTaskRunStarted, 0); }

void ConversionWorker::OnEnd(bool result) {
    target_window_.Post(kTaskNotify, result ? kTaskRunCompleted : kTaskRunEnded, 0);
}

void ConversionWorker::OnAfterAbort(bool result) {
    if (!result || !IsRunFlagSet()) return;
    std::lock_guard lock(state_lock_);
    // A file that already reached its end is left converted.
    if (current_progress_ && (current_progress_->Total() == 0 || current_progress_->Done() != current_progress_->Total()))
        current_progress_->Cancel();
}

bool ConversionWorker::Run() {
    // 1. Nothing to do, the output folder went away since the check, or nobody to tell.
    {
        std::lock_guard lock(job_.Lock());
        if (job_.Items().empty()) return false;
        if (!job_.OutputFolder().empty() && !IsDirectory(job_.OutputFolder())) return false;
    }
    if (!target_window_.IsAlive()) return false;
    // 2. Threads here need no set-up of their own. An exception would otherwise end the
    //    process; it ends the run instead, which the end hook still reports.
    try {
        return RunLoop();
    } catch (const std::exception&) {
        SetCurrentProgress(nullptr);
        return false;
    }
}

bool ConversionWorker::RunLoop() {
    std::lock_guard lock(job_.Lock());
    for (FileListItem* item : job_.Items()) {
        // 1.
        if (IsAbortRequested()) return false;
        // 2.
        WaitWhilePaused();
        // 3. The outcome is in the item's progress.
        ProcessItem(*item);
        // 4.
        if (IsAbortRequested()) return false;
        // 5.
        target_window_.Post(kTaskNotify, kTaskFileFinished, 0);
    }
    return true;
}

bool ConversionWorker::ProcessItem(FileListItem& item) {
    RowProgress& progress = item.Progress();
    // 1. Converted before, into the same folder with the same method, and the output is still
    //    there: nothing to do. Output made with other settings stays; a new one is written
    //    beside it under the next free name.
    // A file found under a folder keeps its place below the output folder, where the way
    // there can be made of folders only.
    std::string found_under = item.FoundUnder();
    if (!job_.MakeTreeFor(item.Path(), found_under)) found_under.clear();
    OutputRecipe recipe{job_.OutputFolderFor(item.Path(), found_under), job_.Method()};
    if (IsConverted(progress) && item.Recipe() == recipe) {
        const std::string previous = item.OutputPath();
        if (!previous.empty() && PathExists(previous)) return true;
    }
    // 2.
    SetCurrentProgress(&progress);
    bool result = false;
    try {
        // 3. The name is held while the output is written into a file without a name in the
        //    same folder, which takes the name only once it is complete: a failure, a cancel or
        //    the end of the process, killed or not, leaves nothing under it.
        std::string output_path = job_.MakeOutputPath(item.Path(), found_under);
        NameClaim claim(output_path);
        item.SetOutput(output_path, std::move(recipe));
        AudioFileType type = GetAudioFileType(item.Path());
        const FormatPreset* preset = FindFormatPreset(type);
        // Cannot normally reach the list; the row stays as it was.
        if (type == AudioFileType::Unsupported || (!preset && type != AudioFileType::Wav &&
                                                   type != AudioFileType::Mp3 && type != AudioFileType::Wma)) {
            SetCurrentProgress(nullptr);
            return false;
        }
        UnnamedFile output;
        if (!CreateOutputFile(output, output_path)) {
            StartFileProgress(progress, 1);
            progress.Fail(WriterFailure(PathFolder(output_path, false)));
        } else {
            // The name decides for MP3, WAV and WMA, whose rules hold; for the further formats
            // what the file holds decides: FLAC named ".oga" stays FLAC, ALAC stays lossless.
            std::string not_converted;
            if (preset) {
                StreamContent content = ProbeStreamContent(item.Path());
                type = content.type;
                preset = FindFormatPreset(type);
                not_converted = std::move(content.reason);
            }
            // 4.
            switch (type) {
                case AudioFileType::Unsupported:
                    StartFileProgress(progress, 1);
                    progress.Fail(not_converted);
                    break;
                case AudioFileType::Wav:
                    result = ConvertWavFile(item.Path(), output.Path(), progress);
                    break;
                case AudioFileType::Mp3:
                    result = ConvertMp3File(item.Path(), output.Path(), progress);
                    break;
                case AudioFileType::Wma:
                    result = ConvertWmaFile(item.Path(), output.Path(), progress);
                    break;
                default:
                    result = ConvertFormatFile(*preset, item.Path(), output.Path(), progress);
                    break;
            }
            // The tags of an MP3 or WMA beyond the properties its document carried.
            if (result && (type == AudioFileType::Mp3 || type == AudioFileType::Wma))
                CarryOtherTags(item.Path(), output.Path(), type);
            // Read back: what did not arrive is said, never lost without a word.
            if (result && type != AudioFileType::Unsupported)
                if (const std::string note = NotCarriedNote(TagsNotCarried(item.Path(), output.Path(), type));
                    !note.empty())
                    progress.AddNote(note);
            // 5. Only a whole output gets its name: a writer that finished after a cancel came
            //    made nothing the user gets, and a failed or cancelled file's output vanishes
            //    with `output`.
            if (result && !progress.IsCancelled() && !progress.IsFailed()) {
                // Before the name: the output appears with its dates, and a link keeps them.
                if (job_.KeepDates()) KeepSourceDates(item.Path(), output.Path(), progress);
                result = PublishOutput(item, found_under, output, output_path, claim, progress);
            }
        }
    } catch (const std::exception&) {
        // The pipelines report their own failures; this is the system refusing memory.
        progress.Fail();
        result = false;
    }
    // 6.
    SetCurrentProgress(nullptr);
    return result;
}

bool ConversionWorker::ConvertWavFile(const std::string& input_path, const std::string& output_path,
                                      TaskProgress& progress) {
    // 1.
    StartFileProgress(progress, kWavBudget);
    // 2.
    VeAudioData data;
    // 3. Reader step.
    bool result = RunStep(progress, kWavReaderBudget, Step::kRead, input_path, output_path,
                          [&](TaskProgress& child) { return LoadWav(data, input_path, &child); });
    // 4. Fold step, with the run's method.
    if (result) {
        result = RunStep(progress, kWavFoldBudget, Step::kFold, input_path, output_path,
                         [&](TaskProgress& child) { return data.FoldToMono(job_.Method(), &child); });
    }
    // 5. Writer step.
    if (result)
        result = RunStep(progress, kWavWriterBudget, Step::kWrite, input_path, output_path,
                         [&](TaskProgress& child) { return SaveWav(data, output_path, &child); });
    // 6. The temporary sample files go with the audio.
    data.Reset();
    // What the source says of itself beyond its samples; a plain source's output stays as the
    // writer made it.
    if (result) {
        CarriedMetadata carried;
        carried.Read(input_path, AudioFileType::Wav);
        carried.SetMethod(job_.Method());
        if (carried.HasContent())
            carried.Write(output_path, AudioFileType::Wav, [&](PcmReceiver& meter) {
                return DecodeToPcm(output_path, meter, nullptr, PcmDepth::Float, 0.0, AudioFileType::Wav);
            });
    }
    return result;
}

bool ConversionWorker::ConvertMp3File(const std::string& input_path, const std::string& output_path,
                                      TaskProgress& progress) {
    // 1.
    StartFileProgress(progress, kMp3ReaderBudget + kMp3FoldBudget + kMp3WriterBudget);
    // 2.
    VeMp3Document document;
    return ConvertThroughDocument(document, input_path, output_path, job_.Method(), progress, kMp3ReaderBudget,
                                  kMp3FoldBudget, kMp3WriterBudget);
}

bool ConversionWorker::ConvertWmaFile(const std::string& input_path, const std::string& output_path,
                                      TaskProgress& progress) {
    // 1.
    StartFileProgress(progress, kWmaReaderBudget + kWmaFoldBudget + kWmaWriterBudget);
    // 2.
    VeWmaDocument document;
    return ConvertThroughDocument(document, input_path, output_path, job_.Method(), progress, kWmaReaderBudget,
                                  kWmaFoldBudget, kWmaWriterBudget);
}

bool ConversionWorker::ConvertFormatFile(const FormatPreset& preset, const std::string& input_path,
                                         const std::string& output_path, TaskProgress& progress) {
    StartFileProgress(progress, preset.reader_budget + preset.fold_budget + preset.writer_budget);
    VeFormatDocument document(preset);
    return ConvertThroughDocument(document, input_path, output_path, job_.Method(), progress, preset.reader_budget,
                                  preset.fold_budget, preset.writer_budget);
}

void ConversionWorker::CarryOtherTags(const std::string& input_path, const std::string& output_path,
                                      AudioFileType type) {
    OtherTags other;
    other.Read(input_path, type);
    other.Write(output_path, [&](PcmReceiver& meter) {
        return DecodeToPcm(output_path, meter, nullptr, PcmDepth::Float, 0.0, type);
    });
}

void ConversionWorker::KeepSourceDates(const std::string& input_path, const std::string& output_path,
                                       TaskProgress& progress) {
    struct stat source {};
    if (::stat(input_path.c_str(), &source) == 0) {
        const struct timespec times[2] = {source.st_atim, source.st_mtim};
        if (::utimensat(AT_FDCWD, output_path.c_str(), times, 0) == 0) return;
    }
    // The output is whole all the same; only its dates are those of now.
    progress.AddNote("the source's dates cannot be kept: " + std::string(std::strerror(errno)));
}

bool ConversionWorker::CreateOutputFile(UnnamedFile& output, const std::string& output_path) {
    const std::string folder = PathFolder(output_path, false);
    // Where the folder's file system has no unnamed files: a hidden name beside the output.
    return output.Create(folder, [&folder] { return MakeTempFileName("tmp", folder, ".~Ve"); });
}

bool ConversionWorker::PublishOutput(FileListItem& item, const std::string& found_under, UnnamedFile& output,
                                     std::string& output_path, NameClaim& claim, TaskProgress& progress) {
    // A file that another program put under the name meanwhile stays: the output takes the
    // next free name instead, as it would have had it been there from the start.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        switch (output.Publish(output_path)) {
            case Reservation::kReserved:
                return true;
            case Reservation::kTaken:
                output_path = job_.MakeOutputPath(item.Path(), found_under);
                claim = NameClaim(output_path);
                item.SetOutputPath(output_path);
                break;
            case Reservation::kRefused:
                progress.Fail("the output cannot be given its name: " + std::string(std::strerror(errno)));
                return false;
        }
    }
    progress.Fail("the output cannot be given its name");
    return false;
}

void ConversionWorker::StartFileProgress(TaskProgress& progress, uint32_t total) {
    progress.Reset(total);
    if (IsAbortRequested()) progress.Cancel();
}

void ConversionWorker::SetCurrentProgress(TaskProgress* progress) {
    std::lock_guard lock(state_lock_);
    current_progress_ = progress;
}

}  // namespace chm
