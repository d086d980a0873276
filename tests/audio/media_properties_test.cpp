// Media properties: reading them from MP3 and WMA files, carrying them over between the two,
// the rules of the property table, and writing without harm to the file.
#include "audio/media_properties.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <taglib/asffile.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/popularimeterframe.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process_memory.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::MemoryStatus;
using test::ReadFileBytes;
using test::ResetPeakMemory;
using test::ScratchDir;
using test::WriteTextFile;

// ---------------------------------------------------------------------------------------------
// Outside tools

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string Capture(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), &::pclose);
    if (!pipe) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output.append(buffer, got);
    return output;
}

int Run(const std::string& command) { return std::system(command.c_str()); }

// ffprobe's view of the container tags, keys in lower case.
std::map<std::string, std::string> ProbeTags(const std::string& path) {
    const std::string text =
        Capture("ffprobe -v error -show_entries format_tags -of default=noprint_wrappers=1 " + Quote(path));
    std::map<std::string, std::string> tags;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.rfind("TAG:", 0) != 0) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(4, equals - 4);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tags[key] = line.substr(equals + 1);
    }
    return tags;
}

double ProbeDuration(const std::string& path) {
    const std::string text =
        Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path));
    return text.empty() ? -1.0 : std::atof(text.c_str());
}

// A digest of the decoded samples: equal digests mean the same audio.
std::string DecodedDigest(const std::string& path) {
    return Capture("ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0:a -f s16le - | md5sum");
}

// ---------------------------------------------------------------------------------------------
// Test media

// The properties every carry-over test expects, with texts from several scripts.
struct Expected {
    std::string title = "Jóga — Björk 日本語のタイトル";
    std::string artist = "Björk";
    std::string album = "Homogenic ☃";
    uint32_t year = 1997;
    uint32_t track = 3;
    std::string genre = "Electronic";
    std::string comment = "Ein Kommentar: ÄÖÜ ß — 注释";
    std::string album_artist = "Björk & Friends";
    std::string subtitle = "Live in Reykjavík";
    std::string lyrics = "Line one\nLine two — ünïcødé";
    uint32_t rating = 75;
};

VeMediaProperties RecordOf(const Expected& e) {
    VeMediaProperties record;
    record.title = e.title;
    record.comments = e.comment;
    record.artist = e.artist;
    record.album = e.album;
    record.year = e.year;
    record.track = e.track;
    record.genre = e.genre;
    record.lyrics = e.lyrics;
    record.album_artist = e.album_artist;
    record.subtitle = e.subtitle;
    record.rating = e.rating;
    return record;
}

TagLib::String Utf8(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }
std::string Text(const TagLib::String& text) { return text.to8Bit(true); }

std::string FfmpegMetadata(const Expected& e) {
    return " -metadata title=" + Quote(e.title) + " -metadata artist=" + Quote(e.artist) +
           " -metadata album=" + Quote(e.album) + " -metadata date=" + std::to_string(e.year) +
           " -metadata track=" + std::to_string(e.track) + " -metadata genre=" + Quote(e.genre) +
           " -metadata comment=" + Quote(e.comment) + " -metadata album_artist=" + Quote(e.album_artist);
}

const std::string kSine =
    "ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=2:sample_rate=44100 -ac 2 "
    "-map_metadata -1 -fflags +bitexact ";

// Two seconds of a stereo sine. Without metadata the MP3 gets no ID3v2 tag at all.
void MakeMp3(const std::string& path, const std::string& metadata = {}) {
    const std::string id3 = metadata.empty() ? "-id3v2_version 0" : "-id3v2_version 3";
    ASSERT_EQ(Run(kSine + "-c:a libmp3lame -b:a 128k " + id3 + metadata + " " + Quote(path)), 0);
}

void MakeWma(const std::string& path, const std::string& metadata = {}) {
    ASSERT_EQ(Run(kSine + "-c:a wmav2 -b:a 128k" + metadata + " " + Quote(path)), 0);
}

void MakeAudio(const std::string& path, const std::string& metadata = {}) {
    if (path.size() > 4 && path.substr(path.size() - 4) == ".wma")
        MakeWma(path, metadata);
    else
        MakeMp3(path, metadata);
}

// A source with every property, written through TagLib's own tag interface as a tag editor
// would: ID3v2.3 for MP3 (so that its "TYER" year is read too), the usual ASF attributes for WMA.
void TagMp3(const std::string& path, const Expected& e) {
    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->setTitle(Utf8(e.title));
    tag->setArtist(Utf8(e.artist));
    tag->setAlbum(Utf8(e.album));
    tag->setYear(e.year);
    tag->setTrack(e.track);
    tag->setGenre(Utf8(e.genre));
    tag->setComment(Utf8(e.comment));
    auto album_artist =
        std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TPE2", TagLib::String::UTF16);
    album_artist->setText(Utf8(e.album_artist));
    tag->addFrame(album_artist.release());
    auto subtitle = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TIT3", TagLib::String::UTF16);
    subtitle->setText(Utf8(e.subtitle));
    tag->addFrame(subtitle.release());
    auto lyrics = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(TagLib::String::UTF16);
    lyrics->setLanguage("eng");
    lyrics->setText(Utf8(e.lyrics));
    tag->addFrame(lyrics.release());
    auto rating = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
    rating->setEmail("Windows Media Player 9 Series");
    rating->setRating(196);  // what Windows writes for four stars, its rating 75
    tag->addFrame(rating.release());
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3));
}

