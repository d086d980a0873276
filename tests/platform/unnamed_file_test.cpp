#include "platform/unnamed_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/file_replacement.h"
#include "platform/temp_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class UnnamedFileTest : public ::testing::TestWithParam<bool> {
protected:
    UnnamedFileTest() {
        folder_ = fs::temp_directory_path() / ("chm-unnamed-" + std::to_string(::getpid()));
        fs::create_directories(folder_);
        // false: a file system without unnamed files, where a hidden name stands in.
        AllowUnnamedFiles(GetParam());
    }
    ~UnnamedFileTest() override {
        AllowUnnamedFiles(true);
        fs::remove_all(folder_);
    }

    bool Create(UnnamedFile& file) {
        return file.Create(folder_.string(), [this] { return Hidden(); });
    }
    std::string Hidden() {
        const std::string name = (folder_ / (".~Ve" + std::to_string(++hidden_))).string();
        return ReserveNewFile(name) ? name : std::string();
    }
    size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {})); }
    std::string In(const std::string& name) const { return (folder_ / name).string(); }

    fs::path folder_;
    int hidden_ = 0;
};

// Nothing shows under the output's name until the whole file is written; then it has the name
// and nothing else is left in the folder.
TEST_P(UnnamedFileTest, FileTakesItsNameOnlyWhenPublished) {
    UnnamedFile file;
    ASSERT_TRUE(Create(file));
    EXPECT_EQ(file.HasName(), !GetParam());
    EXPECT_EQ(Entries(), GetParam() ? 0u : 1u);
    WriteAll(file.Path(), "the whole output");
    EXPECT_FALSE(fs::exists(In("song.flac")));
    EXPECT_EQ(file.Publish(In("song.flac")), Reservation::kReserved);
    EXPECT_EQ(ReadAll(In("song.flac")), "the whole output");
    EXPECT_EQ(Entries(), 1u);
}

// A file that appeared under the name meanwhile is never replaced; the output stays whole for
// the next name.
TEST_P(UnnamedFileTest, PublishNeverReplacesAFileThatAppeared) {
    UnnamedFile file;
    ASSERT_TRUE(Create(file));
    WriteAll(file.Path(), "ours");
    WriteAll(In("song.flac"), "theirs");
    EXPECT_EQ(file.Publish(In("song.flac")), Reservation::kTaken);
    EXPECT_EQ(ReadAll(In("song.flac")), "theirs");
    EXPECT_EQ(file.Publish(In("song (1).flac")), Reservation::kReserved);
    EXPECT_EQ(ReadAll(In("song (1).flac")), "ours");
}

TEST_P(UnnamedFileTest, DiscardedFileLeavesNothing) {
    {
        UnnamedFile file;
        ASSERT_TRUE(Create(file));
        WriteAll(file.Path(), "half of an output");
    }
    EXPECT_EQ(Entries(), 0u);
}

// Tags are written into a new version of the output; the same path names it afterwards.
TEST_P(UnnamedFileTest, ReplacementOfAFileWithoutANameTakesItsPlace) {
    UnnamedFile file;
    ASSERT_TRUE(Create(file));
    WriteAll(file.Path(), "old contents");
    {
        FileReplacement replacement;
        ASSERT_TRUE(replacement.Open(file.Path()));
        const int out = replacement.CreateNew();
        ASSERT_GE(out, 0);
        const std::string text = "new contents";
        ASSERT_EQ(::write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ASSERT_TRUE(replacement.Commit());
    }
    EXPECT_EQ(ReadAll(file.Path()), "new contents");
    ASSERT_EQ(file.Publish(In("tagged.flac")), Reservation::kReserved);
    EXPECT_EQ(ReadAll(In("tagged.flac")), "new contents");
    EXPECT_EQ(Entries(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnnamedFileTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "HiddenName"; });

// An output's name is held inside the process: nothing is made under it, yet no second claim
// gets it until it is let go.
TEST(NameClaimTest, ClaimHoldsANameWithoutMakingAFile) {
    const std::string name = (fs::temp_directory_path() / ("chm-claim-" + std::to_string(::getpid()))).string();
    {
        ASSERT_EQ(ClaimName(name), Reservation::kReserved);
        NameClaim claim(name);
        EXPECT_FALSE(fs::exists(name));
        EXPECT_EQ(ClaimName(name), Reservation::kTaken);
    }
    EXPECT_EQ(ClaimName(name), Reservation::kReserved);
    ReleaseClaim(name);
    EXPECT_EQ(ClaimName(fs::temp_directory_path().string()), Reservation::kTaken);
    EXPECT_EQ(ClaimName("/no/such/folder/x.wav"), Reservation::kRefused);
}

}  // namespace
}  // namespace chm
