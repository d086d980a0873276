// tavorin-chm convert on MP3 and WMA files, run as a separate program as a user would, with
// media made by lame and ffmpeg and the outputs checked by ffprobe and ffmpeg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

extern char** environ;

namespace chm {
namespace {

namespace media = test::mp3;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct CliResult {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class CliFormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::create_directory(tmp_));
        ASSERT_TRUE(std::filesystem::create_directory(config_));
    }
    void TearDown() override {
        // The program must leave nothing in its temporary folder, whatever the test did.
        EXPECT_TRUE(std::filesystem::is_empty(tmp_)) << "temporary files left by tavorin-chm";
    }

    std::string Path(const std::string& name) const { return scratch_.File(name); }

    // Stereo music-like content at 44.1 kHz, left and right distinct, through lame, tagged.
    std::string MusicMp3(const std::string& name, double seconds) {
        const std::string wav = Path(name + ".wav");
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, seconds));
        EXPECT_TRUE(media::Lame(wav, Path(name), "-b 192 --tt 'Night Train' --ta 'The Sines' --tl Partials"));
        std::filesystem::remove(wav);
        return Path(name);
    }

    // The same content through ffmpeg's WMA encoder, tagged.
    std::string MusicWma(const std::string& name, double seconds) {
        const std::string wav = Path(name + ".wav");
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, seconds));
        EXPECT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) +
                               " -c:a wmav2 -b:a 128k -metadata title='Night Train' -metadata artist='The Sines'"
                               " -metadata album=Partials " +
                               media::Quoted(Path(name))));
        std::filesystem::remove(wav);
        return Path(name);
    }

    void ExpectTags(const std::string& output) {
        EXPECT_EQ(media::ProbeTag(output, "title"), "Night Train");
        EXPECT_EQ(media::ProbeTag(output, "artist"), "The Sines");
        EXPECT_EQ(media::ProbeTag(output, "album"), "Partials");
    }

    // The decoded output against one channel of the decoded source (0 left, 1 right).
    void ExpectChannel(const std::string& source, const std::string& output, size_t channel) {
        const auto stereo = media::DecodeWithFfmpeg(source, Path("source.f32"));
        const auto mono = media::DecodeWithFfmpeg(output, Path("output.f32"));
        std::vector<float> kept(stereo.size() / 2), other(stereo.size() / 2);
        for (size_t i = 0; i < kept.size(); ++i) {
            kept[i] = stereo[2 * i + channel];
            other[i] = stereo[2 * i + 1 - channel];
        }
        ASSERT_FALSE(mono.empty());
        EXPECT_GE(media::BestCorrelation(kept, mono, 4096), 0.95);
        EXPECT_LT(media::BestCorrelation(other, mono, 4096), 0.5);
    }

    // The child's environment: ours, with a private temporary and configuration folder. In a
    // sanitizer build only GLib's start-up allocation and what GStreamer's libav elements keep
    // (the WMA encoder and muxer, not ours to free) are excused.
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
        test::WriteTextFile(suppressions_, "leak:_dl_init\nleak:libgstlibav.so\n");
        env.push_back("TMPDIR=" + tmp_);
        env.push_back("XDG_CONFIG_HOME=" + config_);
        env.push_back("ASAN_OPTIONS=" + asan_options);
        env.push_back("LSAN_OPTIONS=suppressions=" + suppressions_);
        return env;
    }

    pid_t Spawn(const std::vector<std::string>& args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> argv_text{CHM_CLI_PATH};
        argv_text.insert(argv_text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_text) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env_text = ChildEnvironment();
        std::vector<char*> envp;
        for (auto& e : env_text) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = -1;
        const int rc = ::posix_spawn(&pid, CHM_CLI_PATH, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0) << std::strerror(rc);
        return rc == 0 ? pid : -1;
    }

    // Waits up to two minutes; kills a program that hangs.
    CliResult Finish(pid_t pid) {
        CliResult result;
        int status = 0;
        for (int i = 0; i < 120000; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                result.out = test::ReadTextFile(out_file_);
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

    CliResult Run(const std::vector<std::string>& args) { return Finish(Spawn(args)); }

    // Sends SIGINT once the program has begun decoding (its temporary files appear).
    CliResult RunAndInterrupt(const std::vector<std::string>& args) {
        const pid_t pid = Spawn(args);
        bool started = false;
        for (int i = 0; i < 60000 && !started; ++i) {
            started = !std::filesystem::is_empty(tmp_);
            if (!started) SleepMs(1);
        }
        EXPECT_TRUE(started) << "the conversion never began";
        ::kill(pid, SIGINT);
        return Finish(pid);
    }

    test::ScratchDir scratch_;
    const std::string tmp_ = scratch_.File("tmp");
    const std::string config_ = scratch_.File("config");
    const std::string out_file_ = scratch_.File("stdout.txt");
    const std::string err_file_ = scratch_.File("stderr.txt");
    const std::string suppressions_ = scratch_.File("lsan.supp");
};

TEST_F(CliFormatsTest, StereoMp3BecomesMonoMp3WithItsTags) {
    const std::string song = MusicMp3("song.mp3", 2.0);
    const CliResult result = Run({"convert", song});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string output = Path("song (1).mp3");
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"converted: " + song + " -> " + output, "File converted successfully."}));
    EXPECT_EQ(media::Probe(output, "codec_name"), "mp3");
    EXPECT_EQ(media::Probe(output, "channels"), "1");
    EXPECT_EQ(media::Probe(output, "sample_rate"), "44100");
    ExpectTags(output);
}

