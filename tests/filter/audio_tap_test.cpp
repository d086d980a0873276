// The Audio Tap element on its own, in real pipelines that write real files.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/filter/gst_test_env.h"
#include "tests/filter/wav_check.h"
#include "tests/support/test_files.h"

namespace chm::test {
namespace {

constexpr uint32_t kHeader = 46;  // 18-byte WAVEFORMATEX + 28

struct Unref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;

// A pipeline that is stopped and released whatever way the test leaves.
class Pipeline {
public:
    explicit Pipeline(const std::string& description) {
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        if (error) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
    }
    Pipeline() : pipeline_(gst_pipeline_new(nullptr)) {}
    ~Pipeline() {
        if (!pipeline_) return;
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        gst_object_unref(pipeline_);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    GstElement* get() const { return pipeline_; }
    Owned<GstElement> Child(const char* name) const {
        return Owned<GstElement>(gst_bin_get_by_name(GST_BIN(pipeline_), name));
    }

    // Runs to the end of the stream; false when the pipeline reports an error first.
    bool RunToEnd() {
        if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
        const bool ended = WaitForEnd();
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        return ended;
    }

    bool WaitForEnd() {
        Owned<GstBus> bus(gst_element_get_bus(pipeline_));
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus.get(), 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (!message) return false;
        const bool eos = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        gst_message_unref(message);
        return eos;
    }

    // True when an error from the named element waits on the bus.
    bool HasErrorFrom(const char* name) {
        Owned<GstBus> bus(gst_element_get_bus(pipeline_));
        while (GstMessage* message = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) {
            const bool match = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) == name;
            gst_message_unref(message);
            if (match) return true;
        }
        return false;
    }

private:
    GstElement* pipeline_ = nullptr;
};

std::string ToneInto(const std::string& sink, int buffers, int samples_per_buffer, const std::string& caps) {
    return "audiotestsrc name=src wave=sine freq=440 num-buffers=" + std::to_string(buffers) +
           " samplesperbuffer=" + std::to_string(samples_per_buffer) + " ! capsfilter name=caps caps=\"" + caps +
           "\" ! " + sink + " ! filesink name=out";
}

const std::string kMono16 = "audio/x-raw,format=S16LE,rate=44100,channels=1,layout=interleaved";

class AudioTapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(LoadAudioTapPlugin()); }

    // Writes `buffers` buffers of a 440 Hz sine through `element` into `name`.
    std::string WriteTone(const std::string& name, int buffers, int samples_per_buffer = 441,
                          const std::string& caps = kMono16, const std::string& element = "audiotap") {
        const std::string path = dir.File(name);
        Pipeline pipeline(ToneInto(element, buffers, samples_per_buffer, caps));
        g_object_set(pipeline.Child("out").get(), "location", path.c_str(), nullptr);
        EXPECT_TRUE(pipeline.RunToEnd());
        return path;
    }

    ScratchDir dir;
};

TEST_F(AudioTapTest, IsRegisteredWithItsIdentityAndPads) {
    Owned<GstElementFactory> factory(gst_element_factory_find("audiotap"));
    ASSERT_TRUE(factory);
    EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory.get())), GST_RANK_NONE);
    EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), "class-id"),
                 "{BEE0E811-7150-4E8C-BAAE-F7C489A8CAEE}");
    EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_LONGNAME), "Audio Tap");
    Owned<GstPlugin> plugin(gst_plugin_feature_get_plugin(GST_PLUGIN_FEATURE(factory.get())));
    ASSERT_TRUE(plugin);
    EXPECT_TRUE(g_str_has_suffix(gst_plugin_get_filename(plugin.get()), "/libgstaudiotap.so"));

    Owned<GstElement> tap(gst_element_factory_create(factory.get(), nullptr));
    ASSERT_TRUE(tap);
    Owned<GstPad> in(gst_element_get_static_pad(tap.get(), "In"));
    Owned<GstPad> out(gst_element_get_static_pad(tap.get(), "Out"));
    ASSERT_TRUE(in && out);
    EXPECT_EQ(GST_PAD_DIRECTION(in.get()), GST_PAD_SINK);
    EXPECT_EQ(GST_PAD_DIRECTION(out.get()), GST_PAD_SRC);
}

