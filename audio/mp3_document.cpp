#include "audio/mp3_document.h"

#include <cmath>
#include <memory>

#include "audio/byte_stream.h"
#include "audio/lame_encoder.h"
#include "audio/mp3_decoder.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"

namespace chm {
namespace {

// A "~Ve" file in the temporary folder, deleted when it goes, whatever path the work took.
class TemporaryWav {
public:
    TemporaryWav() : path_(MakeTempFileName()) {}
    ~TemporaryWav() {
        if (!path_.empty() && PathExists(path_)) RemoveFile(path_);
    }
    TemporaryWav(const TemporaryWav&) = delete;
    TemporaryWav& operator=(const TemporaryWav&) = delete;

    bool IsReserved() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

bool Cancelled(const TaskProgress* progress) { return progress && progress->IsCancelled(); }

uint32_t Share(const TaskProgress* progress, double fraction) {
    return progress ? static_cast<uint32_t>(std::trunc(progress->Total() * fraction)) : 0;
}

std::unique_ptr<ChildProgress> Child(TaskProgress* progress, uint32_t units) {
    return progress ? progress->MakeChild(units) : nullptr;
}

bool Finish(TaskProgress* progress, bool ok) {
    if (progress) {
        if (ok)
            progress->Complete();
        else
            progress->Fail();
    }
    return ok;
}

}  // namespace

VeMp3Document::VeMp3Document() : VeAudioDocument(std::make_unique<VeMp3MediaInfo>()) {}

bool VeMp3Document::Load(const std::string& path, TaskProgress* progress) {
    // 1.
    if (path.empty() || !PathExists(path)) return false;
    // 2. A source without readable tags still loads.
    properties_.ReadMediaProperties(path);
    // 3.
    if (Cancelled(progress)) return Finish(progress, false);
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t decode_units = Share(progress, 0.5);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    // 4.
    TemporaryWav temporary;
    bool ok = temporary.IsReserved();
    // 5.
    if (ok) {
        auto child = Child(progress, decode_units);
        ok = DecodeMp3ToWav(temporary.Path(), path, child.get());
    }
    // 6.
    if (ok) {
        auto child = Child(progress, total - decode_units);
        ok = LoadWav(AudioData(), temporary.Path(), child.get());
    }
    // 7. The temporary file goes with `temporary`.
    return Finish(progress, ok);
}

bool VeMp3Document::LoadFromStream(VeByteStream&, TaskProgress* progress) {
    Reset();
    return Finish(progress, false);
}

bool VeMp3Document::LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) {
    if (path.empty() || first_ms == end_ms) return false;
    if (!IsEmpty()) Reset();
    TemporaryWav temporary;
    if (!temporary.IsReserved()) return false;
    // A failed decode may leave a partial file whose header promises more: never read it.
    if (!DecodeMp3ExcerptToWav(temporary.Path(), path, first_ms, end_ms)) return false;
    return LoadWav(AudioData(), temporary.Path(), nullptr);
}

bool VeMp3Document::EncodeReady(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    return GetLameEncoder().Encode(path, data, progress);
}

bool VeMp3Document::Save(const std::string& path, TaskProgress* progress) {
    bool ok = false;
    if (AudioData().IsReadyToWrite()) {
        // 1.
        ok = EncodeReady(AudioData(), path, progress);
    } else {
        // 2.
        const uint32_t total = progress ? progress->Total() : 0;
        const uint32_t copy_units = Share(progress, 0.2);
        VeAudioData copy;
        {
            auto child = Child(progress, copy_units);
            ok = AudioData().CopyTo(copy, child.get());
        }
        if (ok) {
            auto child = Child(progress, total - copy_units);
            ok = EncodeReady(copy, path, child.get());
        }
        Finish(progress, ok);
    }
    // 3. The audio is saved whether or not the properties can be written.
    if (ok && properties_.HasContent()) properties_.WriteMediaProperties(path);
    return ok;
}

bool VeMp3Document::SaveToStream(VeByteStream& stream, TaskProgress* progress) {
    if (!Cancelled(progress) && stream.IsOpen() && !AudioData().IsReadyToWrite()) {
        // The plain copy is made as for a real save; the write itself is refused.
        VeAudioData copy;
        auto child = Child(progress, Share(progress, 0.1));
        AudioData().CopyTo(copy, child.get());
    }
    return Finish(progress, false);
}

}  // namespace chm
