#include "processing/channel_ops.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "audio/audio_data.h"
#include "audio/work_pacer.h"

namespace chm {
namespace {

// The sample loops run over blocks of this constant length, so that the compiler turns each
// block into vector code without a scalar remainder (at -O2 it vectorises nothing that would
// need one); only a page's last partial block is left to a scalar loop.
constexpr size_t kBlock = 16;

// The alike/opposed tolerance is the float nearest 0.3, and every compare is done in float.
constexpr float kTolerance = 0.3f;
constexpr double kMajority = 0.7;

// a[k] = a[k] + b[k]; the extremes of the stored sums are kept per lane (no branches, no
// cross-lane dependency) and folded together at the end.
void SumPage(float* __restrict a, const float* __restrict b, uint32_t n, float& low, float& high) {
    float lows[kBlock];
    float highs[kBlock];
    std::fill(lows, lows + kBlock, low);
    std::fill(highs, highs + kBlock, high);
    size_t k = 0;
    for (; k + kBlock <= n; k += kBlock) {
        float* __restrict block = a + k;
        const float* __restrict addend = b + k;
        for (size_t j = 0; j < kBlock; ++j) {
            const float sum = block[j] + addend[j];
            block[j] = sum;
            lows[j] = sum < lows[j] ? sum : lows[j];
            highs[j] = sum > highs[j] ? sum : highs[j];
        }
    }
    for (size_t j = 0; j < kBlock; ++j) {
        low = lows[j] < low ? lows[j] : low;
        high = highs[j] > high ? highs[j] : high;
    }
    for (; k < n; ++k) {
        const float sum = a[k] + b[k];
        a[k] = sum;
        low = sum < low ? sum : low;
        high = sum > high ? sum : high;
    }
}

inline float ScaleSample(float sample, float gain) {
    float s = sample * gain;
    s = s > 1.0f ? 1.0f : s;
    return s < -1.0f ? -1.0f : s;
}

void ScalePage(float* __restrict a, uint32_t n, float gain) {
    size_t k = 0;
    for (; k + kBlock <= n; k += kBlock) {
        float* __restrict block = a + k;
        for (size_t j = 0; j < kBlock; ++j) block[j] = ScaleSample(block[j], gain);
    }
    for (; k < n; ++k) a[k] = ScaleSample(a[k], gain);
}

struct PairCounts {
    uint32_t examined = 0;
    uint32_t alike = 0;
    uint32_t opposed = 0;
};

// One pair: silent pairs (both exactly 0) are not counted at all.
inline void CountPair(float l, float r, uint32_t& examined, uint32_t& alike, uint32_t& opposed) {
    const float m = std::max(std::fabs(l), std::fabs(r));
    const float tolerance = kTolerance * m;
    const uint32_t counted = (l != 0.0f) | (r != 0.0f);
    const uint32_t is_alike = std::fabs(l - r) <= tolerance;
    const uint32_t is_opposed = !is_alike & (std::fabs(l + r) <= tolerance);
    examined += counted;
    alike += counted & is_alike;
    opposed += counted & is_opposed;
}

// Counts the pairs of one page until `limit` pairs have been examined in all. Whole blocks are
// counted branch-free while they cannot pass the limit; the rest goes pair by pair so that the
// walk stops exactly at the limit.
void CountPage(const float* __restrict left, const float* __restrict right, uint32_t n, uint32_t limit,
               PairCounts& counts) {
    uint32_t k = 0;
    while (k + kBlock <= n && limit - counts.examined >= kBlock) {
        uint32_t examined = 0;
        uint32_t alike = 0;
        uint32_t opposed = 0;
        for (size_t j = 0; j < kBlock; ++j) CountPair(left[k + j], right[k + j], examined, alike, opposed);
        counts.examined += examined;
        counts.alike += alike;
        counts.opposed += opposed;
        k += kBlock;
    }
    for (; k < n && counts.examined < limit; ++k)
        CountPair(left[k], right[k], counts.examined, counts.alike, counts.opposed);
}

}  // namespace

bool MakePlain(VeChannel& channel) {
    if (channel.IsPlain()) return true;
    // The plain copy replaces the channel in place only once it is complete.
    return channel.CopyPlainTo(channel);
}

bool AddChannel(VeChannel& target, VeChannel& other) {
    // 1. Same shape on both sides.
    if (!target.IsValid() || !other.IsValid() || target.store->Count() != other.store->Count() ||
        target.start_offset != other.start_offset)
        return false;
    // 2.
    float low = 0.0f;
    float high = 0.0f;
    // 3. The plain sum, page by page; no halving.
    VeWorkPacer pacer;
    VeSampleStore& store = *target.store;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        const float* addend = other.store->MapPage(page, 0, PageAccess::kRead);
        float* samples = store.MapPage(page);
        if (!addend || !samples) return false;
        SumPage(samples, addend, store.PageLength(page), low, high);
        pacer.Tick();
    }
    // 4. Within full scale: the sum stays as it is.
    if (low >= -1.0f && high <= 1.0f) return true;
    // 5. Otherwise the loudest sample becomes full scale.
    const float peak = std::fabs(low) > high ? std::fabs(low) : high;
    return ScaleToPeak(target, peak);
}