void TagWma(const std::string& path, const Expected& e) {
    TagLib::ASF::File file(path.c_str());
    TagLib::ASF::Tag* tag = file.tag();
    tag->setTitle(Utf8(e.title));
    tag->setArtist(Utf8(e.artist));
    tag->setAlbum(Utf8(e.album));
    tag->setYear(e.year);
    tag->setTrack(e.track);
    tag->setGenre(Utf8(e.genre));
    tag->setComment(Utf8(e.comment));
    tag->setAttribute("WM/AlbumArtist", TagLib::ASF::Attribute(Utf8(e.album_artist)));
    tag->setAttribute("WM/SubTitle", TagLib::ASF::Attribute(Utf8(e.subtitle)));
    tag->setAttribute("WM/Lyrics", TagLib::ASF::Attribute(Utf8(e.lyrics)));
    tag->setAttribute("WM/SharedUserRating", TagLib::ASF::Attribute(static_cast<unsigned int>(e.rating)));
    ASSERT_TRUE(file.save());
}

void MakeTaggedSource(const std::string& path, const Expected& e) {
    MakeAudio(path);
    if (path.substr(path.size() - 4) == ".wma")
        TagWma(path, e);
    else
        TagMp3(path, e);
}

// ---------------------------------------------------------------------------------------------
// Checks

void ExpectRecord(const VeMediaProperties& record, const Expected& e) {
    EXPECT_EQ(record.title, e.title);
    EXPECT_EQ(record.comments, e.comment);
    EXPECT_EQ(record.artist, e.artist);
    EXPECT_EQ(record.album, e.album);
    EXPECT_EQ(record.year, e.year);
    EXPECT_EQ(record.track, e.track);
    EXPECT_EQ(record.genre, e.genre);
    EXPECT_EQ(record.lyrics, e.lyrics);
    EXPECT_EQ(record.album_artist, e.album_artist);
    EXPECT_EQ(record.subtitle, e.subtitle);
    EXPECT_EQ(record.music_comment, e.comment);
    EXPECT_EQ(record.rating, e.rating);
    EXPECT_TRUE(record.HasContent());
}

std::string FrameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const auto& frames = tag.frameList(id);
    return frames.isEmpty() ? std::string() : Text(frames.front()->toString());
}

int PopularimeterOf(const std::string& path) {
    TagLib::MPEG::File file(path.c_str());
    const TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    if (!tag || tag->frameList("POPM").isEmpty()) return -1;
    return dynamic_cast<const TagLib::ID3v2::PopularimeterFrame*>(tag->frameList("POPM").front())->rating();
}

// The written MP3 as TagLib sees it, frame by frame.
void ExpectMp3Frames(const std::string& path, const Expected& e) {
    TagLib::MPEG::File file(path.c_str());
    ASSERT_TRUE(file.isValid());
    const TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(FrameText(*tag, "TIT2"), e.title);
    EXPECT_EQ(FrameText(*tag, "TPE1"), e.artist);
    EXPECT_EQ(FrameText(*tag, "TALB"), e.album);
    EXPECT_EQ(FrameText(*tag, "TDRC"), std::to_string(e.year));
    EXPECT_EQ(FrameText(*tag, "TRCK"), std::to_string(e.track));
    EXPECT_EQ(FrameText(*tag, "TCON"), e.genre);
    EXPECT_EQ(Text(tag->comment()), e.comment);
    EXPECT_EQ(FrameText(*tag, "TPE2"), e.album_artist);
    EXPECT_EQ(FrameText(*tag, "TIT3"), e.subtitle);
    EXPECT_EQ(FrameText(*tag, "USLT"), e.lyrics);
    ASSERT_EQ(tag->frameList("POPM").size(), 1u);
    const auto* popm = dynamic_cast<const TagLib::ID3v2::PopularimeterFrame*>(tag->frameList("POPM").front());
    EXPECT_EQ(Text(popm->email()), "Windows Media Player 9 Series");
    EXPECT_EQ(popm->rating(), 196);
}

std::string AttributeText(const TagLib::ASF::Tag& tag, const char* name) {
    const auto values = tag.attribute(name);
    return values.isEmpty() ? std::string() : Text(values.front().toString());
}

void ExpectWmaAttributes(const std::string& path, const Expected& e) {
    TagLib::ASF::File file(path.c_str());
    ASSERT_TRUE(file.isValid());
    const TagLib::ASF::Tag* tag = file.tag();
    EXPECT_EQ(Text(tag->title()), e.title);
    EXPECT_EQ(Text(tag->artist()), e.artist);
    EXPECT_EQ(Text(tag->comment()), e.comment);
    EXPECT_EQ(AttributeText(*tag, "WM/AlbumTitle"), e.album);
    EXPECT_EQ(AttributeText(*tag, "WM/Year"), std::to_string(e.year));
    EXPECT_EQ(tag->track(), e.track);
    EXPECT_EQ(AttributeText(*tag, "WM/Genre"), e.genre);
    EXPECT_EQ(AttributeText(*tag, "WM/AlbumArtist"), e.album_artist);
    EXPECT_EQ(AttributeText(*tag, "WM/SubTitle"), e.subtitle);
    EXPECT_EQ(AttributeText(*tag, "WM/Lyrics"), e.lyrics);
    const auto rating = tag->attribute("WM/SharedUserRating");
    ASSERT_EQ(rating.size(), 1u);
    EXPECT_EQ(rating.front().type(), TagLib::ASF::Attribute::DWordType);
    EXPECT_EQ(rating.front().toUInt(), e.rating);
}

