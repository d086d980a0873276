// tavorin-chm convert on MP3, WMA, FLAC, Ogg Vorbis, Opus, AAC and AIFF files, run as a separate
// program as a user would, with media made by lame and ffmpeg and the outputs checked by ffprobe
// and ffmpeg.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "tests/audio/format_test_media.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/odd_media.h"
#include "tests/support/spawn_signals.h"
#include "tests/support/tag_pictures.h"
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
        // The stop signals as a terminal gives them, whatever the test runner inherited.
        posix_spawnattr_t attributes;
        test::DefaultStopSignals(attributes);
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
        const int rc = ::posix_spawn(&pid, CHM_CLI_PATH, &actions, &attributes, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
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

    // Sends SIGINT once the program has begun decoding (it holds its sample stores open).
    CliResult RunAndInterrupt(const std::vector<std::string>& args) {
        const pid_t pid = Spawn(args);
        bool started = false;
        for (int i = 0; i < 60000 && !started; ++i) {
            started = test::HoldsFileIn(pid, tmp_);
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
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"failed: " + broken, "  the file is not a readable MP3 file",
                                                           "converted: " + mp3 + " -> " + Path("good (1).mp3"),
                                                           "failed: " + missing, "  the file does not exist",
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

// ---------------------------------------------------------------------------------------------
// FLAC, Ogg Vorbis, Opus, AAC in MP4 and AIFF: one table, the same checks for each.

namespace formats = test::formats;

std::string FormatName(const ::testing::TestParamInfo<formats::Format>& info) { return info.param.extension; }

class CliMoreFormatsTest : public CliFormatsTest, public ::testing::WithParamInterface<formats::Format> {
protected:
    std::string Named(const std::string& base) const { return Path(base + "." + GetParam().extension); }

    // A tagged stereo source with a cover, 3 s of music-like content.
    std::string TaggedSource(const std::string& extra = {}) {
        const std::string wav = Path("music.wav");
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, 3.0));
        EXPECT_TRUE(formats::MakeCover(cover_));
        const std::string song = Named("song");
        EXPECT_TRUE(formats::Encode(GetParam(), wav, song, cover_, extra));
        return song;
    }

    double Seconds(const std::string& path) { return std::atof(media::Probe(path, "duration", "format").c_str()); }

    const std::string cover_ = Path("cover.png");
};

TEST_P(CliMoreFormatsTest, StereoBecomesMonoOfItsOwnFormatWithTagsAndPicture) {
    const formats::Format& format = GetParam();
    const std::string song = TaggedSource();
    const CliResult result = Run({"convert", song});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string output = Named("song (1)");
    EXPECT_EQ(media::Probe(output, "format_name", "format"), format.container);
    EXPECT_EQ(media::Probe(output, "codec_name"), format.codec_name);
    EXPECT_EQ(media::Probe(output, "channels"), "1");
    const int rate = format.output_rate ? format.output_rate : 44100;
    EXPECT_EQ(media::Probe(output, "sample_rate"), std::to_string(rate));
    EXPECT_NEAR(Seconds(output), Seconds(song), static_cast<double>(format.frame_samples) / rate + 0.001);

    const auto tags = formats::ProbeTags(output);
    for (const auto& [key, value] : formats::SourceTags()) {
        const auto found = tags.find(key);
        EXPECT_TRUE(found != tags.end() && found->second == value) << key << " not carried";
    }
    EXPECT_EQ(formats::ExtractPicture(output, Path("cover-out.png")), test::ReadFileBytes(cover_));

    // The output follows the mix of the decoded source (a gain aside).
    const auto stereo = media::DecodeWithFfmpeg(song, Path("source.f32"));
    const auto mono = media::DecodeWithFfmpeg(output, Path("output.f32"));
    std::vector<float> mix(stereo.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i) mix[i] = stereo[2 * i] + stereo[2 * i + 1];
    ASSERT_FALSE(mono.empty());
    EXPECT_GE(media::BestCorrelation(mix, mono, 4096), 0.95);
}

TEST_P(CliMoreFormatsTest, InterruptCancelsAndLeavesNothing) {
    const std::string wav = Path("long.wav");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i 'sine=f=440:r=44100:d=60' -ac 2 " + media::Quoted(wav)));
    const std::string song = Named("long");
    ASSERT_TRUE(formats::Encode(GetParam(), wav, song));
    const CliResult result = RunAndInterrupt({"convert", song});
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_EQ(Lines(result.out), (std::vector<std::string>{"cancelled: " + song}));
    EXPECT_FALSE(std::filesystem::exists(Named("long (1)")));
}

// A file cut short, one with flipped bytes and a file of another format under this name: each
// converts to what the source holds, or fails with a reason and leaves no output. What each
// does is known for each format: a test that accepts either outcome tests nothing.
struct DamageOutcome {
    bool cut_converts;      // with a note that the source ends early
    bool flipped_converts;  // only where nothing checks the samples (PCM)
};

TEST_P(CliMoreFormatsTest, DamagedAndMisnamedFilesFailWithAReasonOrConvertWhatIsThere) {
    const formats::Format& format = GetParam();
    static const std::map<std::string, DamageOutcome> kOutcomes = {
        {"flac", {true, false}}, {"aiff", {true, true}}, {"ogg", {false, false}},
        {"opus", {false, false}}, {"m4a", {false, false}}};
    const DamageOutcome expected = kOutcomes.at(format.extension);
    const std::string good = Path(std::string("good.") + format.extension);
    ASSERT_TRUE(formats::MakeFile(format, good, 2, 2.0));
    std::vector<uint8_t> bytes = test::ReadFileBytes(good);
    const std::string cut = Named("cut");
    test::WriteFileBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() / 3));
    for (size_t i = bytes.size() / 4; i < bytes.size(); i += 97) bytes[i] ^= 0x5A;
    const std::string flipped = Named("flipped");
    test::WriteFileBytes(flipped, bytes);
    // A FLAC file under every other name; an Ogg Vorbis file under the FLAC name.
    const formats::Format& other = *formats::FindFormat(std::string(format.extension) == "flac" ? "ogg" : "flac");
    const std::string misnamed = Named("misnamed");
    ASSERT_TRUE(formats::MakeFile(other, misnamed + "." + other.extension, 2, 1.0));
    std::filesystem::rename(misnamed + "." + other.extension, misnamed);
    const CliResult result = Run({"convert", cut, flipped, misnamed});
    EXPECT_EQ(result.exit_code, expected.cut_converts && expected.flipped_converts ? 0 : 1) << result.err;

    const std::vector<std::string> lines = Lines(result.out);
    size_t at = 0;
    for (const auto& [name, converts] : std::vector<std::pair<std::string, bool>>{
             {"cut", expected.cut_converts}, {"flipped", expected.flipped_converts}, {"misnamed", true}}) {
        SCOPED_TRACE(name);
        const std::string source = Named(name);
        const std::string output = Named(name + " (1)");
        ASSERT_LT(at, lines.size());
        EXPECT_EQ(lines[at++], converts ? "converted: " + source + " -> " + output : "failed: " + source);
        if (!converts || name == "cut") {
            ASSERT_LT(at, lines.size());
            EXPECT_EQ(lines[at++].rfind(converts ? "  source ends early: " : "  the ", 0), 0u) << lines[at - 1];
        }
        EXPECT_EQ(std::filesystem::exists(output), converts);
        if (!converts) continue;
        // What the source holds, by ffmpeg, is what the output holds.
        const size_t source_frames = media::DecodeWithFfmpeg(source, Path("source.f32")).size() / 2;
        const size_t output_frames = media::DecodeWithFfmpeg(output, Path("output.f32")).size();
        const double source_rate = std::atof(media::Probe(source, "sample_rate").c_str());
        const double output_rate = std::atof(media::Probe(output, "sample_rate").c_str());
        ASSERT_GT(source_rate, 0);
        EXPECT_NEAR(output_frames / output_rate, source_frames / source_rate,
                    2.0 * std::max(format.frame_samples, other.frame_samples) / output_rate);
    }
    EXPECT_EQ(lines.size(), at + 1);  // and the count
}

