#include "audio/pcm_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/channel.h"
#include "audio/channel_set.h"
#include "audio/memory_stream.h"
#include "engine/task_progress.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

VeAudioFormat PcmHeader(uint16_t channels, uint16_t bits, uint32_t frames, uint32_t rate = 8000) {
    VeAudioFormat h;
    h.format_tag = 1;
    h.channels = channels;
    h.sample_rate = rate;
    h.bits_per_sample = bits;
    h.block_align = static_cast<uint16_t>(channels * bits / 8);
    h.avg_bytes_per_sec = rate * h.block_align;
    h.frames = frames;
    h.data_bytes = frames * h.block_align;
    return h;
}

// A plain channel of n samples, filled by f(index).
template <typename F>
VeChannel MakeChannel(uint32_t n, F f) {
    VeChannel channel;
    channel.store = std::make_unique<VeSampleStore>();
    if (!channel.store->Create(n)) return channel;
    channel.length = static_cast<int32_t>(n);
    std::vector<float> samples(n);
    for (uint32_t i = 0; i < n; ++i) samples[i] = f(i);
    channel.store->WriteAt(0, samples.data(), n);
    return channel;
}

std::vector<float> Samples(VeChannel& channel) {
    std::vector<float> out;
    VeSampleStore& store = *channel.store;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        const float* samples = store.MapPage(page);
        if (!samples) return {};
        out.insert(out.end(), samples, samples + store.PageLength(page));
    }
    return out;
}

int16_t GetI16(const Bytes& b, size_t slot) {
    return static_cast<int16_t>(static_cast<uint16_t>(b[2 * slot] | (b[2 * slot + 1] << 8)));
}

class PcmConversionTest : public ::testing::Test {};

class PcmChannelTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }
};

class PcmLoopTest : public PcmChannelTest {};

// ---- Sample conversions ---------------------------------------------------------------------

TEST_F(PcmConversionTest, Every16BitValueSurvivesTheRoundTrip) {
    for (int v = -32768; v <= 32767; ++v) {
        const float x = Int16ToFloat(static_cast<int16_t>(v));
        ASSERT_EQ(x, static_cast<float>(v) / 32768.0f) << v;
        ASSERT_EQ(FloatToInt16(x), v) << v;
    }
}

TEST_F(PcmConversionTest, Every8BitValueSurvivesTheRoundTrip) {
    for (int b = 0; b <= 255; ++b) {
        const float x = Uint8ToFloat(static_cast<uint8_t>(b));
        ASSERT_EQ(x, static_cast<float>(b - 128) / 128.0f) << b;
        ASSERT_EQ(FloatToUint8(x), b) << b;
    }
}

TEST_F(PcmConversionTest, FullScaleAndSilence) {
    EXPECT_EQ(FloatToInt16(1.0f), 32767);
    EXPECT_EQ(FloatToInt16(-1.0f), -32768);
    EXPECT_EQ(FloatToInt16(0.0f), 0);
    EXPECT_EQ(FloatToUint8(1.0f), 255);
    EXPECT_EQ(FloatToUint8(-1.0f), 0);
    EXPECT_EQ(FloatToUint8(0.0f), 128);
    EXPECT_EQ(Int16ToFloat(-32768), -1.0f);
    EXPECT_EQ(Uint8ToFloat(0), -1.0f);
    EXPECT_EQ(Uint8ToFloat(128), 0.0f);
}

TEST_F(PcmConversionTest, RoundsHalfUpOnBothSides) {
    // -0.6 x 32768 + 0.5 = -19660.3: the floor is -19661, the nearest value.
    EXPECT_EQ(FloatToInt16(-0.6f), -19661);
    EXPECT_EQ(FloatToInt16(0.6f), 19661);
    EXPECT_EQ(FloatToInt16(0.5f / 32768.0f), 1);
    EXPECT_EQ(FloatToInt16(-0.5f / 32768.0f), 0);
    EXPECT_EQ(FloatToInt16(-1.5f / 32768.0f), -1);
    EXPECT_EQ(FloatToInt16(-0.4f / 32768.0f), 0);
    EXPECT_EQ(FloatToInt16(-0.6f / 32768.0f), -1);
}

