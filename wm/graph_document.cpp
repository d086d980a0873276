#include "wm/graph_document.h"

#include "audio/byte_stream.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"

namespace chm {

bool VeGraphDocument::Load(const std::string& path, TaskProgress* progress) {
    // A source without readable tags still loads.
    ReadSource(path);
    // 1.-2.
    if (IsCancelled(progress) || path.empty()) return FinishProgress(progress, false);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    // 3.
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t decode_units = ProgressShare(progress, 0.1);
    // 4. Named as a WAV file: a layout that the WAV reader does not read itself is decoded
    // again from it, by its name.
    TemporaryFile temporary;
    bool ok = temporary.Reserve("wav");
    // 5.
    if (ok) {
        auto child = MakeChildProgress(progress, decode_units);
        ok = DecodeToWav(path, temporary.Path(), child.get(), DecodeDepth());
    }
    // 6.
    if (ok) {
        auto child = MakeChildProgress(progress, total - decode_units);
        ok = LoadWav(AudioData(), temporary.Path(), child.get());
    }
    // 7. The temporary file goes with `temporary`. 8.
    return FinishProgress(progress, ok);
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
