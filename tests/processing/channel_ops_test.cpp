#include "processing/channel_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_data.h"
#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

std::vector<float> Noise(uint32_t n, float amplitude, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = dist(random);
    return v;
}

std::vector<float> Samples(VeSampleStore& store) {
    std::vector<float> out;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        const float* samples = store.MapPage(page);
        if (!samples) return {};
        out.insert(out.end(), samples, samples + store.PageLength(page));
    }
    return out;
}

class ChannelOpsTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }

    // A channel holding `stored` as its store, shown at `offset` within `length`.
    static VeChannel MakeChannel(const std::vector<float>& stored, int32_t offset = 0, int32_t length = -1) {
        VeChannel channel;
        channel.store = std::make_unique<VeSampleStore>();
        EXPECT_TRUE(channel.store->Create(static_cast<uint32_t>(stored.size())));
        EXPECT_TRUE(channel.store->WriteAt(0, stored.data(), static_cast<uint32_t>(stored.size())));
        channel.length = length < 0 ? static_cast<int32_t>(stored.size()) : length;
        channel.start_offset = offset;
        return channel;
    }

    static void MakeStereo(VeChannelSet& set, const std::vector<float>& left, const std::vector<float>& right) {
        ASSERT_TRUE(set.Allocate(2, static_cast<uint32_t>(left.size()), 44100));
        set.left = MakeChannel(left);
        set.right = MakeChannel(right);
    }
};

TEST_F(ChannelOpsTest, MakePlainAppliesTheOffset) {
    const std::vector<float> stored = Noise(100, 0.5f, 1);
    VeChannel channel = MakeChannel(stored, 10, 110);
    const std::string old_path = channel.store->Path();
    ASSERT_TRUE(MakePlain(channel));
    EXPECT_TRUE(channel.IsPlain());
    EXPECT_EQ(channel.start_offset, 0);
    EXPECT_EQ(channel.length, 110);
    EXPECT_FALSE(PathExists(old_path));
    const std::vector<float> s = Samples(*channel.store);
    ASSERT_EQ(s.size(), 110u);
    for (uint32_t t = 0; t < 10; ++t) EXPECT_EQ(s[t], 0.0f);
    for (uint32_t t = 10; t < 110; ++t) ASSERT_EQ(s[t], stored[t - 10]);
    EXPECT_EQ(test::TempEntries().size(), 1u);
}

TEST_F(ChannelOpsTest, MakePlainShortensAChannelLongerThanItsLength) {
    const std::vector<float> stored = Noise(100, 0.5f, 2);
    VeChannel channel = MakeChannel(stored, 0, 60);
    ASSERT_TRUE(MakePlain(channel));
    EXPECT_EQ(Samples(*channel.store), std::vector<float>(stored.begin(), stored.begin() + 60));
}

TEST_F(ChannelOpsTest, MakePlainAcrossPages) {
    const std::vector<float> stored = Noise(kPage + 3, 0.5f, 3);
    VeChannel channel = MakeChannel(stored, 5, static_cast<int32_t>(kPage + 8));
    ASSERT_TRUE(MakePlain(channel));
    const std::vector<float> s = Samples(*channel.store);
    ASSERT_EQ(s.size(), kPage + 8);
    EXPECT_EQ(s[4], 0.0f);
    for (uint32_t t = 5; t < kPage + 8; ++t) ASSERT_EQ(s[t], stored[t - 5]) << t;
}

TEST_F(ChannelOpsTest, MakePlainLeavesAPlainChannelAlone) {
    VeChannel channel = MakeChannel(Noise(100, 0.5f, 4));
    const std::string path = channel.store->Path();
    ASSERT_TRUE(MakePlain(channel));
    EXPECT_EQ(channel.store->Path(), path);
    VeChannel empty;
    EXPECT_TRUE(MakePlain(empty));
}

