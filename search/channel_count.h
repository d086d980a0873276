#pragma once
#include <cstdint>
#include <string>

namespace chm {

// The channel count that a file's own header or stream format declares, or 0 on any failure
// (missing, damaged, not really of its type, not a regular file). The reader is chosen by
// GetAudioFileType; an unsupported name gives 0 without anything being opened. No audio is
// decoded: WAV is read to its header, WMA to its ASF header, MP3 through the decoder's
// information query (which scans the frame headers of the whole file).
uint32_t GetChannelCount(const std::string& path);

// True exactly when GetChannelCount gives 1.
bool IsMonoFile(const std::string& path);

}  // namespace chm
