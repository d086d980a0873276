// Drives the built tavorin-chm program as a user would, with media made by sox and checked
// by ffprobe and sox as outside references.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "cli/progress_line_text.h"
#include "platform/tick.h"
#include "platform/unique_fd.h"
#include "tests/support/spawn_signals.h"
#include "tests/support/test_files.h"

extern char** environ;

namespace chm {
namespace {

constexpr const char* kUsageLine =
    "usage: tavorin-chm convert [--method mix|left|right] [--output-folder DIR] [--files-from FILE|- [--null]] "
    "[--jobs N] [--keep-dates] [--keep-tree DIR] FILE...";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command for the outside tools; its standard output.
std::string Shell(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int result = ::pclose(pipe);
    if (status) *status = result;
    return output;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// ffprobe's view of the first audio stream: codec_name, channels, sample_rate, duration_ts.
std::map<std::string, std::string> Probe(const std::string& path) {
    std::map<std::string, std::string> facts;
    const std::string out = Shell("ffprobe -v error -select_streams a:0 -show_entries "
                                  "stream=codec_name,channels,sample_rate,duration_ts -of default=noprint_wrappers=1 " +
                                  Quote(path));
    for (const std::string& line : Lines(out)) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) facts[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return facts;
}

struct CliResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::create_directory(tmp_));
        ASSERT_TRUE(std::filesystem::create_directory(config_));
    }
    void TearDown() override {
        // The program must leave nothing in its temporary folder, whatever the test did.
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left by tavorin-chm";
    }

    // A stereo 16-bit WAV whose two channels differ: a 440 Hz and a 660 Hz sine.
    std::string MakeStereoWav(const std::string& name, double seconds = 1.0, int rate = 44100) {
        const std::string path = scratch_.File(name);
        int status = -1;
        Shell("sox -n -r " + std::to_string(rate) + " -c 2 -b 16 " + Quote(path) + " synth " + std::to_string(seconds) +
                  " sine 440 sine 660 gain -3",
              &status);
        EXPECT_EQ(status, 0) << "sox could not make " << path;
        return path;
    }

