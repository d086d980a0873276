// Test media for the MP3 tests, made with ffmpeg and the lame command line from formulas, and
// an MPEG audio frame walker of the tests' own that checks encoder output independently of the
// decoder under test.
#pragma once
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace chm::test::mp3 {

// Several partials with slow amplitude changes, different in the two channels: content that a
// VBR encoder treats like music, unlike a lone sine.
inline const char* kMusicLeft =
    "0.25*sin(2*PI*220*t)+0.15*sin(2*PI*440*t)*(0.6+0.4*sin(2*PI*0.7*t))+0.1*sin(2*PI*660*t)"
    "+0.08*sin(2*PI*1320*t)*sin(2*PI*3*t)+0.05*sin(2*PI*3520*t)+0.03*sin(2*PI*7040*t)*sin(2*PI*5*t)";
inline const char* kMusicRight =
    "0.25*sin(2*PI*293.66*t)+0.15*sin(2*PI*587.33*t)+0.1*sin(2*PI*880*t)*(0.5+0.5*sin(2*PI*0.4*t))"
    "+0.06*sin(2*PI*2637*t)+0.04*sin(2*PI*5274*t)*sin(2*PI*2*t)+0.02*sin(2*PI*9000*t)";

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command; true when it exits with 0.
inline bool Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline std::string Ffmpeg() { return "ffmpeg -hide_banner -loglevel error -nostdin -y "; }

// A 16-bit PCM WAV file from per-channel formulas in t (one channel when right is empty).
inline bool MakeWav(const std::string& path, const std::string& left, const std::string& right, int rate,
                    double seconds) {
    const std::string expression = right.empty() ? left : left + "|" + right;
    return Run(Ffmpeg() + "-f lavfi -i " +
               Quoted("aevalsrc=" + expression + ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds)) +
               " -c:a pcm_s16le " + Quoted(path));
}

inline bool MakeMusicWav(const std::string& path, int rate, double seconds) {
    return MakeWav(path, kMusicLeft, kMusicRight, rate, seconds);
}

// The lame command line: `options` as lame takes them.
inline bool Lame(const std::string& wav, const std::string& mp3, const std::string& options) {
    return Run("lame --quiet " + options + " " + Quoted(wav) + " " + Quoted(mp3));
}