INSTANTIATE_TEST_SUITE_P(Formats, CliMoreFormatsTest, ::testing::ValuesIn(formats::Formats()), FormatName);

// ---------------------------------------------------------------------------------------------
// Sources that lose audio on the way: each is converted whole or fails with its reason, never
// converted to part of itself; what is only shorter than its header converts with a note.

struct OddSource {
    const char* name;
    bool (*make)(const std::string&);
    bool converts;
    const char* remark;  // the start of the line under the result, or none
    double seconds;      // of a converted output as an outside decoder sees it; 0: the source's
};

bool ChainedVorbisOfTwoRates(const std::string& path) { return test::odd::ChainedVorbis(path, 22050); }
bool ChainedVorbisOfOneRate(const std::string& path) { return test::odd::ChainedVorbis(path, 44100); }

TEST_F(CliFormatsTest, SourcesThatLoseAudioOnTheWayFailWithTheirReasonOrConvertWhole) {
    const std::vector<OddSource> sources = {
        // Whichever check sees the damage first names it: the hole in the timestamps ("at
        // 0:00.27") or, when the parser skips to the end, its count ("after 0:00.27: ...").
        {"damaged.flac", test::odd::DamagedMiddleFlac, false, "  the FLAC stream is damaged ", 0},
        {"two-rates.ogg", ChainedVorbisOfTwoRates, false,
         "  the stream changes its format part-way (44100 Hz stereo, then 22050 Hz stereo)", 0},
        {"then-mono.opus", test::odd::ChainedOpusStereoThenMono, false,
         "  the stream changes its format part-way (stereo, then mono)", 0},
        {"rate-change.flac", test::odd::FlacWhoseRateChanges, false, "  the FLAC stream is damaged after 0:02.00", 0},
        {"one-rate.ogg", ChainedVorbisOfOneRate, false,
         "  the file joins 2 Ogg streams end to end (a chained file), which cannot be converted whole", 0},
        {"middle-less.opus", test::odd::OpusWithoutItsMiddle, true, "  source ends early: 0:0", 0},
        {"cut.flac", test::odd::FlacCutInsideAFrame, true, "  source ends early: 0:0", 0},
    };
    std::vector<std::string> args = {"convert"};
    for (const OddSource& source : sources) {
        ASSERT_TRUE(source.make(Path(source.name))) << source.name;
        args.push_back(Path(source.name));
    }
    const CliResult result = Run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    size_t at = 0;
    for (const OddSource& source : sources) {
        SCOPED_TRACE(source.name);
        const std::string input = Path(source.name);
        const std::string stem = std::filesystem::path(source.name).stem().string();
        const std::string output = Path(stem + " (1)" + std::filesystem::path(source.name).extension().string());
        ASSERT_LT(at, lines.size());
        EXPECT_EQ(lines[at++], source.converts ? "converted: " + input + " -> " + output : "failed: " + input);
        if (source.remark) {
            ASSERT_LT(at, lines.size());
            EXPECT_EQ(lines[at++].rfind(source.remark, 0), 0u) << lines[at - 1];
        }
        EXPECT_EQ(std::filesystem::exists(output), source.converts);
        if (!source.converts) continue;
        EXPECT_EQ(media::Probe(output, "channels"), "1");
        // As long as the source decodes to, by ffmpeg: within one Opus frame of padding.
        const double expected = source.seconds > 0 ? source.seconds
                                                   : media::DecodeWithFfmpeg(input, Path("source.f32")).size() / 2 /
                                                         std::atof(media::Probe(input, "sample_rate").c_str());
        const double seconds = media::DecodeWithFfmpeg(output, Path("output.f32")).size() /
                               std::atof(media::Probe(output, "sample_rate").c_str());
        EXPECT_NEAR(seconds, expected, 0.03);
    }
    EXPECT_EQ(lines.size(), at + 1);
}

