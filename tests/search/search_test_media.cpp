#include "tests/search/search_test_media.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "tests/support/test_files.h"

namespace chm::test::search {
namespace {

void Put(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// Made once per program in a folder of its own, removed when the program ends.
ScratchDir& MediaFolder() {
    static ScratchDir folder;
    return folder;
}

std::vector<uint8_t> Encode(const std::string& codec, const std::string& extension, int channels) {
    const std::string path = MediaFolder().File("media" + std::to_string(channels) + "." + extension);
    // Different tones per channel, so that a stereo file is really two channels.
    const std::string source = channels == 1 ? "sine=frequency=440:duration=0.3"
                                             : "sine=frequency=440:duration=0.3[l];sine=frequency=660:duration=0.3[r];"
                                               "[l][r]amerge=inputs=2";
    const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -filter_complex '" + source +
                                "' -ac " + std::to_string(channels) + " -c:a " + codec + " -b:a 64k '" + path + "'";
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("ffmpeg could not make " + path);
    return ReadFileBytes(path);
}

const std::vector<uint8_t>& Cached(const std::string& codec, const std::string& extension, int channels) {
    static std::map<std::string, std::vector<uint8_t>> cache;
    const std::string key = extension + std::to_string(channels);
    auto found = cache.find(key);
    if (found == cache.end()) found = cache.emplace(key, Encode(codec, extension, channels)).first;
    return found->second;
}

}  // namespace

void WriteWav(const std::string& path, uint16_t channels, uint32_t frames, uint32_t rate) {
    const uint32_t block = 2u * channels;
    const uint32_t data = frames * block;
    std::vector<uint8_t> h(44 + data, 0);
    std::memcpy(&h[0], "RIFF", 4);
    Put(h, 4, 36 + data, 4);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put(h, 16, 16, 4);
    Put(h, 20, 1, 2);
    Put(h, 22, channels, 2);
    Put(h, 24, rate, 4);
    Put(h, 28, rate * block, 4);
    Put(h, 32, block, 2);
    Put(h, 34, 16, 2);
    std::memcpy(&h[36], "data", 4);
    Put(h, 40, data, 4);
    WriteFileBytes(path, h);
}

void WriteNotRiff(const std::string& path) { WriteTextFile(path, "This is no RIFF file, only text with a .wav name.\n"); }

const std::vector<uint8_t>& Mp3Bytes(int channels) { return Cached("libmp3lame", "mp3", channels); }
const std::vector<uint8_t>& WmaBytes(int channels) { return Cached("wmav2", "wma", channels); }

const std::vector<std::string>& FormatExtensions() {
    static const std::vector<std::string> extensions{"flac", "ogg", "oga", "opus", "m4a", "aif", "aiff"};
    return extensions;
}

void WriteFormatFile(const std::string& path, int channels) {
    static const std::map<std::string, std::pair<std::string, std::string>> codecs{
        {"flac", {"flac", "flac"}},        {"ogg", {"libvorbis", "ogg"}}, {"oga", {"libvorbis", "ogg"}},
        {"opus", {"libopus", "opus"}},     {"m4a", {"aac", "m4a"}},       {"aif", {"pcm_s16be", "aiff"}},
        {"aiff", {"pcm_s16be", "aiff"}},
    };
    const auto& [codec, extension] = codecs.at(path.substr(path.find_last_of('.') + 1));
    WriteFileBytes(path, Cached(codec, extension, channels));
}

void WriteMp3(const std::string& path, int channels) { WriteFileBytes(path, Mp3Bytes(channels)); }
void WriteWma(const std::string& path, int channels) { WriteFileBytes(path, WmaBytes(channels)); }

void MakeFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!std::filesystem::is_directory(path)) throw std::runtime_error("cannot make the folder " + path);
}

void MakeFifo(const std::string& path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("cannot make the pipe " + path);
}

void MakeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    if (!bound) throw std::runtime_error("cannot make the socket " + path);
}

void MakeSymlink(const std::string& target, const std::string& path) {
    if (::symlink(target.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot make the link " + path);
}

}  // namespace chm::test::search
