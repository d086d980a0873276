// The Audio Tap: an element that passes raw PCM through unchanged and turns it into a complete
// WAV byte stream. It reserves room for the header with a byte segment that starts behind it,
// counts the data bytes of the run, and at end of stream seeks the sink back to 0 (a new byte
// segment) and writes the RIFF/WAVE header there, the way a file writer's stream is rewound.
// This library shares nothing with the program but the element, its pads and that byte stream.
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <cstdint>
#include <cstring>

namespace {

// The element's identity, kept from the filter class it stands for.
constexpr char kClassId[] = "{BEE0E811-7150-4E8C-BAAE-F7C489A8CAEE}";

// WAVEFORMATEX with its size field: the format block of every input connection.
constexpr guint32 kFormatBlockSize = 18;
constexpr guint32 kHeaderOverhead = 28;  // "RIFF" size "WAVE" "fmt " size ... "data" size
constexpr guint16 kFormatTagPcm = 1;
constexpr guint16 kFormatTagIeeeFloat = 3;

// Only the layouts a WAVEFORMATEX can describe: interleaved little-endian integers (8-bit
// unsigned, as WAV wants) and IEEE floats.
#define AUDIO_TAP_SINK_CAPS                                                \
    "audio/x-raw, format = (string) { U8, S16LE, S24LE, S32LE, F32LE, F64LE }, " \
    "layout = (string) interleaved, rate = (int) [ 1, MAX ], channels = (int) [ 1, 65535 ]"

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("In", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(AUDIO_TAP_SINK_CAPS));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("Out", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-wav"));

void PutLe16(guint8* at, guint16 value) {
    at[0] = static_cast<guint8>(value);
    at[1] = static_cast<guint8>(value >> 8);
}

void PutLe32(guint8* at, guint32 value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<guint8>(value >> (8 * i));
}

// The WAVEFORMATEX of a negotiated raw-audio connection; false for a layout it cannot describe.
bool BuildFormatBlock(GstCaps* caps, guint8 (&block)[kFormatBlockSize]) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps)) return false;
    if (GST_AUDIO_INFO_LAYOUT(&info) != GST_AUDIO_LAYOUT_INTERLEAVED) return false;
    const GstAudioFormatInfo* format = info.finfo;
    const bool is_float = GST_AUDIO_FORMAT_INFO_IS_FLOAT(format);
    const bool is_integer = GST_AUDIO_FORMAT_INFO_IS_INTEGER(format);
    const int width = GST_AUDIO_FORMAT_INFO_WIDTH(format);
    if (GST_AUDIO_FORMAT_INFO_DEPTH(format) != width) return false;  // no padded samples
    if (width > 8 && GST_AUDIO_FORMAT_INFO_ENDIANNESS(format) != G_LITTLE_ENDIAN) return false;
    if (is_integer && (width == 8) == GST_AUDIO_FORMAT_INFO_IS_SIGNED(format)) return false;
    if (!is_float && !is_integer) return false;
    const guint64 block_align = static_cast<guint64>(GST_AUDIO_INFO_BPF(&info));
    const guint64 bytes_per_second = block_align * static_cast<guint64>(GST_AUDIO_INFO_RATE(&info));
    if (block_align > G_MAXUINT16 || bytes_per_second > G_MAXUINT32) return false;

    PutLe16(block + 0, is_float ? kFormatTagIeeeFloat : kFormatTagPcm);
    PutLe16(block + 2, static_cast<guint16>(GST_AUDIO_INFO_CHANNELS(&info)));
    PutLe32(block + 4, static_cast<guint32>(GST_AUDIO_INFO_RATE(&info)));
    PutLe32(block + 8, static_cast<guint32>(bytes_per_second));
    PutLe16(block + 12, static_cast<guint16>(block_align));
    PutLe16(block + 14, static_cast<guint16>(width));
    PutLe16(block + 16, 0);  // no extra format bytes
    return true;
}

}  // namespace

G_BEGIN_DECLS
#define GST_TYPE_AUDIO_TAP (gst_audio_tap_get_type())
G_DECLARE_FINAL_TYPE(GstAudioTap, gst_audio_tap, GST, AUDIO_TAP, GstElement)
G_END_DECLS

struct _GstAudioTap {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;

    // Set from the input connection's caps; the header copies the block byte for byte.
    guint8 format_block[kFormatBlockSize];
    gboolean have_format;

    // The counters of one run, touched only on the streaming thread (and reset by the state
    // change that starts the run, before that thread exists).
    guint32 header_size;
    guint32 data_bytes;
    // The byte segment that places the data behind the header is still to be sent.
    gboolean need_segment;
};

G_DEFINE_TYPE(GstAudioTap, gst_audio_tap, GST_TYPE_ELEMENT)

namespace {

bool PushByteSegment(GstAudioTap* tap, guint64 start) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_BYTES);
    segment.start = start;
    segment.position = start;
    return gst_pad_push_event(tap->srcpad, gst_event_new_segment(&segment));
}

GstBuffer* BuildHeader(const GstAudioTap* tap) {
    const guint32 size = tap->header_size;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    guint8* h = map.data;
    std::memcpy(h + 0, "RIFF", 4);
    PutLe32(h + 4, tap->data_bytes + size - 8);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    PutLe32(h + 16, kFormatBlockSize);
    std::memcpy(h + 20, tap->format_block, kFormatBlockSize);
    std::memcpy(h + 20 + kFormatBlockSize, "data", 4);
    PutLe32(h + 24 + kFormatBlockSize, tap->data_bytes);
    gst_buffer_unmap(buffer, &map);
    GST_BUFFER_OFFSET(buffer) = 0;
    GST_BUFFER_OFFSET_END(buffer) = size;
    return buffer;
}