// ffprobe names the ASF year by its attribute name.
void ExpectProbedTags(const std::string& path, const Expected& e) {
    auto tags = ProbeTags(path);
    const bool wma = path.substr(path.size() - 4) == ".wma";
    EXPECT_EQ(tags["title"], e.title);
    EXPECT_EQ(tags["artist"], e.artist);
    EXPECT_EQ(tags["album"], e.album);
    EXPECT_EQ(tags[wma ? "wm/year" : "date"], std::to_string(e.year));
    EXPECT_EQ(tags["track"], std::to_string(e.track));
    EXPECT_EQ(tags["genre"], e.genre);
    EXPECT_EQ(tags["comment"], e.comment);
    EXPECT_EQ(tags["album_artist"], e.album_artist);
}

void ExpectWrittenFile(const std::string& path, const Expected& e) {
    if (path.substr(path.size() - 4) == ".wma")
        ExpectWmaAttributes(path, e);
    else
        ExpectMp3Frames(path, e);
    ExpectProbedTags(path, e);
}

void ExpectCleared(const VeMediaProperties& record) {
    EXPECT_EQ(record.loaded, 0);
    EXPECT_TRUE(record.column_texts.empty());
    EXPECT_FALSE(record.HasContent());
    EXPECT_TRUE(record.title.empty());
    EXPECT_TRUE(record.artist.empty());
    EXPECT_EQ(record.duration_ms, 0u);
    EXPECT_EQ(record.average_data_rate, 0u);
    EXPECT_EQ(record.sample_rate, 0u);
    EXPECT_EQ(record.sample_size, 0u);
    EXPECT_EQ(record.channel_count, 0u);
}

// A record with something in every field, to see that a read clears it.
VeMediaProperties Stale() {
    VeMediaProperties record = RecordOf(Expected{});
    record.loaded = 1;
    record.column_texts["TITLE"] = "stale";
    record.music_comment = "stale";
    record.duration_ms = 1;
    record.average_data_rate = 1;
    record.sample_rate = 1;
    record.sample_size = 1;
    record.channel_count = 1;
    return record;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

// One silent MPEG-1 Layer III frame: 128 kbit/s, 44100 Hz, mono, no padding.
std::vector<char> SilentFrame() {
    std::vector<char> frame(417, 0);
    const unsigned char header[] = {0xFF, 0xFB, 0x90, 0xC4};
    std::copy(std::begin(header), std::end(header), frame.begin());
    return frame;
}

// An MP3 of silent frames, `head` of them at the start and `tail` of them ending the file at
// `size` (or right after the head when size is 0, the file then being written whole, a
// megabyte at a time). Returns the file's length.
int64_t WriteSilentMp3(const std::string& path, size_t head, size_t tail, int64_t size) {
    const std::vector<char> frame = SilentFrame();
    std::vector<char> block;
    for (size_t i = 0; i < 2500; ++i) block.insert(block.end(), frame.begin(), frame.end());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    auto put = [&](size_t frames, int64_t at) {
        for (size_t done = 0; done < frames;) {
            const size_t n = std::min<size_t>(frames - done, 2500);
            const auto bytes = static_cast<ssize_t>(n * frame.size());
            if (::pwrite(fd, block.data(), static_cast<size_t>(bytes), at) != bytes) return false;
            at += bytes;
            done += n;
        }
        return true;
    };
    const int64_t tail_bytes = static_cast<int64_t>(tail * frame.size());
    if (size == 0) size = static_cast<int64_t>((head + tail) * frame.size());
    const bool ok = put(head, 0) && ::ftruncate(fd, size) == 0 && put(tail, size - tail_bytes);
    ::close(fd);
    return ok ? size : -1;
}

// ---------------------------------------------------------------------------------------------

class MediaPropertiesTest : public ::testing::Test {
protected:
    std::string File(const std::string& name) const { return dir_.File(name); }

    ScratchDir dir_;
};

// ---------------------------------------------------------------------------------------------
// Carry-over: read from a source made by other programs, write into a fresh output.

class CarryOverTest : public MediaPropertiesTest {
protected:
    void CarryOver(const std::string& source_name, const std::string& output_name) {
        const Expected e;
        const std::string source = File(source_name);
        const std::string output = File(output_name);
        MakeTaggedSource(source, e);
        MakeAudio(output);

        VeMediaProperties read;
        ASSERT_TRUE(read.ReadMediaProperties(source));
        EXPECT_EQ(read.loaded, 1);
        ExpectRecord(read, e);
        ASSERT_TRUE(read.WriteMediaProperties(output));

        ExpectWrittenFile(output, e);
        VeMediaProperties again;
        ASSERT_TRUE(again.ReadMediaProperties(output));
        ExpectRecord(again, e);
    }
};

TEST_F(CarryOverTest, Mp3ToMp3CarriesEveryProperty) { CarryOver("source.mp3", "output.mp3"); }
TEST_F(CarryOverTest, WmaToWmaCarriesEveryProperty) { CarryOver("source.wma", "output.wma"); }
TEST_F(CarryOverTest, Mp3ToWmaCarriesEveryProperty) { CarryOver("source.mp3", "output.wma"); }
TEST_F(CarryOverTest, WmaToMp3CarriesEveryProperty) { CarryOver("source.wma", "output.mp3"); }

// ffmpeg writes ID3v2.3 text frames for these (its comment goes to a TXXX frame instead).
TEST_F(CarryOverTest, ReadsTheFramesFfmpegWrites) {
    const Expected e;
    const std::string path = File("ffmpeg.mp3");
    MakeMp3(path, FfmpegMetadata(e));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.title, e.title);
    EXPECT_EQ(record.artist, e.artist);
    EXPECT_EQ(record.album, e.album);
    EXPECT_EQ(record.year, e.year);
    EXPECT_EQ(record.track, e.track);
    EXPECT_EQ(record.genre, e.genre);
    EXPECT_EQ(record.album_artist, e.album_artist);
}