// Decoded by ffmpeg to 32-bit float samples, interleaved, channels as the file has them.
inline std::vector<float> DecodeWithFfmpeg(const std::string& path, const std::string& raw_path) {
    if (!Run(Ffmpeg() + "-i " + Quoted(path) + " -f f32le -c:a pcm_f32le " + Quoted(raw_path))) return {};
    const std::vector<uint8_t> bytes = ReadFileBytes(raw_path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// One ffprobe field of the first audio stream ("codec_name", "channels", ...), or of the
// container with "format=".
inline std::string Probe(const std::string& path, const std::string& entry, const std::string& section = "stream",
                         const std::string& raw_path = {}) {
    const std::string out = raw_path.empty() ? path + ".probe" : raw_path;
    const std::string selector = section == "stream" ? " -select_streams a:0" : "";
    if (!Run("ffprobe -v error" + selector + " -show_entries " + section + "=" + entry +
             " -of default=noprint_wrappers=1:nokey=1 " + Quoted(path) + " > " + Quoted(out)))
        return {};
    std::string text = ReadTextFile(out);
    std::remove(out.c_str());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

inline std::string ProbeTag(const std::string& path, const std::string& tag) {
    return Probe(path, tag, "format_tags");
}

// One MPEG audio frame as its header describes it.
struct Frame {
    size_t offset = 0;
    size_t size = 0;
    int version = 0;  // 1, 2, or 25 for MPEG 2.5
    int layer = 0;
    int kbps = 0;
    int rate = 0;
    int channels = 0;
};

inline size_t Id3v2Size(const std::vector<uint8_t>& d) {
    if (d.size() < 10 || d[0] != 'I' || d[1] != 'D' || d[2] != '3') return 0;
    const size_t size = (size_t{d[6] & 0x7Fu} << 21) | (size_t{d[7] & 0x7Fu} << 14) | (size_t{d[8] & 0x7Fu} << 7) |
                        size_t{d[9] & 0x7Fu};
    return 10 + size + ((d[5] & 0x10) ? 10 : 0);
}

// Layer III only, which is all these tests make; stops at the first byte that is no frame start.
inline bool ParseFrame(const std::vector<uint8_t>& d, size_t at, Frame& f) {
    if (at + 4 > d.size() || d[at] != 0xFF || (d[at + 1] & 0xE0) != 0xE0) return false;
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    static const int kKbps1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kKbps2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    const int version_bits = (d[at + 1] >> 3) & 3;
    const int layer_bits = (d[at + 1] >> 1) & 3;
    const int rate_index = (d[at + 2] >> 2) & 3;
    const int kbps_index = d[at + 2] >> 4;
    if (version_bits == 1 || layer_bits != 1 || rate_index == 3 || kbps_index == 0 || kbps_index == 15) return false;
    f.offset = at;
    f.version = version_bits == 3 ? 1 : version_bits == 2 ? 2 : 25;
    f.layer = 3;
    f.rate = kRates[f.version == 1 ? 0 : f.version == 2 ? 1 : 2][rate_index];
    f.kbps = (f.version == 1 ? kKbps1 : kKbps2)[kbps_index];
    f.channels = ((d[at + 3] >> 6) == 3) ? 1 : 2;
    const int padding = (d[at + 2] >> 1) & 1;
    const int coefficient = f.version == 1 ? 144 : 72;
    f.size = static_cast<size_t>(coefficient * f.kbps * 1000 / f.rate + padding);
    return f.size > 4;
}

inline std::vector<Frame> Frames(const std::vector<uint8_t>& d) {
    std::vector<Frame> frames;
    size_t at = Id3v2Size(d);
    Frame f;
    while (ParseFrame(d, at, f)) {
        frames.push_back(f);
        at += f.size;
    }
    return frames;
}

inline bool FrameContains(const std::vector<uint8_t>& d, const Frame& f, const char* text) {
    const size_t n = std::strlen(text);
    for (size_t i = f.offset; i + n <= f.offset + f.size && i + n <= d.size(); ++i)
        if (std::memcmp(&d[i], text, n) == 0) return true;
    return false;
}

// The Xing ("Xing" for VBR, "Info" for CBR) header frame that LAME puts first.
inline bool IsTagFrame(const std::vector<uint8_t>& d, const Frame& f) {
    return FrameContains(d, f, "Xing") || FrameContains(d, f, "Info");
}

// The 16-bit samples of a canonical 44-byte-header WAV file.
inline std::vector<int16_t> WavSamples(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 44) return {};
    std::vector<int16_t> samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

inline uint16_t U16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Pearson correlation of a[i] and b[i + lag] over their overlap.
inline double Correlation(const std::vector<float>& a, const std::vector<float>& b, long lag) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    long n = 0;
    for (long i = 0; i < static_cast<long>(a.size()); ++i) {
        const long j = i + lag;
        if (j < 0 || j >= static_cast<long>(b.size())) continue;
        sa += a[i];
        sb += b[j];
        saa += double{a[i]} * a[i];
        sbb += double{b[j]} * b[j];
        sab += double{a[i]} * b[j];
        ++n;
    }
    if (n == 0) return 0.0;
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n;
    const double vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0.0;
}

// The best correlation over lags in [-max_lag, max_lag], stepping coarsely then finely.
inline double BestCorrelation(const std::vector<float>& a, const std::vector<float>& b, long max_lag) {
    double best = -1.0;
    long best_lag = 0;
    for (long lag = -max_lag; lag <= max_lag; lag += 16) {
        const double c = Correlation(a, b, lag);
        if (c > best) best = c, best_lag = lag;
    }
    for (long lag = best_lag - 16; lag <= best_lag + 16; ++lag) best = std::max(best, Correlation(a, b, lag));
    return best;
}

}  // namespace chm::test::mp3
