#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_document.h"
#include "audio/media_properties.h"

namespace chm {

class TaskProgress;
class VeByteStream;

// An MP3 file as a document: decoded by libmpg123 through a temporary 16-bit WAV file, saved by
// the LAME encoder as VBR MP3, with the source's media properties carried over.
class VeMp3Document : public VeAudioDocument {
public:
    VeMp3Document();

    // Half the progress range decodes, half reads the temporary WAV back. A missing file fails
    // without touching the progress.
    bool Load(const std::string& path, TaskProgress* progress) override;
    // Refused: MP3 is decoded from files only. Resets the document.
    bool LoadFromStream(VeByteStream& stream, TaskProgress* progress) override;
    // [first_ms, end_ms) of the file; the document is reset first when it holds audio.
    bool LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) override;
    // Encodes the audio (through a plain copy when it is not plain) and, after a successful
    // encode, writes the source's media properties into the output.
    bool Save(const std::string& path, TaskProgress* progress) override;
    // Refused: the encoder writes files only.
    bool SaveToStream(VeByteStream& stream, TaskProgress* progress) override;

    const VeMediaProperties& Properties() const { return properties_; }

private:
    bool EncodeReady(VeAudioData& data, const std::string& path, TaskProgress* progress);

    VeMediaProperties properties_;
};

}  // namespace chm
