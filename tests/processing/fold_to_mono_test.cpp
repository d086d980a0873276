#include "processing/fold_to_mono.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_data.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "processing/channel_ops.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;
constexpr int kMix = static_cast<int>(ConversionMethod::MixChannels);
constexpr int kKeepLeft = static_cast<int>(ConversionMethod::KeepLeft);
constexpr int kKeepRight = static_cast<int>(ConversionMethod::KeepRight);

float Sine(uint32_t i, float amplitude, float step) { return amplitude * std::sin(static_cast<float>(i) * step); }

void Fill(VeSampleStore& store, const std::vector<float>& values) {
    ASSERT_EQ(values.size(), store.Count());
    ASSERT_TRUE(store.WriteAt(0, values.data(), store.Count()));
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

// Seeded noise in [-amplitude, amplitude]: the same every run.
std::vector<float> Noise(uint32_t n, float amplitude, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = dist(random);
    return v;
}

// Counts the progress hooks.
class CountingProgress : public TaskProgress {
public:
    int failures = 0;
    int changes = 0;

protected:
    void OnFailed() override { ++failures; }
    void OnChanged() override { ++changes; }
};

class FoldToMonoTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }

    // 16-bit stereo at 44100 Hz whose channels hold the given samples.
    static void MakeStereo(VeAudioData& data, const std::vector<float>& left, const std::vector<float>& right) {
        ASSERT_EQ(left.size(), right.size());
        ASSERT_TRUE(data.CreateSilence(true, static_cast<uint32_t>(left.size()), 44100));
        Fill(*data.ChannelSet().left.store, left);
        Fill(*data.ChannelSet().right.store, right);
    }

    // The fold's expected mix: the float sum, scaled by 1 / peak when it leaves full scale.
    static std::vector<float> ExpectedMix(const std::vector<float>& left, const std::vector<float>& right) {
        std::vector<float> sum(left.size());
        float low = 0.0f;
        float high = 0.0f;
        for (size_t k = 0; k < sum.size(); ++k) {
            sum[k] = left[k] + right[k];
            low = std::min(low, sum[k]);
            high = std::max(high, sum[k]);
        }
        if (low >= -1.0f && high <= 1.0f) return sum;
        const float peak = std::fabs(low) > high ? std::fabs(low) : high;
        const float gain = 1.0f / peak;
        for (float& s : sum) s = std::clamp(s * gain, -1.0f, 1.0f);
        return sum;
    }
};

TEST_F(FoldToMonoTest, MixAcrossThePageBoundary) {
    const uint32_t frames = kPage + 1;
    std::vector<float> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = Sine(i, 0.4f, 0.001f);
        right[i] = Sine(i, 0.3f, 0.0031f);
    }
    left[kPage] = 0.125f;
    right[kPage] = 0.25f;
    VeAudioData data;
    MakeStereo(data, left, right);
    ASSERT_EQ(data.ChannelSet().left.store->PageCount(), 2u);
    ASSERT_TRUE(data.FoldToMono(kMix));
    const std::vector<float> mono = Samples(*data.ChannelSet().left.store);
    ASSERT_EQ(mono.size(), frames);
    EXPECT_EQ(mono[kPage], 0.375f);
    EXPECT_EQ(mono[kPage - 1], left[kPage - 1] + right[kPage - 1]);
    EXPECT_EQ(mono, ExpectedMix(left, right));
}

TEST_F(FoldToMonoTest, KeepRightOnExactlyOnePage) {
    const std::vector<float> left = Noise(kPage, 0.9f, 1);
    const std::vector<float> right = Noise(kPage, 0.9f, 2);
    VeAudioData data;
    MakeStereo(data, left, right);
    ASSERT_TRUE(data.FoldToMono(kKeepRight));
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), right);
}

TEST_F(FoldToMonoTest, IdenticalChannelsAtFourFifthsAreScaledToExactlyFullScale) {
    std::vector<float> left(10000);
    for (uint32_t i = 0; i < left.size(); ++i) left[i] = Sine(i, 0.8f, 0.05f);
    left[1234] = 0.8f;
    left[4321] = -0.8f;
    VeAudioData data;
    MakeStereo(data, left, left);
    EXPECT_EQ(ClassifyStereo(data.ChannelSet(), false), StereoContent::Alike);
    ASSERT_TRUE(data.FoldToMono(kMix));
    const std::vector<float> mono = Samples(*data.ChannelSet().left.store);
    EXPECT_EQ(mono[1234], 1.0f);
    EXPECT_EQ(mono[4321], -1.0f);
    EXPECT_EQ(*std::max_element(mono.begin(), mono.end()), 1.0f);
    const float gain = 1.0f / 1.6f;
    for (size_t k = 0; k < mono.size(); ++k) ASSERT_EQ(mono[k], std::clamp((left[k] + left[k]) * gain, -1.0f, 1.0f));
}

