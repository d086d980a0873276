#include "audio/format_tags.h"

#include <sys/stat.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4atom.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

#include "audio/edited_file_stream.h"
#include "audio/tag_text.h"
#include "platform/file_replacement.h"

namespace chm {
namespace {

// The one error type of the reader and the writer; it never leaves them.
class TagsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Check(bool condition, const char* what) {
    if (!condition) throw TagsError(what);
}

TagLib::ByteVector ToBytes(const std::vector<char>& data) {
    return TagLib::ByteVector(data.data(), static_cast<unsigned int>(data.size()));
}
std::vector<char> FromBytes(const TagLib::ByteVector& data) { return std::vector<char>(data.begin(), data.end()); }

// One file of the new formats, opened through TagLib as the type its name says: the stream is
// declared first so that it is closed after the file that reads through it.
struct TaggedFile {
    std::unique_ptr<TagLib::IOStream> stream;
    std::unique_ptr<TagLib::File> file;
    AudioFileType type = AudioFileType::Unsupported;
};

bool IsTaggedFormat(AudioFileType type) {
    return type == AudioFileType::Flac || type == AudioFileType::OggVorbis || type == AudioFileType::Opus ||
           type == AudioFileType::Aac || type == AudioFileType::Aiff || type == AudioFileType::OggFlac ||
           type == AudioFileType::Alac || type == AudioFileType::Wav;
}

std::unique_ptr<TagLib::File> OpenAs(AudioFileType type, TagLib::IOStream* stream) {
    switch (type) {
        case AudioFileType::Flac:
            return std::make_unique<TagLib::FLAC::File>(stream, TagLib::ID3v2::FrameFactory::instance());
        case AudioFileType::OggVorbis:
            return std::make_unique<TagLib::Ogg::Vorbis::File>(stream);
        case AudioFileType::Opus:
            return std::make_unique<TagLib::Ogg::Opus::File>(stream);
        case AudioFileType::OggFlac:
            return std::make_unique<TagLib::Ogg::FLAC::File>(stream);
        case AudioFileType::Aac:
        case AudioFileType::Alac:
            return std::make_unique<TagLib::MP4::File>(stream);
        case AudioFileType::Aiff:
            return std::make_unique<TagLib::RIFF::AIFF::File>(stream);
        case AudioFileType::Wav:
            return std::make_unique<TagLib::RIFF::WAV::File>(stream);
        default:
            return nullptr;
    }
}

// Tags are never attached to something that is not audio of its type.
void OpenThrough(std::unique_ptr<TagLib::IOStream> stream, AudioFileType type, TaggedFile& tagged) {
    tagged.type = type;
    tagged.stream = std::move(stream);
    tagged.file = OpenAs(tagged.type, tagged.stream.get());
    Check(tagged.file != nullptr, "not a tagged format");
    const TagLib::AudioProperties* audio = tagged.file->audioProperties();
    Check(tagged.file->isValid() && audio && audio->sampleRate() > 0, "no audio of its type");
}

// Reading goes straight to the file, opened read-only. Only a regular file opens: a pipe under
// the name would block.
void OpenForReading(const std::string& path, AudioFileType type, TaggedFile& tagged) {
    struct stat st;
    Check(::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode), "not a regular file");
    auto stream = std::make_unique<TagLib::FileStream>(path.c_str(), true);
    Check(stream->isOpen(), "cannot open the file");
    OpenThrough(std::move(stream), type, tagged);
}

// Writing goes to the original seen with its changes kept aside: TagLib rewrites a file in
// place, moving the audio behind a grown tag, and does not check its writes, so a failure
// half-way would leave neither the old file nor the new one.
void OpenForEditing(const FileReplacement& original, const std::string& path, AudioFileType type,
                    TaggedFile& tagged) {
    OpenThrough(std::make_unique<EditedFileStream>(original.OriginalFd(), original.OriginalSize(), path), type,
                tagged);
}

// ---------------------------------------------------------------------------------------------
// Pictures, each format its own way: FLAC picture blocks (in FLAC files and in Xiph comments),
// MP4 cover art, ID3v2 attached pictures.

VeTagPicture FromFlacPicture(const TagLib::FLAC::Picture& picture) {
    return {FromTag(picture.mimeType()), static_cast<int>(picture.type()), FromTag(picture.description()),
            FromBytes(picture.data())};
}

TagLib::FLAC::Picture* ToFlacPicture(const VeTagPicture& picture) {
    auto block = std::make_unique<TagLib::FLAC::Picture>();
    block->setMimeType(ToTag(picture.mime_type));
    block->setType(static_cast<TagLib::FLAC::Picture::Type>(picture.type));
    block->setDescription(ToTag(picture.description));
    block->setData(ToBytes(picture.data));
    return block.release();  // the file or the comment takes it
}

struct CoverFormat {
    TagLib::MP4::CoverArt::Format format;
    const char* mime_type;
};
constexpr CoverFormat kCoverFormats[] = {{TagLib::MP4::CoverArt::JPEG, "image/jpeg"},
                                         {TagLib::MP4::CoverArt::PNG, "image/png"},
                                         {TagLib::MP4::CoverArt::BMP, "image/bmp"},
                                         {TagLib::MP4::CoverArt::GIF, "image/gif"}};

// The ID3v2 tag of an AIFF or WAV file: none where it has none and none is to be made.
TagLib::ID3v2::Tag* Id3v2Of(TagLib::File* file, bool make = false) {
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file))
        return make || aiff->hasID3v2Tag() ? aiff->tag() : nullptr;
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file))
        return make || wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr;
    return nullptr;
}

