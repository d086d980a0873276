#include "audio/pcm_samples.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "audio/audio_format.h"
#include "audio/byte_stream.h"
#include "audio/channel.h"
#include "audio/channel_set.h"
#include "audio/work_pacer.h"
#include "engine/task_progress.h"

namespace chm {
namespace {

// The first failed check of a sample loop; caught at the loop's own boundary.
struct PcmFailure {};

void Require(bool condition) {
    if (!condition) throw PcmFailure{};
}

// Bytes per sample of a frame layout: 1 or 2, or 0 for a layout the loops cannot handle. A
// width that does not divide the frame evenly would put slots outside the frames.
int SampleWidth(uint16_t block_align, uint16_t channels) {
    if (block_align != 1 && block_align != 2 && block_align != 4) return 0;
    if (channels != 1 && channels != 2) return 0;
    if (block_align % channels != 0) return 0;
    const int width = block_align / channels;
    return width == 1 || width == 2 ? width : 0;
}

// The layout that 8- and 16-bit frames of this width have.
FrameLayout PcmLayout(int width, uint16_t block_align, uint16_t channels) {
    const SampleEncoding encoding = width == 1 ? SampleEncoding::kUnsigned8 : SampleEncoding::kSigned16;
    return FrameLayout{encoding, channels, block_align, static_cast<uint16_t>(width * 8)};
}

bool IsUsableLayout(const FrameLayout& layout) {
    if (layout.channels != 1 && layout.channels != 2) return false;
    if (layout.block_align != layout.channels * BytesPerSample(layout.encoding)) return false;
    const int container_bits = BytesPerSample(layout.encoding) * 8;
    return IsFloatEncoding(layout.encoding) || (layout.valid_bits >= 2 && layout.valid_bits <= container_bits);
}

bool IsUsablePage(const VeChannel& channel, int64_t page) {
    return channel.IsValid() && channel.IsPlain() && page >= 0 && page < channel.store->PageCount();
}

int16_t LoadInt16(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }

void StoreInt16(uint8_t* p, int16_t value) {
    const auto bits = static_cast<uint16_t>(value);
    p[0] = static_cast<uint8_t>(bits & 0xFF);
    p[1] = static_cast<uint8_t>(bits >> 8);
}

// The 16-bit loops convert blocks of this constant length, so that the compiler turns each
// block into vector code (at -O2 it vectorises no loop that would need a scalar remainder);
// only a page's last partial block goes sample by sample.
constexpr uint32_t kBlock = 16;

// floor(x * 2^(Bits - 1) + 0.5) clamped to [-2^(Bits - 1), 2^(Bits - 1) - 1], NaN giving 0, for
// every float, but without a branch so that a block of it becomes vector code: a magnitude above 1
// is clamped to 1 on the bits (the result saturates either way), the floor is the truncation
// corrected by the exact fraction v - trunc(v) (exact up to 24 bits), and NaN is masked out.
template <int Bits>
inline int32_t RoundToFixed(float x) {
    static_assert(Bits >= 2 && Bits <= 24);
    constexpr float kScale = static_cast<float>(1 << (Bits - 1));
    constexpr int32_t kTop = (1 << (Bits - 1)) - 1;
    int32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int32_t magnitude = bits & 0x7FFFFFFF;
    const int32_t clamped_bits = magnitude > 0x3F800000 ? (bits & INT32_MIN) | 0x3F800000 : bits;
    float clamped;
    std::memcpy(&clamped, &clamped_bits, sizeof clamped);
    const float v = clamped * kScale;  // exact: a power of two
    const int32_t t = static_cast<int32_t>(v);
    const float fraction = v - static_cast<float>(t);  // exact as well
    int32_t rounded = t + (fraction >= 0.5f) - (fraction < -0.5f);
    rounded = rounded < kTop ? rounded : kTop;
    const int32_t keep = -static_cast<int32_t>(magnitude <= 0x7F800000);
    return rounded & keep;
}

inline int16_t RoundToInt16(float x) { return static_cast<int16_t>(RoundToFixed<16>(x)); }

// n <= kBlock samples to 16-bit values.
void RoundBlock(const float* __restrict samples, int16_t* __restrict values, uint32_t n) {
    if (n == kBlock) {
        for (uint32_t j = 0; j < kBlock; ++j) values[j] = RoundToInt16(samples[j]);
        return;
    }
    for (uint32_t j = 0; j < n; ++j) values[j] = RoundToInt16(samples[j]);
}

// n <= kBlock values into one slot of consecutive 16-bit frames of `channels` samples.
void StoreBlock(const int16_t* __restrict values, uint8_t* __restrict slot, uint32_t n, uint16_t channels) {
    if (n == kBlock && channels == 1) {
        for (uint32_t j = 0; j < kBlock; ++j) StoreInt16(slot + j * 2, values[j]);
        return;
    }
    for (uint32_t j = 0; j < n; ++j) StoreInt16(slot + size_t{j} * channels * 2, values[j]);
}

inline float SampleOfInt16(int16_t s) { return static_cast<float>(s) * (1.0f / 32768.0f); }

// frames 16-bit samples of one slot of interleaved frames to floats. Out of line: inlined into
// its caller the blocks are no longer vectorised.
[[gnu::noinline]] void LoadInt16Slot(const uint8_t* __restrict source, float* __restrict samples, uint32_t frames,
                                     uint16_t channels, uint16_t channel_index) {
    uint32_t k = 0;
    if (channels == 1) {
        for (; k + kBlock <= frames; k += kBlock) {
            const uint8_t* __restrict in = source + size_t{k} * 2;
            float* __restrict out = samples + k;
            for (uint32_t j = 0; j < kBlock; ++j) out[j] = SampleOfInt16(LoadInt16(in + j * 2));
        }
    } else if (channels == 2) {
        // A whole frame is loaded and the slot's half taken: constant strides and shifts only.
        const unsigned shift = channel_index * 16u;
        for (; k + kBlock <= frames; k += kBlock) {
            const uint8_t* __restrict in = source + size_t{k} * 4;
            float* __restrict out = samples + k;
            for (uint32_t j = 0; j < kBlock; ++j) {
                const uint8_t* p = in + j * 4;
                const uint32_t frame =
                    uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
                out[j] = SampleOfInt16(static_cast<int16_t>(static_cast<uint16_t>(frame >> shift)));
            }
        }
    }
    for (; k < frames; ++k) samples[k] = SampleOfInt16(LoadInt16(source + (size_t{k} * channels + channel_index) * 2));
}

uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreU32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// The top three bytes of a 32-bit word, shifted down with the sign.
inline float SampleOfInt24(const uint8_t* p) {
    const auto word = static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24);
    return static_cast<float>(word >> 8) * (1.0f / 8388608.0f);
}

// A slot of 24-bit samples, each read as one 32-bit word whose top byte is dropped; the last
// sample may end the buffer, so that its fourth byte is not there to read.
template <uint16_t Channels>
void LoadInt24SlotOf(const uint8_t* __restrict source, float* __restrict samples, uint32_t frames,
                     uint16_t channel_index) {
    const uint8_t* p = source + size_t{channel_index} * 3;
    const uint32_t last = frames - 1;
    for (uint32_t k = 0; k < last; ++k) {
        uint32_t word;
        std::memcpy(&word, p + size_t{k} * Channels * 3, sizeof word);  // little-endian, as the host
        samples[k] = static_cast<float>(static_cast<int32_t>(word << 8) >> 8) * (1.0f / 8388608.0f);
    }
    samples[last] = SampleOfInt24(p + size_t{last} * Channels * 3);
}

// Mono 24-bit samples in blocks: the values as vector code, then each stored as a 32-bit word
// whose top byte the next sample overwrites (the last one byte by byte).
void StoreInt24Mono(const float* __restrict samples, uint8_t* __restrict target, uint32_t n) {
    int32_t values[kBlock];
    for (uint32_t k = 0; k < n; k += kBlock) {
        const uint32_t m = std::min(kBlock, n - k);
        if (m == kBlock) {
            for (uint32_t j = 0; j < kBlock; ++j) values[j] = RoundToFixed<24>(samples[k + j]);
        } else {
            for (uint32_t j = 0; j < m; ++j) values[j] = RoundToFixed<24>(samples[k + j]);
        }
        for (uint32_t j = 0; j < m; ++j) {
            uint8_t* p = target + size_t{k + j} * 3;
            if (k + j + 1 < n) {
                std::memcpy(p, &values[j], 4);
            } else {
                const auto word = static_cast<uint32_t>(values[j]);
                for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>((word >> (8 * i)) & 0xFF);
            }
        }
    }
}

// The int-to-float conversion rounds to nearest; the power of two then scales exactly.
inline float SampleOfInt32(int32_t s) { return static_cast<float>(s) * (1.0f / 2147483648.0f); }

inline float SampleOfFloat32(const uint8_t* p) {
    const uint32_t bits = LoadU32(p);
    if ((bits & 0x7F800000u) == 0x7F800000u) return 0.0f;
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

inline float SampleOfFloat64(double x) {
    if (!std::isfinite(x)) return 0.0f;
    constexpr double kLargest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(x, -kLargest, kLargest));
}

// floor(x * limit + 0.5) clamped to [-limit, limit - 1], limit a power of two up to 2^31, NaN
// giving 0. x * limit is exact in double, and so is its fraction: the floor is the truncation
// corrected by it, which costs no library call per sample.
inline int32_t RoundToLimit(float x, double limit) {
    double v = static_cast<double>(x) * limit;
    if (!(v >= -limit)) v = v != v ? 0.0 : -limit;  // NaN, or below the range
    if (v > limit) v = limit;
    const auto t = static_cast<int64_t>(v);
    const double fraction = v - static_cast<double>(t);
    const int64_t rounded = t + (fraction >= 0.5) - (fraction < -0.5);
    const auto top = static_cast<int64_t>(limit) - 1;
    return static_cast<int32_t>(rounded > top ? top : rounded);
}

// Visits the slots of one channel in interleaved frames: visit(k, bytes of sample k). The channel
// count is a constant inside, so that the strides are too and the compiler unrolls the loop.
template <size_t Width, typename Byte, typename Visit>
void ForEachSlot(Byte* frames_bytes, uint32_t n, uint16_t channels, uint16_t channel_index, Visit visit) {
    Byte* first = frames_bytes + size_t{channel_index} * Width;
    auto walk = [&](auto stride) {
        for (uint32_t k = 0; k < n; ++k) visit(k, first + size_t{k} * stride);
    };
    if (channels == 1)
        walk(std::integral_constant<size_t, Width>{});
    else
        walk(std::integral_constant<size_t, 2 * Width>{});
}

// `convert` maps the bytes of one sample to a float.
template <size_t Width, typename Convert>
void ImportSlot(const uint8_t* source, float* samples, uint32_t frames, uint16_t channels, uint16_t channel_index,
                Convert convert) {
    ForEachSlot<Width>(source, frames, channels, channel_index,
                       [&](uint32_t k, const uint8_t* p) { samples[k] = convert(p); });
}

// `convert` writes one float as the bytes of one sample.
template <size_t Width, typename Convert>
void ExportSlot(const float* samples, uint8_t* target, uint32_t n, uint16_t channels, uint16_t channel_index,
                Convert convert) {
    ForEachSlot<Width>(target, n, channels, channel_index, [&](uint32_t k, uint8_t* p) { convert(samples[k], p); });
}

void ImportFrames(const FrameLayout& layout, const uint8_t* source, float* samples, uint32_t frames,
                  uint16_t channel_index) {
    const uint16_t channels = layout.channels;
    switch (layout.encoding) {
        case SampleEncoding::kUnsigned8:
            ImportSlot<1>(source, samples, frames, channels, channel_index,
                          [](const uint8_t* p) { return Uint8ToFloat(*p); });
            break;
        case SampleEncoding::kSigned16:
            LoadInt16Slot(source, samples, frames, channels, channel_index);
            break;
        case SampleEncoding::kSigned24:
            if (channels == 1)
                LoadInt24SlotOf<1>(source, samples, frames, channel_index);
            else
                LoadInt24SlotOf<2>(source, samples, frames, channel_index);
            break;
        case SampleEncoding::kSigned32:
            ImportSlot<4>(source, samples, frames, channels, channel_index,
                          [](const uint8_t* p) { return SampleOfInt32(static_cast<int32_t>(LoadU32(p))); });
            break;
        case SampleEncoding::kFloat32:
            ImportSlot<4>(source, samples, frames, channels, channel_index, SampleOfFloat32);
            break;
        case SampleEncoding::kFloat64:
            ImportSlot<8>(source, samples, frames, channels, channel_index, [](const uint8_t* p) {
                double x;
                std::memcpy(&x, p, sizeof x);  // little-endian, as the host
                return SampleOfFloat64(x);
            });
            break;
    }
}

void ExportFrames(const FrameLayout& layout, const float* samples, uint8_t* target, uint32_t n,
                  uint16_t channel_index) {
    const uint16_t channels = layout.channels;
    const int shift = BytesPerSample(layout.encoding) * 8 - layout.valid_bits;
    const double limit = std::ldexp(1.0, layout.valid_bits - 1);
    switch (layout.encoding) {
        case SampleEncoding::kUnsigned8:
            ExportSlot<1>(samples, target, n, channels, channel_index,
                          [](float x, uint8_t* p) { *p = FloatToUint8(x); });
            break;
        case SampleEncoding::kSigned16: {
            int16_t values[kBlock];
            for (uint32_t k = 0; k < n; k += kBlock) {
                const uint32_t m = std::min(kBlock, n - k);
                RoundBlock(samples + k, values, m);
                StoreBlock(values, target + (size_t{k} * channels + channel_index) * 2, m, channels);
            }
            break;
        }
        case SampleEncoding::kSigned24:
            if (channels == 1 && shift == 0) {
                StoreInt24Mono(samples, target, n);
                break;
            }
            ExportSlot<3>(samples, target, n, channels, channel_index, [=](float x, uint8_t* p) {
                const uint32_t bits = static_cast<uint32_t>(RoundToLimit(x, limit)) << shift;
                for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>((bits >> (8 * i)) & 0xFF);
            });
            break;
        case SampleEncoding::kSigned32:
            ExportSlot<4>(samples, target, n, channels, channel_index, [=](float x, uint8_t* p) {
                StoreU32(p, static_cast<uint32_t>(RoundToLimit(x, limit)) << shift);
            });
            break;
        case SampleEncoding::kFloat32:
            ExportSlot<4>(samples, target, n, channels, channel_index,
                          [](float x, uint8_t* p) { std::memcpy(p, &x, sizeof x); });
            break;
        case SampleEncoding::kFloat64:
            ExportSlot<8>(samples, target, n, channels, channel_index, [](float x, uint8_t* p) {
                const double wide = x;
                std::memcpy(p, &wide, sizeof wide);
            });
            break;
    }
}

// A header whose frames the loops can walk: complete, with frames, of a layout they know.
std::optional<FrameLayout> ReadableLayout(const VeAudioFormat& header) {
    if (!header.IsComplete() || header.frames == 0) return {};
    return FrameLayoutOf(header);
}

// The channel in use must span exactly the set's frames for page i of one to be page i of the other.
bool SpansFrames(const VeChannel& channel, uint32_t frames) {
    return channel.IsValid() && channel.IsPlain() && channel.store->Count() == frames;
}

float Percent(uint64_t done_blocks, uint64_t blocks) {
    return static_cast<float>(static_cast<double>(done_blocks) * 100.0 / static_cast<double>(blocks));
}

// Steps 2-5 of the read loop, on a set that the caller has checked to be empty.
void ReadBlocks(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header, const FrameLayout& layout,
                TaskProgress* progress) {
    // 2.
    Require(set.Allocate(header.channels, header.frames, header.sample_rate));
    // 3.
    const uint32_t per_block = set.left.store->SamplesPerPage();
    std::vector<uint8_t> buffer(size_t{per_block} * header.block_align);
    const uint32_t frames = header.frames;
    const uint32_t blocks = static_cast<uint32_t>((uint64_t{frames} + per_block - 1) / per_block);
    // 4.
    VeWorkPacer pacer(110, 20);
    // 5.
    for (uint32_t i = 0; i < blocks; ++i) {
        const uint32_t wanted = std::min(per_block, frames - i * per_block);
        const uint32_t got = stream.Read(buffer.data(), header.block_align, wanted);
        // The source ends early: the rest of the set stays silent.
        if (got == 0) break;
        Require(ImportSamples(set.left, i, buffer, layout, got, 0) == got);
        if (header.channels == 2) Require(ImportSamples(set.right, i, buffer, layout, got, 1) == got);
        Require(!IsCancelled(progress));
        if (progress) progress->SetPercent(Percent(i + 1, blocks));
        pacer.Tick();
    }
}

void WriteBlocks(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header, TaskProgress* progress) {
    // 1. The header says how many channels are written; each of them must be in the set.
    Require(!IsCancelled(progress));
    Require(set.IsValid() && set.IsPlain());
    Require(stream.IsOpen());
    const std::optional<FrameLayout> layout = ReadableLayout(header);
    Require(layout.has_value());
    Require(SpansFrames(set.left, set.frames));
    if (header.channels == 2) Require(SpansFrames(set.right, set.frames));
    // 2.
    const uint32_t per_block = set.left.store->SamplesPerPage();
    std::vector<uint8_t> buffer(size_t{per_block} * header.block_align);
    const uint32_t blocks = static_cast<uint32_t>((uint64_t{set.frames} + per_block - 1) / per_block);
    VeWorkPacer pacer(110, 20);
    // 3. and 4.
    for (uint32_t i = 0; i < blocks; ++i) {
        const uint32_t n = ExportSamples(set.left, i, buffer, *layout, per_block, 0);
        Require(n != 0);
        Require(!IsCancelled(progress));
        if (header.channels == 2) {
            Require(ExportSamples(set.right, i, buffer, *layout, per_block, 1) == n);
            Require(!IsCancelled(progress));
        }
        Require(stream.Write(buffer.data(), header.block_align, n) == n);
        Require(!IsCancelled(progress));
        if (progress) progress->SetPercent(Percent(i + 1, blocks));
        pacer.Tick();
    }
}

}  // namespace

