#pragma once
#include <string>

namespace chm {

class TaskProgress;
class VeAudioData;
class VeByteStream;
struct VeAudioFormat;

// RIFF WAVE files (".wav", ".pcm"). The reader takes 8- and 16-bit PCM with one or two channels
// directly; every other well-formed format (IEEE float, extensible, compressed) is first decoded
// into a temporary PCM file by the decoding graph. The writer writes a canonical 44-byte-header
// PCM file. Results are booleans; no error leaves these functions in any other way.

// The header only, through a plain file stream: the format of the first "fmt " chunk and the size
// of the "data" chunk. A file without a "data" chunk passes with whatever "fmt " gave.
bool ProbeWav(const std::string& path, VeAudioFormat& header);

// Reads the file into `data`, which is reset first. Leaves `data` valid, or empty on failure and
// for a file that has no "data" chunk. The source is only read, never written.
bool LoadWav(VeAudioData& data, const std::string& path, TaskProgress* progress = nullptr);

// The chunk walk over an open stream, with the samples of its "data" chunk.
bool ReadWavChunks(VeByteStream& stream, VeAudioData& data, TaskProgress* progress = nullptr);

// Writes `data` (a valid PCM header and its channels) to the path, replacing any file there. The
// file has exactly the length of its content; a failed or cancelled save removes it. `data` is not
// changed.
bool SaveWav(VeAudioData& data, const std::string& path, TaskProgress* progress = nullptr);

// The header and the samples of valid, plain audio from the start of an open stream.
bool WriteWav(VeByteStream& stream, VeAudioData& data, TaskProgress* progress = nullptr);

}  // namespace chm