TEST_F(PcmConversionTest, ClampsOutOfRangeValues) {
    EXPECT_EQ(FloatToInt16(1.5f), 32767);
    EXPECT_EQ(FloatToInt16(-3.0f), -32768);
    EXPECT_EQ(FloatToInt16(std::numeric_limits<float>::infinity()), 32767);
    EXPECT_EQ(FloatToInt16(-std::numeric_limits<float>::infinity()), -32768);
    EXPECT_EQ(FloatToUint8(2.0f), 255);
    EXPECT_EQ(FloatToUint8(-2.0f), 0);
}

TEST_F(PcmConversionTest, NotANumberBecomesSilence) {
    EXPECT_EQ(FloatToInt16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(FloatToUint8(std::numeric_limits<float>::quiet_NaN()), 128);
}

// ---- ImportPcm / ExportPcm -------------------------------------------------------------------

// The wider kinds: float to integer by the 16-bit rule at each width, integers and floats to the
// engine's samples as the reader takes them.
TEST_F(PcmConversionTest, WiderKindsFollowTheSameRules) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct ToInt {
        float x;
        int bits;
        int32_t expected;
    };
    for (const ToInt& c : std::vector<ToInt>{
             {1.0f, 24, 8388607}, {-1.0f, 24, -8388608}, {0.0f, 24, 0}, {-0.6f, 24, -5033165},
             {-2.5f / 8388608.0f, 24, -2}, {2.5f / 8388608.0f, 24, 3}, {1.5f, 24, 8388607}, {nan, 24, 0},
             {-inf, 24, -8388608}, {1.0f, 32, 2147483647}, {-1.0f, 32, INT32_MIN}, {-0.6f, 32, -1288490240},
             {inf, 32, 2147483647}, {nan, 32, 0}, {0.6f, 16, FloatToInt16(0.6f)}, {-0.6f, 16, FloatToInt16(-0.6f)}}) {
        EXPECT_EQ(FloatToIntBits(c.x, c.bits), c.expected) << c.x << " at " << c.bits << " bits";
    }
    EXPECT_EQ(Int24ToFloat(-8388608), -1.0f);
    EXPECT_EQ(Int24ToFloat(8388607), 8388607.0f / 8388608.0f);
    for (int32_t s : {-8388608, -1, 0, 1, 4660055, 8388607}) EXPECT_EQ(FloatToIntBits(Int24ToFloat(s), 24), s) << s;
    // 24 bits of a 32-bit sample are kept: the nearest float, and back exactly where it has no more.
    EXPECT_EQ(Int32ToFloat(INT32_MIN), -1.0f);
    EXPECT_EQ(Int32ToFloat(INT32_MAX), 1.0f);
    EXPECT_EQ(Int32ToFloat(0x12345678), static_cast<float>(0x12345678) / 2147483648.0f);
    for (int32_t s : {INT32_MIN, INT32_MAX, 0x12345600, -256, 0x00FFFFFF})
        EXPECT_EQ(FloatToIntBits(Int32ToFloat(s), 32), s) << s;
    EXPECT_EQ(Float32ToFloat(1.5f), 1.5f);
    EXPECT_TRUE(std::signbit(Float32ToFloat(-0.0f)));
    EXPECT_EQ(Float32ToFloat(1e-40f), 1e-40f);
    EXPECT_EQ(Float32ToFloat(nan), 0.0f);
    EXPECT_EQ(Float32ToFloat(-inf), 0.0f);
    EXPECT_EQ(Float64ToFloat(0.1), 0.1f);
    EXPECT_EQ(Float64ToFloat(-3.25), -3.25f);
    EXPECT_EQ(Float64ToFloat(1e300), std::numeric_limits<float>::max());
    EXPECT_EQ(Float64ToFloat(std::numeric_limits<double>::quiet_NaN()), 0.0f);
    EXPECT_EQ(Float64ToFloat(-std::numeric_limits<double>::infinity()), 0.0f);
}

