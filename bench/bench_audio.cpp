#include "bench/bench_audio.h"

#include <sys/resource.h>

#include <cmath>

namespace chm::bench {
namespace {

void FillChannel(VeChannel& channel, const double (&partials)[3], double phase, float level) {
    VeSampleStore& store = *channel.store;
    const double step = 2.0 * M_PI / kRate;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        float* samples = store.MapPage(page);
        const uint64_t first = uint64_t{page} * store.SamplesPerPage();
        for (uint32_t k = 0; k < store.PageLength(page); ++k) {
            const double t = static_cast<double>(first + k);
            const double swell = 0.75 + 0.25 * std::sin(t * step * 0.2);
            const double tone = 0.5 * std::sin(t * step * partials[0] + phase) +
                                0.3 * std::sin(t * step * partials[1] + 2 * phase) +
                                0.2 * std::sin(t * step * partials[2]);
            samples[k] = static_cast<float>(level * swell * tone);
        }
    }
}

}  // namespace

bool MakeStereo(VeChannelSet& set, uint32_t frames, float level) {
    if (!set.Allocate(2, frames, kRate)) return false;
    FillChannel(set.left, {220.0, 330.0, 440.0}, 0.0, level);
    FillChannel(set.right, {277.0, 415.0, 554.0}, 1.3, level);
    return true;
}

long PeakResidentKiB() {
    struct rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace chm::bench
