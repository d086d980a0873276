// The decoding graph on real files made by sox and ffmpeg, checked with soxi and ffprobe.
#include "wm/decoding_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/filter/wav_check.h"
#include "tests/support/test_files.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"

namespace chm::test {
namespace {

constexpr uint32_t kHeader = 46;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// A stereo tone (440 Hz left, 660 Hz right) or a mono one, in the format sox's options give.
void MakeWithSox(const std::string& path, const std::string& options, double seconds, int channels = 2,
                 int rate = 44100) {
    const std::string command = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " +
                                options + " " + Quote(path) + " synth " + std::to_string(seconds) +
                                " sine 440 sine 660 2>&1";
    std::string out;
    ASSERT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
}

void MakeWithFfmpeg(const std::string& path, const std::string& options, double seconds) {
    const std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=f=440:r=44100:d=" +
                                std::to_string(seconds) + " -ac 2 " + options + " " + Quote(path) + " 2>&1";
    std::string out;
    ASSERT_EQ(RunCommand(command, &out), 0) << command << "\n" << out;
}

// Records every position the progress takes; can cancel itself at the first position past a
// mark, on the decoding thread, as a user pressing stop mid-way would.
class RecordingProgress : public TaskProgress {
public:
    std::vector<uint32_t> seen;
    uint32_t cancel_past = 0;

protected:
    void OnChanged() override {
        seen.push_back(Done());
        if (cancel_past != 0 && Done() > cancel_past && Done() < Total()) Cancel();
    }
};

bool NonDecreasing(const std::vector<uint32_t>& values) {
    for (size_t i = 1; i < values.size(); ++i)
        if (values[i] < values[i - 1]) return false;
    return true;
}

class DecodingGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(EnsureGstreamer()); }

    // Checks that `path` is a complete 16-bit PCM WAV file of the Audio Tap.
    static void ExpectPcmWav(const std::string& path, int channels, int rate, int64_t samples) {
        const WavLayout w = ReadWavLayout(path);
        ASSERT_TRUE(w.valid) << path;
        EXPECT_EQ(w.format_tag, 1);
        EXPECT_EQ(w.fmt_size, 18u);
        EXPECT_EQ(w.header_size, kHeader);
        EXPECT_EQ(w.bits_per_sample, 16);
        EXPECT_EQ(FileSizeOf(path), int64_t{kHeader} + w.data_size);
        EXPECT_EQ(w.riff_size, w.data_size + kHeader - 8);
        const SoxInfo sox = Soxi(path);
        ASSERT_TRUE(sox.ok);
        EXPECT_EQ(sox.channels, channels);
        EXPECT_EQ(sox.sample_rate, rate);
        EXPECT_EQ(sox.bits, 16);
        EXPECT_EQ(sox.samples, samples);
        auto probe = FfprobeAudioStream(path);
        EXPECT_EQ(probe["codec_name"], "pcm_s16le");
        EXPECT_EQ(probe["channels"], std::to_string(channels));
        EXPECT_EQ(probe["sample_rate"], std::to_string(rate));
    }

    // The 16-bit samples sox makes of `source` without dither: the outside reference.
    std::vector<int16_t> SoxReference(const std::string& source) {
        const std::string ref = dir.File("reference.wav");
        EXPECT_EQ(RunCommand("sox -D " + Quote(source) + " -e signed-integer -b 16 " + Quote(ref)), 0);
        return ReadPcm16(ref);
    }

    ScratchDir dir;
};

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    int max = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) max = std::max(max, std::abs(a[i] - b[i]));
    return max;
}

TEST_F(DecodingGraphTest, AudioTapIsAvailable) {
    EXPECT_TRUE(EnsureGstreamer());
    EXPECT_TRUE(IsAudioTapAvailable());
}

TEST_F(DecodingGraphTest, DecodesIeeeFloatWavToPcm) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 2.0);
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    ExpectPcmWav(target, 2, 44100, 88200);
    const auto decoded = ReadPcm16(target);
    const auto reference = SoxReference(source);
    ASSERT_EQ(decoded.size(), reference.size());
    EXPECT_LE(MaxDifference(decoded, reference), 1);
}