TEST_F(PcmChannelTest, ImportTakesItsSlotsOf16BitStereo) {
    const Bytes bytes{0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};  // 1, -1, -32768, 32767
    VeChannel left = MakeChannel(2, [](uint32_t) { return 0.5f; });
    VeChannel right = MakeChannel(2, [](uint32_t) { return 0.5f; });
    EXPECT_EQ(ImportPcm(left, 0, bytes, 4, 2, 2, 0), 2u);
    EXPECT_EQ(ImportPcm(right, 0, bytes, 4, 2, 2, 1), 2u);
    EXPECT_EQ(Samples(left), (std::vector<float>{1 / 32768.0f, -1.0f}));
    EXPECT_EQ(Samples(right), (std::vector<float>{-1 / 32768.0f, 32767 / 32768.0f}));
}

TEST_F(PcmChannelTest, ImportReads8BitWhenTheFrameHoldsOneByteASample) {
    const Bytes bytes{0, 255, 128, 64};
    VeChannel left = MakeChannel(2, [](uint32_t) { return 0.0f; });
    VeChannel right = MakeChannel(2, [](uint32_t) { return 0.0f; });
    EXPECT_EQ(ImportPcm(left, 0, bytes, 2, 2, 2, 0), 2u);
    EXPECT_EQ(ImportPcm(right, 0, bytes, 2, 2, 2, 1), 2u);
    EXPECT_EQ(Samples(left), (std::vector<float>{-1.0f, 0.0f}));
    EXPECT_EQ(Samples(right), (std::vector<float>{127 / 128.0f, -0.5f}));
    VeChannel mono = MakeChannel(4, [](uint32_t) { return 0.0f; });
    EXPECT_EQ(ImportPcm(mono, 0, bytes, 1, 4, 1, 0), 4u);
    EXPECT_EQ(Samples(mono), (std::vector<float>{-1.0f, 127 / 128.0f, 0.0f, -0.5f}));
}

TEST_F(PcmChannelTest, ImportFillsTheRequestedPageOnly) {
    VeChannel channel = MakeChannel(kPage + 3, [](uint32_t) { return 0.0f; });
    const Bytes bytes{0x10, 0x00, 0x20, 0x00, 0x30, 0x00};
    EXPECT_EQ(ImportPcm(channel, 1, bytes, 2, 3, 1, 0), 3u);
    const std::vector<float> samples = Samples(channel);
    EXPECT_EQ(samples[0], 0.0f);
    EXPECT_EQ(samples[kPage], 16 / 32768.0f);
    EXPECT_EQ(samples[kPage + 2], 48 / 32768.0f);
}

TEST_F(PcmChannelTest, ImportRefusesBadArguments) {
    VeChannel channel = MakeChannel(kPage + 3, [](uint32_t) { return 0.25f; });
    const Bytes bytes(16, 0);
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 3, 2, 1, 0), 0u);      // block align 3
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 4, 2, 3, 0), 0u);      // three channels
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 4, 2, 2, 2), 0u);      // index beyond the channels
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 1, 2, 2, 0), 0u);      // two channels in one byte
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 4, 2, 1, 0), 0u);      // 32-bit mono
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 2, 0, 1, 0), 0u);      // no frames
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 2, 9, 1, 0), 0u);      // more frames than bytes
    EXPECT_EQ(ImportPcm(channel, 1, bytes, 2, 4, 1, 0), 0u);      // more than the last page holds
    EXPECT_EQ(ImportPcm(channel, 2, bytes, 2, 1, 1, 0), 0u);      // no such page
    EXPECT_EQ(ImportPcm(channel, -1, bytes, 2, 1, 1, 0), 0u);
    EXPECT_EQ(ImportPcm(channel, 0, {}, 2, 1, 1, 0), 0u);         // no bytes
    const Bytes page_plus_one(size_t{kPage + 1} * 2, 0);
    EXPECT_EQ(ImportPcm(channel, 0, page_plus_one, 2, kPage + 1, 1, 0), 0u);
    VeChannel empty;
    EXPECT_EQ(ImportPcm(empty, 0, bytes, 2, 1, 1, 0), 0u);
    EXPECT_EQ(Samples(channel)[0], 0.25f);
}

