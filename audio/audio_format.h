#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace chm {

// The format header of decoded or encoded audio: the WAVEFORMATEX fields, then the frame and
// byte counts of the data.
struct VeAudioFormat {
    static constexpr int16_t kPcmTag = 1;
    static constexpr int16_t kFloatTag = 3;
    static constexpr int16_t kExtensibleTag = static_cast<int16_t>(0xFFFE);
    static constexpr size_t kPcmBlockSize = 16;
    // The bytes of WAVEFORMATEXTENSIBLE after cbSize: valid bits, channel mask, sub-format GUID.
    static constexpr uint16_t kExtensibleExtraSize = 22;

    int16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint32_t avg_bytes_per_sec = 0;
    uint16_t block_align = 0;
    uint16_t bits_per_sample = 0;
    uint16_t extra_size = 0;
    // A copy of the extra format bytes; empty when there are none.
    std::vector<uint8_t> extra_bytes;
    uint32_t frames = 0;
    uint32_t data_bytes = 0;

    bool IsWellFormed() const;
    bool IsComplete() const;
    bool IsEmpty() const;
    // True when the extra bytes are held, as many as the extra size says.
    bool HasExtraBytes() const { return extra_size != 0 && extra_bytes.size() == extra_size; }

    // Parses the first 16 bytes of a "fmt " chunk (little-endian) after clearing the header;
    // false, header cleared, when fewer than 16 bytes are given.
    bool SetFromPcmBlock(std::span<const uint8_t> block);
    // Sets the extra size and a copy of the bytes.
    void SetExtraBytes(std::span<const uint8_t> bytes);
    void Clear();
};

}  // namespace chm
