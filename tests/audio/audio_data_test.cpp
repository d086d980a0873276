#include "audio/audio_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_document.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

float Tone(uint32_t i) { return 0.25f + 0.5f * std::sin(static_cast<float>(i) * 0.02f); }

void FillTone(VeSampleStore& store, float scale) {
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        float* samples = store.MapPage(page);
        ASSERT_NE(samples, nullptr);
        for (uint32_t k = 0; k < store.PageLength(page); ++k)
            samples[k] = scale * Tone(page * VeSampleStore::kSamplesPerPage + k);
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

// The shared slots of the document interface, on a format that can neither load nor save.
class UnloadableDocument : public VeAudioDocument {
public:
    bool Load(const std::string&, TaskProgress*) override { return false; }
    bool LoadFromStream(VeByteStream&, TaskProgress*) override { return false; }
    bool LoadExcerpt(const std::string&, uint32_t, uint32_t) override { return false; }
    bool Save(const std::string&, TaskProgress*) override { return false; }
    bool SaveToStream(VeByteStream&, TaskProgress*) override { return false; }
    VeMediaInfo& MutableInfo() { return MediaInfo(); }
};

class AudioDataTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }

    // A second of 16-bit stereo at 8000 Hz holding two different tones.
    static void MakeStereo(VeAudioData& data, uint32_t frames = 8000) {
        ASSERT_TRUE(data.CreateSilence(true, frames, 8000));
        FillTone(*data.ChannelSet().left.store, 1.0f);
        FillTone(*data.ChannelSet().right.store, -0.5f);
    }

    // A mono object whose channel is a store of 100 samples shifted by 10 in a length of 110.
    static void MakeShiftedMono(VeAudioData& data) {
        ASSERT_TRUE(data.CreateSilence(false, 110, 8000));
        VeChannel shifted;
        shifted.store = std::make_unique<VeSampleStore>();
        ASSERT_TRUE(shifted.store->Create(100));
        FillTone(*shifted.store, 1.0f);
        shifted.length = 110;
        shifted.start_offset = 10;
        data.ChannelSet().left = std::move(shifted);
    }
};

TEST_F(AudioDataTest, NewObjectIsEmptyAndReadyToWrite) {
    VeAudioData data;
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_TRUE(data.IsReadyToWrite());
    EXPECT_FALSE(data.IsValid());
}

TEST_F(AudioDataTest, SilenceOfOneSecondStereoHasTheCdHeader) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 44100, 44100));
    const VeAudioFormat& f = data.Format();
    EXPECT_EQ(f.format_tag, 1);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sample_rate, 44100u);
    EXPECT_EQ(f.block_align, 4);
    EXPECT_EQ(f.bits_per_sample, 16);
    EXPECT_EQ(f.avg_bytes_per_sec, 176400u);
    EXPECT_EQ(f.extra_size, 0);
    EXPECT_EQ(f.frames, 44100u);
    EXPECT_EQ(f.data_bytes, 176400u);
    EXPECT_TRUE(data.IsValid());
    EXPECT_TRUE(data.IsReadyToWrite());
    EXPECT_TRUE(data.ChannelSet().IsStereo());
    EXPECT_EQ(Samples(*data.ChannelSet().right.store)[44099], 0.0f);
}

TEST_F(AudioDataTest, MonoSilenceHasBlockAlignTwo) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 1000, 22050));
    EXPECT_EQ(data.Format().channels, 1);
    EXPECT_EQ(data.Format().block_align, 2);
    EXPECT_EQ(data.Format().avg_bytes_per_sec, 44100u);
    EXPECT_EQ(data.Format().data_bytes, 2000u);
    EXPECT_TRUE(data.ChannelSet().IsMono());
}

TEST_F(AudioDataTest, SilenceNeedsAnEmptyObjectAndNonZeroNumbers) {
    VeAudioData data;
    EXPECT_FALSE(data.CreateSilence(true, 0, 44100));
    EXPECT_FALSE(data.CreateSilence(true, 100, 0));
    EXPECT_TRUE(data.IsEmpty());
    ASSERT_TRUE(data.CreateSilence(false, 100, 8000));
    EXPECT_FALSE(data.CreateSilence(true, 200, 8000));
    EXPECT_EQ(data.Format().frames, 100u);
    EXPECT_EQ(data.ChannelSet().channels, 1);
}

TEST_F(AudioDataTest, SilenceWhoseByteCountCannotBeWrittenIsRefused) {
    // 0x40000000 stereo frames are 4 GiB of 16-bit data: more than the 32-bit data size holds.
    VeAudioData data;
    EXPECT_FALSE(data.CreateSilence(true, 0x40000000u, 44100));
    EXPECT_TRUE(data.IsEmpty());
}

