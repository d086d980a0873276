#include "audio/pcm_appender.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "audio/audio_format.h"
#include "audio/channel_set.h"
#include "audio/pcm_samples.h"

namespace chm {
namespace {

// A channel's length is a signed 32-bit count.
constexpr uint64_t kMaxFrames = INT32_MAX;
// 128 MiB of floats per channel: twelve minutes at 44.1 kHz.
constexpr uint64_t kFirstFrames = uint64_t{1} << 25;

}  // namespace

bool VePcmAppender::Start(VeChannelSet& set, const VeAudioFormat& header, uint64_t expected_frames) {
    const std::optional<FrameLayout> layout = FrameLayoutOf(header);
    if (!layout || !set.IsEmpty()) return false;
    layout_ = *layout;
    per_page_ = VeSampleStore::kSamplesPerPage;
    // A damaged header may promise hours: the first stores take at most kFirstFrames, and grow.
    const uint64_t first_frames = std::min(expected_frames, kFirstFrames);
    const uint64_t pages = std::max<uint64_t>(1, (first_frames + per_page_ - 1) / per_page_);
    const auto first = static_cast<uint32_t>(std::min(pages * per_page_, kMaxFrames));
    if (!set.Allocate(layout_.channels, first, header.sample_rate)) return false;
    set_ = &set;
    capacity_ = first;
    page_.assign(size_t{per_page_} * layout_.block_align, 0);
    filled_ = 0;
    frames_ = 0;
    return true;
}

bool VePcmAppender::Reserve(uint64_t frames) {
    if (frames <= capacity_) return true;
    if (frames > kMaxFrames) return false;
    // Half as much again each time: a length far beyond the guess costs few resizes.
    const uint64_t wanted = std::max<uint64_t>(frames, uint64_t{capacity_} + capacity_ / 2);
    return ResizeStores(static_cast<uint32_t>(std::min(kMaxFrames, (wanted + per_page_ - 1) / per_page_ * per_page_)));
}

bool VePcmAppender::ResizeStores(uint32_t frames) {
    VeChannelSet& set = *set_;
    for (VeChannel* channel : {&set.left, &set.right}) {
        if (!channel->store) continue;
        if (!channel->store->Resize(frames)) return false;
        channel->length = static_cast<int32_t>(frames);
    }
    set.frames = frames;
    capacity_ = frames;
    return true;
}

bool VePcmAppender::ImportPage(uint32_t frames) {
    if (!Reserve(frames_ + frames)) return false;
    const auto page = static_cast<int64_t>(frames_ / per_page_);
    VeChannelSet& set = *set_;
    if (ImportSamples(set.left, page, page_, layout_, frames, 0) != frames) return false;
    if (layout_.channels == 2 && ImportSamples(set.right, page, page_, layout_, frames, 1) != frames) return false;
    frames_ += frames;
    return true;
}

bool VePcmAppender::Append(std::span<const uint8_t> bytes) {
    if (!set_) return false;
    while (!bytes.empty()) {
        const size_t n = std::min(bytes.size(), page_.size() - filled_);
        std::memcpy(page_.data() + filled_, bytes.data(), n);
        filled_ += n;
        bytes = bytes.subspan(n);
        if (filled_ == page_.size()) {
            if (!ImportPage(per_page_)) return false;
            filled_ = 0;
        }
    }
    return true;
}

bool VePcmAppender::Finish() {
    if (!set_) return false;
    // A partial frame at the very end is dropped, as the WAV reader drops it.
    const auto rest = static_cast<uint32_t>(filled_ / layout_.block_align);
    if (rest != 0 && !ImportPage(rest)) return false;
    filled_ = 0;
    if (frames_ == 0) return false;
    return ResizeStores(static_cast<uint32_t>(frames_));
}

}  // namespace chm
