// The MP3 document: loading through a temporary WAV file, excerpts, the refused stream forms,
// and the round trip stereo MP3 -> mono VBR MP3 with the media properties carried over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/lame_encoder.h"
#include "audio/memory_stream.h"
#include "audio/mp3_document.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "processing/channel_ops.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ReadTextFile;
using test::ScratchDir;
using test::TempEntries;
using test::WriteFileBytes;
namespace media = test::mp3;

constexpr int kMix = static_cast<int>(ConversionMethod::MixChannels);

// The document with its audio within reach, to make it unplain.
class OpenMp3Document : public VeMp3Document {
public:
    using VeAudioDocument::AudioData;
};

class Mp3DocumentTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // Stereo music-like content at 44.1 kHz through the lame command line.
    std::string StereoMp3(const std::string& name, double seconds, const std::string& options = "-V 2") {
        const std::string wav = Path(name + ".wav");
        const std::string mp3 = Path(name);
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, seconds));
        EXPECT_TRUE(media::Lame(wav, mp3, options));
        return mp3;
    }

    static void ExpectNoTemporaryFiles() { EXPECT_TRUE(TempEntries().empty()); }

    // While a document lives, its channels' stores are the only temporary files.
    static void ExpectOnlyStoresIn(const VeMp3Document& document) {
        std::vector<std::string> stores;
        for (const VeChannel* channel : {&document.Audio().ChannelSet().left, &document.Audio().ChannelSet().right})
            if (channel->store) stores.push_back(std::filesystem::path(channel->store->Path()).filename().string());
        auto entries = TempEntries();
        std::sort(entries.begin(), entries.end());
        std::sort(stores.begin(), stores.end());
        EXPECT_EQ(entries, stores);
    }

    ScratchDir dir_;
};