// Lossless sources of every depth and kind, made by flac, sox, ffmpeg and GStreamer, some under
// a name of another format: each output keeps the source's container, codec and depth; keeping
// one channel gives it sample for sample, and the mix equals the WAV route's mix of the same
// samples at the same depth.
struct LosslessSource {
    const char* name;
    const char* make;  // a shell command from "in.wav" (stereo, its depth) to "$out"; none for
                       // a FLAC of this depth by the flac tool from an extensible WAV
    int bits;
};

// What ffprobe says a file is: its container, and its audio's codec, sample format and depth.
std::string Kind(const std::string& path) {
    return media::Probe(path, "format_name", "format") + " " +
           media::Probe(path, "codec_name,sample_fmt,bits_per_raw_sample");
}

TEST_F(CliFormatsTest, LosslessSourcesKeepTheirCodecDepthAndEveryChannelExactly) {
    const std::vector<LosslessSource> sources = {
        {"flac-8.flac", "flac -s --force -o \"$out\" in.wav", 8},
        {"flac-16.flac", "flac -s --force -o \"$out\" in.wav", 16},
        {"flac-24.flac", "flac -s --force -o \"$out\" in.wav", 24},
        {"gst-16.flac", "gst-launch-1.0 -q filesrc location=in.wav ! wavparse ! audioconvert ! flacenc ! "
                        "filesink location=\"$out\"", 16},
        {"ogg-flac-24.oga", "ffmpeg -loglevel error -i in.wav -c:a flac -f ogg \"$out\"", 24},
        {"flac-named.aiff", "flac -s --force -o \"$out\" in.wav", 16},
        {"aiff-8.aiff", "sox in.wav \"$out\"", 8},
        {"aiff-16.aif", "sox in.wav \"$out\"", 16},
        {"aiff-24.aiff", "sox in.wav \"$out\"", 24},
        {"aiff-32.aiff", "sox in.wav \"$out\"", 32},
        {"alac-16.m4a", "ffmpeg -loglevel error -i in.wav -c:a alac \"$out\"", 16},
        {"alac-24.m4a", "ffmpeg -loglevel error -i in.wav -c:a alac \"$out\"", 24},
        // AIFF-C floats, loud enough to go past full scale: kept, not clipped.
        // Depths the GStreamer FLAC elements do not carry, one of them outside FLAC's subset.
        {"flac-12.flac", nullptr, 12},
        {"flac-15.flac", nullptr, 15},
        {"flac-20.flac", nullptr, 20},
        {"aiff-float-32.aif", "ffmpeg -loglevel error -i in.wav -af volume=4 -c:a pcm_f32be \"$out\"", 32},
        {"aiff-float-64.aiff", "ffmpeg -loglevel error -i in.wav -af volume=4 -c:a pcm_f64be \"$out\"", 32},
    };
    std::vector<std::string> inputs;
    std::vector<std::string> wavs;  // the same samples as PCM WAV, for the mix
    std::vector<std::string> kinds;  // container, codec, sample format and depth, by ffprobe
    std::vector<std::vector<float>> stereo;  // decoded by ffmpeg
    for (const LosslessSource& source : sources) {
        // Left a falling tone, right noise: each channel its own, the low bits busy.
        const std::string folder = Path(std::string(source.name) + ".d");
        std::filesystem::create_directory(folder);
        const int container = (source.bits + 7) / 8 * 8;
        const std::string wav_bits = std::to_string(container);
        if (source.make) {
            ASSERT_TRUE(media::Run("cd " + media::Quoted(folder) + " && sox -q -n -r 44100 -b " + wav_bits +
                                   " -c 2 in.wav synth 0.5 sine 900-300 whitenoise gain -4 && out=" +
                                   media::Quoted(Path(source.name)) + " && " + source.make))
                << source.name;
        } else {
            ASSERT_TRUE(test::odd::FlacOfDepth(Path(source.name), source.bits)) << source.name;
        }
        inputs.push_back(Path(source.name));
        const std::string kind = media::Probe(inputs.back(), "sample_fmt");
        const std::string pcm = kind == "flt"       ? "pcm_f32le"
                                : kind == "dbl"     ? "pcm_f64le"
                                : source.bits == 8 ? "pcm_u8"
                                                    : "pcm_s" + wav_bits + "le";
        wavs.push_back(Path(std::string(source.name) + ".wav"));
        ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(inputs.back()) + " -map 0:a -c:a " + pcm +
                               " " + media::Quoted(wavs.back())));
        kinds.push_back(Kind(inputs.back()));
        stereo.push_back(media::DecodeWithFfmpeg(inputs.back(), Path("source.f32")));
    }
    for (const char* method : {"left", "right", "mix"}) {
        SCOPED_TRACE(method);
        const std::string out = Path(method);
        std::filesystem::create_directory(out);
        std::vector<std::string> args = {"convert", "--method", method, "--output-folder", out};
        args.insert(args.end(), inputs.begin(), inputs.end());
        if (std::string(method) == "mix") args.insert(args.end(), wavs.begin(), wavs.end());
        const CliResult result = Run(args);
        ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
        for (size_t i = 0; i < sources.size(); ++i) {
            SCOPED_TRACE(sources[i].name);
            const std::string output = out + "/" + sources[i].name;
            EXPECT_EQ(Kind(output), kinds[i]);
            EXPECT_EQ(media::Probe(output, "channels"), "1");
            const auto mono = media::DecodeWithFfmpeg(output, Path("output.f32"));
            std::vector<float> expected;
            if (std::string(method) == "mix") {
                expected = media::DecodeWithFfmpeg(out + "/" + sources[i].name + ".wav", Path("wav.f32"));
            } else {
                for (size_t at = std::string(method) == "left" ? 0 : 1; at < stereo[i].size(); at += 2)
                    expected.push_back(stereo[i][at]);
            }
            ASSERT_FALSE(expected.empty());
            if (std::string(method) == "mix" && sources[i].bits % 8 != 0) {
                // The WAV route's mix is at the container's depth; this one at the source's.
                const float step = std::ldexp(1.0f, 1 - sources[i].bits);
                ASSERT_EQ(mono.size(), expected.size());
                for (size_t at = 0; at < mono.size(); ++at)
                    ASSERT_NEAR(mono[at], expected[at], step) << "at sample " << at;
            } else {
                EXPECT_TRUE(mono == expected) << "the samples differ";
            }
        }
    }
}