    // A silent stereo WAV of any length made at once: a header and a hole that reads as zeros.
    std::string MakeLongSilentWav(const std::string& name, uint32_t seconds) {
        const std::string path = scratch_.File(name);
        const uint32_t rate = 44100, data = rate * 4 * seconds;
        std::vector<uint8_t> h(44);
        auto put = [&](size_t at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) h[at + i] = (v >> (8 * i)) & 0xFF;
        };
        std::memcpy(&h[0], "RIFF", 4);
        put(4, 36 + data, 4);
        std::memcpy(&h[8], "WAVEfmt ", 8);
        put(16, 16, 4);
        put(20, 1, 2);
        put(22, 2, 2);
        put(24, rate, 4);
        put(28, rate * 4, 4);
        put(32, 4, 2);
        put(34, 16, 2);
        std::memcpy(&h[36], "data", 4);
        put(40, data, 4);
        test::WriteFileBytes(path, h);
        EXPECT_EQ(::truncate(path.c_str(), 44 + static_cast<off_t>(data)), 0);
        return path;
    }

    // The child's environment: ours, with a private temporary and configuration folder. In a
    // sanitizer build the program reports at exit what GLib's library constructor allocates
    // and never frees; only that start-up allocation is excused (GLib has no frame pointers,
    // so the slow unwinder is needed for the stack to reach the constructor).
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
        return env;
    }

    // Starts the program with its standard streams on files (stdout on `stdout_fd` and stderr on
    // `stderr_fd` if given), under `launcher` if one is given (nohup).
    pid_t Spawn(const std::vector<std::string>& args, const std::string& input, int stderr_fd = -1,
                int stdout_fd = -1, const std::string& launcher = "") {
        test::WriteFileBytes(in_file_, std::vector<uint8_t>(input.begin(), input.end()));
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
        const std::string program = launcher.empty() ? CHM_CLI_PATH : launcher;
        std::vector<std::string> argv_text{program};
        if (!launcher.empty()) argv_text.push_back(CHM_CLI_PATH);
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

    // Waits up to two minutes; kills a program that hangs. A program killed by a signal gets
    // 1000 + its number, to be told apart from one that exited with 128 + the number.
    CliResult Finish(pid_t pid) {
        CliResult result;
        int status = 0;
        for (int i = 0; i < 120000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
                result.out = std::filesystem::exists(out_file_) ? test::ReadTextFile(out_file_) : "";
                result.err = test::ReadTextFile(err_file_);
                return result;
            }
            SleepMs(1);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "tavorin-chm did not end";
        return result;
    }

    CliResult Run(const std::vector<std::string>& args, const std::string& input = "") {
        return Finish(Spawn(args, input));
    }

    // True once the program holds a file in its temporary folder: its sample stores, which have
    // no name. Not just any file there: a ThreadSanitizer build puts one of its own there at
    // start-up, before the signals are routed.
    bool HasSampleFile(pid_t pid) const { return test::HoldsFileIn(pid, tmp_); }

    // Polls `condition` for up to two minutes.
    template <typename Condition>
    static bool WaitFor(Condition condition) {
        for (int i = 0; i < 120000; ++i) {
            if (condition()) return true;
            SleepMs(1);
        }
        return condition();
    }

    // Sends `signal` once the program has begun reading (its sample files appear), then waits.
    CliResult RunAndSignal(const std::vector<std::string>& args, int signal) {
        const pid_t pid = Spawn(args, "");
        bool started = false;
        for (int i = 0; i < 60000 && !started; ++i) {
            started = HasSampleFile(pid);
            if (!started) SleepMs(1);
        }
        EXPECT_TRUE(started) << "the conversion never began";
        ::kill(pid, signal);
        return Finish(pid);
    }

    // Sends `signal` once `ready` holds (polled for up to two minutes), then waits.
    template <typename Ready>
    CliResult RunAndSignalWhen(const std::vector<std::string>& args, Ready ready, int signal) {
        const pid_t pid = Spawn(args, "");
        bool reached = false;
        for (int i = 0; i < 120000 && !(reached = ready(pid)); ++i) SleepMs(1);
        EXPECT_TRUE(reached) << "the files never got that far";
        ::kill(pid, signal);
        return Finish(pid);
    }

    // Entries of a folder, by name.
    static std::vector<std::string> Entries(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::ScratchDir scratch_;
    const std::string tmp_ = scratch_.File("tmp");
    const std::string config_ = scratch_.File("config");
    const std::string in_file_ = scratch_.File("stdin.txt");
    const std::string out_file_ = scratch_.File("stdout.txt");
    const std::string err_file_ = scratch_.File("stderr.txt");
    const std::string suppressions_ = scratch_.File("lsan.supp");
};

TEST_F(CliTest, UsageErrorsExitWithTwoNamingTheProblemAndTheUsage) {
    const std::string song = MakeStereoWav("song.wav");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command given"},
        {{"merge", song}, "unknown command 'merge'"},
        {{"convert"}, "no input files"},
        {{"convert", "--speed", "2", song}, "unknown option '--speed'"},
        {{"convert", "--method", "both", song}, "unknown method 'both'"},
        {{"convert", song, "--method"}, "option '--method' needs a value"},
        {{"convert", "--output-folder", scratch_.File("nowhere"), song}, "output folder is not an existing folder"},
        {{"convert", "--files-from", scratch_.File("no-list.txt")}, "cannot read the file list"},
        {{"convert", "--jobs", "0", song}, "option '--jobs' needs a whole number of files at once, 1 or more, not '0'"},
        {{"convert", "-j", "abc", song}, "not 'abc'"},
        {{"convert", "--jobs=2x", song}, "not '2x'"},
        {{"convert", "-j-1", song}, "not '-1'"},
        {{"convert", song, "-j"}, "option '--jobs' needs a value"},
    };
    for (const auto& [args, problem] : cases) {
        SCOPED_TRACE(problem);
        const CliResult result = Run(args);
        EXPECT_EQ(result.exit_code, 2);
        const auto lines = Lines(result.err);
        // Without a known command, the program's usage, not convert's.
        const bool convert = !args.empty() && args[0] == "convert";
        const std::vector<std::string> usage =
            convert ? std::vector<std::string>{kUsageLine}
                    : std::vector<std::string>{"usage: tavorin-chm COMMAND [OPTION]... ARGUMENT...",
                                               "       tavorin-chm --help | --version"};
        ASSERT_EQ(lines.size(), usage.size() + 2) << result.err;
        EXPECT_NE(lines[0].find(problem), std::string::npos) << lines[0];
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), usage);
        EXPECT_EQ(lines.back(), convert ? "Try 'tavorin-chm convert --help' for more information."
                                        : "Try 'tavorin-chm --help' for more information.");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("song (1).wav")));
}

