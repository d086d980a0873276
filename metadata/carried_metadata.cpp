#include "metadata/carried_metadata.h"

namespace chm {

void CarriedMetadata::Read(const std::string& source, AudioFileType type) {
    tags_.Read(source, type);
    // Tags that became false with the conversion: the source's level and its encoder.
    loudness_ = TakeLoudnessTags(tags_.fields);
    NameThisProgramAsEncoder(tags_.fields, type);
    if (type == AudioFileType::Wav || type == AudioFileType::Aiff) chunks_.Read(source);
}

void CarriedMetadata::Write(const std::string& output, AudioFileType type,
                            const std::function<bool(PcmReceiver& receiver)>& decode) {
    VeFormatTags tags = tags_;
    if (loudness_.Any()) {
        LoudnessMeter meter;
        if (decode(meter) && meter.Result()) AddLoudnessTags(tags.fields, loudness_, *meter.Result());
    }
    if (tags.HasContent()) tags.Write(output, type);
    chunks_.AppendTo(output, method_);
}

}  // namespace chm
