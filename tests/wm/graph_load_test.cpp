// Loading through the decoding graph straight into the stores: for every format decoded through
// the graph, the same header and the same samples, bit for bit, as decoding into a WAV file and
// reading that back; and the float-to-16-bit step against GStreamer's own converter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_file_type.h"
#include "audio/wav_file.h"
#include "engine/task_progress.h"
#include "tests/support/test_files.h"
#include "wm/decoding_graph.h"
#include "formats/format_document.h"
#include "formats/format_encoder.h"
#include "formats/format_presets.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"
#include "wm/wma_document.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

struct Loadable : VeAudioDocument {
    using VeAudioDocument::AudioData;
};

std::unique_ptr<VeAudioDocument> DocumentFor(const std::string& path) {
    const AudioFileType type = GetAudioFileType(path);
    if (type == AudioFileType::Wma) return std::make_unique<VeWmaDocument>();
    const FormatPreset* preset = FindFormatPreset(type);
    return preset ? std::make_unique<VeFormatDocument>(*preset) : nullptr;
}

// Every sample of both channels, as the stores hold them.
std::vector<float> SamplesOf(VeAudioData& data) {
    std::vector<float> all;
    VeChannelSet& set = data.ChannelSet();
    for (VeChannel* channel : {&set.left, &set.right}) {
        if (!channel->store) continue;
        for (uint32_t page = 0; page < channel->store->PageCount(); ++page) {
            const float* samples = channel->store->MapPage(page, 0, PageAccess::kRead);
            if (!samples) return {};
            all.insert(all.end(), samples, samples + channel->store->PageLength(page));
        }
    }
    return all;
}

struct Source {
    const char* name;
    const char* ffmpeg;  // codec options
    PcmDepth depth;
};

class GraphLoadTest : public ::testing::TestWithParam<Source> {
protected:
    // Loud material: lossy decoders hand out samples beyond full scale, which both routes keep alike.
    std::string Make(double seconds, const char* volume = "20dB") {
        const std::string path = dir.File(GetParam().name);
        const std::string length = std::to_string(seconds);
        const std::string command = "ffmpeg -loglevel error -nostdin -y -f lavfi -i 'sine=330:d=" + length +
                                    "' -f lavfi -i 'sine=523:d=" + length +
                                    "' -filter_complex '[0][1]amerge=inputs=2,volume=" + volume + "' " +
                                    GetParam().ffmpeg + " '" + path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }

    // Both routes over one file: the same outcome, and when it loads, the same audio.
    void ExpectBothRoutesAlike(const std::string& path) {
        std::unique_ptr<VeAudioDocument> document = DocumentFor(path);
        ASSERT_TRUE(document);
        const bool loaded_ok = document->Load(path, nullptr);
        const std::string wav = dir.File("route.wav");
        VeAudioData reference;
        const bool reference_ok = DecodeToWav(path, wav, nullptr, GetParam().depth) && LoadWav(reference, wav, nullptr);
        ASSERT_EQ(loaded_ok, reference_ok);
        if (!loaded_ok) {
            EXPECT_TRUE(document->IsEmpty());
            return;
        }
        ExpectSameAudio(const_cast<VeAudioData&>(document->Audio()), reference);
    }

    static void ExpectSameAudio(VeAudioData& loaded, VeAudioData& reference);

    ScratchDir dir;
};

TEST_P(GraphLoadTest, LoadsTheSamplesThatTheWavRouteReads) { ExpectBothRoutesAlike(Make(3.0)); }

