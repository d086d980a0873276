#include "wm/wma_document.h"

#include <memory>

#include "wm/asf_probe.h"
#include "wm/wma_writer.h"

namespace chm {

VeWmaDocument::VeWmaDocument() : VeGraphDocument(std::make_unique<VeWmaMediaInfo>()) {}

void VeWmaDocument::ReadSource(const std::string& path) { properties_.ReadMediaPropertiesAs(path, AudioFileType::Wma); }

bool VeWmaDocument::Encode(const std::string& wav, const std::string& path, const VeAudioData&,
                           TaskProgress* progress) {
    return EncodeWavToWma(wav, path, progress);
}

void VeWmaDocument::WriteTags(const std::string& path) {
    if (properties_.HasContent()) properties_.WriteMediaPropertiesAs(path, AudioFileType::Wma);
}

}  // namespace chm