TEST_F(CliTest, StereoWavBecomesMonoWavWithTheSameRateAndLength) {
    const std::string song = MakeStereoWav("song.wav", 1.5, 22050);
    const CliResult result = Run({"convert", song});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string output = scratch_.File("song (1).wav");
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"converted: " + song + " -> " + output, "File converted successfully."}));
    EXPECT_EQ(result.err, "");  // no terminal, no progress line
    auto in = Probe(song), out = Probe(output);
    EXPECT_EQ(out["channels"], "1");
    EXPECT_EQ(out["sample_rate"], "22050");
    EXPECT_EQ(out["duration_ts"], in["duration_ts"]);
    EXPECT_EQ(in["duration_ts"], "33075");
}

TEST_F(CliTest, FloatWavIsWrittenAsMonoFloat) {
    const std::string song = scratch_.File("float.wav");
    int status = -1;
    Shell("sox -n -r 48000 -e floating-point -b 32 -c 2 " + Quote(song) + " synth 0.5 sine 440 sine 660 gain -3", &status);
    ASSERT_EQ(status, 0);
    const CliResult result = Run({"convert", song});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    auto out = Probe(scratch_.File("float (1).wav"));
    EXPECT_EQ(out["codec_name"], "pcm_f32le");
    EXPECT_EQ(out["channels"], "1");
    EXPECT_EQ(out["sample_rate"], "48000");
    EXPECT_EQ(out["duration_ts"], "24000");
}

TEST_F(CliTest, KeepLeftGivesTheLeftChannelBitExact) {
    const std::string song = MakeStereoWav("song.wav");
    const CliResult result = Run({"convert", "--method", "left", song});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string expected = Shell("sox -D " + Quote(song) + " -t raw -e signed -b 16 - remix 1");
    const std::string actual = Shell("sox -D " + Quote(scratch_.File("song (1).wav")) + " -t raw -e signed -b 16 -");
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(expected == actual) << "the output differs from the left channel";
}

TEST_F(CliTest, KeepRightGivesTheRightChannelBitExact) {
    const std::string song = MakeStereoWav("song.wav");
    const CliResult result = Run({"convert", "--method=right", song});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string expected = Shell("sox -D " + Quote(song) + " -t raw -e signed -b 16 - remix 2");
    const std::string actual = Shell("sox -D " + Quote(scratch_.File("song (1).wav")) + " -t raw -e signed -b 16 -");
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(expected == actual) << "the output differs from the right channel";
}

TEST_F(CliTest, OutputFolderHoldsTheOutputUnderTheInputsName) {
    const std::string song = MakeStereoWav("song.wav");
    const std::string folder = scratch_.File("out");
    std::filesystem::create_directory(folder);
    const CliResult result = Run({"convert", "--output-folder", folder, song});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Lines(result.out)[0], "converted: " + song + " -> " + folder + "/song.wav");
    EXPECT_EQ(Probe(folder + "/song.wav")["channels"], "1");
}

TEST_F(CliTest, OutputNeverOverwritesAndTakesTheFirstFreeName) {
    const std::string song = MakeStereoWav("x.wav");
    ASSERT_EQ(Run({"convert", song}).exit_code, 0);
    const auto first = test::ReadFileBytes(scratch_.File("x (1).wav"));
    const CliResult second = Run({"convert", song});
    EXPECT_EQ(Lines(second.out)[0], "converted: " + song + " -> " + scratch_.File("x (2).wav"));
    EXPECT_EQ(test::ReadFileBytes(scratch_.File("x (1).wav")), first);
    // The first output deleted: its name is free again and taken again.
    std::filesystem::remove(scratch_.File("x (1).wav"));
    const CliResult third = Run({"convert", song});
    EXPECT_EQ(Lines(third.out)[0], "converted: " + song + " -> " + scratch_.File("x (1).wav"));
    EXPECT_TRUE(std::filesystem::exists(scratch_.File("x (2).wav")));
}

TEST_F(CliTest, MissingFileFailsAndWritesNothing) {
    const std::string missing = scratch_.File("missing.wav");
    const CliResult result = Run({"convert", missing});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"failed: " + missing, "  the file does not exist",
                                                           "Error converting specified file."}));
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("missing (1).wav")));
}

TEST_F(CliTest, UnsupportedAndBrokenFilesFailAndTheOthersConvert) {
    const std::string text = scratch_.File("notes.txt");
    const std::string broken = scratch_.File("broken.wav");
    test::WriteTextFile(text, "notes");
    test::WriteTextFile(broken, "RIFF but nothing more");
    const std::string good = MakeStereoWav("good.wav");
    const CliResult result = Run({"convert", text, broken, good});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"failed: " + text, "  files of this type are not converted",
                                                           "failed: " + broken, "  the file is not a readable WAV file",
                                                           "converted: " + good + " -> " + scratch_.File("good (1).wav"),
                                                           "1 of 3 files is converted successfully."}));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("notes (1).txt")));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("broken (1).wav")));
}

