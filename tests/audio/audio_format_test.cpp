#include "audio/audio_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace chm {
namespace {

// The first 16 bytes of a "fmt " chunk, little-endian.
std::vector<uint8_t> PcmBlock(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align,
                              uint16_t bits) {
    std::vector<uint8_t> b;
    auto u16 = [&](uint16_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    };
    u16(tag);
    u16(channels);
    u32(rate);
    u32(avg);
    u16(align);
    u16(bits);
    return b;
}

class AudioFormatTest : public ::testing::Test {
protected:
    // 16-bit stereo PCM at 44100 Hz, one second of data.
    static VeAudioFormat CdHeader() {
        VeAudioFormat f;
        EXPECT_TRUE(f.SetFromPcmBlock(PcmBlock(1, 2, 44100, 176400, 4, 16)));
        f.frames = 44100;
        f.data_bytes = 176400;
        return f;
    }
};

TEST_F(AudioFormatTest, NewHeaderIsEmpty) {
    VeAudioFormat f;
    EXPECT_TRUE(f.IsEmpty());
    EXPECT_FALSE(f.IsWellFormed());
    EXPECT_FALSE(f.IsComplete());
}

TEST_F(AudioFormatTest, PcmBlockIsParsedLittleEndian) {
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(1, 2, 0x0102AC44, 0x11223344, 0x0304, 0x0018)));
    EXPECT_EQ(f.format_tag, 1);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sample_rate, 0x0102AC44u);
    EXPECT_EQ(f.avg_bytes_per_sec, 0x11223344u);
    EXPECT_EQ(f.block_align, 0x0304);
    EXPECT_EQ(f.bits_per_sample, 24);
    EXPECT_EQ(f.extra_size, 0);
}

TEST_F(AudioFormatTest, TagAboveInt16RangeReadsAsNegative) {
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(0xFFFE, 2, 48000, 288000, 6, 24)));
    EXPECT_EQ(f.format_tag, -2);
    EXPECT_TRUE(f.IsWellFormed());  // not PCM: the PCM consistency rules do not apply
}

TEST_F(AudioFormatTest, PcmBlockClearsTheHeaderFirst) {
    VeAudioFormat f = CdHeader();
    const std::vector<uint8_t> extra{1, 2, 3};
    f.SetExtraBytes(extra);
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(1, 1, 8000, 8000, 1, 8)));
    EXPECT_EQ(f.frames, 0u);
    EXPECT_EQ(f.data_bytes, 0u);
    EXPECT_EQ(f.extra_size, 0);
    EXPECT_TRUE(f.extra_bytes.empty());
    EXPECT_EQ(f.channels, 1);
}

TEST_F(AudioFormatTest, LongerFmtChunkUsesOnlyItsFirst16Bytes) {
    std::vector<uint8_t> chunk = PcmBlock(1, 2, 44100, 176400, 4, 16);
    chunk.push_back(22);  // cbSize of a WAVEFORMATEXTENSIBLE
    chunk.push_back(0);
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(chunk));
    EXPECT_EQ(f.extra_size, 0);
    EXPECT_TRUE(f.IsWellFormed());
}

TEST_F(AudioFormatTest, ShortBlockIsRefusedAndLeavesTheHeaderEmpty) {
    VeAudioFormat f = CdHeader();
    std::vector<uint8_t> block = PcmBlock(1, 2, 44100, 176400, 4, 16);
    block.pop_back();
    EXPECT_FALSE(f.SetFromPcmBlock(block));
    EXPECT_TRUE(f.IsEmpty());
}

TEST_F(AudioFormatTest, ConsistentPcmIsWellFormed) { EXPECT_TRUE(CdHeader().IsWellFormed()); }

TEST_F(AudioFormatTest, EveryZeroBasicFieldBreaksWellFormedness) {
    auto tag = CdHeader();
    tag.format_tag = 0;
    auto channels = CdHeader();
    channels.channels = 0;
    auto rate = CdHeader();
    rate.sample_rate = 0;
    auto avg = CdHeader();
    avg.avg_bytes_per_sec = 0;
    auto align = CdHeader();
    align.block_align = 0;
    auto bits = CdHeader();
    bits.bits_per_sample = 1;
    for (const auto* f : {&tag, &channels, &rate, &avg, &align, &bits}) EXPECT_FALSE(f->IsWellFormed());
}

