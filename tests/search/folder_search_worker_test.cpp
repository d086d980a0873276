// The folder search on real folders made by the tests: the messages of a run in order, what is
// collected and what recommended, pause and abort, and folders built to trip a walk up.
#include "search/folder_search_worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "platform/tick.h"
#include "tests/search/search_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using namespace test::search;

struct Notice {
    uintptr_t code;
    intptr_t count;
    uint32_t tick;
    bool operator==(const Notice& other) const { return code == other.code && count == other.count; }
};

std::ostream& operator<<(std::ostream& out, const Notice& notice) {
    return out << "{" << notice.code << ", " << notice.count << "}";
}

// The search page's stand-in: records every SearchNotify and lets a test act on the worker's
// thread at the moment a message is posted, before the worker goes on.
class SearchPort : public MessagePort {
public:
    using Hook = std::function<void(const Notice&)>;

    void SetHook(Hook hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    void Post(uint32_t message, uintptr_t wparam, intptr_t lparam) override {
        if (message != kSearchNotify) return;
        const Notice notice{wparam, lparam, TickCount()};
        Hook hook;
        {
            std::lock_guard lock(mutex_);
            hook = hook_;
        }
        if (hook) hook(notice);
        {
            std::lock_guard lock(mutex_);
            notices_.push_back(notice);
        }
        changed_.notify_all();
    }
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }

    void Clear() {
        std::lock_guard lock(mutex_);
        notices_.clear();
    }

    std::vector<Notice> Notices() const {
        std::lock_guard lock(mutex_);
        return notices_;
    }
    std::vector<uintptr_t> Codes() const {
        std::vector<uintptr_t> codes;
        for (const Notice& n : Notices()) codes.push_back(n.code);
        return codes;
    }
    size_t Count(uintptr_t code) const {
        const auto codes = Codes();
        return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
    }

    // Waits up to a minute for a message with that code; false if none came.
    bool WaitFor(uintptr_t code) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::any_of(notices_.begin(), notices_.end(), [code](const Notice& n) { return n.code == code; });
        });
    }
    // Waits for the end of a run (code 7 or 8).
    bool WaitForEnd() const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::any_of(notices_.begin(), notices_.end(), [](const Notice& n) {
                return n.code == kSearchAborted || n.code == kSearchCompleted;
            });
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Notice> notices_;
    Hook hook_;
};

class FolderSearchTest : public ::testing::Test {
protected:
    std::string Root() const { return scratch_.File("music"); }
    std::string At(const std::string& relative) const { return Root() + "/" + relative; }

    void SetUp() override { MakeFolder(Root()); }

    // Runs a search to its end; the recommended paths, taken at the end.
    std::vector<std::string> Search(const std::string& folder, bool recurse) {
        worker_.SetJob(folder, recurse);
        EXPECT_TRUE(worker_.Start());
        EXPECT_TRUE(port_->WaitForEnd()) << "the search did not end";
        WaitForThread();
        std::vector<std::string> results;
        worker_.TakeResults(results);
        return results;
    }

    void WaitForThread() {
        for (int i = 0; i < 60000 && worker_.IsRunning(); ++i) SleepMs(1);
        EXPECT_FALSE(worker_.IsRunning());
    }

    // Phase 1's count, from code 2; -1 when phase 1 did not end.
    intptr_t CollectedCount() const {
        for (const Notice& n : port_->Notices())
            if (n.code == kSearchFilterEnd) return n.count;
        return -1;
    }

    static std::set<std::string> AsSet(const std::vector<std::string>& paths) { return {paths.begin(), paths.end()}; }

    test::ScratchDir scratch_;
    std::shared_ptr<SearchPort> port_ = std::make_shared<SearchPort>();
    FolderSearchWorker worker_{WindowHandle(port_)};
};

// --- the messages of a run ---

TEST_F(FolderSearchTest, FolderWithoutSupportedFilesGivesTheCodesInOrder) {
    test::WriteTextFile(At("README"), "nothing to hear");
    test::WriteTextFile(At("notes.txt"), "nothing either");
    EXPECT_TRUE(Search(Root(), true).empty());
    EXPECT_EQ(port_->Notices(), (std::vector<Notice>{{0, 0, 0}, {2, 0, 0}, {3, 0, 0}, {6, 0, 0}, {8, 0, 0}}));
    EXPECT_EQ(worker_.ExitCode(), 0);
}

