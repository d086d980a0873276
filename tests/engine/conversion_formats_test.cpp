// The MP3 and WMA pipelines of the conversion run: stereo sources made by lame and ffmpeg go
// through the worker, and the outputs are checked by outside tools (ffprobe, ffmpeg,
// GStreamer) against the fold of the source as those tools decode it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/lame_encoder.h"
#include "engine/conversion_worker.h"
#include "engine/file_list_item.h"
#include "platform/file_system.h"
#include "platform/message_port.h"
#include "platform/tick.h"
#include "processing/channel_ops.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

namespace media = test::mp3;

constexpr int kMix = static_cast<int>(ConversionMethod::MixChannels);
constexpr int kLeft = static_cast<int>(ConversionMethod::KeepLeft);
constexpr int kRight = static_cast<int>(ConversionMethod::KeepRight);

// The WMA decoder hands out about 665 samples more than were encoded.
constexpr double kWmaDecoderDelaySeconds = 700.0 / 44100.0;
// Enough to cover the encoders' and decoders' delays in either direction.
constexpr long kMaxLag = 4096;

// Waits up to two minutes for a condition: generous for a loaded machine.
template <typename Condition>
bool Eventually(Condition condition) {
    for (int i = 0; i < 120000; ++i) {
        if (condition()) return true;
        SleepMs(1);
    }
    return condition();
}

bool IsConverted(const TaskProgress& p) {
    return p.Total() > 0 && p.Done() == p.Total() && !p.IsCancelled() && !p.IsFailed();
}

// What a fold of a decoded stereo source should give, per method.
struct Folds {
    std::vector<float> mix, left, right;
};

Folds FoldsOf(const std::vector<float>& interleaved) {
    Folds folds;
    const size_t n = interleaved.size() / 2;
    folds.mix.resize(n);
    folds.left.resize(n);
    folds.right.resize(n);
    for (size_t i = 0; i < n; ++i) {
        folds.left[i] = interleaved[2 * i];
        folds.right[i] = interleaved[2 * i + 1];
        folds.mix[i] = 0.5f * (folds.left[i] + folds.right[i]);
    }
    return folds;
}