TEST_F(FoldToMonoTest, OpposedChannelsKeepTheLeftChannelExactly) {
    const std::vector<float> left = Noise(50000, 0.7f, 3);
    std::vector<float> right(left.size());
    for (size_t k = 0; k < left.size(); ++k) right[k] = -left[k];
    VeAudioData data;
    MakeStereo(data, left, right);
    const std::string right_path = data.ChannelSet().right.store->Path();
    EXPECT_EQ(ClassifyStereo(data.ChannelSet(), false), StereoContent::Opposed);
    ASSERT_TRUE(data.FoldToMono(kMix));
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), left);
    EXPECT_FALSE(PathExists(right_path));
    EXPECT_EQ(data.ChannelSet().channels, 1);
}

TEST_F(FoldToMonoTest, AllSilentStereoMixesToSilence) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 3000, 44100));
    EXPECT_EQ(ClassifyStereo(data.ChannelSet(), false), StereoContent::Alike);
    ASSERT_TRUE(data.FoldToMono(kMix));
    for (float s : Samples(*data.ChannelSet().left.store)) ASSERT_EQ(s, 0.0f);
    EXPECT_TRUE(data.ChannelSet().IsMono());
}

TEST_F(FoldToMonoTest, SumReachingExactlyFullScaleIsNotScaled) {
    std::vector<float> left = Noise(20000, 0.45f, 4);
    std::vector<float> right = Noise(20000, 0.45f, 5);
    left[100] = 0.5f;
    right[100] = 0.5f;
    left[200] = -0.75f;
    right[200] = -0.25f;
    VeAudioData data;
    MakeStereo(data, left, right);
    ASSERT_TRUE(data.FoldToMono(kMix));
    const std::vector<float> mono = Samples(*data.ChannelSet().left.store);
    EXPECT_EQ(mono[100], 1.0f);
    EXPECT_EQ(mono[200], -1.0f);
    for (size_t k = 0; k < mono.size(); ++k) ASSERT_EQ(mono[k], left[k] + right[k]) << k;
}

TEST_F(FoldToMonoTest, SumJustBeyondFullScaleScalesTheWholeChannel) {
    std::vector<float> left = Noise(20000, 0.45f, 6);
    std::vector<float> right = Noise(20000, 0.45f, 7);
    const float beyond = std::nextafter(-1.0f, -2.0f);
    left[300] = -0.5f;
    right[300] = beyond + 0.5f;  // exactly representable: the sum is the next float below -1
    ASSERT_EQ(left[300] + right[300], beyond);
    VeAudioData data;
    MakeStereo(data, left, right);
    ASSERT_TRUE(data.FoldToMono(kMix));
    const std::vector<float> mono = Samples(*data.ChannelSet().left.store);
    const float gain = 1.0f / -beyond;
    EXPECT_EQ(mono[300], -1.0f);
    EXPECT_NE(mono[0], left[0] + right[0]);
    for (size_t k = 0; k < mono.size(); ++k) ASSERT_EQ(mono[k], std::clamp((left[k] + right[k]) * gain, -1.0f, 1.0f));
}

TEST_F(FoldToMonoTest, KeepLeftIsBitExactAndMovesNoSamples) {
    const std::vector<float> left = Noise(kPage + 7, 1.0f, 8);
    const std::vector<float> right = Noise(kPage + 7, 1.0f, 9);
    VeAudioData data;
    MakeStereo(data, left, right);
    const std::string left_path = data.ChannelSet().left.store->Path();
    const std::string right_path = data.ChannelSet().right.store->Path();
    ASSERT_TRUE(data.FoldToMono(kKeepLeft));
    EXPECT_EQ(data.ChannelSet().left.store->Path(), left_path);  // the same file: nothing copied
    EXPECT_FALSE(PathExists(right_path));
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), left);
    EXPECT_TRUE(data.ChannelSet().right.IsEmpty());
}

TEST_F(FoldToMonoTest, KeepRightIsBitExactAndMovesNoSamples) {
    const std::vector<float> left = Noise(kPage + 7, 1.0f, 10);
    const std::vector<float> right = Noise(kPage + 7, 1.0f, 11);
    VeAudioData data;
    MakeStereo(data, left, right);
    const std::string left_path = data.ChannelSet().left.store->Path();
    const std::string right_path = data.ChannelSet().right.store->Path();
    ASSERT_TRUE(data.FoldToMono(kKeepRight));
    EXPECT_EQ(data.ChannelSet().left.store->Path(), right_path);
    EXPECT_FALSE(PathExists(left_path));
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), right);
}

TEST_F(FoldToMonoTest, MethodFiveActsAsKeepRight) {
    const std::vector<float> left = Noise(1000, 0.5f, 12);
    const std::vector<float> right = Noise(1000, 0.5f, 13);
    VeAudioData data;
    MakeStereo(data, left, right);
    ASSERT_TRUE(data.FoldToMono(5));
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), right);
    EXPECT_EQ(data.Format().channels, 1);
}