TEST_F(CarryOverTest, NonAsciiPathsReadAndWrite) {
    const std::string folder = File("Müsik 日本語");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    const Expected e;
    const std::string source = folder + "/Björk — Jóga.wma";
    const std::string output = folder + "/Björk — Jóga (mono) 歌.mp3";
    MakeTaggedSource(source, e);
    MakeMp3(output);
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(source));
    ASSERT_TRUE(record.WriteMediaProperties(output));
    ExpectWrittenFile(output, e);
}

// An older tag of the file must not keep values the new one contradicts.
TEST_F(CarryOverTest, ExistingId3v1TagFollowsTheWrite) {
    const std::string path = File("v1.mp3");
    MakeMp3(path);
    {
        TagLib::MPEG::File file(path.c_str());
        file.ID3v1Tag(true)->setTitle("Old Title");
        file.ID3v1Tag()->setArtist("Old Artist");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    record.title = "New Title";
    record.year = 2005;
    ASSERT_TRUE(record.WriteMediaProperties(path));
    TagLib::MPEG::File file(path.c_str());
    ASSERT_TRUE(file.hasID3v1Tag());
    EXPECT_EQ(Text(file.ID3v1Tag()->title()), "New Title");
    EXPECT_EQ(Text(file.ID3v1Tag()->artist()), "");
    EXPECT_EQ(file.ID3v1Tag()->year(), 2005u);
    VeMediaProperties back;
    ASSERT_TRUE(back.ReadMediaProperties(path));
    EXPECT_TRUE(back.artist.empty());
}

TEST_F(CarryOverTest, EmptyRecordRemovesTheProperties) {
    const std::string path = File("tagged.mp3");
    MakeTaggedSource(path, Expected{});
    ASSERT_TRUE(VeMediaProperties().WriteMediaProperties(path));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_FALSE(record.HasContent());
    EXPECT_TRUE(ProbeTags(path).count("title") == 0);
}

// ---------------------------------------------------------------------------------------------
// The rules of the property table.

class PropertyRulesTest : public MediaPropertiesTest {};

TEST_F(PropertyRulesTest, MusicTitleFillsAnEmptyTitle) {
    const std::string path = File("v1.mp3");
    MakeMp3(path);
    {
        TagLib::MPEG::File file(path.c_str());
        file.ID3v1Tag(true)->setTitle("Only In ID3v1");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.title, "Only In ID3v1");
}

TEST_F(PropertyRulesTest, MusicTitleDoesNotReplaceTheTitle) {
    const std::string path = File("both.mp3");
    MakeMp3(path);
    {
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag(true)->setTitle("The Title");
        file.ID3v1Tag(true)->setTitle("Older Title");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.title, "The Title");
}

TEST_F(PropertyRulesTest, MusicCommentAloneIsCarriedOver) {
    const std::string source = File("v1.mp3");
    const std::string output = File("out.wma");
    MakeMp3(source);
    MakeWma(output);
    {
        TagLib::MPEG::File file(source.c_str());
        file.ID3v1Tag(true)->setComment("kept in ID3v1");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(source));
    EXPECT_TRUE(record.comments.empty());
    EXPECT_EQ(record.music_comment, "kept in ID3v1");
    EXPECT_TRUE(record.HasContent());
    ASSERT_TRUE(record.WriteMediaProperties(output));
    EXPECT_EQ(ProbeTags(output)["comment"], "kept in ID3v1");
}

TEST_F(PropertyRulesTest, MusicCommentDoesNotReplaceTheComment) {
    const std::string path = File("both.mp3");
    MakeMp3(path);
    {
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag(true)->setComment("the comment");
        file.ID3v1Tag(true)->setComment("older comment");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.comments, "the comment");
    EXPECT_EQ(record.music_comment, "the comment");
}

void SetMp3Year(const std::string& path, const std::string& text) {
    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    tag->removeFrames("TDRC");
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>("TDRC", TagLib::String::Latin1);
    frame->setText(text);
    tag->addFrame(frame.release());
    ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
}

void SetWmaYear(const std::string& path, const TagLib::ASF::Attribute& value) {
    TagLib::ASF::File file(path.c_str());
    file.tag()->setAttribute("WM/Year", value);
    ASSERT_TRUE(file.save());
}

TEST_F(PropertyRulesTest, YearIsReadFromTheFirstFourDigitsOfItsText) {
    const std::string mp3 = File("year.mp3");
    const std::string wma = File("year.wma");
    MakeMp3(mp3);
    MakeWma(wma);
    SetMp3Year(mp3, "1999-05-01");
    SetWmaYear(wma, TagLib::ASF::Attribute(TagLib::String("1999")));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(mp3));
    EXPECT_EQ(record.year, 1999u);
    ASSERT_TRUE(record.ReadMediaProperties(wma));
    EXPECT_EQ(record.year, 1999u);
}