TEST_F(PcmChannelTest, ImportRefusesAnUnplainChannel) {
    VeChannel channel = MakeChannel(10, [](uint32_t) { return 0.25f; });
    channel.start_offset = 2;
    const Bytes bytes(4, 0);
    EXPECT_EQ(ImportPcm(channel, 0, bytes, 2, 2, 1, 0), 0u);
}

TEST_F(PcmChannelTest, ExportWritesItsSlotsOf16BitStereo) {
    VeChannel left = MakeChannel(3, [](uint32_t i) { return i == 0 ? 1.0f : i == 1 ? -1.0f : 0.0f; });
    VeChannel right = MakeChannel(3, [](uint32_t i) { return static_cast<float>(i + 1) / 32768.0f; });
    Bytes buffer(12, 0xEE);
    EXPECT_EQ(ExportPcm(left, 0, buffer, 4, 3, 2, 0), 3u);
    EXPECT_EQ(ExportPcm(right, 0, buffer, 4, 3, 2, 1), 3u);
    EXPECT_EQ(GetI16(buffer, 0), 32767);
    EXPECT_EQ(GetI16(buffer, 1), 1);
    EXPECT_EQ(GetI16(buffer, 2), -32768);
    EXPECT_EQ(GetI16(buffer, 3), 2);
    EXPECT_EQ(GetI16(buffer, 4), 0);
    EXPECT_EQ(GetI16(buffer, 5), 3);
}

TEST_F(PcmChannelTest, ExportWrites8BitMono) {
    VeChannel channel = MakeChannel(3, [](uint32_t i) { return i == 0 ? 1.0f : i == 1 ? -1.0f : 0.0f; });
    Bytes buffer(3, 0xEE);
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 1, 3, 1, 0), 3u);
    EXPECT_EQ(buffer, (Bytes{255, 0, 128}));
}

TEST_F(PcmChannelTest, ExportReturnsTheLengthOfTheLastPage) {
    VeChannel channel = MakeChannel(kPage + 5, [](uint32_t i) { return i >= kPage ? 0.5f : 0.0f; });
    Bytes buffer(size_t{kPage} * 2, 0);
    EXPECT_EQ(ExportPcm(channel, 1, buffer, 2, kPage, 1, 0), 5u);
    EXPECT_EQ(GetI16(buffer, 4), 16384);
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 2, kPage, 1, 0), kPage);
}

TEST_F(PcmChannelTest, ExportRefusesASmallBufferAndBadArguments) {
    VeChannel channel = MakeChannel(4, [](uint32_t) { return 0.0f; });
    Bytes buffer(8, 0xEE);
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 2, 3, 1, 0), 0u);  // capacity below the page
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 4, 4, 2, 0), 0u);  // capacity in frames beyond the bytes
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 2, 4, 1, 1), 0u);
    EXPECT_EQ(ExportPcm(channel, 0, buffer, 3, 4, 1, 0), 0u);
    EXPECT_EQ(ExportPcm(channel, 1, buffer, 2, 4, 1, 0), 0u);
    EXPECT_EQ(buffer, Bytes(8, 0xEE));
}

// ---- ExportInt16 ----------------------------------------------------------------------------

TEST_F(PcmChannelTest, ExportInt16FillsEveryOtherSlotAcrossAPageBoundary) {
    VeChannel channel = MakeChannel(kPage + 10, [](uint32_t i) { return static_cast<float>(i % 1000) / 32768.0f; });
    std::vector<int16_t> buffer(40, -7);
    const uint32_t first = kPage - 5;
    EXPECT_EQ(ExportInt16(channel, buffer, 2, 1, first), 15u);  // 10 + 5 frames remain, room for 20
    for (uint32_t k = 0; k < 15; ++k) {
        ASSERT_EQ(buffer[2 * k + 1], static_cast<int16_t>((first + k) % 1000)) << k;
        ASSERT_EQ(buffer[2 * k], -7) << k;
    }
    EXPECT_EQ(buffer[31], -7);
}

