// Drives `tavorin-chm scan` as a user would: what it prints, in which order, on which stream,
// how it ends, and its output piped into `tavorin-chm convert`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "platform/unique_fd.h"
#include "search/folder_search_worker.h"
#include "tests/search/search_test_media.h"
#include "tests/support/spawn_signals.h"
#include "tests/support/test_files.h"

extern char** environ;

namespace chm {
namespace {

using namespace test::search;

constexpr const char* kScanUsageLine = "usage: tavorin-chm scan [--recurse] [--print0] FOLDER";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// ffprobe's channel count of the first audio stream, as an outside reference.
std::string ProbeChannels(const std::string& path) {
    std::string output;
    const std::string command =
        "ffprobe -v error -select_streams a:0 -show_entries stream=channels -of default=noprint_wrappers=1:nokey=1 " +
        Quote(path);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    ::pclose(pipe);
    while (!output.empty() && output.back() == '\n') output.pop_back();
    return output;
}

// What the worker itself recommends, in its order: the reference for the program's output.
class SilentWindow : public MessagePort {
public:
    void Post(uint32_t, uintptr_t, intptr_t) override {}
    intptr_t Send(uint32_t, uintptr_t, intptr_t) override { return 0; }
};

std::vector<std::string> WorkerRecommends(const std::string& folder, bool recurse) {
    auto window = std::make_shared<SilentWindow>();
    FolderSearchWorker worker{WindowHandle(window)};
    worker.SetJob(folder, recurse);
    EXPECT_TRUE(worker.Start());
    for (int i = 0; i < 60000 && worker.IsRunning(); ++i) SleepMs(1);
    std::vector<std::string> results;
    worker.TakeResults(results);
    return results;
}

struct CliResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class ScanCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeFolder(tmp_);
        MakeFolder(config_);
        MakeFolder(Root());
    }
    void TearDown() override {
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left by tavorin-chm";
    }

    std::string Root() const { return scratch_.File("music"); }
    std::string At(const std::string& relative) const { return Root() + "/" + relative; }

