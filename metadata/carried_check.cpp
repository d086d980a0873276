#include "metadata/carried_check.h"

#include <sys/stat.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "audio/format_tags.h"
#include "audio/tag_text.h"
#include "metadata/loudness_tags.h"

namespace chm {
namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The keys and the number of pictures of one file.
struct TagInventory {
    std::set<std::string> keys;  // upper case
    size_t pictures = 0;

    void Add(const TagLib::PropertyMap& map) {
        for (const auto& [key, values] : map)
            if (!values.isEmpty()) keys.insert(Upper(FromTag(key)));
    }
};

// Loudness and the encoder's name and settings are left behind on purpose; an ID3 comment's
// description ("COMMENT:ITUNNORM") says what it holds.
bool LeftOutOnPurpose(const std::string& key) {
    const std::string name = key.substr(key.find(':') + 1);
    return IsLoudnessKey(key) || IsLoudnessKey(name) || IsEncoderSettingsKey(key) || key == "ENCODER";
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An MP3's every kind of tag; the output's ID3v2 tag is where they all should be.
bool ReadMp3(const std::string& path, TagInventory& inventory) {
    TagLib::FileStream stream(path.c_str(), true);
    if (!stream.isOpen()) return false;
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    if (file.hasID3v2Tag()) {
        inventory.Add(file.ID3v2Tag()->properties());
        inventory.pictures = file.ID3v2Tag()->frameList("APIC").size();
    }
    if (file.hasAPETag()) inventory.Add(file.APETag()->properties());
    if (file.hasID3v1Tag()) inventory.Add(file.ID3v1Tag()->properties());
    return true;
}

bool ReadWma(const std::string& path, TagInventory& inventory) {
    TagLib::FileStream stream(path.c_str(), true);
    if (!stream.isOpen()) return false;
    TagLib::ASF::File file(&stream, false);
    if (!file.isValid() || !file.tag()) return false;
    inventory.Add(file.properties());
    if (file.tag()->contains("WM/Picture")) inventory.pictures = file.tag()->attribute("WM/Picture").size();
    return true;
}

bool ReadOther(const std::string& path, AudioFileType type, TagInventory& inventory) {
    VeFormatTags tags;
    if (!tags.Read(path, type)) return false;
    for (const auto& [key, values] : tags.fields)
        if (!values.empty()) inventory.keys.insert(Upper(key));
    for (const auto& [id, text] : tags.riff_info) inventory.keys.insert("INFO/" + Upper(id));
    inventory.pictures = tags.pictures.size();
    return true;
}

bool Read(const std::string& path, AudioFileType type, TagInventory& inventory) {
    if (!IsRegularFile(path)) return false;
    if (type == AudioFileType::Mp3) return ReadMp3(path, inventory);
    if (type == AudioFileType::Wma) return ReadWma(path, inventory);
    return ReadOther(path, type, inventory);
}

}  // namespace

std::vector<std::string> TagsNotCarried(const std::string& source, const std::string& output, AudioFileType type) {
    TagInventory in;
    TagInventory out;
    // A file that cannot be read back says nothing either way.
    if (!Read(source, type, in) || !Read(output, type, out)) return {};
    std::vector<std::string> missing;
    for (const std::string& key : in.keys) {
        if (out.keys.contains(key) || LeftOutOnPurpose(key)) continue;
        std::string lower = key;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        missing.push_back(std::move(lower));
    }
    if (out.pictures < in.pictures) missing.push_back("pictures");
    return missing;
}

std::string NotCarriedNote(const std::vector<std::string>& missing) {
    if (missing.empty()) return {};
    std::string note = "not carried: ";
    for (size_t i = 0; i < missing.size(); ++i) note += (i ? ", " : "") + missing[i];
    return note;
}

}  // namespace chm
