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

    // A source of another Windows Media codec is written in the one codec there is an encoder
    // for: the load says so in a note.
    bool Load(const std::string& path, TaskProgress* progress) override;

protected:
    void ReadSource(const std::string& path) override;
    bool Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                TaskProgress* progress) override;
    void WriteTags(const std::string& path) override;

private:
    VeMediaProperties properties_;
};

}  // namespace chm
