#include "audio/mp3_document.h"

#include <memory>

#include "audio/byte_stream.h"
#include "audio/lame_encoder.h"
#include "audio/mp3_decoder.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"

namespace chm {

VeMp3Document::VeMp3Document() : VeAudioDocument(std::make_unique<VeMp3MediaInfo>()) {}

bool VeMp3Document::Load(const std::string& path, TaskProgress* progress) {
    // 1.
    if (path.empty() || !PathExists(path)) return false;
    // 2. A source without readable tags still loads.
    properties_.ReadMediaPropertiesAs(path, AudioFileType::Mp3);
    // 3.
    if (IsCancelled(progress)) return FinishProgress(progress, false);
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t decode_units = ProgressShare(progress, 0.5);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    // 4.
    TemporaryFile temporary;
    bool ok = temporary.Reserve();
    // 5.
    if (ok) {
        auto child = MakeChildProgress(progress, decode_units);
        ok = DecodeMp3ToWav(temporary.Path(), path, child.get());
    }
    // 6.
    if (ok) {
        auto child = MakeChildProgress(progress, total - decode_units);
        ok = LoadWav(AudioData(), temporary.Path(), child.get());
    }
    // 7. The temporary file goes with `temporary`.
    return FinishProgress(progress, ok);
}

bool VeMp3Document::LoadFromStream(VeByteStream&, TaskProgress* progress) {
    Reset();
    return FinishProgress(progress, false);
}

bool VeMp3Document::LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) {
    if (path.empty() || first_ms == end_ms) return false;
    if (!IsEmpty()) Reset();
    TemporaryFile temporary;
    if (!temporary.Reserve()) return false;
    // A failed decode may leave a partial file whose header promises more: never read it.
    if (!DecodeMp3ExcerptToWav(temporary.Path(), path, first_ms, end_ms)) return false;
    return LoadWav(AudioData(), temporary.Path(), nullptr);
}

bool VeMp3Document::EncodeReady(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    VeLameEncoder& encoder = GetLameEncoder();
    if (!encoder.IsUsable() && progress && !progress->IsCancelled())
        progress->Fail("the MP3 encoder is not installed (" + std::string(kLameLibraryName) + ")");
    return encoder.Encode(path, data, progress);
}

bool VeMp3Document::Save(const std::string& path, TaskProgress* progress) {
    bool ok = false;
    if (AudioData().IsReadyToWrite()) {
        // 1.
        ok = EncodeReady(AudioData(), path, progress);
    } else {
        // 2.
        const uint32_t total = progress ? progress->Total() : 0;
        const uint32_t copy_units = ProgressShare(progress, 0.2);
        VeAudioData copy;
        {
            auto child = MakeChildProgress(progress, copy_units);
            ok = AudioData().CopyTo(copy, child.get());
        }
        if (ok) {
            auto child = MakeChildProgress(progress, total - copy_units);
            ok = EncodeReady(copy, path, child.get());
        }
        FinishProgress(progress, ok);
    }
    // 3. The audio is saved whether or not the properties can be written.
    if (ok && properties_.HasContent()) properties_.WriteMediaPropertiesAs(path, AudioFileType::Mp3);
    return ok;
}

bool VeMp3Document::SaveToStream(VeByteStream& stream, TaskProgress* progress) {
    if (!IsCancelled(progress) && stream.IsOpen() && !AudioData().IsReadyToWrite()) {
        // The plain copy is made as for a real save; the write itself is refused.
        VeAudioData copy;
        auto child = MakeChildProgress(progress, ProgressShare(progress, 0.1));
        AudioData().CopyTo(copy, child.get());
    }
    return FinishProgress(progress, false);
}

}  // namespace chm
