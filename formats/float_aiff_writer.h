#pragma once
#include <cstdint>
#include <string>

namespace chm {

class TaskProgress;

// Writes the samples of an IEEE float WAV file (32 or 64 bits, as our own writer makes them)
// into `target` as AIFF-C with `bits`-bit big-endian floats ("fl32" or "fl64"), values above
// full scale kept: aiffmux writes integers only. An existing target is truncated first. A failed
// or cancelled write returns false, with the reason on the progress, and leaves no target.
bool WriteFloatAiff(const std::string& wav, const std::string& target, uint16_t bits, TaskProgress* progress);

}  // namespace chm
