#include "audio/channel_set.h"

#include <cstdint>
#include <utility>

#include "engine/task_progress.h"

namespace chm {

VeChannelSet::VeChannelSet(VeChannelSet&& other) noexcept
    : channels(std::exchange(other.channels, 0)),
      frames(std::exchange(other.frames, 0)),
      sample_rate(std::exchange(other.sample_rate, 0)),
      left(std::move(other.left)),
      right(std::move(other.right)) {}

VeChannelSet& VeChannelSet::operator=(VeChannelSet&& other) noexcept {
    if (this != &other) {
        Clear();
        channels = std::exchange(other.channels, 0);
        frames = std::exchange(other.frames, 0);
        sample_rate = std::exchange(other.sample_rate, 0);
        left = std::move(other.left);
        right = std::move(other.right);
    }
    return *this;
}

bool VeChannelSet::IsEmpty() const {
    return channels == 0 && frames == 0 && sample_rate == 0 && left.IsEmpty() && right.IsEmpty();
}

bool VeChannelSet::IsValid() const {
    if ((channels != 1 && channels != 2) || frames == 0 || sample_rate == 0 || !left.IsValid()) return false;
    return channels == 1 || right.IsValid();
}

bool VeChannelSet::IsMono() const { return channels == 1 && left.IsValid(); }

bool VeChannelSet::IsStereo() const { return channels == 2 && left.IsValid() && right.IsValid(); }

bool VeChannelSet::IsPlain() const {
    if (IsEmpty()) return true;
    return IsValid() && left.IsPlain() && (channels == 1 || right.IsPlain());
}

double VeChannelSet::Duration() const {
    return sample_rate == 0 ? 0.0 : static_cast<double>(frames) / static_cast<double>(sample_rate);
}

bool VeChannelSet::Allocate(uint16_t channel_count, uint32_t frame_count, uint32_t rate) {
    // A channel's length is a signed 32-bit count: longer audio cannot be held.
    if (!IsEmpty() || channel_count < 1 || channel_count > 2 || frame_count == 0 || rate == 0 ||
        frame_count > static_cast<uint32_t>(INT32_MAX))
        return false;
    for (uint16_t c = 0; c < channel_count; ++c) {
        VeChannel& channel = c == 0 ? left : right;
        channel.store = std::make_unique<VeSampleStore>();
        if (!channel.store->Create(frame_count)) {
            Clear();
            return false;
        }
        channel.length = static_cast<int32_t>(frame_count);
    }
    channels = channel_count;
    frames = frame_count;
    sample_rate = rate;
    return true;
}

bool VeChannelSet::CopyFrom(VeChannelSet& other, TaskProgress* progress) {
    return other.CopyInto(*this, CopyKind::Straight, progress);
}

bool VeChannelSet::CopyPlain(VeChannelSet& out, TaskProgress* progress) {
    return CopyInto(out, CopyKind::Plain, progress);
}

bool VeChannelSet::CopyInto(VeChannelSet& out, CopyKind kind, TaskProgress* progress) {
    // Copying a set onto itself would clear the source first.
    if (&out == this) return kind == CopyKind::Straight ? true : IsPlain();
    auto fail = [&] {
        out.Clear();
        if (progress) progress->Fail();
        return false;
    };
    out.Clear();
    if (progress && progress->IsCancelled()) return fail();
    if (IsEmpty()) {
        if (progress) progress->Complete();
        return true;
    }
    if (!IsValid()) return fail();
    out.channels = channels;
    out.frames = frames;
    out.sample_rate = sample_rate;
    auto copy = [kind](VeChannel& from, VeChannel& to) {
        return kind == CopyKind::Straight ? from.CopyTo(to) : from.CopyPlainTo(to);
    };
    if (!copy(left, out.left)) return fail();
    if (channels == 2) {
        if (progress && progress->IsCancelled()) return fail();
        if (!copy(right, out.right)) return fail();
    }
    if (progress) progress->Complete();
    return true;
}

void VeChannelSet::Clear() {
    channels = 0;
    frames = 0;
    sample_rate = 0;
    left.Release();
    right.Release();
}

}  // namespace chm