// A 32-bit FLAC, which neither GStreamer's parser nor this ffmpeg decodes: written at 32 bits,
// judged by the reference decoder. The stores hold 32-bit floats, so each sample keeps its 24
// most significant bits: off by at most half a step of those.
TEST_F(CliFormatsTest, ThirtyTwoBitFlacStaysThirtyTwoBits) {
    const std::string song = Path("deep.flac");
    ASSERT_TRUE(test::odd::FlacOfDepth(song, 32));
    const CliResult result = Run({"convert", "--method", "right", song});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "converted: " + song + " -> " + Path("deep (1).flac") + "\nFile converted successfully.\n");
    std::vector<std::vector<int32_t>> decoded;
    for (const std::string& flac : {song, Path("deep (1).flac")}) {
        ASSERT_TRUE(media::Run("metaflac --show-bps " + media::Quoted(flac) + " | grep -qx 32")) << flac;
        const std::string raw = flac + ".raw";
        ASSERT_TRUE(media::Run("flac -s -d -f --force-raw-format --endian=little --sign=signed -o " +
                               media::Quoted(raw) + " " + media::Quoted(flac)));
        const std::vector<uint8_t> bytes = test::ReadFileBytes(raw);
        decoded.emplace_back(bytes.size() / 4);
        std::memcpy(decoded.back().data(), bytes.data(), decoded.back().size() * 4);
    }
    ASSERT_EQ(decoded[1].size() * 2, decoded[0].size());
    for (size_t i = 0; i < decoded[1].size(); ++i)
        ASSERT_LE(std::abs(int64_t{decoded[1][i]} - decoded[0][2 * i + 1]), 128) << "at sample " << i;
}

// A 12-bit AIFF (sox's 16-bit samples cut to 12 and the header saying so): aiffmux writes no
// 12-bit samples, so the output has 16, the same values, and the note line says so.
TEST_F(CliFormatsTest, ADepthTheWriterLacksGoesUpExactlyAndSaysSo) {
    const std::string song = Path("twelve.aiff");
    ASSERT_TRUE(media::Run("sox -q -n -r 44100 -b 16 -c 2 " + media::Quoted(song) +
                           " synth 0.5 sine 900-300 whitenoise gain -4"));
    std::vector<uint8_t> bytes = test::ReadFileBytes(song);
    const std::string text(bytes.begin(), bytes.end());
    const size_t comm = text.find("COMM");
    const size_t ssnd = text.find("SSND");
    ASSERT_NE(comm, std::string::npos);
    ASSERT_NE(ssnd, std::string::npos);
    bytes[comm + 15] = 12;  // sampleSize, big-endian, after channels and frames
    for (size_t at = ssnd + 16; at + 1 < bytes.size(); at += 2) bytes[at + 1] &= 0xF0;
    test::WriteFileBytes(song, bytes);
    const CliResult result = Run({"convert", "--method", "left", song});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "converted: " + song + " -> " + Path("twelve (1).aiff") +
                              "\n  written at 16 bits: the AIFF writer takes no 12-bit samples\n"
                              "File converted successfully.\n");
    const auto stereo = media::DecodeWithFfmpeg(song, Path("source.f32"));
    const auto mono = media::DecodeWithFfmpeg(Path("twelve (1).aiff"), Path("output.f32"));
    ASSERT_EQ(mono.size() * 2, stereo.size());
    for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(mono[i], stereo[2 * i]) << "at sample " << i;
}

// The integrated loudness (LUFS) and true peak (dBFS) of a file by ffmpeg's ebur128 filter.
std::pair<double, double> FfmpegLoudness(const std::string& path, const std::string& log) {
    media::Run("ffmpeg -hide_banner -nostdin -nostats -i " + media::Quoted(path) +
               " -af ebur128=peak=true -f null - 2> " + media::Quoted(log));
    std::istringstream lines(test::ReadTextFile(log));
    double lufs = 0, peak = -200;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "I:") words >> lufs;
        if (key == "Peak:") words >> peak;
    }
    return {lufs, peak};
}

