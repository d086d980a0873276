#pragma once
#include "audio/channel_set.h"

namespace chm {

class TaskProgress;

// Stereo becomes mono by `method` (a ConversionMethod value); mono passes unchanged. Only an
// already cancelled progress stops it; a fold that has begun runs to its end. On success the
// progress is completed, on failure failed.
bool FoldToMono(VeChannelSet& set, int method, TaskProgress* progress = nullptr);

}  // namespace chm
