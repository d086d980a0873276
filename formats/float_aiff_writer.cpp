#include "formats/float_aiff_writer.h"

#include <fcntl.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/task_progress.h"
#include "formats/wav_data.h"
#include "platform/file_mapping.h"
#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace chm {
namespace {

constexpr size_t kBlockFrames = 65536;
constexpr uint32_t kAiffcVersion1 = 0xA2805140;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

void PutBe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The 80-bit extended float of AIFF's sample rate.
void PutExtended(std::vector<uint8_t>& out, uint32_t rate) {
    int exponent = 0;
    const double fraction = std::frexp(static_cast<double>(rate), &exponent);  // rate = fraction x 2^exponent
    PutBe(out, static_cast<uint64_t>(16382 + exponent), 2);
    PutBe(out, static_cast<uint64_t>(std::ldexp(fraction, 64)), 8);
}

std::vector<uint8_t> Header(const WavData& wav, uint16_t bits, uint64_t data_bytes) {
    // A Pascal string padded to an even length, as Apple's float files name their compression.
    const std::string name = bits == 64 ? "64-bit floating point" : "32-bit floating point";
    const size_t pstring = 1 + name.size() + ((1 + name.size()) & 1);
    const uint64_t comm = 18 + 4 + pstring;
    std::vector<uint8_t> out;
    out.insert(out.end(), {'F', 'O', 'R', 'M'});
    PutBe(out, 4 + (8 + 4) + (8 + comm) + (8 + 8 + data_bytes), 4);
    out.insert(out.end(), {'A', 'I', 'F', 'C', 'F', 'V', 'E', 'R'});
    PutBe(out, 4, 4);
    PutBe(out, kAiffcVersion1, 4);
    out.insert(out.end(), {'C', 'O', 'M', 'M'});
    PutBe(out, comm, 4);
    PutBe(out, wav.Channels(), 2);
    PutBe(out, wav.Frames(), 4);
    PutBe(out, bits, 2);
    PutExtended(out, wav.Rate());
    const char* type = bits == 64 ? "fl64" : "fl32";
    out.insert(out.end(), type, type + 4);
    out.push_back(static_cast<uint8_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    if (((1 + name.size()) & 1) != 0) out.push_back(0);
    out.insert(out.end(), {'S', 'S', 'N', 'D'});
    PutBe(out, 8 + data_bytes, 4);
    PutBe(out, 0, 8);  // offset and block size
    return out;
}

// Little-endian floats of `from` bits into big-endian ones of `to` bits.
void Convert(const uint8_t* in, size_t samples, uint16_t from, uint16_t to, std::vector<uint8_t>& out) {
    out.clear();
    for (size_t i = 0; i < samples; ++i) {
        double value;
        if (from == 64) {
            uint64_t raw = 0;
            for (int b = 7; b >= 0; --b) raw = raw << 8 | in[i * 8 + b];
            value = std::bit_cast<double>(raw);
        } else {
            value = std::bit_cast<float>(Le32(in + i * 4));
        }
        if (to == 64)
            PutBe(out, std::bit_cast<uint64_t>(value), 8);
        else
            PutBe(out, std::bit_cast<uint32_t>(static_cast<float>(value)), 4);
    }
}

bool WriteSteps(const std::string& wav_path, const std::string& target, uint16_t bits, TaskProgress* progress,
                std::string& reason) {
    WavData wav;
    if (!wav.Open(wav_path) || !wav.IsFloat()) return false;
    const uint64_t samples = wav.Frames() * wav.Channels();
    const UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    const std::vector<uint8_t> header = Header(wav, bits, samples * (bits / 8));
    uint64_t at = header.size();
    if (!out.IsValid() || !WriteFileAt(out.Get(), header.data(), header.size(), 0)) {
        reason = "the output cannot be written";
        return false;
    }
    std::vector<uint8_t> converted;
    uint64_t done = 0;
    for (std::span<const uint8_t> block; !(block = wav.Next(kBlockFrames)).empty();) {
        if (progress && progress->IsCancelled()) return false;
        const size_t n = block.size() / (wav.Bits() / 8);
        Convert(block.data(), n, wav.Bits(), bits, converted);
        if (!WriteFileAt(out.Get(), converted.data(), converted.size(), at)) {
            reason = "the output cannot be written";
            return false;
        }
        at += converted.size();
        done += n;
        if (progress) progress->SetPercent(static_cast<float>(done * 100.0 / samples));
    }
    return !wav.Failed() && done == samples;
}

}  // namespace

bool WriteFloatAiff(const std::string& wav, const std::string& target, uint16_t bits, TaskProgress* progress) {
    if (IsCancelled(progress) || (bits != 32 && bits != 64)) return FinishProgress(progress, false);
    std::string reason;
    const bool ok = WriteSteps(wav, target, bits, progress, reason);
    if (!ok && PathExists(target)) RemoveFile(target);
    return FinishProgress(progress, ok, reason);
}

}  // namespace chm
