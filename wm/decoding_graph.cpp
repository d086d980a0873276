// The decoding graph: filesrc ! parsebin ! decodebin ! audioconvert ! PCM caps, then for a WAV
// file queue ! audiotap ! filesink (the queue before audioconvert), or for memory an application
// sink whose samples the caller takes. parsebin and decodebin's autoplugging pick and connect
// demuxer, parser and decoder; audioconvert brings the decoder's output to interleaved 16-bit
// PCM (8-bit stays 8-bit); the Audio Tap makes that a complete WAV file. The queue gives the
// conversion and the writing a thread of their own beside the decoder's.
#include "wm/decoding_graph.h"

#include <fcntl.h>
#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "audio/audio_file_type.h"
#include "platform/file_system.h"
#include "platform/no_room.h"
#include "platform/unique_fd.h"
#include "wm/graph_failure.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"
#include "wm/ogg_chain.h"
#include "wm/stream_watch.h"

namespace chm {
namespace {

constexpr double kBuildShare = 0.3;               // of the progress total, for building the graph
constexpr uint64_t kProgressThreshold = 204800;   // smaller outputs report no progress
constexpr uint64_t kExpectedHeaderSize = 44;
constexpr GstClockTime kStartPoll = 100 * GST_MSECOND;
// A decoder that neither starts nor fails within this time is taken as failed.
constexpr int kStartPolls = 300;  // of kStartPoll: 30 s

// The source pushes the file in blocks of this size.
constexpr guint kReadBlock = 65536;
constexpr int kPullPollMs = 100;
constexpr char kStoreFailure[] = "the decoded audio cannot be stored in the temporary folder";
constexpr char kNoRoom[] = "the temporary folder is full";
// How long the rest of the file may take to be read after the decoded stream ended.
constexpr std::chrono::seconds kSourceEndWait{5};

// What the tap may receive: the PCM the rest of the program reads. audioconvert picks the
// nearest of the allowed formats, so a 24-bit source stays 24-bit where that is allowed.
constexpr char kPcmCaps[] = "audio/x-raw, format = (string) { S16LE, U8 }, layout = (string) interleaved";
// Decoded floats on their way to memory: only interleaved.
constexpr char kFloatCaps[] = "audio/x-raw, format = (string) F32LE, layout = (string) interleaved";
constexpr char k24BitCaps[] = "audio/x-raw, format = (string) S24LE, layout = (string) interleaved";
constexpr char kSourceDepthCaps[] =
    "audio/x-raw, format = (string) { S16LE, U8, S24LE, S32LE }, layout = (string) interleaved";

// Deletes the target of a decode that did not succeed. Declared before the graph, so that the
// graph has stopped and closed the file when this runs.
class PartialOutput {
public:
    explicit PartialOutput(const std::string& path) : path_(path) {}
    ~PartialOutput() {
        if (!kept_) RemoveFile(path_);
    }
    PartialOutput(const PartialOutput&) = delete;
    PartialOutput& operator=(const PartialOutput&) = delete;
    void Keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

// The source is opened for reading only; a pipe or a folder is not a source.
bool CanLoad(const std::string& source) {
    if (!IsRegularFile(source)) return false;
    const UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.IsValid();
}

// Writing the decode over its own source would destroy the source before it is read.
bool SameFile(const std::string& source, const std::string& target) {
    std::error_code ec;
    return std::filesystem::equivalent(source, target, ec) && !ec;
}

bool IsAudio(GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    return g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

// The pads of parsebin (demuxed, parsed streams) and of decodebin (decoded audio) appear once the
// source is typed: the first audio stream is the one decoded, and then the one taken.
void LinkAudioPad(GstElement*, GstPad* pad, gpointer input) {
    GstPtr<GstPad> sink(gst_element_get_static_pad(static_cast<GstElement*>(input), "sink"));
    if (gst_pad_is_linked(sink.get())) return;
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    if (IsAudio(caps.get())) gst_pad_link(pad, sink.get());
}

// A source without any audio stream would never finish starting: make that an error.
void FailWithoutAudio(GstElement* bin, gpointer input) {
    GstPtr<GstPad> sink(gst_element_get_static_pad(static_cast<GstElement*>(input), "sink"));
    if (gst_pad_is_linked(sink.get())) return;
    PostFailure(bin, GST_STREAM_ERROR_WRONG_TYPE, "the file holds no audio stream");
}

// A file read in order has no discontinuity, but the source marks its first block as one, and
// the ASF demuxer copies that mark onto every packet it cuts from the block: each one makes the
// decoder drain and start afresh, and audio is lost at every mark (a short WMA file lost half of
// its length, a long one glitched at its start).
GstPadProbeReturn ClearDiscont(GstPad*, GstPadProbeInfo* info, gpointer) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info); buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

// What the decoder hands to audioconvert, as PassFloats saw it.
enum class DecodedFloats { None, Interleaved, Planar };

struct DecodeGraph {
    std::atomic<DecodedFloats> floats{DecodedFloats::None};  // set from the streaming thread
    // Borrowed from the graph: the caps filter after audioconvert, read from the streaming thread.
    std::atomic<GstElement*> pcm{nullptr};
    GstElement* decode = nullptr;  // borrowed from the graph; decodebin
    std::atomic<bool> parsed_linked{false};  // an audio stream of parsebin went to decodebin
    // Before the graph, whose streaming threads call it until the graph stops.
    StreamWatch watch;
    GstGraph graph;
    GstElement* tap = nullptr;   // borrowed from the graph; the Audio Tap of a decode to a file
    GstElement* sink = nullptr;  // borrowed from the graph; the application sink of a decode to memory
};

// A decoder's float samples go to memory as they are (interleaved): the reader brings them to
// 16 bits exactly as audioconvert would (ConvertedSample), in its own thread instead of in the
// converter's. Any other format is converted by audioconvert as before. Runs on the caps event
// that reaches audioconvert, before audioconvert settles on its output.
GstPadProbeReturn PassFloats(GstPad*, GstPadProbeInfo* info, gpointer graph) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event || GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
    auto* g = static_cast<DecodeGraph*>(graph);
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    GstAudioInfo audio;
    DecodedFloats floats = DecodedFloats::None;
    if (caps && gst_audio_info_from_caps(&audio, caps) && GST_AUDIO_INFO_FORMAT(&audio) == GST_AUDIO_FORMAT_F32LE)
        floats = GST_AUDIO_INFO_LAYOUT(&audio) == GST_AUDIO_LAYOUT_INTERLEAVED ? DecodedFloats::Interleaved
                                                                                : DecodedFloats::Planar;
    g->floats = floats;
    GstPtr<GstCaps> wanted(gst_caps_from_string(floats != DecodedFloats::None ? kFloatCaps : kPcmCaps));
    g_object_set(g->pcm.load(), "caps", wanted.get(), nullptr);
    return GST_PAD_PROBE_OK;
}

// ConvertedSample with its rounding as the bias added below the 16 high bits (2^15 or 0).
inline int16_t ConvertedSampleWithBias(float x, int32_t bias) {
    double scaled = static_cast<double>(x) * 2147483648.0;
    // Saturated; a NaN (which no comparison holds for) goes by its sign.
    scaled = scaled < -2147483648.0 ? -2147483648.0 : scaled;
    scaled = scaled > 2147483647.0 ? 2147483647.0 : scaled;
    scaled = scaled == scaled ? scaled : (std::signbit(x) ? -2147483648.0 : 2147483647.0);
    const int32_t wide = static_cast<int32_t>(scaled);  // toward zero
    const int32_t biased = wide > INT32_MAX - bias ? INT32_MAX : wide + bias;
    return static_cast<int16_t>(biased >> 16);
}

// The FLAC parser skips frames it cannot take without a word: the watch counts what it skips.
void WatchParser(GstBin*, GstBin*, GstElement* element, gpointer graph) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "flacparse") == 0)
        static_cast<DecodeGraph*>(graph)->watch.WatchParser(element);
}