TEST_F(AudioDataTest, ResetDeletesTheTemporaryFiles) {
    VeAudioData data;
    MakeStereo(data);
    EXPECT_EQ(test::TempEntries().size(), 2u);
    data.Reset();
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_TRUE(test::TempEntries().empty());
}

TEST_F(AudioDataTest, HeaderSlotsSetAndClearTheFormat) {
    VeAudioData data;
    const std::vector<uint8_t> block{1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
    ASSERT_TRUE(data.SetFromPcmBlock(block));
    EXPECT_EQ(data.Format().sample_rate, 44100u);
    EXPECT_EQ(data.Format().avg_bytes_per_sec, 176400u);
    EXPECT_FALSE(data.IsEmpty());
    data.ClearHeader();
    EXPECT_TRUE(data.IsEmpty());
}

TEST_F(AudioDataTest, ShiftedChannelIsValidButNotReadyToWrite) {
    VeAudioData data;
    MakeShiftedMono(data);
    EXPECT_TRUE(data.IsValid());
    EXPECT_FALSE(data.IsReadyToWrite());
}

TEST_F(AudioDataTest, CopyFromCopiesHeaderAndSamples) {
    VeAudioData source;
    MakeStereo(source);
    VeAudioData copy;
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_EQ(copy.Format().avg_bytes_per_sec, source.Format().avg_bytes_per_sec);
    EXPECT_EQ(copy.Format().frames, 8000u);
    EXPECT_EQ(Samples(*copy.ChannelSet().right.store), Samples(*source.ChannelSet().right.store));
    EXPECT_EQ(test::TempEntries().size(), 4u);
}

TEST_F(AudioDataTest, FailedCopyFromResetsTheTarget) {
    VeAudioData source;
    MakeStereo(source);
    source.ChannelSet().right.Release();  // header says stereo, set is broken
    VeAudioData copy;
    MakeStereo(copy, 100);
    EXPECT_FALSE(copy.CopyFrom(source));
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(test::TempEntries().size(), 1u);
}

TEST_F(AudioDataTest, CopyToOfAPlainObjectIsAStraightCopy) {
    VeAudioData source;
    MakeStereo(source);
    VeAudioData out;
    TaskProgress progress;
    progress.Reset(50);
    ASSERT_TRUE(source.CopyTo(out, &progress));
    EXPECT_TRUE(out.IsValid());
    EXPECT_TRUE(out.IsReadyToWrite());
    EXPECT_EQ(Samples(*out.ChannelSet().left.store), Samples(*source.ChannelSet().left.store));
    EXPECT_EQ(progress.Done(), 50u);
}

TEST_F(AudioDataTest, CopyToOfAShiftedObjectMakesItPlain) {
    VeAudioData source;
    MakeShiftedMono(source);
    VeAudioData out;
    ASSERT_TRUE(source.CopyTo(out));
    EXPECT_TRUE(out.IsReadyToWrite());
    EXPECT_EQ(out.Format().frames, 110u);
    const std::vector<float> s = Samples(*out.ChannelSet().left.store);
    ASSERT_EQ(s.size(), 110u);
    for (uint32_t t = 0; t < 10; ++t) EXPECT_EQ(s[t], 0.0f);
    for (uint32_t t = 10; t < 110; ++t) ASSERT_EQ(s[t], Tone(t - 10));
    EXPECT_FALSE(source.IsReadyToWrite());
}

TEST_F(AudioDataTest, CopyToFromAnEmptySourceFailsAndEmptiesTheTarget) {
    VeAudioData source;
    VeAudioData out;
    MakeStereo(out, 100);
    TaskProgress progress;
    EXPECT_FALSE(source.CopyTo(out, &progress));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(progress.IsFailed());
}

TEST_F(AudioDataTest, CopyToWithACancelledSinkFails) {
    VeAudioData source;
    MakeStereo(source);
    VeAudioData out;
    TaskProgress progress;
    progress.Cancel();
    EXPECT_FALSE(source.CopyTo(out, &progress));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

TEST_F(AudioDataTest, CopyToItselfKeepsTheSamples) {
    VeAudioData data;
    MakeStereo(data);
    EXPECT_TRUE(data.CopyTo(data));
    EXPECT_TRUE(data.IsValid());
    EXPECT_EQ(Samples(*data.ChannelSet().left.store)[5], Tone(5));
}

TEST_F(AudioDataTest, TakeFromMovesEverythingAndEmptiesTheOther) {
    VeAudioData source;
    MakeStereo(source);
    const std::string left_path = source.ChannelSet().left.store->Path();
    VeAudioData target;
    ASSERT_TRUE(target.CreateSilence(false, 100, 8000));
    const std::string old_path = target.ChannelSet().left.store->Path();
    target.TakeFrom(source);
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_TRUE(target.IsValid());
    EXPECT_EQ(target.Format().channels, 2);
    EXPECT_EQ(target.ChannelSet().left.store->Path(), left_path);
    EXPECT_FALSE(PathExists(old_path));
    EXPECT_EQ(test::TempEntries().size(), 2u);
}

class AudioDocumentTest : public AudioDataTest {};

TEST_F(AudioDocumentTest, SilenceInMillisecondsGivesTheFrameCount) {
    UnloadableDocument doc;
    EXPECT_TRUE(doc.IsEmpty());
    EXPECT_TRUE(doc.IsReadyToWrite());
    ASSERT_TRUE(doc.CreateSilence(true, 1000, 44100));
    EXPECT_EQ(doc.Audio().Format().frames, 44100u);
    EXPECT_EQ(doc.Audio().Format().block_align, 4);
    EXPECT_EQ(doc.Audio().Format().avg_bytes_per_sec, 176400u);
    EXPECT_EQ(doc.Audio().Format().data_bytes, 176400u);
    EXPECT_TRUE(doc.IsStereo());
    EXPECT_FALSE(doc.IsMono());
    EXPECT_TRUE(doc.IsValid());
    EXPECT_DOUBLE_EQ(doc.Duration(), 1.0);
}

TEST_F(AudioDocumentTest, SilenceFramesAreTruncated) {
    UnloadableDocument doc;
    ASSERT_TRUE(doc.CreateSilence(false, 333, 22050));  // 7342.65 frames
    EXPECT_EQ(doc.Audio().Format().frames, 7342u);
    EXPECT_TRUE(doc.IsMono());
}

TEST_F(AudioDocumentTest, SilenceNeedsAnEmptyDocumentAndNonZeroNumbers) {
    UnloadableDocument doc;
    EXPECT_FALSE(doc.CreateSilence(true, 0, 44100));
    EXPECT_FALSE(doc.CreateSilence(true, 1000, 0));
    ASSERT_TRUE(doc.CreateSilence(true, 10, 44100));
    EXPECT_FALSE(doc.CreateSilence(false, 10, 44100));
    EXPECT_TRUE(doc.IsStereo());
}

TEST_F(AudioDocumentTest, ResetClearsAudioAndMediaInfo) {
    UnloadableDocument doc;
    doc.MutableInfo().channels = 2;
    doc.MutableInfo().sample_rate = 44100;
    doc.MutableInfo().bit_rate = 128 * 1024;
    doc.MutableInfo().duration = 1.5;
    EXPECT_TRUE(doc.Info().IsValid());
    ASSERT_TRUE(doc.CreateSilence(true, 100, 44100));
    doc.Reset();
    EXPECT_TRUE(doc.IsEmpty());
    EXPECT_TRUE(doc.Info().IsEmpty());
}

TEST_F(AudioDocumentTest, FoldForwardsToTheAudioData) {
    UnloadableDocument doc;
    ASSERT_TRUE(doc.CreateSilence(true, 100, 44100));
    ASSERT_TRUE(doc.FoldToMono(1, nullptr));
    EXPECT_TRUE(doc.IsMono());
    EXPECT_EQ(doc.Audio().Format().channels, 1);
    EXPECT_EQ(test::TempEntries().size(), 1u);
}

TEST_F(AudioDocumentTest, MixForwardsToTheAudioData) {
    UnloadableDocument doc;
    ASSERT_TRUE(doc.CreateSilence(true, 100, 44100));
    ASSERT_TRUE(doc.MixToMono());
    EXPECT_TRUE(doc.IsMono());
    EXPECT_EQ(doc.Audio().Format().block_align, 2);
}

TEST(MediaInfoTest, ValidityNeedsEveryFigure) {
    VeMediaInfo info;
    EXPECT_TRUE(info.IsEmpty());
    EXPECT_FALSE(info.IsValid());
    EXPECT_EQ(info.Kind(), AudioFileType::Unsupported);
    info.channels = 1;
    info.sample_rate = 48000;
    info.bit_rate = 64000;
    info.duration = 0.01;
    EXPECT_TRUE(info.IsValid());
    info.channels = 3;
    EXPECT_FALSE(info.IsValid());
    info.channels = 2;
    info.duration = 0.0;
    EXPECT_FALSE(info.IsValid());
    info.duration = 1.0;
    info.bit_rate = -8;
    EXPECT_FALSE(info.IsValid());
    info.Reset();
    EXPECT_TRUE(info.IsEmpty());
}

}  // namespace
}  // namespace chm
