#include "tests/support/odd_media.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace chm::test::odd {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }
bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Two tones, one per channel, by sox.
bool Tones(const std::string& wav, int rate, int channels, double seconds) {
    return Run("sox -q -n -r " + std::to_string(rate) + " -b 16 -c " + std::to_string(channels) + " " + Quoted(wav) +
               " synth " + std::to_string(seconds) + " sine 440 sine 660 vol 0.5");
}

bool Flac(const std::string& path, int rate, double seconds) {
    const std::string wav = path + ".wav";
    const bool ok = Tones(wav, rate, 2, seconds) && Run("flac -s -f -o " + Quoted(path) + " " + Quoted(wav));
    std::filesystem::remove(wav);
    return ok;
}

bool Encoded(const std::string& tool, const std::string& path, int rate, int channels, double seconds) {
    const std::string wav = path + ".wav";
    const bool ok = Tones(wav, rate, channels, seconds) &&
                    Run(tool == "oggenc" ? "oggenc -Q -o " + Quoted(path) + " " + Quoted(wav)
                                         : "opusenc --quiet " + Quoted(wav) + " " + Quoted(path));
    std::filesystem::remove(wav);
    return ok;
}

bool Joined(const std::string& path, const std::string& first, const std::string& second) {
    Bytes bytes = Read(first);
    const Bytes rest = Read(second);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    std::filesystem::remove(first);
    std::filesystem::remove(second);
    return !rest.empty() && Write(path, bytes);
}

// Where a FLAC file's frames start: after "fLaC" and its metadata blocks.
size_t FlacFramesStart(const Bytes& d) {
    size_t at = 4;
    while (at + 4 <= d.size()) {
        const bool last = (d[at] & 0x80) != 0;
        at += 4 + ((size_t{d[at + 1]} << 16) | (size_t{d[at + 2]} << 8) | d[at + 3]);
        if (last) return at;
    }
    return d.size();
}

// The Ogg pages of a file, each with its bytes.
std::vector<Bytes> OggPages(const Bytes& d) {
    std::vector<Bytes> pages;
    size_t at = 0;
    while (at + 27 <= d.size() && d[at] == 'O' && d[at + 1] == 'g' && d[at + 2] == 'g' && d[at + 3] == 'S') {
        const size_t segments = d[at + 26];
        size_t size = 27 + segments;
        for (size_t i = 0; i < segments && at + 27 + i < d.size(); ++i) size += d[at + 27 + i];
        pages.emplace_back(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(std::min(at + size, d.size())));
        at += size;
    }
    return pages;
}

}  // namespace

bool DamagedMiddleFlac(const std::string& path) {
    if (!Flac(path, 44100, 2.0)) return false;
    Bytes bytes = Read(path);
    for (size_t i = bytes.size() / 4; i < bytes.size() / 4 + 2000 && i < bytes.size(); ++i) bytes[i] ^= 0x5A;
    return Write(path, bytes);
}

bool ChainedVorbis(const std::string& path, int second_rate) {
    return Encoded("oggenc", path + ".1", 44100, 2, 2.0) && Encoded("oggenc", path + ".2", second_rate, 2, 2.0) &&
           Joined(path, path + ".1", path + ".2");
}

bool ChainedOpusStereoThenMono(const std::string& path) {
    return Encoded("opusenc", path + ".1", 48000, 2, 2.0) && Encoded("opusenc", path + ".2", 48000, 1, 2.0) &&
           Joined(path, path + ".1", path + ".2");
}

bool OpusWithoutItsMiddle(const std::string& path) {
    if (!Encoded("opusenc", path, 48000, 2, 2.0)) return false;
    const std::vector<Bytes> pages = OggPages(Read(path));
    if (pages.size() < 5) return false;
    // The two header pages and the first page of audio, then the last page.
    Bytes kept;
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}, pages.size() - 1}) kept.insert(kept.end(), pages[i].begin(), pages[i].end());
    return Write(path, kept);
}

bool FlacWhoseRateChanges(const std::string& path) {
    if (!Flac(path, 44100, 2.0) || !Flac(path + ".48k", 48000, 4.0)) return false;
    Bytes bytes = Read(path);
    const Bytes other = Read(path + ".48k");
    std::filesystem::remove(path + ".48k");
    bytes.insert(bytes.end(), other.begin() + static_cast<long>(FlacFramesStart(other)), other.end());
    return Write(path, bytes);
}

bool FlacCutInsideAFrame(const std::string& path) {
    if (!Flac(path, 44100, 2.0)) return false;
    Bytes bytes = Read(path);
    bytes.resize(bytes.size() * 55 / 100);
    return Write(path, bytes);
}

namespace {

void PutLe(Bytes& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A stereo WAVE_FORMAT_EXTENSIBLE file whose valid bits say the depth: what the flac tool
// reads a depth of 12 or 20 bits from. sox and ffmpeg write none.
Bytes ExtensibleWav(int bits, uint32_t frames) {
    const int container = bits <= 8 ? 8 : bits <= 16 ? 16 : bits <= 24 ? 24 : 32;
    const int bytes = container / 8;
    Bytes data;
    uint64_t noise = 0x9E3779B97F4A7C15ull;
    const double top = static_cast<double>((int64_t{1} << (bits - 1)) - 1);
    for (uint32_t i = 0; i < frames; ++i) {
        const double phase = 2 * 3.14159265358979 * (900.0 - 600.0 * i / frames) * i / 44100.0;
        noise = noise * 6364136223846793005ull + 1442695040888963407ull;
        const double right = (static_cast<double>(noise >> 11) / 9007199254740992.0 - 0.5) * 1.2;
        for (const double x : {0.6 * std::sin(phase), right}) {
            const auto value = static_cast<int64_t>(std::lround(x * top)) << (container - bits);
            PutLe(data, container == 8 ? static_cast<uint64_t>(value + 128) : static_cast<uint64_t>(value), bytes);
        }
    }
    Bytes out = {'R', 'I', 'F', 'F'};
    PutLe(out, 4 + 8 + 40 + 8 + data.size(), 4);
    for (const char c : std::string("WAVEfmt ")) out.push_back(static_cast<uint8_t>(c));
    PutLe(out, 40, 4);
    PutLe(out, 0xFFFE, 2);
    PutLe(out, 2, 2);
    PutLe(out, 44100, 4);
    PutLe(out, 44100u * 2 * bytes, 4);
    PutLe(out, 2 * bytes, 2);
    PutLe(out, container, 2);
    PutLe(out, 22, 2);
    PutLe(out, bits, 2);
    PutLe(out, 3, 4);  // front left and right
    for (const uint8_t b : {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        out.push_back(b);
    for (const char c : std::string("data")) out.push_back(static_cast<uint8_t>(c));
    PutLe(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

}  // namespace

bool FlacOfDepth(const std::string& path, int bits) {
    const std::string wav = path + ".wav";
    // Depths outside FLAC's subset (15 bits) need --lax.
    const bool ok = Write(wav, ExtensibleWav(bits, 22050)) && Run("flac -s -f --lax -o " + Quoted(path) + " " + Quoted(wav));
    std::filesystem::remove(wav);
    return ok;
}

}  // namespace chm::test::odd