TEST_F(AudioTapTest, OneSecondOfMono16BitGivesTheExactWavFile) {
    const std::string path = WriteTone("tone.wav", 100);
    const auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), kHeader + 88200u);
    const std::vector<uint8_t> expected_header = {
        'R', 'I', 'F', 'F', 0xAE, 0x58, 0x01, 0x00,  // 88238
        'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 18, 0, 0, 0,
        1, 0,                    // PCM
        1, 0,                    // mono
        0x44, 0xAC, 0x00, 0x00,  // 44100 Hz
        0x88, 0x58, 0x01, 0x00,  // 88200 bytes per second
        2, 0, 16, 0,             // block align, bits
        0, 0,                    // no extra bytes
        'd', 'a', 't', 'a', 0x88, 0x58, 0x01, 0x00,  // 88200
    };
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + kHeader), expected_header);

    const SoxInfo sox = Soxi(path);
    ASSERT_TRUE(sox.ok);
    EXPECT_EQ(sox.channels, 1);
    EXPECT_EQ(sox.sample_rate, 44100);
    EXPECT_EQ(sox.bits, 16);
    EXPECT_EQ(sox.samples, 44100);
    auto probe = FfprobeAudioStream(path);
    EXPECT_EQ(probe["codec_name"], "pcm_s16le");
    EXPECT_EQ(probe["channels"], "1");
    EXPECT_EQ(probe["sample_rate"], "44100");
    EXPECT_EQ(probe["duration_ts"], "44100");
}

TEST_F(AudioTapTest, PassesThePcmThroughUnchanged) {
    const auto tapped = ReadFileBytes(WriteTone("tap.wav", 100));
    const auto reference = ReadFileBytes(WriteTone("ref.wav", 100, 441, kMono16, "wavenc"));
    const WavLayout ref = ReadWavLayout(reference);
    ASSERT_TRUE(ref.valid);
    ASSERT_EQ(ref.data_size, 88200u);
    ASSERT_EQ(tapped.size(), kHeader + 88200u);
    EXPECT_TRUE(std::equal(tapped.begin() + kHeader, tapped.end(), reference.begin() + ref.header_size));
}

TEST_F(AudioTapTest, DescribesStereoFloatAsIeeeFloat) {
    const std::string path =
        WriteTone("float.wav", 48, 1000, "audio/x-raw,format=F32LE,rate=48000,channels=2,layout=interleaved");
    const WavLayout w = ReadWavLayout(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.fmt_size, 18u);
    EXPECT_EQ(w.format_tag, 3);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.sample_rate, 48000u);
    EXPECT_EQ(w.bytes_per_second, 384000u);
    EXPECT_EQ(w.block_align, 8);
    EXPECT_EQ(w.bits_per_sample, 32);
    EXPECT_EQ(w.data_size, 384000u);
    EXPECT_EQ(w.riff_size, 384000u + kHeader - 8);
    const SoxInfo sox = Soxi(path);
    ASSERT_TRUE(sox.ok);
    EXPECT_EQ(sox.encoding, "Floating Point PCM");
    EXPECT_EQ(sox.samples, 48000);
}

