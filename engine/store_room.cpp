#include "engine/store_room.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <map>

#include "audio/audio_file_type.h"
#include "audio/format_tags.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "platform/temp_files.h"
#include "wm/asf_probe.h"

namespace chm {
namespace {

constexpr uint64_t kStoreBytesPerSample = 4;  // a float per sample of each channel
constexpr uint64_t kMonoWavBytesPerFrame = 4;  // the encoders' input, at most 32 bits

uint64_t BytesOfFrames(uint64_t frames, uint64_t channels) {
    return frames * (channels * kStoreBytesPerSample + kMonoWavBytesPerFrame);
}

uint64_t BytesOf(double seconds, uint64_t rate, uint64_t channels) {
    if (!(seconds > 0) || rate == 0 || channels == 0) return 0;
    return BytesOfFrames(static_cast<uint64_t>(seconds * static_cast<double>(rate)), channels);
}

}  // namespace

uint64_t TemporaryBytesFor(const std::string& path) {
    // By its name: the headers of a file named for another type tell nothing, and it is left
    // out of the estimate rather than the media framework started for it.
    const AudioFileType type = GetAudioFileType(path);
    switch (type) {
        case AudioFileType::Unsupported:
            return 0;
        case AudioFileType::Wav: {
            VeAudioFormat header;
            if (!ProbeWav(path, header) || header.sample_rate == 0) return 0;
            return BytesOfFrames(header.frames, header.channels);
        }
        case AudioFileType::Mp3: {
            VeMediaInfo info;
            if (!ReadMp3MediaInfo(info, path)) return 0;
            return BytesOf(info.duration, static_cast<uint64_t>(info.sample_rate), static_cast<uint64_t>(info.channels));
        }
        case AudioFileType::Wma: {
            VeMediaInfo info;
            if (!ProbeWmaFile(info, path)) return 0;
            return BytesOf(info.duration, static_cast<uint64_t>(info.sample_rate), static_cast<uint64_t>(info.channels));
        }
        default: {
            VeFormatMediaInfo info;
            if (!ProbeFormatFile(info, path, type)) return 0;
            return BytesOf(info.duration, static_cast<uint64_t>(info.sample_rate), static_cast<uint64_t>(info.channels));
        }
    }
}

uint64_t TemporaryFolderFreeBytes() {
    struct statvfs folder {};
    const std::string path = TempDirectoryPath();
    if (path.empty() || ::statvfs(path.c_str(), &folder) != 0) return 0;
    return uint64_t{folder.f_bavail} * folder.f_frsize;
}

int JobsThatFit(int processors, uint64_t largest_bytes, uint64_t free_bytes) {
    if (processors < 1) return 1;
    if (free_bytes == 0 || largest_bytes == 0) return processors;
    return static_cast<int>(std::clamp<uint64_t>(free_bytes / largest_bytes, 1, static_cast<uint64_t>(processors)));
}

uint64_t LargestTemporaryBytes(const std::vector<std::string>& files) {
    // The largest file of each type by its name.
    std::map<AudioFileType, std::pair<uint64_t, const std::string*>> largest;
    for (const std::string& file : files) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        auto& [size, path] = largest[GetAudioFileType(file)];
        if (!path || static_cast<uint64_t>(st.st_size) > size) {
            size = static_cast<uint64_t>(st.st_size);
            path = &file;
        }
    }
    uint64_t bytes = 0;
    for (const auto& [type, entry] : largest) bytes = std::max(bytes, TemporaryBytesFor(*entry.second));
    return bytes;
}

}  // namespace chm
