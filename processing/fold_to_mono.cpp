#include "processing/fold_to_mono.h"

#include "audio/audio_data.h"
#include "engine/task_progress.h"
#include "processing/channel_ops.h"

namespace chm {
namespace {

// Keeps the left channel: the right one is released with its temporary file; no sample moves.
bool KeepLeftChannel(VeChannelSet& set) {
    if (set.right.IsEmpty()) return false;
    set.right.Release();
    set.channels = 1;
    return true;
}

// Steps 1-6; step 7 (the progress) is the caller's.
bool FoldSteps(VeChannelSet& set, int method, TaskProgress* progress) {
    // 1. Cancellation is asked for here only.
    if (progress && progress->IsCancelled()) return false;
    // 2.
    if (!set.IsValid()) return false;
    // 3.
    if (set.channels == 1) return true;
    // 4.
    if (!MakePlain(set.left) || !MakePlain(set.right)) return false;
    // 5. Opposed channels would cancel out in a mix: the left one alone is the better mono.
    if (method == static_cast<int>(ConversionMethod::MixChannels))
        return CanMix(set) ? MixToMono(set) : KeepLeftChannel(set);
    // 6. Any other method than KeepLeft keeps the right channel.
    if (method != static_cast<int>(ConversionMethod::KeepLeft)) set.left.Swap(set.right);
    return KeepLeftChannel(set);
}

}  // namespace

bool FoldToMono(VeChannelSet& set, int method, TaskProgress* progress) {
    const bool folded = FoldSteps(set, method, progress);
    // 7.
    return FinishProgress(progress, folded);
}

bool VeAudioData::FoldToMono(int method, TaskProgress* progress) {
    // 1.
    const bool was_stereo = set_.IsStereo();
    // 2.
    const bool folded = chm::FoldToMono(set_, method, progress);
    // 3. Rate, bits, frames and data bytes stay as they are.
    if (folded && was_stereo) PatchHeaderToMono();
    // 4.
    return FinishProgress(progress, folded);
}

}  // namespace chm
