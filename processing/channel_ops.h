#pragma once
#include <cstdint>

#include "audio/channel.h"
#include "audio/channel_set.h"

namespace chm {

// The user's choice of how stereo becomes mono; stored as "conversion_method". Any value other
// than 0 and 1 acts as KeepRight.
enum class ConversionMethod : int {
    MixChannels = 0,
    KeepLeft = 1,
    KeepRight = 2,
};

// What the two channels of a set hold.
enum class StereoContent : int {
    Invalid = 0,   // the set is not usable
    Mono = 1,      // one channel
    Distinct = 2,  // real stereo
    Alike = 3,     // nearly equal, or every examined pair silent
    Opposed = 4,   // nearly each other's negative: a mix would cancel out
};

// Channel level.
// Rewrites a channel with an offset or a length other than its store's into a plain one.
bool MakePlain(VeChannel& channel);
// target[k] += other[k] in float; a sum beyond full scale is scaled back to it. Both channels
// must be valid, with equal store counts and equal start offsets.
bool AddChannel(VeChannel& target, VeChannel& other);
// Scales every sample by 1 / peak (clamped to [-1, 1]); a peak up to 1 changes nothing.
bool ScaleToPeak(VeChannel& channel, float peak);

// Set level.
// Examines at most max(frames / 3, samples per page) non-silent pairs unless unlimited.
StereoContent ClassifyStereo(VeChannelSet& set, bool unlimited);
// Valid, and mono or not opposed.
bool CanMix(VeChannelSet& set);
// Sums the channels into the left one and drops the right.
bool MixToMono(VeChannelSet& set);

}  // namespace chm
