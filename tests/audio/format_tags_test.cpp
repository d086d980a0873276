// The header probe and the tags of FLAC, Ogg Vorbis, Opus, AAC and AIFF files made by ffmpeg:
// channels and rates as ffprobe sees them, tags and pictures read back after a write, and writes
// that must fail leaving the file exactly as it was.
#include "audio/format_tags.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/audio/format_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace formats = test::formats;
namespace media = test::mp3;

class FormatTagsTest : public ::testing::TestWithParam<formats::Format> {
protected:
    std::string Made(const std::string& base, int channels) {
        const std::string path = scratch_.File(base + "." + GetParam().extension);
        EXPECT_TRUE(formats::MakeFile(GetParam(), path, channels, 0.5));
        return path;
    }
    bool NoCopyLeft() const {
        for (const auto& entry : std::filesystem::directory_iterator(scratch_.Path()))
            if (entry.path().filename().string().starts_with("~Ve")) return false;
        return true;
    }
    test::ScratchDir scratch_;
};

TEST_P(FormatTagsTest, ProbeGivesTheChannelsAndRateThatFfprobeSees) {
    for (int channels : {1, 2}) {
        const std::string path = Made("probe" + std::to_string(channels), channels);
        VeFormatMediaInfo info;
        ASSERT_TRUE(ProbeFormatFile(info, path));
        EXPECT_EQ(info.Kind(), GetAudioFileType(path));
        EXPECT_EQ(std::to_string(info.channels), media::Probe(path, "channels"));
        EXPECT_EQ(std::to_string(info.sample_rate), media::Probe(path, "sample_rate"));
        EXPECT_NEAR(info.duration, 0.5, 0.05);
    }
}

TEST_P(FormatTagsTest, WrittenFieldsAndPicturesReadBack) {
    const std::string path = Made("tagged", 2);
    VeFormatTags tags;
    tags.fields = {{"TITLE", {"Zwölf Töne"}}, {"ARTIST", {"The Sines"}}, {"GENRE", {"Ambient"}}};
    tags.pictures = {{"image/png", 3, "", {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n', 1, 2, 3}}};
    ASSERT_TRUE(tags.Write(path));
    EXPECT_TRUE(NoCopyLeft());
    VeFormatTags read;
    ASSERT_TRUE(read.Read(path));
    for (const auto& [key, values] : tags.fields) EXPECT_EQ(read.fields[key], values) << key;
    ASSERT_EQ(read.pictures.size(), 1u);
    EXPECT_EQ(read.pictures[0].data, tags.pictures[0].data);
    EXPECT_EQ(read.pictures[0].mime_type, "image/png");
    EXPECT_EQ(media::Probe(path, "channels"), "2");  // the audio is still there
}

TEST_P(FormatTagsTest, FailedWritesLeaveTheFileAsItWas) {
    VeFormatTags tags;
    tags.fields = {{"TITLE", {"Never"}}};
    const std::string read_only = Made("read-only", 2);
    const auto before = test::ReadFileBytes(read_only);
    ::chmod(read_only.c_str(), 0444);
    EXPECT_FALSE(tags.Write(read_only));
    EXPECT_EQ(test::ReadFileBytes(read_only), before);
    const std::string not_audio = scratch_.File(std::string("text.") + GetParam().extension);
    test::WriteTextFile(not_audio, "no audio in here");
    EXPECT_FALSE(tags.Write(not_audio));
    EXPECT_EQ(test::ReadTextFile(not_audio), "no audio in here");
    EXPECT_FALSE(tags.Write(scratch_.File("missing.flac")));
    EXPECT_TRUE(NoCopyLeft());
    VeFormatMediaInfo info;
    info.channels = 9;
    EXPECT_FALSE(ProbeFormatFile(info, not_audio));
    EXPECT_EQ(info.channels, 9);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatTagsTest, ::testing::ValuesIn(formats::Formats()),
                         [](const auto& info) { return std::string(info.param.extension); });

}  // namespace
}  // namespace chm
