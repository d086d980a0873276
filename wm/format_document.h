#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_document.h"
#include "audio/format_tags.h"

namespace chm {

class TaskProgress;
class VeByteStream;
struct FormatPreset;

// A FLAC, Ogg Vorbis, Opus, AAC (M4A) or AIFF file as a document, the format given by its
// preset: decoded by the decoding graph into a temporary WAV file (lossless formats at their
// own depth) and read from there; saved through a temporary WAV file encoded by the format's
// pipeline, with the source's tags and pictures carried over.
class VeFormatDocument : public VeAudioDocument {
public:
    explicit VeFormatDocument(const FormatPreset& preset);

    // Reads the source's information and tags, then decodes (10 % of the progress) and reads
    // the temporary WAV back (the rest). The temporary file never outlives the call.
    bool Load(const std::string& path, TaskProgress* progress) override;
    // Refused: these formats are decoded from files only. Resets the document.
    bool LoadFromStream(VeByteStream& stream, TaskProgress* progress) override;
    // [first_ms, end_ms) of the file; the document is reset first when it holds audio.
    bool LoadExcerpt(const std::string& path, uint32_t first_ms, uint32_t end_ms) override;
    // Writes the temporary WAV (20 % of the progress), encodes it (the rest) and writes the tags
    // into the output; a failed tag write does not fail the save. Audio that is not plain is
    // first copied (10 %). A failed or cancelled save leaves no output.
    bool Save(const std::string& path, TaskProgress* progress) override;
    // Refused: the encoders write files only.
    bool SaveToStream(VeByteStream& stream, TaskProgress* progress) override;

    const VeFormatTags& Tags() const { return tags_; }

private:
    bool SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress);

    const FormatPreset& preset_;
    VeFormatTags tags_;
};

}  // namespace chm
