// The WMA writer: the codec-format catalogue and the choice of a format from it, the profile
// built around that choice, and the encode of real WAV files through avenc_wmav2 + avmux_asf,
// checked with ffprobe: format, bit rate, truncated targets, progress, cancel and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/support/test_files.h"
#include "wm/asf_probe.h"
#include "wm/wma_profile.h"
#include "wm/wma_writer.h"

namespace chm {
namespace {

using test::FileSizeOf;
using test::ReadFileBytes;
using test::ReadTextFile;
using test::ScratchDir;
using test::TempEntries;
using test::WriteFileBytes;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Runs an outside tool; its output goes where the command sends it, its complaints nowhere.
bool RunTool(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

VeAudioFormat Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
    VeAudioFormat format;
    format.format_tag = VeAudioFormat::kPcmTag;
    format.channels = channels;
    format.sample_rate = rate;
    format.block_align = static_cast<uint16_t>(channels * bits / 8);
    format.avg_bytes_per_sec = rate * format.block_align;
    format.bits_per_sample = bits;
    return format;
}

// The highest catalogue bit rate for a channel count and rate, found by reading the catalogue
// directly; 0 when it has none.
uint32_t HighestCatalogueBitrate(uint16_t channels, uint32_t rate) {
    uint32_t best = 0;
    for (const WmaCodec& codec : WmaAudioCodecs())
        for (const WmaCodecFormat& format : codec.formats)
            if (codec.format_tag == 0x0161 && format.channels == channels && format.sample_rate == rate)
                best = std::max(best, format.bitrate);
    return best;
}

// Records every position it is moved to; can cancel itself once it passes a position.
class RecordingProgress : public TaskProgress {
public:
    explicit RecordingProgress(uint32_t total, uint32_t cancel_above = UINT32_MAX) : cancel_above_(cancel_above) {
        Reset(total);
        positions.clear();
    }
    std::vector<uint32_t> positions;

protected:
    void OnChanged() override {
        positions.push_back(Done());
        if (Done() > cancel_above_) Cancel();
    }

private:
    uint32_t cancel_above_;
};

// ---------------------------------------------------------------------------------------------
// The catalogue and the profile builder.

class WmaProfileTest : public ::testing::Test {
protected:
    WmaProfileBuilder builder_;
};

TEST_F(WmaProfileTest, EveryCatalogueFormatIsOneTheEncoderTakes) {
    size_t formats = 0;
    for (const WmaCodec& codec : WmaAudioCodecs()) {
        EXPECT_EQ(codec.format_tag, 0x0161);
        for (const WmaCodecFormat& format : codec.formats) {
            SCOPED_TRACE(std::to_string(format.sample_rate) + " Hz, " + std::to_string(format.channels) + " ch, " +
                         std::to_string(format.bitrate));
            EXPECT_GE(format.bitrate, 24000u);
            EXPECT_LE(format.sample_rate, 48000u);
            EXPECT_TRUE(format.channels == 1 || format.channels == 2);
            EXPECT_EQ(format.bits_per_sample, 16);
            // The muxer pads every packet of this one to 276 kbit/s.
            EXPECT_FALSE(format.sample_rate == 44100 && format.bitrate == 192000);
            ++formats;
        }
    }
    EXPECT_GT(formats, 0u);
}

TEST_F(WmaProfileTest, BuilderHasAManagerAndAnEmptyProfile) {
    ASSERT_TRUE(builder_.HasManager());
    ASSERT_TRUE(builder_.HasProfile());
    EXPECT_EQ(builder_.Profile()->Version(), kWmtVersion9);
    EXPECT_EQ(builder_.Profile()->GetStreamCount(), 0u);
    EXPECT_EQ(builder_.ProfileStreamBitrate(), 0u);
}

TEST_F(WmaProfileTest, MonoCdAudioGetsTheHighestMonoFormatOfItsRate) {
    const uint32_t expected = HighestCatalogueBitrate(1, 44100);
    ASSERT_NE(expected, 0u);
    std::shared_ptr<WmStreamConfig> config;
    uint32_t best = 0;
    WmMediaType type;
    ASSERT_TRUE(builder_.ChooseCodecFormat(config, best, type, Pcm(1, 44100, 16), 0xFFFFFFFF));
    ASSERT_TRUE(config);
    EXPECT_EQ(best, expected);
    EXPECT_TRUE(type.IsAudioWaveFormatEx());
    EXPECT_EQ(type.subtype, kWmaCodecSubtype);
    VeAudioFormat wave;
    ASSERT_TRUE(ParseWaveFormatEx(type.format, wave));
    EXPECT_EQ(static_cast<uint16_t>(wave.format_tag), 0x0161);
    EXPECT_EQ(wave.channels, 1);
    EXPECT_EQ(wave.sample_rate, 44100u);
    EXPECT_GE(wave.bits_per_sample, 16);
    EXPECT_EQ(wave.avg_bytes_per_sec * 8, expected);
}

TEST_F(WmaProfileTest, EightBitInputTakesASixteenBitFormat) {
    std::shared_ptr<WmStreamConfig> config;
    uint32_t best = 0;
    WmMediaType type;
    ASSERT_TRUE(builder_.ChooseCodecFormat(config, best, type, Pcm(2, 22050, 8), 0xFFFFFFFF));
    EXPECT_EQ(best, HighestCatalogueBitrate(2, 22050));
}

TEST_F(WmaProfileTest, TheCapLimitsTheChoice) {
    std::shared_ptr<WmStreamConfig> config;
    uint32_t best = 0;
    WmMediaType type;
    ASSERT_TRUE(builder_.ChooseCodecFormat(config, best, type, Pcm(1, 44100, 16), 47999));
    EXPECT_LT(best, 48000u);
    EXPECT_GT(best, 0u);
}

TEST_F(WmaProfileTest, TheBestBitrateGivenIsAFloor) {
    std::shared_ptr<WmStreamConfig> config;
    uint32_t best = HighestCatalogueBitrate(1, 44100);
    WmMediaType type;
    EXPECT_FALSE(builder_.ChooseCodecFormat(config, best, type, Pcm(1, 44100, 16), 0xFFFFFFFF));
    EXPECT_FALSE(config);
}

TEST_F(WmaProfileTest, RatesAndWidthsWithoutAFormatFail) {
    std::shared_ptr<WmStreamConfig> config;
    WmMediaType type;
    for (const VeAudioFormat& input : {Pcm(1, 96000, 16), Pcm(1, 11025, 16), Pcm(2, 44100, 24), Pcm(2, 44100, 32)}) {
        uint32_t best = 0;
        EXPECT_FALSE(builder_.ChooseCodecFormat(config, best, type, input, 0xFFFFFFFF)) << input.sample_rate;
    }
    uint32_t best = 0;
    VeAudioFormat broken = Pcm(1, 44100, 16);
    broken.avg_bytes_per_sec += 1;  // not well-formed PCM
    EXPECT_FALSE(builder_.ChooseCodecFormat(config, best, type, broken, 0xFFFFFFFF));
}

TEST_F(WmaProfileTest, BuildMatchingProfileMakesOneNamedStream) {
    ASSERT_TRUE(builder_.BuildMatchingProfile(Pcm(2, 48000, 16), 0xFFFFFFFF));
    const WmProfile& profile = *builder_.Profile();
    ASSERT_EQ(profile.GetStreamCount(), 1u);
    const WmStreamConfig& stream = *profile.GetStream(0);
    EXPECT_EQ(stream.stream_number, 1);
    EXPECT_EQ(stream.stream_name, "Ve Audio");
    EXPECT_EQ(stream.connection_name, "Ve Audio Connection 001");
    EXPECT_EQ(stream.bitrate, HighestCatalogueBitrate(2, 48000));
    EXPECT_EQ(builder_.ProfileStreamBitrate(), stream.bitrate);
    // The profile takes one stream only.
    EXPECT_FALSE(builder_.BuildMatchingProfile(Pcm(2, 48000, 16), 0xFFFFFFFF));
    EXPECT_EQ(profile.GetStreamCount(), 1u);
}

TEST_F(WmaProfileTest, ConfigureStreamRefusesAZeroBitrateOrANonAudioType) {
    std::shared_ptr<WmStreamConfig> config;
    uint32_t best = 0;
    WmMediaType type;
    ASSERT_TRUE(builder_.ChooseCodecFormat(config, best, type, Pcm(2, 44100, 16), 0xFFFFFFFF));
    EXPECT_FALSE(builder_.ConfigureStream(*config, type, 0));
    WmMediaType video = type;
    video.major_type = WmMajorType::Video;
    EXPECT_FALSE(builder_.ConfigureStream(*config, video, best));
    WmMediaType short_block = type;
    short_block.format.resize(16);
    EXPECT_FALSE(builder_.ConfigureStream(*config, short_block, best));
    EXPECT_TRUE(builder_.ConfigureStream(*config, type, best));
    EXPECT_EQ(config->stream_number, 1);
    EXPECT_EQ(config->bitrate, best);
}

// ---------------------------------------------------------------------------------------------
// The encode.

class EncodeWavToWmaTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // A WAV of sines through ffmpeg: two different tones for stereo.
    std::string MakeWav(const std::string& name, int channels, int rate, double seconds,
                        const std::string& codec = "pcm_s16le") {
        const std::string wave = channels == 2 ? "0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t)" : "0.5*sin(2*PI*440*t)";
        const std::string path = Path(name);
        EXPECT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + wave + ":s=" + std::to_string(rate) +
                        ":d=" + std::to_string(seconds) + "' -c:a " + codec + " " + Quoted(path)));
        return path;
    }

    // One ffprobe entry of the first audio stream (or of the format, for "format=...").
    std::string Probe(const std::string& path, const std::string& entries) {
        const std::string out = Path("probe.txt");
        const std::string selector = entries.rfind("format=", 0) == 0 ? "" : "-select_streams a:0 ";
        EXPECT_TRUE(RunTool("ffprobe -v error " + selector + "-show_entries " + entries + " -of csv=p=0 " + Quoted(path) +
                        " > " + Quoted(out)));
        std::string text = ReadTextFile(out);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }

    void ExpectWma(const std::string& path, int channels, int rate, uint32_t bitrate, double seconds) {
        EXPECT_EQ(Probe(path, "stream=codec_name"), "wmav2");
        EXPECT_EQ(Probe(path, "stream=channels"), std::to_string(channels));
        EXPECT_EQ(Probe(path, "stream=sample_rate"), std::to_string(rate));
        EXPECT_EQ(Probe(path, "stream=bit_rate"), std::to_string(bitrate));
        EXPECT_NEAR(std::atof(Probe(path, "format=duration").c_str()), seconds, 0.1);
    }

    static void ExpectNoTemporaryFiles() { EXPECT_TRUE(TempEntries().empty()); }

    ScratchDir dir_;
};