    // Ours, with a private temporary and configuration folder. In a sanitizer build only
    // GLib's start-up allocation is excused (as for the convert tests).
    std::vector<std::string> ChildEnvironment() const {
        std::vector<std::string> env;
        std::string asan_options = "fast_unwind_on_malloc=0";
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.starts_with("ASAN_OPTIONS=") && entry.size() > 13)
                asan_options = entry.substr(13) + ":" + asan_options;
            else if (!entry.starts_with("TMPDIR=") && !entry.starts_with("XDG_CONFIG_HOME=") &&
                     !entry.starts_with("LSAN_OPTIONS=") && !entry.starts_with("ASAN_OPTIONS="))
                env.push_back(entry);
        }
        test::WriteTextFile(suppressions_, "leak:_dl_init\n");
        env.push_back("TMPDIR=" + tmp_);
        env.push_back("XDG_CONFIG_HOME=" + config_);
        env.push_back("ASAN_OPTIONS=" + asan_options);
        env.push_back("LSAN_OPTIONS=suppressions=" + suppressions_);
        env.push_back("CHM=" CHM_CLI_PATH);
        return env;
    }

    // Starts `program` with its standard streams on files (stderr on `stderr_fd` and stdout on
    // `stdout_fd` if given).
    pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args, int stderr_fd = -1,
                       int stdout_fd = -1) {
        test::WriteFileBytes(in_file_, {});
        std::filesystem::remove(out_file_);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in_file_.c_str(), O_RDONLY, 0);
        if (stdout_fd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stdout_fd, 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (stderr_fd >= 0)
            posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);
        else
            posix_spawn_file_actions_addopen(&actions, 2, err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        // The stop signals as a terminal gives them, whatever the test runner inherited.
        posix_spawnattr_t attributes;
        test::DefaultStopSignals(attributes);
        std::vector<std::string> argv_text{program};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env_text = ChildEnvironment();
        std::vector<char*> envp;
        for (auto& e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = -1;
        const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        EXPECT_EQ(rc, 0) << std::strerror(rc);
        return rc == 0 ? pid : -1;
    }

    pid_t Spawn(const std::vector<std::string>& args, int stderr_fd = -1, int stdout_fd = -1) {
        return SpawnProgram(CHM_CLI_PATH, args, stderr_fd, stdout_fd);
    }

    // Many names for one long MP3 (its frame scan takes a while): the search is still busy when
    // the first path has been printed.
    void MakeSlowFolder(int names) {
        std::vector<uint8_t> one = Mp3Bytes(2);
        std::vector<uint8_t> long_mp3;
        for (int i = 0; i < 400; ++i) long_mp3.insert(long_mp3.end(), one.begin(), one.end());
        const std::string original = scratch_.File("long.mp3");
        test::WriteFileBytes(original, long_mp3);
        for (int i = 0; i < names; ++i)
            ASSERT_EQ(::link(original.c_str(), At("take" + std::to_string(i) + ".mp3").c_str()), 0);
    }

    // Waits up to two minutes; kills a program that hangs. A program killed by a signal gets
    // 1000 + its number, to be told apart from one that exited with 128 + the number.
    CliResult Finish(pid_t pid) {
        CliResult result;
        int status = 0;
        for (int i = 0; i < 120000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
                result.out = std::filesystem::exists(out_file_) ? test::ReadTextFile(out_file_) : "";
                result.err = std::filesystem::exists(err_file_) ? test::ReadTextFile(err_file_) : "";
                return result;
            }
            SleepMs(1);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the program did not end";
        return result;
    }

    CliResult Run(const std::vector<std::string>& args) { return Finish(Spawn(args)); }

    // A shell pipeline with $CHM standing for the program.
    CliResult RunShell(const std::string& script) { return Finish(SpawnProgram("/bin/sh", {"-c", script})); }

    test::ScratchDir scratch_;
    const std::string tmp_ = scratch_.File("tmp");
    const std::string config_ = scratch_.File("config");
    const std::string in_file_ = scratch_.File("stdin.txt");
    const std::string out_file_ = scratch_.File("stdout.txt");
    const std::string err_file_ = scratch_.File("stderr.txt");
    const std::string suppressions_ = scratch_.File("lsan.supp");
};