// Judged by an outside decoder, not by the graph that both routes above share: ffmpeg decodes
// the same frames (lossless: the same samples; lossy: within two codec frames of priming and
// padding, and the same signal).
TEST_P(GraphLoadTest, LoadsWhatAnOutsideDecoderDecodes) {
    const std::string path = Make(3.0, "-6dB");
    std::unique_ptr<VeAudioDocument> document = DocumentFor(path);
    ASSERT_TRUE(document);
    ASSERT_TRUE(document->Load(path, nullptr));
    const std::string raw = dir.File("ffmpeg.f32");
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -nostdin -y -i '" + path + "' -f f32le -c:a pcm_f32le '" + raw + "'").c_str()), 0);
    const std::vector<uint8_t> bytes = ReadFileBytes(raw);
    std::vector<float> outside(bytes.size() / sizeof(float));
    std::memcpy(outside.data(), bytes.data(), outside.size() * sizeof(float));
    const std::vector<float> loaded = SamplesOf(const_cast<VeAudioData&>(document->Audio()));
    const size_t frames = loaded.size() / 2;
    const size_t outside_frames = outside.size() / 2;
    std::vector<float> left(outside_frames);
    for (size_t i = 0; i < outside_frames; ++i) left[i] = outside[2 * i];
    if (GetParam().depth == PcmDepth::Source) {
        ASSERT_EQ(frames, outside_frames);
        size_t differing = 0;
        for (size_t i = 0; i < frames; ++i) {
            differing += loaded[i] != outside[2 * i] ? 1 : 0;
            differing += loaded[frames + i] != outside[2 * i + 1] ? 1 : 0;
        }
        EXPECT_EQ(differing, 0u);
        return;
    }
    EXPECT_LE(std::max(frames, outside_frames) - std::min(frames, outside_frames), 2048u);
    // The best match within a codec frame's shift: the same signal, whatever each decoder trims.
    double best = 0;
    for (long lag = -2048; lag <= 2048; lag += 1) {
        double dot = 0, a2 = 0, b2 = 0;
        for (size_t i = 4096; i + 4096 < std::min(frames, outside_frames); i += 7) {
            const long j = static_cast<long>(i) + lag;
            if (j < 0 || static_cast<size_t>(j) >= outside_frames) continue;
            dot += loaded[i] * left[static_cast<size_t>(j)];
            a2 += loaded[i] * loaded[i];
            b2 += left[static_cast<size_t>(j)] * left[static_cast<size_t>(j)];
        }
        if (a2 > 0 && b2 > 0) best = std::max(best, dot / std::sqrt(a2 * b2));
    }
    EXPECT_GE(best, 0.999);
}

// A loud lossy master decodes beyond full scale: its floats reach the stores as they are, so
// that the mix's peak scaling keeps the overs (WMA keeps the 16-bit route, which saturates).
TEST_P(GraphLoadTest, LossyFloatsKeepTheirOvers) {
    const std::string path = Make(2.0);
    std::unique_ptr<VeAudioDocument> document = DocumentFor(path);
    ASSERT_TRUE(document);
    ASSERT_TRUE(document->Load(path, nullptr));
    const std::vector<float> loaded = SamplesOf(const_cast<VeAudioData&>(document->Audio()));
    ASSERT_FALSE(loaded.empty());
    float peak = 0;
    for (const float x : loaded) peak = std::max(peak, std::fabs(x));
    if (GetParam().depth == PcmDepth::Float)
        EXPECT_GT(peak, 1.1f);
    else
        EXPECT_LE(peak, 1.0f);
}

// A file cut short: whatever the WAV route made of it, loading makes the same.
TEST_P(GraphLoadTest, ATruncatedFileEndsAsTheWavRouteEnds) {
    const std::string path = Make(3.0);
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    bytes.resize(bytes.size() * 55 / 100);
    WriteFileBytes(path, bytes);
    ExpectBothRoutesAlike(path);
}

// Cut inside or just after the header: a stream that ends before its first sample (it used to
// leave the load waiting for samples that never came).
TEST_P(GraphLoadTest, AFileCutAfterItsHeaderEndsAsTheWavRouteEnds) {
    const std::vector<uint8_t> whole = ReadFileBytes(Make(1.0));
    const std::string path = dir.File(GetParam().name);
    for (size_t size : {42, 54, 64, 128, 512}) {
        SCOPED_TRACE(size);
        WriteFileBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + std::min(size, whole.size())));
        ExpectBothRoutesAlike(path);
    }
}