// Loudness tags tell the source's level, which the mix changed: the album's go, the track's are
// measured on the output in the family the source used, and the encoder tag names this program.
TEST_F(CliFormatsTest, LoudnessTagsAreMeasuredAgainAndTheEncoderIsThisProgram) {
    struct Tagged {
        const char* name;
        const char* ffmpeg;  // output options
        bool r128;           // Opus's own family
        const char* section;
    };
    const std::vector<Tagged> files = {
        {"rg.flac", "-c:a flac", false, "format_tags"},
        {"rg.ogg", "-c:a libvorbis", false, "stream_tags"},
        {"rg.opus", "-c:a libopus", true, "stream_tags"},
        {"rg.aiff", "-write_id3v2 1", false, "format_tags"},
    };
    const std::string wav = Path("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 48000, 3.0));
    std::vector<std::string> args = {"convert"};
    for (const Tagged& file : files) {
        const std::string tags = file.r128 ? "-metadata R128_TRACK_GAIN=-820 -metadata R128_ALBUM_GAIN=-900 "
                                           : "-metadata REPLAYGAIN_TRACK_GAIN='-3.20 dB' -metadata "
                                             "REPLAYGAIN_TRACK_PEAK=0.5 -metadata REPLAYGAIN_ALBUM_GAIN='-4.00 dB' ";
        ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -metadata title=Tide " + tags +
                               file.ffmpeg + " " + media::Quoted(Path(file.name))));
        args.push_back(Path(file.name));
    }
    const CliResult result = Run(args);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    for (const Tagged& file : files) {
        SCOPED_TRACE(file.name);
        const std::filesystem::path name(file.name);
        const std::string output = Path(name.stem().string() + " (1)" + name.extension().string());
        auto tag = [&](const std::string& key) { return media::Probe(output, key, file.section); };
        EXPECT_EQ(tag("title"), "Tide");
        EXPECT_EQ(tag("REPLAYGAIN_ALBUM_GAIN") + tag("R128_ALBUM_GAIN"), "");
        // ID3's encoder settings frame (ffmpeg's "Lavf...") goes; Xiph's ENCODER names us.
        if (name.extension() == ".aiff")
            EXPECT_EQ(tag("encoder"), "");
        else
            EXPECT_EQ(tag("ENCODER").rfind("tavorin-chm ", 0), 0u) << tag("ENCODER");
        const auto [lufs, peak_db] = FfmpegLoudness(output, Path("ebur128.log"));
        if (file.r128) {
            EXPECT_NEAR(std::atof(tag("R128_TRACK_GAIN").c_str()) / 256.0, -23.0 - lufs, 0.1);
            EXPECT_EQ(tag("REPLAYGAIN_TRACK_GAIN"), "");
        } else {
            EXPECT_NEAR(std::atof(tag("REPLAYGAIN_TRACK_GAIN").c_str()), -18.0 - lufs, 0.1);
            EXPECT_NEAR(20 * std::log10(std::atof(tag("REPLAYGAIN_TRACK_PEAK").c_str())), peak_db, 0.1);
        }
    }
}

// An MP3's and a WMA's tags beyond the properties that their documents carry arrive too: a
// picture with its description, composer, disc, a MusicBrainz identifier; loudness measured
// again, the album's dropped.
TEST_F(CliFormatsTest, Mp3AndWmaKeepTheirOtherTagsAndLoudnessIsMeasuredAgain) {
    const std::string wav = Path("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 2.0));
    const std::string cover = Path("cover.png");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i color=red:s=16x16 -frames:v 1 " + media::Quoted(cover)));
    const std::string common = " -metadata title=Tide -metadata composer=Ebb -metadata REPLAYGAIN_TRACK_GAIN='-3.20 dB'"
                               " -metadata REPLAYGAIN_ALBUM_GAIN='-4.00 dB' ";
    const std::string mp3 = Path("tide.mp3");
    const std::string wma = Path("tide.wma");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -i " + media::Quoted(cover) +
                           " -map 0 -map 1 -c:a libmp3lame -b:a 128k -c:v copy -id3v2_version 3 -metadata disc=2"
                           " -metadata MUSICBRAINZ_TRACKID=4c0f -metadata:s:v title=Front" + common +
                           media::Quoted(mp3)));
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -c:a wmav2 -b:a 128k" + common +
                           media::Quoted(wma)));
    const CliResult result = Run({"convert", mp3, wma});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    for (const std::string& output : {Path("tide (1).mp3"), Path("tide (1).wma")}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(media::ProbeTag(output, "title"), "Tide");
        EXPECT_EQ(media::ProbeTag(output, "composer"), "Ebb");
        EXPECT_EQ(media::ProbeTag(output, "REPLAYGAIN_ALBUM_GAIN"), "");
        const auto [lufs, peak_db] = FfmpegLoudness(output, Path("ebur128.log"));
        EXPECT_NEAR(std::atof(media::ProbeTag(output, "REPLAYGAIN_TRACK_GAIN").c_str()), -18.0 - lufs, 0.1);
        EXPECT_NEAR(20 * std::log10(std::atof(media::ProbeTag(output, "REPLAYGAIN_TRACK_PEAK").c_str())), peak_db,
                    0.1);
    }
    const std::string out_mp3 = Path("tide (1).mp3");
    EXPECT_EQ(media::ProbeTag(out_mp3, "disc"), "2");
    EXPECT_EQ(media::ProbeTag(out_mp3, "MUSICBRAINZ_TRACKID"), "4c0f");
    // The picture, as ffmpeg shows an attached one: a PNG stream with its description.
    EXPECT_TRUE(media::Run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + media::Quoted(out_mp3) +
                           " | grep -qx png"));
    EXPECT_TRUE(media::Run("ffprobe -v error -show_entries stream_tags=title -of csv=p=0 " + media::Quoted(out_mp3) +
                           " | grep -qx Front"));
}