TEST_F(PropertyRulesTest, YearIsReadFromANumber) {
    const std::string wma = File("year.wma");
    MakeWma(wma);
    SetWmaYear(wma, TagLib::ASF::Attribute(2001u));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(wma));
    EXPECT_EQ(record.year, 2001u);
}

TEST_F(PropertyRulesTest, YearTextWithoutLeadingDigitsIsNoYear) {
    const std::string mp3 = File("year.mp3");
    MakeMp3(mp3);
    VeMediaProperties record;
    SetMp3Year(mp3, "unknown");
    ASSERT_TRUE(record.ReadMediaProperties(mp3));
    EXPECT_EQ(record.year, 0u);
    SetMp3Year(mp3, "-12");
    ASSERT_TRUE(record.ReadMediaProperties(mp3));
    EXPECT_EQ(record.year, 0u);
}

TEST_F(PropertyRulesTest, YearReadAsTextIsWrittenAsItsNumber) {
    const std::string source = File("year.wma");
    const std::string output = File("out.mp3");
    MakeWma(source);
    MakeMp3(output);
    SetWmaYear(source, TagLib::ASF::Attribute(TagLib::String("1999 (remaster)")));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(source));
    ASSERT_TRUE(record.WriteMediaProperties(output));
    TagLib::MPEG::File file(output.c_str());
    ASSERT_NE(file.ID3v2Tag(), nullptr);
    EXPECT_EQ(FrameText(*file.ID3v2Tag(), "TDRC"), "1999");
    EXPECT_EQ(ProbeTags(output)["date"], "1999");
}

void SetWmaRating(const std::string& path, unsigned int value) {
    TagLib::ASF::File file(path.c_str());
    file.tag()->setAttribute("WM/SharedUserRating", TagLib::ASF::Attribute(value));
    ASSERT_TRUE(file.save());
}

TEST_F(PropertyRulesTest, RatingOf100AndMoreReadsAsNone) {
    const std::string wma = File("rating.wma");
    MakeWma(wma);
    VeMediaProperties record;
    SetWmaRating(wma, 99);
    ASSERT_TRUE(record.ReadMediaProperties(wma));
    EXPECT_EQ(record.rating, 99u);
    SetWmaRating(wma, 100);
    ASSERT_TRUE(record.ReadMediaProperties(wma));
    EXPECT_EQ(record.rating, 0u);
    SetWmaRating(wma, 250);
    ASSERT_TRUE(record.ReadMediaProperties(wma));
    EXPECT_EQ(record.rating, 0u);
    EXPECT_FALSE(record.HasContent());
}

TEST_F(PropertyRulesTest, RatingOf100AndMoreIsNotWritten) {
    const std::string mp3 = File("rating.mp3");
    const std::string wma = File("rating.wma");
    MakeMp3(mp3);
    MakeWma(wma);
    VeMediaProperties record;
    record.title = "t";
    record.rating = 100;
    ASSERT_TRUE(record.WriteMediaProperties(mp3));
    ASSERT_TRUE(record.WriteMediaProperties(wma));
    EXPECT_EQ(PopularimeterOf(mp3), -1);
    TagLib::ASF::File file(wma.c_str());
    EXPECT_FALSE(file.tag()->contains("WM/SharedUserRating"));
}

TEST_F(PropertyRulesTest, EachFieldAloneGivesContent) {
    EXPECT_FALSE(VeMediaProperties().HasContent());
    const std::vector<std::string VeMediaProperties::*> texts = {
        &VeMediaProperties::title,        &VeMediaProperties::comments, &VeMediaProperties::artist,
        &VeMediaProperties::album,        &VeMediaProperties::genre,    &VeMediaProperties::lyrics,
        &VeMediaProperties::album_artist, &VeMediaProperties::subtitle, &VeMediaProperties::music_comment};
    for (auto field : texts) {
        VeMediaProperties record;
        record.*field = "x";
        EXPECT_TRUE(record.HasContent());
    }
    for (auto field : {&VeMediaProperties::year, &VeMediaProperties::track, &VeMediaProperties::rating}) {
        VeMediaProperties record;
        record.*field = 1;
        EXPECT_TRUE(record.HasContent());
    }
    VeMediaProperties audio_only;
    audio_only.duration_ms = 1000;
    audio_only.sample_rate = 44100;
    audio_only.channel_count = 2;
    audio_only.average_data_rate = 128000;
    audio_only.sample_size = 16;
    EXPECT_FALSE(audio_only.HasContent());
}

// ---------------------------------------------------------------------------------------------
// The rating scale of ID3v2 popularimeters.

class RatingScaleTest : public MediaPropertiesTest {};

TEST_F(RatingScaleTest, EveryRatingSurvivesAnMp3) {
    const std::string path = File("rating.mp3");
    MakeMp3(path);
    for (uint32_t rating = 0; rating <= 99; ++rating) {
        VeMediaProperties record;
        record.rating = rating;
        ASSERT_TRUE(record.WriteMediaProperties(path));
        VeMediaProperties back;
        ASSERT_TRUE(back.ReadMediaProperties(path));
        EXPECT_EQ(back.rating, rating);
    }
}