void GraphLoadTest::ExpectSameAudio(VeAudioData& loaded, VeAudioData& reference) {
    const VeAudioFormat& a = loaded.Format();
    const VeAudioFormat& b = reference.Format();
    EXPECT_EQ(a.format_tag, b.format_tag);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.sample_rate, b.sample_rate);
    EXPECT_EQ(a.block_align, b.block_align);
    EXPECT_EQ(a.avg_bytes_per_sec, b.avg_bytes_per_sec);
    EXPECT_EQ(a.bits_per_sample, b.bits_per_sample);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.data_bytes, b.data_bytes);
    EXPECT_EQ(loaded.ChannelSet().frames, reference.ChannelSet().frames);
    EXPECT_TRUE(loaded.ChannelSet().IsPlain());
    const std::vector<float> got = SamplesOf(loaded);
    const std::vector<float> want = SamplesOf(reference);
    ASSERT_EQ(got.size(), want.size());
    size_t differing = 0;
    for (size_t i = 0; i < got.size(); ++i)
        if (std::memcmp(&got[i], &want[i], sizeof(float)) != 0 && differing++ < 5)
            ADD_FAILURE() << "sample " << i << ": " << got[i] << " against " << want[i];
    EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, GraphLoadTest,
                         ::testing::Values(Source{"in.wma", "-c:a wmav2 -b:a 128k", PcmDepth::Sixteen},
                                           Source{"in.ogg", "-c:a libvorbis -q:a 4", PcmDepth::Float},
                                           Source{"in.opus", "-c:a libopus -b:a 96k", PcmDepth::Float},
                                           Source{"in.m4a", "-c:a aac -b:a 128k", PcmDepth::Float},
                                           Source{"in.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                                                  PcmDepth::Source},
                                           Source{"in.aiff", "-c:a pcm_s24be", PcmDepth::Source}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             return name.substr(name.find('.') + 1);
                         });

// An encode is complete only when every folded frame reached the encoder: one frame short of
// what the save hands it fails and leaves no output (it once passed 0.1 % plus 64 frames short).
TEST(FormatEncodeTest, AnEncodeThatMissesEvenOneFrameFailsAndLeavesNothing) {
    ScratchDir dir;
    const std::string wav = dir.File("mono.wav");
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -nostdin -y -f lavfi -i 'sine=440:d=1' -ac 1 -ar 44100 "
                           "-c:a pcm_s16le '" + wav + "'").c_str()),
              0);
    const FormatPreset& flac = *FindFormatPreset(AudioFileType::Flac);
    for (uint64_t promised : {uint64_t{44100}, uint64_t{44101}}) {
        SCOPED_TRACE(promised);
        FormatEncodeSettings settings;
        settings.sample_rate = 44100;
        settings.frames = promised;
        settings.duration = static_cast<double>(promised) / 44100;
        const std::string target = dir.File("out-" + std::to_string(promised) + ".flac");
        TaskProgress progress;
        progress.Reset(1000);
        const bool encoded = EncodeWavToFormat(flac, wav, target, settings, &progress);
        EXPECT_EQ(encoded, promised == 44100);
        EXPECT_EQ(test::FileSizeOf(target) > 0, encoded);
        if (!encoded) {
            EXPECT_EQ(progress.FailureReason(), "the encoder stopped before the end of the audio");
        }
    }
}

// Counts what it is given and cancels the decode at the first samples.
class CancellingReceiver : public PcmReceiver {
public:
    explicit CancellingReceiver(TaskProgress& progress) : progress_(progress) {}
    bool Begin(const VeAudioFormat&, uint64_t) override { return true; }
    bool Receive(std::span<const uint8_t>) override {
        ++pieces;
        progress_.Cancel();
        return true;
    }
    bool End() override {
        ended = true;
        return true;
    }
    int pieces = 0;
    bool ended = false;

private:
    TaskProgress& progress_;
};

