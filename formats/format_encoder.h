#pragma once
#include <cstdint>
#include <string>

namespace chm {

class TaskProgress;
struct FormatPreset;

// What the encode of one file needs to know of its audio.
struct FormatEncodeSettings {
    uint16_t bits = 16;       // sample size of the source WAV, kept by lossless formats
    uint32_t sample_rate = 0;
    double duration = 0.0;    // seconds, for following the encode
    uint64_t frames = 0;      // of the source WAV: every one of them must reach the encoder
    uint32_t bitrate = 0;     // bits per second; 0 for the preset's own
};

// Encodes a PCM WAV file into `target` in the preset's format, through one pipeline for every
// format: filesrc ! wavparse ! audioconvert ! audioresample ! capsfilter ! queue ! encoder !
// muxer ! filesink (the parts a preset lacks are left out). An existing target is truncated
// first. Progress: 30 % for building the pipeline, the rest follows the growing target against
// its expected size. A failed or cancelled encode returns false and leaves no target behind.
bool EncodeWavToFormat(const FormatPreset& preset, const std::string& source, const std::string& target,
                       const FormatEncodeSettings& settings, TaskProgress* progress);

}  // namespace chm
