// `tavorin-chm scan --recurse` over one folder tree built to trip a walk up: links that loop
// back to the top, to a parent, to themselves and to each other, two links to the same outside
// folder, named pipes, a socket, a character device and links to endless devices under audio
// names, a folder nobody may read and one nobody may list. The scan ends, lists every stereo
// file exactly once and nothing that is no regular file, passes over what it cannot read, and
// its list converts. The superuser reads everything, so then the scan runs as "nobody".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/reliability/converter_process.h"
#include "tests/search/search_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;
using namespace test::reliability;
using namespace test::search;

constexpr std::chrono::seconds kRunLimit{120};

class HostileFoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const auto& dir : {tmp_, config_, out_}) fs::create_directories(dir);
        MakeFolder(At("sub/deeper"));
        MakeFolder(outside_);
        WriteWav(At("a.wav"), 2);
        WriteMp3(At("sub/b.mp3"), 2);
        WriteWma(At("sub/deeper/c.wma"), 2);
        WriteWav(At("sub/mono.wav"), 1);
        WriteWav(outside_ + "/far.wav", 2);
        // Links: back to the top, to itself, to a grandparent, to each other, twice outside.
        MakeSymlink(Top(), At("sub/up"));
        MakeSymlink(".", At("self"));
        MakeSymlink("../..", At("sub/deeper/parent"));
        MakeSymlink("loop-b", At("loop-a"));
        MakeSymlink("loop-a", At("loop-b"));
        MakeSymlink("x.wav", At("sub/x.wav"));
        MakeSymlink(outside_, At("one"));
        MakeSymlink(outside_, At("sub/two"));
        // No audio files, whatever their names: opened, some would block or stream for ever.
        MakeFifo(At("pipe.wav"));
        MakeFifo(At("sub/pipe.mp3"));
        MakeFifo(At("pipe.wma"));
        MakeSocket(At("socket.wav"));
        MakeSymlink("/dev/urandom", At("urandom.mp3"));
        MakeSymlink("/dev/zero", At("sub/zero.wma"));
        if (IsSuperuser()) {
            ASSERT_EQ(::mknod(At("device.wav").c_str(), S_IFCHR | 0666, ::makedev(1, 5)), 0);
        }
        // Nobody may read this folder, nor list that one (it may only pass through).
        MakeFolder(At("locked"));
        WriteWav(At("locked/hidden.wav"), 2);
        MakeFolder(At("nolist"));
        WriteWav(At("nolist/unlisted.wav"), 2);
        ASSERT_EQ(::chmod(At("locked").c_str(), 0), 0);
        ASSERT_EQ(::chmod(At("nolist").c_str(), 0311), 0);
        // A file that cannot be read has no channel count; not known to be mono, it is recommended.
        WriteWav(At("secret.wav"), 2);
        ASSERT_EQ(::chmod(At("secret.wav").c_str(), 0), 0);
        if (IsSuperuser()) {
            Shell("chown -hR " + std::to_string(kNobody) + " " + Quote(Top()));
            for (const auto& dir : {tmp_, config_, out_}) OpenFolderTo(dir, kNobody);
            OpenFolderTo(Top(), kNobody);
            OpenFolderTo(outside_, kNobody);
            ::chmod(outside_.c_str(), 0755);
        }
    }
    void TearDown() override {
        ::chmod(At("locked").c_str(), 0700);
        ::chmod(At("nolist").c_str(), 0700);
    }

    std::string Top() const { return scratch_.File("top"); }
    std::string At(const std::string& relative) const { return Top() + "/" + relative; }

    ConverterOutcome Run(const std::vector<std::string>& args, const std::string& stdin_path = "") {
        ConverterRun run;
        run.args = args;
        run.tmpdir = tmp_;
        run.config = config_;
        run.stdin_path = stdin_path;
        run.stdout_path = scratch_.File("stdout.bin");
        run.stderr_path = scratch_.File("stderr.txt");
        run.user = kNobody;
        ConverterOutcome outcome = RunConverter(run, kRunLimit);
        EXPECT_TRUE(outcome.ended) << "no end within " << kRunLimit.count() << " s: the walk or a read blocked";
        return outcome;
    }

    std::vector<std::string> Scan() {
        const ConverterOutcome scan = Run({"scan", "--recurse", "--print0", Top()});
        EXPECT_EQ(scan.exit_code, 0) << scan.err;
        std::vector<std::string> paths;
        size_t start = 0;
        for (size_t nul; (nul = scan.out.find('\0', start)) != std::string::npos; start = nul + 1)
            paths.push_back(scan.out.substr(start, nul - start));
        return paths;
    }

    test::ScratchDir scratch_;
    std::string outside_ = scratch_.File("elsewhere");
    std::string tmp_ = scratch_.File("tmp");
    std::string config_ = scratch_.File("config");
    std::string out_ = scratch_.File("out");
};

TEST_F(HostileFoldersTest, ScanEndsAndListsEveryStereoFileExactlyOnce) {
    const std::vector<std::string> paths = Scan();
    const std::set<std::string> unique(paths.begin(), paths.end());
    EXPECT_EQ(unique.size(), paths.size()) << "a file was listed twice";
    EXPECT_TRUE(unique.count(At("a.wav")));
    EXPECT_TRUE(unique.count(At("sub/b.mp3")));
    EXPECT_TRUE(unique.count(At("sub/deeper/c.wma")));
    // The outside folder is reached by two links: walked once, under either name.
    EXPECT_EQ(unique.count(At("one/far.wav")) + unique.count(At("sub/two/far.wav")), 1u);
    EXPECT_FALSE(unique.count(At("sub/mono.wav")));
}

TEST_F(HostileFoldersTest, NothingButRegularFilesIsListed) {
    for (const std::string& path : Scan()) {
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    }
}

TEST_F(HostileFoldersTest, FoldersThatCannotBeReadOrListedArePassedOver) {
    const std::vector<std::string> paths = Scan();
    for (const std::string& path : paths) {
        EXPECT_FALSE(path.starts_with(At("locked/"))) << path;
        EXPECT_FALSE(path.starts_with(At("nolist/"))) << path;
    }
    // The rest of the tree is still searched: the search completes.
    EXPECT_EQ(paths.size(), 5u);
}

TEST_F(HostileFoldersTest, ListConvertsExceptTheFileThatCannotBeRead) {
    const ConverterOutcome scan = Run({"scan", "--recurse", "--print0", Top()});
    ASSERT_EQ(scan.exit_code, 0);
    const std::string list = scratch_.File("list.bin");
    test::WriteFileBytes(list, std::vector<uint8_t>(scan.out.begin(), scan.out.end()));
    const ConverterOutcome convert = Run({"convert", "--output-folder", out_, "--files-from", "-", "--null"}, list);
    EXPECT_EQ(convert.exit_code, 1) << convert.out << convert.err;
    EXPECT_NE(convert.out.find("failed: " + At("secret.wav") + "\n"), std::string::npos) << convert.out;
    EXPECT_NE(convert.out.find("4 of 5 files are converted successfully."), std::string::npos) << convert.out;
    for (const char* name : {"a.wav", "b.mp3", "c.wma", "far.wav"}) {
        EXPECT_EQ(DecodeWithFfmpeg(out_ + "/" + name).channels, 1) << name;
    }
}

}  // namespace
}  // namespace chm
