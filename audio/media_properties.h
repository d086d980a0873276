#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "audio/audio_file_type.h"

namespace chm {

// The descriptive properties of an MP3 or WMA file that a conversion carries over to its
// output. The tags live in the file itself (ID3v2 for MP3, ASF attributes for WMA); this
// record only knows the fields, never the tag format.
class VeMediaProperties {
public:
    int32_t loaded = 0;  // result of the last read: 1 read, 0 failed
    // Every tag the file offers, by its key, with its display text; only ReadColumnTexts fills it.
    std::map<std::string, std::string> column_texts;
    std::string title;
    std::string comments;
    std::string artist;
    std::string album;
    uint32_t year = 0;
    uint32_t track = 0;
    std::string genre;
    std::string lyrics;
    std::string album_artist;  // music property 13
    std::string subtitle;      // music property 38
    std::string music_comment;
    uint32_t rating = 0;  // 0 (none) to 99
    // What the audio stream says about itself; read only, never written.
    uint32_t duration_ms = 0;
    uint32_t average_data_rate = 0;  // bits per second
    uint32_t sample_rate = 0;
    uint32_t sample_size = 0;  // bits per sample; 0 where the format has none (MP3)
    uint32_t channel_count = 0;

    VeMediaProperties() = default;
    virtual ~VeMediaProperties() = default;
    VeMediaProperties(const VeMediaProperties&) = default;
    VeMediaProperties& operator=(const VeMediaProperties&) = default;

    // ReadColumnTexts, then ReadMediaProperties, keeping the texts the first one found.
    // The result is that of ReadMediaProperties.
    virtual bool ReadAll(const std::string& path);
    // Writes every field but the audio ones into the file; empty fields remove their tag.
    // The file is replaced only by a complete copy: a failure leaves it as it was.
    virtual bool WriteMediaProperties(const std::string& path) const;
    // The same for a file whose type its path does not tell (an output that has no name yet).
    bool WriteMediaPropertiesAs(const std::string& path, AudioFileType type) const;
    // The text stored under the key by ReadColumnTexts; empty when there is none.
    virtual std::string LookupText(const std::string& key) const;

    // Fills the record from an MP3 or WMA file (chosen by its extension). A file that cannot
    // be opened, or is no audio of its type, gives an empty record and false; a file without
    // tags gives true and a record without content.
    bool ReadMediaProperties(const std::string& path);
    // The same for a file read as `type` (MP3 or WMA), whatever its name says.
    bool ReadMediaPropertiesAs(const std::string& path, AudioFileType type);
    // Replaces the table with every tag of the file, multiple values joined by "; ".
    bool ReadColumnTexts(const std::string& path);
    // Any of the nine strings non-empty, or year, track or rating non-zero.
    bool HasContent() const;
    // Every field empty or 0, the table emptied, the loaded flag 0.
    void Clear();
};

}  // namespace chm
