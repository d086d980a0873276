#include "wm/format_document.h"

#include <memory>

#include "audio/byte_stream.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "wm/decoding_graph.h"
#include "wm/format_encoder.h"
#include "wm/format_presets.h"

namespace chm {

VeFormatDocument::VeFormatDocument(const FormatPreset& preset)
    : VeAudioDocument(std::make_unique<VeFormatMediaInfo>(preset.type)), preset_(preset) {}

bool VeFormatDocument::Load(const std::string& path, TaskProgress* progress) {
    // A source without readable tags still loads; the information tells the AAC encoder the
    // source's bit rate.
    tags_.Read(path);
    MediaInfo().Reset();
    ProbeFormatFile(static_cast<VeFormatMediaInfo&>(MediaInfo()), path);
    if (IsCancelled(progress) || path.empty()) return FinishProgress(progress, false);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t decode_units = ProgressShare(progress, 0.1);
    // Named as a WAV file: a depth that the WAV reader does not read itself is decoded again
    // from it, by its name.
    TemporaryFile temporary;
    bool ok = temporary.Reserve("wav");
    if (ok) {
        auto child = MakeChildProgress(progress, decode_units);
        ok = DecodeToWav(path, temporary.Path(), child.get(), preset_.lossless ? PcmDepth::Source : PcmDepth::Sixteen);
    }
    if (ok) {
        auto child = MakeChildProgress(progress, total - decode_units);
        ok = LoadWav(AudioData(), temporary.Path(), child.get());
    }
    return FinishProgress(progress, ok);
}

bool VeFormatDocument::LoadFromStream(VeByteStream&, TaskProgress* progress) {
    Reset();
    return FinishProgress(progress, false);
}

bool VeFormatDocument::LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) {
    if (path.empty() || first_ms == end_ms) return false;
    if (!IsEmpty()) Reset();
    TemporaryFile temporary;
    if (!temporary.Reserve()) return false;
    if (!DecodeRangeToWav(path, temporary.Path(), first_ms, end_ms)) return false;
    return LoadWav(AudioData(), temporary.Path(), nullptr);
}

bool VeFormatDocument::Save(const std::string& path, TaskProgress* progress) {
    if (IsCancelled(progress) || path.empty() || !AudioData().IsValid()) return FinishProgress(progress, false);
    bool ok = false;
    if (!AudioData().IsReadyToWrite()) {
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
    // The audio is saved whether or not the tags can be written.
    if (ok && tags_.HasContent()) tags_.Write(path);
    return FinishProgress(progress, ok);
}

bool VeFormatDocument::SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t wav_units = ProgressShare(progress, 0.2);
    TemporaryFile temporary;
    if (!temporary.Reserve("wav")) return FinishProgress(progress, false);
    bool ok = false;
    {
        auto child = MakeChildProgress(progress, wav_units);
        ok = SaveWav(data, temporary.Path(), child.get());
    }
    if (ok) {
        FormatEncodeSettings settings;
        settings.bits = data.Format().bits_per_sample;
        settings.sample_rate = data.Format().sample_rate;
        settings.duration = data.Duration();
        settings.bitrate = Info().bit_rate > 0 ? static_cast<uint32_t>(Info().bit_rate) : 0;
        auto child = MakeChildProgress(progress, total - wav_units);
        ok = EncodeWavToFormat(preset_, temporary.Path(), path, settings, child.get());
    }
    return FinishProgress(progress, ok);
}

bool VeFormatDocument::SaveToStream(VeByteStream& stream, TaskProgress* progress) {
    if (!IsCancelled(progress) && stream.IsOpen() && !AudioData().IsReadyToWrite()) {
        VeAudioData copy;
        auto child = MakeChildProgress(progress, ProgressShare(progress, 0.1));
        AudioData().CopyTo(copy, child.get());
    }
    return FinishProgress(progress, false);
}

}  // namespace chm
