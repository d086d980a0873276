#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/conversion_job.h"
#include "engine/paths.h"
#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

class OutputPathTest : public ::testing::Test {
protected:
    // Makes a real file (and its folders) under the scratch folder; returns its path.
    std::string Touch(const std::string& name) {
        const std::string path = scratch_.File(name);
        CreateDirectories(PathFolder(path, false));
        test::WriteTextFile(path, "audio");
        return path;
    }
    std::string Folder(const std::string& name) {
        CreateDirectories(scratch_.File(name));
        return scratch_.File(name);
    }

    test::ScratchDir scratch_;
    ConversionJob job_;
};

TEST_F(OutputPathTest, OutputFolderIsKeptAsGiven) {
    EXPECT_EQ(job_.OutputFolder(), "");
    job_.SetOutputFolder("/music/out");
    EXPECT_EQ(job_.OutputFolder(), "/music/out");
}

TEST_F(OutputPathTest, BesideItselfTheInputsOwnNameIsTakenSoOneIsAdded) {
    const std::string input = Touch("music/song.mp3");
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("music/song (1).mp3"));
}

TEST_F(OutputPathTest, NumbersCountUpWhileNamesAreTaken) {
    const std::string input = Touch("music/song.mp3");
    Touch("music/song (1).mp3");
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("music/song (2).mp3"));
    Touch("music/song (2).mp3");
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("music/song (3).mp3"));
}

TEST_F(OutputPathTest, RelativeInputIsPlacedBesideItsAbsoluteFolder) {
    Touch("song.mp3");
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.Path());
    const std::string output = job_.MakeOutputPath("song.mp3");
    std::filesystem::current_path(previous);
    EXPECT_EQ(output, std::filesystem::canonical(scratch_.Path()).string() + "/song (1).mp3");
}

TEST_F(OutputPathTest, OutputFolderWithoutThatNameGivesThePlainName) {
    const std::string input = Touch("in/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("out/song.mp3"));
}

TEST_F(OutputPathTest, OutputFolderWithATrailingSlashGivesASingleSeparator) {
    const std::string input = Touch("in/song.mp3");
    job_.SetOutputFolder(Folder("out") + "/");
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("out/song.mp3"));
}

TEST_F(OutputPathTest, RootOutputFolderGivesASingleSeparator) {
    // A name nobody has in the root: the scratch folder's own unique name.
    const std::string name = PathFileName(scratch_.Path()) + ".mp3";
    job_.SetOutputFolder("/");
    EXPECT_EQ(job_.MakeOutputPath(scratch_.File(name)), "/" + name);
    RemoveFile("/" + name);  // reserved where the root may be written
}