// parsebin's parsed audio stream goes to decodebin; its codec names the stream in reasons.
void LinkParsedPad(GstElement* parse, GstPad* pad, gpointer graph) {
    auto* g = static_cast<DecodeGraph*>(graph);
    GstPtr<GstPad> sink(gst_element_get_static_pad(g->decode, "sink"));
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    if (!IsAudio(caps.get())) return;
    // Not the sink's link: parsebin may take away the first stream's pad before it offers the
    // next one, and the next one must not then take its place unseen.
    if (g->parsed_linked.exchange(true)) {
        PostFailure(parse, GST_STREAM_ERROR_FORMAT, g->watch.AnotherStreamReason(caps.get()));
        return;
    }
    g->watch.SetCodec(caps.get());
    gst_pad_link(pad, sink.get());
}

// Source type, source, decoder, converter, tap and writer, connected as far as they can be
// before the source is read. False when the type is not supported, the source cannot be
// loaded or an element is missing (an absent Audio Tap among them). A graph that has to seek
// lets the demuxer pull: the ASF demuxer refuses time seeks in push mode, and the start limit
// still ends a corrupt file that would otherwise stall.
enum class SourceMode { PushOnly, PullAllowed };
bool BuildGraph(const std::string& source, const std::string& target, DecodeGraph& g,
                SourceMode mode = SourceMode::PushOnly, PcmDepth depth = PcmDepth::Sixteen,
                AudioFileType type = AudioFileType::Unsupported) {
    if (type == AudioFileType::Unsupported) type = GetAudioFileType(source);
    if (type == AudioFileType::Unsupported) return false;
    if (!CanLoad(source)) return false;
    GstElement* src = g.graph.Add(MakeElement("filesrc"));
    // parsebin demuxes and parses; the decodebin behind it sees one elementary stream and only
    // picks and plugs the decoder. decodebin alone would put a stream queue behind the demuxer:
    // a hand-over between threads for every packet, which costs more than the decoding it overlaps.
    GstElement* parse = g.graph.Add(MakeElement("parsebin"));
    GstElement* decode = g.graph.Add(MakeElement("decodebin"));
    // Into memory, the delivery hands the samples to another thread in large chunks: a queue's
    // hand-over for every buffer would cost more than it gives.
    GstElement* queue = target.empty() ? nullptr : g.graph.Add(MakeElement("queue"));
    GstElement* convert = g.graph.Add(MakeElement("audioconvert"));
    GstElement* pcm = g.graph.Add(MakeElement("capsfilter"));
    if (!src || !parse || !decode || (!queue && !target.empty()) || !convert || !pcm) return false;
    g.graph.ReadFrom(src);
    g.decode = decode;
    // Named by the file's type until the parsed stream tells (a file that fails before it does).
    g.watch.SetCodecName(AudioFileTypeName(type));
    // An empty target: the samples go to the calling thread instead of into a WAV file.
    if (target.empty()) {
        g.sink = g.graph.Add(MakeElement("appsink"));
        if (!g.sink) return false;
        // As fast as the decoder goes; the delivery's bounded chunks hold it back for a slow reader.
        g_object_set(g.sink, "sync", FALSE, nullptr);
    } else {
        g.tap = g.graph.Add(MakeElement("audiotap"));
        GstElement* file = g.graph.Add(MakeElement("filesink"));
        if (!g.tap || !file) return false;
        g_object_set(file, "location", target.c_str(), nullptr);
        if (!gst_element_link_pads(g.tap, "Out", file, "sink")) return false;
    }

    g_object_set(src, "location", source.c_str(), "blocksize", kReadBlock, nullptr);
    // Plain rounding: the same source always decodes to the same samples.
    g_object_set(convert, "dithering", GST_AUDIO_DITHER_NONE, nullptr);
    const char* wanted = depth == PcmDepth::Source     ? kSourceDepthCaps
                         : depth == PcmDepth::Source24 ? k24BitCaps
                         : depth == PcmDepth::Float    ? kFloatCaps
                                                       : kPcmCaps;
    GstPtr<GstCaps> caps(gst_caps_from_string(wanted));
    g_object_set(pcm, "caps", caps.get(), nullptr);
    GstPtr<GstPad> convert_input(gst_element_get_static_pad(convert, "sink"));
    // First: a format change it refuses must not reach PassFloats.
    g.watch.Attach(convert_input.get());
    if (g.sink && depth == PcmDepth::Sixteen) {
        g.pcm = pcm;
        gst_pad_add_probe(convert_input.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, PassFloats, &g, nullptr);
    }
    g_signal_connect(parse, "pad-added", G_CALLBACK(LinkParsedPad), &g);
    g_signal_connect(parse, "deep-element-added", G_CALLBACK(WatchParser), &g);
    g_signal_connect(parse, "no-more-pads", G_CALLBACK(FailWithoutAudio), decode);
    GstElement* decoded = queue ? queue : convert;
    g_signal_connect(decode, "pad-added", G_CALLBACK(LinkAudioPad), decoded);
    g_signal_connect(decode, "no-more-pads", G_CALLBACK(FailWithoutAudio), decoded);
    // parsebin's demuxer gets its first data only after parsebin has connected it. A demuxer
    // that pulled the data itself would start reading while parsebin still plugs it, and the
    // errors raised in that window are dropped: a corrupt file would then never fail, it would
    // hang.
    if (mode == SourceMode::PushOnly) {
        OfferPushOnly(src);
        GstPtr<GstPad> read(gst_element_get_static_pad(src, "src"));
        gst_pad_add_probe(read.get(), GST_PAD_PROBE_TYPE_BUFFER, ClearDiscont, nullptr, nullptr);
        g.watch.WatchSource(read.get());
    }
    return gst_element_link(src, parse) && (!queue || gst_element_link(queue, convert)) &&
           gst_element_link(convert, pcm) &&
           (g.sink ? gst_element_link(pcm, g.sink) : gst_element_link_pads(pcm, "src", g.tap, "In"));
}

