#include "engine/conversion_worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_data.h"
#include "audio/wav_file.h"
#include "engine/conversion_job.h"
#include "engine/file_list_item.h"
#include "platform/file_system.h"
#include "platform/message_port.h"
#include "platform/tick.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

// Waits up to two minutes for a condition: generous for a loaded machine.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 120000; ++i) {
        if (condition()) return true;
        SleepMs(1);
    }
    return condition();
}

uint16_t ReadU16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t ReadU32(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// What a canonical 16-bit PCM WAV says about itself, read straight from its bytes.
struct WavFacts {
    uint16_t channels = 0;
    uint32_t rate = 0;
    std::vector<int16_t> samples;  // interleaved
};

WavFacts ReadCanonicalWav(const std::string& path) {
    const auto bytes = test::ReadFileBytes(path);
    WavFacts facts;
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 36, "data", 4) != 0)
        return facts;
    facts.channels = ReadU16(bytes, 22);
    facts.rate = ReadU32(bytes, 24);
    const uint32_t size = std::min<uint32_t>(ReadU32(bytes, 40), static_cast<uint32_t>(bytes.size() - 44));
    facts.samples.resize(size / 2);
    std::memcpy(facts.samples.data(), bytes.data() + 44, facts.samples.size() * 2);
    return facts;
}

// A silent 16-bit stereo WAV of any length, made instantly: the header, then a hole that
// reads as zeros.
void WriteSilentWav(const std::string& path, uint32_t frames, uint32_t rate) {
    const uint32_t data = frames * 4;
    std::vector<uint8_t> header(44);
    auto put16 = [&](size_t at, uint16_t v) { header[at] = v & 0xFF, header[at + 1] = v >> 8; };
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = (v >> (8 * i)) & 0xFF;
    };
    std::memcpy(&header[0], "RIFF", 4);
    put32(4, 36 + data);
    std::memcpy(&header[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, rate);
    put32(28, rate * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(&header[36], "data", 4);
    put32(40, data);
    test::WriteFileBytes(path, header);
    ASSERT_EQ(::truncate(path.c_str(), 44 + static_cast<off_t>(data)), 0);
}

class ConversionWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { worker_ = std::make_unique<ConversionWorker>(WindowHandle(view_)); }
    void TearDown() override { worker_.reset(); }

    // A stereo 16-bit WAV written by the program's own writer: left rises, right falls, so
    // that each channel can be told from the other and from their mix.
    std::string MakeStereoWav(const std::string& name, uint32_t frames = 4410, uint32_t rate = 44100) {
        const std::string path = scratch_.File(name);
        CreateDirectories(PathFolderOf(path));
        VeAudioData data;
        EXPECT_TRUE(data.CreateSilence(true, frames, rate));
        std::vector<float> left(frames), right(frames);
        for (uint32_t i = 0; i < frames; ++i) {
            left[i] = static_cast<float>(static_cast<int>(i % 20000) - 10000) / 32768.0f;
            right[i] = static_cast<float>(10000 - static_cast<int>(i % 15000)) / 32768.0f;
        }
        EXPECT_TRUE(data.ChannelSet().left.store->WriteAt(0, left.data(), frames));
        EXPECT_TRUE(data.ChannelSet().right.store->WriteAt(0, right.data(), frames));
        EXPECT_TRUE(SaveWav(data, path));
        return path;
    }

    static std::string PathFolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

    FileListItem& AddItem(const std::string& path) {
        items_.push_back(std::make_unique<FileListItem>(path, WindowHandle(list_)));
        return *items_.back();
    }

    // Fills the job with every item, starts the run and waits for its thread to end.
    bool RunAll(const std::string& output_folder = "", int method = 0) {
        std::vector<FileListItem*> rows;
        for (const auto& item : items_) rows.push_back(item.get());
        worker_->Job().Fill(rows, output_folder, method);
        if (!worker_->Start()) return false;
        return Eventually([&] { return !worker_->IsRunning(); });
    }

    std::vector<uintptr_t> TaskCodes() const {
        std::vector<uintptr_t> codes;
        for (const PortMessage& m : view_->Messages())
            if (m.message == kTaskNotify) codes.push_back(m.wparam);
        return codes;
    }
    size_t TaskCodeCount(uintptr_t code) const {
        const auto codes = TaskCodes();
        return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
    }

    static bool IsConverted(const TaskProgress& p) {
        return p.Total() > 0 && p.Done() == p.Total() && !p.IsCancelled() && !p.IsFailed();
    }

    size_t FilesIn(const std::string& folder) const {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) n += entry.is_regular_file() ? 1 : 0;
        return n;
    }

    // Starts a run of one ten-minute file and waits until the file is being converted.
    void StartALongFile(FileListItem*& current) {
        const std::string long_path = scratch_.File("long.wav");
        WriteSilentWav(long_path, 44100u * 600, 44100);
        current = &AddItem(long_path);
        std::vector<FileListItem*> rows{current};
        worker_->Job().Fill(rows, "", 0);
        ASSERT_TRUE(worker_->Start());
        ASSERT_TRUE(Eventually([&] { return current->Progress().Done() > 0 || !worker_->IsRunning(); }));
    }

    test::ScratchDir scratch_;
    std::shared_ptr<RecordingPort> view_ = std::make_shared<RecordingPort>();
    std::shared_ptr<RecordingPort> list_ = std::make_shared<RecordingPort>();
    std::vector<std::unique_ptr<FileListItem>> items_;
    std::unique_ptr<ConversionWorker> worker_;
};

