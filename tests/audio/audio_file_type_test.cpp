#include "audio/audio_file_type.h"

#include <gtest/gtest.h>

namespace chm {
namespace {

TEST(AudioFileTypeTest, KnownExtensions) {
    EXPECT_EQ(GetAudioFileType("/music/a.mp3"), AudioFileType::Mp3);
    EXPECT_EQ(GetAudioFileType("/music/a.wav"), AudioFileType::Wav);
    EXPECT_EQ(GetAudioFileType("/music/a.pcm"), AudioFileType::Wav);
    EXPECT_EQ(GetAudioFileType("/music/a.wma"), AudioFileType::Wma);
    EXPECT_EQ(static_cast<int>(AudioFileType::Mp3), 0);
    EXPECT_EQ(static_cast<int>(AudioFileType::Wav), 1);
    EXPECT_EQ(static_cast<int>(AudioFileType::Wma), 2);
    EXPECT_EQ(static_cast<int>(AudioFileType::Unsupported), 255);
}

TEST(AudioFileTypeTest, CapitalsDoNotMatter) {
    EXPECT_EQ(static_cast<int>(GetAudioFileType("TRACK.PCM")), 1);
    EXPECT_EQ(GetAudioFileType("Song.Mp3"), AudioFileType::Mp3);
    EXPECT_EQ(GetAudioFileType("x.WmA"), AudioFileType::Wma);
}

TEST(AudioFileTypeTest, OnlyTheLastExtensionCounts) {
    EXPECT_EQ(static_cast<int>(GetAudioFileType("song.mp3.bak")), 255);
    EXPECT_EQ(GetAudioFileType("song.bak.mp3"), AudioFileType::Mp3);
}

TEST(AudioFileTypeTest, NameWithoutDotIsUnsupported) {
    EXPECT_EQ(static_cast<int>(GetAudioFileType("README")), 255);
    EXPECT_EQ(GetAudioFileType(""), AudioFileType::Unsupported);
    EXPECT_EQ(GetAudioFileType("song."), AudioFileType::Unsupported);
}

TEST(AudioFileTypeTest, DotInAFolderNameDoesNotCount) {
    EXPECT_EQ(static_cast<int>(GetAudioFileType("/dir.mp3/file")), 255);
    EXPECT_EQ(GetAudioFileType("/dir.wav/file.wma"), AudioFileType::Wma);
}

TEST(AudioFileTypeTest, SimilarExtensionsAreUnsupported) {
    EXPECT_EQ(GetAudioFileType("a.mp"), AudioFileType::Unsupported);
    EXPECT_EQ(GetAudioFileType("a.mp3 "), AudioFileType::Unsupported);
    EXPECT_EQ(GetAudioFileType("a.wave"), AudioFileType::Unsupported);
    // Near the further formats' names, and containers they come in that are not supported.
    for (const char* name : {"a.fla", "a.flac ", "a.og", "a.ogx", "a.opu", "a.aac", "a.mp4", "a.m4b", "a.aifc", "a.ai"})
        EXPECT_EQ(GetAudioFileType(name), AudioFileType::Unsupported) << name;
}

TEST(AudioFileTypeTest, FurtherFormatsByTheirExtensions) {
    struct Case {
        const char* name;
        AudioFileType type;
        int code;
    };
    for (const Case& c : {Case{"/m/a.flac", AudioFileType::Flac, 3}, Case{"/m/a.FLAC", AudioFileType::Flac, 3},
                          Case{"/m/a.ogg", AudioFileType::OggVorbis, 4}, Case{"/m/a.Oga", AudioFileType::OggVorbis, 4},
                          Case{"/m/a.opus", AudioFileType::Opus, 5}, Case{"/m/a.OPUS", AudioFileType::Opus, 5},
                          Case{"/m/a.m4a", AudioFileType::Aac, 6}, Case{"/m/a.M4A", AudioFileType::Aac, 6},
                          Case{"/m/a.aif", AudioFileType::Aiff, 7}, Case{"/m/a.AIFF", AudioFileType::Aiff, 7}}) {
        EXPECT_EQ(GetAudioFileType(c.name), c.type) << c.name;
        EXPECT_EQ(static_cast<int>(GetAudioFileType(c.name)), c.code) << c.name;
    }
    EXPECT_EQ(GetAudioFileType("/dir.flac/file"), AudioFileType::Unsupported);
}

}  // namespace
}  // namespace chm