TEST_F(FolderSearchTest, EveryFileGivesCodeFourAndEveryRecommendationCodeFive) {
    WriteWav(At("a.wav"), 2);
    WriteWav(At("b.wav"), 1);
    WriteWav(At("c.wav"), 2);
    const auto results = Search(Root(), false);
    EXPECT_EQ(results.size(), 2u);
    const auto notices = port_->Notices();
    ASSERT_GE(notices.size(), 4u);
    EXPECT_EQ(notices[0], (Notice{kSearchFilterBegin, 0, 0}));
    EXPECT_EQ(CollectedCount(), 3);
    EXPECT_EQ(port_->Count(kSearchAnalyzeBegin), 1u);
    for (const Notice& n : notices) {
        if (n.code == kSearchAnalyzeBegin) {
            EXPECT_EQ(n.count, 3);
        }
    }
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 3u);
    EXPECT_EQ(port_->Count(kSearchRecommended), 2u);
    EXPECT_EQ(notices[notices.size() - 2], (Notice{kSearchAnalyzeEnd, 0, 0}));
    EXPECT_EQ(notices.back(), (Notice{kSearchCompleted, 0, 0}));
    EXPECT_EQ(port_->Count(kSearchAborted), 0u);
}

TEST_F(FolderSearchTest, CodeFiveComesRightAfterTheCodeFourOfItsFile) {
    WriteWav(At("mono.wav"), 1);
    WriteWav(At("stereo.wav"), 2);
    Search(Root(), false);
    const auto codes = port_->Codes();
    const auto five = std::find(codes.begin(), codes.end(), kSearchRecommended);
    ASSERT_NE(five, codes.end());
    ASSERT_NE(five, codes.begin());
    EXPECT_EQ(*(five - 1), kSearchAnalyzeFile);
}

TEST_F(FolderSearchTest, CurrentFileIsPublishedBeforeCodeFour) {
    WriteWav(At("one.wav"), 2);
    WriteWav(At("two.wav"), 1);
    std::vector<std::string> seen;
    std::mutex seen_mutex;
    port_->SetHook([&](const Notice& n) {
        if (n.code != kSearchAnalyzeFile) return;
        std::lock_guard lock(seen_mutex);
        seen.push_back(worker_.CurrentFile());
    });
    Search(Root(), false);
    EXPECT_EQ(AsSet(seen), (std::set<std::string>{At("one.wav"), At("two.wav")}));
}

TEST_F(FolderSearchTest, ProgressOfPhaseOneWaitsTwoHundredMilliseconds) {
    for (int i = 0; i < 40; ++i) WriteWav(At("f" + std::to_string(i) + ".wav"), 1);
    // The worker is held at code 0 for longer than the interval: the first file collected
    // afterwards must post code 1 with a count of one.
    port_->SetHook([](const Notice& n) {
        if (n.code == kSearchFilterBegin) SleepMs(kSearchProgressInterval + 50);
    });
    Search(Root(), false);
    const auto notices = port_->Notices();
    std::vector<Notice> progress;
    for (const Notice& n : notices)
        if (n.code == kSearchFilterProgress) progress.push_back(n);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front().count, 1);
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_GT(progress[i].count, progress[i - 1].count);
        EXPECT_GE(progress[i].tick - progress[i - 1].tick, kSearchProgressInterval);
    }
    EXPECT_EQ(CollectedCount(), 40);
}

// --- what is collected ---

TEST_F(FolderSearchTest, SupportedExtensionsIgnoreCaseAndNothingElseIsCollected) {
    WriteMp3(At("song.MP3"), 2);
    WriteWav(At("song.Wav"), 2);
    WriteWav(At("take.PCM"), 2);
    WriteWav(At("song.mp3.bak"), 2);
    WriteWav(At("README"), 2);
    WriteWav(At("x.mp2"), 2);
    WriteWav(At("a.wma "), 2);
    MakeFolder(At("dir.mp3"));
    WriteWav(At("dir.mp3/noext"), 2);
    const auto results = Search(Root(), true);
    EXPECT_EQ(AsSet(results), (std::set<std::string>{At("song.MP3"), At("song.Wav"), At("take.PCM")}));
    EXPECT_EQ(CollectedCount(), 3);
}