TEST_F(ConversionWorkerTest, StereoWavBecomesMonoWavBesideItsInput) {
    FileListItem& item = AddItem(MakeStereoWav("song.wav", 4410, 22050));
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(worker_->ExitCode(), 0);
    EXPECT_EQ(item.OutputPath(), scratch_.File("song (1).wav"));
    EXPECT_EQ(item.Progress().Total(), kWavBudget);
    EXPECT_EQ(item.Progress().Done(), kWavBudget);
    EXPECT_TRUE(IsConverted(item.Progress()));
    const WavFacts out = ReadCanonicalWav(item.OutputPath());
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.rate, 22050u);
    EXPECT_EQ(out.samples.size(), 4410u);
}

TEST_F(ConversionWorkerTest, WavBudgetIsReaderFoldAndWriter) {
    EXPECT_EQ(kWavReaderBudget, 1000u);
    EXPECT_EQ(kWavFoldBudget, 300u);
    EXPECT_EQ(kWavWriterBudget, 1000u);
    EXPECT_EQ(kWavBudget, 2300u);
}

TEST_F(ConversionWorkerTest, TheMethodIsTakenFromTheJob) {
    const std::string input = MakeStereoWav("song.wav");
    const WavFacts source = ReadCanonicalWav(input);
    FileListItem& item = AddItem(input);
    ASSERT_TRUE(RunAll("", 2));  // keep right
    const WavFacts out = ReadCanonicalWav(item.OutputPath());
    ASSERT_EQ(out.samples.size() * 2, source.samples.size());
    for (size_t i = 0; i < out.samples.size(); ++i) ASSERT_EQ(out.samples[i], source.samples[2 * i + 1]) << i;
}

TEST_F(ConversionWorkerTest, OutputGoesToTheOutputFolderUnderTheInputsName) {
    const std::string out_folder = scratch_.File("out");
    ASSERT_TRUE(CreateDirectories(out_folder));
    FileListItem& item = AddItem(MakeStereoWav("in/song.wav"));
    ASSERT_TRUE(RunAll(out_folder));
    EXPECT_EQ(item.OutputPath(), out_folder + "/song.wav");
    EXPECT_TRUE(IsRegularFile(out_folder + "/song.wav"));
}

TEST_F(ConversionWorkerTest, MessagesGoStartedThenOnePerFileThenCompleted) {
    AddItem(MakeStereoWav("a.wav"));
    AddItem(MakeStereoWav("b.wav"));
    AddItem(scratch_.File("missing.wav"));
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskFileFinished, kTaskFileFinished,
                                                    kTaskFileFinished, kTaskRunCompleted}));
    for (const PortMessage& m : view_->Messages()) EXPECT_EQ(m.lparam, 0);
}

