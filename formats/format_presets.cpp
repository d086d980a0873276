#include "formats/format_presets.h"

#include "formats/flac_codec.h"
#include "formats/float_aiff_writer.h"

namespace chm {
namespace {

// FLAC compression level 5 is the reference encoder's default; Vorbis quality 0.5 is
// libvorbis's q5; Opus needs 48 kHz; AAC-LC at 96 kbit/s, never above what the source had.
// libavcodec's ALAC encoder writes 16 or 24 bits (24 from 32-bit input): 8-bit sources go up to
// 16 bits, exactly.
// flacenc writes 8, 16 and 24 bits and flacparse takes no 32-bit frames: libFLAC reads and
// writes the others (12, 20, 32 and the rest) exactly.
// Budgets: the lossless writers are as fast as the WAV writer, the lossy encoders take most of
// the time, as LAME and the WMA encoder do.
constexpr ExactDepthCodec kNativeFlac{GstreamerCarriesFlacDepth, DecodeFlacToPcm, EncodeWavToFlac, false};
constexpr ExactDepthCodec kOggFlac{GstreamerCarriesFlacDepth, DecodeFlacToPcm, EncodeWavToFlac, true};

constexpr FormatPreset kPresets[] = {
    {AudioFileType::Flac, "FLAC", true, "flacenc", "quality=5", nullptr, {"S8", "S16LE", "S24LE", nullptr}, 0, 0,
     false, 0.6, 0, 1000, 100, 1500, nullptr, &kNativeFlac},
    {AudioFileType::OggFlac, "FLAC", true, "flacenc", "quality=5", "oggmux", {"S8", "S16LE", "S24LE", nullptr}, 0,
     0, false, 0.6, 0, 1000, 100, 1500, nullptr, &kOggFlac},
    {AudioFileType::Alac, "ALAC", true, "avenc_alac", nullptr, "mp4mux", {"S16LE", "S16LE", "S32LE", nullptr}, 0, 0,
     false, 0.6, 0, 1000, 100, 1500},
    {AudioFileType::Aiff, "AIFF", true, nullptr, nullptr, "aiffmux", {"S8", "S16BE", "S24BE", "S32BE"}, 0, 0, false,
     1.0, 0, 1000, 100, 1000, WriteFloatAiff},
    {AudioFileType::OggVorbis, "Ogg Vorbis", false, "vorbisenc", "quality=0.5", "oggmux", {}, 0, 0, false, 0,
     80000, 1000, 100, 3000},
    {AudioFileType::Opus, "Opus", false, "opusenc", "bitrate-type=vbr", "oggmux", {}, 48000, 64000,
     false, 0, 64000, 1000, 100, 3000},
    {AudioFileType::Aac, "AAC", false, "avenc_aac", nullptr, "mp4mux", {}, 0, 96000, true, 0, 96000, 1000, 100,
     3000},
};

}  // namespace

int WrittenDepth(const FormatPreset& preset, int bits) {
    if (!preset.lossless) return 0;
    int largest = 0;
    for (int i = 0; i < 4; ++i) {
        if (!preset.depth_formats[i]) continue;
        largest = 8 * (i + 1);
        if (bits <= largest) return largest;
    }
    return largest;
}

const FormatPreset* FindFormatPreset(AudioFileType type) {
    for (const FormatPreset& preset : kPresets)
        if (preset.type == type) return &preset;
    return nullptr;
}

}  // namespace chm