TEST_F(AudioTapTest, DescribesEightBitAsUnsignedPcm) {
    const std::string path =
        WriteTone("u8.wav", 10, 800, "audio/x-raw,format=U8,rate=8000,channels=1,layout=interleaved");
    const WavLayout w = ReadWavLayout(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.format_tag, 1);
    EXPECT_EQ(w.block_align, 1);
    EXPECT_EQ(w.bits_per_sample, 8);
    EXPECT_EQ(w.data_size, 8000u);
    EXPECT_EQ(FileSizeOf(path), int64_t{kHeader} + 8000);
    const SoxInfo sox = Soxi(path);
    ASSERT_TRUE(sox.ok);
    EXPECT_EQ(sox.bits, 8);
    EXPECT_EQ(sox.encoding, "Unsigned Integer PCM");
}

// Lets `limit` buffers through, then ends the stream at the tap and drops the rest, as a
// stopped run does.
struct EarlyEnd {
    int limit = 0;
    int passed = 0;
    bool ended = false;
};

GstPadProbeReturn EndAfterLimit(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* state = static_cast<EarlyEnd*>(data);
    if (state->passed < state->limit) {
        ++state->passed;
        return GST_PAD_PROBE_OK;
    }
    if (!state->ended) {
        state->ended = true;
        Owned<GstPad> tap_in(gst_pad_get_peer(pad));
        gst_pad_send_event(tap_in.get(), gst_event_new_eos());
    }
    return GST_PAD_PROBE_DROP;
}

TEST_F(AudioTapTest, StreamEndedAfterHalfItsBuffersCountsOnlyWhatWasDelivered) {
    const auto full = ReadFileBytes(WriteTone("full.wav", 100));
    const std::string path = dir.File("half.wav");
    Pipeline pipeline(ToneInto("audiotap", 100, 441, kMono16));
    g_object_set(pipeline.Child("out").get(), "location", path.c_str(), nullptr);
    EarlyEnd state{50};
    Owned<GstPad> caps_out(gst_element_get_static_pad(pipeline.Child("caps").get(), "src"));
    gst_pad_add_probe(caps_out.get(), GST_PAD_PROBE_TYPE_BUFFER, EndAfterLimit, &state, nullptr);
    ASSERT_TRUE(pipeline.RunToEnd());

    const auto bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), kHeader + 50u * 882);
    const WavLayout w = ReadWavLayout(bytes);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, 50u * 882);
    EXPECT_EQ(w.riff_size, 50u * 882 + kHeader - 8);
    // The delivered half is the first half of the whole tone.
    ASSERT_EQ(full.size(), kHeader + 88200u);
    EXPECT_TRUE(std::equal(bytes.begin() + kHeader, bytes.end(), full.begin() + kHeader));
    EXPECT_EQ(Soxi(path).samples, 50 * 441);
}

TEST_F(AudioTapTest, SecondRunOfTheSameElementCountsOnlyItself) {
    const std::string path = dir.File("twice.wav");
    Pipeline pipeline(ToneInto("audiotap name=tap", 100, 441, kMono16));
    g_object_set(pipeline.Child("out").get(), "location", path.c_str(), nullptr);
    ASSERT_TRUE(pipeline.RunToEnd());
    EXPECT_EQ(ReadWavLayout(path).data_size, 88200u);

    g_object_set(pipeline.Child("src").get(), "num-buffers", 30, nullptr);
    ASSERT_TRUE(pipeline.RunToEnd());
    const WavLayout w = ReadWavLayout(path);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, 30u * 882);
    EXPECT_EQ(w.riff_size, 30u * 882 + kHeader - 8);
    EXPECT_EQ(FileSizeOf(path), int64_t{kHeader} + 30 * 882);
}

bool Accepts(GstElement* tap, const char* caps_text) {
    Owned<GstPad> in(gst_element_get_static_pad(tap, "In"));
    GstCaps* caps = gst_caps_from_string(caps_text);
    const bool accepted = gst_pad_query_accept_caps(in.get(), caps);
    gst_caps_unref(caps);
    return accepted;
}

