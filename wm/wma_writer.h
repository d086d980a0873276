#pragma once
#include <string>

namespace chm {

class TaskProgress;

// Encodes an audio file (normally a PCM WAV file; MP3 and WMA sources are decoded first) into a
// Windows Media Audio file at `target`, with the codec format of the same channels and sample
// rate at the highest bit rate the codec offers: filesrc ! wavparse ! audioconvert !
// avenc_wmav2 ! avmux_asf ! filesink. An existing target is truncated first. Progress: 30 % for
// building the graph, the rest follows the growing target against its expected size. A failed
// or cancelled encode returns false and leaves no target file behind.
bool EncodeWavToWma(const std::string& source, const std::string& target, TaskProgress* progress);

}  // namespace chm