TEST_F(Mp3DocumentTest, LoadDecodesEveryFrame) {
    const std::string mp3 = StereoMp3("source.mp3", 5.0);
    VeMp3Document document;
    TaskProgress progress;
    progress.Reset(1000);
    ASSERT_TRUE(document.Load(mp3, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
    EXPECT_TRUE(document.IsStereo());
    EXPECT_TRUE(document.IsReadyToWrite());
    EXPECT_EQ(document.Audio().ChannelSet().frames, 220500u);
    EXPECT_EQ(document.Audio().Format().sample_rate, 44100u);
    EXPECT_EQ(document.Audio().Format().bits_per_sample, 16);
    EXPECT_EQ(document.Duration(), 5.0);
    EXPECT_EQ(document.Info().Kind(), AudioFileType::Mp3);
    ExpectOnlyStoresIn(document);
}

TEST_F(Mp3DocumentTest, LoadOfAMissingFileLeavesTheProgressAlone) {
    VeMp3Document document;
    TaskProgress progress;
    progress.Reset(1000);
    EXPECT_FALSE(document.Load(Path("missing.mp3"), &progress));
    EXPECT_FALSE(document.Load("", &progress));
    EXPECT_EQ(progress.Done(), 0u);
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(Mp3DocumentTest, DamagedFilesFailCleanly) {
    const auto good = ReadFileBytes(StereoMp3("good.mp3", 2.0));
    std::vector<uint8_t> garbage(30000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>((i * 7919) % 0xE0);
    WriteFileBytes(Path("garbage.mp3"), garbage);
    WriteFileBytes(Path("truncated.mp3"), std::vector<uint8_t>(good.begin(), good.begin() + 300));
    WriteFileBytes(Path("empty.mp3"), {});
    for (const char* name : {"garbage.mp3", "truncated.mp3", "empty.mp3"}) {
        VeMp3Document document;
        TaskProgress progress;
        progress.Reset(1000);
        EXPECT_FALSE(document.Load(Path(name), &progress)) << name;
        EXPECT_TRUE(progress.IsFailed()) << name;
        EXPECT_TRUE(document.IsEmpty()) << name;
        ExpectNoTemporaryFiles();
    }
}

TEST_F(Mp3DocumentTest, AFailedLoadLeavesNoEarlierAudio) {
    VeMp3Document document;
    ASSERT_TRUE(document.Load(StereoMp3("good.mp3", 1.0), nullptr));
    WriteFileBytes(Path("empty.mp3"), {});
    EXPECT_FALSE(document.Load(Path("empty.mp3"), nullptr));
    EXPECT_TRUE(document.IsEmpty());
}

TEST_F(Mp3DocumentTest, CancelledLoadFails) {
    const std::string mp3 = StereoMp3("source.mp3", 2.0);
    VeMp3Document document;
    TaskProgress progress;
    progress.Reset(1000);
    progress.Cancel();
    EXPECT_FALSE(document.Load(mp3, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(document.IsEmpty());
    ExpectNoTemporaryFiles();
}

TEST_F(Mp3DocumentTest, LoadReadsTheMediaProperties) {
    const std::string mp3 =
        StereoMp3("tagged.mp3", 1.0, "-V 2 --add-id3v2 --tt 'Night Train' --ta 'The Sines' --tl 'Partials' --ty 1999 --tn 7");
    VeMp3Document document;
    ASSERT_TRUE(document.Load(mp3, nullptr));
    EXPECT_EQ(document.Properties().title, "Night Train");
    EXPECT_EQ(document.Properties().artist, "The Sines");
    EXPECT_EQ(document.Properties().album, "Partials");
    EXPECT_EQ(document.Properties().year, 1999u);
    EXPECT_EQ(document.Properties().track, 7u);
}

TEST_F(Mp3DocumentTest, LoadExcerptTakesTheRange) {
    const std::string mp3 = StereoMp3("source.mp3", 5.0);
    VeMp3Document document;
    ASSERT_TRUE(document.LoadExcerpt(mp3, 1000, 2500));
    EXPECT_EQ(document.Audio().ChannelSet().frames, 66150u);
    // A second excerpt replaces the first.
    ASSERT_TRUE(document.LoadExcerpt(mp3, 4000, 9000));
    EXPECT_EQ(document.Audio().ChannelSet().frames, 44100u);
    ExpectOnlyStoresIn(document);
}

TEST_F(Mp3DocumentTest, ExcerptAfterTheEndOrOfNoLengthFails) {
    const std::string mp3 = StereoMp3("source.mp3", 2.0);
    VeMp3Document document;
    ASSERT_TRUE(document.LoadExcerpt(mp3, 0, 500));
    EXPECT_FALSE(document.LoadExcerpt(mp3, 2000, 3000));
    EXPECT_TRUE(document.IsEmpty());
    EXPECT_FALSE(document.LoadExcerpt(mp3, 700, 700));
    EXPECT_FALSE(document.LoadExcerpt("", 0, 700));
    ExpectNoTemporaryFiles();
}

TEST_F(Mp3DocumentTest, LoadFromStreamIsRefusedAndResets) {
    VeMp3Document document;
    ASSERT_TRUE(document.Load(StereoMp3("source.mp3", 1.0), nullptr));
    VeMemoryStream stream;
    ASSERT_TRUE(stream.AttachOwned(ReadFileBytes(Path("source.mp3"))));
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(document.LoadFromStream(stream, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(document.IsEmpty());
}

TEST_F(Mp3DocumentTest, SaveToStreamIsRefused) {
    VeMp3Document document;
    ASSERT_TRUE(document.CreateSilence(false, 500, 44100));
    VeMemoryStream stream;
    ASSERT_TRUE(stream.AttachOwned(std::vector<uint8_t>(100000)));
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(document.SaveToStream(stream, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(document.IsMono());
}

TEST_F(Mp3DocumentTest, SavingAnEmptyDocumentFails) {
    VeMp3Document document;
    EXPECT_FALSE(document.Save(Path("out.mp3"), nullptr));
    EXPECT_FALSE(PathExists(Path("out.mp3")));
}

TEST_F(Mp3DocumentTest, UnplainAudioIsSavedThroughAPlainCopy) {
    OpenMp3Document document;
    ASSERT_TRUE(document.Load(StereoMp3("source.mp3", 2.0), nullptr));
    ASSERT_TRUE(document.FoldToMono(kMix, nullptr));
    document.AudioData().ChannelSet().left.start_offset = 100;  // 100 frames of silence first
    ASSERT_FALSE(document.IsReadyToWrite());
    TaskProgress progress;
    progress.Reset(5000);
    const std::string out = Path("out.mp3");
    ASSERT_TRUE(document.Save(out, &progress));
    EXPECT_EQ(progress.Done(), 5000u);
    EXPECT_FALSE(progress.IsFailed());
    EXPECT_EQ(media::DecodeWithFfmpeg(out, Path("out.raw")).size(), 88200u);
    ExpectOnlyStoresIn(document);
}

// The conversion path: a stereo MP3 loaded, folded by mixing and saved as mono VBR MP3.
class Mp3RoundTripTest : public Mp3DocumentTest {
protected:
    void SetUp() override {
        source_ = StereoMp3("source.mp3", 10.0,
                            "-V 2 --add-id3v2 --tt 'Night Train' --ta 'The Sines' --tl 'Partials' --ty 1999 --tn 7");
        output_ = Path("output.mp3");
        VeMp3Document document;
        TaskProgress progress;
        progress.Reset(1000 + 5000);
        ASSERT_TRUE(document.Load(source_, progress.MakeChild(1000).get()));
        ASSERT_TRUE(document.FoldToMono(kMix, nullptr));
        ASSERT_TRUE(document.IsMono());
        ASSERT_TRUE(document.Save(output_, progress.MakeChild(5000).get()));
        EXPECT_EQ(progress.Done(), 6000u);
        EXPECT_FALSE(progress.IsFailed());
    }

    std::string source_;
    std::string output_;
};

TEST_F(Mp3RoundTripTest, OutputIsMonoMpeg1LayerThreeWithAVbrHeader) {
    EXPECT_EQ(media::Probe(output_, "codec_name"), "mp3");
    EXPECT_EQ(media::Probe(output_, "channels"), "1");
    EXPECT_EQ(media::Probe(output_, "sample_rate"), "44100");
    const auto bytes = ReadFileBytes(output_);
    const auto frames = media::Frames(bytes);
    ASSERT_GT(frames.size(), 100u);
    EXPECT_TRUE(media::IsTagFrame(bytes, frames[0]));
    EXPECT_TRUE(media::FrameContains(bytes, frames[0], "LAME"));
    for (const auto& frame : frames) {
        ASSERT_EQ(frame.version, 1);
        ASSERT_EQ(frame.layer, 3);
        ASSERT_EQ(frame.channels, 1);
    }
}

TEST_F(Mp3RoundTripTest, AverageBitRateLiesBetween128And192) {
    const auto bytes = ReadFileBytes(output_);
    const auto frames = media::Frames(bytes);
    ASSERT_GT(frames.size(), 100u);
    // Every frame lasts as long as the others: the average rate is that of the headers.
    double sum = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GE(frames[i].kbps, 128);
        EXPECT_LE(frames[i].kbps, 192);
        sum += frames[i].kbps;
    }
    const double kbps = sum / static_cast<double>(frames.size() - 1);
    EXPECT_GE(kbps, 128.0);
    EXPECT_LE(kbps, 192.0);
}

TEST_F(Mp3RoundTripTest, DecodedOutputIsTheMixOfTheSource) {
    const auto source = media::DecodeWithFfmpeg(source_, Path("source.raw"));
    const auto output = media::DecodeWithFfmpeg(output_, Path("output.raw"));
    ASSERT_EQ(source.size(), 2u * 441000u);
    std::vector<float> mix(source.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i) mix[i] = 0.5f * (source[2 * i] + source[2 * i + 1]);
    // Equal length up to 50 ms beyond the encoder delay (576 + 529 samples at most).
    EXPECT_LE(std::labs(static_cast<long>(output.size()) - static_cast<long>(mix.size())), 2205 + 1105);
    EXPECT_GE(media::BestCorrelation(mix, output, 3000), 0.95);
}

TEST_F(Mp3RoundTripTest, MediaPropertiesAreCarriedOver) {
    EXPECT_EQ(media::ProbeTag(output_, "title"), "Night Train");
    EXPECT_EQ(media::ProbeTag(output_, "artist"), "The Sines");
    EXPECT_EQ(media::ProbeTag(output_, "album"), "Partials");
    EXPECT_EQ(media::ProbeTag(output_, "track"), "7");
    ExpectNoTemporaryFiles();
}

// The encoder is bound once per process, so the missing-library case runs in a process of its own:
// the test starts this program again for itself, with the library name set before first use.
constexpr const char* kChildFolder = "CHM_MP3_MISSING_ENCODER_FOLDER";

TEST(Mp3DocumentMissingEncoderTest, SaveFailsAndLeavesNoOutput) {
    if (const char* folder = std::getenv(kChildFolder)) {
        SetLameLibraryName("libmp3lame-missing.so.0");
        VeMp3Document document;
        ASSERT_TRUE(document.CreateSilence(false, 1000, 44100));
        const std::string out = std::string(folder) + "/out.mp3";
        TaskProgress progress;
        progress.Reset(5000);
        EXPECT_FALSE(document.Save(out, &progress));
        EXPECT_TRUE(progress.IsFailed());
        EXPECT_FALSE(PathExists(out));
        EXPECT_FALSE(GetLameEncoder().IsUsable());
        // Nothing is retried later in the process.
        EXPECT_FALSE(document.Save(out, nullptr));
        EXPECT_FALSE(PathExists(out));
        return;
    }
    ScratchDir dir;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string log = dir.File("child.log");
    const std::string command = std::string(kChildFolder) + "=" + media::Quoted(dir.Path()) + " " +
                                media::Quoted(program) +
                                " --gtest_filter=Mp3DocumentMissingEncoderTest.SaveFailsAndLeavesNoOutput > " +
                                media::Quoted(log) + " 2>&1";
    EXPECT_TRUE(media::Run(command)) << ReadTextFile(log);
    EXPECT_NE(ReadTextFile(log).find("[  PASSED  ] 1 test"), std::string::npos) << ReadTextFile(log);
}

}  // namespace
}  // namespace chm