TEST_F(FolderSearchTest, MonoWavIsNotRecommendedAndStereoIs) {
    WriteWav(At("mono.wav"), 1);
    WriteWav(At("stereo.wav"), 2);
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("stereo.wav")}));
}

TEST_F(FolderSearchTest, WavWithoutRiffHeaderIsRecommended) {
    WriteNotRiff(At("fake.wav"));
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("fake.wav")}));
}

TEST_F(FolderSearchTest, MoreThanTwoChannelsAreRecommended) {
    WriteWav(At("surround.wav"), 6);
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("surround.wav")}));
}

TEST_F(FolderSearchTest, Mp3AndWmaAreJudgedByTheirStreams) {
    WriteMp3(At("mono.mp3"), 1);
    WriteMp3(At("stereo.mp3"), 2);
    WriteWma(At("mono.wma"), 1);
    WriteWma(At("stereo.wma"), 2);
    EXPECT_EQ(AsSet(Search(Root(), false)), (std::set<std::string>{At("stereo.mp3"), At("stereo.wma")}));
}

TEST_F(FolderSearchTest, HiddenFilesAndFoldersAreSearched) {
    WriteMp3(At(".hidden.mp3"), 2);
    MakeFolder(At(".secret"));
    WriteWav(At(".secret/inside.wav"), 2);
    EXPECT_EQ(AsSet(Search(Root(), true)), (std::set<std::string>{At(".hidden.mp3"), At(".secret/inside.wav")}));
}

TEST_F(FolderSearchTest, RecurseOffEntersNoSubFolder) {
    WriteWav(At("top.wav"), 2);
    MakeFolder(At("sub/deeper"));
    WriteWav(At("sub/below.wav"), 2);
    WriteWav(At("sub/deeper/deep.wav"), 2);
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("top.wav")}));
    EXPECT_EQ(CollectedCount(), 1);
}

TEST_F(FolderSearchTest, RecurseOnListsAFoldersFilesBeforeItsSubFolders) {
    // Created so that a folder may well be listed before the files beside it.
    MakeFolder(At("sub1/deeper"));
    MakeFolder(At("sub2"));
    WriteWav(At("sub1/deeper/c.wav"), 2);
    WriteWav(At("sub2/d.wav"), 2);
    WriteWav(At("sub1/b.wav"), 2);
    WriteWav(At("a.wav"), 2);
    WriteWav(At("z.wav"), 2);
    const auto results = Search(Root(), true);
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(AsSet({results.begin(), results.begin() + 2}), (std::set<std::string>{At("a.wav"), At("z.wav")}));
    // Depth first: sub1's own file, then its sub-folder's, in one block; sub2 before or after.
    const std::vector<std::string> rest(results.begin() + 2, results.end());
    const std::vector<std::string> sub1_first{At("sub1/b.wav"), At("sub1/deeper/c.wav"), At("sub2/d.wav")};
    const std::vector<std::string> sub2_first{At("sub2/d.wav"), At("sub1/b.wav"), At("sub1/deeper/c.wav")};
    EXPECT_TRUE(rest == sub1_first || rest == sub2_first) << rest[0] << ", " << rest[1] << ", " << rest[2];
}

TEST_F(FolderSearchTest, RelativeFolderGivesNormalisedAbsolutePaths) {
    MakeFolder(At("sub"));
    WriteWav(At("sub/x.wav"), 2);
    const std::string previous = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(Root().c_str()), 0);
    const auto results = Search("sub/../sub/./", false);
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_EQ(results, (std::vector<std::string>{At("sub/x.wav")}));
}

TEST_F(FolderSearchTest, TrailingSlashAddsNoSecondSlash) {
    WriteWav(At("x.wav"), 2);
    EXPECT_EQ(Search(Root() + "/", false), (std::vector<std::string>{At("x.wav")}));
}

