// Folding ten minutes of 44.1 kHz stereo held in sample stores, against a plain copy of the
// same two channels in the same run: the fold should cost at most 2.5 times the copy.
#include <benchmark/benchmark.h>

#include "bench/bench_audio.h"
#include "processing/fold_to_mono.h"

namespace chm::bench {
namespace {

constexpr uint32_t kTenMinutes = 10 * 60 * kRate;

// The source stays; each iteration folds a fresh copy of it (the copy is not timed).
void FoldMixChannels(benchmark::State& state, float level) {
    VeChannelSet source;
    if (!MakeStereo(source, kTenMinutes, level)) {
        state.SkipWithError("cannot make the source");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        VeChannelSet work;
        const bool copied = work.CopyFrom(source);
        state.ResumeTiming();
        if (!copied || !FoldToMono(work, 0) || work.channels != 1) {
            state.SkipWithError("fold failed");
            break;
        }
        state.PauseTiming();
        work.Clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kTenMinutes * 2 * int64_t(sizeof(float)));
}

void BM_FoldMixWithinFullScale(benchmark::State& state) { FoldMixChannels(state, 0.45f); }
void BM_FoldMixWithPeakScaling(benchmark::State& state) { FoldMixChannels(state, 0.9f); }

void BM_CopyBothStores(benchmark::State& state) {
    VeChannelSet source;
    if (!MakeStereo(source, kTenMinutes, 0.45f)) {
        state.SkipWithError("cannot make the source");
        return;
    }
    for (auto _ : state) {
        VeSampleStore left;
        VeSampleStore right;
        if (!left.CopyFrom(*source.left.store) || !right.CopyFrom(*source.right.store)) {
            state.SkipWithError("copy failed");
            break;
        }
        state.PauseTiming();
        left.Close();
        right.Close();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kTenMinutes * 2 * int64_t(sizeof(float)));
}

BENCHMARK(BM_CopyBothStores)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_FoldMixWithinFullScale)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_FoldMixWithPeakScaling)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
}  // namespace chm::bench

BENCHMARK_MAIN();
