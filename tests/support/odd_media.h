#pragma once
#include <string>

namespace chm::test::odd {

// Files with the odd structures that real files have, made by other writers than ours (sox,
// flac, oggenc, opusenc), each a few seconds of two tones. False when a writer failed.

// A FLAC file (the flac tool) with 2,000 bytes flipped a quarter of the way in.
bool DamagedMiddleFlac(const std::string& path);
// Two Ogg Vorbis files (oggenc) joined by cat: 2 s at 44.1 kHz, then 2 s at `second_rate`.
bool ChainedVorbis(const std::string& path, int second_rate);
// Two Opus files (opusenc) joined by cat: 2 s of stereo, then 2 s of mono.
bool ChainedOpusStereoThenMono(const std::string& path);
// A 2 s Opus file (opusenc) whose middle pages are gone: its last page still says 2 s.
bool OpusWithoutItsMiddle(const std::string& path);
// A FLAC file (the flac tool) of 2 s at 44.1 kHz followed by the frames of 4 s at 48 kHz.
bool FlacWhoseRateChanges(const std::string& path);
// A FLAC file (the flac tool) of 2 s cut inside one of its frames, at 55 % of its length.
bool FlacCutInsideAFrame(const std::string& path);

// A FLAC file (the flac tool) of 0.5 s at 44.1 kHz and `bits` bits per sample (4 to 32: 12, 15
// and 20 included), left a falling tone, right noise, every bit of the depth busy.
bool FlacOfDepth(const std::string& path, int bits);

}  // namespace chm::test::odd