TEST_F(FolderSearchTest, FolderWhosePatternReachesTheLengthLimitCountsAsEmpty) {
    // "<folder>/*.*" of 259 units is searched, one of 260 is not. The names are cut so that
    // the folder paths reach exactly 255 and 256 characters.
    const size_t base = Root().size() + 1;  // "<root>/"
    ASSERT_LT(base + 10, 255u);
    const std::string fits(255 - base, 'f');
    const std::string long_name(256 - base, 'l');
    MakeFolder(At(fits));
    MakeFolder(At(long_name));
    ASSERT_EQ(At(fits).size(), 255u);
    ASSERT_EQ(At(long_name).size(), 256u);
    WriteWav(At(fits + "/in.wav"), 2);
    WriteWav(At(long_name + "/out.wav"), 2);
    EXPECT_EQ(Search(Root(), true), (std::vector<std::string>{At(fits + "/in.wav")}));
    EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
}

TEST_F(FolderSearchTest, LengthLimitCountsCharactersNotBytes) {
    // 255 characters in folders of é (two bytes, one unit): far more than 256 bytes, still
    // searched; one character more and the deepest folder is not.
    const size_t base = Root().size() + 1;
    ASSERT_LT(base + 10, 255u);
    const size_t deepest = 255 - base - 2 * 101;  // after two folders of 100 é and their "/"
    std::string path = Root();
    for (int i = 0; i < 2; ++i) {
        path += "/";
        for (int k = 0; k < 100; ++k) path += "\xC3\xA9";
    }
    const std::string fits = path + "/" + std::string(deepest, 'f');
    const std::string too_long = path + "/" + std::string(deepest + 1, 'l');
    MakeFolder(fits);
    MakeFolder(too_long);
    ASSERT_GT(fits.size(), 300u);
    WriteWav(fits + "/in.wav", 2);
    WriteWav(too_long + "/out.wav", 2);
    EXPECT_EQ(Search(Root(), true), (std::vector<std::string>{fits + "/in.wav"}));
}

TEST_F(FolderSearchTest, SearchFolderTooLongToSearchIsEmptyButCompletes) {
    const size_t base = Root().size() + 1;
    const std::string long_name(256 - base, 'l');
    MakeFolder(At(long_name));
    WriteWav(At(long_name + "/x.wav"), 2);
    EXPECT_TRUE(Search(At(long_name), false).empty());
    EXPECT_EQ(port_->Codes(), (std::vector<uintptr_t>{0, 2, 3, 6, 8}));
}

// --- folders built to trip a walk up ---

TEST_F(FolderSearchTest, LinkLoopEndsAndEachFileIsFoundOnce) {
    MakeFolder(At("a/b"));
    WriteWav(At("a/b/x.wav"), 2);
    MakeSymlink(Root(), At("a/b/up"));
    MakeSymlink(".", At("a/self"));
    MakeSymlink("../..", At("a/b/parent"));
    EXPECT_EQ(Search(Root(), true), (std::vector<std::string>{At("a/b/x.wav")}));
    EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
}

TEST_F(FolderSearchTest, LinkToAFolderOutsideIsFollowedOnce) {
    const std::string outside = scratch_.File("elsewhere");
    MakeFolder(outside);
    WriteWav(outside + "/far.wav", 2);
    MakeSymlink(outside, At("one"));
    MakeSymlink(outside, At("two"));
    const auto results = Search(Root(), true);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0] == At("one/far.wav") || results[0] == At("two/far.wav")) << results[0];
}

TEST_F(FolderSearchTest, LinkToAStereoFileIsRecommendedUnderItsOwnName) {
    const std::string outside = scratch_.File("real.wav");
    WriteWav(outside, 2);
    MakeSymlink(outside, At("link.wav"));
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("link.wav")}));
}

