#include "audio/media_properties.h"

#include <sys/stat.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/audioproperties.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <cctype>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "audio/audio_file_type.h"
#include "audio/edited_file_stream.h"
#include "audio/tag_text.h"
#include "platform/file_replacement.h"

namespace chm {

namespace {

// The one error type of the reader and the writer; it never leaves them.
class PropertiesError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void Check(bool condition, const char* what) {
    if (!condition) throw PropertiesError(what);
}

// ---------------------------------------------------------------------------------------------
// Values

// The text form of a year is read as the first four digits ("%04u"): "1999-05-01" is 1999.
// A sign is refused, which the scanf conversion alone would take as a huge unsigned value.
uint32_t ParseYear(const std::string& text) {
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
    if (start == text.size() || !std::isdigit(static_cast<unsigned char>(text[start]))) return 0;
    unsigned value = 0;
    return std::sscanf(text.c_str() + start, "%4u", &value) == 1 ? value : 0;
}

std::string FormatNumber(uint32_t value) { return std::to_string(value); }

uint32_t ValidRating(uint32_t rating) { return rating < 100 ? rating : 0; }

// ID3v2 keeps a rating in a popularimeter frame on a 0-255 scale. The five star values that
// Windows writes (1, 64, 128, 196, 255 for 1, 25, 50, 75, 99) are the fixed points; between
// them the scale is linear. Every step is wider than one, so every rating 0-99 survives a
// write and a read.
struct RatingPoint {
    uint32_t rating;
    uint32_t popularimeter;
};
constexpr RatingPoint kRatingScale[] = {{0, 0}, {1, 1}, {25, 64}, {50, 128}, {75, 196}, {99, 255}};

uint32_t Interpolate(uint32_t x, uint32_t x0, uint32_t x1, uint32_t y0, uint32_t y1) {
    const uint32_t span = x1 - x0;
    return y0 + ((x - x0) * (y1 - y0) * 2 + span) / (2 * span);  // rounded to the nearest
}

uint32_t RatingToPopularimeter(uint32_t rating) {
    rating = ValidRating(rating);
    for (size_t i = 1; i < std::size(kRatingScale); ++i) {
        const auto& low = kRatingScale[i - 1];
        const auto& high = kRatingScale[i];
        if (rating <= high.rating)
            return Interpolate(rating, low.rating, high.rating, low.popularimeter, high.popularimeter);
    }
    return 0;
}

uint32_t PopularimeterToRating(int value) {
    if (value <= 0) return 0;
    const uint32_t popularimeter = value > 255 ? 255u : static_cast<uint32_t>(value);
    for (size_t i = 1; i < std::size(kRatingScale); ++i) {
        const auto& low = kRatingScale[i - 1];
        const auto& high = kRatingScale[i];
        if (popularimeter <= high.popularimeter)
            return Interpolate(popularimeter, low.popularimeter, high.popularimeter, low.rating, high.rating);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The property storage of one file: the file opened through TagLib in the format its name says.

const TagLib::String kWindowsRatingEmail = "Windows Media Player 9 Series";

struct PropertyStorage {
    // Declared before the files that read through it, so that it is closed after them.
    std::unique_ptr<TagLib::IOStream> stream;
    std::unique_ptr<TagLib::MPEG::File> mpeg;
    std::unique_ptr<TagLib::ASF::File> asf;

    TagLib::File* File() const {
        if (mpeg) return mpeg.get();
        return asf.get();
    }
};

// Reading goes straight to the file, opened read-only. Writing goes to the original seen with
// its changes kept aside: TagLib rewrites a file in place, moving the audio behind a grown tag,
// and does not check its writes, so a failure half-way would leave neither the old file nor the
// new one. Only an MP3 or WMA file that holds an audio stream binds: tags are never attached
// to something that is not audio.
bool BindPropertySetStorage(const std::string& path, AudioFileType type, PropertyStorage& storage,
                            bool for_reading, const FileReplacement* original = nullptr) {
    if (path.empty() || (type != AudioFileType::Mp3 && type != AudioFileType::Wma)) return false;
    if (for_reading) {
        struct stat st;
        // A pipe under the name would block the open; a folder is no file.
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        auto stream = std::make_unique<TagLib::FileStream>(path.c_str(), true);
        if (!stream->isOpen()) return false;
        storage.stream = std::move(stream);
    } else {
        storage.stream = std::make_unique<EditedFileStream>(original->OriginalFd(), original->OriginalSize(), path);
    }
    if (type == AudioFileType::Mp3) {
        storage.mpeg = std::make_unique<TagLib::MPEG::File>(storage.stream.get(),
                                                            TagLib::ID3v2::FrameFactory::instance(), true);
    } else {
        storage.asf = std::make_unique<TagLib::ASF::File>(storage.stream.get(), true);
    }
    const TagLib::File* file = storage.File();
    const TagLib::AudioProperties* audio = file->audioProperties();
    return file->isValid() && audio && audio->sampleRate() > 0;
}

// ---------------------------------------------------------------------------------------------
// ID3v2 frames

std::string FrameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const auto& frames = tag.frameList(id);
    return frames.isEmpty() ? std::string() : FromTag(frames.front()->toString());
}

void SetTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text) {
    tag.removeFrames(id);
    if (text.empty()) return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(id, TagLib::String::UTF8);
    frame->setText(ToTag(text));
    tag.addFrame(frame.release());  // the tag owns its frames
}

// The comment is the frame without a description; described ones ("iTunNORM", ...) belong to
// other programs and are left alone.
void SetComment(TagLib::ID3v2::Tag& tag, const std::string& text) {
    const auto frames = tag.frameList("COMM");  // a copy: frames are removed while walking
    for (auto* frame : frames) {
        const auto* comment = dynamic_cast<const TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment && comment->description().isEmpty()) tag.removeFrame(frame);
    }
    if (text.empty()) return;
    auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::UTF8);
    frame->setLanguage("XXX");  // ID3's "unknown language"
    frame->setText(ToTag(text));
    tag.addFrame(frame.release());
}

