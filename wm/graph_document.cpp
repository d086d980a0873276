#include "wm/graph_document.h"

#include <span>

#include "audio/byte_stream.h"
#include "audio/pcm_appender.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "wm/graph_failure.h"

namespace chm {

namespace {

// The decoded stream goes straight into the document's stores: the header as the WAV reader
// would have read it from the decode's WAV file, the samples page by page as they arrive.
class AudioDataReceiver : public PcmReceiver {
public:
    explicit AudioDataReceiver(VeAudioData& data) : data_(data) {}

    bool Begin(const VeAudioFormat& format, uint64_t expected_frames) override {
        expected_frames_ = expected_frames;
        data_.Format() = format;
        return appender_.Start(data_.ChannelSet(), format, expected_frames);
    }
    bool Receive(std::span<const uint8_t> bytes) override { return appender_.Append(bytes); }
    bool End() override {
        if (!appender_.Finish()) return false;
        // The sizes are 32-bit header fields, as in the WAV file that the decode used to write.
        const uint64_t bytes = appender_.Frames() * data_.Format().block_align;
        if (bytes > UINT32_MAX) return false;
        data_.Format().frames = static_cast<uint32_t>(appender_.Frames());
        data_.Format().data_bytes = static_cast<uint32_t>(bytes);
        return data_.IsValid();
    }
    // What the decoder's start promised, where the headers read beforehand told nothing.
    uint64_t ExpectedFrames() const { return expected_frames_; }

private:
    VeAudioData& data_;
    VePcmAppender appender_;
    uint64_t expected_frames_ = 0;
};

// Of the load's progress: the decoder's start; the samples' arrival in the stores takes the rest.
constexpr double kDecodeShare = 0.1;

}  // namespace

bool VeGraphDocument::Load(const std::string& path, TaskProgress* progress) {
    // A source without readable tags still loads.
    ReadSource(path);
    if (IsCancelled(progress) || path.empty()) return FinishProgress(progress, false);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    // The decoder's samples go into the stores as they come, without a temporary file between.
    AudioDataReceiver receiver(AudioData());
    const bool ok = DecodeSource(path, receiver, progress);
    if (!ok) AudioData().Reset();
    // The headers' length, read before the decode, is the promise (the decoding graph, fed by
    // push, may only have estimated it); the decoder's own where the headers could not be read.
    const uint32_t rate = AudioData().Format().sample_rate;
    const double promised = Info().duration > 0 ? Info().duration
                            : rate > 0          ? static_cast<double>(receiver.ExpectedFrames()) / rate
                                                : 0.0;
    const bool lossless = DecodeDepth() == PcmDepth::Source || DecodeDepth() == PcmDepth::Source24;
    if (ok && progress) progress->AddNote(ShortfallNote(AudioData().Format().frames, promised, rate, lossless));
    return FinishProgress(progress, ok);
}

bool VeGraphDocument::DecodeSource(const std::string& path, PcmReceiver& receiver, TaskProgress* progress) {
    return DecodeToPcm(path, receiver, progress, DecodeDepth(), kDecodeShare);
}

bool VeGraphDocument::LoadFromStream(VeByteStream&, TaskProgress* progress) {
    Reset();
    return FinishProgress(progress, false);
}

bool VeGraphDocument::LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) {
    if (path.empty() || first_ms == end_ms) return false;
    if (!IsEmpty()) Reset();
    TemporaryFile temporary;
    if (!temporary.Reserve()) return false;
    // A failed decode leaves nothing worth reading.
    if (!DecodeRangeToWav(path, temporary.Path(), first_ms, end_ms)) return false;
    return LoadWav(AudioData(), temporary.Path(), nullptr);
}

bool VeGraphDocument::Save(const std::string& path, TaskProgress* progress) {
    // 1.
    if (IsCancelled(progress) || path.empty() || !AudioData().IsValid()) return FinishProgress(progress, false);
    bool ok = false;
    if (!AudioData().IsReadyToWrite()) {
        // 2.
        const uint32_t total = progress ? progress->Total() : 0;
        const uint32_t copy_units = ProgressShare(progress, 0.1);
        VeAudioData copy;
        {
            auto child = MakeChildProgress(progress, copy_units);
            ok = AudioData().CopyTo(copy, child.get());
        }
        if (ok) {
            auto child = MakeChildProgress(progress, total - copy_units);
            ok = SaveAudio(copy, path, child.get());
        }
    } else {
        ok = SaveAudio(AudioData(), path, progress);
    }
    // 8. The audio is saved whether or not the tags can be written.
    if (ok) WriteTags(path);
    // 9.
    return FinishProgress(progress, ok);
}

// Steps 3 to 7 of a save, for audio that is ready to write.
bool VeGraphDocument::SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    // 3.
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t wav_units = ProgressShare(progress, 0.2);
    // 4.
    TemporaryFile temporary;
    if (!temporary.Reserve("wav")) return FinishProgress(progress, false);
    // 5.
    bool ok = false;
    {
        auto child = MakeChildProgress(progress, wav_units);
        ok = SaveWav(data, temporary.Path(), child.get());
    }
    // 6.
    if (ok) {
        auto child = MakeChildProgress(progress, total - wav_units);
        ok = Encode(temporary.Path(), path, data, child.get());
    }
    // 7. The temporary file goes with `temporary`.
    return FinishProgress(progress, ok);
}

bool VeGraphDocument::SaveToStream(VeByteStream& stream, TaskProgress* progress) {
    if (!IsCancelled(progress) && stream.IsOpen() && !AudioData().IsReadyToWrite()) {
        // The plain copy is made as for a real save; the write itself is refused.
        VeAudioData copy;
        auto child = MakeChildProgress(progress, ProgressShare(progress, 0.1));
        AudioData().CopyTo(copy, child.get());
    }
    return FinishProgress(progress, false);
}

}  // namespace chm
