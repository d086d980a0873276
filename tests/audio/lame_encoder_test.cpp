// MP3 encoding through the LAME library bound at run time: the binding, the chunks of 16-bit
// samples, the encoder settings as they show in the output, and the VBR header frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_data.h"
#include "audio/lame_encoder.h"
#include "audio/mp3_decoder.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;
namespace media = test::mp3;

constexpr double kPi = 3.14159265358979323846;

// Fills every sample of a channel from f(frame).
template <typename F>
void FillChannel(VeChannel& channel, F f) {
    VeSampleStore& store = *channel.store;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        float* samples = store.MapPage(page);
        ASSERT_NE(samples, nullptr);
        const uint32_t base = page * store.SamplesPerPage();
        for (uint32_t k = 0; k < store.PageLength(page); ++k) samples[k] = f(base + k);
    }
}

// Several partials, as the music-like test media: the mono signal that the round trips use.
float Music(uint32_t frame, uint32_t rate) {
    const double t = static_cast<double>(frame) / rate;
    return static_cast<float>(0.25 * std::sin(2 * kPi * 220 * t) +
                              0.15 * std::sin(2 * kPi * 440 * t) * (0.6 + 0.4 * std::sin(2 * kPi * 0.7 * t)) +
                              0.1 * std::sin(2 * kPi * 660 * t) + 0.08 * std::sin(2 * kPi * 1320 * t) * std::sin(2 * kPi * 3 * t) +
                              0.05 * std::sin(2 * kPi * 3520 * t) + 0.03 * std::sin(2 * kPi * 7040 * t) * std::sin(2 * kPi * 5 * t));
}

class LameEncoderTest : public ::testing::Test {
protected:
    // Mono or stereo audio of `frames` frames with the music formula (the right channel inverted).
    static void MakeMusic(VeAudioData& data, bool stereo, uint32_t frames, uint32_t rate) {
        ASSERT_TRUE(data.CreateSilence(stereo, frames, rate));
        FillChannel(data.ChannelSet().left, [rate](uint32_t i) { return Music(i, rate); });
        if (stereo) FillChannel(data.ChannelSet().right, [rate](uint32_t i) { return -0.5f * Music(i, rate); });
    }

    std::string Path(const std::string& name) const { return dir_.File(name); }

    ScratchDir dir_;
};

TEST_F(LameEncoderTest, TheProcessEncoderIsBoundFromTheSystem) {
    VeLameEncoder& encoder = GetLameEncoder();
    EXPECT_TRUE(encoder.IsUsable());
    EXPECT_TRUE(encoder.HasInfoTagWriter());
    EXPECT_NE(encoder.ModulePath().find("libmp3lame.so.0"), std::string::npos);
    EXPECT_EQ(&encoder, &GetLameEncoder());
}

TEST_F(LameEncoderTest, AMissingLibraryLeavesTheEncoderUnusable) {
    VeLameEncoder encoder(VeLameEncoder::Options{"libmp3lame-missing.so.0", true});
    EXPECT_FALSE(encoder.IsUsable());
    EXPECT_TRUE(encoder.ModulePath().empty());

    VeAudioData data;
    MakeMusic(data, false, 44100, 44100);
    TaskProgress progress;
    progress.Reset(100);
    const std::string out = Path("out.mp3");
    EXPECT_FALSE(encoder.Encode(out, data, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(out));
}

// A copy of the library beside the program is bound before the system's search is asked.
TEST_F(LameEncoderTest, TheProgramFolderIsSearchedFirst) {
    VeLameEncoder system;
    ASSERT_TRUE(system.IsUsable());
    const auto folder = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string name = "libchm-test-lame-" + std::to_string(::getpid()) + ".so.0";
    const auto copy = folder / name;
    std::filesystem::copy_file(system.ModulePath(), copy);
    {
        VeLameEncoder beside(VeLameEncoder::Options{name, true});
        EXPECT_TRUE(beside.IsUsable());
        EXPECT_EQ(std::filesystem::path(beside.ModulePath()), copy);
    }
    std::filesystem::remove(copy);
    VeLameEncoder gone(VeLameEncoder::Options{name, true});
    EXPECT_FALSE(gone.IsUsable());
}

TEST_F(LameEncoderTest, ThousandMonoFramesFillOneChunk) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 1000, 44100));
    std::vector<int16_t> chunk(1152);
    EXPECT_EQ(FillEncoderChunk(data.ChannelSet(), chunk, 0), 1000u);
    EXPECT_EQ(FillEncoderChunk(data.ChannelSet(), chunk, 1000), 0u);
}

