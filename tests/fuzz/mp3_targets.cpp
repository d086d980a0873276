// The MP3 readers on arbitrary bytes: the information query and the whole decode to a WAV file,
// whose result must be a WAV file that the program's own reader takes as it is.
#include <filesystem>
#include <system_error>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/fuzz/fuzz_support.h"

namespace chm::fuzz {

void RunMp3Info(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("input.mp3", bytes);
    int32_t channels = -1, rate = -1, bit_rate = -1;
    double duration = -1.0;
    if (QueryMp3Info(path, &channels, &rate, &bit_rate, &duration)) {
        FuzzCheck(channels == 1 || channels == 2, "an MP3 stream has neither one nor two channels");
        FuzzCheck(rate > 0, "an MP3 stream without a sample rate");
        FuzzCheck(bit_rate >= 0 && duration >= 0.0, "negative bit rate or duration");
    }
    workspace.CheckUnchanged(path, bytes);
    workspace.CheckNoTemporaryFiles();
}

void RunMp3Decode(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("input.mp3", bytes);
    const std::string wav = workspace.OutputPath("decoded.wav");
    TaskProgress progress;
    progress.Reset(1000);
    const bool ok = DecodeMp3ToWav(wav, path, &progress);
    FuzzCheck(ok != progress.IsFailed(), "the progress does not tell the outcome");
    if (ok) {
        // The header promises exactly what the file holds.
        VeAudioFormat header;
        FuzzCheck(ProbeWav(wav, header), "the decoded file is no WAV file");
        FuzzCheck(header.format_tag == VeAudioFormat::kPcmTag && header.bits_per_sample == 16,
                  "the decoded file is not 16-bit PCM");
        FuzzCheck(header.channels == 1 || header.channels == 2, "the decoded file has neither one nor two channels");
        std::error_code ec;
        FuzzCheck(std::filesystem::file_size(wav, ec) == 44 + uint64_t{header.data_bytes} && !ec,
                  "the decoded file's length differs from its header");
        VeAudioData data;
        FuzzCheck(LoadWav(data, wav), "the decoded file cannot be loaded");
        FuzzCheck(data.ChannelSet().frames == header.frames, "the decoded file loads with another length");
        // The search judges files by the query: it must see the stream the decoder saw.
        int32_t channels = 0, rate = 0;
        FuzzCheck(QueryMp3Info(path, &channels, &rate, nullptr, nullptr), "decodable, but the query fails");
        FuzzCheck(channels == header.channels && static_cast<uint32_t>(rate) == header.sample_rate,
                  "the query and the decoder disagree about the stream");
    }
    RemoveFile(wav);  // the caller's business, as in the MP3 document
    workspace.CheckUnchanged(path, bytes);
    workspace.CheckNoTemporaryFiles();
}

}  // namespace chm::fuzz
