#include "wm/format_document.h"

#include <memory>

#include "wm/format_encoder.h"
#include "wm/format_presets.h"

namespace chm {

VeFormatDocument::VeFormatDocument(const FormatPreset& preset)
    : VeGraphDocument(std::make_unique<VeFormatMediaInfo>(preset.type)), preset_(preset) {}

void VeFormatDocument::ReadSource(const std::string& path) {
    tags_.Read(path);
    MediaInfo().Reset();
    ProbeFormatFile(static_cast<VeFormatMediaInfo&>(MediaInfo()), path);
}

PcmDepth VeFormatDocument::DecodeDepth() const { return preset_.lossless ? PcmDepth::Source : PcmDepth::Sixteen; }

bool VeFormatDocument::Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                              TaskProgress* progress) {
    FormatEncodeSettings settings;
    settings.bits = data.Format().bits_per_sample;
    settings.sample_rate = data.Format().sample_rate;
    settings.duration = data.Duration();
    settings.frames = data.Format().frames;
    settings.bitrate = Info().bit_rate > 0 ? static_cast<uint32_t>(Info().bit_rate) : 0;
    return EncodeWavToFormat(preset_, wav, path, settings, progress);
}

void VeFormatDocument::WriteTags(const std::string& path) {
    if (tags_.HasContent()) tags_.Write(path, preset_.type);
}

}  // namespace chm
