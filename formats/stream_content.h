#pragma once
#include <string>

#include "audio/audio_file_type.h"

namespace chm {

// What a file holds, whatever its name says: the type it is decoded and written as, or
// Unsupported with the reason in plain words ("the file holds no audio", "Speex audio is not
// converted").
struct StreamContent {
    AudioFileType type = AudioFileType::Unsupported;
    std::string reason;
};

// Looks at the container and the codec of the file's first audio stream, as the decoding graph
// would find them, without decoding: FLAC in Ogg is OggFlac, ALAC in MP4 is Alac, Opus in a
// ".ogg" file is Opus, a RIFF file is WAV and an ASF file WMA under any name.
StreamContent ProbeStreamContent(const std::string& path);

}  // namespace chm
