#include "wm/wma_document.h"

#include <memory>

#include "engine/task_progress.h"
#include "wm/asf_probe.h"
#include "wm/wma_writer.h"

namespace chm {

namespace {

// The codecs of the WMA family other than the one written; empty for that one and for tags
// that name no codec of the family.
std::string OtherWmaCodec(uint16_t format_tag) {
    switch (format_tag) {
        case 0x0160: return "WMA (version 1)";
        case 0x0162: return "WMA Pro";
        case 0x0163: return "WMA Lossless";
        case 0x000A: return "WMA Voice";
        default: return {};
    }
}

}  // namespace

VeWmaDocument::VeWmaDocument() : VeGraphDocument(std::make_unique<VeWmaMediaInfo>()) {}

bool VeWmaDocument::Load(const std::string& path, TaskProgress* progress) {
    if (!VeGraphDocument::Load(path, progress)) return false;
    const std::string codec = OtherWmaCodec(ProbeWmaFormatTag(path));
    if (progress && !codec.empty())
        progress->AddNote("written as WMA (version 2) at its highest bit rate: there is no " + codec + " encoder");
    return true;
}

void VeWmaDocument::ReadSource(const std::string& path) { properties_.ReadMediaPropertiesAs(path, AudioFileType::Wma); }

bool VeWmaDocument::Encode(const std::string& wav, const std::string& path, const VeAudioData&,
                           TaskProgress* progress) {
    return EncodeWavToWma(wav, path, progress);
}

void VeWmaDocument::WriteTags(const std::string& path) {
    if (properties_.HasContent()) properties_.WriteMediaPropertiesAs(path, AudioFileType::Wma);
}

}  // namespace chm