TEST_F(EncodeWavToWmaTest, MonoCdAudioIsEncodedAtTheHighestMonoBitrate) {
    const std::string wav = MakeWav("mono.wav", 1, 44100, 3.0);
    const std::string wma = Path("mono.wma");
    ASSERT_TRUE(EncodeWavToWma(wav, wma, nullptr));
    ExpectWma(wma, 1, 44100, HighestCatalogueBitrate(1, 44100), 3.0);
    VeWmaMediaInfo info;
    ASSERT_TRUE(ProbeWmaFile(info, wma));
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(static_cast<uint32_t>(info.bit_rate), HighestCatalogueBitrate(1, 44100));
    ExpectNoTemporaryFiles();
}

TEST_F(EncodeWavToWmaTest, StereoKeepsItsChannelsAndRate) {
    const std::string wav = MakeWav("stereo.wav", 2, 48000, 2.0);
    const std::string wma = Path("stereo.wma");
    ASSERT_TRUE(EncodeWavToWma(wav, wma, nullptr));
    ExpectWma(wma, 2, 48000, HighestCatalogueBitrate(2, 48000), 2.0);
}

TEST_F(EncodeWavToWmaTest, EightBitSourcesEncode) {
    const std::string wav = MakeWav("u8.wav", 1, 22050, 2.0, "pcm_u8");
    const std::string wma = Path("u8.wma");
    ASSERT_TRUE(EncodeWavToWma(wav, wma, nullptr));
    ExpectWma(wma, 1, 22050, HighestCatalogueBitrate(1, 22050), 2.0);
}