TEST_F(ConversionWorkerTest, RowProgressTellsTheListWhichRowMoved) {
    FileListItem& first = AddItem(MakeStereoWav("a.wav"));
    FileListItem& second = AddItem(MakeStereoWav("b.wav"));
    ASSERT_TRUE(RunAll());
    bool saw_first = false, saw_second = false;
    for (const PortMessage& m : list_->Messages()) {
        EXPECT_EQ(m.message, kItemProgressNotify);
        saw_first |= m.wparam == first.Id();
        saw_second |= m.wparam == second.Id();
    }
    EXPECT_TRUE(saw_first);
    EXPECT_TRUE(saw_second);
    EXPECT_EQ(view_->Count(kItemProgressNotify), 0u);
}

TEST_F(ConversionWorkerTest, SecondRunSkipsConvertedFilesAndCountsThemFinished) {
    FileListItem& a = AddItem(MakeStereoWav("a.wav"));
    FileListItem& b = AddItem(MakeStereoWav("b.wav"));
    ASSERT_TRUE(RunAll());
    const std::string a_out = a.OutputPath(), b_out = b.OutputPath();
    const size_t files = FilesIn(scratch_.Path());
    view_->Clear();
    list_->Clear();

    ASSERT_TRUE(RunAll());
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskFileFinished, kTaskFileFinished,
                                                    kTaskRunCompleted}));
    EXPECT_EQ(list_->Count(kItemProgressNotify), 0u);  // nothing was touched
    EXPECT_EQ(a.OutputPath(), a_out);
    EXPECT_EQ(b.OutputPath(), b_out);
    EXPECT_TRUE(IsConverted(a.Progress()));
    EXPECT_TRUE(IsConverted(b.Progress()));
    EXPECT_EQ(FilesIn(scratch_.Path()), files);
}


