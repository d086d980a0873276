// The channel count that the search rests on, read from real files of every supported type.
#include "search/channel_count.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <future>

#include "tests/search/search_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using namespace test::search;

class ChannelCountTest : public ::testing::Test {
protected:
    // GetChannelCount on its own thread; a call still blocked after 30 s fails the test, and
    // a writer is opened on `pipe` (if given) to set it free.
    uint32_t CountWithoutHanging(const std::string& path, const std::string& pipe = {}) {
        auto result = std::async(std::launch::async, [path] { return GetChannelCount(path); });
        if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "GetChannelCount blocked on " << path;
            if (!pipe.empty()) {
                const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
        }
        return result.get();
    }

    test::ScratchDir scratch_;
};

TEST_F(ChannelCountTest, MonoWavGivesOne) {
    const std::string path = scratch_.File("mono.wav");
    WriteWav(path, 1);
    EXPECT_EQ(GetChannelCount(path), 1u);
    EXPECT_TRUE(IsMonoFile(path));
}

TEST_F(ChannelCountTest, StereoWavGivesTwo) {
    const std::string path = scratch_.File("stereo.wav");
    WriteWav(path, 2);
    EXPECT_EQ(GetChannelCount(path), 2u);
    EXPECT_FALSE(IsMonoFile(path));
}

// 24- and 32-bit PCM and floats, with tag 1, tag 3 and extensible headers as sox writes them,
// give their channel count from the header alone.
TEST_F(ChannelCountTest, EveryWavKindOfFullDepthGivesItsChannelCount) {
    for (const std::string format : {"-t wavpcm -b 24", "-b 24", "-t wavpcm -b 32", "-b 32", "-e floating-point -b 32",
                                     "-e floating-point -b 64"}) {
        for (const int channels : {1, 2}) {
            const std::string path = scratch_.File("kind" + std::to_string(channels) + ".wav");
            const std::string command = "sox -n -r 8000 -c " + std::to_string(channels) + " " + format + " " + path +
                                        " synth 0.01 sine 440 2>/dev/null";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            EXPECT_EQ(GetChannelCount(path), static_cast<uint32_t>(channels)) << format;
            EXPECT_EQ(IsMonoFile(path), channels == 1) << format;
        }
    }
}

TEST_F(ChannelCountTest, SixChannelWavGivesSix) {
    const std::string path = scratch_.File("surround.wav");
    WriteWav(path, 6);
    EXPECT_EQ(GetChannelCount(path), 6u);
    EXPECT_FALSE(IsMonoFile(path));
}

TEST_F(ChannelCountTest, PcmExtensionIsReadAsWavWhateverItsCase) {
    const std::string take = scratch_.File("take.PCM");
    const std::string song = scratch_.File("song.Wav");
    WriteWav(take, 1);
    WriteWav(song, 2);
    EXPECT_EQ(GetChannelCount(take), 1u);
    EXPECT_EQ(GetChannelCount(song), 2u);
}

TEST_F(ChannelCountTest, OnlyTheHeaderIsReadNotTheSamples) {
    // The header declares far more samples than the file holds: the count is still read.
    const std::string path = scratch_.File("cut.wav");
    WriteWav(path, 2, 100000);
    ASSERT_EQ(::truncate(path.c_str(), 44), 0);
    EXPECT_EQ(GetChannelCount(path), 2u);
}

TEST_F(ChannelCountTest, WavWithoutRiffHeaderGivesZeroAndIsNotMono) {
    const std::string path = scratch_.File("text.wav");
    WriteNotRiff(path);
    EXPECT_EQ(GetChannelCount(path), 0u);
    EXPECT_FALSE(IsMonoFile(path));
}

TEST_F(ChannelCountTest, EmptyWavGivesZero) {
    const std::string path = scratch_.File("empty.wav");
    test::WriteFileBytes(path, {});
    EXPECT_EQ(GetChannelCount(path), 0u);
}

TEST_F(ChannelCountTest, Mp3GivesTheChannelsOfItsStream) {
    const std::string mono = scratch_.File("mono.mp3");
    const std::string stereo = scratch_.File("stereo.MP3");
    WriteMp3(mono, 1);
    WriteMp3(stereo, 2);
    EXPECT_EQ(GetChannelCount(mono), 1u);
    EXPECT_EQ(GetChannelCount(stereo), 2u);
    EXPECT_TRUE(IsMonoFile(mono));
    EXPECT_FALSE(IsMonoFile(stereo));
}

TEST_F(ChannelCountTest, WmaGivesTheChannelsOfItsFirstStream) {
    const std::string mono = scratch_.File("mono.wma");
    const std::string stereo = scratch_.File("stereo.WMA");
    WriteWma(mono, 1);
    WriteWma(stereo, 2);
    EXPECT_EQ(GetChannelCount(mono), 1u);
    EXPECT_EQ(GetChannelCount(stereo), 2u);
}

TEST_F(ChannelCountTest, FileOfAnotherTypeUnderTheNameGivesZero) {
    // The reader follows the name: a WAV named .mp3 or .wma is no MP3 or WMA.
    const std::string as_mp3 = scratch_.File("wave.mp3");
    const std::string as_wma = scratch_.File("wave.wma");
    WriteWav(as_mp3, 1, 8000);
    WriteWav(as_wma, 1, 8000);
    EXPECT_EQ(GetChannelCount(as_wma), 0u);
    EXPECT_EQ(GetChannelCount(as_mp3), 0u);
}

TEST_F(ChannelCountTest, UnsupportedNameGivesZeroWhateverTheContent) {
    const std::string path = scratch_.File("stereo.wav.bak");
    WriteWav(path, 1);
    EXPECT_EQ(GetChannelCount(path), 0u);
    EXPECT_FALSE(IsMonoFile(path));
}

TEST_F(ChannelCountTest, MissingFileGivesZero) { EXPECT_EQ(GetChannelCount(scratch_.File("gone.wav")), 0u); }

TEST_F(ChannelCountTest, FolderWithAnAudioNameGivesZero) {
    MakeFolder(scratch_.File("folder.wav"));
    MakeFolder(scratch_.File("folder.mp3"));
    MakeFolder(scratch_.File("folder.wma"));
    EXPECT_EQ(GetChannelCount(scratch_.File("folder.wav")), 0u);
    EXPECT_EQ(GetChannelCount(scratch_.File("folder.mp3")), 0u);
    EXPECT_EQ(GetChannelCount(scratch_.File("folder.wma")), 0u);
}

TEST_F(ChannelCountTest, NamedPipeGivesZeroWithoutBlocking) {
    for (const char* name : {"pipe.wav", "pipe.mp3", "pipe.wma"}) {
        const std::string path = scratch_.File(name);
        MakeFifo(path);
        EXPECT_EQ(CountWithoutHanging(path, path), 0u) << name;
    }
}

TEST_F(ChannelCountTest, DeviceUnderAnAudioNameGivesZero) {
    const std::string path = scratch_.File("zero.mp3");
    MakeSymlink("/dev/zero", path);
    EXPECT_EQ(CountWithoutHanging(path), 0u);
}

TEST_F(ChannelCountTest, LinkToAStereoFileGivesTwo) {
    const std::string target = scratch_.File("real.wav");
    const std::string link = scratch_.File("link.wav");
    WriteWav(target, 2);
    MakeSymlink(target, link);
    EXPECT_EQ(GetChannelCount(link), 2u);
}

}  // namespace
}  // namespace chm