// End of the run: rewind the sink to the start and write the header over the reserved bytes.
// A sink that cannot seek refuses the segment and posts its own error; the header is then
// not written.
void WriteHeader(GstAudioTap* tap) {
    if (!tap->have_format) return;  // nothing was negotiated, so there is no format to record
    if (!PushByteSegment(tap, 0)) return;
    gst_pad_push(tap->srcpad, BuildHeader(tap));
}

gboolean HandleCaps(GstAudioTap* tap, GstCaps* caps) {
    guint8 block[kFormatBlockSize];
    if (!BuildFormatBlock(caps, block)) return FALSE;
    // Data already counted in one format cannot be described by a header of another.
    if (tap->have_format && tap->data_bytes > 0 && std::memcmp(block, tap->format_block, sizeof block) != 0)
        return FALSE;
    std::memcpy(tap->format_block, block, sizeof block);
    tap->have_format = TRUE;
    GstCaps* out = gst_static_pad_template_get_caps(&src_template);
    const gboolean ok = gst_pad_set_caps(tap->srcpad, out);
    gst_caps_unref(out);
    return ok;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstAudioTap* tap = GST_AUDIO_TAP(parent);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            const gboolean ok = HandleCaps(tap, caps);
            gst_event_unref(event);
            return ok;
        }
        case GST_EVENT_SEGMENT:
            // Upstream's time segment does not describe a byte stream; our own replaces it.
            gst_event_unref(event);
            return TRUE;
        case GST_EVENT_FLUSH_STOP:
            // Whatever was delivered before a flush is discarded downstream: start over.
            tap->data_bytes = 0;
            tap->need_segment = TRUE;
            return gst_pad_event_default(pad, parent, event);
        case GST_EVENT_EOS:
            WriteHeader(tap);
            return gst_pad_event_default(pad, parent, event);
        default:
            return gst_pad_event_default(pad, parent, event);
    }
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    GstAudioTap* tap = GST_AUDIO_TAP(parent);
    if (!tap->have_format) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(tap, CORE, NEGOTIATION, (nullptr), ("data arrived before the audio format"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    const gsize n = gst_buffer_get_size(buffer);
    const guint64 end = guint64{tap->header_size} + tap->data_bytes + n;
    if (end > G_MAXUINT32) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(tap, STREAM, ENCODE, ("The audio is too long for a WAV file."),
                          ("%u data bytes plus %" G_GSIZE_FORMAT " would pass 4 GiB", tap->data_bytes, n));
        return GST_FLOW_ERROR;
    }
    if (tap->need_segment) {
        // Reserve the header: the data lands right behind it.
        if (!PushByteSegment(tap, guint64{tap->header_size} + tap->data_bytes)) {
            gst_buffer_unref(buffer);
            return GST_FLOW_ERROR;
        }
        tap->need_segment = FALSE;
    }
    // Only the metadata becomes writable: the samples themselves are shared, not copied.
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_OFFSET(buffer) = guint64{tap->header_size} + tap->data_bytes;
    GST_BUFFER_OFFSET_END(buffer) = end;
    const GstFlowReturn result = gst_pad_push(tap->srcpad, buffer);
    // A buffer that was not delivered is not counted.
    if (result == GST_FLOW_OK) tap->data_bytes += static_cast<guint32>(n);
    return result;
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition) {
    GstAudioTap* tap = GST_AUDIO_TAP(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        // Each run starts from zero, so its header counts only itself.
        tap->header_size = kFormatBlockSize + kHeaderOverhead;
        tap->data_bytes = 0;
        tap->need_segment = TRUE;
    }
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(gst_audio_tap_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) tap->have_format = FALSE;
    return result;
}

}  // namespace

static void gst_audio_tap_class_init(GstAudioTapClass* klass) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    element_class->change_state = ChangeState;
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_set_static_metadata(element_class, "Audio Tap", "Codec/Muxer/Audio",
                                          "Passes raw PCM through and makes it a complete WAV file",
                                          "Tavorin");
    gst_element_class_add_static_metadata(element_class, "class-id", kClassId);
}

static void gst_audio_tap_init(GstAudioTap* tap) {
    // The output pad first, then the input pad, as the filter always built them.
    tap->srcpad = gst_pad_new_from_static_template(&src_template, "Out");
    gst_pad_use_fixed_caps(tap->srcpad);
    gst_element_add_pad(GST_ELEMENT(tap), tap->srcpad);

    tap->sinkpad = gst_pad_new_from_static_template(&sink_template, "In");
    gst_pad_set_chain_function(tap->sinkpad, Chain);
    gst_pad_set_event_function(tap->sinkpad, SinkEvent);
    GST_PAD_SET_ACCEPT_TEMPLATE(tap->sinkpad);
    gst_element_add_pad(GST_ELEMENT(tap), tap->sinkpad);

    tap->have_format = FALSE;
    tap->header_size = kFormatBlockSize + kHeaderOverhead;
    tap->data_bytes = 0;
    tap->need_segment = TRUE;
}

namespace {

gboolean PluginInit(GstPlugin* plugin) {
    // Rank none: automatic graph building (decodebin) must never plug the tap by itself.
    return gst_element_register(plugin, "audiotap", GST_RANK_NONE, GST_TYPE_AUDIO_TAP);
}

}  // namespace

// The plugin descriptor names the package the element comes from.
#define PACKAGE "audiotap"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, audiotap, "The Audio Tap filter library", PluginInit,
                  "0.1", "Proprietary", "Tavorin Channel Merger", "Tavorin")