TEST_F(DecodingGraphTest, DecodesExtensibleWavToPcm) {
    const std::string source = dir.File("extensible.wav");
    MakeWithSox(source, "-e signed-integer -b 24", 1.0);
    ASSERT_EQ(ReadWavLayout(source).format_tag, 0xFFFE);
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    ExpectPcmWav(target, 2, 44100, 44100);
    EXPECT_LE(MaxDifference(ReadPcm16(target), SoxReference(source)), 1);
}

TEST_F(DecodingGraphTest, DecodesALawExactly) {
    const std::string source = dir.File("alaw.wav");
    MakeWithSox(source, "-e a-law", 1.0, 1, 8000);
    ASSERT_EQ(ReadWavLayout(source).format_tag, 6);
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    ExpectPcmWav(target, 1, 8000, 8000);
    EXPECT_EQ(ReadPcm16(target), SoxReference(source));
}

TEST_F(DecodingGraphTest, DecodesMuLawExactly) {
    const std::string source = dir.File("mulaw.pcm");
    MakeWithSox(source, "-t wav -e u-law", 1.0, 1, 8000);
    ASSERT_EQ(ReadWavLayout(source).format_tag, 7);
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    ExpectPcmWav(target, 1, 8000, 8000);
    EXPECT_EQ(ReadPcm16(target), SoxReference(source));
}

TEST_F(DecodingGraphTest, EightBitSourceStaysEightBit) {
    const std::string source = dir.File("u8.wav");
    MakeWithSox(source, "-e unsigned-integer -b 8", 1.0, 1, 8000);
    const std::string target = dir.File("out.wav");
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    const WavLayout w = ReadWavLayout(target);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.format_tag, 1);
    EXPECT_EQ(w.bits_per_sample, 8);
    EXPECT_EQ(w.data_size, 8000u);
    EXPECT_EQ(ReadFileBytes(target).size(), kHeader + 8000u);
    EXPECT_EQ(Soxi(target).bits, 8);
}

TEST_F(DecodingGraphTest, DecodesMp3AndWma) {
    const std::string mp3 = dir.File("tone.mp3");
    const std::string wma = dir.File("tone.wma");
    MakeWithFfmpeg(mp3, "-c:a libmp3lame -b:a 128k", 2.0);
    MakeWithFfmpeg(wma, "-c:a wmav2 -b:a 128k", 2.0);
    for (const std::string& source : {mp3, wma}) {
        const std::string target = source + ".wav";
        ASSERT_TRUE(DecodeToWav(source, target, nullptr)) << source;
        const SoxInfo sox = Soxi(target);
        ASSERT_TRUE(sox.ok);
        EXPECT_EQ(sox.channels, 2);
        EXPECT_EQ(sox.sample_rate, 44100);
        EXPECT_EQ(sox.bits, 16);
        // Codecs add their delay and padding: within a tenth of a second of two seconds.
        EXPECT_NEAR(sox.samples, 88200, 4410) << source;
        EXPECT_EQ(ReadWavLayout(target).data_size + kHeader, static_cast<uint64_t>(FileSizeOf(target)));
    }
}

TEST_F(DecodingGraphTest, SmallDecodeReportsTheBuildShareThenItsEnd) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.5);
    RecordingProgress progress;
    progress.Reset(1000);
    progress.seen.clear();
    ASSERT_TRUE(DecodeToWav(source, dir.File("out.wav"), &progress));
    ASSERT_FALSE(progress.seen.empty());
    EXPECT_EQ(progress.seen.front(), 300u);
    EXPECT_EQ(progress.seen.back(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(DecodingGraphTest, CancelledBeforeStartFailsAndLeavesTheTargetAlone) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.5);
    const std::string target = dir.File("out.wav");
    WriteTextFile(target, "kept");
    TaskProgress progress;
    progress.Reset(1000);
    progress.Cancel();
    EXPECT_FALSE(DecodeToWav(source, target, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_EQ(ReadTextFile(target), "kept");
}

TEST_F(DecodingGraphTest, ExistingLargerTargetIsTruncatedFirst) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.5, 1);
    const std::string target = dir.File("out.wav");
    WriteFileBytes(target, std::vector<uint8_t>(1 << 20, 0xAB));
    ASSERT_TRUE(DecodeToWav(source, target, nullptr));
    EXPECT_EQ(FileSizeOf(target), int64_t{kHeader} + 44100);
    ExpectPcmWav(target, 1, 44100, 22050);
}