// Waits until the graph has settled in PAUSED (after the start or a flushing seek): the decoder
// is plugged and connected and the first data has reached the writer. False on an error, a
// cancel or a graph that does not settle.
bool WaitForPaused(const DecodeGraph& g, const TaskProgress* progress, std::string& reason) {
    GstPtr<GstBus> bus(gst_element_get_bus(g.graph.get()));
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
    for (int poll = 0; poll < kStartPolls; ++poll) {
        if (progress && progress->IsCancelled()) return false;
        GstPtr<GstMessage> message(gst_bus_timed_pop_filtered(bus.get(), kStartPoll, types));
        if (!message) continue;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ASYNC_DONE) return true;
        reason = ReasonOf(message.get(), g.watch.Codec());
        return false;
    }
    reason = "the decoder did not start";
    return false;
}

// The counterpart of rendering the source: the graph plugs its decoder and reads far enough
// to know the stream.
bool StartGraph(const DecodeGraph& g, const TaskProgress* progress, std::string& reason) {
    switch (gst_element_set_state(g.graph.get(), GST_STATE_PAUSED)) {
        case GST_STATE_CHANGE_FAILURE: {
            GstPtr<GstBus> bus(gst_element_get_bus(g.graph.get()));
            reason = PendingFailure(bus.get(), g.watch.Codec());
            return false;
        }
        case GST_STATE_CHANGE_ASYNC:
            return WaitForPaused(g, progress, reason);
        default:
            return true;
    }
}