TEST_F(CliTest, CountSentenceSaysAreForMoreThanOneConvertedFile) {
    const std::string a = MakeStereoWav("a.wav");
    const std::string b = MakeStereoWav("b.wav");
    const CliResult result = Run({"convert", a, b, scratch_.File("gone.wav")});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(Lines(result.out).back(), "2 of 3 files are converted successfully.");
    const CliResult all = Run({"convert", a, b});
    EXPECT_EQ(all.exit_code, 0);
    EXPECT_EQ(Lines(all.out).back(), "2 of 2 files are converted successfully.");
}

TEST_F(CliTest, InterruptCancelsTheCurrentFileAndRemovesItsOutput) {
    const std::string long_file = MakeLongSilentWav("long.wav", 600);
    const std::string later = MakeStereoWav("later.wav");
    // One file at a time, so the later file is still waiting when the signal comes.
    const CliResult result = RunAndSignal({"convert", "--jobs", "1", long_file, later}, SIGINT);
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + long_file}));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("long (1).wav")));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("later (1).wav")));
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(CliTest, TerminateActsAsTheStopButtonToo) {
    const std::string long_file = MakeLongSilentWav("long.wav", 600);
    const CliResult result = RunAndSignal({"convert", long_file}, SIGTERM);
    EXPECT_EQ(result.exit_code, 143) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + long_file}));
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("long (1).wav")));
}

TEST_F(CliTest, EveryStopSignalCancelsTheRunningFileAndExitsWith128PlusItsNumber) {
    const std::string long_file = MakeLongSilentWav("long.wav", 20000);
    for (const auto& [signal, code] : std::vector<std::pair<int, int>>{
             {SIGHUP, 129}, {SIGINT, 130}, {SIGPIPE, 141}, {SIGTERM, 143}}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        const CliResult result = RunAndSignal({"convert", long_file}, signal);
        EXPECT_EQ(result.exit_code, code) << result.err;
        EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + long_file}));
        EXPECT_FALSE(std::filesystem::exists(scratch_.File("long (1).wav")));
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "a ~Ve file is left";
    }
}

TEST_F(CliTest, HangupIgnoredByNohupStaysIgnored) {
    const std::string endless = MakeLongSilentWav("endless.wav", 20000);
    const pid_t pid = Spawn({"convert", endless}, "", -1, -1, "/usr/bin/nohup");
    EXPECT_TRUE(WaitFor([&] { return HasSampleFile(pid); })) << "the conversion never began";
    ::kill(pid, SIGHUP);
    SleepMs(1000);  // time for a stop that must not come
    EXPECT_TRUE(HasSampleFile(pid)) << "the file was stopped";
    ::kill(pid, SIGINT);
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + endless}));
}

TEST_F(CliTest, ReaderThatLeftStopsTheRunAsSigpipe) {
    const std::string short_file = MakeStereoWav("short.wav", 0.2);
    const std::string endless = MakeLongSilentWav("endless.wav", 20000);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    UniqueFd reader(ends[0]), writer(ends[1]);
    reader.Reset();  // gone before the first line
    // The short file's line fails while the endless one runs beside it.
    const pid_t pid = Spawn({"convert", "--jobs", "2", short_file, endless}, "", -1, writer.Get());
    writer.Reset();
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 141) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Probe(scratch_.File("short (1).wav"))["channels"], "1");  // complete before its line
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("endless (1).wav")));
}

TEST_F(CliTest, SecondInterruptEndsAStopThatHangs) {
    const std::string endless = MakeLongSilentWav("endless.wav", 20000);
    // Standard output is a full pipe that nobody reads: the stop hangs on its "cancelled:" line.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    UniqueFd reader(ends[0]), writer(ends[1]);
    const std::vector<char> block(4096, 'x');
    while (::write(writer.Get(), block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(::fcntl(writer.Get(), F_SETFL, 0), 0);
    const pid_t pid = Spawn({"convert", endless}, "", -1, writer.Get());
    writer.Reset();
    EXPECT_TRUE(WaitFor([&] { return HasSampleFile(pid); })) << "the conversion never began";
    ::kill(pid, SIGINT);
    // The first stop has cleaned up: the signal was taken, and a second one cannot merge with it.
    const std::string output = scratch_.File("endless (1).wav");
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(output) && !HasSampleFile(pid); }))
        << "the first stop never cleaned up";
    ::kill(pid, SIGINT);
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 130) << result.err;
}