// A run of the worker over files of a scratch folder, with the messages it posts recorded.
class ConversionFormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        worker_ = std::make_unique<ConversionWorker>(WindowHandle(view_));
    }
    void TearDown() override {
        worker_.reset();
        // Neither a decoded WAV, an encoder's WAV nor a sample store outlives a run.
        EXPECT_TRUE(test::TempEntries().empty());
    }

    std::string Path(const std::string& name) const { return scratch_.File(name); }

    // Stereo music-like content at 44.1 kHz (left and right distinct), through lame, tagged.
    std::string MusicMp3(const std::string& name, double seconds) {
        const std::string wav = Path(name + ".wav");
        const std::string mp3 = Path(name);
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, seconds));
        EXPECT_TRUE(media::Lame(wav, mp3, "-b 192 --tt 'Night Train' --ta 'The Sines' --tl Partials"));
        RemoveFile(wav);
        return mp3;
    }

    // The same content through ffmpeg's WMA encoder, tagged.
    std::string MusicWma(const std::string& name, double seconds) {
        const std::string wav = Path(name + ".wav");
        const std::string wma = Path(name);
        EXPECT_TRUE(media::MakeMusicWav(wav, 44100, seconds));
        EXPECT_TRUE(media::Run(media::Ffmpeg() + "-i " + media::Quoted(wav) +
                               " -c:a wmav2 -b:a 128k -metadata title='Night Train' -metadata artist='The Sines'"
                               " -metadata album=Partials " +
                               media::Quoted(wma)));
        RemoveFile(wav);
        return wma;
    }

    FileListItem& AddItem(const std::string& path) {
        items_.push_back(std::make_unique<FileListItem>(path, WindowHandle(list_)));
        return *items_.back();
    }

    // Fills the job with every item, starts the run and waits for its thread to end.
    bool RunAll() {
        std::vector<FileListItem*> rows;
        for (const auto& item : items_) rows.push_back(item.get());
        worker_->Job().Fill(rows, "", method_);
        if (!worker_->Start()) return false;
        return Eventually([&] { return !worker_->IsRunning(); });
    }

    // One file converted with a method; its item.
    FileListItem& ConvertOne(const std::string& path, int method) {
        method_ = method;
        FileListItem& item = AddItem(path);
        EXPECT_TRUE(RunAll());
        return item;
    }

    std::vector<uintptr_t> TaskCodes() const {
        std::vector<uintptr_t> codes;
        for (const PortMessage& m : view_->Messages())
            if (m.message == kTaskNotify) codes.push_back(m.wparam);
        return codes;
    }

    // The decoded output follows the wanted fold of the decoded source, and not the others: a
    // channel kept is unlike the other channel, a mix unlike either one alone.
    void ExpectFold(const std::string& source, const std::string& output, int method) {
        const Folds folds = FoldsOf(media::DecodeWithFfmpeg(source, Path("source.f32")));
        const std::vector<float> decoded = media::DecodeWithFfmpeg(output, Path("output.f32"));
        ASSERT_FALSE(folds.mix.empty());
        ASSERT_FALSE(decoded.empty());
        // One channel: as long as the source up to 50 ms and the codecs' delays.
        EXPECT_LE(std::labs(static_cast<long>(decoded.size()) - static_cast<long>(folds.mix.size())), 2205 + kMaxLag);
        const double with_mix = media::BestCorrelation(folds.mix, decoded, kMaxLag);
        const double with_left = media::BestCorrelation(folds.left, decoded, kMaxLag);
        const double with_right = media::BestCorrelation(folds.right, decoded, kMaxLag);
        if (method == kMix) {
            EXPECT_GE(with_mix, 0.95);
            EXPECT_LT(with_left, 0.9);
            EXPECT_LT(with_right, 0.9);
        } else if (method == kLeft) {
            EXPECT_GE(with_left, 0.95);
            EXPECT_LT(with_right, 0.5);
        } else {
            EXPECT_GE(with_right, 0.95);
            EXPECT_LT(with_left, 0.5);
        }
    }

    void ExpectCarriedTags(const std::string& output) {
        EXPECT_EQ(media::ProbeTag(output, "title"), "Night Train");
        EXPECT_EQ(media::ProbeTag(output, "artist"), "The Sines");
        EXPECT_EQ(media::ProbeTag(output, "album"), "Partials");
    }

    // Starts a long file, aborts once its writer step has begun, and checks what remains.
    void ExpectAbortDuringWriterStep(const std::string& input, uint32_t writer_starts_at) {
        FileListItem& item = AddItem(input);
        std::vector<FileListItem*> rows{&item};
        worker_->Job().Fill(rows, "", kMix);
        ASSERT_TRUE(worker_->Start());
        ASSERT_TRUE(Eventually([&] { return item.Progress().Done() > writer_starts_at || !worker_->IsRunning(); }));
        ASSERT_TRUE(worker_->IsRunning()) << "the file was converted before it could be aborted";
        EXPECT_TRUE(worker_->Abort());
        ASSERT_TRUE(Eventually([&] { return !worker_->IsRunning(); }));
        EXPECT_TRUE(item.Progress().IsCancelled());
        EXPECT_FALSE(item.OutputPath().empty());
        EXPECT_FALSE(PathExists(item.OutputPath()));
        EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskRunEnded}));
    }

    test::ScratchDir scratch_;
    std::shared_ptr<RecordingPort> view_ = std::make_shared<RecordingPort>();
    std::shared_ptr<RecordingPort> list_ = std::make_shared<RecordingPort>();
    std::vector<std::unique_ptr<FileListItem>> items_;
    std::unique_ptr<ConversionWorker> worker_;
    int method_ = kMix;  // of the next RunAll
};

TEST_F(ConversionFormatsTest, BudgetsAreReaderFoldAndWriter) {
    EXPECT_EQ(kMp3ReaderBudget, 1000u);
    EXPECT_EQ(kMp3FoldBudget, 100u);
    EXPECT_EQ(kMp3WriterBudget, 5000u);
    EXPECT_EQ(kMp3Budget, 6100u);
    EXPECT_EQ(kWmaReaderBudget, 1000u);
    EXPECT_EQ(kWmaFoldBudget, 100u);
    EXPECT_EQ(kWmaWriterBudget, 3000u);
    EXPECT_EQ(kWmaBudget, 4100u);
}

TEST_F(ConversionFormatsTest, ConvertedMp3EndsAtItsFullBudgetBesideItsInput) {
    FileListItem& item = ConvertOne(MusicMp3("song.mp3", 3.0), kMix);
    EXPECT_EQ(item.Progress().Total(), 6100u);
    EXPECT_EQ(item.Progress().Done(), 6100u);
    EXPECT_TRUE(IsConverted(item.Progress()));
    EXPECT_EQ(item.OutputPath(), Path("song (1).mp3"));
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskFileFinished, kTaskRunCompleted}));
}