std::vector<VeTagPicture> ReadPictures(const TaggedFile& tagged) {
    std::vector<VeTagPicture> pictures;
    TagLib::File* file = tagged.file.get();
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        for (const auto* picture : flac->pictureList()) pictures.push_back(FromFlacPicture(*picture));
    } else if (auto* comment = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        for (const auto* picture : comment->pictureList()) pictures.push_back(FromFlacPicture(*picture));
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        if (mp4->tag() && mp4->tag()->contains("covr")) {
            for (const auto& cover : mp4->tag()->item("covr").toCoverArtList()) {
                VeTagPicture picture;
                for (const auto& known : kCoverFormats)
                    if (known.format == cover.format()) picture.mime_type = known.mime_type;
                picture.data = FromBytes(cover.data());
                pictures.push_back(std::move(picture));
            }
        }
    } else if (TagLib::ID3v2::Tag* id3 = Id3v2Of(file)) {
        {
            for (const auto* frame : id3->frameList("APIC")) {
                const auto* apic = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
                if (apic)
                    pictures.push_back({FromTag(apic->mimeType()), static_cast<int>(apic->type()),
                                        FromTag(apic->description()), FromBytes(apic->picture())});
            }
        }
    }
    return pictures;
}

void WritePictures(TaggedFile& tagged, const std::vector<VeTagPicture>& pictures) {
    TagLib::File* file = tagged.file.get();
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        flac->removePictures();
        for (const auto& picture : pictures) flac->addPicture(ToFlacPicture(picture));
    } else if (auto* comment = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        comment->removeAllPictures();
        for (const auto& picture : pictures) comment->addPicture(ToFlacPicture(picture));
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        TagLib::MP4::CoverArtList covers;
        for (const auto& picture : pictures) {
            auto format = TagLib::MP4::CoverArt::Unknown;
            for (const auto& known : kCoverFormats)
                if (picture.mime_type == known.mime_type) format = known.format;
            covers.append(TagLib::MP4::CoverArt(format, ToBytes(picture.data)));
        }
        if (covers.isEmpty())
            mp4->tag()->removeItem("covr");
        else
            mp4->tag()->setItem("covr", TagLib::MP4::Item(covers));
    } else if (TagLib::ID3v2::Tag* id3 = Id3v2Of(file, true)) {
        TagLib::ID3v2::Tag& tag = *id3;
        tag.removeFrames("APIC");
        for (const auto& picture : pictures) {
            auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
            frame->setMimeType(ToTag(picture.mime_type));
            frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(picture.type));
            frame->setDescription(ToTag(picture.description));
            frame->setPicture(ToBytes(picture.data));
            tag.addFrame(frame.release());  // the tag owns its frames
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The channels of an AAC track. The sample entry's channel count is a template field that many
// writers leave at 2 whatever the stream holds; the stream's own AudioSpecificConfig (in the
// "esds" box) tells the truth.

// One MPEG-4 descriptor: its tag and where its body lies; false past the end of the data.
bool NextDescriptor(const TagLib::ByteVector& data, unsigned& at, unsigned& tag, unsigned& size) {
    if (at >= data.size()) return false;
    tag = static_cast<unsigned char>(data[at++]);
    size = 0;
    for (int i = 0; i < 4 && at < data.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[at++]);
        size = size << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) break;
    }
    return at + size <= data.size();
}