// Every format's tags make the round trip: text (with a MusicBrainz identifier), two pictures
// with their types and descriptions, and loudness measured again with the album's gone. Sources
// by ffmpeg, pictures by ffmpeg or TagLib (where ffmpeg stores none); read back by ffprobe.
TEST_F(CliFormatsTest, EveryFormatsTagsAndPicturesMakeTheRoundTrip) {
    struct Row {
        const char* name;
        const char* ffmpeg;   // output options
        bool ffmpeg_pictures; // else TagLib adds them
        bool picture_types;   // MP4 cover art has neither type nor description
        const char* loudness; // the track gain tag, or none
        const char* tags = "title=Tide artist=Crew album=Shore composer=Ebb MUSICBRAINZ_TRACKID=4c0f";
    };
    const std::vector<Row> rows = {
        {"t.mp3", "-c:a libmp3lame -b:a 128k -id3v2_version 3", true, true, "REPLAYGAIN_TRACK_GAIN"},
        {"t.flac", "-c:a flac", true, true, "REPLAYGAIN_TRACK_GAIN"},
        // TagLib writes a MusicBrainz identifier into ID3 as UFID, which ffprobe does not show.
        {"t.aiff", "-write_id3v2 1", true, true, "REPLAYGAIN_TRACK_GAIN", "title=Tide artist=Crew album=Shore composer=Ebb"},
        {"t.m4a", "-c:a aac -b:a 128k", true, false, nullptr, "title=Tide artist=Crew album=Shore composer=Ebb"},
        // QuickTime keys, which TagLib does not read.
        {"q.m4a", "-c:a aac -b:a 128k -movflags use_metadata_tags", false, false, "REPLAYGAIN_TRACK_GAIN",
         "title=Tide artist=Crew album=Shore composer=Ebb sea=North"},
        {"t.wma", "-c:a wmav2 -b:a 128k", false, true, "REPLAYGAIN_TRACK_GAIN"},
        {"t.ogg", "-c:a libvorbis", false, true, "REPLAYGAIN_TRACK_GAIN"},
        {"t.opus", "-c:a libopus", false, true, "R128_TRACK_GAIN"},
        {"t.wav", "-c:a pcm_s16le", false, true, nullptr, "title=Tide artist=Crew album=Shore"},
    };
    const std::string wav = Path("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 48000, 2.0));
    const std::vector<std::pair<std::string, test::TestPicture>> pictures = {
        {"color=red:s=16x16", {"image/png", 3, "Front", {}}}, {"color=blue:s=8x8", {"image/png", 4, "Back", {}}}};
    std::vector<test::TestPicture> images;
    for (const auto& [source, picture] : pictures) {
        const std::string png = Path(picture.description + ".png");
        ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i " + source + " -frames:v 1 " + media::Quoted(png)));
        const std::vector<uint8_t> bytes = test::ReadFileBytes(png);
        images.push_back(picture);
        images.back().data.assign(bytes.begin(), bytes.end());
    }
    std::vector<std::string> args = {"convert"};
    for (const Row& row : rows) {
        std::string command = media::Ffmpeg() + "-i " + media::Quoted(wav);
        if (row.ffmpeg_pictures)
            command += " -i " + media::Quoted(Path("Front.png")) + " -i " + media::Quoted(Path("Back.png")) +
                       " -map 0 -map 1 -map 2 -c:v copy -disposition:v attached_pic"
                       " -metadata:s:v:0 title=Front -metadata:s:v:0 comment='Cover (front)'"
                       " -metadata:s:v:1 title=Back -metadata:s:v:1 comment='Cover (back)'";
        std::istringstream tags(row.tags);
        for (std::string tag; tags >> tag;) command += " -metadata " + tag;
        if (row.loudness)
            command += row.loudness == std::string("R128_TRACK_GAIN")
                           ? " -metadata R128_TRACK_GAIN=-820 -metadata R128_ALBUM_GAIN=-900"
                           : " -metadata REPLAYGAIN_TRACK_GAIN='-3.20 dB' -metadata REPLAYGAIN_ALBUM_GAIN='-4.00 dB'";
        ASSERT_TRUE(media::Run(command + " " + row.ffmpeg + " " + media::Quoted(Path(row.name)))) << row.name;
        if (!row.ffmpeg_pictures && row.picture_types) {
            ASSERT_TRUE(test::AddPicturesWithTaglib(Path(row.name), images)) << row.name;
        }
        args.push_back(Path(row.name));
    }
    const CliResult result = Run(args);
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    EXPECT_EQ(result.out.find("not carried"), std::string::npos) << result.out;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::filesystem::path name(row.name);
        const std::string output = Path(name.stem().string() + " (1)" + name.extension().string());
        ASSERT_NE(result.out.find("-> " + output), std::string::npos) << result.out;
        // Ogg keeps its comments with the audio stream, the others with the file.
        const bool ogg = name.extension() == ".ogg" || name.extension() == ".opus";
        auto probe = [&](const std::string& streams, const std::string& entry) {
            const std::string listed = Path("probe.txt");
            EXPECT_TRUE(media::Run("ffprobe -v error " + streams + " -show_entries " + entry +
                                   " -of default=nw=1:nk=1 " + media::Quoted(output) + " > " + media::Quoted(listed)));
            return test::ReadTextFile(listed);
        };
        auto tag = [&](const std::string& key) {
            std::string value = ogg ? probe("-select_streams a:0", "stream_tags=" + key) : probe("", "format_tags=" + key);
            if (!value.empty() && value.back() == '\n') value.pop_back();
            return value;
        };
        std::istringstream tags(row.tags);
        for (std::string pair; tags >> pair;) {
            const size_t equals = pair.find('=');
            EXPECT_EQ(tag(pair.substr(0, equals)), pair.substr(equals + 1)) << pair;
        }
        if (row.loudness) {
            const auto [lufs, peak_db] = FfmpegLoudness(output, Path("ebur128.log"));
            const bool r128 = row.loudness == std::string("R128_TRACK_GAIN");
            EXPECT_NEAR(std::atof(tag(row.loudness).c_str()) / (r128 ? 256.0 : 1.0), (r128 ? -23.0 : -18.0) - lufs, 0.1);
            EXPECT_EQ(tag("REPLAYGAIN_ALBUM_GAIN") + tag("R128_ALBUM_GAIN"), "");
        }
        if (!row.ffmpeg_pictures && !row.picture_types) continue;
        // Each picture, in order, with its description and type, its bytes as they went in.
        if (row.picture_types) {
            EXPECT_EQ(probe("-select_streams v", "stream_tags=title"), "Front\nBack\n");
            EXPECT_EQ(probe("-select_streams v", "stream_tags=comment"), "Cover (front)\nCover (back)\n");
        }
        for (size_t i = 0; i < images.size(); ++i) {
            const std::string extracted = Path("picture.bin");
            ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(output) + " -map 0:v:" + std::to_string(i) +
                                   " -c copy -f data " + media::Quoted(extracted)));
            const std::vector<uint8_t> bytes = test::ReadFileBytes(extracted);
            EXPECT_TRUE(std::vector<char>(bytes.begin(), bytes.end()) == images[i].data) << i;
        }
    }
}