TEST_F(ConversionFormatsTest, Mp3OutputIsMonoMpeg1LayerIIIVbrWithALameHeader) {
    FileListItem& item = ConvertOne(MusicMp3("song.mp3", 8.0), kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    const std::string out = item.OutputPath();
    EXPECT_EQ(media::Probe(out, "codec_name"), "mp3");
    EXPECT_EQ(media::Probe(out, "channels"), "1");
    EXPECT_EQ(media::Probe(out, "sample_rate"), "44100");
    // ffprobe names the encoder from the LAME tag that follows the Xing header.
    EXPECT_EQ(media::Probe(out, "encoder", "stream_tags").rfind("LAME", 0), 0u);
    // LAME pads no VBR frame, so a file of 128 kbit/s frames averages 417 of 417.96 bytes a frame.
    const double average = std::atof(media::Probe(out, "bit_rate", "format").c_str());
    EXPECT_GE(average, 128000.0 * 417.0 / 417.96);
    EXPECT_LE(average, 192000.0);
    // The frames themselves: all MPEG-1 Layer III mono, the first one the VBR ("Xing") header.
    const auto bytes = test::ReadFileBytes(out);
    const auto frames = media::Frames(bytes);
    ASSERT_GT(frames.size(), 300u);  // 8 s are about 306 frames of 1152 samples
    EXPECT_TRUE(media::FrameContains(bytes, frames.front(), "Xing"));
    EXPECT_TRUE(media::FrameContains(bytes, frames.front(), "LAME"));
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].version, 1) << i;
        ASSERT_EQ(frames[i].layer, 3) << i;
        ASSERT_EQ(frames[i].channels, 1) << i;
        ASSERT_LE(frames[i].kbps, 192) << i;
        // The minimum holds for sound; the flushed end after the music may be coded smaller.
        if (i > 0 && i + 2 < frames.size()) {
            ASSERT_GE(frames[i].kbps, 128) << i;
        }
    }
}

TEST_F(ConversionFormatsTest, Mp3OutputCarriesTheSourcesTags) {
    FileListItem& item = ConvertOne(MusicMp3("song.mp3", 2.0), kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectCarriedTags(item.OutputPath());
}

TEST_F(ConversionFormatsTest, Mp3MixFollowsTheMixOfTheDecodedSource) {
    const std::string source = MusicMp3("song.mp3", 4.0);
    FileListItem& item = ConvertOne(source, kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kMix);
}

TEST_F(ConversionFormatsTest, Mp3KeepLeftFollowsTheLeftChannel) {
    const std::string source = MusicMp3("song.mp3", 4.0);
    FileListItem& item = ConvertOne(source, kLeft);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kLeft);
}

TEST_F(ConversionFormatsTest, Mp3KeepRightFollowsTheRightChannel) {
    const std::string source = MusicMp3("song.mp3", 4.0);
    FileListItem& item = ConvertOne(source, kRight);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kRight);
}

TEST_F(ConversionFormatsTest, MissingMp3FailsItsRowAndWritesNothing) {
    FileListItem& item = ConvertOne(Path("never.mp3"), kMix);
    EXPECT_TRUE(item.Progress().IsFailed());
    EXPECT_FALSE(item.Progress().IsCancelled());
    EXPECT_EQ(item.Progress().Total(), 6100u);
    EXPECT_EQ(item.Progress().Done(), 0u);
    EXPECT_FALSE(PathExists(item.OutputPath()));
    EXPECT_TRUE(std::filesystem::is_empty(scratch_.Path()));
}

TEST_F(ConversionFormatsTest, DamagedMp3FailsAndTheNextFileConverts) {
    const std::string bad = Path("bad.mp3");
    std::vector<uint8_t> noise(20000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 7919u) >> 3);
    test::WriteFileBytes(bad, noise);
    FileListItem& failing = AddItem(bad);
    FileListItem& good = AddItem(MusicMp3("good.mp3", 1.0));
    ASSERT_TRUE(RunAll());
    EXPECT_TRUE(failing.Progress().IsFailed());
    EXPECT_EQ(failing.Progress().Total(), 6100u);
    EXPECT_FALSE(PathExists(Path("bad (1).mp3")));
    EXPECT_TRUE(IsConverted(good.Progress()));
}