TEST_F(RatingScaleTest, StarsWrittenByWindowsReadAsItsRatings) {
    const std::string path = File("stars.mp3");
    MakeMp3(path);
    const std::pair<int, uint32_t> stars[] = {{1, 1}, {64, 25}, {128, 50}, {196, 75}, {255, 99}};
    for (const auto& [popularimeter, rating] : stars) {
        {
            TagLib::MPEG::File file(path.c_str());
            TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
            tag->removeFrames("POPM");
            auto frame = std::make_unique<TagLib::ID3v2::PopularimeterFrame>();
            frame->setEmail("someone@example.org");  // another program's frame serves as well
            frame->setRating(popularimeter);
            tag->addFrame(frame.release());
            ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
        }
        VeMediaProperties record;
        ASSERT_TRUE(record.ReadMediaProperties(path));
        EXPECT_EQ(record.rating, rating) << "popularimeter " << popularimeter;
    }
}

TEST_F(RatingScaleTest, TopRatingIsWrittenAsTheTopPopularimeter) {
    const std::string path = File("top.mp3");
    MakeMp3(path);
    VeMediaProperties record;
    record.rating = 99;
    ASSERT_TRUE(record.WriteMediaProperties(path));
    EXPECT_EQ(PopularimeterOf(path), 255);
    record.rating = 1;
    ASSERT_TRUE(record.WriteMediaProperties(path));
    EXPECT_EQ(PopularimeterOf(path), 1);
}

// ---------------------------------------------------------------------------------------------
// Files without properties, and files that cannot be read.

class EmptyRecordTest : public MediaPropertiesTest {};

TEST_F(EmptyRecordTest, Mp3WithoutTagsGivesNoContent) {
    const std::string path = File("plain.mp3");
    MakeMp3(path);
    VeMediaProperties record = Stale();
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.loaded, 1);
    EXPECT_FALSE(record.HasContent());
    EXPECT_TRUE(record.title.empty());
    EXPECT_TRUE(record.column_texts.empty());
    // The audio summary is there all the same.
    EXPECT_NEAR(record.duration_ms, 2000.0, 80.0);
    EXPECT_EQ(record.sample_rate, 44100u);
    EXPECT_EQ(record.channel_count, 2u);
    EXPECT_NEAR(record.average_data_rate, 128000.0, 8000.0);
    EXPECT_EQ(record.sample_size, 0u);
}

TEST_F(EmptyRecordTest, WmaWithoutTagsGivesNoContent) {
    const std::string path = File("plain.wma");
    MakeWma(path);
    VeMediaProperties record = Stale();
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.loaded, 1);
    EXPECT_FALSE(record.HasContent());
    EXPECT_NEAR(record.duration_ms, 2000.0, 80.0);
    EXPECT_EQ(record.sample_rate, 44100u);
    EXPECT_EQ(record.channel_count, 2u);
    EXPECT_NEAR(record.average_data_rate, 128000.0, 8000.0);
    EXPECT_EQ(record.sample_size, 16u);
}

TEST_F(EmptyRecordTest, GarbageNamedMp3GivesAnEmptyRecord) {
    const std::string path = File("garbage.mp3");
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "This is not audio at all. ";
    WriteTextFile(path, text);
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(path));
    ExpectCleared(record);
}

TEST_F(EmptyRecordTest, GarbageNamedWmaGivesAnEmptyRecord) {
    const std::string path = File("garbage.wma");
    WriteTextFile(path, std::string(50000, 'x'));
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(path));
    ExpectCleared(record);
}

TEST_F(EmptyRecordTest, TruncatedWmaGivesAnEmptyRecord) {
    const std::string path = File("cut.wma");
    MakeTaggedSource(path, Expected{});
    auto bytes = ReadFileBytes(path);
    bytes.resize(100);  // inside the header object
    test::WriteFileBytes(path, bytes);
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(path));
    ExpectCleared(record);
}

TEST_F(EmptyRecordTest, MissingFileGivesAnEmptyRecord) {
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(File("missing.mp3")));
    ExpectCleared(record);
    EXPECT_FALSE(record.ReadMediaProperties(""));
    ExpectCleared(record);
}

TEST_F(EmptyRecordTest, FolderGivesAnEmptyRecord) {
    const std::string path = File("folder.mp3");
    ASSERT_TRUE(std::filesystem::create_directory(path));
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(path));
    ExpectCleared(record);
}

TEST_F(EmptyRecordTest, OtherFileTypesGiveAnEmptyRecord) {
    // A tagged MP3 under a name of another type: the type comes from the name alone.
    const std::string path = File("tagged.mp3");
    MakeTaggedSource(path, Expected{});
    const std::string renamed = File("tagged.wav");
    std::filesystem::rename(path, renamed);
    VeMediaProperties record = Stale();
    EXPECT_FALSE(record.ReadMediaProperties(renamed));
    ExpectCleared(record);
}

// ---------------------------------------------------------------------------------------------
// Writing: the audio stays as it was, and a write that cannot be done changes nothing.

