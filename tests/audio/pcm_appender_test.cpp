// Stores that grow while frames of unknown number arrive: the samples land where a WAV read puts
// them, in pieces of any size, beyond the guess of their number and short of it; a store that
// cannot grow stays usable.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/audio_format.h"
#include "audio/channel_set.h"
#include "audio/pcm_appender.h"
#include "audio/pcm_samples.h"
#include "tests/support/file_size_limit.h"

namespace chm {
namespace {

VeAudioFormat Pcm16(uint16_t channels) {
    VeAudioFormat header;
    header.format_tag = VeAudioFormat::kPcmTag;
    header.channels = channels;
    header.sample_rate = 44100;
    header.bits_per_sample = 16;
    header.block_align = static_cast<uint16_t>(2 * channels);
    header.avg_bytes_per_sec = 44100u * header.block_align;
    return header;
}

// Frame f of channel c holds (f * 3 + c) modulo 2^16 as a signed 16-bit sample.
std::vector<uint8_t> Frames(uint32_t first, uint32_t count, uint16_t channels) {
    std::vector<uint8_t> bytes;
    for (uint32_t f = first; f < first + count; ++f)
        for (uint16_t c = 0; c < channels; ++c) {
            const auto value = static_cast<uint16_t>(f * 3 + c);
            bytes.push_back(static_cast<uint8_t>(value));
            bytes.push_back(static_cast<uint8_t>(value >> 8));
        }
    return bytes;
}

float Expected(uint32_t frame, uint16_t channel) {
    return Int16ToFloat(static_cast<int16_t>(static_cast<uint16_t>(frame * 3 + channel)));
}

void ExpectSamples(VeChannelSet& set, uint32_t frames) {
    ASSERT_EQ(set.frames, frames);
    ASSERT_TRUE(set.IsPlain());
    for (uint16_t c = 0; c < set.channels; ++c) {
        VeSampleStore& store = *(c == 0 ? set.left : set.right).store;
        ASSERT_EQ(store.Count(), frames);
        for (uint32_t page = 0; page < store.PageCount(); ++page) {
            const float* samples = store.MapPage(page, 0, PageAccess::kRead);
            ASSERT_TRUE(samples);
            for (uint32_t i = 0; i < store.PageLength(page); ++i) {
                const uint32_t frame = page * store.SamplesPerPage() + i;
                ASSERT_EQ(samples[i], Expected(frame, c)) << "frame " << frame << " channel " << c;
            }
        }
    }
}

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

struct Case {
    uint16_t channels;
    uint64_t expected;   // the guess handed to Start
    uint32_t frames;     // what arrives
    uint32_t piece;      // bytes per Append; odd, so that frames are split between pieces
};

class PcmAppenderTest : public ::testing::TestWithParam<Case> {};

TEST_P(PcmAppenderTest, SamplesLandWhereAReadPutsThem) {
    const Case& c = GetParam();
    VeChannelSet set;
    VePcmAppender appender;
    ASSERT_TRUE(appender.Start(set, Pcm16(c.channels), c.expected));
    const std::vector<uint8_t> bytes = Frames(0, c.frames, c.channels);
    for (size_t at = 0; at < bytes.size(); at += c.piece) {
        const size_t n = std::min<size_t>(c.piece, bytes.size() - at);
        ASSERT_TRUE(appender.Append(std::span<const uint8_t>(bytes.data() + at, n)));
    }
    // A partial frame at the end is dropped.
    const uint8_t stray = 7;
    ASSERT_TRUE(appender.Append(std::span<const uint8_t>(&stray, 1)));
    ASSERT_TRUE(appender.Finish());
    EXPECT_EQ(appender.Frames(), c.frames);
    ExpectSamples(set, c.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PcmAppenderTest,
    ::testing::Values(Case{2, 0, 5, 3},                          // no guess, a few frames
                      Case{2, kPage, kPage, 65537},              // exactly the guess, one page
                      Case{2, kPage, 2 * kPage + 11, 65537},     // beyond the guess: the stores grow
                      Case{1, 10 * kPage, kPage + 1, 4099},      // far short of the guess: cut down
                      Case{1, uint64_t{1} << 40, 1000, 1001}));  // a damaged header's promise

TEST(PcmAppenderRefusals, NothingArrivedOrNothingToReadInto) {
    VeChannelSet set;
    VePcmAppender empty;
    ASSERT_TRUE(empty.Start(set, Pcm16(2), 100));
    EXPECT_FALSE(empty.Finish());

    VeChannelSet other;
    VePcmAppender surround;
    EXPECT_FALSE(surround.Start(other, Pcm16(6), 100));  // one or two channels only
    VePcmAppender unstarted;
    EXPECT_FALSE(unstarted.Append(Frames(0, 1, 2)));
    EXPECT_FALSE(unstarted.Finish());
    VePcmAppender busy;
    ASSERT_TRUE(other.Allocate(1, 10, 44100));
    EXPECT_FALSE(busy.Start(other, Pcm16(1), 10));  // a set in use is the caller's
}

// Growing and shrinking keep the samples; a file that cannot grow leaves the store as it was.
TEST(SampleStoreResize, KeepsSamplesAndSurvivesAFullDisk) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(kPage + 5));
    std::vector<float> ramp(kPage + 5);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i);
    ASSERT_TRUE(store.WriteAt(0, ramp.data(), static_cast<uint32_t>(ramp.size())));
    ASSERT_TRUE(store.Resize(3 * kPage));
    const float* last = store.MapPage(1, 0, PageAccess::kRead);
    ASSERT_TRUE(last);
    EXPECT_EQ(last[4], static_cast<float>(kPage + 4));
    EXPECT_EQ(last[5], 0.0f);  // new samples are silent
    {
        test::FileSizeLimit limit(uint64_t{3} * kPage * sizeof(float));
        ASSERT_TRUE(limit.Applied());
        EXPECT_FALSE(store.Resize(8 * kPage));
    }
    EXPECT_EQ(store.Count(), 3 * kPage);
    ASSERT_TRUE(store.Resize(kPage + 1));
    EXPECT_EQ(store.PageLength(1), 1u);
    const float* first = store.MapPage(0, 0, PageAccess::kRead);
    ASSERT_TRUE(first);
    EXPECT_EQ(first[kPage - 1], static_cast<float>(kPage - 1));
    EXPECT_FALSE(store.Resize(0));
}

}  // namespace
}  // namespace chm
