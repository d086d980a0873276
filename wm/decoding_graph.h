#pragma once
#include <gst/gst.h>

#include <cstdint>
#include <span>
#include <string>

#include "audio/audio_file_type.h"
#include "audio/audio_format.h"
#include "engine/task_progress.h"

namespace chm {

// What the two waits return: the graph reported completion, the user cancelled, the wait failed.
inline constexpr int kGraphCompleted = 1;
inline constexpr int kGraphCancelled = 2;
inline constexpr int kGraphFailed = 3;

// The sample size of the decoded PCM: 16-bit (8-bit sources stay 8-bit), or the source's own
// 8, 16, 24 or 32 bits, for lossless sources whose depth must survive; Source24 for a lossless
// source of 17 to 24 bits whose decoder hands out 32 (ALAC), which must be held at 24; Float for
// a lossy decoder's samples as it makes them (32-bit float), above full scale included.
enum class PcmDepth { Sixteen, Source, Source24, Float };

// Decodes any supported audio file (by its extension) into a PCM WAV file of the given depth at
// `target`, through the Audio Tap. A failed or cancelled decode returns false and leaves no
// target file behind.
bool DecodeToWav(const std::string& source, const std::string& target, TaskProgress* progress,
                 PcmDepth depth = PcmDepth::Sixteen);
// The same for the time range [first, end) in milliseconds (given in either order; the end is
// clamped to the duration), without progress.
bool DecodeRangeToWav(const std::string& source, const std::string& target, uint32_t first_ms,
                      uint32_t end_ms);

// Takes the samples of a decode to memory, on the thread that called DecodeToPcm. Any false
// return ends the decode as failed.
class PcmReceiver {
public:
    virtual ~PcmReceiver() = default;
    // Once, before any sample: the stream's format (interleaved PCM, header fields only) and the
    // frames its duration promises (0 when the source does not tell).
    virtual bool Begin(const VeAudioFormat& format, uint64_t expected_frames) = 0;
    // The stream's bytes in order, in pieces of any size.
    virtual bool Receive(std::span<const uint8_t> bytes) = 0;
    // The stream ended completely.
    virtual bool End() = 0;
};

// Decodes as DecodeToWav does, but hands the samples to `receiver` instead of writing a file:
// the same graph up to the PCM it delivers. start_share of the progress covers building and
// starting the graph; the rest follows the frames received against the duration. A failed or
// cancelled decode returns false and does not call End. `as` is the file's type where its name
// does not tell (an output that has no name yet).
bool DecodeToPcm(const std::string& source, PcmReceiver& receiver, TaskProgress* progress, PcmDepth depth,
                 double start_share, AudioFileType as = AudioFileType::Unsupported);

// The 16-bit sample that GStreamer's audioconvert makes of a float one without dither: x * 2^31
// cut toward zero into 32 bits (saturated; NaN by its sign), then rounded half up to the high 16
// bits when `rounded`, else cut down to them. audioconvert rounds every channel of interleaved
// input but, from planar input, only the first: the others are cut.
int16_t ConvertedSample(float x, bool rounded);

// The header fields of a raw-audio connection as a WAVEFORMATEX: integer PCM or IEEE float, no
// extra bytes. False for caps that no such header describes.
bool FormatOfCaps(const GstCaps* caps, VeAudioFormat& format);

// The counterpart of pumping a waiting thread's window messages: a thread that runs its own
// main context keeps it serviced while it waits for a graph; the interface thread's context is
// never touched from here.
void DispatchThreadEvents();

// Runs a playing graph to its end: polls its bus every 100 ms and keeps the calling thread's
// own main context (if it has one) serviced in between. Returns a wait result; a failure's
// reason in plain words goes to `reason` when given (with `codec` naming the stream, if known).
int WaitForGraph(GstElement* graph, std::string* reason = nullptr, const std::string& codec = {});
// Runs a playing graph to its end while reporting progress from the size that `target` has
// reached against `expected` bytes, every 200 ms. A cancel ends the stream first, so that the
// files at its end are finished for what was delivered. Returns a wait result.
int WaitForGraphWithProgress(GstElement* graph, TaskProgress& progress, const std::string& target,
                             uint64_t expected, std::string* reason = nullptr, const std::string& codec = {});
// The graph's duration in seconds, and in 100-ns units through `duration` if given; 0 (with
// `duration` untouched) when the graph cannot tell.
double GraphDurationSeconds(GstElement* graph, int64_t* duration);

// Truncates an existing file to zero length; false if it cannot be opened for writing (it is
// never created).
bool TruncateExistingFile(const std::string& path);

}  // namespace chm