// The format arriving at the end of the graph: the tap's input or the application sink's.
GstPtr<GstCaps> CapsAtEnd(const DecodeGraph& g) {
    GstPtr<GstPad> in(g.sink ? gst_element_get_static_pad(g.sink, "sink") : gst_element_get_static_pad(g.tap, "In"));
    return GstPtr<GstCaps>(in ? gst_pad_get_current_caps(in.get()) : nullptr);
}

// The expected size of the WAV file from the format arriving at the tap's input.
bool ExpectedSize(const DecodeGraph& g, double duration, uint64_t& expected) {
    GstPtr<GstCaps> caps = CapsAtEnd(g);
    GstAudioInfo info;
    if (!caps || !gst_audio_info_from_caps(&info, caps.get())) return false;
    const double bytes_per_second = static_cast<double>(GST_AUDIO_INFO_BPF(&info)) * GST_AUDIO_INFO_RATE(&info);
    expected = static_cast<uint64_t>(std::trunc(duration * bytes_per_second)) + kExpectedHeaderSize;
    return true;
}

// The Ogg demuxer, given its data by push, learns the duration of a short file only from its
// end, after the graph has run: for the formats beyond WAV, MP3 and WMA an unknown duration
// only means that the decode is not followed. A file without audio still fails, at the reader.
bool DurationMayBeUnknown(AudioFileType type) {
    return type != AudioFileType::Mp3 && type != AudioFileType::Wav && type != AudioFileType::Wma;
}

