#pragma once
#include <string>

#include "audio/format_tags.h"
#include "metadata/carried_metadata.h"
#include "wm/graph_document.h"

namespace chm {

struct FormatPreset;

// A FLAC, Ogg Vorbis, Opus, AAC or ALAC (M4A) or AIFF file as a document, the format given by
// the preset of what it holds, whatever its name: decoded by the decoding graph (lossless formats at their own depth) and encoded by the
// format's pipeline, with the source's tags and pictures carried over.
class VeFormatDocument : public VeGraphDocument {
public:
    explicit VeFormatDocument(const FormatPreset& preset);

    const VeFormatTags& Tags() const { return carried_.Tags(); }

protected:
    // The tags, and the information that tells the AAC encoder the source's bit rate.
    void ReadSource(const std::string& path) override;
    PcmDepth DecodeDepth() const override;
    bool DecodeSource(const std::string& path, PcmReceiver& receiver, TaskProgress* progress) override;
    bool Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                TaskProgress* progress) override;
    void WriteTags(const std::string& path) override;

private:
    bool SourceIsFloat() const;
    // The codec's own library reads and writes this source's depth.
    bool ExactDepthRoute() const;
    const FormatPreset& preset_;
    CarriedMetadata carried_;
};

}  // namespace chm
