#include "audio/channel_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

// Never exactly 0, so that a sample of silence cannot pass for a stored one.
float Tone(uint32_t i) { return 0.25f + 0.5f * std::sin(static_cast<float>(i) * 0.01f); }
float OtherTone(uint32_t i) { return -0.3f + 0.4f * std::cos(static_cast<float>(i) * 0.003f); }

template <typename F>
void Fill(VeSampleStore& store, F f) {
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        float* samples = store.MapPage(page);
        ASSERT_NE(samples, nullptr);
        for (uint32_t k = 0; k < store.PageLength(page); ++k) samples[k] = f(page * kPage + k);
    }
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

// A channel whose logical samples are shifted against its store.
template <typename F>
VeChannel ShiftedChannel(int32_t offset, int32_t length, uint32_t stored, F f) {
    VeChannel channel;
    channel.store = std::make_unique<VeSampleStore>();
    EXPECT_TRUE(channel.store->Create(stored));
    Fill(*channel.store, f);
    channel.length = length;
    channel.start_offset = offset;
    return channel;
}

// Says when it is asked about cancellation for the n-th time, and counts the failures.
class CancelOnQuery : public TaskProgress {
public:
    explicit CancelOnQuery(int cancel_at) : cancel_at_(cancel_at) {}
    bool IsCancelled() const override { return ++queries_ >= cancel_at_; }
    int failures = 0;

protected:
    void OnFailed() override { ++failures; }

private:
    int cancel_at_;
    mutable int queries_ = 0;
};

class ChannelTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }
};

class ChannelSetTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }

    static void MakeStereo(VeChannelSet& set, uint32_t frames) {
        ASSERT_TRUE(set.Allocate(2, frames, 44100));
        Fill(*set.left.store, Tone);
        Fill(*set.right.store, OtherTone);
    }
};

TEST_F(ChannelTest, NewChannelIsEmptyAndPlainButNotValid) {
    VeChannel channel;
    EXPECT_TRUE(channel.IsEmpty());
    EXPECT_TRUE(channel.IsPlain());
    EXPECT_FALSE(channel.IsValid());
}

TEST_F(ChannelTest, ChannelAsLongAsItsStoreIsPlain) {
    VeChannel channel = ShiftedChannel(0, 100, 100, Tone);
    EXPECT_TRUE(channel.IsValid());
    EXPECT_TRUE(channel.IsPlain());
    EXPECT_FALSE(channel.IsEmpty());
}

TEST_F(ChannelTest, OffsetOrOtherLengthIsNotPlain) {
    VeChannel shifted = ShiftedChannel(10, 110, 100, Tone);
    VeChannel longer = ShiftedChannel(0, 110, 100, Tone);
    EXPECT_TRUE(shifted.IsValid());
    EXPECT_FALSE(shifted.IsPlain());
    EXPECT_FALSE(longer.IsPlain());
}

TEST_F(ChannelTest, LengthWithoutAStoreIsNotValid) {
    VeChannel channel;
    channel.length = 10;
    EXPECT_FALSE(channel.IsValid());
    EXPECT_FALSE(channel.IsEmpty());
    EXPECT_FALSE(channel.IsPlain());
}

TEST_F(ChannelTest, ReleaseDeletesTheTemporaryFile) {
    VeChannel channel = ShiftedChannel(3, 100, 100, Tone);
    const std::string path = channel.store->Path();
    ASSERT_TRUE(PathExists(path));
    channel.Release();
    EXPECT_FALSE(PathExists(path));
    EXPECT_TRUE(channel.IsEmpty());
}

TEST_F(ChannelTest, MovingIntoAChannelReleasesItsOldStore) {
    VeChannel target = ShiftedChannel(0, 50, 50, Tone);
    VeChannel source = ShiftedChannel(4, 60, 60, OtherTone);
    const std::string old_path = target.store->Path();
    const std::string new_path = source.store->Path();
    target = std::move(source);
    EXPECT_FALSE(PathExists(old_path));
    EXPECT_EQ(target.store->Path(), new_path);
    EXPECT_EQ(target.length, 60);
    EXPECT_EQ(target.start_offset, 4);
    EXPECT_TRUE(source.IsEmpty());
}