TEST_F(DecodingGraphTest, SourceAsItsOwnTargetFailsWithoutTouchingIt) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.5);
    const auto before = ReadFileBytes(source);
    EXPECT_FALSE(DecodeToWav(source, source, nullptr));
    EXPECT_FALSE(DecodeRangeToWav(source, source, 0, 100));
    EXPECT_EQ(ReadFileBytes(source), before);
}

TEST_F(DecodingGraphTest, EmptyPathsFail) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.2);
    EXPECT_FALSE(DecodeToWav("", dir.File("out.wav"), nullptr));
    EXPECT_FALSE(DecodeToWav(source, "", nullptr));
    EXPECT_FALSE(DecodeRangeToWav("", dir.File("out.wav"), 0, 100));
    EXPECT_LT(FileSizeOf(dir.File("out.wav")), 0);
}

// Every way a source can be unusable: the decode fails and leaves no target behind.
class UnusableSourceTest : public DecodingGraphTest {
protected:
    void ExpectCleanFailure(const std::string& source) {
        const std::string target = dir.File("out.wav");
        RecordingProgress progress;
        progress.Reset(1000);
        EXPECT_FALSE(DecodeToWav(source, target, &progress)) << source;
        EXPECT_TRUE(progress.IsFailed());
        EXPECT_FALSE(PathExists(target)) << source;
        EXPECT_FALSE(DecodeRangeToWav(source, target, 0, 1000)) << source;
        EXPECT_FALSE(PathExists(target)) << source;
    }
    static bool PathExists(const std::string& path) { return FileSizeOf(path) >= 0; }
};

TEST_F(UnusableSourceTest, TextNamedAsWav) {
    const std::string source = dir.File("text.wav");
    WriteTextFile(source, std::string(5000, 'x'));
    ExpectCleanFailure(source);
}

TEST_F(UnusableSourceTest, WavCutInsideItsHeader) {
    const std::string whole = dir.File("whole.wav");
    MakeWithSox(whole, "-e floating-point -b 32", 1.0);
    auto bytes = ReadFileBytes(whole);
    bytes.resize(30);
    const std::string source = dir.File("cut.wav");
    WriteFileBytes(source, bytes);
    ExpectCleanFailure(source);
}

TEST_F(UnusableSourceTest, WmaCutInsideItsHeader) {
    const std::string whole = dir.File("whole.wma");
    MakeWithFfmpeg(whole, "-c:a wmav2 -b:a 128k", 1.0);
    auto bytes = ReadFileBytes(whole);
    bytes.resize(1000);
    const std::string source = dir.File("cut.wma");
    WriteFileBytes(source, bytes);
    ExpectCleanFailure(source);
}

// A file cut inside its audio is not unusable: what it holds is decoded into whole frames.
TEST_F(DecodingGraphTest, SourcesCutMidWayDecodeWhatTheyHold) {
    const std::string wav = dir.File("whole.wav");
    const std::string wma = dir.File("whole.wma");
    MakeWithSox(wav, "-e floating-point -b 32", 4.0);
    MakeWithFfmpeg(wma, "-c:a wmav2 -b:a 128k", 4.0);
    for (const std::string& whole : {wav, wma}) {
        auto bytes = ReadFileBytes(whole);
        bytes.resize(bytes.size() / 2 + 3);  // not even on a sample
        const std::string source = dir.File("cut" + whole.substr(whole.size() - 4));
        WriteFileBytes(source, bytes);
        const std::string target = dir.File("out.wav");
        ASSERT_TRUE(DecodeToWav(source, target, nullptr)) << source;
        const WavLayout w = ReadWavLayout(target);
        ASSERT_TRUE(w.valid);
        EXPECT_EQ(w.data_size % 4, 0u);
        EXPECT_EQ(FileSizeOf(target), int64_t{kHeader} + w.data_size);
        const SoxInfo sox = Soxi(target);
        EXPECT_GT(sox.samples, 44100) << source;
        EXPECT_LT(sox.samples, 3 * 44100) << source;
    }
}

