// Bus messages become reasons for the user here, and nowhere else.
#include "wm/graph_failure.h"

#include <cmath>
#include <cstdio>

#include "wm/gst_objects.h"

namespace chm {
namespace {

// Marks the errors whose text is already a reason for the user.
constexpr char kOwnReason[] = "chm-reason";

std::string Damaged(const std::string& codec) {
    return (codec.empty() ? std::string("the audio stream") : "the " + codec + " stream") + " is damaged";
}

std::string StreamReason(int code, const std::string& codec) {
    switch (code) {
        case GST_STREAM_ERROR_DECODE:
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_FAILED:
            return Damaged(codec);
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
            return "the file holds no audio of a kind that can be converted";
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return "no decoder for this codec is installed";
        case GST_STREAM_ERROR_DECRYPT:
        case GST_STREAM_ERROR_DECRYPT_NOKEY:
            return "the file is encrypted";
        case GST_STREAM_ERROR_ENCODE:
            return "the encoder failed";
        default:
            return "the audio stream cannot be converted";
    }
}

std::string ResourceReason(int code) {
    switch (code) {
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            return "the disk is full";
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_READ:
            return "the file cannot be read";
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_WRITE:
        case GST_RESOURCE_ERROR_CLOSE:
        case GST_RESOURCE_ERROR_SEEK:
        case GST_RESOURCE_ERROR_SYNC:
            return "the output cannot be written";
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return "permission denied";
        default:
            return "a file cannot be used";
    }
}

std::string ErrorReason(const GError* error, const GstStructure* details, const std::string& codec) {
    if (details && gst_structure_has_name(details, kOwnReason) && error && error->message) return error->message;
    if (!error) return "the audio stream cannot be converted";
    if (error->domain == GST_STREAM_ERROR) return StreamReason(error->code, codec);
    if (error->domain == GST_RESOURCE_ERROR) return ResourceReason(error->code);
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN)
        return "a GStreamer plugin that this file needs is not installed";
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION)
        return "the decoded audio has a form that cannot be converted";
    return "the audio stream cannot be converted";
}

}  // namespace

void PostFailure(GstElement* element, GstStreamError code, const std::string& reason) {
    GstPtr<GError> error(g_error_new_literal(GST_STREAM_ERROR, code, reason.c_str()));
    GstStructure* details = gst_structure_new_empty(kOwnReason);
    gst_element_post_message(
        element, gst_message_new_error_with_details(GST_OBJECT(element), error.get(), nullptr, details));
}

std::string ReasonOf(GstMessage* message, const std::string& codec) {
    if (!message) return {};
    GError* raw = nullptr;
    const GstStructure* details = nullptr;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            gst_message_parse_error(message, &raw, nullptr);
            gst_message_parse_error_details(message, &details);
            GstPtr<GError> error(raw);
            return ErrorReason(error.get(), details, codec);
        }
        case GST_MESSAGE_WARNING: {
            // A decoder that could not decode a frame drops it and warns: the audio has a hole.
            gst_message_parse_warning(message, &raw, nullptr);
            GstPtr<GError> error(raw);
            const bool lost = error && error->domain == GST_STREAM_ERROR &&
                              (error->code == GST_STREAM_ERROR_DECODE || error->code == GST_STREAM_ERROR_DEMUX);
            return lost ? Damaged(codec) : std::string();
        }
        default:
            return {};
    }
}

std::string PendingFailure(GstBus* bus, const std::string& codec) {
    if (!bus) return {};
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING);
    for (;;) {
        GstPtr<GstMessage> message(gst_bus_pop_filtered(bus, types));
        if (!message) return {};
        std::string reason = ReasonOf(message.get(), codec);
        if (!reason.empty()) return reason;
    }
}

std::string ShortfallNote(uint64_t frames, double promised_seconds, uint32_t rate, bool lossless) {
    constexpr uint64_t kLossyAllowance = 8192;
    if (rate == 0 || !(promised_seconds > 0)) return {};
    const auto promised = static_cast<uint64_t>(std::trunc(promised_seconds * rate));
    const uint64_t allowance = lossless ? rate / 1000 + 1 : kLossyAllowance;
    if (promised <= frames + allowance) return {};
    return "source ends early: " + ClockText(static_cast<double>(frames) / rate) + " of " + ClockText(promised_seconds);
}

std::string ClockText(double seconds) {
    if (!(seconds > 0)) seconds = 0;
    const auto hundredths = static_cast<unsigned long long>(std::floor(seconds * 100.0));
    const unsigned long long whole = hundredths / 100;
    char text[48];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%02llu", whole / 3600, whole / 60 % 60, whole % 60,
                      hundredths % 100);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu.%02llu", whole / 60, whole % 60, hundredths % 100);
    return text;
}

}  // namespace chm
