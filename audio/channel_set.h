#pragma once
#include <cstdint>

#include "audio/channel.h"

namespace chm {

class TaskProgress;

// The decoded audio: up to two channels of float samples of `frames` samples each.
class VeChannelSet {
public:
    uint16_t channels = 0;
    uint32_t frames = 0;
    uint32_t sample_rate = 0;
    VeChannel left;   // channel 0, the only one of a mono set
    VeChannel right;  // channel 1, empty in a mono set

    VeChannelSet() = default;
    VeChannelSet(VeChannelSet&& other) noexcept;
    // Clears this set before taking the other's channels.
    VeChannelSet& operator=(VeChannelSet&& other) noexcept;
    VeChannelSet(const VeChannelSet&) = delete;
    VeChannelSet& operator=(const VeChannelSet&) = delete;

    bool IsEmpty() const;
    bool IsValid() const;
    bool IsMono() const;
    bool IsStereo() const;
    // Empty, or valid with every channel in use plain: what the writers need.
    bool IsPlain() const;
    double Duration() const;

    // Only on an empty set: channels 1..2, frames and rate non-zero; one zeroed store per
    // channel. Any failure leaves the set empty.
    bool Allocate(uint16_t channel_count, uint32_t frame_count, uint32_t rate);
    // This set becomes a copy of other with stores of its own. Checks the cancel flag at entry
    // and before the right channel; any failure leaves this set empty.
    bool CopyFrom(VeChannelSet& other, TaskProgress* progress = nullptr);
    // out becomes a plain copy of this set (offsets applied, silence filled in).
    bool CopyPlain(VeChannelSet& out, TaskProgress* progress = nullptr);
    // Counts zero, both channels released with their temporary files.
    void Clear();

private:
    enum class CopyKind { Straight, Plain };
    bool CopyInto(VeChannelSet& out, CopyKind kind, TaskProgress* progress);
};

}  // namespace chm