TEST_F(CliTest, OutputThatCannotBeWrittenMakesTheExitCodeOneAfterTheConversion) {
    const std::string song = MakeStereoWav("song.wav", 0.2);
    const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.IsValid());
    const CliResult result = Finish(Spawn({"convert", song}, "", -1, full.Get()));
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err, "tavorin-chm: write error: No space left on device\n");
    EXPECT_EQ(Probe(scratch_.File("song (1).wav"))["channels"], "1");
}

TEST_F(CliTest, FilesFromStandardInputKeepOddNamesIntact) {
    const std::vector<std::string> names = {"with blanks  .wav", "it's \"quoted\".wav", "#hash?and&amp.wav",
                                            "ünïcødé ♪.wav", " leading blank.wav"};
    std::string list;
    for (const std::string& name : names) list += MakeStereoWav(name, 0.2) + "\n\n";
    const CliResult result = Run({"convert", "--files-from", "-"}, list);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), names.size() + 1);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string input = scratch_.File(names[i]);
        const std::string base = names[i].substr(0, names[i].size() - 4);
        const std::string output = scratch_.File(base + " (1).wav");
        EXPECT_EQ(lines[i], "converted: " + input + " -> " + output);
        EXPECT_EQ(Probe(output)["channels"], "1") << output;
    }
    EXPECT_EQ(lines.back(), "5 of 5 files are converted successfully.");
}

TEST_F(CliTest, FilesFromAFileTakeTheirPlaceAmongTheArguments) {
    const std::string a = MakeStereoWav("a.wav", 0.2);
    const std::string b = MakeStereoWav("b.wav", 0.2);
    const std::string c = MakeStereoWav("c.wav", 0.2);
    const std::string list = scratch_.File("list.txt");
    test::WriteTextFile(list, b + "\n" + c);  // no line break after the last path
    const CliResult result = Run({"convert", c, "--files-from", list, a});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"converted: " + c + " -> " + scratch_.File("c (1).wav"),
                                        "converted: " + b + " -> " + scratch_.File("b (1).wav"),
                                        "converted: " + c + " -> " + scratch_.File("c (2).wav"),
                                        "converted: " + a + " -> " + scratch_.File("a (1).wav"),
                                        "4 of 4 files are converted successfully."}));
}

// --keep-dates gives each output its source's times, whatever route wrote it; without it an
// output has the time of its conversion.
TEST_F(CliTest, KeepDatesGivesOutputsTheirSourcesTimes) {
    const std::string wav = MakeStereoWav("dated.wav", 0.2);
    const std::string flac = scratch_.File("dated.flac");
    ASSERT_EQ(std::system(("sox " + Quote(wav) + " " + Quote(flac)).c_str()), 0);
    const struct timespec old_times[2] = {{981158400, 5}, {981158400, 123456789}};  // 2001-02-03
    for (const std::string& source : {wav, flac}) ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), old_times, 0), 0);
    const CliResult kept = Run({"convert", "--keep-dates", wav, flac});
    ASSERT_EQ(kept.exit_code, 0) << kept.out << kept.err;
    const CliResult plain = Run({"convert", wav});
    ASSERT_EQ(plain.exit_code, 0) << plain.out << plain.err;
    auto modified = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mtim;
    };
    for (const std::string& output : {scratch_.File("dated (1).wav"), scratch_.File("dated (1).flac")}) {
        EXPECT_EQ(modified(output).tv_sec, old_times[1].tv_sec) << output;
        EXPECT_EQ(modified(output).tv_nsec, old_times[1].tv_nsec) << output;
    }
    EXPECT_GT(modified(scratch_.File("dated (2).wav")).tv_sec, old_times[1].tv_sec);
}

TEST_F(CliTest, SettingsFileIsNeitherReadNorWritten) {
    const std::string folder = config_ + "/Tavorin/Channel Merger";
    std::filesystem::create_directories(folder);
    const std::string settings = folder + "/Settings.xml";
    // A real settings file that asks for the right channel; the command line's own choice
    // (mix by default) must count instead.
    AppSettings& app = AppSettings::Instance();
    app.conversion_method = 2;
    ASSERT_TRUE(app.Save(settings));
    app.ResetToDefaults();
    ASSERT_TRUE(app.Load(settings));
    ASSERT_EQ(app.conversion_method, 2);
    app.ResetToDefaults();
    const std::string text = test::ReadTextFile(settings);
    const std::string song = MakeStereoWav("song.wav");
    ASSERT_EQ(Run({"convert", song}).exit_code, 0);
    EXPECT_EQ(test::ReadTextFile(settings), text);
    const std::string right = Shell("sox -D " + Quote(song) + " -t raw -e signed -b 16 - remix 2");
    const std::string actual = Shell("sox -D " + Quote(scratch_.File("song (1).wav")) + " -t raw -e signed -b 16 -");
    EXPECT_FALSE(right == actual);
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) entries += entry.exists() ? 1 : 0;
    EXPECT_EQ(entries, 1u);  // nothing written beside it either
}