// Full scale reaches the encoder as the 16-bit rule gives it: +1.0 is 32767, -1.0 is -32768
// (rounding half up, so that every 16-bit sample survives a round trip).
TEST_F(LameEncoderTest, FullScaleReachesTheEncoderAsSixteenBitExtremes) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 4, 44100));
    const float values[4] = {1.0f, -1.0f, 0.5f, -0.6f};
    FillChannel(data.ChannelSet().left, [&](uint32_t i) { return values[i]; });
    std::vector<int16_t> chunk(1152, 7);
    ASSERT_EQ(FillEncoderChunk(data.ChannelSet(), chunk, 0), 4u);
    EXPECT_EQ(chunk[0], 32767);
    EXPECT_EQ(chunk[1], -32768);
    EXPECT_EQ(chunk[2], 16384);
    EXPECT_EQ(chunk[3], -19661);  // -19660.3 + 0.5, floored
}

TEST_F(LameEncoderTest, StereoChunksInterleaveLeftThenRight) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 3000, 44100));
    FillChannel(data.ChannelSet().left, [](uint32_t i) { return static_cast<float>(i % 100) / 32768.0f; });
    FillChannel(data.ChannelSet().right, [](uint32_t i) { return -static_cast<float>(i % 100) / 32768.0f; });
    std::vector<int16_t> chunk(2304);
    ASSERT_EQ(FillEncoderChunk(data.ChannelSet(), chunk, 1152), 2304u);
    for (uint32_t k = 0; k < 1152; ++k) {
        ASSERT_EQ(chunk[2 * k], static_cast<int16_t>((1152 + k) % 100));
        ASSERT_EQ(chunk[2 * k + 1], static_cast<int16_t>(-static_cast<int>((1152 + k) % 100)));
    }
    // The last chunk is short: 3000 - 2304 frames.
    EXPECT_EQ(FillEncoderChunk(data.ChannelSet(), chunk, 2304), 2u * 696u);
    std::vector<int16_t> odd(2303);
    EXPECT_EQ(FillEncoderChunk(data.ChannelSet(), odd, 0), 0u);
}

// The LAME tag records the encoder delay and padding, so a decoder gives back exactly the
// frames that went in.
TEST_F(LameEncoderTest, ThousandFramesComeBackAsThousandFrames) {
    VeAudioData data;
    MakeMusic(data, false, 1000, 44100);
    const std::string out = Path("short.mp3");
    ASSERT_TRUE(GetLameEncoder().Encode(out, data, nullptr));
    ASSERT_TRUE(DecodeMp3ToWav(Path("short.wav"), out, nullptr));
    EXPECT_EQ(test::FileSizeOf(Path("short.wav")), 44 + 1000 * 2);
    EXPECT_EQ(media::DecodeWithFfmpeg(out, Path("short.raw")).size(), 1000u);
}

class LameOutputTest : public LameEncoderTest {
protected:
    // Checks what ffprobe and the frame headers say about a mono 44.1 kHz output.
    void ExpectMonoVbrMpeg1(const std::string& path, int rate) {
        EXPECT_EQ(media::Probe(path, "codec_name"), "mp3");
        EXPECT_EQ(media::Probe(path, "channels"), "1");
        EXPECT_EQ(media::Probe(path, "sample_rate"), std::to_string(rate));
        const auto bytes = ReadFileBytes(path);
        const auto frames = media::Frames(bytes);
        ASSERT_GT(frames.size(), 2u);
        // The whole file is frames: the tag frame replaced the placeholder of the same size.
        EXPECT_EQ(frames.back().offset + frames.back().size, bytes.size());
        EXPECT_TRUE(media::FrameContains(bytes, frames[0], "Xing"));
        EXPECT_TRUE(media::FrameContains(bytes, frames[0], "LAME"));
        // Every frame lasts as long as the others: the average rate is that of the headers.
        double sum = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].version, 1);
            EXPECT_EQ(frames[i].layer, 3);
            EXPECT_EQ(frames[i].channels, 1);
            if (i == 0) continue;
            EXPECT_GE(frames[i].kbps, 128);
            EXPECT_LE(frames[i].kbps, 192);
            sum += frames[i].kbps;
        }
        average_kbps_ = sum / static_cast<double>(frames.size() - 1);
        EXPECT_GE(average_kbps_, 128.0);
        EXPECT_LE(average_kbps_, 192.0);
    }

    double average_kbps_ = 0.0;
};

