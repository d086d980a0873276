#pragma once
#include <functional>
#include <optional>
#include <string>

#include "audio/audio_file_type.h"
#include "audio/format_tags.h"
#include "metadata/loudness_tags.h"
#include "metadata/source_chunks.h"

namespace chm {

class PcmReceiver;

// What a source carries that its mono output gets: its tags and pictures, less what the
// conversion made false (loudness, which is measured again, and the encoder's name), and, of
// WAV and AIFF, the chunks that describe the recording.
class CarriedMetadata {
public:
    // Reads the source as `type` (what it holds, whatever its name).
    void Read(const std::string& source, AudioFileType type);
    // The fold's method, for the description of the channels (iXML's track list).
    void SetMethod(int method) { method_ = method; }
    bool HasContent() const { return tags_.HasContent() || loudness_.Any() || !chunks_.IsEmpty(); }
    const VeFormatTags& Tags() const { return tags_; }

    // Writes everything into the complete output, which has no name yet and so is given its
    // type: `decode` hands the output's samples to a receiver, for the loudness to be measured
    // as a player decodes it. A part that cannot be written is left out; the audio stays.
    void Write(const std::string& output, AudioFileType type,
               const std::function<bool(PcmReceiver& receiver)>& decode);

private:
    VeFormatTags tags_;
    LoudnessFamilies loudness_;
    SourceChunks chunks_;
    std::optional<int> method_;
};

}  // namespace chm
