#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_file_type.h"

namespace chm {

class PcmReceiver;
class TaskProgress;

// A codec's own library, for the depths that the GStreamer elements of its row do not carry.
struct ExactDepthCodec {
    bool (*carries)(int bits);  // by the GStreamer elements, both ways
    bool (*decode)(const std::string& path, bool ogg, PcmReceiver& receiver, TaskProgress* progress);
    bool (*encode)(const std::string& wav, const std::string& target, int bits, bool ogg, TaskProgress* progress);
    bool ogg;
};

// How one of the further formats (FLAC, FLAC in Ogg, Ogg Vorbis, Opus, AAC and ALAC in MP4,
// AIFF) is read and written: one row each, found by what the file holds. The encoding pipeline, the document and the conversion take
// everything format specific from here.
struct FormatPreset {
    AudioFileType type;
    const char* name;
    // Decoded and written at the source's own depth, sample for sample.
    bool lossless;
    // The encoder element and its settings as property=value pairs, or none (a PCM container).
    const char* encoder;
    const char* encoder_settings;
    // The muxer after the encoder, or none when the encoder's output is the file.
    const char* muxer;
    // The raw formats the encoder or muxer is given, by sample size: 8, 16, 24, 32 bits; none
    // for a depth the format cannot hold (the next larger one serves). Lossy encoders take
    // whatever audioconvert offers them.
    const char* depth_formats[4];
    // The only sample rate the format allows, 0 for the source's.
    uint32_t fixed_rate;
    // The encoder's target bit rate in bits per second (0 for lossless and quality-driven ones)
    // and whether a source coded at a lower rate lowers it.
    uint32_t bitrate;
    bool bitrate_at_most_source;
    // For following the encode: the output's expected size as a share of the mono 16-bit PCM
    // (lossless), or from the expected bit rate in bits per second (lossy).
    double pcm_share;
    uint32_t expected_bitrate;
    // The file's progress: reader, fold and writer steps.
    uint32_t reader_budget;
    uint32_t fold_budget;
    uint32_t writer_budget;
    // Writes a float source as floats where the muxer writes integers only; none where the
    // format has no float samples.
    bool (*float_writer)(const std::string& wav, const std::string& target, uint16_t bits,
                         TaskProgress* progress) = nullptr;
    // Reads and writes the depths the pipeline does not carry; none where it carries them all.
    const ExactDepthCodec* exact_depths = nullptr;
};

// The sample size a lossless row writes a source of `bits` at: its own, or the next larger one
// the row holds, or else the largest it has; 0 for a lossy row.
int WrittenDepth(const FormatPreset& preset, int bits);

// The row of a type; none for MP3, WAV, WMA and unsupported names.
const FormatPreset* FindFormatPreset(AudioFileType type);

}  // namespace chm
