#pragma once
#include <cstdint>
#include <string_view>

namespace chm {

// The type of an audio file. GetAudioFileType chooses it from the name alone, which decides what
// is listed and searched; what a listed file is converted as comes from its content (see
// formats/stream_content.h), which may also give the two types that no name stands for.
enum class AudioFileType : uint8_t {
    Mp3 = 0,
    Wav = 1,  // ".wav" and ".pcm": both must be RIFF WAVE files
    Wma = 2,
    Flac = 3,
    OggVorbis = 4,  // ".ogg", ".oga"
    Opus = 5,
    Aac = 6,        // AAC in MP4: ".m4a"
    Aiff = 7,       // ".aif", ".aiff"
    OggFlac = 8,    // FLAC in an Ogg container, by content only
    Alac = 9,       // Apple Lossless in MP4, by content only
    Unsupported = 255,
};

// The extension after the last "." of the file name (a dot in a folder name does not count),
// compared without regard to ASCII case.
AudioFileType GetAudioFileType(std::string_view name);

// How users name the files of a type: "MP3", "WAV", "Ogg", "AAC"; empty for Unsupported.
const char* AudioFileTypeName(AudioFileType type);

}  // namespace chm
