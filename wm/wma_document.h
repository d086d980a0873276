#pragma once
#include <string>

#include "audio/media_properties.h"
#include "wm/graph_document.h"

namespace chm {

// A Windows Media Audio file as a document: decoded by the decoding graph straight into its
// stores; saved through a temporary WAV file streamed into the WMA encoder, with the source's
// media properties carried over.
class VeWmaDocument : public VeGraphDocument {
public:
    VeWmaDocument();

    const VeMediaProperties& Properties() const { return properties_; }

protected:
    void ReadSource(const std::string& path) override;
    bool Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                TaskProgress* progress) override;
    void WriteTags(const std::string& path) override;

private:
    VeMediaProperties properties_;
};

}  // namespace chm