// A row converted with other settings is converted again under a new name, its old output left
// as it was; the same settings, however the folder is spelled, still skip.
TEST_F(ConversionWorkerTest, ChangedFolderOrMethodConvertsAgainBesideTheOldOutput) {
    const std::string out = scratch_.File("out");
    ASSERT_TRUE(CreateDirectories(out));
    struct Case {
        const char* what;
        std::string first_folder;
        int first_method;
        std::string second_folder;
        int second_method;
        std::string second_output;  // empty: skipped
    };
    const std::vector<Case> cases = {
        {"other method", "", 0, "", 2, "in/song (2).wav"},
        {"other folder", "", 0, out, 0, "out/song.wav"},
        {"back to beside the input", out, 1, "", 1, "in/song (1).wav"},
        {"other method in the output folder", out, 0, out, 1, "out/song (1).wav"},
        {"same folder spelled otherwise", out, 1, out + "//./", 1, ""},
        {"input's own folder named", "", 2, scratch_.File("in"), 2, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(scratch_.File("in"));
        std::filesystem::remove_all(out);
        ASSERT_TRUE(CreateDirectories(out));
        items_.clear();
        const std::string input = MakeStereoWav("in/song.wav");
        FileListItem& item = AddItem(input);
        ASSERT_TRUE(RunAll(c.first_folder, c.first_method));
        const std::string first = item.OutputPath();
        const auto first_bytes = test::ReadFileBytes(first);
        list_->Clear();

        ASSERT_TRUE(RunAll(c.second_folder, c.second_method));
        EXPECT_TRUE(IsConverted(item.Progress()));
        EXPECT_EQ(test::ReadFileBytes(first), first_bytes) << "the old output changed";
        if (c.second_output.empty()) {
            EXPECT_EQ(item.OutputPath(), first);
            EXPECT_EQ(list_->Count(kItemProgressNotify), 0u);
            continue;
        }
        EXPECT_EQ(item.OutputPath(), scratch_.File(c.second_output));
        const WavFacts source = ReadCanonicalWav(input);
        const WavFacts second = ReadCanonicalWav(item.OutputPath());
        ASSERT_EQ(second.samples.size() * 2, source.samples.size());
        if (c.second_method != 0) {  // the kept channel, exactly
            const size_t channel = c.second_method == 1 ? 0 : 1;
            for (size_t i = 0; i < second.samples.size(); ++i)
                ASSERT_EQ(second.samples[i], source.samples[2 * i + channel]) << i;
        }
    }
}
TEST_F(ConversionWorkerTest, DeletedOutputIsConvertedAgainUnderTheFirstFreeName) {
    FileListItem& item = AddItem(MakeStereoWav("a.wav"));
    ASSERT_TRUE(RunAll());
    ASSERT_EQ(item.OutputPath(), scratch_.File("a (1).wav"));
    // Something else takes the second name, then the first output goes.
    test::WriteTextFile(scratch_.File("a (2).wav"), "someone else's");
    ASSERT_TRUE(RemoveFile(scratch_.File("a (1).wav")));
    list_->Clear();

    ASSERT_TRUE(RunAll());
    EXPECT_GT(list_->Count(kItemProgressNotify), 0u);
    EXPECT_EQ(item.OutputPath(), scratch_.File("a (1).wav"));
    EXPECT_TRUE(IsConverted(item.Progress()));
    EXPECT_EQ(ReadCanonicalWav(item.OutputPath()).channels, 1);
    EXPECT_EQ(test::ReadTextFile(scratch_.File("a (2).wav")), "someone else's");
}

TEST_F(ConversionWorkerTest, OutputNeverOverwritesAnExistingFile) {
    const std::string out_folder = scratch_.File("out");
    ASSERT_TRUE(CreateDirectories(out_folder));
    test::WriteTextFile(out_folder + "/a.wav", "keep me");
    FileListItem& item = AddItem(MakeStereoWav("a.wav"));
    ASSERT_TRUE(RunAll(out_folder));
    EXPECT_EQ(item.OutputPath(), out_folder + "/a (1).wav");
    EXPECT_EQ(test::ReadTextFile(out_folder + "/a.wav"), "keep me");
}

TEST_F(ConversionWorkerTest, FailingFileShowsFailedLeavesNoOutputAndTheNextConverts) {
    const std::string bad = scratch_.File("bad.wav");
    test::WriteTextFile(bad, "this is not a RIFF file at all, only text");
    FileListItem& failing = AddItem(bad);
    FileListItem& good = AddItem(MakeStereoWav("good.wav"));
    ASSERT_TRUE(RunAll());
    EXPECT_TRUE(failing.Progress().IsFailed());
    EXPECT_FALSE(failing.Progress().IsCancelled());
    EXPECT_FALSE(PathExists(failing.OutputPath()));
    EXPECT_FALSE(PathExists(scratch_.File("bad (1).wav")));
    EXPECT_TRUE(IsConverted(good.Progress()));
    EXPECT_TRUE(IsRegularFile(good.OutputPath()));
    EXPECT_EQ(TaskCodeCount(kTaskFileFinished), 2u);
    EXPECT_EQ(TaskCodeCount(kTaskRunCompleted), 1u);
}

TEST_F(ConversionWorkerTest, FailedFileIsTriedAgainInTheNextRun) {
    const std::string path = scratch_.File("late.wav");
    test::WriteTextFile(path, "garbage");
    FileListItem& item = AddItem(path);
    ASSERT_TRUE(RunAll());
    ASSERT_TRUE(item.Progress().IsFailed());
    ASSERT_TRUE(RemoveFile(path));
    MakeStereoWav("late.wav");
    ASSERT_TRUE(RunAll());
    EXPECT_TRUE(IsConverted(item.Progress()));
    EXPECT_TRUE(IsRegularFile(item.OutputPath()));
}

TEST_F(ConversionWorkerTest, AbortMidFileCancelsItRemovesItsOutputAndLeavesLaterRowsAlone) {
    const std::string long_path = scratch_.File("long.wav");
    WriteSilentWav(long_path, 44100u * 600, 44100);  // ten minutes
    FileListItem& current = AddItem(long_path);
    FileListItem& later = AddItem(MakeStereoWav("later.wav"));
    std::vector<FileListItem*> rows{&current, &later};
    worker_->Job().Fill(rows, "", 0);
    ASSERT_TRUE(worker_->Start());
    ASSERT_TRUE(Eventually([&] { return current.Progress().Done() > 0 || !worker_->IsRunning(); }));
    ASSERT_TRUE(worker_->IsRunning()) << "the long file finished before it could be aborted";
    EXPECT_TRUE(worker_->Abort());
    ASSERT_TRUE(Eventually([&] { return !worker_->IsRunning(); }));

    EXPECT_EQ(worker_->ExitCode(), 1);
    EXPECT_TRUE(current.Progress().IsCancelled());
    EXPECT_FALSE(PathExists(current.OutputPath()));
    EXPECT_FALSE(PathExists(scratch_.File("long (1).wav")));
    EXPECT_EQ(later.Progress().Total(), 0u);
    EXPECT_FALSE(later.Progress().IsCancelled());
    EXPECT_FALSE(later.Progress().IsFailed());
    EXPECT_EQ(later.OutputPath(), "");
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskRunEnded}));
    EXPECT_TRUE(test::TempEntries().empty());
}