TEST_F(PcmChannelTest, ExportInt16StopsAtTheBufferSize) {
    VeChannel channel = MakeChannel(100, [](uint32_t) { return -1.0f; });
    std::vector<int16_t> buffer(8, 0);
    EXPECT_EQ(ExportInt16(channel, buffer, 1, 0, 10), 8u);
    EXPECT_EQ(buffer, std::vector<int16_t>(8, -32768));
}

TEST_F(PcmChannelTest, ExportInt16RefusesAnUnevenBufferAndAFirstFrameAtTheEnd) {
    VeChannel channel = MakeChannel(100, [](uint32_t) { return 0.0f; });
    std::vector<int16_t> buffer(7, 0);
    EXPECT_EQ(ExportInt16(channel, buffer, 2, 0, 0), 0u);
    std::vector<int16_t> even(8, 0);
    EXPECT_EQ(ExportInt16(channel, even, 2, 0, 100), 0u);
    EXPECT_EQ(ExportInt16(channel, even, 2, 2, 0), 0u);
    EXPECT_EQ(ExportInt16(channel, even, 0, 0, 0), 0u);
    EXPECT_EQ(ExportInt16(channel, even, 2, 0, 99), 1u);
}

// ---- The sample loops -------------------------------------------------------------------------

TEST_F(PcmLoopTest, ReadFillsAStereoSetFromAStream) {
    std::vector<uint8_t> bytes{0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00};
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), static_cast<uint32_t>(bytes.size()), 0));
    VeChannelSet set;
    ASSERT_TRUE(ReadPcmSamples(set, stream, PcmHeader(2, 16, 2)));
    ASSERT_TRUE(set.IsStereo());
    EXPECT_EQ(Samples(set.left), (std::vector<float>{1 / 32768.0f, 3 / 32768.0f}));
    EXPECT_EQ(Samples(set.right), (std::vector<float>{2 / 32768.0f, 4 / 32768.0f}));
}

TEST_F(PcmLoopTest, ReadLeavesFramesTheStreamLacksSilent) {
    std::vector<uint8_t> bytes{0x00, 0x40, 0x00, 0x40};
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), static_cast<uint32_t>(bytes.size()), 0));
    VeChannelSet set;
    TaskProgress progress;
    progress.Reset(100);
    ASSERT_TRUE(ReadPcmSamples(set, stream, PcmHeader(1, 16, 5), &progress));
    EXPECT_EQ(progress.Done(), 100u);
    EXPECT_EQ(Samples(set.left), (std::vector<float>{0.5f, 0.5f, 0.0f, 0.0f, 0.0f}));
}

TEST_F(PcmLoopTest, ReadSpansSeveralPages) {
    const uint32_t frames = 2 * kPage + 3;
    std::vector<uint8_t> bytes(frames);
    for (uint32_t i = 0; i < frames; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), frames, 0));
    VeChannelSet set;
    ASSERT_TRUE(ReadPcmSamples(set, stream, PcmHeader(1, 8, frames)));
    const std::vector<float> samples = Samples(set.left);
    ASSERT_EQ(samples.size(), frames);
    for (uint32_t i = 0; i < frames; i += 4099) ASSERT_EQ(samples[i], Uint8ToFloat(bytes[i])) << i;
    EXPECT_EQ(samples.back(), Uint8ToFloat(bytes.back()));
}

TEST_F(PcmLoopTest, ReadRefusesASetInUseAndLeavesItAlone) {
    std::vector<uint8_t> bytes(8, 0);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 8, 0));
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 3, 8000));
    EXPECT_FALSE(ReadPcmSamples(set, stream, PcmHeader(1, 16, 4)));
    EXPECT_TRUE(set.IsMono());
    EXPECT_EQ(set.frames, 3u);
}

