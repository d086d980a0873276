// The WMA encode: a source (a WAV parser, or a decoder for MP3 and WMA sources) connected to
// the ASF writer, a bin of audioconvert ! audioresample ! capsfilter ! avenc_wmav2 ! avmux_asf !
// filesink whose input pin is the converter's input. The encoder runs on the reading thread: a
// queue before it woke a thread per block of samples and cost more than the reading it
// overlapped. Like the platform's writer it takes any PCM and converts it to its profile's
// format (for the built profile, only the sample type changes). The writer's encoding profile is
// built from the PCM that actually arrives there: the stream's caps are held at that pin until
// the profile is built and applied, so that the encoder opens with the profile's format and bit
// rate.
#include "wm/wma_writer.h"

#include <gst/audio/audio.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

#include "audio/audio_file_type.h"
#include "audio/audio_format.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "platform/unnamed_file.h"
#include "wm/decoding_graph.h"
#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"
#include "wm/wma_profile.h"

namespace chm {
namespace {

constexpr const char* kWriterInputPin = "Audio Input 01";
constexpr uint32_t kNoBitrateCap = 0xFFFFFFFF;
constexpr uint64_t kHeaderAllowance = 20480;  // bytes of ASF header and index around the data
constexpr uint64_t kFollowAbove = 102400;     // smaller encodes are not followed
constexpr auto kConnectTimeout = std::chrono::seconds(30);
constexpr auto kConnectPoll = std::chrono::milliseconds(100);
// The encoder's limits (avenc_wmav2): profiles outside them are refused by the writer.
constexpr uint32_t kEncoderMinBitrate = 24000;
constexpr uint32_t kEncoderMaxRate = 48000;
constexpr uint16_t kWmaFormatTag = 0x0161;

// The writer is configured with a system profile before anything is connected, as the platform's
// ASF writer needs one to offer its input pin; the built profile replaces it. These are the
// 64 kbit/s stereo audio profiles of Windows Media 8, 7 and 4, in the order they are tried.
struct SystemProfile {
    WmGuid id;
    WmaCodecFormat format;
};
constexpr std::array<SystemProfile, 3> kSystemProfiles{{
    {{0x09BB5BC4, 0x3176, 0x457F, {0x8D, 0xD6, 0x3C, 0xD9, 0x19, 0x12, 0x3E, 0x2D}}, {44100, 2, 16, 64000}},
    {{0xB29CFFC6, 0xF131, 0x41DB, {0xB5, 0xE8, 0x99, 0xD8, 0xB0, 0xB9, 0x45, 0xF4}}, {44100, 2, 16, 64000}},
    {{0x4820B3F7, 0xCBEC, 0x41DC, {0x93, 0x91, 0x78, 0x59, 0x87, 0x14, 0xC8, 0xE5}}, {44100, 2, 16, 64000}},
}};

// Truncating the target would destroy the source.
bool SameFile(const std::string& source, const std::string& target) {
    std::error_code ec;
    return std::filesystem::equivalent(source, target, ec) && !ec;
}

bool Linked(GstElement* from, GstElement* to) { return from && to && gst_element_link(from, to); }

// The platform's ASF writer: converters, format filter, encoder, muxer and file sink in one bin.
class AsfWriter {
public:
    bool Create() {
        owned_ = GstPtr<GstElement>(GST_ELEMENT(gst_object_ref_sink(gst_bin_new("asf-writer"))));
        bin_ = owned_.get();
        GstElement* convert = AddPart("audioconvert");
        GstElement* resample = AddPart("audioresample");
        format_ = AddPart("capsfilter");
        encoder_ = AddPart("avenc_wmav2");
        GstElement* muxer = AddPart("avmux_asf");  // rank none: only ever made by name
        sink_ = AddPart("filesink");
        if (!convert || !resample || !format_ || !encoder_ || !muxer || !sink_) return false;
        if (!Linked(convert, resample) || !Linked(resample, format_) || !Linked(format_, encoder_) ||
            !Linked(encoder_, muxer) || !Linked(muxer, sink_))
            return false;
        GstPtr<GstPad> target(gst_element_get_static_pad(convert, "sink"));
        GstPad* ghost = gst_ghost_pad_new(kWriterInputPin, target.get());
        if (!ghost || !gst_element_add_pad(bin_, ghost)) return false;
        input_ = ghost;
        return true;
    }

    // For the graph; the pointers of this object stay valid while the graph holds the bin.
    GstPtr<GstElement> TakeBin() { return std::move(owned_); }
    GstPad* InputPin() const { return input_; }

    bool SetFileName(const std::string& path) {
        if (path.empty()) return false;
        g_object_set(sink_, "location", path.c_str(), nullptr);
        GstPtr<gchar> location;
        {
            gchar* value = nullptr;
            g_object_get(sink_, "location", &value, nullptr);
            location.reset(value);
        }
        return location && path == location.get();
    }

