#pragma once
#include <gst/gst.h>

#include <string>

namespace chm {

// Posts an error whose text is a reason for the user, as it stands: "the FLAC stream is damaged
// at 0:01.20". Errors that GStreamer's own elements post are put in plain words by ReasonOf.
void PostFailure(GstElement* element, GstStreamError code, const std::string& reason);

// The reason that a message fails a graph, in plain words; empty for a message that does not.
// Every error fails a graph; of the warnings, those that say audio was lost on the way in (a
// decoder or demuxer that skipped what it could not read). `codec` names the stream ("FLAC"),
// or is empty.
std::string ReasonOf(GstMessage* message, const std::string& codec = {});

// The first message on the bus that fails the graph, taken off the bus; empty when there is
// none. Read at the end of a stream: an element that met an error still sends the end of the
// stream after posting it, and the end must not hide it.
std::string PendingFailure(GstBus* bus, const std::string& codec = {});

// The note for a source that decoded to less than its header promised: "source ends early:
// 0:00.03 of 0:02.00"; empty when it kept its promise. A lossy stream's promise holds within a
// few codec frames (priming, padding); a lossless one's to the frame, but for a length given in
// whole milliseconds.
std::string ShortfallNote(uint64_t frames, double promised_seconds, uint32_t rate, bool lossless);

// A time as the user reads it: "0:01.20", "12:03.05", "1:02:03.00" (hundredths cut, not rounded).
std::string ClockText(double seconds);

}  // namespace chm
