#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "processing/channel_ops.h"

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

// An iXML document whose TRACK_LIST describes the two channels of a stereo file, rewritten for
// its mono output (`method` as the fold takes it): the kept channel's track (both names for a mix), at interleave index 1. Any
// other document, or one that does not parse, comes back as it is.
std::vector<uint8_t> IxmlForMono(const std::vector<uint8_t>& body, int method);

class SourceChunks {
public:
    // The chunks of the file's top level; none of a file that is neither RIFF WAVE nor FORM
    // AIFF/AIFC, or whose chunks run past its end.
    bool Read(const std::string& path);
    bool IsEmpty() const { return chunks_.empty(); }
    const std::vector<SourceChunk>& Chunks() const { return chunks_; }

    // Appends the chunks to the complete output (same container as the source) and grows its
    // RIFF or FORM size to match. The bext chunk gets a line of coding history for this
    // conversion and loses the loudness values that the fold made false; with the fold's method
    // given, the iXML track list names the one track the output has. False, the output cut back
    // to what it was, when it cannot be written.
    bool AppendTo(const std::string& output, std::optional<int> method = std::nullopt) const;

private:
    bool big_endian_ = false;  // AIFF
    std::vector<SourceChunk> chunks_;
};

}  // namespace chm
