// The room a conversion takes in the temporary folder, read from headers of files made by sox,
// lame and flac, and the number of files that may run at once in the room there is.
#include <gtest/gtest.h>

#include <string>

#include "engine/store_room.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace media = test::mp3;

TEST(StoreRoomTest, AFilesRoomFollowsItsLengthWhateverItsFormat) {
    test::ScratchDir scratch;
    const std::string wav = scratch.File("two.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 2.0));
    // Two seconds of stereo: two float stores and a mono WAV of at most 32 bits.
    constexpr double kTwoSeconds = 88200.0 * (2 * 4 + 4);
    struct Made {
        std::string name, command;
    };
    for (const Made& made : {Made{"two.mp3", "lame --quiet -V 4 "}, Made{"two.flac", "flac -s -f -o "}}) {
        SCOPED_TRACE(made.name);
        const std::string path = scratch.File(made.name);
        const std::string command = made.name == "two.mp3" ? made.command + media::Quoted(wav) + " " + media::Quoted(path)
                                                           : made.command + media::Quoted(path) + " " + media::Quoted(wav);
        ASSERT_TRUE(media::Run(command));
        EXPECT_NEAR(static_cast<double>(TemporaryBytesFor(path)), kTwoSeconds, kTwoSeconds * 0.05);
    }
    EXPECT_EQ(TemporaryBytesFor(wav), static_cast<uint64_t>(kTwoSeconds));
    const std::string text = scratch.File("notes.wav");
    test::WriteTextFile(text, "no audio");
    EXPECT_EQ(TemporaryBytesFor(text), 0u);
    EXPECT_EQ(TemporaryBytesFor(scratch.File("missing.wav")), 0u);
    // The largest of each type decides: the ten-second MP3, not the larger WAV of two seconds.
    const std::string ten = scratch.File("ten.wav");
    ASSERT_TRUE(media::MakeMusicWav(ten, 44100, 10.0));
    ASSERT_TRUE(media::Run("lame --quiet -b 64 --resample 44.1 " + media::Quoted(ten) + " " + media::Quoted(scratch.File("ten.mp3"))));
    EXPECT_NEAR(static_cast<double>(LargestTemporaryBytes({wav, scratch.File("ten.mp3"), scratch.File("two.mp3")})),
                5 * kTwoSeconds, kTwoSeconds * 0.2);
}

TEST(StoreRoomTest, FilesAtOnceAreAsManyAsTheRoomHolds) {
    constexpr uint64_t kGiB = uint64_t{1} << 30;
    struct Case {
        int processors;
        uint64_t largest, free;
        int jobs;
    };
    for (const Case& c : {Case{8, kGiB, 3 * kGiB + kGiB / 2, 3}, Case{8, kGiB, kGiB / 2, 1}, Case{2, kGiB, 100 * kGiB, 2},
                          Case{4, 0, kGiB, 4}, Case{4, kGiB, 0, 4}, Case{0, kGiB, kGiB, 1}}) {
        SCOPED_TRACE(std::to_string(c.processors) + " " + std::to_string(c.largest) + " " + std::to_string(c.free));
        EXPECT_EQ(JobsThatFit(c.processors, c.largest, c.free), c.jobs);
    }
    EXPECT_GT(TemporaryFolderFreeBytes(), 0u);
}

}  // namespace
}  // namespace chm