TEST_F(ConversionFormatsTest, AbortDuringMp3EncodingCancelsAndRemovesThePartialOutput) {
    const std::string long_mp3 = Path("long.mp3");
    // Two minutes made quickly: a plain tone at a low fixed rate.
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i 'sine=f=440:r=44100:d=120' -ac 2 -c:a libmp3lame -b:a 64k " +
                           media::Quoted(long_mp3)));
    ExpectAbortDuringWriterStep(long_mp3, kMp3ReaderBudget + kMp3FoldBudget);
}

TEST_F(ConversionFormatsTest, ConvertedWmaEndsAtItsFullBudgetBesideItsInput) {
    FileListItem& item = ConvertOne(MusicWma("song.wma", 3.0), kMix);
    EXPECT_EQ(item.Progress().Total(), 4100u);
    EXPECT_EQ(item.Progress().Done(), 4100u);
    EXPECT_TRUE(IsConverted(item.Progress()));
    EXPECT_EQ(item.OutputPath(), Path("song (1).wma"));
    EXPECT_EQ(TaskCodes(), (std::vector<uintptr_t>{kTaskRunStarted, kTaskFileFinished, kTaskRunCompleted}));
}

TEST_F(ConversionFormatsTest, WmaOutputIsMonoWmav2OfTheSourcesDurationForFfmpegAndGstreamer) {
    const double seconds = 6.0;
    FileListItem& item = ConvertOne(MusicWma("song.wma", seconds), kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    const std::string out = item.OutputPath();
    EXPECT_EQ(media::Probe(out, "codec_name"), "wmav2");
    EXPECT_EQ(media::Probe(out, "channels"), "1");
    EXPECT_EQ(media::Probe(out, "sample_rate"), "44100");
    const double tolerance = 0.05 + kWmaDecoderDelaySeconds;
    EXPECT_NEAR(std::atof(media::Probe(out, "duration", "format").c_str()), seconds, tolerance);
    // What each decoder actually delivers.
    const auto ffmpeg_samples = media::DecodeWithFfmpeg(out, Path("ffmpeg.f32"));
    EXPECT_NEAR(static_cast<double>(ffmpeg_samples.size()) / 44100.0, seconds, tolerance);
    const std::string raw = Path("gst.raw");
    ASSERT_TRUE(media::Run("gst-launch-1.0 -q filesrc location=" + media::Quoted(out) +
                           " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,channels=1 ! filesink location=" +
                           media::Quoted(raw) + " 2>/dev/null"));
    EXPECT_NEAR(static_cast<double>(test::FileSizeOf(raw)) / (2.0 * 44100.0), seconds, tolerance);
}

TEST_F(ConversionFormatsTest, WmaOutputCarriesTheSourcesTags) {
    FileListItem& item = ConvertOne(MusicWma("song.wma", 2.0), kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectCarriedTags(item.OutputPath());
}

TEST_F(ConversionFormatsTest, WmaMixFollowsTheMixOfTheDecodedSource) {
    const std::string source = MusicWma("song.wma", 4.0);
    FileListItem& item = ConvertOne(source, kMix);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kMix);
}

TEST_F(ConversionFormatsTest, WmaKeepLeftFollowsTheLeftChannel) {
    const std::string source = MusicWma("song.wma", 4.0);
    FileListItem& item = ConvertOne(source, kLeft);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kLeft);
}

TEST_F(ConversionFormatsTest, WmaKeepRightFollowsTheRightChannel) {
    const std::string source = MusicWma("song.wma", 4.0);
    FileListItem& item = ConvertOne(source, kRight);
    ASSERT_TRUE(IsConverted(item.Progress()));
    ExpectFold(source, item.OutputPath(), kRight);
}

TEST_F(ConversionFormatsTest, MissingWmaFailsItsRowAndWritesNothing) {
    FileListItem& item = ConvertOne(Path("never.wma"), kMix);
    EXPECT_TRUE(item.Progress().IsFailed());
    EXPECT_EQ(item.Progress().Total(), 4100u);
    EXPECT_FALSE(PathExists(item.OutputPath()));
    EXPECT_TRUE(std::filesystem::is_empty(scratch_.Path()));
}

TEST_F(ConversionFormatsTest, AbortDuringWmaEncodingCancelsAndRemovesThePartialOutput) {
    const std::string long_wma = Path("long.wma");
    ASSERT_TRUE(media::Run(media::Ffmpeg() + "-f lavfi -i 'sine=f=440:r=44100:d=240' -ac 2 -c:a wmav2 -b:a 64k " +
                           media::Quoted(long_wma)));
    ExpectAbortDuringWriterStep(long_wma, kWmaReaderBudget + kWmaFoldBudget);
}

