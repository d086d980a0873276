// Every input that once made a fuzz target crash, hang or break a promise is kept under
// tests/corpus/<target>/ and run again here through the same target body, each in a child
// process of its own with a time-out, so that one bad input names itself instead of taking the
// test program down.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/audio_data.h"
#include "audio/wav_file.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;

// Far beyond what any saved input needs on a loaded machine; a hang ends here.
constexpr unsigned kSecondsPerInput = 120;

std::vector<std::string> SavedInputs(const std::string& target) {
    std::vector<std::string> files;
    const fs::path folder = fs::path(CHM_CORPUS_DIR) / target;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Runs the target on the file in a child: "" when it ended normally, else what happened.
std::string ReplayInChild(const fuzz::FuzzTarget& target, const std::string& file) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return "cannot fork";
    if (child == 0) {
        ::alarm(kSecondsPerInput);
        target.run(bytes);
        std::exit(0);  // through the exit handlers: the target's workspace goes
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "hung (no end within the time-out)";
    if (WIFSIGNALED(status)) return std::string("crashed: ") + ::strsignal(WTERMSIG(status));
    return "exited with " + std::to_string(WEXITSTATUS(status));
}

class CorpusReplayTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusReplayTest, EverySavedInputEndsCleanly) {
    const fuzz::FuzzTarget* target = fuzz::FindFuzzTarget(GetParam());
    ASSERT_NE(target, nullptr);
    for (const std::string& file : SavedInputs(target->name)) {
        const std::string outcome = ReplayInChild(*target, file);
        EXPECT_EQ(outcome, "") << file;
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplayTest,
                         ::testing::Values("wav_probe", "wav_chunks", "load_wav", "wma_probe", "mp3_info",
                                           "mp3_decode", "settings_load", "format_tags"),
                         [](const auto& info) { return std::string(info.param); });

// Inputs of faults in code that is still being changed by its owner wait in <target>/unfixed/;
// once the fault is fixed, the file moves up into <target>/ and its test here goes.

// A "fmt " chunk after the "data" chunk once replaced the header of the samples already read,
// so that the reader returned a stereo header over a mono channel set.
TEST(FixedFaultTest, FmtChunkAfterTheDataLeavesTheHeaderOfTheSamplesRead) {
    const std::string file = std::string(CHM_CORPUS_DIR) + "/load_wav/fmt-chunk-after-data-changes-the-header.wav";
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, file));
    EXPECT_EQ(data.Format().channels, data.ChannelSet().channels);
    EXPECT_EQ(data.Format().channels, 1);  // the header the samples were read with
    EXPECT_EQ(data.Format().frames, data.ChannelSet().frames);
}

TEST(CorpusLayoutTest, EveryTargetIsReplayedAndEveryFolderNamesATarget) {
    EXPECT_EQ(fuzz::FuzzTargets().size(), 8u) << "a new target needs its line in the instantiation above";
    for (const auto& entry : fs::directory_iterator(CHM_CORPUS_DIR)) {
        if (!entry.is_directory()) continue;
        EXPECT_NE(fuzz::FindFuzzTarget(entry.path().filename().string()), nullptr)
            << "tests/corpus/" << entry.path().filename().string() << " belongs to no fuzz target";
    }
}

}  // namespace
}  // namespace chm
