#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "audio/frame_layout.h"

namespace chm {

class VeChannelSet;
struct VeAudioFormat;

// Fills an empty channel set from interleaved PCM frames whose number is known only at their
// end, as a decoder delivers them: the stores grow while frames arrive and are cut to the frames
// received when they end. The samples land as ReadPcmSamples puts them, page by page. There is
// no work pacer: the caller mostly waits for its decoder, and a pause would stall the decoder.
class VePcmAppender {
public:
    // The header gives the layout (FrameLayoutOf, its frame count aside); expected_frames is the
    // first size of the stores (0: one page). False for an unreadable layout or a set in use.
    bool Start(VeChannelSet& set, const VeAudioFormat& header, uint64_t expected_frames);
    // Bytes in any pieces: a frame split between two calls is joined.
    bool Append(std::span<const uint8_t> bytes);
    // The last frames in and the stores cut to their length. False when no whole frame came.
    bool Finish();
    uint64_t Frames() const { return frames_ + filled_ / layout_.block_align; }

private:
    bool ImportPage(uint32_t frames);
    bool Reserve(uint64_t frames);
    // Every store of the set, its channel and the set made `frames` long.
    bool ResizeStores(uint32_t frames);

    VeChannelSet* set_ = nullptr;
    FrameLayout layout_;
    uint32_t per_page_ = 0;
    std::vector<uint8_t> page_;  // the interleaved frames of the page being filled
    size_t filled_ = 0;          // bytes of page_ in use
    uint64_t frames_ = 0;        // frames already in the stores, a whole number of pages
    uint32_t capacity_ = 0;      // frames the stores hold
};

}  // namespace chm