TEST_F(ChannelOpsTest, MakePlainOfABrokenChannelFailsAndKeepsIt) {
    VeChannel channel;
    channel.length = 50;
    channel.start_offset = 3;
    EXPECT_FALSE(MakePlain(channel));
    EXPECT_EQ(channel.length, 50);
    EXPECT_EQ(channel.start_offset, 3);
}

TEST_F(ChannelOpsTest, AddChannelSumsWithoutHalving) {
    const std::vector<float> a = Noise(kPage + 100, 0.5f, 5);
    const std::vector<float> b = Noise(kPage + 100, 0.5f, 6);
    VeChannel target = MakeChannel(a);
    VeChannel other = MakeChannel(b);
    ASSERT_TRUE(AddChannel(target, other));
    const std::vector<float> s = Samples(*target.store);
    for (size_t k = 0; k < s.size(); ++k) ASSERT_EQ(s[k], a[k] + b[k]) << k;
    EXPECT_EQ(Samples(*other.store), b);
}

TEST_F(ChannelOpsTest, AddChannelScalesByTheLoudestNegativeSum) {
    std::vector<float> a = Noise(1000, 0.5f, 7);
    std::vector<float> b = Noise(1000, 0.5f, 8);
    a[10] = 0.75f;  // +1.5
    b[10] = 0.75f;
    a[20] = -1.0f;  // -2.0, the louder one
    b[20] = -1.0f;
    VeChannel target = MakeChannel(a);
    VeChannel other = MakeChannel(b);
    ASSERT_TRUE(AddChannel(target, other));
    const std::vector<float> s = Samples(*target.store);
    EXPECT_EQ(s[20], -1.0f);
    EXPECT_EQ(s[10], 0.75f);
    for (size_t k = 0; k < s.size(); ++k) ASSERT_EQ(s[k], std::clamp((a[k] + b[k]) * 0.5f, -1.0f, 1.0f));
}

TEST_F(ChannelOpsTest, AddChannelFindsTheExtremeInTheLastPartialBlock) {
    // The sums beyond full scale sit in the few samples after the last whole block of a page.
    for (const float sign : {1.0f, -1.0f}) {
        std::vector<float> a = Noise(kPage + 37, 0.4f, 9);
        std::vector<float> b = Noise(kPage + 37, 0.4f, 10);
        a[kPage + 36] = sign * 1.0f;
        b[kPage + 36] = sign * 0.25f;
        VeChannel target = MakeChannel(a);
        VeChannel other = MakeChannel(b);
        ASSERT_TRUE(AddChannel(target, other));
        const std::vector<float> s = Samples(*target.store);
        EXPECT_EQ(s[kPage + 36], sign * 1.0f);
        EXPECT_EQ(s[0], std::clamp((a[0] + b[0]) * (1.0f / 1.25f), -1.0f, 1.0f));
    }
}

TEST_F(ChannelOpsTest, AddChannelRefusesDifferentShapes) {
    VeChannel target = MakeChannel(Noise(100, 0.5f, 11));
    VeChannel shorter = MakeChannel(Noise(99, 0.5f, 12));
    VeChannel shifted = MakeChannel(Noise(100, 0.5f, 13), 1, 101);
    VeChannel empty;
    const std::vector<float> before = Samples(*target.store);
    EXPECT_FALSE(AddChannel(target, shorter));
    EXPECT_FALSE(AddChannel(target, shifted));
    EXPECT_FALSE(AddChannel(target, empty));
    EXPECT_FALSE(AddChannel(empty, target));
    EXPECT_EQ(Samples(*target.store), before);
}

TEST_F(ChannelOpsTest, ScaleToPeakUpToOneChangesNothing) {
    const std::vector<float> v = Noise(500, 1.0f, 14);
    VeChannel channel = MakeChannel(v);
    EXPECT_TRUE(ScaleToPeak(channel, 1.0f));
    EXPECT_TRUE(ScaleToPeak(channel, 0.5f));
    EXPECT_EQ(Samples(*channel.store), v);
    VeChannel empty;
    EXPECT_TRUE(ScaleToPeak(empty, 1.0f));  // before the validity check
}