// The chunks of a RIFF or FORM file's top level, by id, each body as it stands.
std::multimap<std::string, std::vector<uint8_t>> TopChunks(const std::string& path) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    const bool big = bytes.size() >= 4 && std::memcmp(bytes.data(), "FORM", 4) == 0;
    std::multimap<std::string, std::vector<uint8_t>> chunks;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const uint8_t* p = bytes.data() + at + 4;
        const uint32_t size = big ? uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]
                                  : uint32_t{p[3]} << 24 | p[2] << 16 | p[1] << 8 | p[0];
        if (at + 8 + size > bytes.size()) break;
        chunks.emplace(std::string(bytes.begin() + at, bytes.begin() + at + 4),
                       std::vector<uint8_t>(bytes.begin() + at + 8, bytes.begin() + at + 8 + size));
        at += 8 + size + (size & 1);
    }
    return chunks;
}

// Chunks appended to a RIFF file, its size grown to match: what a field recorder adds.
void AppendRiffChunks(const std::string& path, const std::vector<std::pair<std::string, std::string>>& chunks) {
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    for (const auto& [id, body] : chunks) {
        bytes.insert(bytes.end(), id.begin(), id.end());
        put32(static_cast<uint32_t>(body.size()));
        bytes.insert(bytes.end(), body.begin(), body.end());
        if (body.size() & 1) bytes.push_back(0);
    }
    const auto riff = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    test::WriteFileBytes(path, bytes);
}

// A recording's own chunks arrive in its mono file: a field recorder's Broadcast WAV (bext by
// ffmpeg, with a time reference; iXML, cue points and their labels as a recorder appends them)
// and an AIFF's text chunks by ffmpeg. Keep left keeps every frame where it was, so the time
// reference and the markers stay true; the coding history gains this conversion's line.
TEST_F(CliFormatsTest, ARecordingsChunksArriveWithItsFramesWhereTheyWere) {
    const std::string wav = Path("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 48000, 1.0));
    const std::string take = Path("take.wav");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) +
                           " -c:a pcm_s24le -write_bext 1 -metadata description='Scene 4 take 2' "
                           "-metadata originator=Recorder -metadata origination_date=2026-11-30 "
                           "-metadata origination_time=14:03:20 -metadata time_reference=2427264000 "
                           "-metadata coding_history='A=PCM,F=48000,W=24,M=stereo,T=Recorder' "
                           "-metadata title='Take 2' -metadata artist=Crew " + media::Quoted(take)));
    std::string cue(4, '\0');
    cue[0] = 1;  // one point, at frame 24000 of the data chunk
    const char point[] = "\x01\0\0\0\xc0\x5d\0\0data\0\0\0\0\0\0\0\0\xc0\x5d\0\0";
    cue.append(point, sizeof point - 1);
    const std::string label = std::string("adtllabl\x08\0\0\0\x01\0\0\0Go\0\0", 20);
    AppendRiffChunks(take, {{"iXML", "<BWFXML><PROJECT>Harbour</PROJECT></BWFXML>"}, {"cue ", cue}, {"LIST", label}});
    const std::string aiff = Path("notes.aiff");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -metadata title='Low Tide' "
                           "-metadata author=Crew -metadata copyright='2026 Crew' -metadata comment='Room tone' " +
                           media::Quoted(aiff)));
    const CliResult result = Run({"convert", "--method", "left", take, aiff});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    struct Expected {
        std::string source, output;
        std::vector<std::string> carried;  // chunk ids kept byte for byte
    };
    for (const Expected& file : {Expected{take, Path("take (1).wav"), {"iXML", "cue "}},
                                 Expected{aiff, Path("notes (1).aiff"), {"NAME", "AUTH", "(c) ", "ANNO"}}}) {
        SCOPED_TRACE(file.output);
        const auto before = TopChunks(file.source);
        const auto after = TopChunks(file.output);
        for (const std::string& id : file.carried) {
            ASSERT_EQ(after.count(id), 1u) << id;
            EXPECT_TRUE(after.find(id)->second == before.find(id)->second) << id;
        }
        const auto stereo = media::DecodeWithFfmpeg(file.source, Path("source.f32"));
        const auto mono = media::DecodeWithFfmpeg(file.output, Path("output.f32"));
        ASSERT_EQ(mono.size() * 2, stereo.size());
        for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(mono[i], stereo[2 * i]) << "at sample " << i;
    }
    const auto after = TopChunks(Path("take (1).wav"));
    bool labels = false;
    for (auto [it, end] = after.equal_range("LIST"); it != end; ++it) labels |= it->second == std::vector<uint8_t>(label.begin(), label.end());
    EXPECT_TRUE(labels) << "the cue labels are gone";
    // bext: the fixed part as the source had it, the history with one more line.
    const std::vector<uint8_t> source_bext = TopChunks(take).find("bext")->second;
    ASSERT_EQ(after.count("bext"), 1u);
    const std::vector<uint8_t> bext = after.find("bext")->second;
    ASSERT_GT(bext.size(), 602u);
    EXPECT_TRUE(std::equal(bext.begin(), bext.begin() + 602, source_bext.begin()));
    const std::string history(bext.begin() + 602, bext.end());
    EXPECT_EQ(history.rfind("A=PCM,F=48000,W=24,M=stereo,T=Recorder", 0), 0u) << history;
    EXPECT_NE(history.find("\r\nA=PCM,F=48000,W=24,M=mono,T=tavorin-chm "), std::string::npos) << history;
    EXPECT_EQ(media::ProbeTag(Path("take (1).wav"), "time_reference"), "2427264000");
    EXPECT_EQ(media::ProbeTag(Path("take (1).wav"), "title"), "Take 2");
    EXPECT_EQ(media::ProbeTag(Path("take (1).wav"), "artist"), "Crew");
}

