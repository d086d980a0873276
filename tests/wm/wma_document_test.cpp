// The WMA document: loading through the decoding graph straight into the stores, excerpts, the
// refused stream forms, saving through a temporary WAV and the WMA encoder, and the whole round
// trip stereo WMA -> mono WMA checked against ffprobe, GStreamer and the source's own mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/memory_stream.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "processing/channel_ops.h"
#include "tests/support/test_files.h"
#include "wm/asf_probe.h"
#include "wm/wma_document.h"
#include "wm/wma_profile.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ReadTextFile;
using test::ScratchDir;
using test::TempEntries;
using test::WriteFileBytes;

constexpr int kMix = static_cast<int>(ConversionMethod::MixChannels);
// The WMA decoder hands out about 665 samples more than were encoded; every decode of an
// encode may be that much longer.
constexpr double kDecoderDelaySeconds = 700.0 / 44100.0;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Runs an outside tool; its output goes where the command sends it, its complaints nowhere.
bool RunTool(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

// The document with its audio within reach, to make it unplain.
class OpenWmaDocument : public VeWmaDocument {
public:
    using VeAudioDocument::AudioData;
};

// Records every position it is moved to; can cancel itself once it passes a position.
class RecordingProgress : public TaskProgress {
public:
    explicit RecordingProgress(uint32_t total, uint32_t cancel_above = UINT32_MAX) : cancel_above_(cancel_above) {
        Reset(total);
        positions.clear();
    }
    std::vector<uint32_t> positions;

    bool Reached(uint32_t position) const {
        return std::find(positions.begin(), positions.end(), position) != positions.end();
    }

protected:
    void OnChanged() override {
        positions.push_back(Done());
        if (Done() > cancel_above_) Cancel();
    }

private:
    uint32_t cancel_above_;
};

// Pearson correlation of two equally long signals.
double Correlation(const float* a, const float* b, size_t n) {
    double sa = 0, sb = 0;
    for (size_t i = 0; i < n; ++i) {
        sa += a[i];
        sb += b[i];
    }
    const double ma = sa / static_cast<double>(n), mb = sb / static_cast<double>(n);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (a[i] - ma) * (b[i] - mb);
        aa += (a[i] - ma) * (a[i] - ma);
        bb += (b[i] - mb) * (b[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

class WmaDocumentTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // Stereo WMA of two different sines (so that a mix differs from either channel) through
    // ffmpeg's wmav2 encoder, with a few tags.
    std::string StereoWma(const std::string& name, double seconds, const std::string& tags = "") {
        const std::string path = Path(name);
        EXPECT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i 'aevalsrc=0.5*sin(2*PI*440*t)|0.3*sin(2*PI*1250*t+1):s=44100:d=" +
                        std::to_string(seconds) + "' -c:a wmav2 -b:a 128k " + tags + " " + Quoted(path)));
        return path;
    }

    std::string Probe(const std::string& path, const std::string& entries) {
        const std::string out = Path("probe.txt");
        const std::string selector = entries.rfind("stream=", 0) == 0 ? "-select_streams a:0 " : "";
        EXPECT_TRUE(RunTool("ffprobe -v error " + selector + "-show_entries " + entries + " -of csv=p=0 " + Quoted(path) +
                        " > " + Quoted(out)));
        std::string text = ReadTextFile(out);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }

    // The file decoded by ffmpeg into interleaved floats.
    std::vector<float> DecodeWithFfmpeg(const std::string& path) {
        const std::string raw = Path("decoded.f32");
        EXPECT_TRUE(RunTool("ffmpeg -v error -y -i " + Quoted(path) + " -f f32le -c:a pcm_f32le " + Quoted(raw)));
        const auto bytes = ReadFileBytes(raw);
        std::vector<float> samples(bytes.size() / sizeof(float));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
        return samples;
    }

    // The duration GStreamer decodes: the size of the PCM that decodebin delivers.
    double DecodedSecondsWithGstreamer(const std::string& path, int channels, int rate) {
        const std::string raw = Path("gst.raw");
        EXPECT_TRUE(RunTool("gst-launch-1.0 -q filesrc location=" + Quoted(path) +
                        " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! filesink location=" + Quoted(raw)));
        return static_cast<double>(test::FileSizeOf(raw)) / (2.0 * channels * rate);
    }

    static void ExpectNoTemporaryFiles() { EXPECT_TRUE(TempEntries().empty()); }

    // While a document lives, its channels' stores are the only temporary files.
    static void ExpectOnlyStoresOf(const VeAudioDocument& document) {
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

// ---------------------------------------------------------------------------------------------
// Loading.

TEST_F(WmaDocumentTest, LoadDecodesAStereoFile) {
    const std::string source = StereoWma("stereo.wma", 3.0);
    VeWmaDocument document;
    ASSERT_TRUE(document.Load(source, nullptr));
    EXPECT_TRUE(document.IsStereo());
    EXPECT_TRUE(document.IsReadyToWrite());
    EXPECT_EQ(document.Audio().ChannelSet().sample_rate, 44100u);
    EXPECT_EQ(document.Audio().Format().format_tag, VeAudioFormat::kPcmTag);
    EXPECT_EQ(document.Audio().Format().bits_per_sample, 16);
    EXPECT_NEAR(document.Duration(), 3.0, 0.05 + kDecoderDelaySeconds);
    EXPECT_EQ(document.Info().Kind(), AudioFileType::Wma);
    ExpectOnlyStoresOf(document);
}

TEST_F(WmaDocumentTest, LoadGivesATenthToTheDecodeAndTheRestToReading) {
    const std::string source = StereoWma("stereo.wma", 3.0);
    VeWmaDocument document;
    RecordingProgress progress(1000);
    ASSERT_TRUE(document.Load(source, &progress));
    // The decode's own end is position 100; the reading step alone moves beyond it.
    ASSERT_TRUE(progress.Reached(100));
    const auto end_of_decode = std::find(progress.positions.begin(), progress.positions.end(), 100u);
    EXPECT_TRUE(std::all_of(progress.positions.begin(), end_of_decode, [](uint32_t p) { return p < 100; }));
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_EQ(progress.positions.back(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(WmaDocumentTest, ALoadCancelledBeforeItStartsFailsAtOnce) {
    const std::string source = StereoWma("stereo.wma", 1.0);
    VeWmaDocument document;
    RecordingProgress progress(1000);
    progress.Cancel();
    EXPECT_FALSE(document.Load(source, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(document.IsEmpty());
    ExpectNoTemporaryFiles();
}

TEST_F(WmaDocumentTest, ALoadWhoseDecodeFailsLeavesNothing) {
    const std::string damaged = Path("damaged.wma");
    WriteFileBytes(damaged, std::vector<uint8_t>(20000, 0x33));
    VeWmaDocument document;
    RecordingProgress progress(1000);
    EXPECT_FALSE(document.Load(damaged, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(document.IsEmpty());
    EXPECT_FALSE(document.Load("", nullptr));
    EXPECT_FALSE(document.Load(Path("absent.wma"), nullptr));
    ExpectNoTemporaryFiles();
}

TEST_F(WmaDocumentTest, LoadExcerptDecodesTheRangeInEitherOrder) {
    const std::string source = StereoWma("stereo.wma", 4.0);
    VeWmaDocument document;
    ASSERT_TRUE(document.LoadExcerpt(source, 1000, 2500));
    EXPECT_TRUE(document.IsStereo());
    EXPECT_NEAR(document.Duration(), 1.5, 0.05 + kDecoderDelaySeconds);
    // A document with audio is reset before the next excerpt.
    ASSERT_TRUE(document.LoadExcerpt(source, 3000, 2000));
    EXPECT_NEAR(document.Duration(), 1.0, 0.05 + kDecoderDelaySeconds);
    ExpectOnlyStoresOf(document);
}

TEST_F(WmaDocumentTest, LoadExcerptRefusesAnEmptyRangeOrPath) {
    const std::string source = StereoWma("stereo.wma", 1.0);
    VeWmaDocument document;
    EXPECT_FALSE(document.LoadExcerpt(source, 500, 500));
    EXPECT_FALSE(document.LoadExcerpt("", 0, 500));
    EXPECT_FALSE(document.LoadExcerpt(source, 5000, 6000));  // starts after the end
    EXPECT_TRUE(document.IsEmpty());
    ExpectNoTemporaryFiles();
}

TEST_F(WmaDocumentTest, StreamFormsAreRefused) {
    const std::string source = StereoWma("stereo.wma", 1.0);
    VeWmaDocument document;
    ASSERT_TRUE(document.Load(source, nullptr));
    VeMemoryStream stream;
    ASSERT_TRUE(stream.AttachOwned(ReadFileBytes(source)));
    RecordingProgress progress(100);
    EXPECT_FALSE(document.SaveToStream(stream, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(document.IsEmpty());
    EXPECT_FALSE(document.LoadFromStream(stream, nullptr));
    EXPECT_TRUE(document.IsEmpty());
}

// ---------------------------------------------------------------------------------------------
// Saving.

TEST_F(WmaDocumentTest, MonoCdAudioIsSavedWithTheHighestMonoFormat) {
    OpenWmaDocument document;
    ASSERT_TRUE(document.CreateSilence(false, 2000, 44100));
    const std::string target = Path("mono.wma");
    ASSERT_TRUE(document.Save(target, nullptr));
    EXPECT_EQ(Probe(target, "stream=codec_name"), "wmav2");
    EXPECT_EQ(Probe(target, "stream=channels"), "1");
    EXPECT_EQ(Probe(target, "stream=sample_rate"), "44100");
    EXPECT_EQ(Probe(target, "stream=bit_rate"), "48000");
    ExpectOnlyStoresOf(document);
}

TEST_F(WmaDocumentTest, SaveGivesAFifthToTheWavAndThirtyPercentOfTheRestToTheGraph) {
    OpenWmaDocument document;
    ASSERT_TRUE(document.CreateSilence(false, 2000, 44100));
    RecordingProgress progress(1000);
    ASSERT_TRUE(document.Save(Path("mono.wma"), &progress));
    EXPECT_TRUE(progress.Reached(200));  // the temporary WAV written
    EXPECT_TRUE(progress.Reached(440));  // 200 + 30 % of 800: the graph built
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_EQ(progress.positions.back(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(WmaDocumentTest, AudioThatIsNotPlainIsSavedThroughAPlainCopy) {
    OpenWmaDocument document;
    ASSERT_TRUE(document.CreateSilence(false, 1000, 44100));
    VeChannel& left = document.AudioData().ChannelSet().left;
    left.start_offset = 22050;  // half a second of silence before the stored samples
    left.length += 22050;
    document.AudioData().ChannelSet().frames += 22050;
    ASSERT_TRUE(document.IsValid());
    ASSERT_FALSE(document.IsReadyToWrite());
    const std::string target = Path("copy.wma");
    RecordingProgress progress(1000);
    ASSERT_TRUE(document.Save(target, &progress));
    EXPECT_TRUE(progress.Reached(100));  // the copy
    EXPECT_EQ(progress.positions.back(), 1000u);
    EXPECT_NEAR(std::atof(Probe(target, "format=duration").c_str()), 1.5, 0.1);
    ExpectOnlyStoresOf(document);
}

TEST_F(WmaDocumentTest, ACancelDuringTheSaveFailsAndLeavesNoOutput) {
    OpenWmaDocument document;
    // Twenty minutes take over a second to encode: the first report of the encode, 200 ms in,
    // comes mid-way, and the cancel it makes is seen at the next look.
    ASSERT_TRUE(document.CreateSilence(false, 1200000, 44100));
    const std::string target = Path("cancelled.wma");
    RecordingProgress progress(1000, 440);
    EXPECT_FALSE(document.Save(target, &progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(target));
    // Only the document's own stores are left in the temporary folder.
    document.Reset();
    ExpectNoTemporaryFiles();
}

TEST_F(WmaDocumentTest, ARateWithoutAFormatFailsAndLeavesNoOutput) {
    OpenWmaDocument document;
    ASSERT_TRUE(document.CreateSilence(false, 1000, 96000));
    const std::string target = Path("mono96k.wma");
    RecordingProgress progress(1000);
    EXPECT_FALSE(document.Save(target, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(target));
    document.Reset();
    ExpectNoTemporaryFiles();
}

TEST_F(WmaDocumentTest, SaveRefusesEmptyAudioAnEmptyPathAndACancelledProgress) {
    VeWmaDocument empty;
    EXPECT_FALSE(empty.Save(Path("empty.wma"), nullptr));
    OpenWmaDocument document;
    ASSERT_TRUE(document.CreateSilence(false, 500, 44100));
    EXPECT_FALSE(document.Save("", nullptr));
    RecordingProgress progress(1000);
    progress.Cancel();
    EXPECT_FALSE(document.Save(Path("cancelled.wma"), &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(Path("empty.wma")));
    EXPECT_FALSE(PathExists(Path("cancelled.wma")));
}

// ---------------------------------------------------------------------------------------------
// The conversion's road: stereo WMA -> load -> fold -> mono WMA.

TEST_F(WmaDocumentTest, StereoWmaBecomesAMonoWmaOfTheMix) {
    const double seconds = 5.0;
    const std::string source = StereoWma("stereo.wma", seconds);
    VeWmaDocument document;
    ASSERT_TRUE(document.Load(source, nullptr));
    ASSERT_TRUE(document.FoldToMono(kMix, nullptr));
    ASSERT_TRUE(document.IsMono());
    const std::string target = Path("mono.wma");
    ASSERT_TRUE(document.Save(target, nullptr));

    // The codec's mono 44.1 kHz format at its highest bit rate.
    EXPECT_EQ(Probe(target, "stream=codec_name"), "wmav2");
    EXPECT_EQ(Probe(target, "stream=channels"), "1");
    EXPECT_EQ(Probe(target, "stream=sample_rate"), "44100");
    EXPECT_EQ(Probe(target, "stream=bit_rate"), "48000");
    VeWmaMediaInfo info;
    ASSERT_TRUE(ProbeWmaFile(info, target));
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.bit_rate, 48000);

    // Both decoders agree on the length: the source's, give or take the codec's delay twice over
    // (once decoding the source, once decoding the output).
    const double source_seconds = DecodedSecondsWithGstreamer(source, 2, 44100);
    EXPECT_NEAR(source_seconds, seconds, 0.05 + kDecoderDelaySeconds);
    EXPECT_NEAR(DecodedSecondsWithGstreamer(target, 1, 44100), source_seconds, 0.05 + kDecoderDelaySeconds);
    EXPECT_NEAR(std::atof(Probe(target, "format=duration").c_str()), seconds, 0.05 + 2 * kDecoderDelaySeconds);

    // The output sounds like the mix of the source's two channels.
    const std::vector<float> stereo = DecodeWithFfmpeg(source);
    const std::vector<float> mono = DecodeWithFfmpeg(target);
    std::vector<float> mix(stereo.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i) mix[i] = stereo[2 * i] + stereo[2 * i + 1];
    // One second from the middle, against the output shifted by up to 4096 samples either way
    // (the codec's delays).
    const ptrdiff_t from = 44100, length = 44100, reach = 4096;
    ASSERT_GT(static_cast<ptrdiff_t>(mix.size()), from + length + reach);
    ASSERT_GT(static_cast<ptrdiff_t>(mono.size()), from + length + reach);
    double best = -1.0;
    for (ptrdiff_t shift = -reach; shift <= reach; ++shift)
        best = std::max(best, Correlation(mix.data() + from, mono.data() + from + shift, static_cast<size_t>(length)));
    EXPECT_GE(best, 0.95);
    ExpectOnlyStoresOf(document);
}

TEST_F(WmaDocumentTest, MediaPropertiesAreCarriedOver) {
    const std::string source =
        StereoWma("tagged.wma", 2.0, "-metadata title='Sine Title' -metadata artist='Ve Tester' -metadata album='Tones'");
    VeWmaDocument document;
    ASSERT_TRUE(document.Load(source, nullptr));
    EXPECT_EQ(document.Properties().title, "Sine Title");
    ASSERT_TRUE(document.FoldToMono(kMix, nullptr));
    const std::string target = Path("tagged-mono.wma");
    ASSERT_TRUE(document.Save(target, nullptr));
    EXPECT_EQ(Probe(target, "format_tags=title"), "Sine Title");
    EXPECT_EQ(Probe(target, "format_tags=artist"), "Ve Tester");
    EXPECT_EQ(Probe(target, "format_tags=album"), "Tones");
    EXPECT_EQ(Probe(target, "stream=channels"), "1");
}

}  // namespace
}  // namespace chm