TEST_F(ChannelOpsTest, ScaleToPeakMultipliesByTheInverseAndClamps) {
    std::vector<float> v = Noise(kPage + 5, 2.0f, 15);
    v[3] = 3.0f;  // louder than the stated peak: clamped
    v[kPage + 4] = -2.5f;
    VeChannel channel = MakeChannel(v);
    ASSERT_TRUE(ScaleToPeak(channel, 2.0f));
    const std::vector<float> s = Samples(*channel.store);
    EXPECT_EQ(s[3], 1.0f);
    EXPECT_EQ(s[kPage + 4], -1.0f);
    for (size_t k = 0; k < s.size(); ++k) ASSERT_EQ(s[k], std::clamp(v[k] * 0.5f, -1.0f, 1.0f));
}

TEST_F(ChannelOpsTest, ScaleToPeakOfAnInvalidChannelFails) {
    VeChannel empty;
    EXPECT_FALSE(ScaleToPeak(empty, 2.0f));
}

TEST_F(ChannelOpsTest, MixToMonoDropsTheRightChannel) {
    const std::vector<float> a = Noise(2000, 0.5f, 16);
    const std::vector<float> b = Noise(2000, 0.5f, 17);
    VeChannelSet set;
    MakeStereo(set, a, b);
    const std::string right_path = set.right.store->Path();
    ASSERT_TRUE(MixToMono(set));
    EXPECT_EQ(set.channels, 1);
    EXPECT_TRUE(set.right.IsEmpty());
    EXPECT_FALSE(PathExists(right_path));
    const std::vector<float> s = Samples(*set.left.store);
    for (size_t k = 0; k < s.size(); ++k) ASSERT_EQ(s[k], a[k] + b[k]);
}

TEST_F(ChannelOpsTest, MixToMonoMixesEvenOpposedChannels) {
    // Only the fold guards against cancelling channels; the plain mix sums them.
    const std::vector<float> a = Noise(1000, 0.5f, 18);
    std::vector<float> b(a.size());
    for (size_t k = 0; k < a.size(); ++k) b[k] = -a[k];
    VeChannelSet set;
    MakeStereo(set, a, b);
    ASSERT_TRUE(MixToMono(set));
    for (float s : Samples(*set.left.store)) ASSERT_EQ(s, 0.0f);
}

TEST_F(ChannelOpsTest, MixToMonoOfMonoAndInvalidSets) {
    VeChannelSet mono;
    ASSERT_TRUE(mono.Allocate(1, 10, 8000));
    EXPECT_TRUE(MixToMono(mono));
    EXPECT_EQ(mono.channels, 1);
    VeChannelSet broken;
    ASSERT_TRUE(broken.Allocate(2, 10, 8000));
    broken.right.Release();
    EXPECT_FALSE(MixToMono(broken));
    VeChannelSet empty;
    EXPECT_FALSE(MixToMono(empty));
}

TEST_F(ChannelOpsTest, AudioDataMixPatchesTheHeaderOnlyForStereo) {
    VeAudioData stereo;
    ASSERT_TRUE(stereo.CreateSilence(true, 100, 48000));
    ASSERT_TRUE(stereo.MixToMono());
    EXPECT_EQ(stereo.Format().channels, 1);
    EXPECT_EQ(stereo.Format().block_align, 2);
    EXPECT_EQ(stereo.Format().avg_bytes_per_sec, 96000u);
    VeAudioData mono;
    ASSERT_TRUE(mono.CreateSilence(false, 100, 48000));
    ASSERT_TRUE(mono.MixToMono());
    EXPECT_EQ(mono.Format().block_align, 2);
    EXPECT_EQ(mono.Format().avg_bytes_per_sec, 96000u);
}

}  // namespace
}  // namespace chm