TEST_F(CliTest, TerminalShowsALiveProgressLine) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string song = MakeStereoWav("song.wav");
    const pid_t pid = Spawn({"convert", song}, "", slave);
    ::close(slave);
    std::string seen;
    char buffer[1024];
    ssize_t n;
    // The reader ends with EIO once the program has closed its side.
    while ((n = ::read(master, buffer, sizeof buffer)) > 0) seen.append(buffer, static_cast<size_t>(n));
    ::close(master);
    const CliResult result = Finish(pid);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_NE(seen.find("[1/1] song.wav"), std::string::npos) << seen;
    EXPECT_NE(seen.find("100%"), std::string::npos) << seen;
    EXPECT_EQ(Lines(result.out).back(), "File converted successfully.");
}

// --keep-tree: a library's folders arrive as they were below the output folder, same-named files
// each in their own folder, the name rules inside each; nothing leads out of the output folder,
// whatever the names and links; files elsewhere go directly into it.
TEST_F(CliTest, KeepTreeRecreatesTheSourceFoldersBelowTheOutputFolder) {
    namespace fs = std::filesystem;
    const std::string lib = scratch_.File("lib");
    const std::string out = scratch_.File("out");
    const std::string elsewhere = scratch_.File("elsewhere");
    const std::string odd = "odd\nname";
    for (const std::string& folder : std::vector<std::string>{"lib/A", "lib/B/C", "lib/Evil", "lib/" + odd, "out", "elsewhere"})
        fs::create_directories(scratch_.File(folder));
    fs::permissions(lib + "/B", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    // A link in the output folder where a source folder's name lands: never followed.
    fs::create_directory_symlink(elsewhere, out + "/Evil");
    std::vector<std::string> inputs;
    for (const std::string& name : std::vector<std::string>{"lib/A/01 Intro.wav", "lib/B/01 Intro.wav",
                                                            "lib/B/C/01 Intro.wav", "lib/top.wav", "lib/Evil/x.wav",
                                                            "lib/" + odd + "/y.wav", "loose.wav"})
        inputs.push_back(MakeStereoWav(name, 0.2));
    inputs.push_back(lib + "/A/../B/01 Intro.wav");  // the same file again, by another way
    std::vector<std::string> args = {"convert", "--method", "left", "--output-folder", out, "--keep-tree", lib};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const CliResult result = Run(args);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(Lines(result.out).back(), "8 of 8 files are converted successfully.");
    for (const std::string& name : std::vector<std::string>{"A/01 Intro.wav", "B/01 Intro.wav", "B/01 Intro (1).wav",
                                                            "B/C/01 Intro.wav", "top.wav", "x.wav", odd + "/y.wav",
                                                            "loose.wav"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::is_regular_file(out + "/" + name));
        EXPECT_EQ(Probe(out + "/" + name)["channels"], "1");
    }
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(fs::status(out + "/B").permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    // Without --keep-tree every output lands directly in the output folder, as before.
    const std::string flat = scratch_.File("flat");
    fs::create_directory(flat);
    ASSERT_EQ(Run({"convert", "--output-folder", flat, inputs[0], inputs[1]}).exit_code, 0);
    EXPECT_TRUE(fs::is_regular_file(flat + "/01 Intro.wav"));
    EXPECT_TRUE(fs::is_regular_file(flat + "/01 Intro (1).wav"));
}

// The live line never outgrows its terminal: the counts first, then the running files that fit
// with readable names, and how many more run.
TEST(ProgressLineTextTest, TheLineFitsItsTerminal) {
    std::vector<RunningFile> sixteen;
    for (int i = 0; i < 16; ++i) sixteen.push_back({"Harbour Lights - " + std::to_string(i) + " Low Tide.flac", 40 + i});
    for (const size_t columns : {200u, 80u, 40u, 20u, 8u, 1u}) {
        SCOPED_TRACE(columns);
        const std::string line = FitProgressLine("[3 of 20 done] ", sixteen, columns);
        EXPECT_LE(CharacterStarts(line).size(), std::max<size_t>(columns, 2) - 1) << line;
        EXPECT_EQ(line.substr(0, std::min<size_t>(columns, 6)), std::string("[3 of ").substr(0, std::min<size_t>(columns, 6)));
    }
    const std::string eighty = FitProgressLine("[3 of 20 done] ", sixteen, 80);
    EXPECT_NE(eighty.find("40% | "), std::string::npos) << eighty;
    EXPECT_NE(eighty.find(" +1"), std::string::npos) << eighty;
    EXPECT_EQ(FitProgressLine("[0 of 2 done] ", {{"a.wav", 5}, {"b.wav", 10}}, 80), "[0 of 2 done] a.wav 5% | b.wav 10%");
    // A shortened name keeps whole characters.
    const std::string accents = FitProgressLine("[1/1] ", {{std::string(30, 'a') + "\u00e9\u00e9" + std::string(30, 'b'), 7}}, 30);
    EXPECT_EQ(CharacterStarts(accents).size(), 29u) << accents;
}

// Several files at once: lines in the order of the list, whatever ends first.
TEST_F(CliTest, LinesKeepTheListOrderWhileFilesOfVeryDifferentLengthsRunAtOnce) {
    const std::vector<std::string> inputs = {MakeLongSilentWav("long.wav", 300), MakeStereoWav("short.wav", 0.1),
                                             scratch_.File("gone.wav"), MakeLongSilentWav("middle.wav", 60),
                                             MakeStereoWav("tiny.wav", 0.05)};
    const CliResult result = Run({"convert", "--jobs", "3", "--output-folder", scratch_.Path(), inputs[0], inputs[1],
                                  inputs[2], inputs[3], inputs[4]});
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"converted: " + inputs[0] + " -> " + scratch_.File("long (1).wav"),
                                        "converted: " + inputs[1] + " -> " + scratch_.File("short (1).wav"),
                                        "failed: " + inputs[2], "  the file does not exist",
                                        "converted: " + inputs[3] + " -> " + scratch_.File("middle (1).wav"),
                                        "converted: " + inputs[4] + " -> " + scratch_.File("tiny (1).wav"),
                                        "4 of 5 files are converted successfully."}));
    EXPECT_EQ(Probe(scratch_.File("long (1).wav"))["duration_ts"], std::to_string(300 * 44100));
    EXPECT_EQ(Probe(scratch_.File("tiny (1).wav"))["channels"], "1");
}

