// MP3 decoding through libmpg123: the information query, the full and the excerpt decode into
// temporary 16-bit WAV files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/mp3_decoder.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "tests/audio/mp3_test_media.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::FileSizeOf;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;
namespace media = test::mp3;

constexpr int kRate = 44100;

// Bytes that can never start an MPEG frame (no 0xFF), so a decoder must give up on them.
std::vector<uint8_t> Junk(size_t n) {
    std::vector<uint8_t> bytes(n);
    uint32_t state = 12345;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>((state >> 24) % 0xE0);
    }
    return bytes;
}

std::vector<uint8_t> Joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Mp3DecoderTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // Five seconds of stereo music-like content at 44.1 kHz: 220500 frames.
    std::string MusicWav(double seconds = 5.0) {
        const std::string wav = Path("music.wav");
        if (!PathExists(wav)) {
            EXPECT_TRUE(media::MakeMusicWav(wav, kRate, seconds));
        }
        return wav;
    }

    std::string EncodedMusic(const std::string& name, const std::string& lame_options) {
        const std::string mp3 = Path(name);
        EXPECT_TRUE(media::Lame(MusicWav(), mp3, lame_options));
        return mp3;
    }

    struct Info {
        int32_t channels = -1;
        int32_t rate = -1;
        int32_t bit_rate = -1;
        double duration = -1.0;
        bool ok = false;
    };

    static Info Query(const std::string& path) {
        Info info;
        info.ok = QueryMp3Info(path, &info.channels, &info.rate, &info.bit_rate, &info.duration);
        return info;
    }

    ScratchDir dir_;
};

TEST_F(Mp3DecoderTest, CbrFileReportsItsFirstFrameRate) {
    const Info info = Query(EncodedMusic("cbr.mp3", "-b 128 --cbr"));
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.rate, kRate);
    EXPECT_EQ(info.bit_rate, 128 * 1024);
    EXPECT_EQ(info.duration, 5.0);
}

TEST_F(Mp3DecoderTest, VbrFileReportsTheHighestFrameRate) {
    const std::string mp3 = EncodedMusic("vbr.mp3", "-V 2");
    const auto bytes = ReadFileBytes(mp3);
    const auto frames = media::Frames(bytes);
    ASSERT_GT(frames.size(), 100u);
    ASSERT_TRUE(media::IsTagFrame(bytes, frames[0]));
    int highest = 0;
    for (size_t i = 1; i < frames.size(); ++i) highest = std::max(highest, frames[i].kbps);

    const Info info = Query(mp3);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bit_rate, highest * 1024);
}

// A VBR stream of 96 kbit/s frames with one 256 kbit/s frame at index 9. Seeking to a frame lands
// the decoder on an earlier one, so only a walk that really visits every frame finds it.
TEST_F(Mp3DecoderTest, VbrMaximumOnAnOddFrameIsFound) {
    const std::string low = EncodedMusic("low.mp3", "-t --nores --resample 44.1 -b 96 --cbr");
    const std::string high = EncodedMusic("high.mp3", "-t --nores -b 256 --cbr");
    const std::string vbr = EncodedMusic("vbr.mp3", "-V 2");
    const auto low_bytes = ReadFileBytes(low);
    const auto high_bytes = ReadFileBytes(high);
    const auto vbr_bytes = ReadFileBytes(vbr);
    const auto low_frames = media::Frames(low_bytes);
    const auto high_frames = media::Frames(high_bytes);
    const auto vbr_frames = media::Frames(vbr_bytes);
    ASSERT_GE(low_frames.size(), 60u);
    ASSERT_GE(high_frames.size(), 10u);
    ASSERT_EQ(low_frames[0].kbps, 96);
    ASSERT_EQ(high_frames[9].kbps, 256);
    ASSERT_TRUE(media::FrameContains(vbr_bytes, vbr_frames[0], "Xing"));

    auto append = [](std::vector<uint8_t>& out, const std::vector<uint8_t>& from, const media::Frame& f) {
        out.insert(out.end(), from.begin() + static_cast<long>(f.offset),
                   from.begin() + static_cast<long>(f.offset + f.size));
    };
    std::vector<uint8_t> spliced;
    append(spliced, vbr_bytes, vbr_frames[0]);  // the "Xing" header marks the stream as VBR
    for (size_t i = 0; i < 60; ++i) append(spliced, i == 9 ? high_bytes : low_bytes, i == 9 ? high_frames[i] : low_frames[i]);
    const std::string path = Path("odd.mp3");
    WriteFileBytes(path, spliced);

    const Info info = Query(path);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bit_rate, 256 * 1024);
}