    bool ConfigureUsingProfileGuid(const WmGuid& id) {
        for (const SystemProfile& system : kSystemProfiles) {
            if (system.id != id) continue;
            WmProfile profile(kWmtVersion9);
            WmStreamConfig stream;
            stream.stream_number = 1;
            stream.bitrate = system.format.bitrate;
            stream.media_type = MakeCodecMediaType(kWmaFormatTag, system.format);
            return profile.AddStream(stream) && ConfigureUsingProfile(profile);
        }
        return false;
    }

    // One WMA audio stream within the encoder's limits: the format filter gets its PCM layout
    // (32-bit float, the encoder's only input) and the encoder its bit rate.
    bool ConfigureUsingProfile(const WmProfile& profile) {
        const WmStreamConfig* stream = profile.GetStreamCount() == 1 ? profile.GetStream(0) : nullptr;
        if (!stream || !stream->media_type.IsAudioWaveFormatEx()) return false;
        VeAudioFormat wave;
        if (!ParseWaveFormatEx(stream->media_type.format, wave)) return false;
        if (static_cast<uint16_t>(wave.format_tag) != kWmaFormatTag || wave.channels < 1 || wave.channels > 2 ||
            wave.sample_rate == 0 || wave.sample_rate > kEncoderMaxRate || stream->bitrate < kEncoderMinBitrate ||
            stream->bitrate > static_cast<uint32_t>(G_MAXINT))
            return false;
        GstPtr<GstCaps> caps(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout",
                                                 G_TYPE_STRING, "interleaved", "rate", G_TYPE_INT,
                                                 static_cast<int>(wave.sample_rate), "channels", G_TYPE_INT,
                                                 static_cast<int>(wave.channels), nullptr));
        g_object_set(format_, "caps", caps.get(), nullptr);
        g_object_set(encoder_, "bitrate", static_cast<gint>(stream->bitrate), nullptr);
        return true;
    }

private:
    GstElement* AddPart(const char* factory) {
        GstPtr<GstElement> element = MakeElement(factory);
        if (!element || !gst_bin_add(GST_BIN(bin_), element.get())) return nullptr;
        return element.get();
    }

    GstPtr<GstElement> owned_;
    GstElement* bin_ = nullptr;
    GstElement* format_ = nullptr;
    GstElement* encoder_ = nullptr;
    GstElement* sink_ = nullptr;
    GstPad* input_ = nullptr;
};

// Holds the stream's caps at the writer's input pin until it is opened, and tells the waiting
// thread what they are. Must outlive the streaming threads of the graph it watches.
class InputGate {
public:
    InputGate() = default;
    InputGate(const InputGate&) = delete;
    InputGate& operator=(const InputGate&) = delete;

    void Attach(GstPad* pad) {
        pad_ = pad;
        const auto types = static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM);
        probe_ = gst_pad_add_probe(pad, types, &InputGate::OnEvent, this, nullptr);
    }

    // The caps that arrived, or none when the graph failed, ended or took too long first.
    GstPtr<GstCaps> WaitForCaps(GstBus* bus) {
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                if (arrived_.wait_for(lock, kConnectPoll, [this] { return caps_ != nullptr; }))
                    return GstPtr<GstCaps>(gst_caps_ref(caps_.get()));
            }
            if (GstPtr<GstMessage>(gst_bus_pop_filtered(bus, types))) return nullptr;
        }
        return nullptr;
    }

    // Lets the stream through.
    void Open() {
        if (probe_ != 0) gst_pad_remove_probe(pad_, probe_);
        probe_ = 0;
    }

private:
    static GstPadProbeReturn OnEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (!event || GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_PASS;
        auto* self = static_cast<InputGate*>(data);
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (!self->caps_) self->caps_.reset(gst_caps_ref(caps));
        }
        self->arrived_.notify_all();
        return GST_PAD_PROBE_OK;  // stays blocked until Open
    }

    GstPad* pad_ = nullptr;
    gulong probe_ = 0;
    std::mutex mutex_;
    std::condition_variable arrived_;
    GstPtr<GstCaps> caps_;
};

// A source's output pad is connected as soon as it appears; pads that cannot be taken (a video
// stream) stay unconnected. `input` lives in the same graph as the source.
void OnSourcePad(GstElement*, GstPad* pad, gpointer input) {
    auto* next = static_cast<GstPad*>(input);
    if (!gst_pad_is_linked(next)) gst_pad_link(pad, next);
}

// One encode, steps 2 to 13. The gate is declared before the graph so that it outlives the
// graph's streaming threads, which end when the graph is stopped.
class WmaEncode {
public:
    WmaEncode(const std::string& source, const std::string& target, TaskProgress* progress)
        : source_(source), target_(target), progress_(progress) {}

