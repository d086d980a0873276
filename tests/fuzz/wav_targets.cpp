// The WAV readers on arbitrary bytes: the header probe, the chunk walk over a memory stream
// (with a write-and-read-again check of what it accepted) and the whole load from a file.
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/frame_layout.h"
#include "audio/memory_stream.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "tests/fuzz/fuzz_support.h"

namespace chm::fuzz {
namespace {

constexpr uint32_t kProgressTotal = 1000;

// A reader's progress ends complete when it succeeded and failed when it did not.
void CheckOutcome(const TaskProgress& progress, bool ok) {
    if (ok)
        FuzzCheck(!progress.IsFailed() && progress.Done() == progress.Total(), "success not shown as complete");
    else
        FuzzCheck(progress.IsFailed(), "failure not shown as failed");
}

// Loaded audio agrees with its own header and holds no more samples than the file had bytes.
void CheckLoaded(const VeAudioData& data, uint64_t file_size) {
    if (data.IsEmpty()) return;
    const VeAudioFormat& header = data.Format();
    const VeChannelSet& set = data.ChannelSet();
    FuzzCheck(set.IsValid(), "loaded audio is not valid");
    FuzzCheck(set.channels == 1 || set.channels == 2, "loaded audio has neither one nor two channels");
    FuzzCheck(set.channels == header.channels && set.frames == header.frames, "channels differ from the header");
    FuzzCheck(FrameLayoutOf(header).has_value(), "loaded audio is neither PCM nor float of a known layout");
    FuzzCheck(uint64_t{header.frames} * header.block_align <= file_size, "more samples than the file has bytes");
}

// The file WriteWav makes of the audio, in memory.
std::vector<uint8_t> Written(VeAudioData& data) {
    const uint64_t size = WavFileSize(data);
    FuzzCheck(size != 0, "audio that was read has no file size");
    std::vector<uint8_t> block(static_cast<size_t>(size));
    VeMemoryStream stream;
    FuzzCheck(stream.Attach(block.data(), static_cast<uint32_t>(block.size()), VeMemoryStream::kCheckWrite),
              "cannot open the output block");
    FuzzCheck(WriteWav(stream, data), "audio that was read cannot be written");
    FuzzCheck(stream.Tell() == block.size(), "written length differs from the header's");
    return block;
}

bool ReadChunks(std::vector<uint8_t>& bytes, VeAudioData& data, TaskProgress* progress) {
    VeMemoryStream stream;
    FuzzCheck(stream.Attach(bytes.data(), static_cast<uint32_t>(bytes.size()), VeMemoryStream::kCheckRead),
              "cannot open the input block");
    return ReadWavChunks(stream, data, progress);
}

}  // namespace

void RunWavProbe(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("input.wav", bytes);
    VeAudioFormat header;
    if (ProbeWav(path, header) && FrameLayoutOf(header) && header.block_align != 0)
        FuzzCheck(header.frames == header.data_bytes / header.block_align, "frames differ from the data size");
    workspace.CheckUnchanged(path, bytes);
    workspace.CheckNoTemporaryFiles();
}

void RunWavChunks(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > UINT32_MAX) return;  // a memory stream needs a block
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    VeAudioData data;
    TaskProgress progress;
    progress.Reset(kProgressTotal);
    const bool ok = ReadChunks(input, data, &progress);
    CheckOutcome(progress, ok);
    if (!ok) {
        FuzzCheck(data.IsEmpty(), "a failed read left audio behind");
    } else if (!data.IsEmpty()) {
        CheckLoaded(data, bytes.size());
        // What was accepted is audio the writer can write, and writing what was read back
        // gives the same file again.
        std::vector<uint8_t> first = Written(data);
        VeAudioData again;
        FuzzCheck(ReadChunks(first, again, nullptr), "a written file cannot be read");
        FuzzCheck(again.ChannelSet().frames == data.ChannelSet().frames &&
                      again.ChannelSet().channels == data.ChannelSet().channels,
                  "a written file reads back with another length");
        FuzzCheck(Written(again) == first, "a written file reads back as other audio");
    }
    FuzzCheck(std::equal(input.begin(), input.end(), bytes.begin()), "the reader wrote into its input");
    data.Reset();
    FuzzWorkspace::Instance().CheckNoTemporaryFiles();
}

void RunLoadWav(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("input.wav", bytes);
    {
        VeAudioData data;
        TaskProgress progress;
        progress.Reset(kProgressTotal);
        const bool ok = LoadWav(data, path, &progress);
        CheckOutcome(progress, ok);
        // A decoded source may well be longer than its file; one read directly cannot be.
        VeAudioFormat probed;
        const bool direct = ProbeWav(path, probed) && FrameLayoutOf(probed);
        if (!ok)
            FuzzCheck(data.IsEmpty(), "a failed load left audio behind");
        else
            CheckLoaded(data, direct ? bytes.size() : UINT64_MAX);
    }
    workspace.CheckUnchanged(path, bytes);
    workspace.CheckNoTemporaryFiles();
}

}  // namespace chm::fuzz
