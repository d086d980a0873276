#pragma once
#include <map>
#include <string>
#include <vector>

#include "audio/audio_file_type.h"
#include "audio/media_info.h"

namespace chm {

// The information of a FLAC, Ogg Vorbis, Opus, AAC (M4A) or AIFF file, read from its headers.
class VeFormatMediaInfo : public VeMediaInfo {
public:
    explicit VeFormatMediaInfo(AudioFileType kind = AudioFileType::Unsupported) : kind_(kind) {}
    AudioFileType Kind() const override { return kind_; }

    int32_t bits_per_sample = 0;  // of a lossless stream as its header says; 0 for lossy ones
    bool float_samples = false;   // IEEE floats (AIFF-C "fl32" and "fl64")

private:
    AudioFileType kind_;
};

// Channels, rate, bit rate (bits per second) and duration from the file's headers and stream
// information, without decoding any audio. False, `info` untouched, for a file that is not
// audio of the type its name says. The kind of the information is the file's type.
bool ProbeFormatFile(VeFormatMediaInfo& info, const std::string& path);
// The same for a file read as `type`, whatever its name says.
bool ProbeFormatFile(VeFormatMediaInfo& info, const std::string& path, AudioFileType type);

// An embedded picture: a front cover, a back cover, ... (the ID3v2/FLAC picture types).
struct VeTagPicture {
    std::string mime_type;
    int type = 3;  // front cover
    std::string description;
    std::vector<char> data;
    bool operator==(const VeTagPicture&) const = default;
};

// The tags of a FLAC, Ogg Vorbis, Opus, AAC or AIFF file (Xiph comments, MP4 atoms, the ID3v2
// chunk of AIFF): every text field under its common key (TITLE, ARTIST, ALBUM, ALBUMARTIST,
// DATE, TRACKNUMBER, GENRE, COMMENT, ...) and the embedded pictures. A conversion reads them
// from its source and writes them into an output of the same format.
class VeFormatTags {
public:
    std::map<std::string, std::vector<std::string>> fields;
    std::vector<VeTagPicture> pictures;
    // A WAV's LIST/INFO fields by their chunk ids (INAM, IART, ICMT, ...), beside its ID3 chunk,
    // whose fields are the keys above. The writing software's name (ISFT) is not the output's.
    std::map<std::string, std::string> riff_info;

    // Fills the record from the file; a file that cannot be read as its type gives an empty
    // record and false.
    bool Read(const std::string& path);
    // The same for a file read as `type`, whatever its name says.
    bool Read(const std::string& path, AudioFileType type);
    // Replaces the file's fields and pictures with the record's. The new file is made beside
    // the old one, without a name where the file system allows, and takes its place only when
    // complete: a failure leaves the file as it was and nothing beside it.
    bool Write(const std::string& path) const;
    // The same for a file whose type its path does not tell (an output that has no name yet).
    bool Write(const std::string& path, AudioFileType type) const;
    bool HasContent() const { return !fields.empty() || !pictures.empty() || !riff_info.empty(); }
    void Clear();
};

}  // namespace chm
