#include "engine/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

// Runs a test inside a folder of its own and returns to the previous one afterwards.
class PathsTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = std::filesystem::current_path(); }
    void TearDown() override { std::filesystem::current_path(previous_); }

    // The scratch folder as the current directory reports it (symbolic links resolved).
    std::string EnterScratch() {
        std::filesystem::current_path(scratch_.Path());
        return std::filesystem::canonical(scratch_.Path()).string();
    }

    test::ScratchDir scratch_;
    std::filesystem::path previous_;
};

TEST_F(PathsTest, FileNameIsTheTextAfterTheLastSlash) {
    EXPECT_EQ(PathFileName("/music/pop/song.mp3"), "song.mp3");
    EXPECT_EQ(PathFileName("song.mp3"), "song.mp3");
    EXPECT_EQ(PathFileName("/music/"), "");
}

TEST_F(PathsTest, FileNameKeepsColonsBecauseTheyAreOrdinaryCharactersHere) {
    EXPECT_EQ(PathFileName("/music/a:b.mp3"), "a:b.mp3");
    EXPECT_EQ(PathFileName("c:song.mp3"), "c:song.mp3");
}

TEST_F(PathsTest, FolderIsTheTextBeforeTheLastSlash) {
    EXPECT_EQ(PathFolder("/music/pop/song.mp3", false), "/music/pop");
    EXPECT_EQ(PathFolder("a/song.mp3", false), "a");
    EXPECT_EQ(PathFolder("/music/", false), "/music");
}

TEST_F(PathsTest, FolderOfAFileInTheRootIsTheRoot) {
    EXPECT_EQ(PathFolder("/song.mp3", false), "/");
    EXPECT_EQ(PathFolder("//song.mp3", false), "/");
}

TEST_F(PathsTest, FolderOfABareNameIsDot) { EXPECT_EQ(PathFolder("song.mp3", false), "."); }

TEST_F(PathsTest, FolderMadeAbsoluteStartsFromTheCurrentDirectory) {
    const std::string here = EnterScratch();
    EXPECT_EQ(PathFolder("song.mp3", true), here);
    EXPECT_EQ(PathFolder("sub/../song.mp3", true), here);
}

TEST_F(PathsTest, BaseNameDropsOnlyTheLastExtension) {
    EXPECT_EQ(PathBaseName("/music/a.b.mp3"), "a.b");
    EXPECT_EQ(PathBaseName("/music/Track.WAV"), "Track");
    EXPECT_EQ(PathBaseName("/music/noext"), "noext");
}

TEST_F(PathsTest, ExtensionKeepsItsCaseAndIsEmptyWithoutADot) {
    EXPECT_EQ(PathExtension("/music/Track.WAV"), "WAV");
    EXPECT_EQ(PathExtension("/music/a.b.pcm"), "pcm");
    EXPECT_EQ(PathExtension("/music/noext"), "");
}

TEST_F(PathsTest, DotsInTheFolderPartAreNotExtensions) {
    EXPECT_EQ(PathExtension("/x.y/file"), "");
    EXPECT_EQ(PathBaseName("/x.y/file"), "file");
}

TEST_F(PathsTest, NormalizeCollapsesDoubledSlashes) {
    EXPECT_EQ(NormalizePath("/nonexistent-chm//a///b.mp3"), "/nonexistent-chm/a/b.mp3");
    EXPECT_EQ(NormalizePath("//nonexistent-chm/b.mp3"), "/nonexistent-chm/b.mp3");
}

TEST_F(PathsTest, NormalizeResolvesDotAndDotDot) {
    EXPECT_EQ(NormalizePath("/nonexistent-chm/./a/../b.mp3"), "/nonexistent-chm/b.mp3");
    EXPECT_EQ(NormalizePath("/nonexistent-chm/a/.."), "/nonexistent-chm");
    EXPECT_EQ(NormalizePath("/../nonexistent-chm"), "/nonexistent-chm");
}

TEST_F(PathsTest, NormalizeKeepsLeadingDotDotOfARelativePath) {
    EXPECT_EQ(NormalizePath("../nonexistent-chm/b.mp3"), "../nonexistent-chm/b.mp3");
    EXPECT_EQ(NormalizePath("nonexistent-chm/../../b.mp3"), "../b.mp3");
}

TEST_F(PathsTest, NormalizeGivesAnExistingFolderATrailingSlash) {
    CreateDirectories(scratch_.File("sub"));
    test::WriteTextFile(scratch_.File("file.mp3"), "x");
    EXPECT_EQ(NormalizePath(scratch_.File("sub")), scratch_.File("sub/"));
    EXPECT_EQ(NormalizePath(scratch_.Path() + "//sub/./"), scratch_.File("sub/"));
    EXPECT_EQ(NormalizePath(scratch_.File("file.mp3")), scratch_.File("file.mp3"));
}

TEST_F(PathsTest, NormalizeDoesNotFollowSymbolicLinks) {
    CreateDirectories(scratch_.File("real/deep"));
    std::filesystem::create_directory_symlink(scratch_.File("real/deep"), scratch_.File("link"));
    // Following the link would give ".../real/"; the text alone gives the scratch folder.
    EXPECT_EQ(NormalizePath(scratch_.File("link/..")), scratch_.Path() + "/");
}

TEST_F(PathsTest, MakeAbsoluteJoinsARelativePathToTheCurrentDirectory) {
    const std::string here = EnterScratch();
    EXPECT_EQ(MakeAbsolutePath("song.mp3"), here + "/song.mp3");
    EXPECT_EQ(MakeAbsolutePath("./a//../song.mp3"), here + "/song.mp3");
}

TEST_F(PathsTest, MakeAbsoluteReturnsAnAbsolutePathUnchanged) {
    EXPECT_EQ(MakeAbsolutePath("/nonexistent-chm//a/../b.mp3"), "/nonexistent-chm//a/../b.mp3");
}

TEST_F(PathsTest, MakeAbsoluteWithoutACurrentDirectoryLeavesThePathRelative) {
    CreateDirectories(scratch_.File("gone"));
    std::filesystem::current_path(scratch_.File("gone"));
    ASSERT_EQ(::rmdir(scratch_.File("gone").c_str()), 0);
    ASSERT_EQ(CurrentDirectory(), "");
    EXPECT_EQ(MakeAbsolutePath("song.mp3"), "song.mp3");
}

}  // namespace
}  // namespace chm
