#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/channel_set.h"
#include "processing/channel_ops.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

// Pairs of known kinds: alike (equal), opposed (negated), distinct (one side silent).
struct Pair {
    float left;
    float right;
};
constexpr Pair kAlike{0.5f, 0.5f};
constexpr Pair kOpposed{0.5f, -0.5f};
constexpr Pair kDistinct{0.6f, 0.0f};
constexpr Pair kSilent{0.0f, 0.0f};

class ClassifyStereoTest : public ::testing::Test {
protected:
    void TearDown() override {
        set_.Clear();
        EXPECT_TRUE(test::TempEntries().empty());
    }

    // Appends `count` copies of a pair to the set under construction.
    void Add(Pair pair, uint32_t count) {
        left_.insert(left_.end(), count, pair.left);
        right_.insert(right_.end(), count, pair.right);
    }

    void Build() {
        ASSERT_TRUE(set_.Allocate(2, static_cast<uint32_t>(left_.size()), 44100));
        ASSERT_TRUE(set_.left.store->WriteAt(0, left_.data(), set_.frames));
        ASSERT_TRUE(set_.right.store->WriteAt(0, right_.data(), set_.frames));
    }

    StereoContent Classify(bool unlimited = false) { return ClassifyStereo(set_, unlimited); }

    std::vector<float> left_;
    std::vector<float> right_;
    VeChannelSet set_;
};

TEST_F(ClassifyStereoTest, NinetyPercentAlikeIsAlike) {
    Add(kAlike, 900);
    Add(kDistinct, 100);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, SixtyAlikeFortyOpposedIsDistinct) {
    Add(kAlike, 600);
    Add(kOpposed, 400);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Distinct);
}

TEST_F(ClassifyStereoTest, TwentyAlikeSeventyFiveOpposedIsOpposed) {
    Add(kAlike, 200);
    Add(kOpposed, 750);
    Add(kDistinct, 50);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, ExactlySeventyPercentAlikeIsAlike) {
    Add(kAlike, 700);
    Add(kDistinct, 300);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, JustBelowSeventyPercentIsDistinct) {
    Add(kAlike, 699);
    Add(kDistinct, 301);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Distinct);
}

TEST_F(ClassifyStereoTest, ExactlySeventyPercentOpposedIsOpposed) {
    Add(kOpposed, 7000);
    Add(kDistinct, 3000);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, SilentPairsAreSkippedNotCountedAsAlike) {
    Add(kSilent, 5000);
    Add(kOpposed, 10);
    Add(kSilent, 5000);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, AllSilentIsAlike) {
    Add(kSilent, 3000);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
    EXPECT_EQ(Classify(true), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, NegativeZeroCountsAsSilence) {
    Add(Pair{-0.0f, 0.0f}, 100);
    Add(kOpposed, 10);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, ToleranceIsTheFloatNearestThreeTenthsInclusive) {
    // 1 - 0.7f is exactly 0.3f: the pair sits on the limit and counts as alike.
    Add(Pair{1.0f, 0.7f}, 100);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, OppositeToleranceIsInclusiveToo) {
    Add(Pair{1.0f, -0.7f}, 100);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, JustOutsideTheToleranceIsDistinct) {
    Add(Pair{1.0f, std::nextafter(0.7f, 0.0f)}, 100);
    Add(Pair{1.0f, -std::nextafter(0.7f, 0.0f)}, 100);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Distinct);
}

TEST_F(ClassifyStereoTest, ToleranceScalesWithTheLouderSide) {
    Add(Pair{0.01f, 0.008f}, 100);  // |L - R| = 0.002 <= 0.003
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, OnlyAThirdOfALongFileIsExamined) {
    // 900000 frames: the first 300000 non-silent pairs decide; silence before them is free.
    Add(kSilent, 100000);
    Add(kAlike, 300000);
    Add(kOpposed, 500000);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
    EXPECT_EQ(Classify(true), StereoContent::Distinct);  // all 800000: 37.5 % alike, 62.5 % opposed
}

TEST_F(ClassifyStereoTest, AShortFileIsExaminedForAtLeastOnePage) {
    // 300000 frames: a third would be 100000, but a whole page of pairs is examined.
    Add(kAlike, 100000);
    Add(kOpposed, 200000);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Distinct);
}

TEST_F(ClassifyStereoTest, TheWalkStopsExactlyAtTheLimit) {
    // limit = one page of examined pairs; just over 70 % of them alike, the rest opposed. The
    // silent pairs in front move the limit off the page boundary, into the next page, where
    // more opposed pairs would pull the share below 70 % if they were counted.
    const uint32_t alike = (kPage * 7 + 9) / 10;  // 183501 of 262144; of 262160 it is < 70 %
    Add(kSilent, 3);
    Add(kAlike, alike);
    Add(kOpposed, kPage - alike);
    Add(kOpposed, 100);
    Build();
    EXPECT_EQ(Classify(), StereoContent::Alike);
}

TEST_F(ClassifyStereoTest, MonoSetIsMono) {
    ASSERT_TRUE(set_.Allocate(1, 100, 44100));
    EXPECT_EQ(Classify(), StereoContent::Mono);
}

TEST_F(ClassifyStereoTest, EmptyOrBrokenSetIsInvalid) {
    EXPECT_EQ(Classify(), StereoContent::Invalid);
    ASSERT_TRUE(set_.Allocate(2, 100, 44100));
    set_.right.Release();
    EXPECT_EQ(Classify(), StereoContent::Invalid);
}

TEST_F(ClassifyStereoTest, ShiftedChannelIsInvalid) {
    Add(kAlike, 100);
    Build();
    set_.right.start_offset = 1;
    EXPECT_EQ(Classify(), StereoContent::Invalid);
}

TEST_F(ClassifyStereoTest, ShorterRightChannelIsComparedOnlyAsFarAsItReaches) {
    Add(kOpposed, 100);
    Build();
    auto shorter = std::make_unique<VeSampleStore>();
    ASSERT_TRUE(shorter->Create(50));
    ASSERT_TRUE(shorter->WriteAt(0, right_.data(), 50));
    set_.right.store = std::move(shorter);
    set_.right.length = 50;
    EXPECT_EQ(Classify(), StereoContent::Opposed);
}

TEST_F(ClassifyStereoTest, OpposedChannelsCannotBeMixed) {
    Add(kOpposed, 1000);
    Build();
    EXPECT_FALSE(CanMix(set_));
}

TEST_F(ClassifyStereoTest, DistinctAlikeAndMonoSetsCanBeMixed) {
    Add(kAlike, 500);
    Add(kOpposed, 500);
    Build();
    EXPECT_TRUE(CanMix(set_));
    set_.Clear();
    ASSERT_TRUE(set_.Allocate(1, 10, 8000));
    EXPECT_TRUE(CanMix(set_));
}

TEST_F(ClassifyStereoTest, InvalidSetCannotBeMixed) { EXPECT_FALSE(CanMix(set_)); }

}  // namespace
}  // namespace chm
