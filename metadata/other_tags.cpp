#include "metadata/other_tags.h"

#include <sys/stat.h>
#include <taglib/asffile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <vector>

#include "audio/edited_file_stream.h"
#include "platform/file_replacement.h"

namespace chm {
namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// The frames that the properties write (TagLib reads a v2.3 TYER as TDRC), and those that
// became false: loudness, the encoder's name and settings.
bool IsCarriedFrame(const TagLib::ID3v2::Frame& frame) {
    static const char* const kSkipped[] = {"TIT2", "COMM", "TPE1", "TALB", "TDRC", "TYER", "TRCK", "TCON",
                                           "USLT", "TPE2", "TIT3", "POPM", "RVA2", "RVAD", "RGAD", "TSSE"};
    const std::string id(frame.frameID().data(), frame.frameID().size());
    if (std::any_of(std::begin(kSkipped), std::end(kSkipped), [&](const char* skipped) { return id == skipped; }))
        return false;
    if (const auto* user = dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame*>(&frame)) {
        const std::string key = user->description().to8Bit(true);
        return !IsLoudnessKey(key) && !IsEncoderSettingsKey(key) && Upper(key) != "ENCODER";
    }
    return true;
}

// The attributes that the properties write, and those that described the source's stream or
// encoder, or its loudness.
bool IsCarriedAttribute(const std::string& name) {
    static const char* const kSkipped[] = {"WM/ALBUMTITLE", "WM/YEAR", "WM/TRACKNUMBER", "WM/GENRE",
                                           "WM/LYRICS", "WM/ALBUMARTIST", "WM/SUBTITLE", "WM/SHAREDUSERRATING",
                                           "ISVBR", "DEVICECONFORMANCETEMPLATE", "WM/TOOLNAME", "WM/TOOLVERSION",
                                           "WM/ENCODINGSETTINGS", "WM/ENCODINGTIME", "WM/STREAMTYPEINFO"};
    const std::string key = Upper(name);
    if (std::any_of(std::begin(kSkipped), std::end(kSkipped), [&](const char* skipped) { return key == skipped; }))
        return false;
    return !key.starts_with("WMFSDK") && !key.starts_with("WM/WMADRC") && !IsLoudnessKey(name);
}

// The ReplayGain family is the one ID3 and ASF carry loudness in.
bool HasTrackLoudness(const std::string& key) { return TrackLoudnessOf(key).replaygain; }

}  // namespace

struct OtherTags::Held {
    AudioFileType type = AudioFileType::Unsupported;
    std::vector<TagLib::ByteVector> frames;  // rendered as ID3v2.4
    std::vector<std::pair<TagLib::String, TagLib::ASF::AttributeList>> attributes;
    bool track_loudness = false;
};

OtherTags::OtherTags() : held_(std::make_unique<Held>()) {}
OtherTags::~OtherTags() = default;

bool OtherTags::HasContent() const { return !held_->frames.empty() || !held_->attributes.empty() || held_->track_loudness; }

void OtherTags::Read(const std::string& source, AudioFileType type) {
    *held_ = Held();
    held_->type = type;
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    TagLib::FileStream stream(source.c_str(), true);
    if (!stream.isOpen()) return;
    if (type == AudioFileType::Mp3) {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        if (!file.isValid() || !file.hasID3v2Tag()) return;
        for (const TagLib::ID3v2::Frame* frame : file.ID3v2Tag()->frameList()) {
            if (const auto* user = dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame*>(frame))
                held_->track_loudness |= HasTrackLoudness(user->description().to8Bit(true));
            if (IsCarriedFrame(*frame)) held_->frames.push_back(frame->render());
        }
    } else if (type == AudioFileType::Wma) {
        TagLib::ASF::File file(&stream, false);
        if (!file.isValid() || !file.tag()) return;
        for (const auto& [name, values] : file.tag()->attributeListMap()) {
            held_->track_loudness |= HasTrackLoudness(name.to8Bit(true));
            if (IsCarriedAttribute(name.to8Bit(true))) held_->attributes.emplace_back(name, values);
        }
    }
}

bool OtherTags::Write(const std::string& output, const std::function<bool(PcmReceiver& receiver)>& decode) const {
    if (!HasContent()) return true;
    std::optional<Loudness> loudness;
    if (held_->track_loudness) {
        LoudnessMeter meter;
        if (decode(meter)) loudness = meter.Result();
    }
    TagFields measured;
    if (loudness) AddLoudnessTags(measured, LoudnessFamilies{true, false}, *loudness);
    try {
        FileReplacement replacement;
        if (!replacement.Open(output)) return false;
        EditedFileStream stream(replacement.OriginalFd(), replacement.OriginalSize(), output);
        bool saved = false;
        if (held_->type == AudioFileType::Mp3) {
            TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
            if (!file.isValid()) return false;
            TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
            TagLib::ID3v2::Header header;
            header.setMajorVersion(4);
            for (const TagLib::ByteVector& rendered : held_->frames)
                if (TagLib::ID3v2::Frame* frame = TagLib::ID3v2::FrameFactory::instance()->createFrame(rendered, &header))
                    tag.addFrame(frame);  // the tag owns its frames
            for (const auto& [key, values] : measured) {
                auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF8);
                frame->setDescription(TagLib::String(key, TagLib::String::UTF8));
                frame->setText(TagLib::String(values.front(), TagLib::String::UTF8));
                tag.addFrame(frame.release());
            }
            // The kinds of tag the output has, as the properties left them.
            int kinds = TagLib::MPEG::File::ID3v2;
            if (file.hasID3v1Tag()) kinds |= TagLib::MPEG::File::ID3v1;
            if (file.hasAPETag()) kinds |= TagLib::MPEG::File::APE;
            saved = file.save(kinds, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate);
        } else {
            TagLib::ASF::File file(&stream, false);
            if (!file.isValid() || !file.tag()) return false;
            for (const auto& [name, values] : held_->attributes) file.tag()->setAttribute(name, values);
            for (const auto& [key, values] : measured)
                file.tag()->setAttribute(TagLib::String(key, TagLib::String::UTF8),
                                         TagLib::ASF::Attribute(TagLib::String(values.front(), TagLib::String::UTF8)));
            saved = file.save();
        }
        if (!saved) return false;
        const int out = replacement.CreateNew();
        return out >= 0 && stream.WriteTo(out) && replacement.Commit();
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace chm
