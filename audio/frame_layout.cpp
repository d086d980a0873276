#include "audio/frame_layout.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace chm {
namespace {

// The 12 bytes that every KSDATAFORMAT_SUBTYPE GUID of a WAVE format tag ends with.
constexpr std::array<uint8_t, 12> kSubFormatTail{0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                  0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The format tag a sub-format GUID stands for; 0 for any GUID that is not one of the family.
int16_t TagOfSubFormat(const std::array<uint8_t, 16>& guid) {
    if (!std::equal(kSubFormatTail.begin(), kSubFormatTail.end(), guid.begin() + 4)) return 0;
    if (guid[2] != 0 || guid[3] != 0) return 0;
    return static_cast<int16_t>(LoadU16(guid.data()));
}

std::optional<SampleEncoding> EncodingOf(int16_t tag, uint16_t bits) {
    if (tag == VeAudioFormat::kPcmTag) {
        switch (bits) {
            case 8: return SampleEncoding::kUnsigned8;
            case 16: return SampleEncoding::kSigned16;
            case 24: return SampleEncoding::kSigned24;
            case 32: return SampleEncoding::kSigned32;
            default: return {};
        }
    }
    if (tag == VeAudioFormat::kFloatTag) {
        if (bits == 32) return SampleEncoding::kFloat32;
        if (bits == 64) return SampleEncoding::kFloat64;
    }
    return {};
}

}  // namespace

uint16_t BytesPerSample(SampleEncoding encoding) {
    switch (encoding) {
        case SampleEncoding::kUnsigned8: return 1;
        case SampleEncoding::kSigned16: return 2;
        case SampleEncoding::kSigned24: return 3;
        case SampleEncoding::kSigned32: return 4;
        case SampleEncoding::kFloat32: return 4;
        case SampleEncoding::kFloat64: return 8;
    }
    return 0;
}

bool IsFloatEncoding(SampleEncoding encoding) {
    return encoding == SampleEncoding::kFloat32 || encoding == SampleEncoding::kFloat64;
}

std::optional<FrameLayout> FrameLayoutOf(const VeAudioFormat& header) {
    if (header.channels != 1 && header.channels != 2) return {};
    int16_t tag = header.format_tag;
    uint16_t valid_bits = header.bits_per_sample;
    if (tag == VeAudioFormat::kExtensibleTag) {
        const std::optional<ExtensibleFields> fields = ExtensibleFieldsOf(header);
        if (!fields || fields->valid_bits > header.bits_per_sample) return {};
        tag = TagOfSubFormat(fields->sub_format);
        // Writers that leave the valid bits at 0 mean the whole container.
        if (fields->valid_bits != 0) valid_bits = fields->valid_bits;
    }
    const std::optional<SampleEncoding> encoding = EncodingOf(tag, header.bits_per_sample);
    if (!encoding) return {};
    if (header.block_align != uint32_t{header.channels} * BytesPerSample(*encoding)) return {};
    // A float's bits are all significant whatever the header claims.
    if (IsFloatEncoding(*encoding)) valid_bits = header.bits_per_sample;
    return FrameLayout{*encoding, header.channels, header.block_align, valid_bits};
}

std::optional<ExtensibleFields> ExtensibleFieldsOf(const VeAudioFormat& header) {
    if (header.format_tag != VeAudioFormat::kExtensibleTag || header.extra_size < VeAudioFormat::kExtensibleExtraSize ||
        header.extra_bytes.size() < VeAudioFormat::kExtensibleExtraSize)
        return {};
    const uint8_t* p = header.extra_bytes.data();
    ExtensibleFields fields;
    fields.valid_bits = LoadU16(p);
    fields.channel_mask = LoadU32(p + 2);
    std::copy(p + 6, p + 22, fields.sub_format.begin());
    return fields;
}

std::array<uint8_t, 22> ExtensibleExtraBytes(const ExtensibleFields& fields) {
    std::array<uint8_t, 22> bytes{};
    bytes[0] = static_cast<uint8_t>(fields.valid_bits & 0xFF);
    bytes[1] = static_cast<uint8_t>(fields.valid_bits >> 8);
    for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<uint8_t>((fields.channel_mask >> (8 * i)) & 0xFF);
    std::copy(fields.sub_format.begin(), fields.sub_format.end(), bytes.begin() + 6);
    return bytes;
}

std::array<uint8_t, 16> SubFormatOfTag(uint16_t tag) {
    std::array<uint8_t, 16> guid{};
    guid[0] = static_cast<uint8_t>(tag & 0xFF);
    guid[1] = static_cast<uint8_t>(tag >> 8);
    std::copy(kSubFormatTail.begin(), kSubFormatTail.end(), guid.begin() + 4);
    return guid;
}

VeAudioFormat MakeSampleFormat(SampleEncoding encoding, uint16_t channels, uint32_t sample_rate, uint32_t frames) {
    VeAudioFormat format;
    const uint64_t block_align = uint64_t{channels} * BytesPerSample(encoding);
    if (block_align > UINT16_MAX || block_align * sample_rate > UINT32_MAX || block_align * frames > UINT32_MAX)
        return format;
    format.format_tag = IsFloatEncoding(encoding) ? VeAudioFormat::kFloatTag : VeAudioFormat::kPcmTag;
    format.channels = channels;
    format.sample_rate = sample_rate;
    format.bits_per_sample = static_cast<uint16_t>(BytesPerSample(encoding) * 8);
    format.block_align = static_cast<uint16_t>(channels * BytesPerSample(encoding));
    format.avg_bytes_per_sec = sample_rate * format.block_align;
    format.frames = frames;
    format.data_bytes = frames * format.block_align;
    return format;
}

}  // namespace chm
