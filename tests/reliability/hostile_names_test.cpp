// Names that trip shells and line-based lists: blanks, quotes, #, ?, &, backslashes, leading
// dashes, line breaks, bytes that are no UTF-8. `tavorin-chm scan --print0` lists them whole,
// `tavorin-chm convert --files-from FILE --null` reads them whole, and every one is converted
// under the right name, in an output folder or beside its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/reliability/converter_process.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace fs = std::filesystem;
using namespace test::reliability;

constexpr std::chrono::seconds kRunLimit{300};

const std::vector<std::string> kWavNames = {
    "two  blanks.wav", " leading blank.wav", "trailing blank .wav", "it's.wav", "say \"hi\".wav", "#hash.wav",
    "what?.wav", "a&b.wav", "back\\slash.wav", "-dash.wav", "--double dash.wav", "line\nbreak.wav",
    "carriage\rreturn.wav", "tab\tstop.wav", "latin1 \xE9t\xE9.wav", "\xFF\xFE bytes.wav", "* star [x].wav",
    "$HOME `tick`.wav", "semi;colon|pipe.wav", "%s %n.wav", "arrow -> name.wav", "\xC3\xBCnic\xC3\xB8" "de \xE2\x99\xAA.wav",
};
const std::vector<std::string> kMp3Names = {"line\nbreak.mp3", "-dash.mp3", "\xE9.mp3", "it's \"q\".mp3",
                                            "back\\slash?.mp3"};
const std::vector<std::string> kWmaNames = {"line\nbreak.wma", "-dash.wma", "\xE9 latin.wma", "a&b #c.wma",
                                            "back\\slash.wma"};

std::string BaseOf(const std::string& name) { return name.substr(0, name.rfind('.')); }
std::string ExtensionOf(const std::string& name) { return name.substr(name.rfind('.')); }

class HostileNamesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        masters_ = new test::ScratchDir;
        int status = -1;
        Shell("cd " + Quote(masters_->Path()) +
                  " && sox -R -D -n -r 22050 -c 2 -b 16 stereo.wav synth 0.3 sine 440 sine 660 gain -3"
                  " && sox -R -D -n -r 22050 -c 1 -b 16 mono.wav synth 0.3 sine 440 gain -3"
                  " && lame --quiet -b 96 stereo.wav stereo.mp3"
                  " && ffmpeg -nostdin -v error -i stereo.wav -c:a wmav2 -b:a 96k stereo.wma",
              &status);
        made_ = status == 0;
    }
    static void TearDownTestSuite() {
        delete masters_;
        masters_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(made_) << "the test media could not be made";
        for (const auto& dir : {music_, out_, tmp_, config_}) fs::create_directories(dir);
        for (const auto* names : {&kWavNames, &kMp3Names, &kWmaNames}) {
            for (const std::string& name : *names) {
                fs::copy_file(masters_->File("stereo" + ExtensionOf(name)), music_ + "/" + name);
                stereo_.push_back(music_ + "/" + name);
            }
        }
        // Mono under a hostile name: found, analysed, not recommended.
        fs::copy_file(masters_->File("mono.wav"), music_ + "/-mono\nalready.wav");
    }
    void TearDown() override {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(tmp_)) left.push_back(entry.path().string());
        EXPECT_TRUE(left.empty()) << "temporary files left";
    }

    ConverterOutcome Run(const std::vector<std::string>& args, const std::string& stdin_text = "",
                         const std::string& working_dir = "") {
        ConverterRun run;
        run.args = args;
        run.tmpdir = tmp_;
        run.config = config_;
        run.working_dir = working_dir;
        if (!stdin_text.empty()) {
            run.stdin_path = scratch_.File("stdin.bin");
            test::WriteFileBytes(run.stdin_path, std::vector<uint8_t>(stdin_text.begin(), stdin_text.end()));
        }
        run.stdout_path = scratch_.File("stdout.bin");
        run.stderr_path = scratch_.File("stderr.txt");
        ConverterOutcome outcome = RunConverter(run, kRunLimit);
        EXPECT_TRUE(outcome.ended) << "no end within " << kRunLimit.count() << " s";
        return outcome;
    }

    static std::vector<std::string> SplitAtNul(const std::string& text) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
            parts.push_back(text.substr(start, nul - start));
        if (start < text.size()) parts.push_back(text.substr(start) + " (no NUL after it)");
        return parts;
    }

    // Converted, said so in its own words, and the output there: mono, decodable.
    void ExpectConverted(const ConverterOutcome& outcome, const std::string& input, const std::string& output) {
        SCOPED_TRACE(input);
        EXPECT_NE(outcome.out.find("converted: " + input + " -> " + output + "\n"), std::string::npos) << outcome.out;
        ASSERT_TRUE(fs::is_regular_file(output)) << output;
        const DecodedAudio decoded = DecodeWithFfmpeg(output);
        EXPECT_TRUE(decoded.decodes);
        EXPECT_EQ(decoded.channels, 1);
    }

    std::string Scan() {
        const ConverterOutcome scan = Run({"scan", "--print0", "--recurse", music_});
        EXPECT_EQ(scan.exit_code, 0) << scan.err;
        return scan.out;
    }

    static test::ScratchDir* masters_;
    static bool made_;
    test::ScratchDir scratch_;
    std::string music_ = scratch_.File("music");
    std::string out_ = scratch_.File("out");
    std::string tmp_ = scratch_.File("tmp");
    std::string config_ = scratch_.File("config");
    std::vector<std::string> stereo_;
};

