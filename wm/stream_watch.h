#pragma once
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "wm/gst_objects.h"

namespace chm {

// Watches the decoded audio on its way out of the decoder and fails the graph, with a reason,
// where the stream lost audio without an error of its own:
// - a hole in the timestamps: a parser or decoder that skipped damaged frames goes on after
//   them, and the stream would close up over the missing audio;
// - a format that changes part-way (the next link of a chained Ogg file, a FLAC stream whose
//   rate changes): the rest would not be the audio the first part's header describes.
// Every buffer after a failure is dropped. Counts the decoded frames.
class StreamWatch {
public:
    StreamWatch() = default;
    StreamWatch(const StreamWatch&) = delete;
    StreamWatch& operator=(const StreamWatch&) = delete;

    // Watches what enters `pad` (the element after the decoder) from now on.
    void Attach(GstPad* pad);
    // The parsed stream's caps, for naming the codec in reasons ("FLAC"); any thread.
    void SetCodec(const GstCaps* parsed);
    std::string Codec() const;
    // The name to use until SetCodec knows better.
    void SetCodecName(const std::string& name);
    // Why a further audio stream after the first one fails the decode: the next link of a
    // chained file in another format, or a second track. Only one stream is converted, and
    // converting the first alone would lose the rest.
    std::string AnotherStreamReason(const GstCaps* parsed) const;
    uint64_t Frames() const { return frames_.load(); }

    // Watches the source that pushes the file. The decoder's end is not the file's: a chained
    // file's next link in another format appears as a new stream only after the first link
    // has ended, so a failure for it can come after the decoded audio ended.
    void WatchSource(GstPad* source_out);
    // Waits until the source's thread has stopped pushing, its end of stream handled by every
    // element after it, at most `timeout`; true when it has.
    bool WaitForSourceEnd(std::chrono::milliseconds timeout);

    // Counts what a FLAC parser takes in and what it passes on: it passes on every byte of a
    // healthy stream, and silently skips frames it cannot take (frames in another rate than the
    // stream's header says: a FLAC stream whose rate changes). The reason for a stream that lost
    // more than a cut last frame can explain; empty when it did not.
    void WatchParser(GstElement* parser);
    std::string SkippedReason() const;

private:
    static GstPadProbeReturn CountIn(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn CountOut(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    static GstPadProbeReturn OnData(GstPad* pad, GstPadProbeInfo* info, gpointer self);
    GstPadProbeReturn OnCaps(GstPad* pad, GstCaps* caps);
    GstPadProbeReturn OnBuffer(GstPad* pad, GstBuffer* buffer);
    void Fail(GstPad* pad, const std::string& reason);

    // The streaming thread's own.
    GstAudioInfo first_{};
    GstAudioInfo current_{};
    bool have_format_ = false;
    bool failed_ = false;
    bool rebase_ = true;  // the next timestamp starts a new run (the start, a new segment)
    GstClockTime next_ = GST_CLOCK_TIME_NONE;

    std::atomic<uint64_t> frames_{0};
    std::atomic<int> rate_{0};  // of the decoded audio, for other threads
    std::atomic<uint64_t> parser_in_{0};
    std::atomic<uint64_t> parser_out_{0};
    std::atomic<uint64_t> largest_frame_{0};
    std::atomic<bool> parser_watched_{false};
    GstPtr<GstPad> source_;
    mutable std::mutex codec_lock_;
    std::string codec_;
    int parsed_rate_ = 0;      // of the first parsed stream, where its caps tell
    int parsed_channels_ = 0;
};

// The name of a parsed audio stream's codec as users know it ("FLAC", "Vorbis", "AAC"); empty
// when the caps name none of the formats read here.
std::string CodecName(const GstCaps* parsed);

}  // namespace chm