// Channel configuration of an AudioSpecificConfig; parametric stereo (object type 29) decodes
// to two channels from a mono core. 0 when it does not say.
int ChannelsOfAudioSpecificConfig(const TagLib::ByteVector& data, unsigned at, unsigned size) {
    uint64_t bits = 0;
    for (unsigned i = 0; i < 8; ++i) bits = bits << 8 | (i < size ? static_cast<unsigned char>(data[at + i]) : 0);
    int used = 0;
    const auto take = [&](int n) {
        used += n;
        return static_cast<unsigned>(bits >> (64 - used) & ((1u << n) - 1));
    };
    unsigned object_type = take(5);
    if (object_type == 31) object_type = 32 + take(6);
    if (take(4) == 15) take(24);  // an explicit sampling frequency
    const unsigned configuration = take(4);
    if (object_type == 29) return 2;
    return configuration >= 1 && configuration <= 7 ? static_cast<int>(configuration == 7 ? 8 : configuration) : 0;
}

int AacChannels(TagLib::MP4::File& file) {
    TagLib::MP4::Atoms atoms(&file);
    TagLib::MP4::Atom* moov = atoms.find("moov");
    if (!moov) return 0;
    for (TagLib::MP4::Atom* track : moov->findall("trak")) {
        TagLib::MP4::Atom* stsd = track->find("mdia", "minf", "stbl", "stsd");
        if (!stsd || stsd->length <= 0 || stsd->length > (1 << 20)) continue;
        file.seek(stsd->offset);
        const TagLib::ByteVector data = file.readBlock(static_cast<unsigned long>(stsd->length));
        const int esds = data.find("esds");
        if (esds < 0) continue;
        unsigned at = static_cast<unsigned>(esds) + 8;  // the box type, then version and flags
        unsigned tag = 0;
        unsigned size = 0;
        if (!NextDescriptor(data, at, tag, size) || tag != 0x03 || size < 3) continue;
        const auto flags = static_cast<unsigned char>(data[at + 2]);
        at += 3 + ((flags & 0x80) ? 2 : 0) + ((flags & 0x20) ? 2 : 0);
        if ((flags & 0x40) && at < data.size()) at += 1 + static_cast<unsigned char>(data[at]);
        if (!NextDescriptor(data, at, tag, size) || tag != 0x04 || size < 13) continue;
        at += 13;
        if (!NextDescriptor(data, at, tag, size) || tag != 0x05 || size < 2) continue;
        return ChannelsOfAudioSpecificConfig(data, at, size);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// iTunes' free-form atoms ("----:com.apple.iTunes:NAME"): TagLib maps only the names it knows to
// keys, and its writer refuses the others; every other name is a key of its own.

const TagLib::String kFreeformPrefix = "----:com.apple.iTunes:";

void ReadFreeformItems(TagLib::MP4::File& file, std::map<std::string, std::vector<std::string>>& fields) {
    if (!file.tag()) return;
    for (const auto& [name, item] : file.tag()->itemMap()) {
        if (!name.startsWith(kFreeformPrefix)) continue;
        const std::string key = FromTag(name.substr(kFreeformPrefix.size()).upper());
        if (fields.contains(key)) continue;
        for (const auto& value : item.toStringList()) fields[key].push_back(FromTag(value));
    }
}

void WriteFreeformItems(TagLib::MP4::File& file, const TagLib::PropertyMap& refused) {
    for (const auto& [key, values] : refused)
        if (!key.isEmpty() && !values.isEmpty()) file.tag()->setItem(kFreeformPrefix + key, TagLib::MP4::Item(values));
}

// ---------------------------------------------------------------------------------------------
// QuickTime metadata: the "mdta" handler's numbered items, whose names are in a "keys" box
// (ffmpeg's -movflags use_metadata_tags, cameras and phones). TagLib reads only iTunes atoms, so
// without this they would be lost without a word.

uint32_t BigEndian32(const TagLib::ByteVector& data, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(data[at])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(data[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(data[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(data[at + 3]));
}

// The boxes within data[begin, end): type and body, each within the bounds.
template <typename Visit>
void ForEachBox(const TagLib::ByteVector& data, size_t begin, size_t end, Visit visit) {
    while (begin + 8 <= end) {
        const size_t size = BigEndian32(data, begin);
        if (size < 8 || size > end - begin) return;
        visit(data.mid(static_cast<unsigned>(begin + 4), 4), begin + 8, begin + size);
        begin += size;
    }
}

// The common key of a QuickTime key, with or without Apple's prefix.
std::string CommonKeyOf(std::string key) {
    static const std::string kApple = "com.apple.quicktime.";
    if (key.starts_with(kApple)) key.erase(0, kApple.size());
    static const std::pair<const char*, const char*> kKnown[] = {
        {"title", "TITLE"},       {"artist", "ARTIST"},           {"album", "ALBUM"},
        {"album_artist", "ALBUMARTIST"}, {"albumartist", "ALBUMARTIST"}, {"date", "DATE"},
        {"year", "DATE"},          {"creationdate", "DATE"},       {"comment", "COMMENT"},
        {"description", "COMMENT"}, {"genre", "GENRE"},            {"track", "TRACKNUMBER"},
        {"disc", "DISCNUMBER"},    {"composer", "COMPOSER"},       {"lyrics", "LYRICS"},
        {"copyright", "COPYRIGHT"}, {"encoder", "ENCODER"},        {"software", "ENCODER"}};
    for (const auto& [quicktime, common] : kKnown)
        if (key == quicktime) return common;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
    return key;
}

// Adds the text items of an "mdta" meta box to `fields`, under keys the fields lack.
void ReadQuickTimeKeys(TagLib::MP4::File& file, std::map<std::string, std::vector<std::string>>& fields) {
    TagLib::MP4::Atoms atoms(&file);
    TagLib::MP4::Atom* meta = atoms.find("moov", "udta", "meta");
    if (!meta) meta = atoms.find("moov", "meta");
    if (!meta || meta->length < 16 || meta->length > (1 << 24)) return;
    file.seek(meta->offset);
    const TagLib::ByteVector data = file.readBlock(static_cast<unsigned long>(meta->length));
    if (data.size() != static_cast<unsigned>(meta->length)) return;
    // QuickTime's meta box has no version field; iTunes' has.
    const size_t first = data.mid(12, 4) == "hdlr" ? 8 : 12;
    bool mdta = false;
    std::vector<std::string> names;
    std::map<std::string, std::vector<std::string>> found;
    ForEachBox(data, first, data.size(), [&](const TagLib::ByteVector& type, size_t body, size_t end) {
        if (type == "hdlr" && end - body >= 12) {
            mdta = data.mid(static_cast<unsigned>(body + 8), 4) == "mdta";
        } else if (type == "keys" && end - body >= 8) {
            ForEachBox(data, body + 8, end, [&](const TagLib::ByteVector& space, size_t at, size_t stop) {
                names.push_back(space == "mdta" ? std::string(data.data() + at, stop - at) : std::string());
            });
        } else if (type == "ilst") {
            ForEachBox(data, body, end, [&](const TagLib::ByteVector& index, size_t at, size_t stop) {
                const uint32_t number = BigEndian32(index, 0);
                if (number == 0 || number > names.size() || names[number - 1].empty()) return;
                ForEachBox(data, at, stop, [&](const TagLib::ByteVector& kind, size_t value, size_t value_end) {
                    // Well-known type 1: UTF-8 text; after it, the locale.
                    if (kind != "data" || value_end - value < 8 || BigEndian32(data, value) != 1) return;
                    const std::string text(data.data() + value + 8, value_end - value - 8);
                    found[CommonKeyOf(names[number - 1])].push_back(text);
                });
            });
        }
    });
    if (!mdta) return;
    for (auto& [key, values] : found)
        if (!fields.contains(key)) fields[key] = std::move(values);
}

}  // namespace

bool ProbeFormatFile(VeFormatMediaInfo& info, const std::string& path) {
    return ProbeFormatFile(info, path, GetAudioFileType(path));
}

bool ProbeFormatFile(VeFormatMediaInfo& info, const std::string& path, AudioFileType type) {
    try {
        TaggedFile tagged;
        OpenForReading(path, type, tagged);
        const TagLib::AudioProperties& audio = *tagged.file->audioProperties();
        VeFormatMediaInfo probed(tagged.type);
        probed.channels = audio.channels();
        if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(tagged.file.get()))
            if (const int channels = AacChannels(*mp4); channels > 0) probed.channels = channels;
        probed.sample_rate = audio.sampleRate();
        // TagLib gives kbit/s, from a damaged header as large as an int holds.
        const int64_t bit_rate = audio.bitrate() > 0 ? int64_t{audio.bitrate()} * 1000 : 0;
        Check(bit_rate <= std::numeric_limits<int32_t>::max(), "impossible stream values");
        probed.bit_rate = static_cast<int32_t>(bit_rate);
        probed.duration = audio.lengthInMilliseconds() * 0.001;
        if (const auto* flac = dynamic_cast<const TagLib::FLAC::Properties*>(&audio))
            probed.bits_per_sample = flac->bitsPerSample();
        else if (const auto* ogg_flac = dynamic_cast<const TagLib::Ogg::FLAC::Properties*>(&audio))
            probed.bits_per_sample = ogg_flac->bitsPerSample();
        else if (const auto* mp4 = dynamic_cast<const TagLib::MP4::Properties*>(&audio))
            probed.bits_per_sample = mp4->codec() == TagLib::MP4::Properties::ALAC ? mp4->bitsPerSample() : 0;
        else if (const auto* aiff = dynamic_cast<const TagLib::RIFF::AIFF::Properties*>(&audio)) {
            probed.bits_per_sample = aiff->bitsPerSample();
            const TagLib::ByteVector compression = aiff->isAiffC() ? aiff->compressionType() : TagLib::ByteVector();
            probed.float_samples = compression == "fl32" || compression == "FL32" || compression == "fl64" ||
                                   compression == "FL64";
        }
        // A damaged header can give TagLib a rate of 0 or a negative length: such a file has
        // no stream to tell of, and its numbers must not reach the search.
        Check(probed.channels > 0 && probed.sample_rate > 0 && probed.bit_rate >= 0 && probed.duration >= 0.0,
              "impossible stream values");
        info = probed;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool VeFormatTags::Read(const std::string& path) { return Read(path, GetAudioFileType(path)); }

bool VeFormatTags::Read(const std::string& path, AudioFileType type) {
    Clear();
    try {
        TaggedFile tagged;
        OpenForReading(path, type, tagged);
        for (const auto& [key, values] : tagged.file->properties()) {
            auto& texts = fields[FromTag(key)];
            for (const auto& value : values) texts.push_back(FromTag(value));
        }
        pictures = ReadPictures(tagged);
        if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(tagged.file.get()); wav && wav->hasInfoTag())
            for (const auto& [id, text] : wav->InfoTag()->fieldListMap())
                if (id != "ISFT" && !text.isEmpty()) riff_info[std::string(id.data(), id.size())] = FromTag(text);
        if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(tagged.file.get())) {
            ReadFreeformItems(*mp4, fields);
            ReadQuickTimeKeys(*mp4, fields);
        }
        return true;
    } catch (const std::exception&) {
        Clear();
        return false;
    }
}

bool VeFormatTags::Write(const std::string& path) const { return Write(path, GetAudioFileType(path)); }

bool VeFormatTags::Write(const std::string& path, AudioFileType type) const {
    try {
        Check(IsTaggedFormat(type), "not a tagged format");
        // A file marked read-only stays as it is, even for a process that could override the mark.
        FileReplacement replacement;
        Check(replacement.Open(path), "the file cannot be replaced");
        TaggedFile tagged;
        OpenForEditing(replacement, path, type, tagged);
        TagLib::PropertyMap map;
        for (const auto& [key, values] : fields) {
            TagLib::StringList texts;
            for (const auto& value : values) texts.append(ToTag(value));
            map.insert(ToTag(key), texts);
        }
        const TagLib::PropertyMap refused = tagged.file->setProperties(map);
        if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(tagged.file.get())) WriteFreeformItems(*mp4, refused);
        if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(tagged.file.get()))
            for (const auto& [id, text] : riff_info)
                if (id.size() == 4) wav->InfoTag()->setFieldText(TagLib::ByteVector(id.data(), 4), ToTag(text));
        WritePictures(tagged, pictures);
        Check(tagged.file->save(), "the tags could not be saved");
        // The new contents take the file's place only once they are complete on disk.
        const int out = replacement.CreateNew();
        Check(out >= 0, "cannot make the new file");
        Check(static_cast<const EditedFileStream&>(*tagged.stream).WriteTo(out), "cannot write the new file");
        Check(replacement.Commit(), "cannot replace the file");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void VeFormatTags::Clear() {
    fields.clear();
    pictures.clear();
    riff_info.clear();
}

}  // namespace chm
