// Peak resident memory while one hour of 44.1 kHz stereo is made and folded with the mix
// (peak scaling included): it must stay under 64 MiB whatever the length of the audio.
#include <cstdio>

#include "bench/bench_audio.h"
#include "processing/fold_to_mono.h"

int main() {
    using namespace chm;
    constexpr uint32_t kOneHour = 60 * 60 * bench::kRate;
    VeChannelSet set;
    if (!bench::MakeStereo(set, kOneHour, 0.9f)) {
        std::fprintf(stderr, "cannot make one hour of stereo in the temporary folder\n");
        return 1;
    }
    const long before = bench::PeakResidentKiB();
    if (!FoldToMono(set, 0) || set.channels != 1) {
        std::fprintf(stderr, "fold failed\n");
        return 1;
    }
    const long peak = bench::PeakResidentKiB();
    std::printf("one hour stereo fold: peak resident %.1f MiB (%.1f MiB before the fold)\n", peak / 1024.0,
                before / 1024.0);
    return peak < 64 * 1024 ? 0 : 1;
}