TEST_F(Mp3DecoderTest, AbrFileReportsItsTargetRate) {
    const Info info = Query(EncodedMusic("abr.mp3", "--abr 160"));
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bit_rate, 160 * 1024);
}

// A free-format frame has no rate in its header: trunc(653 x 44100 x 0.008 / 1152 + 0.5) = 200.
TEST_F(Mp3DecoderTest, FreeFormatRateComesFromTheFrameSize) {
    const Info info = Query(EncodedMusic("free.mp3", "--freeformat -b 200"));
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.bit_rate, 200 * 1024);
}

TEST_F(Mp3DecoderTest, DurationDropsTheFractionOfASecond) {
    const std::string wav = Path("long.wav");
    const std::string mp3 = Path("long.mp3");
    ASSERT_TRUE(media::MakeWav(wav, "0.5*sin(2*PI*440*t)", "", 8000, 179.9));
    ASSERT_TRUE(media::Lame(wav, mp3, "-b 32"));
    const Info info = Query(mp3);
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.rate, 8000);
    EXPECT_EQ(info.duration, 179.0);
}

TEST_F(Mp3DecoderTest, EachOutputMayBeAbsent) {
    const std::string mp3 = EncodedMusic("cbr.mp3", "-b 128 --cbr");
    double duration = 0.0;
    EXPECT_TRUE(QueryMp3Info(mp3, nullptr, nullptr, nullptr, &duration));
    EXPECT_EQ(duration, 5.0);
    int32_t bit_rate = 0;
    EXPECT_TRUE(QueryMp3Info(mp3, nullptr, nullptr, &bit_rate, nullptr));
    EXPECT_EQ(bit_rate, 128 * 1024);
}

TEST_F(Mp3DecoderTest, QueryWithoutOutputsOrPathFails) {
    const std::string mp3 = EncodedMusic("cbr.mp3", "-b 128 --cbr");
    EXPECT_FALSE(QueryMp3Info(mp3, nullptr, nullptr, nullptr, nullptr));
    int32_t channels = 0;
    EXPECT_FALSE(QueryMp3Info("", &channels, nullptr, nullptr, nullptr));
    EXPECT_FALSE(QueryMp3Info(Path("missing.mp3"), &channels, nullptr, nullptr, nullptr));
}

TEST_F(Mp3DecoderTest, GarbageAndEmptyFilesFailTheQuery) {
    WriteFileBytes(Path("garbage.mp3"), Junk(20000));
    WriteFileBytes(Path("empty.mp3"), {});
    EXPECT_FALSE(Query(Path("garbage.mp3")).ok);
    EXPECT_FALSE(Query(Path("empty.mp3")).ok);
}

TEST_F(Mp3DecoderTest, MediaInfoIsAnMp3Record) {
    VeMp3MediaInfo info;
    info.channels = 7;
    ASSERT_TRUE(ReadMp3MediaInfo(info, EncodedMusic("cbr.mp3", "-b 128 --cbr")));
    EXPECT_EQ(info.Kind(), AudioFileType::Mp3);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sample_rate, kRate);
    EXPECT_EQ(info.bit_rate, 128 * 1024);
    EXPECT_EQ(info.duration, 5.0);
    EXPECT_TRUE(info.IsValid());
}

TEST_F(Mp3DecoderTest, FailedMediaInfoLeavesTheRecordAlone) {
    WriteFileBytes(Path("garbage.mp3"), Junk(20000));
    VeMp3MediaInfo info;
    info.channels = 2;
    info.sample_rate = 1234;
    EXPECT_FALSE(ReadMp3MediaInfo(info, Path("garbage.mp3")));
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sample_rate, 1234);
}

