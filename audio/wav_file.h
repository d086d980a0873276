#pragma once
#include <cstdint>
#include <string>

namespace chm {

class TaskProgress;
class VeAudioData;
class VeByteStream;
struct VeAudioFormat;

// RIFF WAVE files (".wav", ".pcm"). The reader takes one or two channels of 8-, 16-, 24- and
// 32-bit PCM and 32- and 64-bit IEEE float directly, with tag 1, tag 3 or an extensible header of
// those sub-formats; every other well-formed format (compressed ones) is first decoded into a
// temporary 16-bit PCM file by the decoding graph. The writer keeps the depth and kind: tag 1 for
// 8-, 16- and 24-bit PCM, the source's own tag for 32-bit PCM and for floats, with a canonical
// header. Results are booleans; no error leaves these functions in any other way.

// The header only, through a plain file stream: the format of the first "fmt " chunk and the size
// of the "data" chunk. A file without a "data" chunk passes with whatever "fmt " gave.
bool ProbeWav(const std::string& path, VeAudioFormat& header);

// Reads the file into `data`, which is reset first. Leaves `data` valid, or empty on failure and
// for a file that has no "data" chunk. The source is only read, never written.
bool LoadWav(VeAudioData& data, const std::string& path, TaskProgress* progress = nullptr);

// The chunk walk over an open stream, with the samples of its "data" chunk.
bool ReadWavChunks(VeByteStream& stream, VeAudioData& data, TaskProgress* progress = nullptr);

// Writes `data` (a valid header of a kind the reader takes, and its channels) to the path,
// replacing any file there. The file has exactly the length of its content; a failed or cancelled save removes it. `data` is not
// changed.
bool SaveWav(VeAudioData& data, const std::string& path, TaskProgress* progress = nullptr);

// The header and the samples of valid, plain audio from the start of an open stream.
bool WriteWav(VeByteStream& stream, VeAudioData& data, TaskProgress* progress = nullptr);

// The length of the file WriteWav makes of `data`; 0 for audio it cannot write.
uint64_t WavFileSize(const VeAudioData& data);

}  // namespace chm