TEST_F(AudioFormatTest, PcmMustBeInternallyConsistent) {
    auto avg = CdHeader();
    avg.avg_bytes_per_sec = 176401;
    auto align = CdHeader();
    align.block_align = 2;
    align.avg_bytes_per_sec = 88200;
    auto extra = CdHeader();
    extra.extra_size = 2;
    EXPECT_FALSE(avg.IsWellFormed());
    EXPECT_FALSE(align.IsWellFormed());
    EXPECT_FALSE(extra.IsWellFormed());
}

TEST_F(AudioFormatTest, PcmConsistencyDoesNotWrapAround) {
    // 4 x 0x40000001 = 0x100000004, which a 32-bit product would wrap to 4.
    auto f = CdHeader();
    f.sample_rate = 0x40000001;
    f.avg_bytes_per_sec = 4;
    EXPECT_FALSE(f.IsWellFormed());
}

TEST_F(AudioFormatTest, WidestChannelAndBitFieldsAreCheckedWithoutOverflow) {
    // 65535 x 65535 passes the range of an int; under the sanitizers this case once aborted.
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(1, 0xFFFF, 1, 1, 1, 0xFFFF)));
    EXPECT_FALSE(f.IsWellFormed());
    // 0xFFFF channels of 8 bits do agree with a block align of 0xFFFF.
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(1, 0xFFFF, 1, 0xFFFF, 0xFFFF, 8)));
    EXPECT_TRUE(f.IsWellFormed());
}

TEST_F(AudioFormatTest, NonPcmSkipsTheConsistencyRules) {
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(0x55, 2, 44100, 16000, 1, 16)));
    EXPECT_TRUE(f.IsWellFormed());
}

TEST_F(AudioFormatTest, CompletePcmNeedsFramesAndDataBytes) {
    auto f = CdHeader();
    EXPECT_TRUE(f.IsComplete());
    f.frames = 0;
    EXPECT_FALSE(f.IsComplete());
    f = CdHeader();
    f.data_bytes = 0;
    EXPECT_FALSE(f.IsComplete());
}

TEST_F(AudioFormatTest, CompressedHeaderNeedsNoFramesButItsExtraBytes) {
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(0x161, 2, 44100, 16000, 2973, 16)));
    f.data_bytes = 5000;
    f.extra_size = 10;
    EXPECT_FALSE(f.IsComplete());  // the size promises bytes that are not there
    const std::vector<uint8_t> extra{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    f.SetExtraBytes(extra);
    EXPECT_TRUE(f.IsComplete());
}

TEST_F(AudioFormatTest, CopyDuplicatesTheExtraBytes) {
    VeAudioFormat f;
    ASSERT_TRUE(f.SetFromPcmBlock(PcmBlock(0x161, 2, 44100, 16000, 2973, 16)));
    const std::vector<uint8_t> extra{9, 8, 7, 6};
    f.SetExtraBytes(extra);
    f.frames = 12;
    f.data_bytes = 34;
    VeAudioFormat copy = f;
    copy.extra_bytes[0] = 0;
    EXPECT_EQ(f.extra_bytes[0], 9);
    EXPECT_EQ(copy.extra_size, 4);
    EXPECT_EQ(copy.frames, 12u);
    EXPECT_EQ(copy.data_bytes, 34u);
    EXPECT_EQ(copy.sample_rate, 44100u);
    EXPECT_NE(copy.extra_bytes.data(), f.extra_bytes.data());
}

TEST_F(AudioFormatTest, ClearZeroesEverything) {
    auto f = CdHeader();
    const std::vector<uint8_t> extra{1};
    f.SetExtraBytes(extra);
    f.Clear();
    EXPECT_TRUE(f.IsEmpty());
}

}  // namespace
}  // namespace chm
