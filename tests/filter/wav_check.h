#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace chm::test {

// The fields of a WAV file laid out as "RIFF" size "WAVE" "fmt " F <format block> "data" size,
// read byte by byte; `valid` is false when the chunk names are not where that layout puts them.
struct WavLayout {
    bool valid = false;
    uint32_t riff_size = 0;
    uint32_t fmt_size = 0;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t bytes_per_second = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint16_t extra_size = 0;
    uint32_t data_size = 0;
    uint32_t header_size = 0;  // where the samples begin
};
WavLayout ReadWavLayout(const std::vector<uint8_t>& bytes);
WavLayout ReadWavLayout(const std::string& path);

// Runs a shell command; its standard output goes to `output`. Returns the exit status.
int RunCommand(const std::string& command, std::string* output = nullptr);

// What sox's soxi reports of a file, as an outside reference.
struct SoxInfo {
    bool ok = false;
    int channels = 0;
    int sample_rate = 0;
    int bits = 0;
    int64_t samples = 0;
    std::string encoding;
};
SoxInfo Soxi(const std::string& path);

// The key=value lines ffprobe prints for the first audio stream; empty when it cannot read it.
std::map<std::string, std::string> FfprobeAudioStream(const std::string& path);

// The samples of a 16-bit PCM file made by these programs (data after the header).
std::vector<int16_t> ReadPcm16(const std::string& path);

}  // namespace chm::test