bool Run(GstElement* graph) { return gst_element_set_state(graph, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }

// The end of the decoded stream is the end of the decode only once the whole file has been read:
// what the rest of it held may still fail the decode. Empty when nothing did.
std::string FailureAfterEnd(DecodeGraph& g) {
    g.watch.WaitForSourceEnd(kSourceEndWait);
    GstPtr<GstBus> bus(gst_element_get_bus(g.graph.get()));
    const std::string pending = PendingFailure(bus.get(), g.watch.Codec());
    return pending.empty() ? g.watch.SkippedReason() : pending;
}

// Steps 1 and 2 of both decodes: the target, if present, must be emptied first.
bool PrepareTarget(const std::string& target) { return !PathExists(target) || TruncateExistingFile(target); }

bool DecodeSteps(const std::string& source, const std::string& target, TaskProgress* progress, PcmDepth depth,
                 std::string& reason) {
    // 1.
    if (progress && progress->IsCancelled()) return false;
    if (source.empty() || target.empty() || SameFile(source, target)) return false;
    // 2.
    if (!PrepareTarget(target)) return false;
    PartialOutput output(target);
    // 3.
    const uint32_t total = progress ? progress->Total() : 0;
    const auto build = static_cast<uint32_t>(std::trunc(total * kBuildShare));
    // 4. 5. 10. 11. 12.
    if (!EnsureGstreamer()) return false;
    DecodeGraph g;
    if (!BuildGraph(source, target, g, SourceMode::PushOnly, depth)) return false;
    // 6.
    if (progress) {
        if (progress->IsCancelled()) return false;
        progress->Advance(build);
    }
    // 7.
    if (!StartGraph(g, progress, reason)) return false;
    // 8.
    const double duration = GraphDurationSeconds(g.graph.get(), nullptr);
    if (!(duration > 0) && !DurationMayBeUnknown(GetAudioFileType(source))) return false;
    // 13.
    uint64_t expected = 0;
    if (progress && duration > 0 && !ExpectedSize(g, duration, expected)) return false;
    // 14.
    if (!Run(g.graph.get())) return false;
    // 15.
    int result;
    if (progress && expected > kProgressThreshold) {
        auto running = progress->MakeChild(total - build);
        result = WaitForGraphWithProgress(g.graph.get(), *running, target, expected, &reason, g.watch.Codec());
    } else {
        result = WaitForGraph(g.graph.get(), &reason, g.watch.Codec());
    }
    if (result == kGraphCompleted) {
        reason = FailureAfterEnd(g);
        if (!reason.empty()) result = kGraphFailed;
    }
    // 16. Only a graph that completed gave a whole file; a cancelled or failed one is deleted.
    g.graph.Stop();
    if (result != kGraphCompleted) return false;
    output.Keep();
    return true;
}

// Floats as 16-bit samples, the first channel rounded and the others as `rounded_rest` says.
bool ConvertFloats(std::span<const uint8_t> bytes, uint16_t channels, bool rounded_rest, std::vector<int16_t>& out) {
    if (channels == 0 || bytes.size() % (size_t{channels} * sizeof(float)) != 0) return false;
    out.resize(bytes.size() / sizeof(float));
    const int32_t rest_bias = rounded_rest ? 32768 : 0;
    const uint8_t* in = bytes.data();
    for (size_t i = 0; i < out.size(); i += channels) {
        for (uint16_t c = 0; c < channels; ++c) {
            float x;
            std::memcpy(&x, in + (i + c) * sizeof(float), sizeof x);
            out[i + c] = ConvertedSampleWithBias(x, c == 0 ? 32768 : rest_bias);
        }
    }
    return true;
}

// Caps that describe the same samples: fields that do not change them (a channel mask given or
// left out) may differ.
bool SameSampleFormat(GstCaps* a, GstCaps* b) {
    if (a == b || gst_caps_is_equal(a, b)) return true;
    GstAudioInfo x;
    GstAudioInfo y;
    return gst_audio_info_from_caps(&x, a) && gst_audio_info_from_caps(&y, b) &&
           GST_AUDIO_INFO_FORMAT(&x) == GST_AUDIO_INFO_FORMAT(&y) && GST_AUDIO_INFO_RATE(&x) == GST_AUDIO_INFO_RATE(&y) &&
           GST_AUDIO_INFO_CHANNELS(&x) == GST_AUDIO_INFO_CHANNELS(&y) &&
           GST_AUDIO_INFO_LAYOUT(&x) == GST_AUDIO_INFO_LAYOUT(&y);
}

// Carries the decoded stream from the streaming thread to the calling thread in chunks of
// kChunkBytes: the streaming thread only copies each buffer into the chunk it fills, the calling
// thread converts and stores. A queue element's hand-over for every buffer (a few thousand
// samples) cost more than the work it moved; one for every chunk costs nothing worth counting.
// At most kChunksAhead chunks wait, so that a slow reader holds the decoder back.
class Delivery {
public:
    enum class Next { Chunk, End, Nothing };

    // Installed before the graph starts, so that an end of stream that comes before any sample
    // (an empty stream ends while the graph starts) is seen as well.
    explicit Delivery(const DecodeGraph& g) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &Delivery::OnSample;
        callbacks.eos = &Delivery::OnEos;
        gst_app_sink_set_callbacks(GST_APP_SINK(g.sink), &callbacks, this, nullptr);
    }

    // The format every sample must come in; set before the graph plays.
    void Expect(GstCaps* caps) {
        owned_caps_.reset(gst_caps_ref(caps));
        caps_.store(caps);
    }

    // The calling thread: the next chunk into `chunk` (whose old storage is kept for reuse), the
    // end of the stream once every chunk is taken, or nothing within `timeout`.
    Next Take(std::vector<uint8_t>& chunk, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (chunk.capacity() != 0) {
            chunk.clear();
            spare_.push_back(std::move(chunk));
            chunk = std::vector<uint8_t>();
        }
        moved_.wait_for(lock, timeout, [this] { return !ready_.empty() || ended_; });
        if (!ready_.empty()) {
            chunk = std::move(ready_.front());
            ready_.pop_front();
            moved_.notify_all();
            return Next::Chunk;
        }
        return ended_ ? Next::End : Next::Nothing;
    }

    // The calling thread gives up: the streaming thread stops waiting, and its next delivery fails.
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        moved_.notify_all();
    }

