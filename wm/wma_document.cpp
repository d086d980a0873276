#include "wm/wma_document.h"

#include <cmath>
#include <memory>

#include "audio/byte_stream.h"
#include "audio/temp_file.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "wm/asf_probe.h"
#include "wm/decoding_graph.h"
#include "wm/wma_writer.h"

namespace chm {
namespace {

// A reserved temporary file, deleted when it goes, whatever path the work took.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& extension = {}) : path_(MakeTempFileName(extension)) {}
    ~TemporaryFile() {
        if (!path_.empty() && PathExists(path_)) RemoveFile(path_);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

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

VeWmaDocument::VeWmaDocument() : VeAudioDocument(std::make_unique<VeWmaMediaInfo>()) {}

bool VeWmaDocument::Load(const std::string& path, TaskProgress* progress) {
    // A source without readable tags still loads.
    properties_.ReadMediaProperties(path);
    // 1.-2.
    if (Cancelled(progress) || path.empty()) return Finish(progress, false);
    // A failed load must not leave the audio of an earlier one behind.
    AudioData().Reset();
    // 3.
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t decode_units = Share(progress, 0.1);
    // 4.
    TemporaryFile temporary;
    bool ok = temporary.IsReserved();
    // 5.
    if (ok) {
        auto child = Child(progress, decode_units);
        ok = DecodeToWav(path, temporary.Path(), child.get());
    }
    // 6.
    if (ok) {
        auto child = Child(progress, total - decode_units);
        ok = LoadWav(AudioData(), temporary.Path(), child.get());
    }
    // 7. The temporary file goes with `temporary`. 8.
    return Finish(progress, ok);
}

bool VeWmaDocument::LoadFromStream(VeByteStream&, TaskProgress* progress) {
    Reset();
    return Finish(progress, false);
}

bool VeWmaDocument::LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) {
    if (path.empty() || first_ms == end_ms) return false;
    if (!IsEmpty()) Reset();
    TemporaryFile temporary;
    if (!temporary.IsReserved()) return false;
    // A failed decode leaves nothing worth reading.
    if (!DecodeRangeToWav(path, temporary.Path(), first_ms, end_ms)) return false;
    return LoadWav(AudioData(), temporary.Path(), nullptr);
}

bool VeWmaDocument::Save(const std::string& path, TaskProgress* progress) {
    // 1.
    if (Cancelled(progress) || path.empty() || !AudioData().IsValid()) return Finish(progress, false);
    bool ok = false;
    if (!AudioData().IsReadyToWrite()) {
        // 2.
        const uint32_t total = progress ? progress->Total() : 0;
        const uint32_t copy_units = Share(progress, 0.1);
        VeAudioData copy;
        {
            auto child = Child(progress, copy_units);
            ok = AudioData().CopyTo(copy, child.get());
        }
        if (ok) {
            auto child = Child(progress, total - copy_units);
            ok = SaveAudio(copy, path, child.get());
        }
    } else {
        ok = SaveAudio(AudioData(), path, progress);
    }
    // 8. The audio is saved whether or not the properties can be written.
    if (ok && properties_.HasContent()) properties_.WriteMediaProperties(path);
    // 9.
    return Finish(progress, ok);
}

// Steps 3 to 7 of a save, for audio that is ready to write.
bool VeWmaDocument::SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    // 3.
    const uint32_t total = progress ? progress->Total() : 0;
    const uint32_t wav_units = Share(progress, 0.2);
    // 4.
    TemporaryFile temporary("wav");
    if (!temporary.IsReserved()) return Finish(progress, false);
    // 5.
    bool ok = false;
    {
        auto child = Child(progress, wav_units);
        ok = SaveWav(data, temporary.Path(), child.get());
    }
    // 6.
    if (ok) {
        auto child = Child(progress, total - wav_units);
        ok = EncodeWavToWma(temporary.Path(), path, child.get());
    }
    // 7. The temporary file goes with `temporary`.
    return Finish(progress, ok);
}

bool VeWmaDocument::SaveToStream(VeByteStream& stream, TaskProgress* progress) {
    if (!Cancelled(progress) && stream.IsOpen() && !AudioData().IsReadyToWrite()) {
        // The plain copy is made as for a real save; the write itself is refused.
        VeAudioData copy;
        auto child = Child(progress, Share(progress, 0.1));
        AudioData().CopyTo(copy, child.get());
    }
    return Finish(progress, false);
}

}  // namespace chm