TEST_F(ChannelTest, SwapExchangesRecordsWithoutCopying) {
    VeChannel a = ShiftedChannel(0, 50, 50, Tone);
    VeChannel b = ShiftedChannel(2, 60, 60, OtherTone);
    const std::string path_a = a.store->Path();
    const std::string path_b = b.store->Path();
    a.Swap(b);
    EXPECT_EQ(a.store->Path(), path_b);
    EXPECT_EQ(b.store->Path(), path_a);
    EXPECT_EQ(a.length, 60);
    EXPECT_EQ(a.start_offset, 2);
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

TEST_F(ChannelTest, PlainCopyAppliesTheOffsetWithLeadingSilence) {
    VeChannel channel = ShiftedChannel(10, 110, 100, Tone);
    VeChannel plain;
    ASSERT_TRUE(channel.CopyPlainTo(plain));
    ASSERT_TRUE(plain.IsPlain());
    EXPECT_EQ(plain.length, 110);
    EXPECT_EQ(plain.store->Count(), 110u);
    const std::vector<float> s = Samples(*plain.store);
    for (uint32_t t = 0; t < 10; ++t) EXPECT_EQ(s[t], 0.0f) << t;
    for (uint32_t t = 10; t < 110; ++t) ASSERT_EQ(s[t], Tone(t - 10)) << t;
    EXPECT_FALSE(channel.IsPlain());  // the source stays as it was
}

TEST_F(ChannelTest, PlainCopyOfANegativeOffsetDropsTheFirstStoredSamples) {
    VeChannel channel = ShiftedChannel(-5, 95, 100, Tone);
    VeChannel plain;
    ASSERT_TRUE(channel.CopyPlainTo(plain));
    const std::vector<float> s = Samples(*plain.store);
    ASSERT_EQ(s.size(), 95u);
    for (uint32_t t = 0; t < 95; ++t) ASSERT_EQ(s[t], Tone(t + 5)) << t;
}

TEST_F(ChannelTest, PlainCopyFillsSilenceBeyondTheStore) {
    VeChannel channel = ShiftedChannel(0, 120, 100, Tone);
    VeChannel plain;
    ASSERT_TRUE(channel.CopyPlainTo(plain));
    const std::vector<float> s = Samples(*plain.store);
    ASSERT_EQ(s.size(), 120u);
    EXPECT_EQ(s[99], Tone(99));
    for (uint32_t t = 100; t < 120; ++t) EXPECT_EQ(s[t], 0.0f);
}

TEST_F(ChannelTest, PlainCopyAcrossAPageBoundary) {
    // The shifted last page of the store lands on two pages of the copy.
    VeChannel channel = ShiftedChannel(10, kPage + 10, kPage, Tone);
    VeChannel plain;
    ASSERT_TRUE(channel.CopyPlainTo(plain));
    ASSERT_EQ(plain.store->PageCount(), 2u);
    const std::vector<float> s = Samples(*plain.store);
    ASSERT_EQ(s.size(), kPage + 10);
    EXPECT_EQ(s[9], 0.0f);
    EXPECT_EQ(s[10], Tone(0));
    EXPECT_EQ(s[kPage - 1], Tone(kPage - 11));
    EXPECT_EQ(s[kPage], Tone(kPage - 10));
    EXPECT_EQ(s[kPage + 9], Tone(kPage - 1));
}

TEST_F(ChannelTest, StraightCopyKeepsOffsetAndHasItsOwnStore) {
    VeChannel channel = ShiftedChannel(10, 110, 100, Tone);
    VeChannel copy;
    ASSERT_TRUE(channel.CopyTo(copy));
    EXPECT_EQ(copy.start_offset, 10);
    EXPECT_EQ(copy.length, 110);
    EXPECT_NE(copy.store->Path(), channel.store->Path());
    EXPECT_EQ(Samples(*copy.store), Samples(*channel.store));
}

TEST_F(ChannelSetTest, NewSetIsEmptyAndPlain) {
    VeChannelSet set;
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_TRUE(set.IsPlain());
    EXPECT_FALSE(set.IsValid());
    EXPECT_EQ(set.Duration(), 0.0);
}

TEST_F(ChannelSetTest, AllocateMakesOneZeroedStorePerChannel) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 1000, 22050));
    EXPECT_TRUE(set.IsStereo());
    EXPECT_TRUE(set.IsPlain());
    EXPECT_EQ(set.left.length, 1000);
    EXPECT_EQ(set.right.store->Count(), 1000u);
    EXPECT_EQ(test::TempEntries().size(), 2u);
    for (float s : Samples(*set.right.store)) ASSERT_EQ(s, 0.0f);
}

TEST_F(ChannelSetTest, AllocateMonoLeavesTheRightChannelEmpty) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 1000, 22050));
    EXPECT_TRUE(set.IsMono());
    EXPECT_FALSE(set.IsStereo());
    EXPECT_TRUE(set.right.IsEmpty());
    EXPECT_EQ(test::TempEntries().size(), 1u);
}

TEST_F(ChannelSetTest, AllocateRefusesBadArgumentsAndStaysEmpty) {
    VeChannelSet set;
    EXPECT_FALSE(set.Allocate(0, 1000, 44100));
    EXPECT_FALSE(set.Allocate(3, 1000, 44100));
    EXPECT_FALSE(set.Allocate(2, 0, 44100));
    EXPECT_FALSE(set.Allocate(2, 1000, 0));
    EXPECT_FALSE(set.Allocate(1, 0x80000000u, 44100));  // beyond a channel's 32-bit signed length
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_TRUE(test::TempEntries().empty());
}

TEST_F(ChannelSetTest, AllocateRefusesASetInUse) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 100, 44100));
    EXPECT_FALSE(set.Allocate(2, 200, 44100));
    EXPECT_EQ(set.frames, 100u);
    EXPECT_EQ(set.channels, 1);
}