TEST_F(LameOutputTest, MonoAudioBecomesMonoVbrMpeg1) {
    VeAudioData data;
    MakeMusic(data, false, 441000, 44100);
    TaskProgress progress;
    progress.Reset(5000);
    const std::string out = Path("mono.mp3");
    ASSERT_TRUE(GetLameEncoder().Encode(out, data, &progress));
    EXPECT_EQ(progress.Done(), 5000u);
    EXPECT_FALSE(progress.IsFailed());
    ExpectMonoVbrMpeg1(out, 44100);
}

// Without the LAME tag frame entry the library writes the VBR header into the finished file.
TEST_F(LameOutputTest, WithoutTheInfoTagEntryTheVbrHeaderIsStillWritten) {
    VeLameEncoder encoder(VeLameEncoder::Options{kLameLibraryName, false});
    ASSERT_TRUE(encoder.IsUsable());
    EXPECT_FALSE(encoder.HasInfoTagWriter());
    VeAudioData data;
    MakeMusic(data, false, 441000, 44100);
    const std::string out = Path("mono.mp3");
    ASSERT_TRUE(encoder.Encode(out, data, nullptr));
    ExpectMonoVbrMpeg1(out, 44100);
    EXPECT_EQ(media::DecodeWithFfmpeg(out, Path("mono.raw")).size(), 441000u);
}

// MPEG-1 has no 22.05 kHz: the output is resampled to 32 kHz so that the settings hold.
TEST_F(LameOutputTest, RatesOutsideMpeg1AreResampledIntoIt) {
    VeAudioData data;
    MakeMusic(data, false, 220500, 22050);
    const std::string out = Path("low.mp3");
    ASSERT_TRUE(GetLameEncoder().Encode(out, data, nullptr));
    ExpectMonoVbrMpeg1(out, 32000);
}

TEST_F(LameOutputTest, StereoAudioIsEncodedAsJointStereo) {
    VeAudioData data;
    MakeMusic(data, true, 88200, 44100);
    const std::string out = Path("stereo.mp3");
    ASSERT_TRUE(GetLameEncoder().Encode(out, data, nullptr));
    EXPECT_EQ(media::Probe(out, "channels"), "2");
    const auto bytes = ReadFileBytes(out);
    const auto frames = media::Frames(bytes);
    ASSERT_GT(frames.size(), 2u);
    EXPECT_EQ(bytes[frames[1].offset + 3] >> 6, 1);  // channel mode bits: joint stereo
    EXPECT_EQ(media::DecodeWithFfmpeg(out, Path("stereo.raw")).size(), 2u * 88200u);
}

TEST_F(LameEncoderTest, CancelledEncodeFailsBeforeTheOutputExists) {
    VeAudioData data;
    MakeMusic(data, false, 44100, 44100);
    TaskProgress progress;
    progress.Reset(100);
    progress.Cancel();
    const std::string out = Path("out.mp3");
    EXPECT_FALSE(GetLameEncoder().Encode(out, data, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(out));
}

TEST_F(LameEncoderTest, EmptyAudioOrPathFails) {
    VeAudioData empty;
    EXPECT_FALSE(GetLameEncoder().Encode(Path("out.mp3"), empty, nullptr));
    EXPECT_FALSE(PathExists(Path("out.mp3")));
    VeAudioData data;
    MakeMusic(data, false, 1000, 44100);
    EXPECT_FALSE(GetLameEncoder().Encode("", data, nullptr));
}

// A chunk that cannot be filled before the end must not pass for the end of the audio.
TEST_F(LameEncoderTest, AnUnplainChannelFailsInsteadOfEndingEarly) {
    VeAudioData data;
    MakeMusic(data, false, 44100, 44100);
    data.ChannelSet().left.start_offset = 10;
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(GetLameEncoder().Encode(Path("out.mp3"), data, &progress));
    EXPECT_TRUE(progress.IsFailed());
}

}  // namespace
}  // namespace chm