// A stop that comes after a file's progress became current but before its pipeline starts that
// progress over (the reset clears a cancel) must still stop the file: here the pipeline starts
// after the stop, while the abort flag is still up.
TEST_F(ConversionWorkerTest, AStopJustBeforeAPipelineStartsIsNotWipedOutByItsReset) {
    FileListItem* started = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartALongFile(started));
    ASSERT_TRUE(worker_->Abort());
    ASSERT_TRUE(Eventually([&] { return !worker_->IsRunning(); }));
    ASSERT_TRUE(worker_->IsAbortRequested());

    TaskProgress progress;
    const std::string output = scratch_.File("next (1).wav");
    EXPECT_FALSE(worker_->ConvertWavFile(MakeStereoWav("next.wav"), output, progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_EQ(progress.Total(), kWavBudget);
    EXPECT_FALSE(PathExists(output));
}

TEST_F(ConversionWorkerTest, DestroyingTheWorkerMidFileCancelsAndCleansUp) {
    FileListItem* started = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartALongFile(started));
    FileListItem& current = *started;
    worker_.reset();
    EXPECT_TRUE(current.Progress().IsCancelled());
    EXPECT_FALSE(PathExists(scratch_.File("long (1).wav")));
    EXPECT_TRUE(test::TempEntries().empty());
}

// The output has no name while it is written: nothing under its name until it is whole. A file
// that another program puts under that name meanwhile stays; the output takes the next one.
TEST_F(ConversionWorkerTest, OutputTakesTheNextNameWhenItsOwnWasTakenWhileItWasWritten) {
    FileListItem* current = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartALongFile(current));
    const std::string chosen = scratch_.File("long (1).wav");
    EXPECT_EQ(current->OutputPath(), chosen);
    EXPECT_FALSE(PathExists(chosen));
    test::WriteTextFile(chosen, "another program's file");
    ASSERT_TRUE(Eventually([&] { return !worker_->IsRunning(); }));
    EXPECT_TRUE(IsConverted(current->Progress()));
    EXPECT_EQ(test::ReadTextFile(chosen), "another program's file");
    EXPECT_EQ(current->OutputPath(), scratch_.File("long (2).wav"));
    EXPECT_EQ(test::FileSizeOf(current->OutputPath()), 44 + 44100 * 600 * 2);
}

