#include "audio/temp_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#include "audio/work_pacer.h"
#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "platform/unnamed_file.h"
#include "platform/tick.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

TEST(TempFileTest, NumberedNameSkipsTakenNamesAndReservesTheFile) {
    test::ScratchDir dir;
    const std::string folder = dir.File("out");
    ASSERT_TRUE(CreateDirectories(folder));
    test::WriteTextFile(folder + "/x001.wav", "taken");
    const std::time_t before = std::time(nullptr);
    const std::string name = MakeTempFileName("wav", folder, "x");
    EXPECT_EQ(name, folder + "/x002.wav");
    EXPECT_EQ(test::FileSizeOf(name), 0);
    struct stat st;
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_GE(st.st_mtime, before - 1);
    EXPECT_EQ(test::ReadTextFile(folder + "/x001.wav"), "taken");
}

TEST(TempFileTest, NumbersAreThreeHexDigitsAndGrowPastFFF) {
    test::ScratchDir dir;
    test::WriteTextFile(dir.File("~Ve009.tmp"), "");
    for (int i = 1; i <= 9; ++i) {
        const std::string name = MakeTempFileName("tmp", dir.Path());
        ASSERT_FALSE(name.empty());
    }
    EXPECT_EQ(MakeTempFileName("tmp", dir.Path()), dir.File("~Ve00B.tmp"));
    for (int n = 0xC; n <= 0xFFF; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "~Ve%03X.tmp", n);
        test::WriteTextFile(dir.File(name), "");
    }
    EXPECT_EQ(MakeTempFileName("tmp", dir.Path()), dir.File("~Ve1000.tmp"));
}

TEST(TempFileTest, EmptyExtensionBecomesTmpAndMissingFolderIsMade) {
    test::ScratchDir dir;
    const std::string folder = dir.File("a/b");
    EXPECT_EQ(MakeTempFileName("", folder, "p"), folder + "/p001.tmp");
    EXPECT_TRUE(IsDirectory(folder));
}

TEST(TempFileTest, FolderThatIsAFileGivesNoName) {
    test::ScratchDir dir;
    test::WriteTextFile(dir.File("file"), "x");
    EXPECT_EQ(MakeTempFileName("wav", dir.File("file"), "x"), "");
}

TEST(TempFileTest, PlainFormMakesDistinctFilesInTheTemporaryFolder) {
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string name = MakeTempFileName();
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.rfind(GetTempDirectory() + "/~Ve", 0), 0u) << name;
        EXPECT_TRUE(IsRegularFile(name));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 50u);
    for (const auto& name : names) RemoveFile(name);
}

TEST(TempFileTest, ExtensionFormDefaultsToTheTemporaryFolder) {
    const std::string name = MakeTempFileName("wav");
    EXPECT_EQ(name, GetTempDirectory() + "/~Ve001.wav");
    RemoveFile(name);
}

TEST(TempFileTest, TouchFileCreatesAndKeepsContent) {
    test::ScratchDir dir;
    EXPECT_TRUE(TouchFile(dir.File("new")));
    EXPECT_EQ(test::FileSizeOf(dir.File("new")), 0);
    test::WriteTextFile(dir.File("old"), "content");
    EXPECT_TRUE(TouchFile(dir.File("old")));
    EXPECT_EQ(test::ReadTextFile(dir.File("old")), "content");
    EXPECT_FALSE(TouchFile(dir.File("missing/new")));
}

// Where the temporary folder holds files without a name, a temporary file has none: nothing of
// it can be left in the folder, whatever ends the process.
TEST(TempFileTest, TemporaryFileHasNoNameAndGoesWithItsHolder) {
    std::string kept;
    {
        TemporaryFile temporary;
        ASSERT_TRUE(temporary.Reserve("wav"));
        kept = temporary.Path();
        std::error_code ec;
        EXPECT_TRUE(std::filesystem::is_empty(GetTempDirectory(), ec));
        test::WriteTextFile(kept, "written by the work");
        EXPECT_EQ(test::ReadTextFile(kept), "written by the work");
        EXPECT_EQ(test::TempEntries().size(), 1u);
    }
    EXPECT_TRUE(test::TempEntries().empty());
}

// The named files of a folder without unnamed ones.
class NamedTempFileTest : public ::testing::Test {
protected:
    NamedTempFileTest() { AllowUnnamedFiles(false); }
    ~NamedTempFileTest() override { AllowUnnamedFiles(true); }
};

TEST_F(NamedTempFileTest, TemporaryFileReservesOnceAndTakesItsFileAlong) {
    std::string kept;
    {
        TemporaryFile temporary;
        EXPECT_FALSE(temporary.IsReserved());
        ASSERT_TRUE(temporary.Reserve("wav"));
        kept = temporary.Path();
        EXPECT_EQ(kept.rfind(GetTempDirectory() + "/~Ve", 0), 0u) << kept;
        EXPECT_TRUE(IsRegularFile(kept));
        ASSERT_TRUE(temporary.Reserve());  // a second call keeps the first name
        EXPECT_EQ(temporary.Path(), kept);
        test::WriteTextFile(kept, "written by the work");
    }
    EXPECT_FALSE(PathExists(kept));
}

// A failed step deletes its partial file by name, and the lowest free number goes at once to the
// next file reserved, in this run or another: the first holder's clean-up must leave that alone.
TEST_F(NamedTempFileTest, AHolderWhoseFileWasDeletedLeavesTheNameToItsNewHolder) {
    std::string name;
    auto first = std::make_unique<TemporaryFile>();
    ASSERT_TRUE(first->Reserve("wav"));
    name = first->Path();
    ASSERT_TRUE(RemoveFile(name));  // the failed step's own clean-up
    TemporaryFile second;
    ASSERT_TRUE(second.Reserve("wav"));
    ASSERT_EQ(second.Path(), name);
    test::WriteTextFile(name, "the second file");
    first.reset();
    EXPECT_EQ(test::ReadTextFile(name), "the second file");
}

TEST(TempFileTest, PinnedNameRemovesOnlyItsOwnFile) {
    test::ScratchDir dir;
    const std::string name = dir.File("song.wav");
    ASSERT_TRUE(ReserveNewFile(name));
    PinnedName own(name);
    EXPECT_TRUE(own.IsOurs());
    own.RemoveIfOurs();
    EXPECT_FALSE(PathExists(name));

    ASSERT_TRUE(ReserveNewFile(name));
    PinnedName replaced(name);
    ASSERT_TRUE(RemoveFile(name));
    ASSERT_TRUE(ReserveNewFile(name));  // the same name, now another file's
    EXPECT_FALSE(replaced.IsOurs());
    replaced.RemoveIfOurs();
    EXPECT_TRUE(IsRegularFile(name));

    PinnedName released(name);
    released.Release();
    released.RemoveIfOurs();
    EXPECT_TRUE(IsRegularFile(name));
}

TEST(WorkPacerTest, IntervalIsAtLeast55) {
    EXPECT_EQ(VeWorkPacer(10, 20).Interval(), 55u);
    EXPECT_EQ(VeWorkPacer().Interval(), 110u);
}

TEST(WorkPacerTest, PausesOnlyAfterTheInterval) {
    VeWorkPacer pacer(60, 30);
    const uint32_t start = TickCount();
    pacer.Tick();  // within the interval: no pause
    SleepMs(70);
    pacer.Tick();  // past it: pauses
    EXPECT_GE(TickCount() - start, 100u);
}

}  // namespace
}  // namespace chm