TEST_F(Mp3DecoderTest, DecodeWritesTheHeaderAndEveryFrame) {
    const std::string mp3 = EncodedMusic("vbr.mp3", "-V 2");
    const std::string wav = Path("out.wav");
    TaskProgress progress;
    progress.Reset(1000);
    ASSERT_TRUE(DecodeMp3ToWav(wav, mp3, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    EXPECT_FALSE(progress.IsFailed());

    const auto b = ReadFileBytes(wav);
    ASSERT_EQ(b.size(), 44u + 220500u * 4u);  // the encoder's delay and padding are removed
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(media::U32At(b, 4), 220500u * 4u + 36u);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(media::U32At(b, 16), 16u);
    EXPECT_EQ(media::U16At(b, 20), 1);
    EXPECT_EQ(media::U16At(b, 22), 2);
    EXPECT_EQ(media::U32At(b, 24), 44100u);
    EXPECT_EQ(media::U32At(b, 28), 176400u);
    EXPECT_EQ(media::U16At(b, 32), 4);
    EXPECT_EQ(media::U16At(b, 34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(media::U32At(b, 40), 220500u * 4u);
}

TEST_F(Mp3DecoderTest, DecodedSamplesMatchAnotherDecoder) {
    const std::string mp3 = EncodedMusic("vbr.mp3", "-V 2");
    const std::string wav = Path("out.wav");
    ASSERT_TRUE(DecodeMp3ToWav(wav, mp3, nullptr));
    const auto ours = media::WavSamples(ReadFileBytes(wav));
    const auto reference = media::DecodeWithFfmpeg(mp3, Path("reference.raw"));
    ASSERT_EQ(ours.size(), reference.size());
    double worst = 0.0;
    for (size_t i = 0; i < ours.size(); ++i)
        worst = std::max(worst, std::fabs(ours[i] / 32768.0 - double{reference[i]}));
    EXPECT_LT(worst, 4.0 / 32768.0);
}

// libmpg123 reports an error after the last good frame when junk follows it; the frames it
// delivered add up to the scanned length, so the decode stands.
TEST_F(Mp3DecoderTest, DamagedTailStillDecodes) {
    const std::string clean = EncodedMusic("clean.mp3", "-t -b 128 --cbr");
    const auto clean_frames = media::Frames(ReadFileBytes(clean));
    const std::string damaged = Path("damaged.mp3");
    WriteFileBytes(damaged, Joined(ReadFileBytes(clean), Junk(5000)));

    const std::string wav = Path("out.wav");
    ASSERT_TRUE(DecodeMp3ToWav(wav, damaged, nullptr));
    EXPECT_EQ(FileSizeOf(wav), static_cast<int64_t>(44 + clean_frames.size() * 1152 * 4));
}

// A stream that changes its sample rate delivers other frame counts than the scan promised.
TEST_F(Mp3DecoderTest, FramesThatDoNotAddUpToTheScanFail) {
    const std::string first = EncodedMusic("first.mp3", "-t -b 128 --cbr");
    const std::string other_wav = Path("other.wav");
    const std::string second = Path("second.mp3");
    ASSERT_TRUE(media::MakeWav(other_wav, "0.4*sin(2*PI*440*t)", "0.4*sin(2*PI*550*t)", 32000, 2.0));
    ASSERT_TRUE(media::Lame(other_wav, second, "-t -b 128 --cbr"));
    const std::string joined = Path("joined.mp3");
    WriteFileBytes(joined, Joined(ReadFileBytes(first), ReadFileBytes(second)));

    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(DecodeMp3ToWav(Path("out.wav"), joined, &progress));
    EXPECT_TRUE(progress.IsFailed());
}

TEST_F(Mp3DecoderTest, CancelledDecodeFails) {
    const std::string mp3 = EncodedMusic("cbr.mp3", "-b 128 --cbr");
    TaskProgress progress;
    progress.Reset(100);
    progress.Cancel();
    EXPECT_FALSE(DecodeMp3ToWav(Path("out.wav"), mp3, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(Path("out.wav")));
}

TEST_F(Mp3DecoderTest, GarbageTruncatedAndEmptyFilesFailToDecode) {
    const auto good = ReadFileBytes(EncodedMusic("cbr.mp3", "-b 128 --cbr"));
    WriteFileBytes(Path("garbage.mp3"), Junk(20000));
    WriteFileBytes(Path("truncated.mp3"), std::vector<uint8_t>(good.begin(), good.begin() + 300));
    WriteFileBytes(Path("empty.mp3"), {});
    for (const char* name : {"garbage.mp3", "truncated.mp3", "empty.mp3"}) {
        TaskProgress progress;
        progress.Reset(100);
        EXPECT_FALSE(DecodeMp3ToWav(Path("out.wav"), Path(name), &progress)) << name;
        EXPECT_TRUE(progress.IsFailed()) << name;
    }
    EXPECT_FALSE(DecodeMp3ToWav(Path("out.wav"), "", nullptr));
    EXPECT_FALSE(DecodeMp3ToWav("", Path("cbr.mp3"), nullptr));
}

class Mp3ExcerptTest : public Mp3DecoderTest {
protected:
    void SetUp() override {
        mp3_ = EncodedMusic("vbr.mp3", "-V 2");
        ASSERT_TRUE(DecodeMp3ToWav(Path("full.wav"), mp3_, nullptr));
        full_ = media::WavSamples(ReadFileBytes(Path("full.wav")));
        ASSERT_EQ(full_.size(), 220500u * 2u);
    }

    std::vector<int16_t> Slice(size_t first_frame, size_t frames) const {
        return {full_.begin() + static_cast<long>(first_frame * 2),
                full_.begin() + static_cast<long>((first_frame + frames) * 2)};
    }

    std::string mp3_;
    std::vector<int16_t> full_;
};

TEST_F(Mp3ExcerptTest, ExcerptIsTheMatchingPartOfTheWholeDecode) {
    const std::string wav = Path("excerpt.wav");
    ASSERT_TRUE(DecodeMp3ExcerptToWav(wav, mp3_, 1000, 2500));
    const auto b = ReadFileBytes(wav);
    // 1000 ms and 2500 ms at 44.1 kHz: samples 44100 to 110250.
    EXPECT_EQ(media::U32At(b, 40), 66150u * 4u);
    EXPECT_EQ(media::U32At(b, 4), 66150u * 4u + 36u);
    EXPECT_EQ(media::WavSamples(b), Slice(44100, 66150));
}

TEST_F(Mp3ExcerptTest, ReversedBoundsAreSwapped) {
    ASSERT_TRUE(DecodeMp3ExcerptToWav(Path("excerpt.wav"), mp3_, 2500, 1000));
    EXPECT_EQ(media::WavSamples(ReadFileBytes(Path("excerpt.wav"))), Slice(44100, 66150));
}

TEST_F(Mp3ExcerptTest, ExcerptPastTheEndIsCutAtTheEnd) {
    const std::string wav = Path("excerpt.wav");
    ASSERT_TRUE(DecodeMp3ExcerptToWav(wav, mp3_, 4000, 9000));
    const auto b = ReadFileBytes(wav);
    EXPECT_EQ(media::U32At(b, 40), 44100u * 4u);
    EXPECT_EQ(media::WavSamples(b), Slice(176400, 44100));
}

TEST_F(Mp3ExcerptTest, ExcerptStartingAtOrAfterTheEndFails) {
    EXPECT_FALSE(DecodeMp3ExcerptToWav(Path("a.wav"), mp3_, 5000, 6000));
    EXPECT_FALSE(DecodeMp3ExcerptToWav(Path("b.wav"), mp3_, 6000, 7000));
    EXPECT_TRUE(DecodeMp3ExcerptToWav(Path("c.wav"), mp3_, 4999, 6000));
}

TEST_F(Mp3ExcerptTest, EqualBoundsOrMissingPathsFail) {
    EXPECT_FALSE(DecodeMp3ExcerptToWav(Path("a.wav"), mp3_, 1000, 1000));
    EXPECT_FALSE(DecodeMp3ExcerptToWav("", mp3_, 0, 1000));
    EXPECT_FALSE(DecodeMp3ExcerptToWav(Path("a.wav"), "", 0, 1000));
    EXPECT_FALSE(PathExists(Path("a.wav")));
}

}  // namespace
}  // namespace chm
