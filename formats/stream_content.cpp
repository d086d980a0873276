#include "formats/stream_content.h"

#include <gst/gst.h>

#include <cstring>
#include <mutex>

#include "platform/file_system.h"
#include "wm/graph_failure.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"
#include "wm/stream_watch.h"

namespace chm {
namespace {

constexpr GstClockTime kPoll = 100 * GST_MSECOND;
// A file whose streams are not known after this long is taken as unreadable.
constexpr int kPolls = 100;
constexpr char kProbed[] = "chm-probed";

// What parsebin found, written from its streaming thread.
struct Findings {
    std::mutex lock;
    std::string container;  // the factory that split the file: "oggdemux", "qtdemux", ...
    GstPtr<GstCaps> audio;  // the first audio stream, parsed
};

void NoteDemuxer(GstBin*, GstBin*, GstElement* element, gpointer findings) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return;
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (!klass || !std::strstr(klass, "Demux")) return;
    auto* f = static_cast<Findings*>(findings);
    std::lock_guard lock(f->lock);
    // An ID3 tag in front of the stream is not its container.
    if (f->container.empty() && std::strcmp(GST_OBJECT_NAME(factory), "id3demux") != 0 &&
        std::strcmp(GST_OBJECT_NAME(factory), "apedemux") != 0)
        f->container = GST_OBJECT_NAME(factory);
}

void NoteStream(GstElement*, GstPad* pad, gpointer findings) {
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    if (!caps || gst_caps_is_empty(caps.get()) || gst_caps_is_any(caps.get())) return;
    if (!g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)), "audio/")) return;
    auto* f = static_cast<Findings*>(findings);
    std::lock_guard lock(f->lock);
    if (!f->audio) f->audio = std::move(caps);
}

// Every stream is known: the probe is over before any data flows to the unconnected pads.
void StreamsKnown(GstElement* parse, gpointer) {
    gst_element_post_message(parse,
                             gst_message_new_application(GST_OBJECT(parse), gst_structure_new_empty(kProbed)));
}

// The type that a container and a parsed stream make.
StreamContent Decide(const std::string& container, const GstCaps* audio) {
    // These two are converted by their own readers, whatever codec they carry.
    if (container == "wavparse") return {AudioFileType::Wav, {}};
    if (container == "asfdemux") return {AudioFileType::Wma, {}};
    if (!audio) return {AudioFileType::Unsupported, "the file holds no audio stream"};
    const GstStructure* s = gst_caps_get_structure(audio, 0);
    const std::string codec = gst_structure_get_name(s);
    const bool ogg = container == "oggdemux";
    const bool mp4 = container == "qtdemux";
    if (codec == "audio/x-flac") return {ogg ? AudioFileType::OggFlac : AudioFileType::Flac, {}};
    if (codec == "audio/x-vorbis" && ogg) return {AudioFileType::OggVorbis, {}};
    if (codec == "audio/x-opus" && ogg) return {AudioFileType::Opus, {}};
    if (codec == "audio/x-alac" && mp4) return {AudioFileType::Alac, {}};
    if (codec == "audio/x-raw" && container == "aiffparse") return {AudioFileType::Aiff, {}};
    if (codec == "audio/mpeg") {
        int version = 0;
        gst_structure_get_int(s, "mpegversion", &version);
        if (version == 1 && container.empty()) return {AudioFileType::Mp3, {}};
        if (version != 1 && mp4) return {AudioFileType::Aac, {}};
    }
    const std::string name = CodecName(audio);
    return {AudioFileType::Unsupported,
            (name.empty() ? std::string("audio of this kind") : name + " audio") +
                (container.empty() ? std::string() : " in this container") + " is not converted"};
}

}  // namespace

StreamContent ProbeStreamContent(const std::string& path) {
    if (!IsRegularFile(path)) return {AudioFileType::Unsupported, "the file cannot be read"};
    if (!EnsureGstreamer()) return {AudioFileType::Unsupported, "GStreamer cannot be started"};
    Findings findings;
    GstGraph graph;
    GstElement* src = graph.Add(MakeElement("filesrc"));
    GstElement* parse = graph.Add(MakeElement("parsebin"));
    if (!src || !parse || !gst_element_link(src, parse))
        return {AudioFileType::Unsupported, "a GStreamer plugin that this file needs is not installed"};
    g_object_set(src, "location", path.c_str(), nullptr);
    graph.ReadFrom(src);
    // As the decode reads it: what parsebin is given, when it is given it.
    OfferPushOnly(src);
    g_signal_connect(parse, "deep-element-added", G_CALLBACK(NoteDemuxer), &findings);
    g_signal_connect(parse, "pad-added", G_CALLBACK(NoteStream), &findings);
    g_signal_connect(parse, "no-more-pads", G_CALLBACK(StreamsKnown), nullptr);
    if (gst_element_set_state(graph.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        GstPtr<GstBus> bus(gst_element_get_bus(graph.get()));
        const std::string reason = PendingFailure(bus.get());
        return {AudioFileType::Unsupported, reason.empty() ? "the file cannot be read" : reason};
    }
    GstPtr<GstBus> bus(gst_element_get_bus(graph.get()));
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_APPLICATION | GST_MESSAGE_ERROR);
    for (int poll = 0; poll < kPolls; ++poll) {
        GstPtr<GstMessage> message(gst_bus_timed_pop_filtered(bus.get(), kPoll, types));
        if (!message) continue;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
            // A file that is no known container at all names no stream.
            std::lock_guard lock(findings.lock);
            if (!findings.audio) return {AudioFileType::Unsupported, ReasonOf(message.get())};
            break;
        }
        if (!gst_message_has_name(message.get(), kProbed)) continue;
        break;
    }
    graph.Stop();
    std::lock_guard lock(findings.lock);
    if (!findings.audio && findings.container.empty())
        return {AudioFileType::Unsupported, "the file holds no audio of a kind that can be converted"};
    return Decide(findings.container, findings.audio.get());
}

}  // namespace chm