TEST_F(FoldToMonoTest, MonoInputIsUnchangedAndItsHeaderNotPatched) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 1000, 22050));
    const std::vector<float> samples = Noise(1000, 0.5f, 14);
    Fill(*data.ChannelSet().left.store, samples);
    CountingProgress progress;
    progress.Reset(100);
    ASSERT_TRUE(data.FoldToMono(kMix, &progress));
    EXPECT_EQ(data.Format().channels, 1);
    EXPECT_EQ(data.Format().block_align, 2);
    EXPECT_EQ(data.Format().avg_bytes_per_sec, 44100u);
    EXPECT_EQ(Samples(*data.ChannelSet().left.store), samples);
    EXPECT_EQ(progress.Done(), 100u);
    EXPECT_EQ(progress.failures, 0);
}

TEST_F(FoldToMonoTest, CancelledProgressFailsAtOnce) {
    const std::vector<float> left = Noise(1000, 0.5f, 15);
    const std::vector<float> right = Noise(1000, 0.5f, 16);
    VeAudioData data;
    MakeStereo(data, left, right);
    CountingProgress progress;
    progress.Reset(100);
    progress.Cancel();
    EXPECT_FALSE(data.FoldToMono(kKeepLeft, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(progress.failures, 1);
    EXPECT_TRUE(data.ChannelSet().IsStereo());
    EXPECT_EQ(data.Format().channels, 2);
    EXPECT_EQ(Samples(*data.ChannelSet().right.store), right);
}

TEST_F(FoldToMonoTest, HeaderIsPatchedToMono) {
    const std::vector<float> left = Noise(4410, 0.5f, 17);
    const std::vector<float> right = Noise(4410, 0.5f, 18);
    VeAudioData data;
    MakeStereo(data, left, right);
    CountingProgress progress;
    progress.Reset(100);
    ASSERT_TRUE(data.FoldToMono(kMix, &progress));
    const VeAudioFormat& f = data.Format();
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.block_align, 2);
    EXPECT_EQ(f.avg_bytes_per_sec, 88200u);
    EXPECT_EQ(f.sample_rate, 44100u);
    EXPECT_EQ(f.bits_per_sample, 16);
    EXPECT_EQ(f.frames, 4410u);
    EXPECT_EQ(f.data_bytes, 4410u * 4);  // the data size is left to the writer
    EXPECT_TRUE(data.IsValid());
    EXPECT_TRUE(data.IsReadyToWrite());
    EXPECT_EQ(progress.Done(), 100u);
    EXPECT_EQ(progress.failures, 0);
}

TEST_F(FoldToMonoTest, EmptyAudioFailsAndCallsFail) {
    VeAudioData data;
    CountingProgress progress;
    progress.Reset(10);
    EXPECT_FALSE(data.FoldToMono(kMix, &progress));
    EXPECT_EQ(progress.failures, 1);
    EXPECT_TRUE(data.IsEmpty());
}

TEST_F(FoldToMonoTest, StereoWithoutAValidRightChannelFails) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 100, 44100));
    data.ChannelSet().right.Release();
    EXPECT_FALSE(data.FoldToMono(kKeepLeft));
    EXPECT_EQ(data.Format().channels, 2);
}

TEST_F(FoldToMonoTest, ShiftedChannelIsMadePlainBeforeTheMix) {
    const std::vector<float> right = Noise(110, 0.3f, 19);
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 110, 8000));
    Fill(*data.ChannelSet().right.store, right);
    VeChannel shifted;
    shifted.store = std::make_unique<VeSampleStore>();
    ASSERT_TRUE(shifted.store->Create(100));
    const std::vector<float> stored = Noise(100, 0.3f, 20);
    Fill(*shifted.store, stored);
    shifted.length = 110;
    shifted.start_offset = 10;
    data.ChannelSet().left = std::move(shifted);
    ASSERT_TRUE(data.FoldToMono(kMix));
    const std::vector<float> mono = Samples(*data.ChannelSet().left.store);
    ASSERT_EQ(mono.size(), 110u);
    for (uint32_t t = 0; t < 10; ++t) EXPECT_EQ(mono[t], right[t]);
    for (uint32_t t = 10; t < 110; ++t) EXPECT_EQ(mono[t], stored[t - 10] + right[t]);
}

TEST_F(FoldToMonoTest, SetLevelFoldReportsToItsProgress) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 500, 44100));
    CountingProgress progress;
    progress.Reset(40);
    ASSERT_TRUE(FoldToMono(set, kKeepRight, &progress));
    EXPECT_EQ(progress.Done(), 40u);
    EXPECT_EQ(set.channels, 1);
    EXPECT_TRUE(set.right.IsEmpty());
}

}  // namespace
}  // namespace chm
