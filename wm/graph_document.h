#pragma once
#include <cstdint>
#include <string>

#include "audio/audio_document.h"
#include "wm/decoding_graph.h"

namespace chm {

class TaskProgress;
class VeByteStream;

// A document whose files are decoded by the decoding graph straight into its stores, and saved
// through a temporary WAV file that the format's encoder turns into the output, with the
// source's tags carried over: WMA, FLAC, Ogg Vorbis, Opus, AAC and AIFF. A format gives what it
// reads of its source, its encoder and its tag writer.
class VeGraphDocument : public VeAudioDocument {
public:
    // Reads the source's tags and information, then starts the decoder (10 % of the progress)
    // and stores the samples as they arrive (the rest). A failed load leaves the document empty.
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

protected:
    using VeAudioDocument::VeAudioDocument;

    // What the format keeps of its source besides the audio; its outcome does not matter.
    virtual void ReadSource(const std::string& path) = 0;
    virtual PcmDepth DecodeDepth() const { return PcmDepth::Sixteen; }
    // The decode of the source into the stores: the decoding graph, at DecodeDepth.
    virtual bool DecodeSource(const std::string& path, PcmReceiver& receiver, TaskProgress* progress);
    // Encodes the temporary WAV file of `data` into the output.
    virtual bool Encode(const std::string& wav, const std::string& path, const VeAudioData& data,
                        TaskProgress* progress) = 0;
    // Writes the source's tags into a saved output, if it had any.
    virtual void WriteTags(const std::string& path) = 0;

private:
    bool SaveAudio(VeAudioData& data, const std::string& path, TaskProgress* progress);
};

}  // namespace chm