TEST_F(FolderSearchTest, NamedPipeCalledWavDoesNotHangTheSearch) {
    MakeFifo(At("x.wav"));
    WriteWav(At("real.wav"), 2);
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    const bool ended = port_->WaitForEnd();
    if (!ended) {
        // Set a blocked reader free so that the test can end.
        const int fd = ::open(At("x.wav").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    ASSERT_TRUE(ended) << "the search blocked on a named pipe";
    WaitForThread();
    std::vector<std::string> results;
    worker_.TakeResults(results);
    EXPECT_EQ(results, (std::vector<std::string>{At("real.wav")}));
    EXPECT_EQ(CollectedCount(), 1);
}

TEST_F(FolderSearchTest, EntriesThatAreNoRegularFilesAreNeverCollected) {
    MakeSocket(At("s.wav"));
    MakeSymlink("/dev/null", At("null.mp3"));
    MakeSymlink(At("gone.wav"), At("dangling.wav"));
    MakeFolder(At("folder.wav"));
    WriteWav(At("real.pcm"), 2);
    EXPECT_EQ(Search(Root(), false), (std::vector<std::string>{At("real.pcm")}));
    EXPECT_EQ(CollectedCount(), 1);
}

TEST_F(FolderSearchTest, FolderWithAnAudioNameIsEnteredAsAFolder) {
    MakeFolder(At("album.wav"));
    WriteWav(At("album.wav/track.wav"), 2);
    EXPECT_EQ(Search(Root(), true), (std::vector<std::string>{At("album.wav/track.wav")}));
    EXPECT_EQ(CollectedCount(), 1);
}

TEST_F(FolderSearchTest, UnreadableSubFolderIsPassedOver) {
    MakeFolder(At("locked"));
    WriteWav(At("locked/x.wav"), 2);
    WriteWav(At("open.wav"), 2);
    ASSERT_EQ(::chmod(At("locked").c_str(), 0), 0);
    if (::geteuid() != 0) {
        const auto results = Search(Root(), true);
        EXPECT_EQ(results, (std::vector<std::string>{At("open.wav")}));
        EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
    } else {
        // Permissions do not stop the superuser: the search runs in a child as "nobody".
        ASSERT_EQ(::chmod(scratch_.Path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(Root().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(At("open.wav").c_str(), 0644), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
            auto port = std::make_shared<SearchPort>();
            FolderSearchWorker worker{WindowHandle(port)};
            worker.SetJob(Root(), true);
            if (!worker.Start() || !port->WaitForEnd()) ::_exit(4);
            worker.StopAndWait();
            std::vector<std::string> results;
            worker.TakeResults(results);
            const bool ok = results == std::vector<std::string>{At("open.wav")} &&
                            port->Codes().back() == kSearchCompleted;
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong results, 3: no user nobody, 4: the search did not end";
    }
    ::chmod(At("locked").c_str(), 0700);
}

TEST_F(FolderSearchTest, SubFolderRemovedDuringTheWalkIsPassedOver) {
    WriteWav(At("a.wav"), 2);
    MakeFolder(At("sub"));
    WriteWav(At("sub/gone.wav"), 2);
    // Held at code 0, the first file collected posts code 1: the sub-folder is removed then,
    // while its parent is being listed.
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchFilterBegin) SleepMs(kSearchProgressInterval + 50);
        if (n.code == kSearchFilterProgress) std::filesystem::remove_all(At("sub"));
    });
    EXPECT_EQ(Search(Root(), true), (std::vector<std::string>{At("a.wav")}));
    EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
}

// --- a folder that is not usable ---

TEST_F(FolderSearchTest, FolderDeletedBeforeTheStartEndsWithCodeSevenAlone) {
    const std::string folder = At("soon gone");
    MakeFolder(folder);
    WriteWav(folder + "/x.wav", 2);
    worker_.SetJob(folder, true);
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(worker_.Start());
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    EXPECT_EQ(port_->Notices(), (std::vector<Notice>{{kSearchAborted, 0, 0}}));
    EXPECT_EQ(worker_.ExitCode(), 1);
}

TEST_F(FolderSearchTest, FileAsSearchFolderEndsWithCodeSevenAlone) {
    WriteWav(At("x.wav"), 2);
    EXPECT_TRUE(Search(At("x.wav"), false).empty());
    EXPECT_EQ(port_->Codes(), (std::vector<uintptr_t>{kSearchAborted}));
}

TEST_F(FolderSearchTest, EmptyFolderTextEndsWithCodeSevenAlone) {
    EXPECT_TRUE(Search("", false).empty());
    EXPECT_EQ(port_->Codes(), (std::vector<uintptr_t>{kSearchAborted}));
}

TEST_F(FolderSearchTest, RunWithoutItsWindowFailsAtOnce) {
    WriteWav(At("x.wav"), 2);
    auto port = std::make_shared<SearchPort>();
    FolderSearchWorker worker{WindowHandle(port)};
    worker.SetJob(Root(), false);
    port.reset();
    ASSERT_TRUE(worker.Start());
    for (int i = 0; i < 60000 && worker.IsRunning(); ++i) SleepMs(1);
    ASSERT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.ExitCode(), 1);
    std::vector<std::string> results;
    EXPECT_FALSE(worker.TakeResults(results));
    EXPECT_EQ(worker.CurrentFile(), "");
}

// --- abort and pause ---

TEST_F(FolderSearchTest, AbortDuringTheAnalysisStopsBeforeTheNextFile) {
    for (int i = 0; i < 5; ++i) WriteWav(At("f" + std::to_string(i) + ".wav"), 2);
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchAnalyzeFile && port_->Count(kSearchAnalyzeFile) == 0) worker_.Abort();
    });
    const auto results = Search(Root(), false);
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 1u);
    EXPECT_EQ(results.size(), 1u);  // the file in hand is finished
    EXPECT_EQ(port_->Count(kSearchAnalyzeEnd), 0u);
    EXPECT_EQ(port_->Codes().back(), kSearchAborted);
    EXPECT_EQ(port_->Count(kSearchCompleted), 0u);
    EXPECT_EQ(worker_.ExitCode(), 1);
}

