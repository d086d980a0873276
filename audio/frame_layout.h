#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "audio/audio_format.h"

namespace chm {

// How one sample of a PCM or IEEE float "data" chunk is stored. 8-bit samples are unsigned
// (128 is silence); wider integers are signed; all little-endian.
enum class SampleEncoding : uint8_t { kUnsigned8, kSigned16, kSigned24, kSigned32, kFloat32, kFloat64 };

uint16_t BytesPerSample(SampleEncoding encoding);
bool IsFloatEncoding(SampleEncoding encoding);

// The frames of a "data" chunk that the sample loops read and write: block_align bytes holding
// `channels` samples of one encoding, sample k of a channel in slot k x channels + index.
struct FrameLayout {
    SampleEncoding encoding = SampleEncoding::kSigned16;
    uint16_t channels = 0;
    uint16_t block_align = 0;
    // Integer samples written are rounded to this many high bits of their container and the
    // bits below are zero (a 24-bit extensible sample in a 32-bit container); the container's
    // width when all are valid.
    uint16_t valid_bits = 0;
};

// The layout of a header whose samples are read directly: one or two channels of tag 1 with 8,
// 16, 24 or 32 bits, tag 3 with 32 or 64 bits, or an extensible header whose sub-format is one
// of those with no more valid bits than its container. None for every other header (compressed
// formats go through the decoding graph).
std::optional<FrameLayout> FrameLayoutOf(const VeAudioFormat& header);

// The fields of WAVEFORMATEXTENSIBLE after cbSize, as the header's extra bytes hold them.
struct ExtensibleFields {
    uint16_t valid_bits = 0;
    uint32_t channel_mask = 0;
    std::array<uint8_t, 16> sub_format{};
};

// None unless the header is extensible and holds all of its extra bytes.
std::optional<ExtensibleFields> ExtensibleFieldsOf(const VeAudioFormat& header);
// The extra bytes of an extensible header with these fields.
std::array<uint8_t, 22> ExtensibleExtraBytes(const ExtensibleFields& fields);
// The KSDATAFORMAT_SUBTYPE GUID of a format tag ({tag}-0000-0010-8000-00AA00389B71).
std::array<uint8_t, 16> SubFormatOfTag(uint16_t tag);

// A canonical header for `frames` frames of `channels` channels stored with `encoding`: tag 1
// for integers, tag 3 for floats, block align and byte rate to match. An empty header when the
// sizes do not fit their fields.
VeAudioFormat MakeSampleFormat(SampleEncoding encoding, uint16_t channels, uint32_t sample_rate, uint32_t frames);

}  // namespace chm
