#pragma once
#include <cstdint>
#include <span>

#include "audio/audio_format.h"
#include "audio/channel_set.h"

namespace chm {

class TaskProgress;

// Decoded audio: its format header and its channels, whose samples live in temporary files.
class VeAudioData {
public:
    VeAudioData() = default;
    virtual ~VeAudioData() = default;
    VeAudioData(const VeAudioData&) = delete;
    VeAudioData& operator=(const VeAudioData&) = delete;

    virtual bool SetFromPcmBlock(std::span<const uint8_t> block);
    // Frees the extra bytes and zeroes every header field.
    virtual void ClearHeader();

    VeAudioFormat& Format() { return format_; }
    const VeAudioFormat& Format() const { return format_; }
    VeChannelSet& ChannelSet() { return set_; }
    const VeChannelSet& ChannelSet() const { return set_; }

    bool IsEmpty() const;
    bool IsValid() const;
    // Empty, or valid and plain: the writers read the stores' pages directly.
    bool IsReadyToWrite() const;
    double Duration() const { return set_.Duration(); }

    void Reset();
    // Only on an empty object: a 16-bit PCM header and zeroed channels.
    bool CreateSilence(bool stereo, uint32_t frames, uint32_t rate);
    // Header and channels copied; on failure this object is reset.
    bool CopyFrom(VeAudioData& other, TaskProgress* progress = nullptr);
    // out becomes a writable (plain) copy of this valid object; on failure out is reset.
    bool CopyTo(VeAudioData& out, TaskProgress* progress = nullptr);
    // This object's contents are released and replaced by the other's; the other is left empty.
    void TakeFrom(VeAudioData& other);

    // Stereo becomes mono by `method` (a ConversionMethod value); the header follows.
    bool FoldToMono(int method, TaskProgress* progress = nullptr);
    // Sums the channels into one; the header follows.
    bool MixToMono();

private:
    // A stereo header becomes the mono one of the same encoding.
    void PatchHeaderToMono();

    VeAudioFormat format_;
    VeChannelSet set_;
};

}  // namespace chm