TEST_F(FolderSearchTest, AbortDuringPhaseOneWaitsForTheFolderListing) {
    for (int i = 0; i < 30; ++i) WriteWav(At("f" + std::to_string(i) + ".wav"), 2);
    // The abort comes with the first code 1, in the middle of the folder's listing: the
    // listing still ends, phase 1 completes, and the analysis is refused.
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchFilterBegin) SleepMs(kSearchProgressInterval + 50);
        if (n.code == kSearchFilterProgress) worker_.Abort();
    });
    EXPECT_TRUE(Search(Root(), false).empty());
    EXPECT_EQ(CollectedCount(), 30);
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 0u);
    EXPECT_EQ(port_->Codes().back(), kSearchAborted);
}

TEST_F(FolderSearchTest, AbortDuringPhaseOneEntersNoFurtherFolder) {
    WriteWav(At("top.wav"), 2);
    MakeFolder(At("sub"));
    WriteWav(At("sub/x.wav"), 2);
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchFilterBegin) SleepMs(kSearchProgressInterval + 50);
        if (n.code == kSearchFilterProgress) worker_.Abort();
    });
    EXPECT_TRUE(Search(Root(), true).empty());
    EXPECT_EQ(CollectedCount(), -1);  // phase 1 failed: no code 2
    EXPECT_EQ(port_->Count(kSearchAnalyzeBegin), 0u);
    const auto codes = port_->Codes();
    EXPECT_EQ(codes, (std::vector<uintptr_t>{kSearchFilterBegin, kSearchFilterProgress, kSearchAborted}));
}

TEST_F(FolderSearchTest, PauseHoldsTheAnalysisBeforeTheNextFile) {
    for (int i = 0; i < 3; ++i) WriteWav(At("f" + std::to_string(i) + ".wav"), 2);
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchAnalyzeFile && port_->Count(kSearchAnalyzeFile) == 0) worker_.Pause();
    });
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    // The file in hand is finished; then the worker waits at the top of the next file.
    ASSERT_TRUE(port_->WaitFor(kSearchRecommended));
    const std::string held = worker_.CurrentFile();
    SleepMs(500);
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 1u);
    EXPECT_EQ(worker_.CurrentFile(), held);
    EXPECT_TRUE(worker_.IsRunning());
    std::vector<std::string> early;
    EXPECT_TRUE(worker_.TakeResults(early));
    EXPECT_EQ(early, (std::vector<std::string>{held}));
    worker_.Resume();
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 3u);
    EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
    std::vector<std::string> rest;
    EXPECT_TRUE(worker_.TakeResults(rest));
    EXPECT_EQ(rest.size(), 2u);
}

