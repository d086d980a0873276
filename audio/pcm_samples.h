#pragma once
#include <cstdint>
#include <span>

#include "audio/frame_layout.h"

namespace chm {

class TaskProgress;
class VeByteStream;
class VeChannel;
class VeChannelSet;
struct VeAudioFormat;

// Sample conversions between PCM and the engine's float samples. Exact and without dither:
// every 8- and 16-bit value survives a conversion to float and back unchanged.
// s / 32768.
float Int16ToFloat(int16_t s);
// (b - 128) / 128: 8-bit samples are unsigned, 128 is silence.
float Uint8ToFloat(uint8_t b);
// floor(x * 32768 + 0.5), clamped to [-32768, 32767]: +1.0 is 32767, -1.0 is -32768. Rounding
// half up rather than truncating toward zero keeps negative samples where they were.
int16_t FloatToInt16(float x);
// trunc((x + 1) * 128 + 0.5), clamped to [0, 255].
uint8_t FloatToUint8(float x);

// The wider kinds. s / 2^23: exact.
float Int24ToFloat(int32_t s);
// s / 2^31 rounded to the nearest float: 24 bits of precision are kept.
float Int32ToFloat(int32_t s);
// As stored, bit for bit, except that NaN and infinity (no level at all) become 0.
float Float32ToFloat(float x);
// Rounded to the nearest float; NaN and infinity become 0, magnitudes beyond the float range
// the largest float.
float Float64ToFloat(double x);
// floor(x * 2^(bits - 1) + 0.5), clamped to [-2^(bits - 1), 2^(bits - 1) - 1], NaN giving 0:
// the 16-bit rule at any width from 2 to 32 bits, so that every value read survives.
int32_t FloatToIntBits(float x, int bits);

// The sample loops between an open stream of interleaved PCM frames and a set of float channels.
// The header gives the frame layout (FrameLayoutOf: PCM and IEEE float, one or two channels).
// ReadPcmSamples allocates the empty set for the header's frames and fills it page by page;
// frames the stream does not deliver stay silent. Any failure leaves the set empty.
bool ReadPcmSamples(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header,
                    TaskProgress* progress = nullptr);
// Writes every frame of a valid, plain set; the header, not the set, gives the interleaving and
// the bit depth.
bool WritePcmSamples(VeChannelSet& set, VeByteStream& stream, const VeAudioFormat& header,
                     TaskProgress* progress = nullptr);

// Channel level, for any frame layout: converts `frames` frames of `bytes` into page `page` of a
// plain channel, or page `page` into `buffer` (room for capacity_frames frames). Return the frames
// converted, 0 on failure. Float samples are written as they are, without clamping; integers by
// FloatToIntBits at their valid bits (8-bit: FloatToUint8).
uint32_t ImportSamples(VeChannel& channel, int64_t page, std::span<const uint8_t> bytes, const FrameLayout& layout,
                       uint32_t frames, uint16_t channel_index);
uint32_t ExportSamples(VeChannel& channel, int64_t page, std::span<uint8_t> buffer, const FrameLayout& layout,
                       uint32_t capacity_frames, uint16_t channel_index);

// The same for frames of 8- or 16-bit PCM told apart by their width: block_align bytes holding
// `channels` samples of 1 or 2 bytes each.
// Converts `frames` frames of `bytes` into page `page` of a plain channel; returns the frames
// converted, 0 on failure.
uint32_t ImportPcm(VeChannel& channel, int64_t page, std::span<const uint8_t> bytes, uint16_t block_align,
                   uint32_t frames, uint16_t channels, uint16_t channel_index);
// Converts page `page` of a plain channel into `buffer`, which holds capacity_frames frames;
// returns the page's length, 0 on failure.
uint32_t ExportPcm(VeChannel& channel, int64_t page, std::span<uint8_t> buffer, uint16_t block_align,
                   uint32_t capacity_frames, uint16_t channels, uint16_t channel_index);
// From first_frame on, fills slots channel_index, channel_index + channels, ... of `buffer` with
// 16-bit samples of a plain channel; returns min(buffer.size() / channels, length - first_frame),
// 0 on failure (a buffer size that is not a multiple of channels, first_frame not below the
// channel's length).
uint32_t ExportInt16(VeChannel& channel, std::span<int16_t> buffer, uint16_t channels, uint16_t channel_index,
                     uint32_t first_frame);

}  // namespace chm