private:
    static constexpr size_t kChunkBytes = 512 * 1024;
    static constexpr size_t kChunksAhead = 4;

    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<Delivery*>(data);
        GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
        bool taken = false;
        // Nothing may be thrown through GStreamer's C frames.
        try {
            taken = sample && self->Put(sample.get());
        } catch (const std::bad_alloc&) {
        }
        if (taken) return GST_FLOW_OK;
        PostFailure(GST_ELEMENT(sink), GST_STREAM_ERROR_FAILED, "the decoded audio cannot be kept");
        return GST_FLOW_ERROR;
    }

    static void OnEos(GstAppSink*, gpointer data) {
        auto* self = static_cast<Delivery*>(data);
        std::unique_lock<std::mutex> lock(self->mutex_);
        if (!self->filling_.empty()) self->ready_.push_back(std::move(self->filling_));
        self->ended_ = true;
        self->moved_.notify_all();
    }

    // The streaming thread: the buffer into the chunk being filled, a full chunk on its way.
    bool Put(GstSample* sample) {
        // Samples counted in one format cannot go on in another.
        GstCaps* caps = gst_sample_get_caps(sample);
        GstCaps* expected = caps_.load();
        if (!caps || !expected || !SameSampleFormat(caps, expected)) return false;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return false;
        if (filling_.capacity() < kChunkBytes) filling_.reserve(kChunkBytes);
        filling_.insert(filling_.end(), map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
        if (filling_.size() < kChunkBytes) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        moved_.wait(lock, [this] { return ready_.size() < kChunksAhead || closed_; });
        if (closed_) return false;
        ready_.push_back(std::move(filling_));
        moved_.notify_all();
        if (!spare_.empty()) {
            filling_ = std::move(spare_.back());
            spare_.pop_back();
        } else {
            filling_ = std::vector<uint8_t>();
        }
        return true;
    }

    GstPtr<GstCaps> owned_caps_;
    std::atomic<GstCaps*> caps_{nullptr};  // read by the streaming thread
    std::vector<uint8_t> filling_;          // the streaming thread's own
    std::mutex mutex_;
    std::condition_variable moved_;
    std::deque<std::vector<uint8_t>> ready_;
    std::vector<std::vector<uint8_t>> spare_;
    bool ended_ = false;
    bool closed_ = false;
};

// Stops the graph, and its streaming threads with it, before the delivery they call goes: on
// every path, and after telling a streaming thread that waits for room that nobody will read.
class StopBeforeDelivery {
public:
    StopBeforeDelivery(DecodeGraph& g, Delivery& delivery) : g_(g), delivery_(delivery) {}
    ~StopBeforeDelivery() {
        delivery_.Close();
        g_.graph.Stop();
    }
    StopBeforeDelivery(const StopBeforeDelivery&) = delete;
    StopBeforeDelivery& operator=(const StopBeforeDelivery&) = delete;

private:
    DecodeGraph& g_;
    Delivery& delivery_;
};

