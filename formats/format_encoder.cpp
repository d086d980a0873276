#include "formats/format_encoder.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "wm/decoding_graph.h"
#include "formats/format_presets.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"

namespace chm {
namespace {

constexpr double kBuildShare = 0.3;
constexpr uint64_t kFollowAbove = 102400;  // smaller encodes are not followed
constexpr uint64_t kContainerAllowance = 8192;
// The source pushes the file in blocks of this size.
constexpr guint kReadBlock = 65536;

// Truncating the target would destroy the source.
bool SameFile(const std::string& source, const std::string& target) {
    std::error_code ec;
    return std::filesystem::equivalent(source, target, ec) && !ec;
}

// The raw format that a lossless format is given for a sample size (FLAC stops at 24 bits in
// GStreamer: a 32-bit source, such as a float file under a FLAC name, keeps its 24 most
// significant bits).
const char* DepthFormat(const FormatPreset& preset, uint16_t bits) {
    const int written = WrittenDepth(preset, bits);
    return written ? preset.depth_formats[written / 8 - 1] : nullptr;
}

GstPtr<GstCaps> OutputCaps(const FormatPreset& preset, const FormatEncodeSettings& settings) {
    GstPtr<GstCaps> caps(gst_caps_new_simple("audio/x-raw", "channels", G_TYPE_INT, 1, nullptr));
    if (preset.fixed_rate != 0) gst_caps_set_simple(caps.get(), "rate", G_TYPE_INT, preset.fixed_rate, nullptr);
    if (preset.lossless) {
        const char* format = DepthFormat(preset, settings.bits);
        if (!format) return nullptr;
        gst_caps_set_simple(caps.get(), "format", G_TYPE_STRING, format, nullptr);
    }
    return caps;
}

// "name=value name=value": each value in the property's own type, as gst-launch reads it.
void ApplySettings(GstElement* element, const char* settings) {
    if (!settings) return;
    std::istringstream pairs(settings);
    std::string pair;
    while (pairs >> pair) {
        const size_t equals = pair.find('=');
        gst_util_set_object_arg(G_OBJECT(element), pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str());
    }
}

uint32_t Bitrate(const FormatPreset& preset, const FormatEncodeSettings& settings) {
    if (preset.bitrate_at_most_source && settings.bitrate != 0 && settings.bitrate < preset.bitrate)
        return settings.bitrate;
    return preset.bitrate;
}

uint64_t ExpectedSize(const FormatPreset& preset, const FormatEncodeSettings& settings) {
    const double bytes = preset.lossless ? settings.duration * settings.sample_rate * 2 * preset.pcm_share
                                         : settings.duration * preset.expected_bitrate / 8;
    return kContainerAllowance + static_cast<uint64_t>(std::trunc(bytes));
}

// Older wavparse versions offer their output only once they have read the header.
void LinkParsedPad(GstElement*, GstPad* pad, gpointer next) {
    GstPtr<GstPad> input(gst_element_get_static_pad(static_cast<GstElement*>(next), "sink"));
    if (!gst_pad_is_linked(input.get())) gst_pad_link(pad, input.get());
}

// Counts the bytes of raw audio that reach the encoder, so that a stream that ended early (a
// parser that gave up without an error) is not taken for a complete encode.
GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer bytes) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info))
        static_cast<std::atomic<uint64_t>*>(bytes)->fetch_add(gst_buffer_get_size(buffer));
    return GST_PAD_PROBE_OK;
}

// Every frame of the source reached the encoder: exactly as many, or at another rate the
// resampler's count (its output for n frames is n scaled down to a whole frame; one either way
// is allowed for the rounding of the scale).
bool AllFramesArrived(GstElement* raw, uint64_t bytes, const FormatEncodeSettings& settings) {
    GstPtr<GstPad> pad(gst_element_get_static_pad(raw, "src"));
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad.get()));
    GstAudioInfo info;
    if (!caps || !gst_audio_info_from_caps(&info, caps.get()) || GST_AUDIO_INFO_BPF(&info) <= 0) return false;
    const uint64_t arrived = bytes / static_cast<uint64_t>(GST_AUDIO_INFO_BPF(&info));
    const auto rate = static_cast<uint64_t>(GST_AUDIO_INFO_RATE(&info));
    if (rate == settings.sample_rate || settings.sample_rate == 0) return arrived == settings.frames;
    const uint64_t expected = gst_util_uint64_scale(settings.frames, rate, settings.sample_rate);
    return arrived + 1 >= expected && arrived <= expected + 1;
}

