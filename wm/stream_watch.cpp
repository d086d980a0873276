#include "wm/stream_watch.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "wm/graph_failure.h"
#include "wm/gst_objects.h"

namespace chm {
namespace {

// The shortest frame that any codec read here can lose (Opus's 2.5 ms) is longer than this;
// decoders time their buffers to the nanosecond, so healthy streams stay far inside it.
constexpr GstClockTime kHoleTolerance = 2 * GST_MSECOND;

std::string ChannelsText(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

std::string FormatText(const GstAudioInfo& info) {
    return std::to_string(GST_AUDIO_INFO_RATE(&info)) + " Hz " + ChannelsText(GST_AUDIO_INFO_CHANNELS(&info));
}

void ParsedFormat(const GstCaps* parsed, int& rate, int& channels) {
    if (!parsed || gst_caps_is_empty(parsed) || gst_caps_is_any(parsed)) return;
    const GstStructure* s = gst_caps_get_structure(parsed, 0);
    gst_structure_get_int(s, "rate", &rate);
    gst_structure_get_int(s, "channels", &channels);
}

bool SameSamples(const GstAudioInfo& a, const GstAudioInfo& b) {
    return GST_AUDIO_INFO_RATE(&a) == GST_AUDIO_INFO_RATE(&b) &&
           GST_AUDIO_INFO_CHANNELS(&a) == GST_AUDIO_INFO_CHANNELS(&b) &&
           GST_AUDIO_INFO_FORMAT(&a) == GST_AUDIO_INFO_FORMAT(&b);
}

}  // namespace

std::string CodecName(const GstCaps* parsed) {
    if (!parsed || gst_caps_is_empty(parsed) || gst_caps_is_any(parsed)) return {};
    const GstStructure* s = gst_caps_get_structure(parsed, 0);
    const char* name = gst_structure_get_name(s);
    static constexpr struct {
        const char* caps;
        const char* codec;
    } kNames[] = {{"audio/x-flac", "FLAC"},   {"audio/x-vorbis", "Vorbis"}, {"audio/x-opus", "Opus"},
                  {"audio/x-wma", "WMA"},     {"audio/x-alac", "ALAC"},     {"audio/x-raw", "PCM"},
                  {"audio/x-speex", "Speex"}, {"audio/x-alaw", "A-law"},    {"audio/x-mulaw", "mu-law"},
                  {"audio/x-adpcm", "ADPCM"}};
    for (const auto& entry : kNames)
        if (std::strcmp(name, entry.caps) == 0) return entry.codec;
    if (std::strcmp(name, "audio/mpeg") == 0) {
        int version = 0;
        gst_structure_get_int(s, "mpegversion", &version);
        return version == 1 ? "MP3" : "AAC";
    }
    return {};
}

void StreamWatch::Attach(GstPad* pad) {
    const auto types = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
    gst_pad_add_probe(pad, types, &StreamWatch::OnData, this, nullptr);
}

void StreamWatch::WatchSource(GstPad* source_out) { source_.reset(GST_PAD(gst_object_ref(source_out))); }

bool StreamWatch::WaitForSourceEnd(std::chrono::milliseconds timeout) {
    if (!source_) return true;
    // The source's thread pushes the file to the decoder and pauses once its end has been
    // handled by everything after it (the Ogg demuxer offers a chain's last link only then).
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        GST_OBJECT_LOCK(source_.get());
        GstTask* task = GST_PAD_TASK(source_.get());
        const bool running = task && gst_task_get_state(task) == GST_TASK_STARTED;
        GST_OBJECT_UNLOCK(source_.get());
        if (!running) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void StreamWatch::SetCodec(const GstCaps* parsed) {
    std::string name = CodecName(parsed);
    int rate = 0;
    int channels = 0;
    ParsedFormat(parsed, rate, channels);
    std::lock_guard lock(codec_lock_);
    if (!name.empty()) codec_ = std::move(name);
    parsed_rate_ = rate;
    parsed_channels_ = channels;
}

std::string StreamWatch::AnotherStreamReason(const GstCaps* parsed) const {
    int rate = 0;
    int channels = 0;
    ParsedFormat(parsed, rate, channels);
    std::lock_guard lock(codec_lock_);
    const std::string codec = CodecName(parsed);
    if (rate > 0 && channels > 0 && parsed_rate_ > 0 && parsed_channels_ > 0 && codec == codec_)
        return "the stream changes its format part-way (" + std::to_string(parsed_rate_) + " Hz " +
               ChannelsText(parsed_channels_) + ", then " + std::to_string(rate) + " Hz " + ChannelsText(channels) + ")";
    return "the file holds more than one audio stream; only files with one are converted";
}

void StreamWatch::WatchParser(GstElement* parser) {
    if (parser_watched_.exchange(true)) return;
    GstPtr<GstPad> in(gst_element_get_static_pad(parser, "sink"));
    GstPtr<GstPad> out(gst_element_get_static_pad(parser, "src"));
    if (in) gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER, &StreamWatch::CountIn, this, nullptr);
    if (out) gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, &StreamWatch::CountOut, this, nullptr);
}

GstPadProbeReturn StreamWatch::CountIn(GstPad*, GstPadProbeInfo* info, gpointer self) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info))
        static_cast<StreamWatch*>(self)->parser_in_ += gst_buffer_get_size(buffer);
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn StreamWatch::CountOut(GstPad*, GstPadProbeInfo* info, gpointer self) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
        auto* watch = static_cast<StreamWatch*>(self);
        const uint64_t size = gst_buffer_get_size(buffer);
        watch->parser_out_ += size;
        // Only the streaming thread writes it.
        if (size > watch->largest_frame_.load()) watch->largest_frame_ = size;
    }
    return GST_PAD_PROBE_OK;
}

