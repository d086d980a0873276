#include "formats/format_document.h"

#include <memory>
#include <string>

#include "engine/task_progress.h"
#include "formats/format_encoder.h"
#include "formats/format_presets.h"

namespace chm {

VeFormatDocument::VeFormatDocument(const FormatPreset& preset)
    : VeGraphDocument(std::make_unique<VeFormatMediaInfo>(preset.type)), preset_(preset) {}

void VeFormatDocument::ReadSource(const std::string& path) {
    // As what it holds: FLAC named ".oga" has FLAC's tags.
    carried_.Read(path, preset_.type);
    MediaInfo().Reset();
    ProbeFormatFile(static_cast<VeFormatMediaInfo&>(MediaInfo()), path, preset_.type);
}

PcmDepth VeFormatDocument::DecodeDepth() const {
    // The lossy decoders make floats: kept as they are, a loud master's overs reach the mix's
    // peak scaling instead of being clipped at 16 bits first.
    if (!preset_.lossless || SourceIsFloat()) return PcmDepth::Float;
    // Held at 32 bits, a mix's half steps would lie below the 24 that the encoder keeps: it would
    // cut them where the WAV route rounds.
    const int32_t bits = static_cast<const VeFormatMediaInfo&>(Info()).bits_per_sample;
    return bits > 16 && bits <= 24 ? PcmDepth::Source24 : PcmDepth::Source;
}

bool VeFormatDocument::Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                              TaskProgress* progress) {
    // Floats stay floats, overs and all, at the source's size.
    if (SourceIsFloat() && preset_.float_writer) {
        const int32_t bits = static_cast<const VeFormatMediaInfo&>(Info()).bits_per_sample;
        return preset_.float_writer(wav, path, bits == 64 ? 64 : 32, progress);
    }
    if (ExactDepthRoute()) {
        const int32_t bits = static_cast<const VeFormatMediaInfo&>(Info()).bits_per_sample;
        return preset_.exact_depths->encode(wav, path, bits, preset_.exact_depths->ogg, progress);
    }
    // A depth the encoder has no samples of goes to the next one up, exactly.
    const int32_t source_bits = static_cast<const VeFormatMediaInfo&>(Info()).bits_per_sample;
    const int written = WrittenDepth(preset_, source_bits);
    if (progress && source_bits > 0 && written > source_bits)
        progress->AddNote("written at " + std::to_string(written) + " bits: the " + preset_.name + " writer takes no " +
                          std::to_string(source_bits) + "-bit samples");
    FormatEncodeSettings settings;
    settings.bits = data.Format().bits_per_sample;
    settings.sample_rate = data.Format().sample_rate;
    settings.duration = data.Duration();
    settings.frames = data.Format().frames;
    settings.bitrate = Info().bit_rate > 0 ? static_cast<uint32_t>(Info().bit_rate) : 0;
    return EncodeWavToFormat(preset_, wav, path, settings, progress);
}

bool VeFormatDocument::DecodeSource(const std::string& path, PcmReceiver& receiver, TaskProgress* progress) {
    if (ExactDepthRoute()) return preset_.exact_depths->decode(path, preset_.exact_depths->ogg, receiver, progress);
    return VeGraphDocument::DecodeSource(path, receiver, progress);
}

bool VeFormatDocument::ExactDepthRoute() const {
    const int32_t bits = static_cast<const VeFormatMediaInfo&>(Info()).bits_per_sample;
    return preset_.exact_depths && bits > 0 && !preset_.exact_depths->carries(bits);
}

bool VeFormatDocument::SourceIsFloat() const {
    return static_cast<const VeFormatMediaInfo&>(Info()).float_samples;
}

void VeFormatDocument::WriteTags(const std::string& path) {
    if (!carried_.HasContent()) return;
    // Loudness is measured on the written output as a player decodes it: a lossy encoder moves
    // the peaks.
    carried_.Write(path, preset_.type, [&](PcmReceiver& meter) {
        return ExactDepthRoute() ? preset_.exact_depths->decode(path, preset_.exact_depths->ogg, meter, nullptr)
                                 : DecodeToPcm(path, meter, nullptr, PcmDepth::Float, 0.0, preset_.type);
    });
}

}  // namespace chm
