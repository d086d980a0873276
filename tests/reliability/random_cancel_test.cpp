// SIGINT at 50 seeded moments from the first millisecond of `tavorin-chm convert` to the last
// one of an uninterrupted run over stereo WAV (PCM and float), MP3 and WMA files. Whenever it
// comes, the program exits with 130, the file in hand is reported "cancelled:" and has no
// output, nothing is left in the temporary folder, no source changes, and every file reported
// converted before it is complete: byte for byte the output of the uninterrupted run.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/converter_process.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;
using namespace test::reliability;
using std::chrono::milliseconds;

constexpr unsigned kSeed = 20240611;
constexpr int kMoments = 50;
constexpr std::chrono::seconds kRunLimit{180};

// How one interrupted run ended.
struct Interruption {
    int index = 0;
    int64_t moment_ms = 0;
    ConverterOutcome outcome;
    std::vector<FileLine> lines;
    std::vector<std::string> outputs_present;  // in the output folder afterwards
    std::vector<std::string> temporary_left;
    std::map<std::string, EntryState> sources_after;
    std::map<std::string, uint64_t> digests;  // output path -> digest
};

struct CancelRuns {
    test::ScratchDir scratch;
    std::string sources = scratch.File("sources");
    std::string config = scratch.File("config");
    std::vector<std::string> inputs;
    std::map<std::string, EntryState> sources_before;
    ConverterOutcome reference;
    std::map<std::string, uint64_t> reference_digests;  // input -> digest of its output
    std::vector<Interruption> interruptions;
    std::string setup_problem;
};

class RandomCancelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        runs_ = std::make_unique<CancelRuns>();
        CancelRuns& r = *runs_;
        fs::create_directory(r.sources);
        fs::create_directory(r.config);
        // Long enough that most moments fall inside a file rather than between the program's
        // start and its first file.
        const std::string s = Quote(r.sources);
        int status = -1;
        Shell("cd " + s + " && sox -R -D -n -r 44100 -c 2 -b 16 1-pcm.wav synth 60 sine 440 sine 660 gain -3"
              " && lame --quiet -b 128 1-pcm.wav 2-cbr.mp3"
              " && ffmpeg -nostdin -v error -i 1-pcm.wav -c:a wmav2 -b:a 128k 3-v2.wma"
              " && sox -R -D 1-pcm.wav -e floating-point -b 32 4-float.wav trim 0 30"
              " && lame --quiet -V 4 4-float.wav 5-vbr.mp3"
              " && ffmpeg -nostdin -v error -i 4-float.wav -c:a wmav2 -b:a 64k 6-v2.wma 2>&1",
              &status);
        if (status != 0) {
            r.setup_problem = "the test media could not be made";
            return;
        }
        for (const char* name : {"1-pcm.wav", "2-cbr.mp3", "3-v2.wma", "4-float.wav", "5-vbr.mp3", "6-v2.wma"})
            r.inputs.push_back(r.sources + "/" + name);
        r.sources_before = SnapshotTree(r.sources);

        // The uninterrupted run: how long it takes, and the outputs to compare with.
        const std::string reference_out = r.scratch.File("reference");
        r.reference = Run(reference_out, "reference", nullptr);
        if (!r.reference.ended || r.reference.exit_code != 0) {
            r.setup_problem = "the uninterrupted run failed:\n" + r.reference.out + r.reference.err;
            return;
        }
        for (const std::string& input : r.inputs)
            r.reference_digests[input] = FileDigest(reference_out + "/" + fs::path(input).filename().string());

        // The moments: the first millisecond, the last one of the uninterrupted run, and 48
        // seeded ones between them.
        const int64_t last = std::max<int64_t>(2, static_cast<int64_t>(r.reference.seconds * 1000));
        std::mt19937 random(kSeed);
        std::uniform_int_distribution<int64_t> pick(1, last);
        std::vector<int64_t> moments{1, last};
        while (moments.size() < kMoments) moments.push_back(pick(random));
        for (int i = 0; i < kMoments; ++i) {
            Interruption interruption;
            interruption.index = i;
            interruption.moment_ms = moments[i];
            const std::string out = r.scratch.File("out" + std::to_string(i));
            interruption.outcome = Run(out, "run" + std::to_string(i), &interruption);
            r.interruptions.push_back(std::move(interruption));
        }
        std::printf("random cancel: uninterrupted run %.2f s, %d interruptions\n", r.reference.seconds, kMoments);
    }
    static void TearDownTestSuite() { runs_.reset(); }

    void SetUp() override { ASSERT_EQ(runs_->setup_problem, ""); }

    // One run into its own output and temporary folders; interrupted at the moment if given.
    static ConverterOutcome Run(const std::string& out, const std::string& label, Interruption* interruption) {
        CancelRuns& r = *runs_;
        const std::string tmp = r.scratch.File(label + "-tmp");
        fs::create_directory(out);
        fs::create_directory(tmp);
        ConverterRun run;
        // One file at a time: the stop then always falls in one file or between two.
        run.args = {"convert", "--jobs", "1", "--output-folder", out, "--"};
        run.args.insert(run.args.end(), r.inputs.begin(), r.inputs.end());
        run.tmpdir = tmp;
        run.config = r.config;
        run.stdout_path = r.scratch.File(label + "-stdout.txt");
        run.stderr_path = r.scratch.File(label + "-stderr.txt");
        ConverterProcess process;
        if (!process.Start(run)) return {};
        if (interruption) {
            std::this_thread::sleep_until(process.StartedAt() + milliseconds(interruption->moment_ms));
            process.Signal(SIGINT);
        }
        ConverterOutcome outcome = process.Wait(kRunLimit);
        if (interruption) {
            for (const std::string& line : ResultLines(outcome.out))
                interruption->lines.push_back(ParseFileLine(line, r.inputs));
            for (const auto& entry : fs::directory_iterator(out)) {
                interruption->outputs_present.push_back(entry.path().string());
                interruption->digests[entry.path().string()] = FileDigest(entry.path().string());
            }
            for (const auto& entry : fs::directory_iterator(tmp))
                interruption->temporary_left.push_back(entry.path().filename().string());
            interruption->sources_after = SnapshotTree(r.sources);
        }
        return outcome;
    }

    static std::string Describe(const Interruption& i) {
        return "interruption " + std::to_string(i.index) + " at " + std::to_string(i.moment_ms) + " ms:\n" +
               i.outcome.out + i.outcome.err;
    }

    // True when the signal came before the program could route it: the default action ended
    // it, before it had begun anything.
    static bool EndedBeforeStarting(const Interruption& i) {
        return i.outcome.signal == SIGINT && i.outcome.out.empty() && i.outputs_present.empty();
    }

    static std::unique_ptr<CancelRuns> runs_;
};