std::string LyricsText(const TagLib::ID3v2::Tag& tag) {
    const auto& frames = tag.frameList("USLT");
    const TagLib::ID3v2::Frame* chosen = nullptr;
    for (const auto* frame : frames) {
        const auto* lyrics = dynamic_cast<const TagLib::ID3v2::UnsynchronizedLyricsFrame*>(frame);
        if (lyrics && lyrics->description().isEmpty()) {
            chosen = frame;
            break;
        }
    }
    if (!chosen && !frames.isEmpty()) chosen = frames.front();
    return chosen ? FromTag(chosen->toString()) : std::string();
}

void SetLyrics(TagLib::ID3v2::Tag& tag, const std::string& text) {
    tag.removeFrames("USLT");
    if (text.empty()) return;
    auto frame = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(TagLib::String::UTF8);
    frame->setLanguage("XXX");
    frame->setText(ToTag(text));
    tag.addFrame(frame.release());
}

// The popularimeter written by Windows is preferred; any other one serves when it is missing.
const TagLib::ID3v2::PopularimeterFrame* RatingFrame(const TagLib::ID3v2::Tag& tag) {
    const TagLib::ID3v2::PopularimeterFrame* first = nullptr;
    for (const auto* frame : tag.frameList("POPM")) {
        const auto* popm = dynamic_cast<const TagLib::ID3v2::PopularimeterFrame*>(frame);
        if (!popm) continue;
        if (popm->email() == kWindowsRatingEmail) return popm;
        if (!first) first = popm;
    }
    return first;
}

// All popularimeters go, so that the rating read back is the one written.
void SetRating(TagLib::ID3v2::Tag& tag, uint32_t rating) {
    tag.removeFrames("POPM");
    rating = ValidRating(rating);
    if (rating == 0) return;
    auto frame = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
    frame->setEmail(kWindowsRatingEmail);
    frame->setRating(static_cast<int>(RatingToPopularimeter(rating)));
    tag.addFrame(frame.release());
}

// ---------------------------------------------------------------------------------------------
// ASF attributes

const TagLib::ASF::Attribute* FirstAttribute(const TagLib::ASF::Tag& tag, const char* name,
                                             TagLib::ASF::AttributeList& holder) {
    holder = tag.attribute(name);
    return holder.isEmpty() ? nullptr : &holder.front();
}

std::string AttributeText(const TagLib::ASF::Tag& tag, const char* name) {
    TagLib::ASF::AttributeList holder;
    const auto* attribute = FirstAttribute(tag, name, holder);
    if (!attribute || attribute->type() != TagLib::ASF::Attribute::UnicodeType) return {};
    return FromTag(attribute->toString());
}