class WriteSafetyTest : public MediaPropertiesTest {
protected:
    void ExpectAudioKept(const std::string& name) {
        const std::string path = File(name);
        MakeAudio(path);
        const std::string digest = DecodedDigest(path);
        const double duration = ProbeDuration(path);
        ASSERT_GT(duration, 1.9);
        ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(path));
        EXPECT_EQ(DecodedDigest(path), digest);
        EXPECT_NEAR(ProbeDuration(path), duration, 0.0015);
        EXPECT_EQ(ProbeTags(path)["title"], Expected{}.title);
    }

    std::vector<uint8_t> Bytes(const std::string& path) { return ReadFileBytes(path); }

    // Writes the properties, with lyrics long enough that the file must grow, in a child
    // process that may not make a file longer than this one is now; `at_limit` handles the
    // signal the limit raises. Returns the child's exit code: 0 when the write failed, 1 when
    // it succeeded; -1 when the child did not exit.
    int WriteAtTheFileSizeLimit(const std::string& path, void (*at_limit)(int)) {
        const auto limit = static_cast<rlim_t>(Bytes(path).size() + 16);
        const pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, at_limit);
            const struct rlimit rl = {limit, limit};
            if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(2);
            VeMediaProperties record = RecordOf(Expected{});
            record.lyrics = std::string(20000, 'l');
            ::_exit(record.WriteMediaProperties(path) ? 1 : 0);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }
};

TEST_F(WriteSafetyTest, WritingKeepsTheMp3Audio) {
    ExpectAudioKept("audio.mp3");
    // Byte for byte: the frames follow the new tag unchanged.
    const std::string plain = File("plain.mp3");
    MakeMp3(plain);
    const auto before = Bytes(plain);
    ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(plain));
    const auto after = Bytes(plain);
    ASSERT_GT(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.end() - static_cast<long>(before.size())));
    EXPECT_EQ(std::string(after.begin(), after.begin() + 3), "ID3");
}

TEST_F(WriteSafetyTest, WritingKeepsTheWmaAudio) { ExpectAudioKept("audio.wma"); }

TEST_F(WriteSafetyTest, RewritingATaggedFileKeepsTheAudio) {
    const std::string path = File("tagged.mp3");
    MakeTaggedSource(path, Expected{});
    const std::string digest = DecodedDigest(path);
    Expected shorter;
    shorter.title = "T";
    shorter.lyrics = "";
    ASSERT_TRUE(RecordOf(shorter).WriteMediaProperties(path));
    EXPECT_EQ(DecodedDigest(path), digest);
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.title, "T");
    EXPECT_TRUE(record.lyrics.empty());
}

TEST_F(WriteSafetyTest, ReadOnlyFileIsLeftUnchanged) {
    for (const std::string name : {"locked.mp3", "locked.wma"}) {
        const std::string path = File(name);
        MakeAudio(path);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        const auto before = Bytes(path);
        EXPECT_FALSE(RecordOf(Expected{}).WriteMediaProperties(path)) << name;
        EXPECT_EQ(Bytes(path), before) << name;
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444u);
    }
    EXPECT_EQ(FolderEntries(dir_.Path()).size(), 2u);
}

TEST_F(WriteSafetyTest, MissingFileIsNotCreated) {
    const std::string path = File("missing.mp3");
    EXPECT_FALSE(RecordOf(Expected{}).WriteMediaProperties(path));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(RecordOf(Expected{}).WriteMediaProperties(""));
    EXPECT_TRUE(FolderEntries(dir_.Path()).empty());
}

TEST_F(WriteSafetyTest, FileThatIsNoAudioIsLeftUnchanged) {
    for (const std::string name : {"garbage.mp3", "garbage.wma"}) {
        const std::string path = File(name);
        WriteTextFile(path, std::string(40000, 'z'));
        const auto before = Bytes(path);
        EXPECT_FALSE(RecordOf(Expected{}).WriteMediaProperties(path)) << name;
        EXPECT_EQ(Bytes(path), before) << name;
    }
    // A real MP3 under another type's name is not touched either.
    const std::string wav = File("audio.wav");
    MakeMp3(File("audio.mp3"));
    std::filesystem::rename(File("audio.mp3"), wav);
    const auto before = Bytes(wav);
    EXPECT_FALSE(RecordOf(Expected{}).WriteMediaProperties(wav));
    EXPECT_EQ(Bytes(wav), before);
    EXPECT_EQ(FolderEntries(dir_.Path()).size(), 3u);
}

// The file system refuses the grown file half-way (a file size limit, as a full disk would):
// the file keeps its old contents and no partial file is left beside it.
TEST_F(WriteSafetyTest, WriteThatCannotCompleteLeavesTheFileAsItWas) {
    const std::string path = File("full.mp3");
    MakeMp3(path);
    const auto before = Bytes(path);
    EXPECT_EQ(WriteAtTheFileSizeLimit(path, SIG_IGN), 0) << "the write reported success";
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(FolderEntries(dir_.Path()), std::vector<std::string>{"full.mp3"});
}

// The process ends while the new file is made (here at the file size limit, as at any signal):
// the file keeps its old contents and nothing is left beside it.
TEST_F(WriteSafetyTest, WriteCutShortByTheEndOfTheProcessLeavesTheFileAsItWas) {
    const std::string path = File("ended.mp3");
    MakeMp3(path);
    const auto before = Bytes(path);
    // Ends the process on the spot, running no destructor, as a kill would.
    EXPECT_EQ(WriteAtTheFileSizeLimit(path, [](int) { ::_exit(3); }), 3) << "the write was not cut short";
    EXPECT_EQ(Bytes(path), before);
    EXPECT_EQ(FolderEntries(dir_.Path()), std::vector<std::string>{"ended.mp3"});
}

