#include "tests/filter/wav_check.h"

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tests/support/test_files.h"

namespace chm::test {
namespace {

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

bool TagAt(const std::vector<uint8_t>& b, size_t at, const char* tag) {
    return b.size() >= at + 4 && std::memcmp(b.data() + at, tag, 4) == 0;
}

std::string Quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

WavLayout ReadWavLayout(const std::vector<uint8_t>& b) {
    WavLayout w;
    if (!TagAt(b, 0, "RIFF") || !TagAt(b, 8, "WAVE") || !TagAt(b, 12, "fmt ") || b.size() < 36) return w;
    w.riff_size = Le32(b, 4);
    w.fmt_size = Le32(b, 16);
    w.format_tag = Le16(b, 20);
    w.channels = Le16(b, 22);
    w.sample_rate = Le32(b, 24);
    w.bytes_per_second = Le32(b, 28);
    w.block_align = Le16(b, 32);
    w.bits_per_sample = Le16(b, 34);
    if (w.fmt_size >= 18) w.extra_size = Le16(b, 36);
    const size_t data_at = 20 + size_t{w.fmt_size};
    if (!TagAt(b, data_at, "data") || b.size() < data_at + 8) return w;
    w.data_size = Le32(b, data_at + 4);
    w.header_size = static_cast<uint32_t>(data_at + 8);
    w.valid = true;
    return w;
}

WavLayout ReadWavLayout(const std::string& path) { return ReadWavLayout(ReadFileBytes(path)); }

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> chunk;
    std::string text;
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

SoxInfo Soxi(const std::string& path) {
    SoxInfo info;
    std::string out;
    const std::string q = Quote(path);
    if (RunCommand("soxi -c " + q + " && soxi -r " + q + " && soxi -b " + q + " && soxi -s " + q +
                       " && soxi -e " + q + " 2>/dev/null",
                   &out) != 0)
        return info;
    std::istringstream lines(out);
    if (!(lines >> info.channels >> info.sample_rate >> info.bits >> info.samples)) return info;
    std::getline(lines >> std::ws, info.encoding);
    info.ok = true;
    return info;
}

std::map<std::string, std::string> FfprobeAudioStream(const std::string& path) {
    std::map<std::string, std::string> fields;
    std::string out;
    if (RunCommand("ffprobe -v error -select_streams a:0 -show_streams -count_packets " + Quote(path) +
                       " 2>/dev/null",
                   &out) != 0)
        return fields;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::vector<int16_t> ReadPcm16(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    const WavLayout w = ReadWavLayout(bytes);
    std::vector<int16_t> samples;
    if (!w.valid || w.bits_per_sample != 16) return samples;
    const size_t end = std::min(bytes.size(), size_t{w.header_size} + w.data_size);
    for (size_t at = w.header_size; at + 1 < end; at += 2)
        samples.push_back(static_cast<int16_t>(Le16(bytes, at)));
    return samples;
}

}  // namespace chm::test