// The chain from the parser on; every part the preset names, in order. The parser is given its
// data by push: in pull mode wavparse ends the stream without an error, and without any audio,
// when an odd-sized "data" chunk and its pad byte end the file. Everything runs on the reading
// thread: queues between the parts woke a thread per block and cost a fifth of the encode.
bool BuildPipeline(GstGraph& graph, const FormatPreset& preset, const std::string& source,
                   const std::string& target, const FormatEncodeSettings& settings, GstElement*& raw) {
    GstElement* file = graph.Add(MakeElement("filesrc"));
    GstElement* parse = graph.Add(MakeElement("wavparse"));
    GstElement* convert = graph.Add(MakeElement("audioconvert"));
    GstElement* resample = graph.Add(MakeElement("audioresample"));
    GstElement* format = graph.Add(MakeElement("capsfilter"));
    GstElement* encoder = preset.encoder ? graph.Add(MakeElement(preset.encoder)) : nullptr;
    GstElement* muxer = preset.muxer ? graph.Add(MakeElement(preset.muxer)) : nullptr;
    GstElement* sink = graph.Add(MakeElement("filesink"));
    if (!file || !parse || !convert || !resample || !format || !sink || (preset.encoder && !encoder) ||
        (preset.muxer && !muxer))
        return false;
    raw = format;
    graph.ReadFrom(file);
    g_object_set(file, "location", source.c_str(), "blocksize", kReadBlock, nullptr);
    OfferPushOnly(file);
    g_object_set(sink, "location", target.c_str(), nullptr);
    // A lossless output holds the samples it was given: audioconvert would add dither noise
    // wherever it changes the sample size.
    if (preset.lossless)
        g_object_set(convert, "dithering", GST_AUDIO_DITHER_NONE, "noise-shaping", GST_AUDIO_NOISE_SHAPING_NONE,
                     nullptr);
    GstPtr<GstCaps> caps = OutputCaps(preset, settings);
    if (!caps) return false;
    g_object_set(format, "caps", caps.get(), nullptr);
    if (encoder) {
        ApplySettings(encoder, preset.encoder_settings);
        if (const uint32_t bitrate = Bitrate(preset, settings); bitrate != 0)
            g_object_set(encoder, "bitrate", static_cast<gint>(bitrate), nullptr);
    }
    if (!gst_element_link(file, parse) || !gst_element_link_many(convert, resample, format, nullptr)) return false;
    if (GstPtr<GstPad> parsed(gst_element_get_static_pad(parse, "src")); parsed) {
        if (!gst_element_link(parse, convert)) return false;
    } else {
        g_signal_connect(parse, "pad-added", G_CALLBACK(LinkParsedPad), convert);
    }
    GstElement* last = format;
    for (GstElement* next : {encoder, muxer, sink}) {
        if (!next) continue;
        if (!gst_element_link(last, next)) return false;
        last = next;
    }
    return true;
}

bool EncodeSteps(const FormatPreset& preset, const std::string& source, const std::string& target,
                 const FormatEncodeSettings& settings, TaskProgress* progress, std::string& reason) {
    const uint32_t total = progress ? progress->Total() : 0;
    const auto build = static_cast<uint32_t>(std::trunc(total * kBuildShare));
    // Declared before the graph, whose streaming threads count into it until it stops.
    std::atomic<uint64_t> bytes{0};
    GstGraph graph;
    GstElement* raw = nullptr;
    if (!BuildPipeline(graph, preset, source, target, settings, raw)) {
        reason = "no encoder for this format is installed";
        return false;
    }
    GstPtr<GstPad> raw_out(gst_element_get_static_pad(raw, "src"));
    gst_pad_add_probe(raw_out.get(), GST_PAD_PROBE_TYPE_BUFFER, CountBytes, &bytes, nullptr);
    if (progress) {
        if (progress->IsCancelled()) return false;
        progress->Advance(build);
    }
    if (gst_element_set_state(graph.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
    const uint64_t expected = ExpectedSize(preset, settings);
    int result;
    if (progress && expected > kFollowAbove) {
        auto running = progress->MakeChild(total - build);
        result = WaitForGraphWithProgress(graph.get(), *running, target, expected, &reason);
    } else {
        result = WaitForGraph(graph.get(), &reason);
    }
    // Only a completed stream that carried all the audio makes a file worth keeping. The
    // format is read before stopping closes the target.
    const bool complete = result == kGraphCompleted && AllFramesArrived(raw, bytes.load(), settings);
    if (result == kGraphCompleted && !complete) reason = "the encoder stopped before the end of the audio";
    graph.Stop();
    return complete;
}

}  // namespace

bool EncodeWavToFormat(const FormatPreset& preset, const std::string& source, const std::string& target,
                       const FormatEncodeSettings& settings, TaskProgress* progress) {
    if (IsCancelled(progress) || source.empty() || target.empty() || SameFile(source, target) || !EnsureGstreamer())
        return FinishProgress(progress, false);
    if (PathExists(target) && !TruncateExistingFile(target)) return FinishProgress(progress, false);
    std::string reason;
    const bool ok = EncodeSteps(preset, source, target, settings, progress, reason);
    // A stopped, failed or half-written encode is no output: the user must not get it.
    if (!ok && PathExists(target)) RemoveFile(target);
    return FinishProgress(progress, ok, reason);
}

}  // namespace chm
