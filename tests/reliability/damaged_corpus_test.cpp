// `tavorin-chm convert` over a corpus of more than 200 damaged files (scripts/make-damaged-corpus.sh,
// seeded): the run ends in time and never crashes, every file is either converted into a mono
// output of the source's length that decodes, or reported failed with no output, nothing is
// left in the temporary folder, and no source is touched. The superuser ignores permissions, so
// then the run is made as "nobody", the owner of the corpus, for whom mode 000 really means
// unreadable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/converter_process.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;
using namespace test::reliability;

constexpr int kSeed = 1;
// The whole run: a few seconds on an idle machine.
constexpr std::chrono::seconds kRunLimit{300};

// Lossy formats do not keep lengths to the sample. MP3: a flipped byte that breaks the LAME tag
// makes one decoder trim the encoder's delay and padding and another keep them, and a damaged
// frame header makes one decoder drop a frame that another decodes, a few frames of 26 ms in
// all; the encoder may also move a rate that MPEG-1 lacks to one it has, so seconds are
// compared. WMA: the encoder's delay of about 2048 samples against the decoding graph's.
constexpr double kMp3ToleranceSeconds = 0.15;
constexpr int64_t kWmaToleranceFrames = 3072;
// Vorbis, Opus and AAC, as the source (found by its content) or as the output (by its name): the
// encoder's delay and its last frame's padding, as far as the container does not say them (AAC
// in MP4 keeps its 1024 priming samples), in frames of the output's own rate.
const std::map<std::string, int64_t> kLossyToleranceFrames{{"vorbis", 2048}, {".ogg", 2048}, {".oga", 2048},
                                                           {"opus", 1920},   {".opus", 1920}, {"aac", 3072},
                                                           {".m4a", 3072}};

int64_t LossyTolerance(const std::string& input, const std::string& source_codec) {
    int64_t tolerance = 0;
    for (const std::string& key : {fs::path(input).extension().string(), source_codec}) {
        const auto found = kLossyToleranceFrames.find(key);
        if (found != kLossyToleranceFrames.end()) tolerance = std::max(tolerance, found->second);
    }
    return tolerance;
}

// The formats whose names the program decodes through its graph, whatever is inside.
bool DecodedByTheGraph(const std::string& input) {
    for (const char* extension : {".flac", ".ogg", ".oga", ".opus", ".m4a", ".aif", ".aiff"})
        if (input.ends_with(extension)) return true;
    return false;
}

struct FileResult {
    std::string input;
    FileLine line;
};

// One corpus and one run of the converter over it, shared by every test of the suite.
struct CorpusRun {
    test::ScratchDir scratch;
    std::string corpus = scratch.File("corpus");
    std::string output = scratch.File("out");
    std::string tmp = scratch.File("tmp");
    std::string config = scratch.File("config");
    std::vector<std::string> inputs;  // absolute, in the order given
    std::map<std::string, EntryState> before;
    std::map<std::string, EntryState> after;
    ConverterOutcome outcome;
    std::vector<std::string> lines;
    std::map<std::string, FileLine> results;  // by input
    std::map<std::string, std::string> remarks;  // by input: a failure's reason, a note
    std::string script_output;
    int script_status = -1;
};

class DamagedCorpusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        run_ = std::make_unique<CorpusRun>();
        CorpusRun& r = *run_;
        r.script_output = Shell(Quote(CHM_SOURCE_DIR "/scripts/make-damaged-corpus.sh") + " " + std::to_string(kSeed) +
                                    " " + Quote(r.corpus) + " 2>&1",
                                &r.script_status);
        if (r.script_status != 0) return;
        for (const auto& dir : {r.output, r.tmp, r.config}) fs::create_directory(dir);
        for (const auto& entry : fs::directory_iterator(r.corpus)) r.inputs.push_back(entry.path().string());
        std::sort(r.inputs.begin(), r.inputs.end());
        if (IsSuperuser()) {
            // The corpus becomes nobody's: its sources are then writable by the converter,
            // so that leaving them alone is its own doing, and mode 000 keeps even their owner out.
            Shell("chown -hR " + std::to_string(kNobody) + " " + Quote(r.corpus));
            for (const auto& dir : {r.output, r.tmp, r.config}) OpenFolderTo(dir, kNobody);
            OpenFolderTo(r.corpus, kNobody);
        }
        r.before = SnapshotTree(r.corpus);
        ConverterRun run;
        run.args = {"convert", "--output-folder", r.output, "--"};
        run.args.insert(run.args.end(), r.inputs.begin(), r.inputs.end());
        run.tmpdir = r.tmp;
        run.config = r.config;
        run.stdout_path = r.scratch.File("stdout.txt");
        run.stderr_path = r.scratch.File("stderr.txt");
        run.user = kNobody;
        r.outcome = RunConverter(run, kRunLimit);
        r.after = SnapshotTree(r.corpus);
        r.lines = ResultLines(r.outcome.out);
        const std::map<size_t, std::string> remarks = Remarks(r.outcome.out);
        for (size_t i = 0; i < r.lines.size(); ++i) {
            const FileLine parsed = ParseFileLine(r.lines[i], r.inputs);
            if (parsed.kind.empty()) continue;
            r.results[parsed.input] = parsed;
            if (const auto it = remarks.find(i); it != remarks.end()) r.remarks[parsed.input] = it->second;
        }
        size_t converted = 0;
        for (const auto& [input, line] : r.results) converted += line.kind == "converted" ? 1 : 0;
        std::printf("damaged corpus: %zu files, %zu converted, %zu failed, run %.1f s\n", r.inputs.size(), converted,
                    r.results.size() - converted, r.outcome.seconds);
    }
    static void TearDownTestSuite() { run_.reset(); }

    void SetUp() override { ASSERT_EQ(run_->script_status, 0) << run_->script_output; }

    static std::string OutputOf(const std::string& input) {
        return run_->output + "/" + fs::path(input).filename().string();
    }

    static std::unique_ptr<CorpusRun> run_;
};

std::unique_ptr<CorpusRun> DamagedCorpusTest::run_;

TEST_F(DamagedCorpusTest, CorpusHoldsMoreThanTwoHundredEntriesOfEveryKind) {
    EXPECT_GE(run_->inputs.size(), 200u);
    std::map<std::string, int> by_extension;
    for (const std::string& input : run_->inputs) ++by_extension[fs::path(input).extension().string()];
    EXPECT_GE(by_extension[".wav"], 60);
    EXPECT_GE(by_extension[".mp3"], 40);
    EXPECT_GE(by_extension[".wma"], 40);
    for (const char* extension : {".flac", ".ogg", ".opus", ".m4a"}) EXPECT_GE(by_extension[extension], 10) << extension;
    EXPECT_GE(by_extension[".aiff"] + by_extension[".aif"], 20);
}

TEST_F(DamagedCorpusTest, RunEndsInTimeWithoutCrashing) {
    const ConverterOutcome& outcome = run_->outcome;
    ASSERT_TRUE(outcome.ended) << "no end within " << kRunLimit.count() << " s; last lines:\n" << outcome.out;
    EXPECT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal << "\n" << outcome.err;
    EXPECT_EQ(outcome.exit_code, 1) << outcome.err;  // some files failed, and said so
}

TEST_F(DamagedCorpusTest, EveryFileIsReportedOnceInTheOrderGiven) {
    const auto& lines = run_->lines;
    ASSERT_EQ(lines.size(), run_->inputs.size() + 1) << run_->outcome.out;
    for (size_t i = 0; i < run_->inputs.size(); ++i) {
        const FileLine parsed = ParseFileLine(lines[i], run_->inputs);
        EXPECT_TRUE(parsed.kind == "converted" || parsed.kind == "failed") << lines[i];
        EXPECT_EQ(parsed.input, run_->inputs[i]) << lines[i];
    }
    size_t converted = 0;
    for (const auto& [input, line] : run_->results) converted += line.kind == "converted" ? 1 : 0;
    EXPECT_EQ(lines.back(), std::to_string(converted) + " of " + std::to_string(run_->inputs.size()) +
                                " files are converted successfully.");
}

