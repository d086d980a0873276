#include "engine/failure_reasons.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "audio/audio_format.h"
#include "audio/format_tags.h"
#include "audio/media_info.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "platform/unique_fd.h"
#include "wm/asf_probe.h"

namespace chm {
namespace {

// Below this the folder counts as full: no output of any length fits in it.
constexpr uint64_t kFullBelow = 1024 * 1024;

std::string SystemText(int error) { return std::strerror(error); }

// The channels that the file's headers promise, read without decoding; 0 when unknown.
int32_t ProbedChannels(const std::string& path, AudioFileType type) {
    switch (type) {
        case AudioFileType::Wav: {
            VeAudioFormat header;
            return ProbeWav(path, header) ? header.channels : 0;
        }
        case AudioFileType::Wma: {
            VeMediaInfo info;
            return ProbeWmaFile(info, path) ? info.channels : 0;
        }
        case AudioFileType::Mp3: {
            VeMediaInfo info;
            return ReadMp3MediaInfo(info, path) ? info.channels : 0;
        }
        case AudioFileType::Unsupported:
            return 0;
        default: {
            VeFormatMediaInfo info(type);
            return ProbeFormatFile(info, path) ? info.channels : 0;
        }
    }
}

}  // namespace

std::string TypeName(AudioFileType type) {
    const std::string name = AudioFileTypeName(type);
    return name.empty() ? "audio" : name;
}

std::string ChannelProblem(int32_t channels) {
    if (channels == 1 || channels == 2 || channels <= 0) return {};
    return "the file has " + std::to_string(channels) + " channels; only mono and stereo files are converted";
}

std::string InputProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? "the file does not exist"
                                                   : "the file cannot be read: " + SystemText(errno);
    if (S_ISDIR(st.st_mode)) return "this is a folder, not a file";
    if (!S_ISREG(st.st_mode)) return "this is not a regular file";
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) return "the file cannot be read: " + SystemText(errno);
    if (st.st_size == 0) return "the file is empty";
    return {};
}

std::string ReaderFailure(const std::string& path, AudioFileType type) {
    if (std::string problem = InputProblem(path); !problem.empty()) return problem;
    const int32_t channels = ProbedChannels(path, type);
    if (std::string problem = ChannelProblem(channels); !problem.empty()) return problem;
    if (channels == 0) return "the file is not a readable " + TypeName(type) + " file";
    return "the " + TypeName(type) + " file is damaged";
}

std::string WriterFailure(const std::string& folder) {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && uint64_t{fs.f_bavail} * fs.f_frsize < kFullBelow)
        return "the output folder is full";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "the output folder cannot be written: " + SystemText(errno);
    return "the output cannot be written";
}

}  // namespace chm