// A number kept as a number of any width, or as text read by the given rule.
uint32_t AttributeNumber(const TagLib::ASF::Tag& tag, const char* name,
                         uint32_t (*parse_text)(const std::string&)) {
    TagLib::ASF::AttributeList holder;
    const auto* attribute = FirstAttribute(tag, name, holder);
    if (!attribute) return 0;
    switch (attribute->type()) {
        case TagLib::ASF::Attribute::DWordType:
            return attribute->toUInt();
        case TagLib::ASF::Attribute::QWordType: {
            const unsigned long long value = attribute->toULongLong();
            return value > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(value);
        }
        case TagLib::ASF::Attribute::WordType:
            return attribute->toUShort();
        case TagLib::ASF::Attribute::UnicodeType:
            return parse_text(FromTag(attribute->toString()));
        default:
            return 0;
    }
}

uint32_t ParseUnsigned(const std::string& text) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return 0;
    unsigned value = 0;
    return std::sscanf(text.c_str(), "%u", &value) == 1 ? value : 0;
}

void SetAttributeText(TagLib::ASF::Tag& tag, const char* name, const std::string& text) {
    if (text.empty())
        tag.removeItem(name);
    else
        tag.setAttribute(name, TagLib::ASF::Attribute(ToTag(text)));
}

void SetAttributeNumber(TagLib::ASF::Tag& tag, const char* name, uint32_t value) {
    if (value == 0)
        tag.removeItem(name);
    else
        tag.setAttribute(name, TagLib::ASF::Attribute(static_cast<unsigned int>(value)));
}

// ---------------------------------------------------------------------------------------------
// Reading, one property set at a time. For MP3 the summary set is the ID3v2 tag alone and the
// music set is every tag of the file (ID3v2, then APE, then ID3v1), so that a title found only
// in an ID3v1 tag still reaches the empty title.

void ReadSummarySet(const PropertyStorage& storage, VeMediaProperties& record) {
    if (storage.mpeg) {
        if (!storage.mpeg->hasID3v2Tag()) return;  // the set is not there
        const TagLib::ID3v2::Tag* id3 = storage.mpeg->ID3v2Tag();
        record.title = FromTag(id3->title());
        record.comments = FromTag(id3->comment());
    } else {
        const TagLib::ASF::Tag* tag = storage.asf->tag();
        if (!tag) return;
        record.title = FromTag(tag->title());
        record.comments = FromTag(tag->comment());
    }
}

uint32_t Mp3Year(TagLib::MPEG::File& file) {
    // TagLib turns an ID3v2.3 "TYER" into "TDRC" as it reads.
    if (const TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(); id3 && !id3->frameList("TDRC").isEmpty())
        return ParseYear(FrameText(*id3, "TDRC"));
    return file.tag()->year();
}

void ReadMusicSet(const PropertyStorage& storage, VeMediaProperties& record) {
    const TagLib::Tag* tag = storage.File()->tag();
    if (!tag) return;
    record.artist = FromTag(tag->artist());
    if (record.title.empty()) record.title = FromTag(tag->title());
    record.album = storage.asf ? AttributeText(*storage.asf->tag(), "WM/AlbumTitle") : FromTag(tag->album());
    record.year =
        storage.asf ? AttributeNumber(*storage.asf->tag(), "WM/Year", ParseYear) : Mp3Year(*storage.mpeg);
    if (record.music_comment.empty()) record.music_comment = FromTag(tag->comment());
    record.track =
        storage.asf ? AttributeNumber(*storage.asf->tag(), "WM/TrackNumber", ParseUnsigned) : tag->track();
    record.genre = FromTag(tag->genre());
    if (storage.asf) {
        const TagLib::ASF::Tag& asf = *storage.asf->tag();
        record.lyrics = AttributeText(asf, "WM/Lyrics");
        record.album_artist = AttributeText(asf, "WM/AlbumArtist");
        record.subtitle = AttributeText(asf, "WM/SubTitle");
    } else if (const TagLib::ID3v2::Tag* id3 = storage.mpeg->ID3v2Tag()) {
        record.lyrics = LyricsText(*id3);
        record.album_artist = FrameText(*id3, "TPE2");
        record.subtitle = FrameText(*id3, "TIT3");
    }
}

void ReadMediaSummarySet(const PropertyStorage& storage, VeMediaProperties& record) {
    uint32_t rating = 0;
    if (storage.asf) {
        rating = AttributeNumber(*storage.asf->tag(), "WM/SharedUserRating", ParseUnsigned);
    } else if (const TagLib::ID3v2::Tag* id3 = storage.mpeg->ID3v2Tag()) {
        if (const auto* frame = RatingFrame(*id3)) rating = PopularimeterToRating(frame->rating());
    }
    record.rating = ValidRating(rating);
}

