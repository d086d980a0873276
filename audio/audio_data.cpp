#include "audio/audio_data.h"

#include <cstdint>

#include "engine/task_progress.h"

namespace chm {

bool VeAudioData::SetFromPcmBlock(std::span<const uint8_t> block) { return format_.SetFromPcmBlock(block); }

void VeAudioData::ClearHeader() { format_.Clear(); }

bool VeAudioData::IsEmpty() const { return format_.IsEmpty() && set_.IsEmpty(); }

bool VeAudioData::IsValid() const { return format_.IsComplete() && set_.IsValid(); }

bool VeAudioData::IsReadyToWrite() const { return IsEmpty() || (IsValid() && set_.IsPlain()); }

void VeAudioData::Reset() {
    ClearHeader();
    set_.Clear();
}

bool VeAudioData::CreateSilence(bool stereo, uint32_t frames, uint32_t rate) {
    if (!IsEmpty() || frames == 0 || rate == 0) return false;
    const uint16_t block_align = stereo ? 4 : 2;
    // Both byte counts are 32-bit fields: audio whose counts do not fit cannot be described.
    const uint64_t avg_bytes = uint64_t{block_align} * rate;
    const uint64_t data_bytes = uint64_t{block_align} * frames;
    if (avg_bytes > UINT32_MAX || data_bytes > UINT32_MAX) return false;
    format_.format_tag = VeAudioFormat::kPcmTag;
    format_.channels = stereo ? 2 : 1;
    format_.block_align = block_align;
    format_.bits_per_sample = 16;
    format_.sample_rate = rate;
    format_.avg_bytes_per_sec = static_cast<uint32_t>(avg_bytes);
    format_.extra_size = 0;
    format_.frames = frames;
    format_.data_bytes = static_cast<uint32_t>(data_bytes);
    if (!set_.Allocate(format_.channels, frames, rate)) {
        Reset();
        return false;
    }
    return true;
}

bool VeAudioData::CopyFrom(VeAudioData& other, TaskProgress* progress) {
    if (&other == this) return true;
    Reset();
    format_ = other.format_;
    if (!set_.CopyFrom(other.set_, progress)) {
        Reset();
        return false;
    }
    return true;
}

bool VeAudioData::CopyTo(VeAudioData& out, TaskProgress* progress) {
    // Copying onto itself would destroy the source; a plain object needs no copy at all.
    if (&out == this) return IsValid() && set_.IsPlain();
    auto fail = [&] {
        out.Reset();
        if (progress) progress->Fail();
        return false;
    };
    if (!IsValid() || (progress && progress->IsCancelled())) return fail();
    if (set_.IsPlain()) return out.CopyFrom(*this, progress) || fail();
    out.Reset();
    out.format_ = format_;
    if (!set_.CopyPlain(out.set_, progress)) return fail();
    return true;
}

void VeAudioData::TakeFrom(VeAudioData& other) {
    if (&other == this) return;
    Reset();
    format_ = std::move(other.format_);
    set_ = std::move(other.set_);
    other.Reset();
}

void VeAudioData::PatchHeaderToMono() {
    format_.block_align /= 2;
    format_.channels = 1;
    format_.avg_bytes_per_sec /= 2;
}

}  // namespace chm