// A cancel stops the stream at the next buffer: the decode fails without reaching its end.
TEST(DecodeToPcmTest, ACancelStopsTheStreamAtOnce) {
    ScratchDir dir;
    const std::string path = dir.File("long.wma");
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -nostdin -y -f lavfi -i 'sine=440:d=60' -ac 2 -c:a wmav2 '" +
                           path + "'").c_str()),
              0);
    TaskProgress progress;
    progress.Reset(1000);
    CancellingReceiver receiver(progress);
    EXPECT_FALSE(DecodeToPcm(path, receiver, &progress, PcmDepth::Sixteen, 0.1));
    EXPECT_FALSE(receiver.ended);
    EXPECT_EQ(receiver.pieces, 1);  // a minute holds over a thousand buffers
    EXPECT_TRUE(progress.IsCancelled());
}

// The 16-bit values of floats around every step, beyond full scale, and of random bit patterns
// (NaN and infinity among them), against audioconvert without dither.
TEST(ConvertedSampleTest, MatchesGstreamersConverter) {
    std::vector<float> floats;
    for (int k = -32800; k <= 32800; k += 7)
        for (double offset : {0.0, 0.5, -0.5, 0.25}) {
            float up = static_cast<float>((k + offset) / 32768.0), down = up;
            floats.push_back(up);
            for (int step = 0; step < 2; ++step) {
                up = std::nextafter(up, INFINITY);
                down = std::nextafter(down, -INFINITY);
                floats.push_back(up);
                floats.push_back(down);
            }
        }
    std::mt19937 random(16);
    std::uniform_int_distribution<uint32_t> bits;
    for (int i = 0; i < 200000; ++i) {
        const uint32_t pattern = bits(random);
        float x;
        std::memcpy(&x, &pattern, sizeof x);
        floats.push_back(x);
    }
    for (float x : {0.0f, -0.0f, 1.0f, -1.0f, 1.5f, -1.5f, 1e30f, -1e30f, INFINITY, -INFINITY, NAN, -NAN})
        floats.push_back(x);

    ScratchDir dir;
    const std::string in = dir.File("in.raw"), out = dir.File("out.raw");
    std::vector<uint8_t> bytes(floats.size() * sizeof(float));
    std::memcpy(bytes.data(), floats.data(), bytes.size());
    WriteFileBytes(in, bytes);
    ASSERT_TRUE(EnsureGstreamer());
    const std::string description = "filesrc location=" + in +
                                    " ! rawaudioparse format=pcm pcm-format=f32le num-channels=1 sample-rate=44100"
                                    " ! audioconvert dithering=none ! audio/x-raw,format=S16LE ! filesink location=" +
                                    out;
    GstPtr<GError> error;
    GError* raw_error = nullptr;
    GstGraph graph;
    GstPtr<GstElement> pipeline(gst_parse_launch(description.c_str(), &raw_error));
    error.reset(raw_error);
    ASSERT_TRUE(pipeline && !error);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    const int result = WaitForGraph(pipeline.get());
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    ASSERT_EQ(result, kGraphCompleted);

    const std::vector<uint8_t> converted = ReadFileBytes(out);
    ASSERT_EQ(converted.size(), floats.size() * 2);
    size_t differing = 0;
    for (size_t i = 0; i < floats.size(); ++i) {
        int16_t expected;
        std::memcpy(&expected, converted.data() + i * 2, 2);
        if (ConvertedSample(floats[i], true) != expected && differing++ < 5)
            ADD_FAILURE() << floats[i] << ": " << ConvertedSample(floats[i], true) << " against " << expected;
    }
    EXPECT_EQ(differing, 0u);
}

}  // namespace
}  // namespace chm

// In a sanitizer build: GLib's start-up allocation and what GStreamer's libav elements keep (the
// Opus decoder's packet side data) are never freed, and neither is ours to free. GLib has no
// frame pointers: without the slow unwinder no stack would reach its library constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstlibav.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