TEST_F(EncodeWavToWmaTest, AWmaSourceIsDecodedFirst) {
    // Neither the rate nor the channels of the writer's first (system) profile: the writer must
    // take whatever PCM the decoder delivers.
    const std::string wav = MakeWav("mono.wav", 1, 22050, 2.0);
    const std::string first = Path("first.wma");
    ASSERT_TRUE(EncodeWavToWma(wav, first, nullptr));
    const std::string second = Path("second.wma");
    ASSERT_TRUE(EncodeWavToWma(first, second, nullptr));
    ExpectWma(second, 1, 22050, HighestCatalogueBitrate(1, 22050), 2.0);
}

TEST_F(EncodeWavToWmaTest, AnExistingTargetIsTruncatedAndOverwritten) {
    const std::string wav = MakeWav("mono.wav", 1, 44100, 2.0);
    const std::string fresh = Path("fresh.wma");
    ASSERT_TRUE(EncodeWavToWma(wav, fresh, nullptr));
    const std::string target = Path("old.wma");
    WriteFileBytes(target, std::vector<uint8_t>(4 << 20, 0xAB));
    ASSERT_TRUE(EncodeWavToWma(wav, target, nullptr));
    // Nothing of the old content is left: the file is exactly what a fresh encode writes.
    EXPECT_EQ(FileSizeOf(target), FileSizeOf(fresh));
    const auto bytes = ReadFileBytes(target);
    const std::vector<uint8_t> tail(bytes.end() - 64, bytes.end());
    EXPECT_NE(tail, std::vector<uint8_t>(64, 0xAB));
    ExpectWma(target, 1, 44100, HighestCatalogueBitrate(1, 44100), 2.0);
}