TEST_F(UnusableSourceTest, WmaWithoutAudio) {
    const std::string source = dir.File("video.wma");
    std::string out;
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=64x48:rate=10:d=1 "
                         "-c:v wmv2 -f asf " +
                             Quote(source) + " 2>&1",
                         &out),
              0)
        << out;
    ExpectCleanFailure(source);
}

TEST_F(UnusableSourceTest, ZeroDurationWav) {
    const std::string source = dir.File("empty.wav");
    MakeWithSox(source, "-e signed-integer -b 16", 1.0, 1);
    auto bytes = ReadFileBytes(source);
    const WavLayout w = ReadWavLayout(bytes);
    ASSERT_TRUE(w.valid);
    // Keep the header, claim no data and hold none.
    bytes.resize(w.header_size);
    bytes[4] = static_cast<uint8_t>(w.header_size - 8);
    bytes[5] = bytes[6] = bytes[7] = 0;
    for (size_t i = w.header_size - 4; i < w.header_size; ++i) bytes[i] = 0;
    WriteFileBytes(source, bytes);
    ExpectCleanFailure(source);
}

TEST_F(UnusableSourceTest, UnsupportedExtension) {
    const std::string source = dir.File("tone.mka");
    MakeWithSox(source, "-t wav -e floating-point -b 32", 0.5);
    ExpectCleanFailure(source);
}

TEST_F(UnusableSourceTest, MissingSource) { ExpectCleanFailure(dir.File("missing.wav")); }

TEST_F(DecodingGraphTest, TargetInAMissingFolderFails) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 0.5);
    EXPECT_FALSE(DecodeToWav(source, dir.File("no/such/out.wav"), nullptr));
    EXPECT_LT(FileSizeOf(dir.File("no")), 0);
}

TEST_F(DecodingGraphTest, RangeIsDecodedInEitherOrder) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 6.0);
    const std::string whole = dir.File("whole.wav");
    const std::string range = dir.File("range.wav");
    ASSERT_TRUE(DecodeToWav(source, whole, nullptr));
    ASSERT_TRUE(DecodeRangeToWav(source, range, 5000, 2000));
    ExpectPcmWav(range, 2, 44100, 3 * 44100);
    // The same samples as seconds 2 to 5 of the whole decode.
    const auto all = ReadPcm16(whole);
    const auto part = ReadPcm16(range);
    ASSERT_EQ(all.size(), 6u * 88200);
    ASSERT_EQ(part.size(), 3u * 88200);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + 2 * 88200));
}

TEST_F(DecodingGraphTest, RangeEndIsClampedToTheDuration) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 6.0, 1);
    const std::string range = dir.File("range.wav");
    ASSERT_TRUE(DecodeRangeToWav(source, range, 4000, 99999));
    ExpectPcmWav(range, 1, 44100, 2 * 44100);
}

TEST_F(DecodingGraphTest, EmptyRangeOrRangePastTheEndFails) {
    const std::string source = dir.File("float.wav");
    MakeWithSox(source, "-e floating-point -b 32", 2.0, 1);
    const std::string range = dir.File("range.wav");
    EXPECT_FALSE(DecodeRangeToWav(source, range, 1000, 1000));
    EXPECT_FALSE(DecodeRangeToWav(source, range, 2000, 3000));
    EXPECT_FALSE(DecodeRangeToWav(source, range, 7000, 5000));
    EXPECT_LT(FileSizeOf(range), 0);
}

