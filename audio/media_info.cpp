#include "audio/media_info.h"

namespace chm {

bool VeMediaInfo::IsEmpty() const { return channels == 0 && sample_rate == 0 && bit_rate == 0 && duration == 0.0; }

// Negative counts from a damaged header are as unusable as zeros.
bool VeMediaInfo::IsValid() const {
    return (channels == 1 || channels == 2) && sample_rate > 0 && bit_rate > 0 && duration > 0.0;
}

void VeMediaInfo::Reset() {
    channels = 0;
    sample_rate = 0;
    bit_rate = 0;
    duration = 0.0;
}

}  // namespace chm