TEST_F(OutputPathTest, SecondInputOfTheSameNameGetsNumberOne) {
    const std::string first = Touch("a/song.mp3");
    const std::string second = Touch("b/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    const std::string first_output = job_.MakeOutputPath(first);
    EXPECT_EQ(first_output, scratch_.File("out/song.mp3"));
    Touch("out/song.mp3");
    EXPECT_EQ(job_.MakeOutputPath(second), scratch_.File("out/song (1).mp3"));
}

TEST_F(OutputPathTest, SecondInputTakesThePlainNameWhenTheFirstOutputWasDeleted) {
    const std::string second = Touch("b/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    RemoveFile(Touch("out/song.mp3"));  // the first file failed and its output was removed
    EXPECT_EQ(job_.MakeOutputPath(second), scratch_.File("out/song.mp3"));
}

TEST_F(OutputPathTest, UpperCaseExtensionIsKept) {
    EXPECT_EQ(job_.MakeOutputPath(Touch("Track.WAV")), scratch_.File("Track (1).WAV"));
}

TEST_F(OutputPathTest, OnlyTheLastDotStartsTheExtension) {
    EXPECT_EQ(job_.MakeOutputPath(Touch("a.b.mp3")), scratch_.File("a.b (1).mp3"));
}

TEST_F(OutputPathTest, PcmStaysPcm) {
    EXPECT_EQ(job_.MakeOutputPath(Touch("take.pcm")), scratch_.File("take (1).pcm"));
}

TEST_F(OutputPathTest, FolderOfTheCandidateNameCountsAsTaken) {
    const std::string input = Touch("in/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    Folder("out/song.mp3");
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("out/song (1).mp3"));
}

TEST_F(OutputPathTest, DanglingLinkOfTheCandidateNameCountsAsTaken) {
    const std::string input = Touch("in/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    std::filesystem::create_symlink(scratch_.File("nowhere"), scratch_.File("out/song.mp3"));
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("out/song (1).mp3"));
}

TEST_F(OutputPathTest, DotInTheFolderIsNotTakenForAnExtension) {
    EXPECT_EQ(job_.MakeOutputPath(Touch("x.y/file")), scratch_.File("x.y/file (1)"));
}

// Nothing is made under the chosen name before the output is whole: a process killed half-way
// leaves no empty file behind. Yet the name is held at once, and the next call gets another.
TEST_F(OutputPathTest, ChosenNameIsHeldAtOnceWithoutAFileUnderIt) {
    const std::string input = Touch("in/song.mp3");
    job_.SetOutputFolder(Folder("out"));
    const std::string first = job_.MakeOutputPath(input);
    EXPECT_EQ(first, scratch_.File("out/song.mp3"));
    EXPECT_FALSE(PathExists(first));
    EXPECT_EQ(job_.MakeOutputPath(input), scratch_.File("out/song (1).mp3"));
    ReleaseClaim(first);
    ReleaseClaim(scratch_.File("out/song (1).mp3"));
    EXPECT_EQ(job_.MakeOutputPath(input), first);
    ReleaseClaim(first);
}

TEST_F(OutputPathTest, NameThatCannotBeCreatedIsGivenUnreservedForTheWriterToFailOn) {
    job_.SetOutputFolder(scratch_.File("gone"));
    EXPECT_EQ(job_.MakeOutputPath(Touch("in/song.mp3")), scratch_.File("gone/song.mp3"));
    EXPECT_FALSE(PathExists(scratch_.File("gone")));
}

TEST_F(OutputPathTest, JobsNamingTheSameInputAtOnceNeverShareAName) {
    const std::string input = Touch("in/song.mp3");
    const std::string out = Folder("out");
    std::mutex lock;
    std::set<std::string> names;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            ConversionJob job;
            job.SetOutputFolder(out);
            for (int i = 0; i < 25; ++i) {
                const std::string name = job.MakeOutputPath(input);
                std::lock_guard guard(lock);
                names.insert(name);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(names.size(), 200u);
    EXPECT_TRUE(names.contains(out + "/song.mp3"));
    EXPECT_TRUE(names.contains(out + "/song (199).mp3"));
}

// The tree kept: a file found under a folder goes to its place below the output folder; one
// not below it (or only by a climb out) goes directly into the output folder; without an
// output folder, beside itself as ever.
TEST_F(OutputPathTest, TheTreeKeptPlacesAFileAsItLayBelowTheFolderItWasFoundUnder) {
    const std::string lib = Folder("lib");
    const std::string out = Folder("out");
    job_.SetOutputFolder(out);
    job_.SetKeepTree(true);
    struct Case {
        std::string input, found_under, folder;
    };
    for (const Case& c : {Case{Touch("lib/a/b/song.mp3"), lib, out + "/a/b"}, Case{Touch("lib/top.mp3"), lib + "/", out},
                          Case{lib + "/a/../a/b/song.mp3", lib, out + "/a/b"},
                          Case{Touch("other/song.mp3"), lib, out}, Case{scratch_.File("lib/../other/song.mp3"), lib, out},
                          Case{Touch("lib/a/b/song.mp3"), "", out}}) {
        SCOPED_TRACE(c.input + " under " + c.found_under);
        ASSERT_TRUE(job_.MakeTreeFor(c.input, c.found_under));
        EXPECT_EQ(job_.OutputFolderFor(c.input, c.found_under), c.folder);
        EXPECT_EQ(PathFolder(job_.MakeOutputPath(c.input, c.found_under), false), c.folder);
        EXPECT_TRUE(IsDirectory(c.folder));
    }
    job_.SetKeepTree(false);
    EXPECT_EQ(job_.OutputFolderFor(scratch_.File("lib/a/b/song.mp3"), lib), out);
    job_.SetOutputFolder("");
    job_.SetKeepTree(true);
    EXPECT_EQ(job_.OutputFolderFor(scratch_.File("lib/a/b/song.mp3"), lib), scratch_.File("lib/a/b"));
}

}  // namespace
}  // namespace chm
