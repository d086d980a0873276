#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace chm {

// The chunks of a WAV or AIFF source that describe the recording rather than its tags, carried
// into the mono output as they are: WAV's Broadcast extension ("bext"), "iXML", cue points
// ("cue ") and their labels ("LIST" of type "adtl"); AIFF's NAME, AUTH, ANNO and "(c) ". The fold
// keeps every frame where it was, so the time reference and the markers' frame positions stay
// true.
struct SourceChunk {
    std::string id;  // four characters
    std::vector<uint8_t> body;
};

class SourceChunks {
public:
    // The chunks of the file's top level; none of a file that is neither RIFF WAVE nor FORM
    // AIFF/AIFC, or whose chunks run past its end.
    bool Read(const std::string& path);
    bool IsEmpty() const { return chunks_.empty(); }
    const std::vector<SourceChunk>& Chunks() const { return chunks_; }

    // Appends the chunks to the complete output (same container as the source) and grows its
    // RIFF or FORM size to match. The bext chunk gets a line of coding history for this
    // conversion and loses the loudness values that the fold made false. False, the output cut
    // back to what it was, when it cannot be written.
    bool AppendTo(const std::string& output) const;

private:
    bool big_endian_ = false;  // AIFF
    std::vector<SourceChunk> chunks_;
};

}  // namespace chm