// A damaged file fails with a reason in plain words, never with none.
TEST_F(DamagedCorpusTest, EveryFailedFileSaysWhy) {
    for (const auto& [input, line] : run_->results) {
        if (line.kind != "failed") continue;
        const auto it = run_->remarks.find(input);
        ASSERT_NE(it, run_->remarks.end()) << input;
        EXPECT_NE(it->second, "the file could not be converted") << input;
    }
}

// What the source holds is measured by an outside decoder: ffmpeg for the WAV kinds read
// directly (PCM and float) and MP3, and GStreamer's own decoders for what the program decodes
// through its graph (compressed WAV, WMA):
// a truncated ASF file loses its incomplete last packet there, which ffmpeg still decodes.
TEST_F(DamagedCorpusTest, ConvertedFilesDecodeAsMonoOfTheSourcesLength) {
    struct Check {
        std::string input, output;
        DecodedAudio source, decoded;
        int64_t graph_frames = -1;
    };
    std::vector<Check> checks;
    for (const auto& [input, line] : run_->results)
        if (line.kind == "converted") checks.push_back({input, line.output, {}, {}, -1});
    // The outside decoders are separate programs: a few at a time.
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < checks.size(); i = next++) {
            Check& c = checks[i];
            c.source = DecodeWithFfmpeg(c.input);
            c.decoded = DecodeWithFfmpeg(c.output);
            // The program decodes a WMA name, the further formats' names and a compressed WAV through
            // its graph, whatever is inside.
            static const std::set<std::string> direct{"pcm_u8", "pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le",
                                                      "pcm_f64le"};
            if (c.input.ends_with(".wma") || DecodedByTheGraph(c.input) ||
                (!c.input.ends_with(".mp3") && !direct.contains(c.source.codec)))
                c.graph_frames = GstreamerFrames(c.input);
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) workers.emplace_back(work);
    for (std::thread& worker : workers) worker.join();

    for (const Check& c : checks) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(c.output, OutputOf(c.input));
        ASSERT_TRUE(c.decoded.decodes) << "the output does not decode cleanly";
        EXPECT_EQ(c.decoded.channels, 1);
        if (c.input.ends_with(".mp3")) {
            EXPECT_NEAR(c.decoded.Seconds(), c.source.Seconds(), kMp3ToleranceSeconds);
            continue;
        }
        if (DecodedByTheGraph(c.input)) {
            // GStreamer may read a damaged header that ffmpeg refuses: then only the graph's
            // count of what the source holds is known.
            if (c.source.sample_rate > 0) {
                // The codec inside is kept whatever the name says; ffmpeg gives Opus at 48 kHz.
                EXPECT_EQ(c.decoded.sample_rate, c.source.sample_rate);
            }
            // ffmpeg's count where ffmpeg decodes the source: GStreamer's own decodebin, for one,
            // stops after the first link of a chained Ogg file that the program converts whole.
            const int64_t source_rate = c.source.sample_rate > 0 ? c.source.sample_rate : c.decoded.sample_rate;
            int64_t reference = c.source.decodes && c.source.frames > 0 ? c.source.frames : c.graph_frames;
            // A file that holds one stream twice, end to end: each outside decoder stops after
            // the first copy of one of them, the program converts both.
            if (const size_t twice = c.input.find("-chain-twice."); twice != std::string::npos)
                reference = 2 * DecodeWithFfmpeg(c.input.substr(0, twice) + "-intact" + c.input.substr(twice + 12)).frames;
            // A source that ends early converts what it holds and says how much: its note's length.
            if (const auto note = run_->remarks.find(c.input);
                note != run_->remarks.end() && note->second.starts_with("source ends early: ")) {
                int minutes = 0, hundredths = 0, seconds = 0;
                ASSERT_EQ(std::sscanf(note->second.c_str(), "source ends early: %d:%d.%d", &minutes, &seconds, &hundredths), 3);
                // The note's hundredths are cut; a lossy output adds its codec's priming and padding.
                const double codec = static_cast<double>(LossyTolerance(c.input, c.source.codec)) / c.decoded.sample_rate;
                const double noted = minutes * 60 + seconds + hundredths / 100.0;
                EXPECT_GE(c.decoded.Seconds(), noted - 0.001);
                EXPECT_LE(c.decoded.Seconds(), noted + 0.011 + codec);
                continue;
            }
            EXPECT_NEAR(c.decoded.frames, reference * c.decoded.sample_rate / source_rate,
                        LossyTolerance(c.input, c.source.codec));
            continue;
        }
        EXPECT_EQ(c.decoded.sample_rate, c.source.sample_rate);
        if (c.input.ends_with(".wma"))
            EXPECT_NEAR(c.decoded.frames, c.graph_frames, kWmaToleranceFrames);
        else if (c.graph_frames < 0)
            EXPECT_EQ(c.decoded.frames, c.source.frames);
        else
            EXPECT_EQ(c.decoded.frames, c.graph_frames);
    }
}