TEST_F(ScanCliTest, PrintsEachRecommendedPathInTheWorkersOrder) {
    MakeFolder(At("b/c"));
    MakeFolder(At("a"));
    WriteWav(At("b/c/deep.wav"), 2);
    WriteWav(At("a/one.wav"), 2);
    WriteWav(At("a/mono.wav"), 1);
    WriteWav(At("b/two.pcm"), 2);
    WriteMp3(At("top.mp3"), 2);
    WriteWma(At("top.wma"), 2);
    WriteMp3(At("quiet.mp3"), 1);
    const CliResult result = Run({"scan", "--recurse", Root()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> expected = WorkerRecommends(Root(), true);
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_EQ(Lines(result.out), expected);
    EXPECT_EQ(result.err, "5 files recommended for conversion:\n");  // no terminal, no status line
}

TEST_F(ScanCliTest, ListsExactlyTheStereoFilesOfEveryFormat) {
    std::vector<std::string> stereo;
    WriteWav(At("mono.wav"), 1);
    WriteWav(At("stereo.wav"), 2);
    WriteMp3(At("mono.mp3"), 1);
    WriteMp3(At("stereo.mp3"), 2);
    WriteWma(At("mono.wma"), 1);
    WriteWma(At("stereo.wma"), 2);
    stereo = {At("stereo.wav"), At("stereo.mp3"), At("stereo.wma")};
    for (const std::string& extension : FormatExtensions()) {
        WriteFormatFile(At("mono." + extension), 1);
        WriteFormatFile(At("stereo." + extension), 2);
        stereo.push_back(At("stereo." + extension));
        EXPECT_EQ(ProbeChannels(At("stereo." + extension)), "2");
    }
    const CliResult result = Run({"scan", Root()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    std::vector<std::string> listed = Lines(result.out);
    std::sort(listed.begin(), listed.end());
    std::sort(stereo.begin(), stereo.end());
    EXPECT_EQ(listed, stereo);
}

TEST_F(ScanCliTest, WithoutRecurseOnlyTheFoldersOwnFilesAreListed) {
    WriteWav(At("here.wav"), 2);
    MakeFolder(At("sub"));
    WriteWav(At("sub/below.wav"), 2);
    const CliResult flat = Run({"scan", Root()});
    EXPECT_EQ(flat.exit_code, 0);
    EXPECT_EQ(Lines(flat.out), (std::vector<std::string>{At("here.wav")}));
    EXPECT_EQ(flat.err, "1 files recommended for conversion:\n");
    const CliResult deep = Run({"scan", Root(), "--recurse"});
    EXPECT_EQ(Lines(deep.out), (std::vector<std::string>{At("here.wav"), At("sub/below.wav")}));
}

TEST_F(ScanCliTest, NothingToRecommendSaysSoAndSucceeds) {
    WriteWav(At("mono.wav"), 1);
    test::WriteTextFile(At("notes.txt"), "text");
    const CliResult result = Run({"scan", "--recurse", Root()});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "No files recommended for conversion.\n");
}

TEST_F(ScanCliTest, FolderThatDoesNotExistIsInvalid) {
    const CliResult result = Run({"scan", At("nowhere")});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Invalid search folder!\n");
}

TEST_F(ScanCliTest, FileGivenAsTheFolderIsInvalid) {
    WriteWav(At("x.wav"), 2);
    const CliResult result = Run({"scan", At("x.wav")});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err, "Invalid search folder!\n");
}

TEST_F(ScanCliTest, EmptyFolderTextAsksForAFolder) {
    const CliResult result = Run({"scan", ""});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err, "Please select a folder!\n");
}

TEST_F(ScanCliTest, UsageErrorsExitWithTwoNamingTheProblemAndTheUsage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"scan"}, "no search folder given"},
        {{"scan", "--recurse"}, "no search folder given"},
        {{"scan", "--deep", Root()}, "unknown option '--deep'"},
        {{"scan", Root(), Root()}, "more than one search folder given"},
    };
    for (const auto& [args, problem] : cases) {
        SCOPED_TRACE(problem);
        const CliResult result = Run(args);
        EXPECT_EQ(result.exit_code, 2);
        const auto lines = Lines(result.err);
        ASSERT_EQ(lines.size(), 3u) << result.err;
        EXPECT_EQ(lines[0], "tavorin-chm: " + problem);
        EXPECT_EQ(lines[1], kScanUsageLine);
        EXPECT_EQ(lines[2], "Try 'tavorin-chm scan --help' for more information.");
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(ScanCliTest, FolderNamedLikeAnOptionIsTakenAfterTheDoubleDash) {
    MakeFolder(At("-odd"));
    WriteWav(At("-odd/x.wav"), 2);
    const CliResult result = Run({"scan", "--", At("-odd")});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{At("-odd/x.wav")}));
}

TEST_F(ScanCliTest, HelpListsTheScanCommand) {
    const CliResult result = Run({"--help"});
    EXPECT_EQ(result.exit_code, 0);
    const auto lines = Lines(result.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), kScanUsageLine), lines.end()) << result.out;
}