// Files whose content is another format than their name says keep what they hold, with their
// tags; a file that holds no audio fails and says so.
TEST_F(CliFormatsTest, WhatAFileHoldsDecidesWhatItIsWrittenAs) {
    struct Misnamed {
        const char* name;
        const char* ffmpeg;  // the ffmpeg output options that make it
        const char* codec;
        const char* note = "";  // the line under the result, if any
    };
    const std::vector<Misnamed> files = {
        {"opus.ogg", "-c:a libopus -b:a 64k -f ogg", "opus"},
        {"vorbis.opus", "-c:a libvorbis -f ogg", "vorbis"},
        {"flac.oga", "-c:a flac -f ogg", "flac"},
        {"aac.flac", "-c:a aac -b:a 96k -f ipod", "aac"},
        {"mp3.m4a", "-c:a libmp3lame -b:a 128k -f mp3", "mp3"},
        // The one WMA codec with no encoder that a test can make.
        {"v1.wma", "-c:a wmav1 -b:a 128k", "wmav2",
         "  written as WMA (version 2) at its highest bit rate: there is no WMA (version 1) encoder"},
    };
    const std::string wav = Path("music.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 1.0));
    std::vector<std::string> args = {"convert"};
    for (const Misnamed& file : files) {
        ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) + " -metadata title='Night Train' " +
                               file.ffmpeg + " " + media::Quoted(Path(file.name))))
            << file.name;
        args.push_back(Path(file.name));
    }
    test::WriteTextFile(Path("notes.flac"), "not audio\n");
    args.push_back(Path("notes.flac"));
    const CliResult result = Run(args);
    EXPECT_EQ(result.exit_code, 1) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    size_t at = 0;
    auto next = [&] { return at < lines.size() ? lines[at++] : std::string("(no line)"); };
    for (const Misnamed& file : files) {
        SCOPED_TRACE(file.name);
        const std::filesystem::path name(file.name);
        const std::string output = Path(name.stem().string() + " (1)" + name.extension().string());
        EXPECT_EQ(next(), "converted: " + Path(file.name) + " -> " + output);
        if (*file.note) {
            EXPECT_EQ(next(), file.note);
        }
        EXPECT_EQ(media::Probe(output, "codec_name"), file.codec);
        EXPECT_EQ(media::Probe(output, "channels"), "1");
        // Ogg keeps its comments with the stream, the other containers with the file.
        const std::string title = media::ProbeTag(output, "title");
        EXPECT_EQ(title.empty() ? media::Probe(output, "title", "stream_tags") : title, "Night Train");
    }
    EXPECT_EQ(next(), "failed: " + Path("notes.flac"));
    EXPECT_EQ(next(), "  the file holds no audio of a kind that can be converted");
    EXPECT_EQ(lines.size(), at + 1) << result.out;
    EXPECT_FALSE(std::filesystem::exists(Path("notes (1).flac")));
}

// Lossless formats keep every sample at their depth: keeping one channel gives it exactly, and a
// mix is the mix of the same samples read from a WAV file.
class CliLosslessTest : public CliMoreFormatsTest {};

TEST_P(CliLosslessTest, KeepLeftIsTheLeftChannelExactly) {
    const std::string song = TaggedSource();
    ASSERT_EQ(formats::ProbeBits(song), std::to_string(GetParam().bits));
    ASSERT_EQ(Run({"convert", "--method", "left", song}).exit_code, 0);
    EXPECT_EQ(media::Probe(Named("song (1)"), "codec_name"), GetParam().codec_name);
    EXPECT_EQ(formats::ProbeBits(Named("song (1)")), std::to_string(GetParam().bits));
    const auto stereo = media::DecodeWithFfmpeg(song, Path("source.f32"));
    const auto mono = media::DecodeWithFfmpeg(Named("song (1)"), Path("output.f32"));
    std::vector<float> left(stereo.size() / 2);
    for (size_t i = 0; i < left.size(); ++i) left[i] = stereo[2 * i];
    EXPECT_TRUE(mono == left);
}

TEST_P(CliLosslessTest, MixIsTheMixOfTheSameSamplesAsWav) {
    const std::string song = TaggedSource();
    const std::string wav = Path("song.wav");
    const std::string pcm = GetParam().bits == 24 ? " -map 0:a -c:a pcm_s24le " : " -map 0:a -c:a pcm_s16le ";
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(song) + pcm + media::Quoted(wav)));
    ASSERT_EQ(Run({"convert", song, wav}).exit_code, 0);
    const auto from_format = media::DecodeWithFfmpeg(Named("song (1)"), Path("format.f32"));
    const auto from_wav = media::DecodeWithFfmpeg(Path("song (1).wav"), Path("wav.f32"));
    ASSERT_FALSE(from_wav.empty());
    EXPECT_TRUE(from_format == from_wav);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliLosslessTest,
                         ::testing::Values(*formats::FindFormat("flac"), *formats::FindFormat("aiff")), FormatName);
INSTANTIATE_TEST_SUITE_P(Depth24, CliLosslessTest,
                         ::testing::Values(formats::Deep(*formats::FindFormat("flac")),
                                           formats::Deep(*formats::FindFormat("aiff"))),
                         FormatName);

}  // namespace
}  // namespace chm