// Memory stays flat whatever the length of the file: an hour at 128 kbit/s costs no more
// than a few seconds would.
TEST_F(WriteSafetyTest, LongFileIsTaggedWithoutHoldingItInMemory) {
    const std::string path = File("hour.mp3");
    const int64_t size = WriteSilentMp3(path, 0, 138000, 0);  // 3600 s, 57.5 MB
    ASSERT_TRUE(ResetPeakMemory());
    const int64_t resident = MemoryStatus("VmRSS:");
    ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(path));
    const int64_t peak = MemoryStatus("VmHWM:");
    ASSERT_GT(resident, 0);
    EXPECT_LT(peak - resident, 8 << 20) << "peak " << peak << " from " << resident;
    EXPECT_GT(test::FileSizeOf(path), size);
    EXPECT_EQ(ProbeTags(path)["title"], Expected{}.title);
}

// Positions beyond 2 GiB are no different: the file gets its tags and keeps every byte. The
// file is sparse, with frames at both ends, so that it costs no disk space.
TEST_F(WriteSafetyTest, FileOf2GiBOrMoreGetsItsTags) {
    const std::string path = File("large.mp3");
    const int64_t size = WriteSilentMp3(path, 100, 100, int64_t{5} << 29);  // 2.5 GiB
    ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(path));
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_EQ(record.title, Expected{}.title);
    const int64_t grown = test::FileSizeOf(path);
    ASSERT_GT(grown, size);
    // The last frame is where the tag put it, its bytes unchanged.
    const auto frame = SilentFrame();
    std::vector<char> tail(frame.size());
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(::fseeko(file, grown - static_cast<off_t>(frame.size()), SEEK_SET), 0);
    EXPECT_EQ(std::fread(tail.data(), 1, tail.size(), file), tail.size());
    std::fclose(file);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), frame.begin()));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_LT(st.st_blocks * 512, int64_t{64} << 20) << "the holes were filled";
}

TEST_F(WriteSafetyTest, SuccessfulWriteLeavesOnlyTheFile) {
    const std::string path = File("only.wma");
    MakeWma(path);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(path));
    EXPECT_EQ(FolderEntries(dir_.Path()), std::vector<std::string>{"only.wma"});
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(WriteSafetyTest, WriteThroughALinkChangesTheFileItNames) {
    const std::string target = File("target.mp3");
    const std::string link = File("link.mp3");
    MakeMp3(target);
    std::filesystem::create_symlink(target, link);
    ASSERT_TRUE(RecordOf(Expected{}).WriteMediaProperties(link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ProbeTags(target)["title"], Expected{}.title);
}

// ---------------------------------------------------------------------------------------------
// The lookup table of every tag's display text.

class ColumnTextsTest : public MediaPropertiesTest {};

TEST_F(ColumnTextsTest, TableHoldsEveryTagOfTheFile) {
    const std::string path = File("tagged.mp3");
    const Expected e;
    MakeTaggedSource(path, e);
    {
        TagLib::MPEG::File file(path.c_str());
        TagLib::PropertyMap extra;
        extra["MOOD"] = TagLib::StringList(TagLib::String("calm"));
        TagLib::StringList composers;
        composers.append("First");
        composers.append("Second");
        extra["COMPOSER"] = composers;
        TagLib::PropertyMap all = file.properties();
        for (const auto& [key, values] : extra) all.replace(key, values);
        file.setProperties(all);
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone));
    }
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadColumnTexts(path));
    EXPECT_EQ(record.LookupText("TITLE"), e.title);
    EXPECT_EQ(record.LookupText("ARTIST"), e.artist);
    EXPECT_EQ(record.LookupText("ALBUMARTIST"), e.album_artist);
    EXPECT_EQ(record.LookupText("MOOD"), "calm");
    EXPECT_EQ(record.LookupText("COMPOSER"), "First; Second");
    EXPECT_EQ(record.LookupText("NO SUCH KEY"), "");
}

TEST_F(ColumnTextsTest, ReadAllKeepsTheTableAndTheProperties) {
    const std::string path = File("tagged.wma");
    const Expected e;
    MakeTaggedSource(path, e);
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadAll(path));
    ExpectRecord(record, e);
    EXPECT_EQ(record.LookupText("TITLE"), e.title);
    EXPECT_EQ(record.LookupText("ALBUM"), e.album);
}

TEST_F(ColumnTextsTest, ReadingThePropertiesEmptiesTheTable) {
    const std::string path = File("tagged.mp3");
    MakeTaggedSource(path, Expected{});
    VeMediaProperties record;
    ASSERT_TRUE(record.ReadColumnTexts(path));
    ASSERT_FALSE(record.column_texts.empty());
    ASSERT_TRUE(record.ReadMediaProperties(path));
    EXPECT_TRUE(record.column_texts.empty());
}

TEST_F(ColumnTextsTest, UnreadableFileGivesAnEmptyTable) {
    const std::string path = File("garbage.mp3");
    WriteTextFile(path, std::string(10000, 'q'));
    VeMediaProperties record;
    record.column_texts["TITLE"] = "stale";
    EXPECT_FALSE(record.ReadColumnTexts(path));
    EXPECT_TRUE(record.column_texts.empty());
    EXPECT_FALSE(record.ReadAll(path));
    ExpectCleared(record);
}

}  // namespace
}  // namespace chm