std::unique_ptr<CancelRuns> RandomCancelTest::runs_;

TEST_F(RandomCancelTest, EveryInterruptedRunEndsWithExitCode130) {
    int completed = 0, before = 0;
    for (const Interruption& i : runs_->interruptions) {
        ASSERT_TRUE(i.outcome.ended) << "no end within " << kRunLimit.count() << " s; " << Describe(i);
        if (EndedBeforeStarting(i)) {
            ++before;
            continue;
        }
        EXPECT_EQ(i.outcome.signal, 0) << Describe(i);
        // A signal after the last file was done finds nothing left to stop.
        const bool all_done = i.lines.size() == runs_->inputs.size() + 1 && i.outcome.exit_code == 0;
        if (all_done) {
            ++completed;
            continue;
        }
        EXPECT_EQ(i.outcome.exit_code, 130) << Describe(i);
    }
    // Where the stops fell: in which file, or between two.
    std::map<std::string, int> in_file;
    int between = 0;
    for (const Interruption& i : runs_->interruptions) {
        if (i.outcome.exit_code != 130) continue;
        if (!i.lines.empty() && i.lines.back().kind == "cancelled")
            ++in_file[fs::path(i.lines.back().input).filename().string()];
        else
            ++between;
    }
    std::string where;
    for (const auto& [name, count] : in_file) where += " " + name + ":" + std::to_string(count);
    std::printf("random cancel: %d ended before starting, %d after the last file, %d stopped a run (in%s; %d "
                "between files)\n",
                before, completed, kMoments - before - completed, where.c_str(), between);
}

TEST_F(RandomCancelTest, FilesBeforeTheStopAreConvertedAndTheCurrentOneIsCancelled) {
    for (const Interruption& i : runs_->interruptions) {
        if (i.outcome.exit_code != 130) continue;
        SCOPED_TRACE(Describe(i));
        // Converted files in the order given, then at most the one that was stopped.
        size_t k = 0;
        while (k < i.lines.size() && i.lines[k].kind == "converted") {
            ASSERT_LT(k, runs_->inputs.size());
            EXPECT_EQ(i.lines[k].input, runs_->inputs[k]);
            ++k;
        }
        ASSERT_LE(i.lines.size(), k + 1) << "lines after the stopped file";
        if (k < i.lines.size()) {
            EXPECT_EQ(i.lines[k].kind, "cancelled");
            EXPECT_EQ(i.lines[k].input, runs_->inputs[k]);
        }
    }
}

TEST_F(RandomCancelTest, ConvertedOutputsAreCompleteAndNothingElseIsWritten) {
    for (const Interruption& i : runs_->interruptions) {
        SCOPED_TRACE(Describe(i));
        std::vector<std::string> expected;
        for (const FileLine& line : i.lines) {
            if (line.kind != "converted") continue;
            expected.push_back(line.output);
            const auto digest = i.digests.find(line.output);
            ASSERT_NE(digest, i.digests.end()) << line.output << " is missing";
            EXPECT_EQ(digest->second, runs_->reference_digests[line.input])
                << line.output << " differs from the uninterrupted run's output";
        }
        std::vector<std::string> present = i.outputs_present;
        std::sort(expected.begin(), expected.end());
        std::sort(present.begin(), present.end());
        EXPECT_EQ(present, expected) << "an output of a file that was not converted is left";
    }
}

TEST_F(RandomCancelTest, NothingTemporaryIsLeft) {
    for (const Interruption& i : runs_->interruptions) {
        EXPECT_TRUE(i.temporary_left.empty())
            << i.temporary_left.size() << " left, e.g. " << i.temporary_left.front() << "; " << Describe(i);
    }
}

TEST_F(RandomCancelTest, SourcesAreNeverTouched) {
    for (const Interruption& i : runs_->interruptions) EXPECT_TRUE(i.sources_after == runs_->sources_before) << Describe(i);
}

}  // namespace
}  // namespace chm
