#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_document.h"
#include "audio/media_properties.h"

namespace chm {

class TaskProgress;
class VeByteStream;

// A Windows Media Audio file as a document: decoded by the decoding graph into a temporary WAV
// file and read from there; saved through a temporary WAV file streamed into the WMA encoder,
// with the source's media properties carried over.
class VeWmaDocument : public VeAudioDocument {
public:
    VeWmaDocument();

    // Reads the source's media properties, then decodes (10 % of the progress) and reads the
    // temporary WAV back (the rest). The temporary file never outlives the call.
    bool Load(const std::string& path, TaskProgress* progress) override;
    // Refused: WMA is decoded from files only. Resets the document.
    bool LoadFromStream(VeByteStream& stream, TaskProgress* progress) override;
    // [first_ms, end_ms) of the file; the document is reset first when it holds audio.
    bool LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) override;
    // Writes the temporary WAV (20 % of the progress), encodes it (the rest) and writes the media
    // properties into the output. Audio that is not plain is first copied (10 %). A failed or
    // cancelled save leaves no output.
    bool Save(const std::string& path, TaskProgress* progress) override;
    // Refused: the encoder writes files only.
    bool SaveToStream(VeByteStream& stream, TaskProgress* progress) override;

    const VeMediaProperties& Properties() const { return properties_; }

private:
    bool SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress);

    VeMediaProperties properties_;
};

}  // namespace chm