TEST_F(AudioTapTest, RefusesCapsThatAreNotInterleavedRawAudio) {
    Owned<GstElement> tap(gst_element_factory_make("audiotap", nullptr));
    ASSERT_TRUE(tap);
    EXPECT_TRUE(Accepts(tap.get(), kMono16.c_str()));
    EXPECT_FALSE(Accepts(tap.get(), "video/x-raw,format=I420,width=64,height=48,framerate=25/1"));
    EXPECT_FALSE(Accepts(tap.get(), "audio/mpeg,mpegversion=1,layer=3,rate=44100,channels=2"));
    EXPECT_FALSE(Accepts(tap.get(), "audio/x-raw,format=S16LE,rate=44100,channels=2,layout=non-interleaved"));
    EXPECT_FALSE(Accepts(tap.get(), "audio/x-raw,format=S16BE,rate=44100,channels=2,layout=interleaved"));
}

TEST_F(AudioTapTest, VideoSourceCannotConnectToIt) {
    Pipeline pipeline;
    GstElement* video = gst_element_factory_make("videotestsrc", nullptr);
    GstElement* tap = gst_element_factory_make("audiotap", nullptr);
    ASSERT_TRUE(video && tap);
    gst_bin_add_many(GST_BIN(pipeline.get()), video, tap, nullptr);
    EXPECT_FALSE(gst_element_link_pads(video, "src", tap, "In"));
}

// Feeds the tap from a pad of the test's own, into a sink that never reads the samples, so
// that gigabytes can pass without being written or copied.
class TapFeeder {
public:
    TapFeeder() {
        tap_ = gst_element_factory_make("audiotap", "tap");
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "async", FALSE, "sync", FALSE, nullptr);
        gst_bin_add_many(GST_BIN(pipeline_.get()), tap_, sink, nullptr);
        EXPECT_TRUE(gst_element_link_pads(tap_, "Out", sink, "sink"));
        Owned<GstPad> out(gst_element_get_static_pad(tap_, "Out"));
        gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, Record, this, nullptr);
        feeder_.reset(gst_pad_new("feeder", GST_PAD_SRC));
        gst_pad_set_active(feeder_.get(), TRUE);
        Owned<GstPad> in(gst_element_get_static_pad(tap_, "In"));
        EXPECT_EQ(gst_pad_link(feeder_.get(), in.get()), GST_PAD_LINK_OK);
        EXPECT_NE(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        gst_pad_push_event(feeder_.get(), gst_event_new_stream_start("tap-test"));
        GstCaps* caps = gst_caps_from_string(kMono16.c_str());
        gst_pad_push_event(feeder_.get(), gst_event_new_caps(caps));
        gst_caps_unref(caps);
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_pad_push_event(feeder_.get(), gst_event_new_segment(&segment));
    }
    ~TapFeeder() {
        if (feeder_) gst_pad_set_active(feeder_.get(), FALSE);
    }

    GstFlowReturn Push(GstBuffer* buffer) { return gst_pad_push(feeder_.get(), buffer); }
    // What a flushing seek does to the stream: everything in flight is thrown away.
    void Flush() {
        gst_pad_push_event(feeder_.get(), gst_event_new_flush_start());
        gst_pad_push_event(feeder_.get(), gst_event_new_flush_stop(TRUE));
        GstSegment segment;
        gst_segment_init(&segment, GST_FORMAT_TIME);
        gst_pad_push_event(feeder_.get(), gst_event_new_segment(&segment));
    }
    void End() { gst_pad_push_event(feeder_.get(), gst_event_new_eos()); }
    bool TapFailed() { return pipeline_.HasErrorFrom("tap"); }

    // The offsets the tap stamped on what it delivered, and the last buffer written at 0.
    std::vector<std::pair<uint64_t, uint64_t>> offsets;
    std::vector<uint8_t> header;
    // The next buffer is refused downstream, as a writer that fails refuses it.
    bool refuse_next = false;