TEST_F(CliTest, FailingAndCancelledFilesAmongRunningOnesEachSayHowTheyEnded) {
    const std::string endless = MakeLongSilentWav("endless.wav", 20000);
    const std::string broken = scratch_.File("broken.wav");
    test::WriteTextFile(broken, "RIFF and nothing that follows");
    const std::string good = MakeStereoWav("good.wav", 0.5);
    const std::string out = scratch_.File("out");
    std::filesystem::create_directory(out);
    // The good file is complete and the endless one still running when the stop comes.
    const uintmax_t good_size = 44 + 22050 * 2;
    const auto ready = [&](pid_t pid) {
        std::error_code ec;
        return std::filesystem::file_size(out + "/good.wav", ec) == good_size && !ec &&
               test::FilesHeldIn(pid, out) == 1 && !std::filesystem::exists(out + "/broken.wav");
    };
    const CliResult result =
        RunAndSignalWhen({"convert", "-j", "3", "--output-folder", out, endless, broken, good}, ready, SIGINT);
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"cancelled: " + endless, "failed: " + broken,
                                        "  the file is not a readable WAV file",
                                        "converted: " + good + " -> " + out + "/good.wav"}));
    EXPECT_EQ(Entries(out), std::vector<std::string>{"good.wav"});
}

TEST_F(CliTest, InterruptCancelsEveryRunningFileAndLeavesNothing) {
    std::vector<std::string> args = {"convert", "--jobs", "3", "--output-folder", scratch_.File("out")};
    std::filesystem::create_directory(scratch_.File("out"));
    for (const char* name : {"one.wav", "two.wav", "three.wav", "never.wav"})
        args.push_back(MakeLongSilentWav(name, 20000));
    // Each running file writes its output, which has no name until it is complete.
    const auto all_running = [&](pid_t pid) { return test::FilesHeldIn(pid, scratch_.File("out")) == 3; };
    const CliResult result = RunAndSignalWhen(args, all_running, SIGINT);
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + args[5], "cancelled: " + args[6],
                                                           "cancelled: " + args[7]}));
    EXPECT_TRUE(Entries(scratch_.File("out")).empty());
    EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(CliTest, SameNamedInputsIntoOneFolderAtOnceGetDistinctNamesAndReplaceNothing) {
    const std::string song = MakeStereoWav("song.wav", 0.3);
    const std::string out = scratch_.File("out");
    std::filesystem::create_directory(out);
    test::WriteTextFile(out + "/song (3).wav", "someone else's");
    std::vector<std::string> args = {"convert", "--jobs", "4", "--output-folder", out};
    for (int i = 0; i < 8; ++i) {
        const std::string folder = scratch_.File("in" + std::to_string(i));
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(song, folder + "/song.wav");
        args.push_back(folder + "/song.wav");
    }
    const CliResult result = Run(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 9u) << result.out;
    std::vector<std::string> outputs;
    for (size_t i = 0; i < 8; ++i) {
        const std::string prefix = "converted: " + args[5 + i] + " -> ";
        ASSERT_TRUE(lines[i].starts_with(prefix)) << lines[i];
        outputs.push_back(lines[i].substr(prefix.size()));
        EXPECT_EQ(Probe(outputs.back())["channels"], "1") << outputs.back();
    }
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(std::unique(outputs.begin(), outputs.end()), outputs.end());
    EXPECT_EQ(test::ReadTextFile(out + "/song (3).wav"), "someone else's");
    EXPECT_EQ(Entries(out).size(), 9u);
}