TEST_F(PcmLoopTest, ReadRefusesHeadersItCannotRead) {
    std::vector<uint8_t> bytes(60, 0);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 60, 0));
    VeChannelSet set;
    EXPECT_FALSE(ReadPcmSamples(set, stream, PcmHeader(2, 12, 10)));
    EXPECT_FALSE(ReadPcmSamples(set, stream, PcmHeader(3, 16, 10)));
    VeAudioFormat half_floats = PcmHeader(1, 16, 10);
    half_floats.format_tag = 3;
    EXPECT_FALSE(ReadPcmSamples(set, stream, half_floats));
    VeAudioFormat no_frames = PcmHeader(1, 16, 0);
    EXPECT_FALSE(ReadPcmSamples(set, stream, no_frames));
    EXPECT_TRUE(set.IsEmpty());
}

TEST_F(PcmLoopTest, ReadFailsOnAClosedStreamOrACancelledProgress) {
    VeMemoryStream closed;
    VeChannelSet set;
    EXPECT_FALSE(ReadPcmSamples(set, closed, PcmHeader(1, 16, 2)));
    std::vector<uint8_t> bytes(4, 0);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 4, 0));
    TaskProgress progress;
    progress.Reset(10);
    progress.Cancel();
    EXPECT_FALSE(ReadPcmSamples(set, stream, PcmHeader(1, 16, 2), &progress));
    EXPECT_TRUE(set.IsEmpty());
}

TEST_F(PcmLoopTest, WriteInterleavesAsTheHeaderSays) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 2, 8000));
    const float left[2] = {1.0f, -1.0f};
    const float right[2] = {0.5f, -0.5f};
    ASSERT_TRUE(set.left.store->WriteAt(0, left, 2));
    ASSERT_TRUE(set.right.store->WriteAt(0, right, 2));
    std::vector<uint8_t> bytes(8, 0xEE);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 8, 0));
    TaskProgress progress;
    progress.Reset(100);
    ASSERT_TRUE(WritePcmSamples(set, stream, PcmHeader(2, 16, 2), &progress));
    EXPECT_EQ(progress.Done(), 100u);
    EXPECT_EQ(GetI16(bytes, 0), 32767);
    EXPECT_EQ(GetI16(bytes, 1), 16384);
    EXPECT_EQ(GetI16(bytes, 2), -32768);
    EXPECT_EQ(GetI16(bytes, 3), -16384);
}

TEST_F(PcmLoopTest, WriteOfAMonoHeaderTakesTheLeftChannelOnly) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 2, 8000));
    const float left[2] = {0.25f, 0.75f};
    ASSERT_TRUE(set.left.store->WriteAt(0, left, 2));
    std::vector<uint8_t> bytes(2, 0xEE);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 2, 0));
    ASSERT_TRUE(WritePcmSamples(set, stream, PcmHeader(1, 8, 2)));
    EXPECT_EQ(bytes, (Bytes{160, 224}));
}

TEST_F(PcmLoopTest, WriteFailsWhenTheStreamTakesFewerFrames) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 10, 8000));
    std::vector<uint8_t> bytes(6, 0);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 6, 0));
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(WritePcmSamples(set, stream, PcmHeader(1, 16, 10), &progress));
    EXPECT_TRUE(progress.IsFailed());
}

TEST_F(PcmLoopTest, WriteRefusesAStereoHeaderOverAMonoSet) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 2, 8000));
    std::vector<uint8_t> bytes(8, 0);
    VeMemoryStream stream;
    ASSERT_TRUE(stream.Attach(bytes.data(), 8, 0));
    EXPECT_FALSE(WritePcmSamples(set, stream, PcmHeader(2, 16, 2)));
    EXPECT_FALSE(WritePcmSamples(set, stream, PcmHeader(1, 12, 2)));
    VeChannelSet empty;
    EXPECT_FALSE(WritePcmSamples(empty, stream, PcmHeader(1, 16, 2)));
}

}  // namespace
}  // namespace chm
