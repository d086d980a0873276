#pragma once
#include <cstdint>

#include "audio/channel_set.h"

namespace chm::bench {

constexpr uint32_t kRate = 44100;

// Fills a new stereo set with music-like content: a few partials per channel with a slow
// swell, left and right distinct so that the fold really mixes. Peak per channel is `level`.
bool MakeStereo(VeChannelSet& set, uint32_t frames, float level);

// Peak resident set size of this process so far, in KiB.
long PeakResidentKiB();

}  // namespace chm::bench