// The rows of a help text's option table: each begins "  -" and runs until the next row or the
// end of the table.
std::map<std::string, std::string> OptionRows(const std::string& help) {
    std::map<std::string, std::string> rows;
    const size_t start = help.find("\nOptions:\n");
    const size_t end = help.find("\n\n", start + 1);
    if (start == std::string::npos) return rows;
    std::string current;
    for (const std::string& line : Lines(help.substr(start + 10, end - start - 10))) {
        if (line.starts_with("  -")) {
            const size_t long_name = line.find("--");
            current = line.substr(long_name, line.find(' ', long_name) - long_name);
        }
        rows[current] += line + "\n";
    }
    return rows;
}

TEST_F(CliTest, HelpGoesToStandardOutputWithExitCodesAndExamples) {
    const std::string song = MakeStereoWav("song.wav");
    const std::vector<std::vector<std::string>> asks = {
        {"--help"}, {"-h"}, {"convert", "--help"}, {"convert", song, "-h"}, {"scan", "--help"}, {"scan", "x", "--help"}};
    for (const auto& args : asks) {
        SCOPED_TRACE(args.back());
        const CliResult result = Run(args);
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        for (const char* part : {"\nOptions:\n", "\nExit codes:\n  0 ", "\n  1 ", "\n  2 ", "\n  129 ", "\n  130 ",
                                 "\n  141 ", "\n  143 ", "\nExamples:\n"})
            EXPECT_NE(result.out.find(part), std::string::npos) << part << " missing from\n" << result.out;
        EXPECT_NE(result.out.find("scan --print0 ~/Music | tavorin-chm convert --files-from - --null\n"),
                  std::string::npos);
        EXPECT_NE(result.out.find("--help"), std::string::npos);
        for (const std::string& line : Lines(result.out)) {
            EXPECT_TRUE(line.starts_with("usage:") || line.size() <= 90u) << line;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("song (1).wav")));  // asking converts nothing
}

TEST_F(CliTest, EveryOptionOfAUsageLineHasAHelpRowWithItsDefault) {
    for (const std::string command : {"convert", "scan"}) {
        SCOPED_TRACE(command);
        const CliResult usage = Run({command, "--no-such-option"});
        const CliResult help = Run({command, "--help"});
        const std::map<std::string, std::string> rows = OptionRows(help.out);
        ASSERT_GE(Lines(usage.err).size(), 2u);
        std::istringstream words(Lines(usage.err)[1]);
        int options = 0;
        for (std::string word; words >> word;) {
            const size_t dashes = word.find("--");
            if (dashes == std::string::npos) continue;
            const std::string name = word.substr(dashes, word.find_first_of(" ]", dashes) - dashes);
            ++options;
            ASSERT_TRUE(rows.contains(name)) << name << " has no row in\n" << help.out;
            EXPECT_NE(rows.at(name).find("(default: "), std::string::npos) << rows.at(name);
        }
        EXPECT_GE(options, 2);
        EXPECT_TRUE(rows.contains("--help"));
    }
}

TEST_F(CliTest, HelpAndVersionThatCannotBeWrittenExitWithOne) {
    const UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.IsValid());
    for (const std::string ask : {"--help", "--version"}) {
        SCOPED_TRACE(ask);
        const CliResult result = Finish(Spawn({ask}, "", -1, full.Get()));
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.err, "tavorin-chm: write error: No space left on device\n");
    }
}

TEST_F(CliTest, VersionIsTheProjectVersion) {
    const CliResult result = Run({"--version"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, std::string("tavorin-chm (Tavorin Channel Merger) ") + CHM_VERSION + "\n");
}

}  // namespace
}  // namespace chm
