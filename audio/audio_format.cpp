#include "audio/audio_format.h"

namespace chm {
namespace {

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t ReadU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

bool VeAudioFormat::IsWellFormed() const {
    if (format_tag == 0 || channels == 0 || sample_rate == 0 || avg_bytes_per_sec == 0 || block_align == 0 ||
        bits_per_sample <= 1)
        return false;
    if (format_tag != kPcmTag) return true;
    // Unsigned products wide enough for any field values: a rate and block align whose product
    // wraps must not pass as consistent, and 16-bit fields promote to a signed int that overflows.
    return uint64_t{avg_bytes_per_sec} == uint64_t{sample_rate} * block_align &&
           block_align == uint32_t{channels} * bits_per_sample / 8 && extra_size == 0;
}

bool VeAudioFormat::IsComplete() const {
    return IsWellFormed() && (extra_size == 0 || HasExtraBytes()) && (frames != 0 || format_tag != kPcmTag) &&
           data_bytes != 0;
}

bool VeAudioFormat::IsEmpty() const {
    return format_tag == 0 && channels == 0 && sample_rate == 0 && avg_bytes_per_sec == 0 && block_align == 0 &&
           bits_per_sample == 0 && extra_size == 0 && extra_bytes.empty() && frames == 0 && data_bytes == 0;
}

bool VeAudioFormat::SetFromPcmBlock(std::span<const uint8_t> block) {
    Clear();
    if (block.size() < kPcmBlockSize) return false;
    const uint8_t* p = block.data();
    format_tag = static_cast<int16_t>(ReadU16(p));
    channels = ReadU16(p + 2);
    sample_rate = ReadU32(p + 4);
    avg_bytes_per_sec = ReadU32(p + 8);
    block_align = ReadU16(p + 12);
    bits_per_sample = ReadU16(p + 14);
    return true;
}

void VeAudioFormat::SetExtraBytes(std::span<const uint8_t> bytes) {
    // The size field is 16 bits wide: more bytes than it can count are not kept.
    const size_t n = bytes.size() < 0xFFFF ? bytes.size() : 0xFFFF;
    extra_bytes.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    extra_size = static_cast<uint16_t>(extra_bytes.size());
}

void VeAudioFormat::Clear() { *this = VeAudioFormat{}; }

}  // namespace chm