std::string StreamWatch::SkippedReason() const {
    // A file cut inside its last frame loses that frame, no more: twice the largest frame (and
    // a few KiB for a stream of tiny frames) is what a cut may cost.
    const uint64_t allowance = std::max<uint64_t>(2 * largest_frame_.load(), 8192);
    const uint64_t in = parser_in_.load();
    const uint64_t out = parser_out_.load();
    if (in <= out + allowance) return {};
    const int rate = rate_.load();
    const double at = rate > 0 ? static_cast<double>(frames_.load()) / rate : 0.0;
    return "the " + Codec() + " stream is damaged after " + ClockText(at) + ": " + std::to_string((in - out) / 1024) +
           " KiB of it cannot be read";
}

void StreamWatch::SetCodecName(const std::string& name) {
    std::lock_guard lock(codec_lock_);
    codec_ = name;
}

std::string StreamWatch::Codec() const {
    std::lock_guard lock(codec_lock_);
    return codec_;
}

GstPadProbeReturn StreamWatch::OnData(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
    auto* watch = static_cast<StreamWatch*>(self);
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info); buffer && (info->type & GST_PAD_PROBE_TYPE_BUFFER))
        return watch->OnBuffer(pad, buffer);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (!event) return GST_PAD_PROBE_OK;
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            return watch->OnCaps(pad, caps);
        }
        case GST_EVENT_SEGMENT:
        case GST_EVENT_FLUSH_STOP:
            watch->rebase_ = true;
            return GST_PAD_PROBE_OK;
        default:
            return GST_PAD_PROBE_OK;
    }
}

GstPadProbeReturn StreamWatch::OnCaps(GstPad* pad, GstCaps* caps) {
    if (failed_) return GST_PAD_PROBE_DROP;
    GstAudioInfo info;
    if (!caps || !gst_audio_info_from_caps(&info, caps)) return GST_PAD_PROBE_OK;
    if (!have_format_) {
        first_ = info;
        current_ = info;
        have_format_ = true;
        rate_ = GST_AUDIO_INFO_RATE(&info);
        return GST_PAD_PROBE_OK;
    }
    // Fields that do not change the samples (a channel mask given or not, the layout) may
    // come and go; the rate, the channels and the sample format may not.
    if (!SameSamples(first_, info)) {
        Fail(pad, "the stream changes its format part-way (" + FormatText(first_) + ", then " + FormatText(info) + ")");
        return GST_PAD_PROBE_DROP;
    }
    current_ = info;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn StreamWatch::OnBuffer(GstPad* pad, GstBuffer* buffer) {
    if (failed_) return GST_PAD_PROBE_DROP;
    const int bpf = have_format_ ? GST_AUDIO_INFO_BPF(&current_) : 0;
    const int rate = have_format_ ? GST_AUDIO_INFO_RATE(&current_) : 0;
    if (bpf <= 0 || rate <= 0) return GST_PAD_PROBE_OK;
    const uint64_t frames = gst_buffer_get_size(buffer) / static_cast<uint64_t>(bpf);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        if (!rebase_ && GST_CLOCK_TIME_IS_VALID(next_) && pts > next_ + kHoleTolerance) {
            const double at = static_cast<double>(frames_.load()) / rate;
            const std::string codec = Codec();
            Fail(pad, (codec.empty() ? std::string("the audio stream") : "the " + codec + " stream") +
                          " is damaged at " + ClockText(at));
            return GST_PAD_PROBE_DROP;
        }
        // A step back starts a new run: what decoders do after a discontinuity they were told of.
        rebase_ = false;
        next_ = pts + gst_util_uint64_scale(frames, GST_SECOND, static_cast<guint64>(rate));
    } else if (GST_CLOCK_TIME_IS_VALID(next_)) {
        next_ += gst_util_uint64_scale(frames, GST_SECOND, static_cast<guint64>(rate));
    }
    frames_ += frames;
    return GST_PAD_PROBE_OK;
}

void StreamWatch::Fail(GstPad* pad, const std::string& reason) {
    failed_ = true;
    GstElement* element = GST_PAD_PARENT(pad) ? GST_ELEMENT(GST_PAD_PARENT(pad)) : nullptr;
    if (element) PostFailure(element, GST_STREAM_ERROR_DECODE, reason);
}

}  // namespace chm