TEST_F(EncodeWavToWmaTest, ProgressGivesThirtyPercentToBuildingAndFollowsTheFile) {
    // 20 s at 256 kbit/s is expected at well over 102400 bytes, so the encode is followed.
    const std::string wav = MakeWav("stereo.wav", 2, 44100, 20.0);
    const std::string wma = Path("stereo.wma");
    RecordingProgress progress(1000);
    ASSERT_TRUE(EncodeWavToWma(wav, wma, &progress));
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_EQ(progress.positions.front(), 300u);
    EXPECT_EQ(progress.positions.back(), 1000u);
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(EncodeWavToWmaTest, ACancelDuringTheEncodeFailsAndLeavesNoTarget) {
    // Twenty minutes take over a second to encode: the first progress report, 200 ms in, comes
    // mid-way, and the cancel it makes is seen at the next look.
    const std::string wav = MakeWav("long.wav", 1, 44100, 1200.0);
    const std::string wma = Path("long.wma");
    RecordingProgress progress(1000, 300);
    EXPECT_FALSE(EncodeWavToWma(wav, wma, &progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsFailed());
    // The last report followed the growing file part of the way.
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_GT(progress.positions.back(), 300u);
    EXPECT_LT(progress.positions.back(), 1000u);
    EXPECT_FALSE(PathExists(wma));
    ExpectNoTemporaryFiles();
}

TEST_F(EncodeWavToWmaTest, ACancelBeforeTheStartTouchesNothing) {
    const std::string wav = MakeWav("mono.wav", 1, 44100, 1.0);
    const std::string target = Path("kept.wma");
    WriteFileBytes(target, {1, 2, 3});
    RecordingProgress progress(1000);
    progress.Cancel();
    EXPECT_FALSE(EncodeWavToWma(wav, target, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(EncodeWavToWmaTest, ARateWithoutAFormatFailsAndLeavesNoTarget) {
    const std::string wav = MakeWav("mono11k.wav", 1, 11025, 1.0);
    const std::string wma = Path("mono11k.wma");
    RecordingProgress progress(1000);
    EXPECT_FALSE(EncodeWavToWma(wav, wma, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(wma));
}

TEST_F(EncodeWavToWmaTest, SourcesThatCannotBeReadFail) {
    const std::string wma = Path("out.wma");
    EXPECT_FALSE(EncodeWavToWma(Path("absent.wav"), wma, nullptr));
    EXPECT_FALSE(PathExists(wma));

    const std::string garbage = Path("garbage.wav");
    WriteFileBytes(garbage, std::vector<uint8_t>(5000, 0x5A));
    EXPECT_FALSE(EncodeWavToWma(garbage, wma, nullptr));
    EXPECT_FALSE(PathExists(wma));

    const std::string text = Path("notes.txt");
    WriteFileBytes(text, {'a'});
    EXPECT_FALSE(EncodeWavToWma(text, wma, nullptr));  // no source filter for the type
    EXPECT_FALSE(PathExists(wma));

    EXPECT_FALSE(EncodeWavToWma("", wma, nullptr));
    EXPECT_FALSE(EncodeWavToWma(garbage, "", nullptr));
}

TEST_F(EncodeWavToWmaTest, TheSourceIsNeverItsOwnTarget) {
    const std::string wav = MakeWav("mono.wav", 1, 44100, 1.0);
    const auto before = ReadFileBytes(wav);
    EXPECT_FALSE(EncodeWavToWma(wav, wav, nullptr));
    EXPECT_EQ(ReadFileBytes(wav), before);
}

TEST_F(EncodeWavToWmaTest, AnExistingTargetIsRemovedWhenTheEncodeFails) {
    const std::string target = Path("old.wma");
    WriteFileBytes(target, std::vector<uint8_t>(1000, 0xAB));
    EXPECT_FALSE(EncodeWavToWma(Path("absent.wav"), target, nullptr));
    EXPECT_FALSE(PathExists(target));
}

}  // namespace
}  // namespace chm

// Leaks of outside libraries are excused, and only these, so that anything the probe, the
// writer or the document leaks still fails a sanitizer run:
//  - GLib allocates its quark table in a library constructor and never frees it;
//  - gst-libav 1.22's muxer leaks 80 bytes per stream on its caps (a plain
//    "avenc_wmav2 ! avmux_asf" pipeline run to its end and released shows the same).
// GLib has no frame pointers: without the slow unwinder no stack would reach either.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstlibav.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