TEST_F(DecodingGraphTest, TruncateExistingFileEmptiesButNeverCreates) {
    const std::string file = dir.File("file.bin");
    WriteTextFile(file, "some bytes");
    EXPECT_TRUE(TruncateExistingFile(file));
    EXPECT_EQ(FileSizeOf(file), 0);
    EXPECT_FALSE(TruncateExistingFile(dir.File("missing.bin")));
    EXPECT_LT(FileSizeOf(dir.File("missing.bin")), 0);
    EXPECT_FALSE(TruncateExistingFile(dir.Path()));
    EXPECT_FALSE(TruncateExistingFile(""));
}

// Graphs built here directly, for the waits and the duration.
class GraphOperationsTest : public DecodingGraphTest {
protected:
    // Elements linked in a row; the graph keeps them.
    static bool Chain(GstGraph& graph, std::vector<GstPtr<GstElement>> elements) {
        GstElement* previous = nullptr;
        for (auto& element : elements) {
            GstElement* added = graph.Add(std::move(element));
            if (!added || (previous && !gst_element_link(previous, added))) return false;
            previous = added;
        }
        return true;
    }

    // A row that starts with a reader of a three-second 16-bit WAV made by sox; the reader, borrowed.
    GstElement* StartWithWavReader(std::vector<GstPtr<GstElement>>& row) {
        const std::string source = dir.File("pcm.wav");
        MakeWithSox(source, "-e signed-integer -b 16", 3.0);
        row.push_back(MakeElement("filesrc"));
        g_object_set(row.back().get(), "location", source.c_str(), nullptr);
        return row.back().get();
    }