TEST_F(ConversionFormatsTest, MixedListGoesEachFileThroughItsOwnPipeline) {
    const std::string wav = Path("a.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 1.0));
    FileListItem& wav_item = AddItem(wav);
    FileListItem& mp3_item = AddItem(MusicMp3("b.mp3", 1.0));
    FileListItem& wma_item = AddItem(MusicWma("c.wma", 1.0));
    ASSERT_TRUE(RunAll());
    EXPECT_EQ(wav_item.Progress().Done(), kWavBudget);
    EXPECT_EQ(mp3_item.Progress().Done(), kMp3Budget);
    EXPECT_EQ(wma_item.Progress().Done(), kWmaBudget);
    EXPECT_EQ(media::Probe(wav_item.OutputPath(), "codec_name"), "pcm_s16le");
    EXPECT_EQ(media::Probe(mp3_item.OutputPath(), "codec_name"), "mp3");
    EXPECT_EQ(media::Probe(wma_item.OutputPath(), "codec_name"), "wmav2");
    for (const FileListItem* item : {&wav_item, &mp3_item, &wma_item})
        EXPECT_EQ(media::Probe(item->OutputPath(), "channels"), "1") << item->OutputPath();
}

// The encoder library is bound once per process, so the missing-library run needs a process of
// its own: the test starts this program again for itself, with the library name set before
// anything can bind it. The child is a whole test program, with its own temporary-folder check.
constexpr const char* kChildFolder = "CHM_CONVERSION_MISSING_ENCODER_FOLDER";

TEST(ConversionWithoutEncoderTest, Mp3FailsAfterItsReaderAndFoldStepsAndLeavesNoOutput) {
    if (const char* folder = std::getenv(kChildFolder)) {
        SetLameLibraryName("libmp3lame-missing.so.0");
        const std::string input = std::string(folder) + "/song.mp3";
        auto view = std::make_shared<RecordingPort>();
        auto list = std::make_shared<RecordingPort>();
        FileListItem item(input, WindowHandle(list));
        {
            ConversionWorker worker{WindowHandle(view)};
            std::vector<FileListItem*> rows{&item};
            worker.Job().Fill(rows, "", kMix);
            ASSERT_TRUE(worker.Start());
            ASSERT_TRUE(Eventually([&] { return !worker.IsRunning(); }));
        }
        EXPECT_TRUE(item.Progress().IsFailed());
        EXPECT_FALSE(item.Progress().IsCancelled());
        EXPECT_EQ(item.Progress().Total(), 6100u);
        // Reader (1000) and fold (100) completed; the writer failed before it moved.
        EXPECT_EQ(item.Progress().Done(), 1100u);
        EXPECT_EQ(item.OutputPath(), std::string(folder) + "/song (1).mp3");
        EXPECT_FALSE(PathExists(item.OutputPath()));
        EXPECT_FALSE(GetLameEncoder().IsUsable());
        EXPECT_TRUE(test::TempEntries().empty());
        return;
    }
    test::ScratchDir dir;
    const std::string wav = dir.File("song.wav");
    ASSERT_TRUE(media::MakeMusicWav(wav, 44100, 1.0));
    ASSERT_TRUE(media::Lame(wav, dir.File("song.mp3"), "-b 192"));
    ASSERT_TRUE(RemoveFile(wav));
    const std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string log = dir.File("child.log");
    const std::string command =
        std::string(kChildFolder) + "=" + media::Quoted(dir.Path()) + " " + media::Quoted(program) +
        " --gtest_filter=ConversionWithoutEncoderTest.Mp3FailsAfterItsReaderAndFoldStepsAndLeavesNoOutput > " +
        media::Quoted(log) + " 2>&1";
    EXPECT_TRUE(media::Run(command)) << test::ReadTextFile(log);
    EXPECT_NE(test::ReadTextFile(log).find("[  PASSED  ] 1 test"), std::string::npos) << test::ReadTextFile(log);
    // Nothing but the input and the log.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"child.log", "song.mp3"}));
}

}  // namespace
}  // namespace chm

// In a sanitizer build: GLib's start-up allocation and what GStreamer's libav elements keep (the
// WMA decoder, encoder and muxer) are never freed, and neither is ours to free. GLib has no frame
// pointers: without the slow unwinder no stack would reach its library constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\nleak:libgstlibav.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
