#include "audio/audio_file_type.h"

#include <cstddef>

namespace chm {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

}  // namespace

AudioFileType GetAudioFileType(std::string_view name) {
    const size_t slash = name.find_last_of('/');
    const std::string_view file = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const size_t dot = file.find_last_of('.');
    if (dot == std::string_view::npos) return AudioFileType::Unsupported;
    const std::string_view extension = file.substr(dot + 1);
    if (EqualsIgnoringAsciiCase(extension, "mp3")) return AudioFileType::Mp3;
    if (EqualsIgnoringAsciiCase(extension, "wav") || EqualsIgnoringAsciiCase(extension, "pcm"))
        return AudioFileType::Wav;
    struct Extension {
        std::string_view text;
        AudioFileType type;
    };
    static constexpr Extension kOthers[] = {
        {"wma", AudioFileType::Wma},        {"flac", AudioFileType::Flac}, {"ogg", AudioFileType::OggVorbis},
        {"oga", AudioFileType::OggVorbis},  {"opus", AudioFileType::Opus}, {"m4a", AudioFileType::Aac},
        {"aif", AudioFileType::Aiff},       {"aiff", AudioFileType::Aiff},
    };
    for (const Extension& other : kOthers)
        if (EqualsIgnoringAsciiCase(extension, other.text)) return other.type;
    return AudioFileType::Unsupported;
}

const char* AudioFileTypeName(AudioFileType type) {
    switch (type) {
        case AudioFileType::Mp3:
            return "MP3";
        case AudioFileType::Wav:
            return "WAV";
        case AudioFileType::Wma:
            return "WMA";
        case AudioFileType::Flac:
            return "FLAC";
        case AudioFileType::OggVorbis:
            return "Ogg";
        case AudioFileType::Opus:
            return "Opus";
        case AudioFileType::Aac:
            return "AAC";
        case AudioFileType::Aiff:
            return "AIFF";
        case AudioFileType::OggFlac:
            return "FLAC";
        case AudioFileType::Alac:
            return "ALAC";
        default:
            return "";
    }
}

}  // namespace chm
