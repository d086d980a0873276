#pragma once
#include <cstdint>
#include <string>

namespace chm {

class PcmReceiver;
class TaskProgress;

// libFLAC itself, for the depths that GStreamer's FLAC elements cannot carry: flacenc writes 8,
// 16 and 24 bits only, and flacparse and flacdec take no 32-bit (or 15-bit) frames. Any depth
// libFLAC 1.4 knows (4 to 32 bits) is read and written exactly, native or in Ogg.

// Whether the GStreamer elements carry this depth both ways.
bool GstreamerCarriesFlacDepth(int bits);

// Decodes the FLAC stream (native or Ogg, as `ogg` says) into `receiver`: PCM in the container
// of the source's depth (8, 16, 24 or 32 bits, 8 unsigned), each sample in its high bits as
// flacdec gives them. A damaged stream (lost sync, a bad frame, an MD5 signature that does not
// match, fewer frames than promised) or a format that changes part-way fails with the reason on
// the progress.
bool DecodeFlacToPcm(const std::string& path, bool ogg, PcmReceiver& receiver, TaskProgress* progress);

// Encodes the integer PCM WAV file `wav` (as our own writer makes it) into `target` as FLAC of
// `bits` bits per sample, each sample taken from the high bits of its container, at compression
// level 5. An existing target is truncated. A failed or cancelled encode leaves no target.
bool EncodeWavToFlac(const std::string& wav, const std::string& target, int bits, bool ogg, TaskProgress* progress);

}  // namespace chm