// Every failure says why: the reason of the step that failed, or a second look at the file.
TEST_F(ConversionWorkerTest, FailedFilesSayWhy) {
    const std::string text = scratch_.File("notes.wav");
    test::WriteTextFile(text, "not a WAV file at all");
    FileListItem& broken = AddItem(text);
    FileListItem& missing = AddItem(scratch_.File("gone.wav"));
    const std::string read_only = scratch_.File("read-only");
    ASSERT_TRUE(CreateDirectories(read_only));
    FileListItem& good = AddItem(MakeStereoWav("read-only/good.wav"));
    std::filesystem::permissions(read_only, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
    EXPECT_TRUE(RunAll());
    std::filesystem::permissions(read_only, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    EXPECT_EQ(broken.Progress().FailureReason(), "the file is not a readable WAV file");
    EXPECT_EQ(missing.Progress().FailureReason(), "the file does not exist");
    // The superuser writes into any folder: only for others is this one read-only.
    if (::geteuid() != 0) {
        EXPECT_EQ(good.Progress().FailureReason().rfind("the output folder cannot be written", 0), 0u);
    }
}

TEST_F(ConversionWorkerTest, AbortOfAnIdleWorkerDoesNothing) {
    EXPECT_FALSE(worker_->Abort());
    EXPECT_TRUE(view_->Messages().empty());
}

TEST_F(ConversionWorkerTest, MissingOutputFolderEndsTheRunAtOnce) {
    FileListItem& item = AddItem(MakeStereoWav("a.wav"));
    ASSERT_TRUE(RunAll(scratch_.File("gone")));
    EXPECT_EQ(worker_->ExitCode(), 1);
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskRunEnded}));
    EXPECT_EQ(item.Progress().Total(), 0u);
    EXPECT_EQ(item.OutputPath(), "");
    EXPECT_EQ(FilesIn(scratch_.Path()), 1u);
}

TEST_F(ConversionWorkerTest, EmptyJobEndsTheRunAtOnce) {
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(worker_->ExitCode(), 1);
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskRunEnded}));
}

TEST_F(ConversionWorkerTest, GoneWindowEndsTheRunAtOnce) {
    FileListItem& item = AddItem(MakeStereoWav("a.wav"));
    view_.reset();
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(worker_->ExitCode(), 1);
    EXPECT_EQ(item.Progress().Total(), 0u);
    EXPECT_EQ(FilesIn(scratch_.Path()), 1u);
}

TEST_F(ConversionWorkerTest, UnsupportedTypeLeavesItsRowUnchanged) {
    const std::string path = scratch_.File("notes.txt");
    test::WriteTextFile(path, "text");
    FileListItem& item = AddItem(path);
    item.Progress().Reset(100);
    item.Progress().Advance(40);
    EXPECT_FALSE(worker_->ProcessItem(item));
    EXPECT_EQ(item.Progress().Total(), 100u);
    EXPECT_EQ(item.Progress().Done(), 40u);
    EXPECT_FALSE(item.Progress().IsFailed());
    EXPECT_FALSE(item.Progress().IsCancelled());
    EXPECT_EQ(FilesIn(scratch_.Path()), 1u);
}

TEST_F(ConversionWorkerTest, UnsupportedTypeDoesNotStopTheRun) {
    const std::string path = scratch_.File("notes.txt");
    test::WriteTextFile(path, "text");
    AddItem(path);
    FileListItem& good = AddItem(MakeStereoWav("a.wav"));
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(TaskCodeCount(kTaskFileFinished), 2u);
    EXPECT_TRUE(IsConverted(good.Progress()));
}

TEST_F(ConversionWorkerTest, UnreadableMp3AndWmaFailWithTheirBudgetsAndLeaveNoOutput) {
    const std::string mp3 = scratch_.File("song.mp3");
    const std::string wma = scratch_.File("song.wma");
    test::WriteTextFile(mp3, "ID3");
    test::WriteTextFile(wma, "ASF");
    FileListItem& mp3_item = AddItem(mp3);
    FileListItem& wma_item = AddItem(wma);
    ASSERT_TRUE(RunAll());
    EXPECT_TRUE(mp3_item.Progress().IsFailed());
    EXPECT_EQ(mp3_item.Progress().Total(), 6100u);
    EXPECT_TRUE(wma_item.Progress().IsFailed());
    EXPECT_EQ(wma_item.Progress().Total(), 4100u);
    EXPECT_EQ(FilesIn(scratch_.Path()), 2u);
}

TEST_F(ConversionWorkerTest, ConvertWavFileStartsTheProgressAfreshAndFillsItsBudget) {
    const std::string input = MakeStereoWav("a.wav");
    RowProgress progress(WindowHandle(list_), 7);
    progress.Reset(50);
    progress.Fail();  // an earlier outcome does not stop a new conversion
    const std::string output = scratch_.File("out.wav");
    EXPECT_TRUE(worker_->ConvertWavFile(input, output, progress));
    EXPECT_EQ(progress.Total(), kWavBudget);
    EXPECT_EQ(progress.Done(), kWavBudget);
    EXPECT_FALSE(progress.IsFailed());
    EXPECT_EQ(ReadCanonicalWav(output).channels, 1);
}