private:
    static GstPadProbeReturn Record(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<TapFeeder*>(data);
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (self->refuse_next) {
            self->refuse_next = false;
            gst_buffer_unref(buffer);
            GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
            return GST_PAD_PROBE_HANDLED;
        }
        self->offsets.emplace_back(GST_BUFFER_OFFSET(buffer), GST_BUFFER_OFFSET_END(buffer));
        if (GST_BUFFER_OFFSET(buffer) == 0) {
            self->header.resize(gst_buffer_get_size(buffer));
            gst_buffer_extract(buffer, 0, self->header.data(), self->header.size());
        }
        return GST_PAD_PROBE_OK;
    }

    Pipeline pipeline_;
    GstElement* tap_ = nullptr;
    Owned<GstPad> feeder_;
};

TEST_F(AudioTapTest, StampsEachBufferWithItsBytePositionInTheFile) {
    TapFeeder feeder;
    for (gsize size : {882u, 100u, 2000u}) ASSERT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, size, nullptr)), GST_FLOW_OK);
    feeder.End();
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {46, 928}, {928, 1028}, {1028, 3028}, {0, 46}};
    EXPECT_EQ(feeder.offsets, expected);
    const WavLayout w = ReadWavLayout(feeder.header);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, 2982u);
}

TEST_F(AudioTapTest, FlushStartsTheDataAgainBehindTheHeader) {
    TapFeeder feeder;
    ASSERT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, 882, nullptr)), GST_FLOW_OK);
    feeder.Flush();
    ASSERT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, 200, nullptr)), GST_FLOW_OK);
    feeder.End();
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{46, 928}, {46, 246}, {0, 46}};
    EXPECT_EQ(feeder.offsets, expected);
    const WavLayout w = ReadWavLayout(feeder.header);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, 200u);
}

TEST_F(AudioTapTest, BufferRefusedDownstreamIsNotCounted) {
    TapFeeder feeder;
    ASSERT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, 882, nullptr)), GST_FLOW_OK);
    feeder.refuse_next = true;
    EXPECT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, 500, nullptr)), GST_FLOW_ERROR);
    ASSERT_EQ(feeder.Push(gst_buffer_new_allocate(nullptr, 200, nullptr)), GST_FLOW_OK);
    feeder.End();
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {{46, 928}, {928, 1128}, {0, 46}};
    EXPECT_EQ(feeder.offsets, expected);
    const WavLayout w = ReadWavLayout(feeder.header);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, 1082u);
}

TEST_F(AudioTapTest, DataThatWouldPassFourGibibytesFailsTheStream) {
    constexpr gsize kChunk = gsize{1} << 28;
    constexpr uint64_t kLimit = 0xFFFFFFFFu;
    TapFeeder feeder;
    GstBuffer* chunk = gst_buffer_new_allocate(nullptr, kChunk, nullptr);
    ASSERT_TRUE(chunk);
    for (int i = 0; i < 15; ++i) ASSERT_EQ(feeder.Push(gst_buffer_ref(chunk)), GST_FLOW_OK);
    // Exactly up to the last byte a 32-bit size can count: still accepted.
    const gsize rest = static_cast<gsize>(kLimit - kHeader - 15 * uint64_t{kChunk});
    ASSERT_EQ(feeder.Push(gst_buffer_copy_region(chunk, GST_BUFFER_COPY_MEMORY, 0, rest)), GST_FLOW_OK);
    EXPECT_FALSE(feeder.TapFailed());
    // One byte more would pass it.
    EXPECT_EQ(feeder.Push(gst_buffer_copy_region(chunk, GST_BUFFER_COPY_MEMORY, 0, 1)), GST_FLOW_ERROR);
    EXPECT_TRUE(feeder.TapFailed());
    gst_buffer_unref(chunk);

    feeder.End();
    const WavLayout w = ReadWavLayout(feeder.header);
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.data_size, kLimit - kHeader);
    EXPECT_EQ(w.riff_size, kLimit - 8);
}

}  // namespace
}  // namespace chm::test
