// Every reader of untrusted files on entries that are no files: a named pipe (whose open would
// wait for a writer), a folder and a link to an endless device under an audio name. Each read
// ends at once with false. Run in a child with a time-out, so that a read that blocks fails the
// test instead of hanging it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/mp3_decoder.h"
#include "audio/wav_file.h"
#include "tests/support/test_files.h"
#include "wm/asf_probe.h"

namespace chm {
namespace {

// "refused", "accepted", "hung" or how it ended otherwise.
std::string InChild(const std::function<bool()>& read) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(30);
        ::_exit(read() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "refused" : "accepted";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return "hung";
    return "crashed";
}

class ReaderEntriesTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string kind = GetParam();
        for (const char* name : {"x.wav", "x.mp3", "x.wma"}) {
            const std::string path = scratch_.File(name);
            if (kind == "pipe") {
                ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
            } else if (kind == "folder") {
                std::filesystem::create_directory(path);
            } else {
                std::filesystem::create_symlink("/dev/zero", path);
            }
        }
    }
    std::string At(const char* name) const { return scratch_.File(name); }

    test::ScratchDir scratch_;
};

TEST_P(ReaderEntriesTest, WavProbeRefusesAtOnce) {
    EXPECT_EQ(InChild([&] {
                  VeAudioFormat header;
                  return ProbeWav(At("x.wav"), header);
              }),
              "refused");
}

TEST_P(ReaderEntriesTest, WavLoadRefusesAtOnce) {
    EXPECT_EQ(InChild([&] {
                  VeAudioData data;
                  return LoadWav(data, At("x.wav"));
              }),
              "refused");
}

TEST_P(ReaderEntriesTest, Mp3QueryRefusesAtOnce) {
    EXPECT_EQ(InChild([&] {
                  int32_t channels = 0;
                  return QueryMp3Info(At("x.mp3"), &channels, nullptr, nullptr, nullptr);
              }),
              "refused");
}

TEST_P(ReaderEntriesTest, Mp3DecodeRefusesAtOnceAndWritesNothing) {
    const std::string wav = At("decoded.wav");
    EXPECT_EQ(InChild([&] { return DecodeMp3ToWav(wav, At("x.mp3"), nullptr); }), "refused");
    EXPECT_FALSE(std::filesystem::exists(wav));
}

TEST_P(ReaderEntriesTest, WmaProbeRefusesAtOnce) {
    EXPECT_EQ(InChild([&] {
                  VeWmaMediaInfo info;
                  return ProbeWmaFile(info, At("x.wma"));
              }),
              "refused");
}

INSTANTIATE_TEST_SUITE_P(Entries, ReaderEntriesTest, ::testing::Values("pipe", "folder", "device"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace chm