TEST_F(ConversionWorkerTest, MissingInputFailsAndWritesNothing) {
    FileListItem& item = AddItem(scratch_.File("never.wav"));
    EXPECT_FALSE(worker_->ProcessItem(item));
    EXPECT_TRUE(item.Progress().IsFailed());
    EXPECT_EQ(item.OutputPath(), scratch_.File("never.wav"));  // the first free name
    EXPECT_FALSE(PathExists(item.OutputPath()));
    EXPECT_EQ(FilesIn(scratch_.Path()), 0u);
}

TEST_F(ConversionWorkerTest, NoTemporaryFileIsLeftAfterARun) {
    AddItem(MakeStereoWav("a.wav", 300000));
    AddItem(scratch_.File("missing.wav"));
    ASSERT_TRUE(RunAll());
    EXPECT_TRUE(test::TempEntries().empty());
}

class FileListItemTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingPort> list_ = std::make_shared<RecordingPort>();
};

TEST_F(FileListItemTest, SplitsItsPathIntoNameAndLocation) {
    FileListItem item("/music/live set/track 1.wav", WindowHandle(list_));
    EXPECT_EQ(item.Path(), "/music/live set/track 1.wav");
    EXPECT_EQ(item.Name(), "track 1.wav");
    EXPECT_EQ(item.Location(), "/music/live set");
    EXPECT_EQ(item.OutputPath(), "");
    EXPECT_EQ(item.Progress().Total(), 0u);
}

TEST_F(FileListItemTest, IdsComeFromOneCounterAndAreNeverReused) {
    auto first = std::make_unique<FileListItem>("/a.wav", WindowHandle(list_));
    const uint32_t first_id = first->Id();
    first.reset();
    FileListItem second("/b.wav", WindowHandle(list_));
    FileListItem third("/c.wav", WindowHandle(list_));
    EXPECT_EQ(second.Id(), first_id + 1);
    EXPECT_EQ(third.Id(), first_id + 2);
}

TEST_F(FileListItemTest, ProgressPostsTheItemsId) {
    FileListItem item("/a.wav", WindowHandle(list_));
    item.Progress().Reset(10);
    EXPECT_EQ(list_->Messages(), (std::vector<PortMessage>{{kItemProgressNotify, item.Id(), 0}}));
}

TEST_F(FileListItemTest, OutputPathCanBeReadWhileItIsWritten) {
    FileListItem item("/a.wav", WindowHandle(list_));
    const std::string short_path = "/o.wav";
    const std::string long_path = "/a folder with a long name, longer than any small-string buffer/o.wav";
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) item.SetOutputPath(i % 2 ? long_path : short_path);
        stop = true;
    });
    while (!stop) {
        const std::string seen = item.OutputPath();
        ASSERT_TRUE(seen.empty() || seen == short_path || seen == long_path) << seen;
    }
    writer.join();
}

TEST(ConversionJobTest, FillReplacesTheItemsInOrderAndSetsTheFolder) {
    auto port = std::make_shared<RecordingPort>();
    FileListItem a("/a.wav", WindowHandle(port)), b("/b.wav", WindowHandle(port)), c("/c.wav", WindowHandle(port));
    ConversionJob job;
    std::vector<FileListItem*> first{&a, &b};
    job.Fill(first, "/out", 2);
    std::vector<FileListItem*> second{&c, &a};
    job.Fill(second, "", 1);
    std::lock_guard lock(job.Lock());
    EXPECT_EQ(job.Items(), second);
    EXPECT_EQ(job.OutputFolder(), "");
    EXPECT_EQ(job.Method(), 1);
}

}  // namespace
}  // namespace chm

// In a sanitizer build: GLib's start-up allocation (its first quark block, given up when the
// decoders' types outgrow it) is never freed, and neither is ours to free. GLib has no frame
// pointers: without the slow unwinder no stack would reach its library constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