// Runs the graph to its end while the chunks it delivers go to the receiver, floats made 16-bit
// on the way; the progress (if any) follows the bytes received against `expected_bytes`.
int ReceiveAll(DecodeGraph& g, Delivery& delivery, PcmReceiver& receiver, const VeAudioFormat& format,
               uint64_t expected_bytes, TaskProgress* progress, std::string& reason) {
    GstPtr<GstBus> bus(gst_element_get_bus(g.graph.get()));
    const DecodedFloats floats = g.floats;
    const std::string codec = g.watch.Codec();
    std::vector<uint8_t> chunk;
    std::vector<int16_t> converted;
    uint64_t bytes = 0;
    for (;;) {
        DispatchThreadEvents();
        if (progress && progress->IsCancelled()) return kGraphCancelled;
        const Delivery::Next next = delivery.Take(chunk, std::chrono::milliseconds(kPullPollMs));
        // An element that fails posts its error and still ends the stream: whatever came, the
        // bus is read first. A stream that stopped without its end has its reason there too.
        reason = PendingFailure(bus.get(), codec);
        if (!reason.empty()) return kGraphFailed;
        if (next == Delivery::Next::End) {
            reason = FailureAfterEnd(g);
            return reason.empty() ? kGraphCompleted : kGraphFailed;
        }
        if (next == Delivery::Next::Nothing) continue;
        std::span<const uint8_t> pcm(chunk.data(), chunk.size());
        if (floats != DecodedFloats::None) {
            if (!ConvertFloats(pcm, format.channels, floats == DecodedFloats::Interleaved, converted))
                return kGraphFailed;
            pcm = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(converted.data()),
                                           converted.size() * sizeof(int16_t));
        }
        if (!receiver.Receive(pcm)) {
            reason = TakeNoRoom() ? kNoRoom : kStoreFailure;
            return kGraphFailed;
        }
        bytes += pcm.size();
        if (progress && expected_bytes > kProgressThreshold)
            progress->SetPercent(static_cast<float>(std::min(100.0, bytes * 100.0 / expected_bytes)));
    }
}

bool DecodeToPcmSteps(const std::string& source, PcmReceiver& receiver, TaskProgress* progress, PcmDepth depth,
                      double start_share, AudioFileType type, std::string& reason) {
    if (type == AudioFileType::Unsupported) type = GetAudioFileType(source);
    if (progress && progress->IsCancelled()) return false;
    if (source.empty()) return false;
    TakeNoRoom();  // what this decode meets, not an earlier write
    const uint32_t total = progress ? progress->Total() : 0;
    // The start's share: building the graph (as much of it as a decode to a file gives its
    // build), then the decoder plugged and its first samples through.
    std::unique_ptr<ChildProgress> start = MakeChildProgress(progress, ProgressShare(progress, start_share));
    if (!EnsureGstreamer()) return false;
    reason = OggChainProblem(source);
    if (!reason.empty()) return false;
    DecodeGraph g;
    if (!BuildGraph(source, std::string(), g, SourceMode::PushOnly, depth, type)) return false;
    Delivery delivery(g);
    const StopBeforeDelivery stop(g, delivery);
    if (start) {
        if (start->IsCancelled()) return false;
        start->Advance(static_cast<uint32_t>(std::trunc(start->Total() * kBuildShare)));
    }
    if (!StartGraph(g, progress, reason)) return false;
    const double duration = GraphDurationSeconds(g.graph.get(), nullptr);
    if (!(duration > 0) && !DurationMayBeUnknown(type)) {
        reason = "the file's length cannot be read";
        return false;
    }
    VeAudioFormat format;
    GstPtr<GstCaps> caps = CapsAtEnd(g);
    if (!caps || !FormatOfCaps(caps.get(), format)) return false;
    // Floats are handed on as the 16-bit samples that audioconvert would have made of them.
    if (g.floats != DecodedFloats::None) {
        format.format_tag = VeAudioFormat::kPcmTag;
        format.bits_per_sample = 16;
        format.block_align = static_cast<uint16_t>(format.channels * 2);
        format.avg_bytes_per_sec = format.sample_rate * format.block_align;
    }
    const uint64_t expected = duration > 0 ? static_cast<uint64_t>(std::trunc(duration * format.sample_rate)) : 0;
    if (!receiver.Begin(format, expected)) {
        reason = TakeNoRoom() ? kNoRoom : kStoreFailure;
        return false;
    }
    if (start) start->Complete();
    // The rest follows the samples as they arrive. The graph is stopped, and its streaming
    // threads with it, on every path before the delivery goes.
    std::unique_ptr<ChildProgress> stream = MakeChildProgress(progress, total - (start ? start->Range() : 0));
    delivery.Expect(caps.get());
    if (!Run(g.graph.get())) return false;
    const int result =
        ReceiveAll(g, delivery, receiver, format, expected * format.block_align, stream.get(), reason);
    return result == kGraphCompleted && receiver.End();
}