void ReadAudioSummarySet(const PropertyStorage& storage, VeMediaProperties& record) {
    const TagLib::AudioProperties* audio = storage.File()->audioProperties();
    if (!audio) return;
    const auto whole = [](int value) { return value > 0 ? static_cast<uint32_t>(value) : 0u; };
    record.duration_ms = whole(audio->lengthInMilliseconds());
    record.average_data_rate = whole(audio->bitrate()) * 1000;  // TagLib gives kbit/s
    record.sample_rate = whole(audio->sampleRate());
    record.channel_count = whole(audio->channels());
    if (storage.asf) record.sample_size = whole(storage.asf->audioProperties()->bitsPerSample());
}

// ---------------------------------------------------------------------------------------------
// Writing, one property set at a time, all into the same open file.

// The fields that every tag kind has; existing ID3v1 and APE tags of an MP3 follow the ID3v2
// tag so that no stale value outlives the write.
void WriteBasicFields(TagLib::Tag& tag, const VeMediaProperties& record, const std::string& comment) {
    tag.setTitle(ToTag(record.title));
    tag.setArtist(ToTag(record.artist));
    tag.setAlbum(ToTag(record.album));
    tag.setComment(ToTag(comment));
    tag.setGenre(ToTag(record.genre));
    tag.setYear(record.year);
    tag.setTrack(record.track);
}

// TagLib keeps an empty ID3v1 tag in memory for every MP3; only one the file has is written.
void WriteOtherMp3Tags(TagLib::MPEG::File& file, const VeMediaProperties& record,
                       const std::string& comment) {
    if (file.hasID3v1Tag()) WriteBasicFields(*file.ID3v1Tag(), record, comment);
    if (file.hasAPETag()) WriteBasicFields(*file.APETag(), record, comment);
}

void WriteSummarySet(PropertyStorage& storage, const VeMediaProperties& record, const std::string& comment) {
    if (storage.mpeg) {
        TagLib::ID3v2::Tag& id3 = *storage.mpeg->ID3v2Tag(true);
        SetTextFrame(id3, "TIT2", record.title);
        SetComment(id3, comment);
    } else {
        TagLib::ASF::Tag& tag = *storage.asf->tag();
        tag.setTitle(ToTag(record.title));
        tag.setComment(ToTag(comment));
    }
}

void WriteMusicSet(PropertyStorage& storage, const VeMediaProperties& record, const std::string& comment) {
    if (storage.mpeg) {
        TagLib::ID3v2::Tag& id3 = *storage.mpeg->ID3v2Tag(true);
        SetTextFrame(id3, "TPE1", record.artist);
        SetTextFrame(id3, "TIT2", record.title);
        SetTextFrame(id3, "TALB", record.album);
        SetTextFrame(id3, "TDRC", record.year ? FormatNumber(record.year) : std::string());
        SetComment(id3, comment);
        SetTextFrame(id3, "TRCK", record.track ? FormatNumber(record.track) : std::string());
        SetTextFrame(id3, "TCON", record.genre);
        SetLyrics(id3, record.lyrics);
        SetTextFrame(id3, "TPE2", record.album_artist);
        SetTextFrame(id3, "TIT3", record.subtitle);
        WriteOtherMp3Tags(*storage.mpeg, record, comment);
    } else {
        TagLib::ASF::Tag& tag = *storage.asf->tag();
        tag.setArtist(ToTag(record.artist));
        tag.setTitle(ToTag(record.title));
        SetAttributeText(tag, "WM/AlbumTitle", record.album);
        // Windows Media keeps the year as text; a reader takes a number as well.
        SetAttributeText(tag, "WM/Year", record.year ? FormatNumber(record.year) : std::string());
        tag.setComment(ToTag(comment));
        SetAttributeNumber(tag, "WM/TrackNumber", record.track);
        SetAttributeText(tag, "WM/Genre", record.genre);
        SetAttributeText(tag, "WM/Lyrics", record.lyrics);
        SetAttributeText(tag, "WM/AlbumArtist", record.album_artist);
        SetAttributeText(tag, "WM/SubTitle", record.subtitle);
    }
}

void WriteMediaSummarySet(PropertyStorage& storage, const VeMediaProperties& record) {
    if (storage.mpeg)
        SetRating(*storage.mpeg->ID3v2Tag(true), record.rating);
    else
        SetAttributeNumber(*storage.asf->tag(), "WM/SharedUserRating", ValidRating(record.rating));
}