TEST_F(ScanCliTest, TerminalShowsALiveStatusLine) {
    for (int i = 0; i < 3; ++i) WriteWav(At("song" + std::to_string(i) + ".wav"), 2);
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const pid_t pid = Spawn({"scan", Root()}, slave);
    ::close(slave);
    std::string seen;
    char buffer[1024];
    ssize_t n;
    // The reader ends with EIO once the program has closed its side.
    while ((n = ::read(master, buffer, sizeof buffer)) > 0) seen.append(buffer, static_cast<size_t>(n));
    ::close(master);
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(seen.find("Filtering files..."), std::string::npos) << seen;
    EXPECT_NE(seen.find("Filtering files... 3"), std::string::npos) << seen;
    EXPECT_NE(seen.find("Analyzing "), std::string::npos) << seen;
    // The status line is taken away before the last word.
    const std::string tail = "\r\033[K3 files recommended for conversion:\r\n";
    ASSERT_GE(seen.size(), tail.size());
    EXPECT_EQ(seen.substr(seen.size() - tail.size()), tail) << seen;
    EXPECT_EQ(Lines(result.out).size(), 3u);
}

TEST_F(ScanCliTest, InterruptAbortsTheSearchAndExitsWith130) {
    constexpr int kNames = 300;
    MakeSlowFolder(kNames);
    const pid_t pid = Spawn({"scan", Root()});
    bool started = false;
    for (int i = 0; i < 60000 && !started; ++i) {
        started = std::filesystem::exists(out_file_) && std::filesystem::file_size(out_file_) > 0;
        if (!started) SleepMs(1);
    }
    EXPECT_TRUE(started) << "no path was ever printed";
    ::kill(pid, SIGINT);
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 130) << result.err;
    const auto lines = Lines(result.out);
    EXPECT_GE(lines.size(), 1u);
    EXPECT_LT(lines.size(), static_cast<size_t>(kNames));
    EXPECT_EQ(result.err, "Search aborted.\n" + std::to_string(lines.size()) + " files recommended for conversion:\n");
}

TEST_F(ScanCliTest, ReaderThatLeftAbortsTheSearchAsSigpipe) {
    MakeSlowFolder(300);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd reader(ends[0]), writer(ends[1]);
    reader.Reset();  // gone before the first path
    const pid_t pid = Spawn({"scan", Root()}, -1, writer.Get());
    writer.Reset();
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 141) << result.err;
    EXPECT_TRUE(result.err.starts_with("Search aborted.\n")) << result.err;
}

TEST_F(ScanCliTest, PipedIntoConvertEveryRecommendedFileIsConverted) {
    const std::vector<std::string> names = {"with blanks  .wav", "it's \"quoted\".wav", "#hash?and&amp.wav",
                                            "ünïcødé ♪.wav", " leading blank.wav", "sub dir #1/ä & ö.wav"};
    MakeFolder(At("sub dir #1"));
    for (const std::string& name : names) WriteWav(At(name), 2, 4000, 8000);
    WriteWav(At("already mono.wav"), 1, 4000, 8000);
    const CliResult result = RunShell("\"$CHM\" scan --recurse " + Quote(Root()) + " | \"$CHM\" convert --files-from -");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), names.size() + 1) << result.out;
    EXPECT_EQ(lines.back(), "6 of 6 files are converted successfully.");
    for (const std::string& name : names) {
        const std::string input = At(name);
        const std::string output = input.substr(0, input.size() - 4) + " (1).wav";
        EXPECT_NE(std::find(lines.begin(), lines.end(), "converted: " + input + " -> " + output), lines.end()) << name;
        EXPECT_EQ(ProbeChannels(output), "1") << output;
    }
    EXPECT_FALSE(std::filesystem::exists(At("already mono (1).wav")));
    EXPECT_NE(result.err.find("6 files recommended for conversion:"), std::string::npos) << result.err;
}

TEST_F(ScanCliTest, PathWithALineBreakIsLeftOutAndSaidSo) {
    WriteWav(At("evil\nother.wav"), 2);
    WriteWav(At("other.wav"), 1);  // what the second half of the name would point at
    WriteWav(At("fine.wav"), 2);
    const CliResult result = Run({"scan", Root()});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{At("fine.wav")}));
    EXPECT_NE(result.err.find("left out a path with a line break: " + At("evil\\nother.wav")), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("1 files recommended for conversion:"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace chm
