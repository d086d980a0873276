#pragma once
#include <functional>
#include <memory>
#include <string>

#include "audio/audio_file_type.h"
#include "metadata/loudness_tags.h"

namespace chm {

// The tags of an MP3 or WMA source beyond the properties that its conversion carries (pictures,
// composer, disc number, MusicBrainz identifiers, ...): ID3v2 frames and ASF attributes, each
// as it stands, added to the output after the properties, which keep the frames they write.
// Frames that became false stay behind: loudness (measured again where the source had track
// loudness), the source encoder's name and settings, and what described its stream.
class OtherTags {
public:
    OtherTags();
    ~OtherTags();
    OtherTags(const OtherTags&) = delete;
    OtherTags& operator=(const OtherTags&) = delete;

    void Read(const std::string& source, AudioFileType type);
    bool HasContent() const;
    // Into the complete output, which has no name yet; `decode` hands its samples to a meter.
    // A failure leaves the output as it was.
    bool Write(const std::string& output, const std::function<bool(PcmReceiver& receiver)>& decode) const;

private:
    struct Held;
    std::unique_ptr<Held> held_;
};

}  // namespace chm