TEST_F(FolderSearchTest, PauseHoldsPhaseOneAtTheStartOfAFolder) {
    WriteWav(At("x.wav"), 2);
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchFilterBegin) worker_.Pause();
    });
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    ASSERT_TRUE(port_->WaitFor(kSearchFilterBegin));
    SleepMs(500);
    EXPECT_EQ(port_->Codes(), (std::vector<uintptr_t>{kSearchFilterBegin}));
    EXPECT_TRUE(worker_.IsRunning());
    worker_.Resume();
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    // Held longer than the progress interval: the first file collected posts code 1.
    EXPECT_EQ(port_->Codes(), (std::vector<uintptr_t>{0, 1, 2, 3, 4, 5, 6, 8}));
}

TEST_F(FolderSearchTest, AbortWakesAPausedSearch) {
    WriteWav(At("a.wav"), 2);
    WriteWav(At("b.wav"), 2);
    port_->SetHook([this](const Notice& n) {
        if (n.code == kSearchAnalyzeFile) worker_.Pause();
    });
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    ASSERT_TRUE(port_->WaitFor(kSearchRecommended));
    EXPECT_TRUE(worker_.Abort());
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    EXPECT_EQ(port_->Count(kSearchAnalyzeFile), 1u);
    EXPECT_EQ(port_->Codes().back(), kSearchAborted);
}

TEST_F(FolderSearchTest, DestroyingAPausedSearchAbortsIt) {
    WriteWav(At("a.wav"), 2);
    WriteWav(At("b.wav"), 2);
    auto worker = std::make_unique<FolderSearchWorker>(WindowHandle(port_));
    port_->SetHook([&worker](const Notice& n) {
        if (n.code == kSearchAnalyzeFile) worker->Pause();
    });
    worker->SetJob(Root(), false);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(port_->WaitFor(kSearchRecommended));
    port_->SetHook(nullptr);
    worker.reset();  // must not wait for ever
    EXPECT_EQ(port_->Codes().back(), kSearchAborted);
}

// --- the results ---

TEST_F(FolderSearchTest, TakeResultsHandsEachPathOverOnce) {
    WriteWav(At("a.wav"), 2);
    WriteWav(At("b.wav"), 2);
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    std::vector<std::string> taken{"kept"};
    EXPECT_TRUE(worker_.TakeResults(taken));
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0], "kept");
    EXPECT_EQ(AsSet({taken.begin() + 1, taken.end()}), (std::set<std::string>{At("a.wav"), At("b.wav")}));
    std::vector<std::string> again;
    EXPECT_FALSE(worker_.TakeResults(again));
    EXPECT_TRUE(again.empty());
}

TEST_F(FolderSearchTest, SetJobEmptiesPendingResultsAndTheCurrentFile) {
    WriteWav(At("a.wav"), 2);
    worker_.SetJob(Root(), false);
    ASSERT_TRUE(worker_.Start());
    ASSERT_TRUE(port_->WaitForEnd());
    WaitForThread();
    EXPECT_EQ(worker_.CurrentFile(), At("a.wav"));
    worker_.SetJob(Root(), true);
    EXPECT_EQ(worker_.CurrentFile(), "");
    std::vector<std::string> taken;
    EXPECT_FALSE(worker_.TakeResults(taken));
}

TEST_F(FolderSearchTest, WorkerIsReusedForALaterSearch) {
    MakeFolder(At("first"));
    MakeFolder(At("second"));
    WriteWav(At("first/one.wav"), 2);
    WriteWav(At("second/two.wav"), 2);
    WriteWav(At("second/three.wav"), 1);
    EXPECT_EQ(Search(At("first"), false), (std::vector<std::string>{At("first/one.wav")}));
    port_->Clear();
    EXPECT_EQ(Search(At("second"), false), (std::vector<std::string>{At("second/two.wav")}));
    // The second run counts only its own folder.
    EXPECT_EQ(CollectedCount(), 2);
    EXPECT_EQ(port_->Codes().back(), kSearchCompleted);
}

}  // namespace
}  // namespace chm