bool CommitStorage(PropertyStorage& storage) {
    if (storage.mpeg) {
        // The tags the file had are rewritten; no other kind is added, none made from another.
        TagLib::MPEG::File& file = *storage.mpeg;
        int tags = TagLib::MPEG::File::ID3v2;
        if (file.hasID3v1Tag()) tags |= TagLib::MPEG::File::ID3v1;
        if (file.hasAPETag()) tags |= TagLib::MPEG::File::APE;
        return file.save(tags, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate);
    }
    return storage.asf->save();
}

std::string JoinValues(const TagLib::StringList& values) {
    std::string text;
    for (const auto& value : values) {
        if (!text.empty()) text += "; ";
        text += FromTag(value);
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

bool VeMediaProperties::ReadAll(const std::string& path) {
    ReadColumnTexts(path);
    // Reading the properties starts from an empty record; the texts just found are kept.
    auto texts = std::move(column_texts);
    const bool read = ReadMediaProperties(path);
    column_texts = std::move(texts);
    return read;
}

bool VeMediaProperties::ReadMediaProperties(const std::string& path) {
    return ReadMediaPropertiesAs(path, GetAudioFileType(path));
}

bool VeMediaProperties::ReadMediaPropertiesAs(const std::string& path, AudioFileType type) {
    // 1. An empty record.
    Clear();
    loaded = 1;
    try {
        // 2. Bind for reading.
        PropertyStorage storage;
        Check(BindPropertySetStorage(path, type, storage, true), "no property storage");
        // 3. The four sets in order; a set the file does not have gives nothing.
        ReadSummarySet(storage, *this);
        ReadMusicSet(storage, *this);
        ReadMediaSummarySet(storage, *this);
        ReadAudioSummarySet(storage, *this);
    } catch (const std::exception&) {
        Clear();
        return false;
    }
    // 4. Every set there was has been read.
    return loaded != 0;
}

bool VeMediaProperties::WriteMediaProperties(const std::string& path) const {
    return WriteMediaPropertiesAs(path, GetAudioFileType(path));
}

bool VeMediaProperties::WriteMediaPropertiesAs(const std::string& path, AudioFileType type) const {
    try {
        Check(type == AudioFileType::Mp3 || type == AudioFileType::Wma, "no property storage");
        FileReplacement replacement;
        Check(replacement.Open(path), "the file cannot be replaced");
        // 1. Bind for writing.
        PropertyStorage storage;
        Check(BindPropertySetStorage(path, type, storage, false, &replacement), "no property storage");
        // 2. Summary information, music and media file summary, in that order. The music
        // comment is written from the summary comments; a comment found only in the music set
        // is written rather than lost.
        const std::string& comment = comments.empty() ? music_comment : comments;
        WriteSummarySet(storage, *this, comment);
        WriteMusicSet(storage, *this, comment);
        WriteMediaSummarySet(storage, *this);
        // 3. Commit. The new contents take the file's place only once they are complete on disk.
        Check(CommitStorage(storage), "the tags could not be saved");
        const int out = replacement.CreateNew();
        Check(out >= 0, "cannot make the new file");
        Check(static_cast<const EditedFileStream&>(*storage.stream).WriteTo(out), "cannot write the new file");
        Check(replacement.Commit(), "cannot replace the file");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string VeMediaProperties::LookupText(const std::string& key) const {
    const auto it = column_texts.find(key);
    return it == column_texts.end() ? std::string() : it->second;
}

bool VeMediaProperties::ReadColumnTexts(const std::string& path) {
    column_texts.clear();
    try {
        PropertyStorage storage;
        if (!BindPropertySetStorage(path, GetAudioFileType(path), storage, true)) return false;
        const TagLib::PropertyMap map = storage.File()->properties();
        for (const auto& [key, values] : map) column_texts[FromTag(key)] = JoinValues(values);
        return true;
    } catch (const std::exception&) {
        column_texts.clear();
        return false;
    }
}

bool VeMediaProperties::HasContent() const {
    return !title.empty() || !comments.empty() || !artist.empty() || !album.empty() || !genre.empty() ||
           !lyrics.empty() || !album_artist.empty() || !subtitle.empty() || !music_comment.empty() ||
           year != 0 || track != 0 || rating != 0;
}

void VeMediaProperties::Clear() { *this = VeMediaProperties(); }

}  // namespace chm