TEST_F(CliFormatsTest, StereoWmaBecomesMonoWmaWithItsTags) {
    const std::string song = MusicWma("song.wma", 2.0);
    const CliResult result = Run({"convert", song});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::string output = Path("song (1).wma");
    EXPECT_EQ(Lines(result.out),
              (std::vector<std::string>{"converted: " + song + " -> " + output, "File converted successfully."}));
    EXPECT_EQ(media::Probe(output, "codec_name"), "wmav2");
    EXPECT_EQ(media::Probe(output, "channels"), "1");
    EXPECT_EQ(media::Probe(output, "sample_rate"), "44100");
    ExpectTags(output);
}

TEST_F(CliFormatsTest, KeepLeftOfAnMp3FollowsItsLeftChannel) {
    const std::string song = MusicMp3("song.mp3", 3.0);
    const CliResult result = Run({"convert", "--method", "left", song});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    ExpectChannel(song, Path("song (1).mp3"), 0);
}

TEST_F(CliFormatsTest, KeepRightOfAWmaFollowsItsRightChannel) {
    const std::string song = MusicWma("song.wma", 3.0);
    const CliResult result = Run({"convert", "--method", "right", song});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    ExpectChannel(song, Path("song (1).wma"), 1);
}

TEST_F(CliFormatsTest, OutputFolderTakesMp3AndWmaUnderTheirNames) {
    const std::string folder = Path("out");
    std::filesystem::create_directory(folder);
    const std::string mp3 = MusicMp3("a.mp3", 1.0);
    const std::string wma = MusicWma("b.wma", 1.0);
    const CliResult result = Run({"convert", "--output-folder", folder, mp3, wma});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"converted: " + mp3 + " -> " + folder + "/a.mp3",
                                                           "converted: " + wma + " -> " + folder + "/b.wma",
                                                           "2 of 2 files are converted successfully."}));
}

TEST_F(CliFormatsTest, BrokenAndMissingFilesFailAndTheOthersConvert) {
    const std::string broken = Path("broken.mp3");
    test::WriteTextFile(broken, "ID3 and nothing that decodes");
    const std::string missing = Path("missing.wma");
    const std::string mp3 = MusicMp3("good.mp3", 1.0);
    const std::string wma = MusicWma("good.wma", 1.0);
    const CliResult result = Run({"convert", broken, mp3, missing, wma});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"failed: " + broken,
                                                           "converted: " + mp3 + " -> " + Path("good (1).mp3"),
                                                           "failed: " + missing,
                                                           "converted: " + wma + " -> " + Path("good (1).wma"),
                                                           "2 of 4 files are converted successfully."}));
    EXPECT_FALSE(std::filesystem::exists(Path("broken (1).mp3")));
    EXPECT_FALSE(std::filesystem::exists(Path("missing (1).wma")));
}

TEST_F(CliFormatsTest, InterruptDuringAnMp3CancelsItAndLeavesNothing) {
    const std::string long_mp3 = Path("long.mp3");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i 'sine=f=440:r=44100:d=300' -ac 2 -c:a libmp3lame -b:a 64k " +
                           media::Quoted(long_mp3)));
    const CliResult result = RunAndInterrupt({"convert", long_mp3});
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + long_mp3}));
    EXPECT_FALSE(std::filesystem::exists(Path("long (1).mp3")));
}

TEST_F(CliFormatsTest, InterruptDuringAWmaCancelsItAndLeavesNothing) {
    const std::string long_wma = Path("long.wma");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i 'sine=f=440:r=44100:d=300' -ac 2 -c:a wmav2 -b:a 64k " +
                           media::Quoted(long_wma)));
    const CliResult result = RunAndInterrupt({"convert", long_wma});
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + long_wma}));
    EXPECT_FALSE(std::filesystem::exists(Path("long (1).wma")));
}

// Every writer fills the name reserved for it: same-named files of each format converted into
// one folder at once all arrive, each whole, none in another's place.
TEST_F(CliFormatsTest, SameNamedMp3AndWmaFilesIntoOneFolderAtOnceAllArriveWhole) {
    const std::string out = Path("out");
    std::filesystem::create_directory(out);
    std::vector<std::string> args = {"convert", "--jobs", "4", "--output-folder", out};
    for (const std::string& song : {MusicMp3("song.mp3", 1.0), MusicWma("song.wma", 1.0)}) {
        for (int i = 0; i < 3; ++i) {
            const std::string folder = Path("in" + std::to_string(i));
            std::filesystem::create_directories(folder);
            std::filesystem::copy_file(song, folder + "/" + std::filesystem::path(song).filename().string());
            args.push_back(folder + "/" + std::filesystem::path(song).filename().string());
        }
    }
    const CliResult result = Run(args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(Lines(result.out).back(), "6 of 6 files are converted successfully.");
    for (const char* name : {"song.mp3", "song (1).mp3", "song (2).mp3", "song.wma", "song (1).wma", "song (2).wma"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(media::Probe(out + "/" + name, "channels"), "1");
        ExpectTags(out + "/" + name);
    }
}

}  // namespace
}  // namespace chm
