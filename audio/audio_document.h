#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_data.h"
#include "audio/media_info.h"

namespace chm {

class TaskProgress;
class VeByteStream;

// The interface of a per-format document (MP3, WMA): it owns the decoded audio and the
// information of its source. Loading and saving are the format's own; the rest is shared.
class VeAudioDocument {
public:
    virtual ~VeAudioDocument() = default;
    VeAudioDocument(const VeAudioDocument&) = delete;
    VeAudioDocument& operator=(const VeAudioDocument&) = delete;

    virtual bool IsEmpty() const;
    virtual bool IsValid() const;
    virtual bool IsMono() const;
    virtual bool IsStereo() const;
    virtual bool IsReadyToWrite() const;
    virtual double Duration() const;
    // Only when the document is empty and both numbers are non-zero.
    virtual bool CreateSilence(bool stereo, uint32_t milliseconds, uint32_t rate);
    virtual void Reset();
    virtual bool Load(const std::string& path, TaskProgress* progress) = 0;
    virtual bool LoadFromStream(VeByteStream& stream, TaskProgress* progress) = 0;
    virtual bool LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) = 0;
    virtual bool Save(const std::string& path, TaskProgress* progress) = 0;
    virtual bool SaveToStream(VeByteStream& stream, TaskProgress* progress) = 0;
    virtual bool MixToMono();
    virtual bool FoldToMono(int method, TaskProgress* progress);

    const VeAudioData& Audio() const { return audio_; }
    const VeMediaInfo& Info() const { return *info_; }

protected:
    // info is the format's own kind of media information; none gives the plain one.
    explicit VeAudioDocument(std::unique_ptr<VeMediaInfo> info = nullptr);

    // The formats' loaders and savers fill and read these.
    VeAudioData& AudioData() { return audio_; }
    VeMediaInfo& MediaInfo() { return *info_; }

private:
    VeAudioData audio_;
    std::unique_ptr<VeMediaInfo> info_;
};

}  // namespace chm
