#include "search/channel_count.h"

#include "audio/audio_file_type.h"
#include "audio/audio_format.h"
#include "audio/format_tags.h"
#include "audio/media_info.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "platform/file_system.h"
#include "wm/asf_probe.h"

namespace chm {
namespace {

uint32_t Mp3Channels(const std::string& path) {
    int32_t channels = 0;
    if (!QueryMp3Info(path, &channels, nullptr, nullptr, nullptr) || channels < 0) return 0;
    return static_cast<uint32_t>(channels);
}

uint32_t WavChannels(const std::string& path) {
    VeAudioFormat header;
    return ProbeWav(path, header) ? header.channels : 0;
}

uint32_t WmaChannels(const std::string& path) {
    VeWmaMediaInfo info;
    if (!ProbeWmaFile(info, path) || info.channels < 0) return 0;
    return static_cast<uint32_t>(info.channels);
}

// The other formats declare their channels in their stream headers, which TagLib reads
// without decoding (faster than GStreamer's discoverer, which builds a pipeline per file).
uint32_t FormatChannels(const std::string& path) {
    VeFormatMediaInfo info;
    if (!ProbeFormatFile(info, path) || info.channels < 0) return 0;
    return static_cast<uint32_t>(info.channels);
}

}  // namespace

uint32_t GetChannelCount(const std::string& path) {
    const AudioFileType type = GetAudioFileType(path);
    if (type == AudioFileType::Unsupported) return 0;
    // Not every reader opens without blocking: a named pipe under an audio name would hang the
    // search until some writer came, and a device could stream for ever. Only regular files
    // (links followed) are read at all.
    if (!IsRegularFile(path)) return 0;
    switch (type) {
        case AudioFileType::Mp3:
            return Mp3Channels(path);
        case AudioFileType::Wav:
            return WavChannels(path);
        case AudioFileType::Wma:
            return WmaChannels(path);
        case AudioFileType::Unsupported:
            break;
        default:
            return FormatChannels(path);
    }
    return 0;
}

bool IsMonoFile(const std::string& path) { return GetChannelCount(path) == 1; }

}  // namespace chm