TEST_F(DamagedCorpusTest, FailedFilesLeaveNoOutputAndTheOutputFolderHoldsOnlyOutputs) {
    std::set<std::string> expected;
    for (const auto& [input, line] : run_->results) {
        if (line.kind == "converted") {
            expected.insert(line.output);
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(OutputOf(input)))) << input;
        }
    }
    std::set<std::string> present;
    for (const auto& entry : fs::directory_iterator(run_->output)) present.insert(entry.path().string());
    EXPECT_EQ(present, expected);
}

TEST_F(DamagedCorpusTest, NoTemporaryFileRemains) {
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(run_->tmp)) left.push_back(entry.path().filename().string());
    EXPECT_TRUE(left.empty()) << left.size() << " left, the first: " << left.front();
}

TEST_F(DamagedCorpusTest, EverySourceIsUnchanged) {
    EXPECT_EQ(run_->after.size(), run_->before.size()) << "entries appeared or went in the corpus";
    for (const auto& [path, state] : run_->before) {
        const auto found = run_->after.find(path);
        ASSERT_NE(found, run_->after.end()) << path << " went away";
        EXPECT_TRUE(found->second == state) << path << " changed";
    }
}

TEST_F(DamagedCorpusTest, IntactSourcesAndCutsAfterTheHeaderConvert) {
    for (const std::string& input : run_->inputs) {
        const std::string name = fs::path(input).filename().string();
        if (name.find("-intact.") == std::string::npos) continue;
        EXPECT_EQ(run_->results[input].kind, "converted") << input;
    }
    // A WAV cut anywhere after its header still holds audio, and a recorder that died leaves
    // exactly that: it must convert, to the length of what is there.
    for (const std::string& input : run_->inputs) {
        const std::string name = fs::path(input).filename().string();
        if (name.starts_with("wav-s16-") && name.find("data-size-ffffffff-cut") != std::string::npos) {
            EXPECT_EQ(run_->results[input].kind, "converted") << input;
        }
    }
}

TEST_F(DamagedCorpusTest, EntriesThatCannotBeReadFail) {
    for (const char* name : {"x.wav", "pipe.wav", "pipe.mp3", "pipe.wma", "loop.wav", "dangling.mp3", "empty.wav",
                             "empty.mp3", "empty.wma", "empty.pcm", "mp3-named.wav", "wma-named.wav", "empty.flac",
                             "empty.ogg", "empty.opus", "empty.m4a", "empty.aiff", "text.flac", "text.ogg", "text.opus",
                             "text.m4a", "text.aiff"}) {
        EXPECT_EQ(run_->results[run_->corpus + "/" + name].kind, "failed") << name;
    }
    // Mode 000 for their owner, whom the converter runs as.
    for (const char* name : {"unreadable.wav", "unreadable.mp3", "unreadable.wma"}) {
        EXPECT_EQ(run_->results[run_->corpus + "/" + name].kind, "failed") << name;
    }
}

}  // namespace
}  // namespace chm