bool DecodeRangeSteps(const std::string& source, const std::string& target, uint32_t first, uint32_t end) {
    // 1.
    if (first == end || source.empty() || target.empty() || SameFile(source, target)) return false;
    if (!PrepareTarget(target)) return false;
    PartialOutput output(target);
    // 2.
    if (!EnsureGstreamer()) return false;
    DecodeGraph g;
    std::string reason;
    if (!BuildGraph(source, target, g, SourceMode::PullAllowed) || !StartGraph(g, nullptr, reason)) return false;
    // 3.
    int64_t units = 0;
    if (!(GraphDurationSeconds(g.graph.get(), &units) > 0)) return false;
    const auto duration_ms = static_cast<uint64_t>(units / 10000);
    // 4.
    if (first > end) std::swap(first, end);
    if (first >= duration_ms) return false;
    const uint64_t stop = std::min<uint64_t>(end, duration_ms);
    // 5.
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek(g.graph.get(), 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, first * GST_MSECOND,
                          GST_SEEK_TYPE_SET, static_cast<gint64>(stop * GST_MSECOND)))
        return false;
    if (!WaitForPaused(g, nullptr, reason)) return false;
    // 6.
    if (!Run(g.graph.get())) return false;
    const int result = WaitForGraph(g.graph.get());
    g.graph.Stop();
    if (result != kGraphCompleted) return false;
    output.Keep();
    return true;
}

}  // namespace

bool DecodeToWav(const std::string& source, const std::string& target, TaskProgress* progress, PcmDepth depth) {
    std::string reason;
    const bool ok = DecodeSteps(source, target, progress, depth, reason);
    // 17.
    return FinishProgress(progress, ok, reason);
}

bool DecodeToPcm(const std::string& source, PcmReceiver& receiver, TaskProgress* progress, PcmDepth depth,
                 double start_share, AudioFileType as) {
    std::string reason;
    const bool ok = DecodeToPcmSteps(source, receiver, progress, depth, start_share, as, reason);
    return FinishProgress(progress, ok, reason);
}

int16_t ConvertedSample(float x, bool rounded) { return ConvertedSampleWithBias(x, rounded ? 32768 : 0); }

bool FormatOfCaps(const GstCaps* caps, VeAudioFormat& format) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) || GST_AUDIO_INFO_RATE(&info) <= 0 ||
        GST_AUDIO_INFO_CHANNELS(&info) <= 0 || GST_AUDIO_INFO_CHANNELS(&info) > 0xFFFF ||
        GST_AUDIO_INFO_BPF(&info) <= 0 || GST_AUDIO_INFO_BPF(&info) > 0xFFFF)
        return false;
    constexpr uint16_t kIeeeFloatTag = 3;
    format.Clear();
    format.format_tag = GST_AUDIO_INFO_IS_FLOAT(&info) ? kIeeeFloatTag : VeAudioFormat::kPcmTag;
    format.channels = static_cast<uint16_t>(GST_AUDIO_INFO_CHANNELS(&info));
    format.sample_rate = static_cast<uint32_t>(GST_AUDIO_INFO_RATE(&info));
    format.block_align = static_cast<uint16_t>(GST_AUDIO_INFO_BPF(&info));
    format.avg_bytes_per_sec = format.sample_rate * format.block_align;
    format.bits_per_sample = static_cast<uint16_t>(GST_AUDIO_INFO_WIDTH(&info));
    return true;
}

bool DecodeRangeToWav(const std::string& source, const std::string& target, uint32_t first_ms, uint32_t end_ms) {
    return DecodeRangeSteps(source, target, first_ms, end_ms);
}

bool TruncateExistingFile(const std::string& path) {
    if (path.empty()) return false;
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    return fd.IsValid();
}

}  // namespace chm