TEST_F(ChannelSetTest, StereoSetWithAnEmptyRightChannelIsNotValid) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 100, 44100));
    set.right.Release();
    EXPECT_FALSE(set.IsValid());
    EXPECT_FALSE(set.IsStereo());
    EXPECT_FALSE(set.IsPlain());
}

TEST_F(ChannelSetTest, DurationIsFramesOverRate) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 22050, 44100));
    EXPECT_DOUBLE_EQ(set.Duration(), 0.5);
}

TEST_F(ChannelSetTest, SetWithAShiftedChannelIsNotPlain) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(1, 110, 8000));
    set.left = ShiftedChannel(10, 110, 100, Tone);
    EXPECT_TRUE(set.IsValid());
    EXPECT_FALSE(set.IsPlain());
}

TEST_F(ChannelSetTest, ClearDeletesEveryTemporaryFile) {
    VeChannelSet set;
    MakeStereo(set, 5000);
    set.Clear();
    EXPECT_TRUE(set.IsEmpty());
    EXPECT_TRUE(test::TempEntries().empty());
}

TEST_F(ChannelSetTest, CopyFromCopiesEverySampleIntoNewStores) {
    VeChannelSet source;
    MakeStereo(source, kPage + 1);
    VeChannelSet copy;
    TaskProgress progress;
    progress.Reset(10);
    ASSERT_TRUE(copy.CopyFrom(source, &progress));
    EXPECT_EQ(progress.Done(), 10u);
    EXPECT_EQ(copy.channels, 2);
    EXPECT_EQ(copy.frames, kPage + 1);
    EXPECT_EQ(copy.sample_rate, 44100u);
    EXPECT_NE(copy.left.store->Path(), source.left.store->Path());
    EXPECT_EQ(Samples(*copy.left.store), Samples(*source.left.store));
    EXPECT_EQ(Samples(*copy.right.store), Samples(*source.right.store));
    EXPECT_EQ(test::TempEntries().size(), 4u);
}

TEST_F(ChannelSetTest, CopyFromAnEmptySetGivesAnEmptyCopy) {
    VeChannelSet source;
    VeChannelSet copy;
    MakeStereo(copy, 100);
    EXPECT_TRUE(copy.CopyFrom(source));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_TRUE(test::TempEntries().empty());
}

TEST_F(ChannelSetTest, CopyFromAnInvalidSetFailsAndLeavesTheTargetEmpty) {
    VeChannelSet source;
    MakeStereo(source, 100);
    source.right.Release();
    VeChannelSet copy;
    MakeStereo(copy, 50);
    TaskProgress progress;
    EXPECT_FALSE(copy.CopyFrom(source, &progress));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(test::TempEntries().size(), 1u);  // only the source's left channel
}

TEST_F(ChannelSetTest, CancelledBeforeTheStartCopiesNothing) {
    VeChannelSet source;
    MakeStereo(source, 100);
    VeChannelSet copy;
    TaskProgress progress;
    progress.Cancel();
    EXPECT_FALSE(copy.CopyFrom(source, &progress));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

TEST_F(ChannelSetTest, CancelSeenBeforeTheRightChannelDiscardsTheLeftCopy) {
    VeChannelSet source;
    MakeStereo(source, 100);
    VeChannelSet copy;
    CancelOnQuery progress(2);  // the entry check passes, the one before the right channel not
    EXPECT_FALSE(copy.CopyFrom(source, &progress));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(progress.failures, 1);
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

TEST_F(ChannelSetTest, CopyOntoItselfChangesNothing) {
    VeChannelSet set;
    MakeStereo(set, 100);
    EXPECT_TRUE(set.CopyFrom(set));
    EXPECT_TRUE(set.IsStereo());
    EXPECT_EQ(Samples(*set.left.store)[7], Tone(7));
}

TEST_F(ChannelSetTest, CopyPlainRewritesShiftedChannels) {
    VeChannelSet set;
    ASSERT_TRUE(set.Allocate(2, 110, 8000));
    set.left = ShiftedChannel(10, 110, 100, Tone);
    Fill(*set.right.store, OtherTone);
    VeChannelSet plain;
    ASSERT_TRUE(set.CopyPlain(plain));
    EXPECT_TRUE(plain.IsPlain());
    EXPECT_TRUE(plain.IsStereo());
    const std::vector<float> left = Samples(*plain.left.store);
    ASSERT_EQ(left.size(), 110u);
    EXPECT_EQ(left[9], 0.0f);
    EXPECT_EQ(left[10], Tone(0));
    EXPECT_EQ(left[109], Tone(99));
    EXPECT_EQ(Samples(*plain.right.store), Samples(*set.right.store));
}

TEST_F(ChannelSetTest, MovingASetLeavesTheSourceEmpty) {
    VeChannelSet source;
    MakeStereo(source, 100);
    VeChannelSet target;
    ASSERT_TRUE(target.Allocate(1, 10, 8000));
    target = std::move(source);
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_TRUE(target.IsStereo());
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

}  // namespace
}  // namespace chm