bool ScaleToPeak(VeChannel& channel, float peak) {
    // 1. Written as "not above" so that a NaN peak leaves the samples alone as well.
    if (!(peak > 1.0f)) return true;
    // 2.
    if (!channel.IsValid()) return false;
    // 3.
    const float gain = 1.0f / peak;
    VeWorkPacer pacer;
    VeSampleStore& store = *channel.store;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        float* samples = store.MapPage(page);
        if (!samples) return false;
        ScalePage(samples, store.PageLength(page), gain);
        pacer.Tick();
    }
    return true;
}

StereoContent ClassifyStereo(VeChannelSet& set, bool unlimited) {
    // 1.
    if (!set.IsValid() || !set.left.IsPlain() || (set.channels == 2 && !set.right.IsPlain()))
        return StereoContent::Invalid;
    if (set.channels == 1) return StereoContent::Mono;
    // 2.
    VeSampleStore& left = *set.left.store;
    VeSampleStore& right = *set.right.store;
    const uint32_t limit = unlimited ? set.frames : std::max(set.frames / 3, left.SamplesPerPage());
    // 3-4. Channels of unequal length are compared as far as both reach.
    const uint32_t pairs = std::min(left.Count(), right.Count());
    PairCounts counts;
    VeWorkPacer pacer;
    for (uint32_t page = 0; page < left.PageCount() && counts.examined < limit; ++page) {
        const uint32_t first = page * left.SamplesPerPage();
        if (first >= pairs) break;
        const float* l = left.MapPage(page, 0, PageAccess::kRead);
        const float* r = right.MapPage(page, 0, PageAccess::kRead);
        if (!l || !r) return StereoContent::Invalid;
        CountPage(l, r, std::min(left.PageLength(page), pairs - first), limit, counts);
        pacer.Tick();
    }
    // 5.
    if (counts.examined == 0) return StereoContent::Alike;
    // 6.
    const double examined = counts.examined;
    if (counts.alike / examined >= kMajority) return StereoContent::Alike;
    if (counts.opposed / examined >= kMajority) return StereoContent::Opposed;
    return StereoContent::Distinct;
}

bool CanMix(VeChannelSet& set) {
    return set.IsValid() && (set.IsMono() || ClassifyStereo(set, false) != StereoContent::Opposed);
}

bool MixToMono(VeChannelSet& set) {
    // 1.
    if (!set.IsValid()) return false;
    if (set.channels == 1) return true;
    // 2.
    if (!MakePlain(set.left) || !MakePlain(set.right)) return false;
    // 3.
    if (!AddChannel(set.left, set.right)) return false;
    // 4.
    set.right.Release();
    set.channels = 1;
    return true;
}

bool VeAudioData::MixToMono() {
    const bool was_stereo = set_.IsStereo();
    if (!chm::MixToMono(set_)) return false;
    if (was_stereo) PatchHeaderToMono();
    return true;
}

}  // namespace chm