    static bool Pause(GstGraph& graph) {
        gst_element_set_state(graph.get(), GST_STATE_PAUSED);
        return gst_element_get_state(graph.get(), nullptr, nullptr, 30 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS;
    }
};

TEST_F(GraphOperationsTest, DurationOfAKnownFile) {
    GstGraph graph;
    std::vector<GstPtr<GstElement>> row;
    StartWithWavReader(row);
    row.push_back(MakeElement("wavparse"));
    row.push_back(MakeElement("fakesink"));
    ASSERT_TRUE(Chain(graph, std::move(row)));

    int64_t units = -7;
    EXPECT_EQ(GraphDurationSeconds(nullptr, &units), 0.0);
    EXPECT_EQ(GraphDurationSeconds(graph.get(), &units), 0.0);  // not started: nothing known yet
    EXPECT_EQ(units, -7);
    ASSERT_TRUE(Pause(graph));
    EXPECT_DOUBLE_EQ(GraphDurationSeconds(graph.get(), &units), 3.0);
    EXPECT_EQ(units, 30000000);
    EXPECT_DOUBLE_EQ(GraphDurationSeconds(graph.get(), nullptr), 3.0);
}

TEST_F(GraphOperationsTest, WaitEndsWithCompletionOrFailure) {
    GstGraph good;
    std::vector<GstPtr<GstElement>> row;
    row.push_back(MakeElement("audiotestsrc"));
    g_object_set(row.back().get(), "num-buffers", 20, nullptr);
    row.push_back(MakeElement("fakesink"));
    ASSERT_TRUE(Chain(good, std::move(row)));
    gst_element_set_state(good.get(), GST_STATE_PLAYING);
    EXPECT_EQ(WaitForGraph(good.get()), kGraphCompleted);

    GstGraph bad;
    row.clear();
    row.push_back(MakeElement("filesrc"));
    g_object_set(row.back().get(), "location", dir.File("missing.wav").c_str(), nullptr);
    row.push_back(MakeElement("fakesink"));
    ASSERT_TRUE(Chain(bad, std::move(row)));
    gst_element_set_state(bad.get(), GST_STATE_PLAYING);
    EXPECT_EQ(WaitForGraph(bad.get()), kGraphFailed);
    EXPECT_EQ(WaitForGraph(nullptr), kGraphFailed);
}

// aiffparse frees its state as its input pad goes inactive, under a thread still inside it (a
// cancelled conversion then hung). Stop lets the reader's thread leave the graph first: while it
// is held inside an element, no input of that element goes inactive.
TEST_F(GraphOperationsTest, StopWaitsForTheReadersThreadBeforeAnyInputGoesInactive) {
    GstGraph graph;
    std::vector<GstPtr<GstElement>> row;
    GstElement* reader = StartWithWavReader(row);
    row.push_back(MakeElement("identity"));
    GstElement* middle = row.back().get();
    row.push_back(MakeElement("fakesink"));
    ASSERT_TRUE(Chain(graph, std::move(row)));
    graph.ReadFrom(reader);

    struct Inside {
        GstPtr<GstPad> input;
        std::atomic<bool> entered{false};
        std::atomic<bool> input_lost{false};
    } inside;
    inside.input.reset(gst_element_get_static_pad(middle, "sink"));
    GstPtr<GstPad> output(gst_element_get_static_pad(middle, "src"));
    // Called from the element's chain function: half a second inside it, watching its input.
    const auto hold = [](GstPad*, GstPadProbeInfo*, gpointer data) {
        auto* in = static_cast<Inside*>(data);
        if (in->entered.exchange(true)) return GST_PAD_PROBE_OK;
        for (int i = 0; i < 50; ++i) {
            if (!gst_pad_is_active(in->input.get())) in->input_lost = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return GST_PAD_PROBE_OK;
    };
    gst_pad_add_probe(output.get(), GST_PAD_PROBE_TYPE_BUFFER, hold, &inside, nullptr);
    gst_element_set_state(graph.get(), GST_STATE_PLAYING);
    for (int i = 0; i < 10000 && !inside.entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(inside.entered);
    graph.Stop();
    EXPECT_FALSE(inside.input_lost);
    GstState state = GST_STATE_VOID_PENDING;
    EXPECT_EQ(gst_element_get_state(graph.get(), &state, nullptr, 0), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(state, GST_STATE_NULL);
}

// A thread that runs its own main context keeps it serviced while it waits.
TEST_F(GraphOperationsTest, WaitServicesTheThreadsOwnMainContext) {
    GstGraph graph;
    std::vector<GstPtr<GstElement>> row;
    row.push_back(MakeElement("audiotestsrc"));
    g_object_set(row.back().get(), "is-live", TRUE, "num-buffers", 30, "samplesperbuffer", 441, nullptr);
    row.push_back(MakeElement("fakesink"));
    ASSERT_TRUE(Chain(graph, std::move(row)));

    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    bool dispatched = false;
    GSource* idle = g_idle_source_new();
    g_source_set_callback(
        idle,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &dispatched, nullptr);
    g_source_attach(idle, context);
    g_source_unref(idle);

    gst_element_set_state(graph.get(), GST_STATE_PLAYING);
    EXPECT_EQ(WaitForGraph(graph.get()), kGraphCompleted);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    EXPECT_TRUE(dispatched);
}

TEST_F(GraphOperationsTest, WaitWithProgressRefusesWhatItCannotMeasure) {
    GstGraph graph;
    TaskProgress progress;
    progress.Reset(100);
    const std::string target = dir.File("out.wav");
    EXPECT_EQ(WaitForGraphWithProgress(graph.get(), progress, "", 1000), kGraphFailed);
    EXPECT_EQ(WaitForGraphWithProgress(graph.get(), progress, target, 0), kGraphFailed);
    EXPECT_EQ(WaitForGraphWithProgress(nullptr, progress, target, 1000), kGraphFailed);
    TaskProgress empty;
    EXPECT_EQ(WaitForGraphWithProgress(graph.get(), empty, target, 1000), kGraphFailed);
    progress.Cancel();
    EXPECT_EQ(WaitForGraphWithProgress(graph.get(), progress, target, 1000), kGraphFailed);
}

// A live source never ends by itself: only the cancel can end this graph. The tap must still
// have written a valid header for what it delivered.
TEST_F(GraphOperationsTest, CancelEndsTheStreamAndTheTapHeaderStaysValid) {
    const std::string target = dir.File("live.wav");
    GstGraph graph;
    std::vector<GstPtr<GstElement>> row;
    row.push_back(MakeElement("audiotestsrc"));
    g_object_set(row.back().get(), "is-live", TRUE, "samplesperbuffer", 441, nullptr);
    row.push_back(MakeElement("capsfilter"));
    GstPtr<GstCaps> caps(gst_caps_from_string("audio/x-raw,format=S16LE,rate=44100,channels=1,layout=interleaved"));
    g_object_set(row.back().get(), "caps", caps.get(), nullptr);
    row.push_back(MakeElement("audiotap"));
    row.push_back(MakeElement("filesink"));
    g_object_set(row.back().get(), "location", target.c_str(), nullptr);
    ASSERT_TRUE(Chain(graph, std::move(row)));

    TaskProgress progress;
    progress.Reset(100);
    ASSERT_NE(gst_element_set_state(graph.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    std::thread stopper([&progress] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        progress.Cancel();
    });
    const int result = WaitForGraphWithProgress(graph.get(), progress, target, 100000000);
    stopper.join();
    graph.Stop();
    EXPECT_EQ(result, kGraphCancelled);

    const WavLayout w = ReadWavLayout(target);
    ASSERT_TRUE(w.valid);
    EXPECT_GT(w.data_size, 0u);
    EXPECT_EQ(w.data_size % 2, 0u);
    EXPECT_EQ(FileSizeOf(target), int64_t{kHeader} + w.data_size);
    EXPECT_EQ(Soxi(target).samples, w.data_size / 2);
}

// Twenty minutes: their decode takes over half a second even on an idle machine, so the first
// progress report, 200 ms in, comes while it runs (five minutes once ended before it).
class LongDecodeTest : public DecodingGraphTest {
protected:
    static void SetUpTestSuite() {
        DecodingGraphTest::SetUpTestSuite();
        media_ = std::make_unique<ScratchDir>();
        MakeWithFfmpeg(Source(), "-c:a wmav2 -b:a 128k", kSeconds);
    }
    static void TearDownTestSuite() { media_.reset(); }
    static std::string Source() { return media_->File("long.wma"); }

    static constexpr int kSeconds = 1200;
    static std::unique_ptr<ScratchDir> media_;
};

std::unique_ptr<ScratchDir> LongDecodeTest::media_;

TEST_F(LongDecodeTest, ProgressRunsFromTheBuildShareToItsEnd) {
    const std::string target = dir.File("long.wav");
    RecordingProgress progress;
    progress.Reset(1000);
    progress.seen.clear();
    ASSERT_TRUE(DecodeToWav(Source(), target, &progress));
    ASSERT_FALSE(progress.seen.empty());
    EXPECT_EQ(progress.seen.front(), 300u);
    EXPECT_EQ(progress.seen.back(), 1000u);
    EXPECT_TRUE(NonDecreasing(progress.seen));
    EXPECT_FALSE(progress.IsFailed());

    const SoxInfo sox = Soxi(target);
    ASSERT_TRUE(sox.ok);
    EXPECT_EQ(sox.channels, 2);
    EXPECT_EQ(sox.bits, 16);
    EXPECT_NEAR(static_cast<double>(sox.samples), kSeconds * 44100.0, 4410.0);
    const WavLayout w = ReadWavLayout(target);
    EXPECT_EQ(FileSizeOf(target), int64_t{kHeader} + w.data_size);
}

TEST_F(LongDecodeTest, CancelMidWayFailsAndLeavesNoFile) {
    const std::string target = dir.File("long.wav");
    RecordingProgress progress;
    progress.Reset(1000);
    progress.cancel_past = 300;  // the first report of the running share
    EXPECT_FALSE(DecodeToWav(Source(), target, &progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsFailed());
    ASSERT_FALSE(progress.seen.empty());
    EXPECT_LT(progress.seen.back(), 1000u);
    EXPECT_LT(FileSizeOf(target), 0);
}

}  // namespace
}  // namespace chm::test
