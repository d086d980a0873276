#pragma once
#include <gst/audio/audio.h>
#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

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
    // Why a further audio stream after the first one fails the decode: the next link of a
    // chained file in another format, or a second track. Only one stream is converted, and
    // converting the first alone would lose the rest.
    std::string AnotherStreamReason(const GstCaps* parsed) const;
    uint64_t Frames() const { return frames_.load(); }

    // Watches the source's output for its end of stream. The decoder's end is not the file's:
    // a chained file's next link in another format appears as a new stream only after the
    // first link has ended, so a failure for it can come after the decoded audio ended.
    void WatchSource(GstPad* source_out);
    // Waits until the source has sent its end on, at most `timeout`; true when it has.
    bool WaitForSourceEnd(std::chrono::milliseconds timeout);

private:
    static GstPadProbeReturn OnSourceEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);
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
    std::mutex source_lock_;
    std::condition_variable source_ended_signal_;
    bool source_ended_ = false;
    mutable std::mutex codec_lock_;
    std::string codec_;
    int parsed_rate_ = 0;      // of the first parsed stream, where its caps tell
    int parsed_channels_ = 0;
};

// The name of a parsed audio stream's codec as users know it ("FLAC", "Vorbis", "AAC"); empty
// when the caps name none of the formats read here.
std::string CodecName(const GstCaps* parsed);

}  // namespace chm