    bool Run() {
        // 2.
        const uint32_t total = progress_ ? progress_->Total() : 0;
        const uint32_t build_units = static_cast<uint32_t>(std::trunc(total * 0.3));
        // 3.
        GstElement* output = nullptr;
        if (!LoadSource(output)) return false;
        if (progress_) {
            if (progress_->IsCancelled()) return false;
            progress_->Advance(build_units);
        }
        // 4.
        AsfWriter writer;
        if (!writer.Create() || !writer.SetFileName(target_) || !graph_.Add(writer.TakeBin())) return false;
        // 5.
        if (!ConfigureWithSystemProfile(writer)) return false;
        // 6.-7.
        VeAudioFormat input;
        if (!Connect(output, writer.InputPin(), input)) return false;
        // 8.
        WmaProfileBuilder builder;
        if (!builder.BuildMatchingProfile(input, kNoBitrateCap)) return false;
        // 9.
        const bool configured = writer.ConfigureUsingProfile(*builder.Profile());
        // 10.
        uint64_t expected = 0;
        if (progress_) {
            const double duration = GraphDurationSeconds(graph_.get(), nullptr);
            if (!(duration > 0)) return false;
            const uint32_t bitrate = builder.ProfileStreamBitrate();
            if (bitrate != 0) expected = kHeaderAllowance + static_cast<uint64_t>(std::trunc(bitrate * duration / 8));
        }
        // 11.
        if (!configured) return false;
        // 12.
        gate_.Open();
        if (gst_element_set_state(graph_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return false;
        int result = 0;
        if (progress_ && expected > kFollowAbove) {
            auto child = progress_->MakeChild(total - build_units);
            result = WaitForGraphWithProgress(graph_.get(), *child, target_, expected, &reason_);
        } else {
            result = WaitForGraph(graph_.get(), &reason_);
        }
        // 13. Stopping closes the target; only a completed stream makes a file worth keeping.
        graph_.Stop();
        return result == kGraphCompleted;
    }

private:
    // The source filter by the source's type, with the file opened ("loaded") for reading. A WAV
    // file is parsed; an MP3 or WMA file is decoded to 16-bit PCM, as the platform's decoders
    // deliver it. `output` is the element whose output goes to the writer.
    bool LoadSource(GstElement*& output) {
        const AudioFileType type = GetAudioFileType(source_);
        // The temporary WAV of a save has no name to tell its type by.
        const bool wav = type == AudioFileType::Wav || !UnnamedFileFolder(source_).empty();
        if (!wav && type != AudioFileType::Mp3 && type != AudioFileType::Wma) return false;
        GstPtr<GstElement> file = MakeElement("filesrc");
        if (!file) return false;
        g_object_set(file.get(), "location", source_.c_str(), nullptr);
        if (gst_element_set_state(file.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) return false;
        GstElement* source = graph_.Add(std::move(file));
        GstElement* parser = graph_.Add(MakeElement(wav ? "wavparse" : "decodebin"));
        if (!source || !parser || !gst_element_link(source, parser)) return false;
        if (wav) {
            output = parser;
            return true;
        }
        GstElement* convert = graph_.Add(MakeElement("audioconvert"));
        output = graph_.Add(MakeElement("capsfilter"));
        if (!convert || !output || !gst_element_link(convert, output)) return false;
        GstPtr<GstCaps> pcm(gst_caps_from_string("audio/x-raw,format=S16LE,layout=interleaved"));
        g_object_set(output, "caps", pcm.get(), nullptr);
        GstPtr<GstPad> convert_input(gst_element_get_static_pad(convert, "sink"));
        g_signal_connect(parser, "pad-added", G_CALLBACK(OnSourcePad), convert_input.get());
        return true;
    }

    static bool ConfigureWithSystemProfile(AsfWriter& writer) {
        for (const SystemProfile& system : kSystemProfiles)
            if (writer.ConfigureUsingProfileGuid(system.id)) return true;
        return false;
    }

    // Links the source's output to the writer's input and prerolls until the stream's format
    // arrives there (held by the gate).
    bool Connect(GstElement* source_output, GstPad* writer_input, VeAudioFormat& input) {
        gate_.Attach(writer_input);
        GstPtr<GstPad> output(gst_element_get_static_pad(source_output, "src"));
        if (output) {
            if (gst_pad_link(output.get(), writer_input) != GST_PAD_LINK_OK) return false;
        } else {
            g_signal_connect(source_output, "pad-added", G_CALLBACK(OnSourcePad), writer_input);
        }
        if (gst_element_set_state(graph_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) return false;
        GstPtr<GstBus> bus(gst_element_get_bus(graph_.get()));
        GstPtr<GstCaps> caps = gate_.WaitForCaps(bus.get());
        return caps && FormatOfCaps(caps.get(), input);
    }

public:
    // Why the encode failed, where the graph said.
    const std::string& Reason() const { return reason_; }

private:
    const std::string& source_;
    const std::string& target_;
    TaskProgress* progress_;
    std::string reason_;
    InputGate gate_;
    GstGraph graph_;
};

}  // namespace

bool EncodeWavToWma(const std::string& source, const std::string& target, TaskProgress* progress) {
    // 1.
    if (IsCancelled(progress) || source.empty() || target.empty() || SameFile(source, target) || !EnsureGstreamer())
        return FinishProgress(progress, false);
    if (PathExists(target) && !TruncateExistingFile(target)) return FinishProgress(progress, false);
    // 2.-13.
    WmaEncode encode(source, target, progress);
    const bool ok = encode.Run();
    // A stopped, failed or half-written encode is no output: the user must not get it.
    if (!ok && PathExists(target)) RemoveFile(target);
    return FinishProgress(progress, ok, encode.Reason());
}

}  // namespace chm