test::ScratchDir* HostileNamesTest::masters_ = nullptr;
bool HostileNamesTest::made_ = false;

TEST_F(HostileNamesTest, ScanPrint0ListsEveryStereoFileWholeEachEndedByNul) {
    const std::string listed = Scan();
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.back(), '\0');
    const std::vector<std::string> paths = SplitAtNul(listed);
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()), std::set<std::string>(stereo_.begin(), stereo_.end()));
    EXPECT_EQ(paths.size(), stereo_.size()) << "a path was listed twice";
}

TEST_F(HostileNamesTest, ScanWithoutPrint0StillLeavesOutNamesWithLineBreaks) {
    const ConverterOutcome scan = Run({"scan", "--recurse", music_});
    EXPECT_EQ(scan.exit_code, 0);
    EXPECT_EQ(scan.out.find('\0'), std::string::npos);
    for (const std::string& line : Lines(scan.out)) EXPECT_TRUE(fs::is_regular_file(line)) << line;
    EXPECT_NE(scan.err.find("left out a path with a line break"), std::string::npos) << scan.err;
}

TEST_F(HostileNamesTest, ScanListIntoConvertNullConvertsEveryNameIntoTheOutputFolder) {
    const std::string list = scratch_.File("list.bin");
    const std::string listed = Scan();
    test::WriteFileBytes(list, std::vector<uint8_t>(listed.begin(), listed.end()));
    const ConverterOutcome convert = Run({"convert", "--output-folder", out_, "--files-from", list, "--null"});
    EXPECT_EQ(convert.exit_code, 0) << convert.out << convert.err;
    for (const std::string& input : stereo_) ExpectConverted(convert, input, out_ + "/" + fs::path(input).filename().string());
    EXPECT_NE(convert.out.find(std::to_string(stereo_.size()) + " of " + std::to_string(stereo_.size()) +
                               " files are converted successfully."),
              std::string::npos);
}

TEST_F(HostileNamesTest, NullListFromStandardInputConvertsBesideEachInputUnderItsName) {
    std::string list;
    for (const std::string& input : stereo_) list += input + '\0';
    const ConverterOutcome again = Run({"convert", "--null", "--files-from", "-"}, list);
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err;
    for (const std::string& input : stereo_) {
        const std::string name = fs::path(input).filename().string();
        ExpectConverted(again, input, music_ + "/" + BaseOf(name) + " (1)" + ExtensionOf(name));
    }
}

TEST_F(HostileNamesTest, NullListTakesEmptyEntriesAndALastPathWithoutNul) {
    const std::string list = std::string("\0", 1) + stereo_[0] + std::string("\0\0", 2) + stereo_[1];
    const ConverterOutcome convert = Run({"convert", "--output-folder", out_, "--files-from", "-", "--null"}, list);
    EXPECT_EQ(convert.exit_code, 0) << convert.out << convert.err;
    EXPECT_EQ(Lines(convert.out).back(), "2 of 2 files are converted successfully.");
    ExpectConverted(convert, stereo_[0], out_ + "/" + fs::path(stereo_[0]).filename().string());
    ExpectConverted(convert, stereo_[1], out_ + "/" + fs::path(stereo_[1]).filename().string());
}

TEST_F(HostileNamesTest, LineListSplitsANameWithALineBreakSoNullIsNeeded) {
    const std::string input = music_ + "/line\nbreak.wav";
    const ConverterOutcome convert = Run({"convert", "--output-folder", out_, "--files-from", "-"}, input + "\n");
    EXPECT_EQ(convert.exit_code, 1);  // two paths that do not exist
    EXPECT_FALSE(fs::exists(out_ + "/line\nbreak.wav"));
}

TEST_F(HostileNamesTest, NamesWithLeadingDashesAreFilesAfterTheDoubleDash) {
    const ConverterOutcome convert = Run({"convert", "--", "-dash.wav", "--double dash.wav", "-dash.mp3"}, "", music_);
    EXPECT_EQ(convert.exit_code, 0) << convert.out << convert.err;
    EXPECT_TRUE(fs::is_regular_file(music_ + "/-dash (1).wav"));
    EXPECT_TRUE(fs::is_regular_file(music_ + "/--double dash (1).wav"));
    EXPECT_TRUE(fs::is_regular_file(music_ + "/-dash (1).mp3"));
}

TEST_F(HostileNamesTest, NullOptionTakesNoValue) {
    const ConverterOutcome convert = Run({"convert", "--null=yes", "--files-from", "-"}, stereo_[0]);
    EXPECT_EQ(convert.exit_code, 2);
    EXPECT_NE(convert.err.find("option '--null' takes no value"), std::string::npos) << convert.err;
    EXPECT_EQ(convert.out, "");
}

}  // namespace
}  // namespace chm