float Int16ToFloat(int16_t s) { return SampleOfInt16(s); }

float Uint8ToFloat(uint8_t b) { return static_cast<float>(int{b} - 128) * (1.0f / 128.0f); }

// NaN carries no level at all; it becomes silence rather than an undefined conversion.
int16_t FloatToInt16(float x) { return RoundToInt16(x); }

uint8_t FloatToUint8(float x) {
    if (std::isnan(x)) return 128;
    const double v = std::trunc((static_cast<double>(x) + 1.0) * 128.0 + 0.5);
    return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

float Int24ToFloat(int32_t s) { return static_cast<float>(s) * (1.0f / 8388608.0f); }

float Int32ToFloat(int32_t s) { return SampleOfInt32(s); }

float Float32ToFloat(float x) {
    uint8_t bytes[4];
    std::memcpy(bytes, &x, sizeof x);
    return SampleOfFloat32(bytes);
}

float Float64ToFloat(double x) { return SampleOfFloat64(x); }

int32_t FloatToIntBits(float x, int bits) {
    if (bits < 2 || bits > 32) return 0;
    return RoundToLimit(x, std::ldexp(1.0, bits - 1));
}

bool ReadPcmSamples(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header, TaskProgress* progress) {
    // 1. A set that is already in use is the caller's and stays as it is.
    const std::optional<FrameLayout> layout = ReadableLayout(header);
    if (IsCancelled(progress) || !set.IsEmpty() || !stream.IsOpen() || !layout) {
        if (progress) progress->Fail();
        return false;
    }
    try {
        ReadBlocks(set, stream, header, *layout, progress);
        if (progress) progress->Complete();
        return true;
    } catch (const PcmFailure&) {
    } catch (const std::bad_alloc&) {
    }
    // 6.
    set.Clear();
    if (progress) progress->Fail();
    return false;
}

bool WritePcmSamples(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header, TaskProgress* progress) {
    try {
        WriteBlocks(set, stream, header, progress);
        if (progress) progress->Complete();
        return true;
    } catch (const PcmFailure&) {
    } catch (const std::bad_alloc&) {
    }
    if (progress) progress->Fail();
    return false;
}

uint32_t ImportSamples(VeChannel& channel, int64_t page, std::span<const uint8_t> bytes, const FrameLayout& layout,
                       uint32_t frames, uint16_t channel_index) {
    if (!IsUsableLayout(layout) || !IsUsablePage(channel, page) || !bytes.data() || frames == 0 ||
        channel_index >= layout.channels)
        return 0;
    // At most a page, and at most what this page holds: the last page of a store is shorter.
    if (frames > channel.store->SamplesPerPage() || frames > channel.store->PageLength(page)) return 0;
    if (bytes.size() < size_t{frames} * layout.block_align) return 0;
    // Every mapped sample is overwritten: the old ones need not be read first.
    float* samples = channel.store->MapPage(page, size_t{frames} * sizeof(float), PageAccess::kWrite);
    if (!samples) return 0;
    ImportFrames(layout, bytes.data(), samples, frames, channel_index);
    return frames;
}

uint32_t ExportSamples(VeChannel& channel, int64_t page, std::span<uint8_t> buffer, const FrameLayout& layout,
                       uint32_t capacity_frames, uint16_t channel_index) {
    if (!IsUsableLayout(layout) || !IsUsablePage(channel, page) || !buffer.data() || channel_index >= layout.channels)
        return 0;
    const uint32_t n = channel.store->PageLength(page);
    if (capacity_frames < n || buffer.size() < size_t{capacity_frames} * layout.block_align) return 0;
    const float* samples = channel.store->MapPage(page, 0, PageAccess::kRead);
    if (!samples) return 0;
    ExportFrames(layout, samples, buffer.data(), n, channel_index);
    return n;
}

uint32_t ImportPcm(VeChannel& channel, int64_t page, std::span<const uint8_t> bytes, uint16_t block_align,
                   uint32_t frames, uint16_t channels, uint16_t channel_index) {
    const int width = SampleWidth(block_align, channels);
    if (width == 0) return 0;
    return ImportSamples(channel, page, bytes, PcmLayout(width, block_align, channels), frames, channel_index);
}

uint32_t ExportPcm(VeChannel& channel, int64_t page, std::span<uint8_t> buffer, uint16_t block_align,
                   uint32_t capacity_frames, uint16_t channels, uint16_t channel_index) {
    const int width = SampleWidth(block_align, channels);
    if (width == 0) return 0;
    const FrameLayout layout = PcmLayout(width, block_align, channels);
    return ExportSamples(channel, page, buffer, layout, capacity_frames, channel_index);
}

uint32_t ExportInt16(VeChannel& channel, std::span<int16_t> buffer, uint16_t channels, uint16_t channel_index,
                     uint32_t first_frame) {
    if (!channel.IsValid() || !channel.IsPlain() || channels == 0 || channel_index >= channels || !buffer.data())
        return 0;
    VeSampleStore& store = *channel.store;
    if (buffer.size() % channels != 0 || first_frame >= store.Count()) return 0;
    const uint32_t frames =
        static_cast<uint32_t>(std::min<uint64_t>(buffer.size() / channels, store.Count() - first_frame));
    const uint32_t per_page = store.SamplesPerPage();
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t index = first_frame + done;
        const uint32_t page = index / per_page;
        const uint32_t offset = index % per_page;
        const uint32_t chunk = std::min(frames - done, store.PageLength(page) - offset);
        const float* samples = store.MapPage(page, 0, PageAccess::kRead);
        if (!samples) return 0;
        int16_t values[kBlock];
        for (uint32_t k = 0; k < chunk; k += kBlock) {
            const uint32_t m = std::min(kBlock, chunk - k);
            RoundBlock(samples + offset + k, values, m);
            for (uint32_t j = 0; j < m; ++j) buffer[size_t{done + k + j} * channels + channel_index] = values[j];
        }
        done += chunk;
    }
    return frames;
}

}  // namespace chm
