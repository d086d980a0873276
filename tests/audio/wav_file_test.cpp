#include "audio/wav_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/frame_layout.h"
#include "audio/pcm_samples.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "processing/channel_ops.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Files made byte by byte --------------------------------------------------------------

void PutU16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

void PutId(Bytes& out, const char* id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

uint16_t GetU16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

uint32_t GetU32(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

// A chunk whose size field says `claimed`; the body follows, then a pad byte when asked.
Bytes RawChunk(const char* id, uint32_t claimed, const Bytes& body, bool pad) {
    Bytes out;
    PutId(out, id);
    PutU32(out, claimed);
    out.insert(out.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1) out.push_back(0);
    return out;
}

Bytes Chunk(const char* id, const Bytes& body) {
    return RawChunk(id, static_cast<uint32_t>(body.size()), body, true);
}

Bytes FmtBody(int16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, std::optional<uint16_t> cb_size = {}) {
    const uint16_t block_align = static_cast<uint16_t>(channels * bits / 8);
    Bytes out;
    PutU16(out, static_cast<uint16_t>(tag));
    PutU16(out, channels);
    PutU32(out, rate);
    PutU32(out, rate * block_align);
    PutU16(out, block_align);
    PutU16(out, bits);
    if (cb_size) {
        PutU16(out, *cb_size);
        out.insert(out.end(), *cb_size, 0xAB);
    }
    return out;
}

// WAVEFORMATEXTENSIBLE: the PCM block, cbSize 22, valid bits, channel mask, sub-format.
Bytes ExtensibleFmtBody(uint16_t channels, uint32_t rate, uint16_t container, uint16_t valid, uint16_t sub_tag,
                        uint32_t mask) {
    Bytes out = FmtBody(static_cast<int16_t>(0xFFFE), channels, rate, container);
    PutU16(out, 22);
    PutU16(out, valid);
    PutU32(out, mask);
    const std::array<uint8_t, 16> guid = SubFormatOfTag(sub_tag);
    out.insert(out.end(), guid.begin(), guid.end());
    return out;
}

Bytes Riff(std::initializer_list<Bytes> chunks) {
    Bytes body;
    PutId(body, "WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out;
    PutId(out, "RIFF");
    PutU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Int16Bytes(const std::vector<int16_t>& samples) {
    Bytes out;
    for (int16_t s : samples) PutU16(out, static_cast<uint16_t>(s));
    return out;
}

Bytes PcmWav(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    return Riff({Chunk("fmt ", FmtBody(1, channels, rate, bits)), Chunk("data", data)});
}

// Interleaved 16-bit stereo: left rises through every value, right falls.
std::vector<int16_t> EveryInt16Stereo() {
    std::vector<int16_t> out;
    for (int v = -32768; v <= 32767; ++v) {
        out.push_back(static_cast<int16_t>(v));
        out.push_back(static_cast<int16_t>(-1 - v));
    }
    return out;
}

// A deterministic two-tone stereo signal, already 16-bit.
std::vector<int16_t> ToneStereo(uint32_t frames) {
    std::vector<int16_t> out;
    for (uint32_t i = 0; i < frames; ++i) {
        out.push_back(static_cast<int16_t>(std::lround(20000.0 * std::sin(i * 0.031))));
        out.push_back(static_cast<int16_t>(std::lround(-12000.0 * std::sin(i * 0.007 + 1.0))));
    }
    return out;
}

std::vector<float> Samples(VeChannel& channel) {
    std::vector<float> out;
    if (!channel.store) return out;
    VeSampleStore& store = *channel.store;
    for (uint32_t page = 0; page < store.PageCount(); ++page) {
        const float* samples = store.MapPage(page);
        if (!samples) return {};
        out.insert(out.end(), samples, samples + store.PageLength(page));
    }
    return out;
}

// ---- Outside readers ---------------------------------------------------------------------------

std::string RunCommand(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

struct OutsideInfo {
    std::string codec;
    int channels = -1;
    int rate = -1;
    int bits = -1;
    long long frames = -1;
};

// ffprobe's view of a WAV file: what any other program will see in it.
OutsideInfo Ffprobe(const std::string& path) {
    const std::string text = RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,channels,sample_rate,bits_per_sample,duration_ts -of default=nw=1 '" +
        path + "' 2>/dev/null");
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    OutsideInfo info;
    auto number = [&](const char* key) { return fields.count(key) ? std::atoll(fields[key].c_str()) : -1LL; };
    info.codec = fields["codec_name"];
    info.channels = static_cast<int>(number("channels"));
    info.rate = static_cast<int>(number("sample_rate"));
    info.bits = static_cast<int>(number("bits_per_sample"));
    info.frames = number("duration_ts");
    return info;
}

// soxi's frame count ("samples" in its terms), a second opinion on the length.
long long SoxiFrames(const std::string& path) {
    const std::string text = RunCommand("soxi -s '" + path + "' 2>/dev/null");
    return text.empty() ? -1 : std::atoll(text.c_str());
}

void ExpectOutsideFormat(const std::string& path, int channels, int rate, int bits, long long frames,
                         const std::string& codec = {}) {
    const OutsideInfo info = Ffprobe(path);
    EXPECT_EQ(info.codec, !codec.empty() ? codec : bits == 8 ? "pcm_u8" : "pcm_s16le") << path;
    EXPECT_EQ(info.channels, channels) << path;
    EXPECT_EQ(info.rate, rate) << path;
    EXPECT_EQ(info.bits, bits) << path;
    EXPECT_EQ(info.frames, frames) << path;
    EXPECT_EQ(SoxiFrames(path), frames) << path;
}

// Raw 16-bit samples of one channel as sox extracts them.
Bytes SoxChannel(const std::string& path, int channel) {
    const std::string text = RunCommand("sox -D '" + path + "' -t raw -e signed -b 16 -L - remix " +
                                        std::to_string(channel) + " 2>/dev/null");
    return Bytes(text.begin(), text.end());
}

// A progress sink that cancels itself once its position passes a mark.
class CancelAtProgress : public TaskProgress {
public:
    explicit CancelAtProgress(uint32_t mark) : mark_(mark) { Reset(1000); }

protected:
    void OnChanged() override {
        if (Done() >= mark_) Cancel();
    }

private:
    uint32_t mark_;
};

// ---- Fixtures ---------------------------------------------------------------------------------

class WavTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.File(name);
        test::WriteFileBytes(path, bytes);
        return path;
    }

    // A source made by sox from its own generators; false when sox made nothing.
    bool Sox(const std::string& name, const std::string& format, const std::string& effects) {
        const std::string path = dir_.File(name);
        RunCommand("sox -n " + format + " '" + path + "' " + effects + " 2>/dev/null");
        return IsRegularFile(path);
    }

    test::ScratchDir dir_;
};

class WavProbeTest : public WavTest {};
class WavLoadTest : public WavTest {};
class WavBadInputTest : public WavTest {};
class WavSaveTest : public WavTest {};
class WavRoundTripTest : public WavTest {};
class WavFoldTest : public WavTest {};
class WavDecodeRouteTest : public WavTest {};

// ---- ProbeWav --------------------------------------------------------------------------------

TEST_F(WavProbeTest, ReportsThePcmHeaderAndFrameCount) {
    const std::string path = Write("a.wav", PcmWav(2, 22050, 16, Int16Bytes(ToneStereo(100))));
    VeAudioFormat header;
    ASSERT_TRUE(ProbeWav(path, header));
    EXPECT_EQ(header.format_tag, 1);
    EXPECT_EQ(header.channels, 2);
    EXPECT_EQ(header.sample_rate, 22050u);
    EXPECT_EQ(header.block_align, 4);
    EXPECT_EQ(header.bits_per_sample, 16);
    EXPECT_EQ(header.frames, 100u);
    EXPECT_EQ(header.data_bytes, 400u);
}

TEST_F(WavProbeTest, ReportsAFloatHeaderWithItsFramesAndACompressedOneWithout) {
    const std::string path = Write("f.wav", Riff({Chunk("fmt ", FmtBody(3, 1, 8000, 32, 0)), Chunk("data", Bytes(40, 0))}));
    VeAudioFormat header;
    ASSERT_TRUE(ProbeWav(path, header));
    EXPECT_EQ(header.format_tag, 3);
    EXPECT_EQ(header.extra_size, 0);
    EXPECT_EQ(header.frames, 10u);
    EXPECT_EQ(header.data_bytes, 40u);
    // A-law: its frames are known only once it is decoded.
    ASSERT_TRUE(ProbeWav(Write("a.wav", Riff({Chunk("fmt ", FmtBody(6, 1, 8000, 8, 0)), Chunk("data", Bytes(40, 0))})), header));
    EXPECT_EQ(header.format_tag, 6);
    EXPECT_EQ(header.frames, 0u);
    EXPECT_EQ(header.data_bytes, 40u);
}

TEST_F(WavProbeTest, PassesAFileWithoutDataChunkWithTheFmtHeader) {
    const std::string path = Write("nodata.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 8))}));
    VeAudioFormat header;
    ASSERT_TRUE(ProbeWav(path, header));
    EXPECT_EQ(header.channels, 1);
    EXPECT_EQ(header.data_bytes, 0u);
}

TEST_F(WavProbeTest, FailsOnAMissingFileAndOnGarbage) {
    VeAudioFormat header;
    EXPECT_FALSE(ProbeWav(dir_.File("missing.wav"), header));
    EXPECT_FALSE(ProbeWav(Write("text.wav", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}), header));
    EXPECT_FALSE(ProbeWav(dir_.Path(), header));
}

TEST_F(WavProbeTest, FailsWhenTheDataChunkComesWithoutAUsableHeader) {
    const std::string path = Write("early.wav", Riff({Chunk("data", Bytes(8, 0)), Chunk("fmt ", FmtBody(1, 1, 8000, 16))}));
    VeAudioFormat header;
    EXPECT_FALSE(ProbeWav(path, header));
}

// ---- LoadWav: the direct route ----------------------------------------------------------------

TEST_F(WavLoadTest, Loads16BitStereoExactly) {
    const std::vector<int16_t> samples{0, -1, 32767, -32768, 1234, -4321};
    const std::string path = Write("s.wav", PcmWav(2, 44100, 16, Int16Bytes(samples)));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    ASSERT_TRUE(data.IsValid());
    EXPECT_EQ(data.ChannelSet().channels, 2);
    EXPECT_EQ(data.ChannelSet().frames, 3u);
    EXPECT_EQ(data.ChannelSet().sample_rate, 44100u);
    EXPECT_EQ(Samples(data.ChannelSet().left), (std::vector<float>{0.0f, 1.0f - 1.0f / 32768.0f, 1234 / 32768.0f}));
    EXPECT_EQ(Samples(data.ChannelSet().right), (std::vector<float>{-1 / 32768.0f, -1.0f, -4321 / 32768.0f}));
}

TEST_F(WavLoadTest, Loads8BitMonoAsUnsigned) {
    const std::string path = Write("u8.wav", PcmWav(1, 8000, 8, Bytes{128, 0, 255, 192}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(Samples(data.ChannelSet().left), (std::vector<float>{0.0f, -1.0f, 127 / 128.0f, 0.5f}));
}

TEST_F(WavLoadTest, SkipsAListChunkOfSizeThreeAndItsPadByte) {
    const Bytes list = RawChunk("LIST", 3, Bytes{'a', 'b', 'c'}, true);
    ASSERT_EQ(list.size(), 12u);
    const std::string path = Write("list.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), list,
                                                     Chunk("data", Int16Bytes({100, -100, 200, -200}))}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 2u);
    EXPECT_EQ(Samples(data.ChannelSet().left), (std::vector<float>{100 / 32768.0f, 200 / 32768.0f}));
    EXPECT_EQ(Samples(data.ChannelSet().right), (std::vector<float>{-100 / 32768.0f, -200 / 32768.0f}));
}

TEST_F(WavLoadTest, ReadsAFmtChunkOf18BytesAsPcm) {
    const Bytes fmt = FmtBody(1, 1, 8000, 16, 0);
    ASSERT_EQ(fmt.size(), 18u);
    const std::string path = Write("fmt18.wav", Riff({Chunk("fmt ", fmt), Chunk("data", Int16Bytes({7, 8, 9}))}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.Format().format_tag, 1);
    EXPECT_EQ(data.Format().extra_size, 0);
    EXPECT_EQ(data.ChannelSet().frames, 3u);
    EXPECT_EQ(Samples(data.ChannelSet().left)[2], 9 / 32768.0f);
}

TEST_F(WavLoadTest, KeepsTheFileHeaderFields) {
    const std::string path = Write("h.wav", PcmWav(2, 11025, 16, Int16Bytes(ToneStereo(10))));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    const VeAudioFormat& f = data.Format();
    EXPECT_EQ(f.format_tag, 1);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sample_rate, 11025u);
    EXPECT_EQ(f.avg_bytes_per_sec, 44100u);
    EXPECT_EQ(f.block_align, 4);
    EXPECT_EQ(f.bits_per_sample, 16);
    EXPECT_EQ(f.frames, 10u);
    EXPECT_EQ(f.data_bytes, 40u);
}

TEST_F(WavLoadTest, ReadsChunksAfterAnOddSizedDataChunk) {
    // 3 frames of 8-bit mono: the data chunk has a pad byte, then a LIST chunk follows.
    const std::string path = Write("odd.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 8)), Chunk("data", Bytes{1, 2, 3}),
                                                    Chunk("LIST", Bytes{'I', 'N', 'F', 'O'})}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 3u);
}

TEST_F(WavLoadTest, ReadsChunksAfterADataChunkThatIsNotWholeFrames) {
    // 5 bytes of 16-bit mono: 2 frames, and the odd byte and the pad byte are passed over.
    const std::string path = Write("part.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16)),
                                                     Chunk("data", Bytes{1, 0, 2, 0, 3}), Chunk("LIST", Bytes{'a', 'b'})}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 2u);
    EXPECT_EQ(Samples(data.ChannelSet().left), (std::vector<float>{1 / 32768.0f, 2 / 32768.0f}));
}

TEST_F(WavLoadTest, LoadsTheFramesPresentWhenTheDataChunkClaimsMore) {
    // The chunk claims 1000 frames; the file holds 3 and a half.
    const std::string path = Write("short.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16)),
                                                      RawChunk("data", 2000, Int16Bytes({5, 6, 7, 8}), false)}));
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    bytes.pop_back();
    test::WriteFileBytes(path, bytes);
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 3u);
    EXPECT_EQ(data.Format().frames, 3u);
    EXPECT_EQ(Samples(data.ChannelSet().left), (std::vector<float>{5 / 32768.0f, 6 / 32768.0f, 7 / 32768.0f}));
}

TEST_F(WavLoadTest, ADataSizeOfAllOnesLoadsWhatTheFileHolds) {
    const std::string path = Write("ffff.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)),
                                                     RawChunk("data", 0xFFFFFFFFu, Int16Bytes({1, 2, 3, 4}), false)}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 2u);
}

TEST_F(WavLoadTest, LoadsAReadOnlySource) {
    const std::string path = Write("ro.wav", PcmWav(2, 8000, 16, Int16Bytes(ToneStereo(50))));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    VeAudioFormat header;
    EXPECT_TRUE(ProbeWav(path, header));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    EXPECT_EQ(data.ChannelSet().frames, 50u);
    // Reading never touches the source.
    EXPECT_EQ(test::ReadFileBytes(path), PcmWav(2, 8000, 16, Int16Bytes(ToneStereo(50))));
}

TEST_F(WavLoadTest, AFileWithoutDataChunkLoadsAsEmptyAudio) {
    const std::string path = Write("nodata.wav", Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("LIST", Bytes(6, 1))}));
    VeAudioData data;
    EXPECT_TRUE(LoadWav(data, path));
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_FALSE(data.FoldToMono(static_cast<int>(ConversionMethod::KeepLeft)));
}

TEST_F(WavLoadTest, LoadsAFileLongerThanOnePage) {
    const uint32_t frames = 2 * VeSampleStore::kSamplesPerPage + 17;
    const std::vector<int16_t> samples = ToneStereo(frames);
    const std::string path = Write("long.wav", PcmWav(2, 44100, 16, Int16Bytes(samples)));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path));
    ASSERT_EQ(data.ChannelSet().frames, frames);
    const std::vector<float> left = Samples(data.ChannelSet().left);
    const std::vector<float> right = Samples(data.ChannelSet().right);
    for (uint32_t i = 0; i < frames; i += 997) {
        ASSERT_EQ(left[i], samples[2 * i] / 32768.0f) << i;
        ASSERT_EQ(right[i], samples[2 * i + 1] / 32768.0f) << i;
    }
    EXPECT_EQ(left.back(), samples[2 * (frames - 1)] / 32768.0f);
}

TEST_F(WavLoadTest, CompletesItsProgress) {
    const std::string path = Write("p.wav", PcmWav(1, 8000, 16, Int16Bytes({1, 2, 3})));
    TaskProgress progress;
    progress.Reset(1000);
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, path, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    EXPECT_FALSE(progress.IsFailed());
}

TEST_F(WavLoadTest, ACancelledProgressFailsTheLoad) {
    const std::string path = Write("c.wav", PcmWav(1, 8000, 16, Int16Bytes({1, 2, 3})));
    TaskProgress progress;
    progress.Reset(1000);
    progress.Cancel();
    VeAudioData data;
    EXPECT_FALSE(LoadWav(data, path, &progress));
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_TRUE(progress.IsFailed());
}

TEST_F(WavLoadTest, ACancelDuringTheReadFailsAndLeavesNothing) {
    const uint32_t frames = 4 * VeSampleStore::kSamplesPerPage;
    const std::string path = Write("long.wav", PcmWav(2, 44100, 16, Int16Bytes(ToneStereo(frames))));
    CancelAtProgress progress(500);
    VeAudioData data;
    EXPECT_FALSE(LoadWav(data, path, &progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_TRUE(data.IsEmpty());
    EXPECT_TRUE(test::TempEntries().empty());
}

// ---- Bad input -----------------------------------------------------------------------------------

// Every bad file fails, leaves the audio empty and leaves no temporary file.
void ExpectLoadFails(const std::string& path) {
    VeAudioData data;
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(LoadWav(data, path, &progress)) << path;
    EXPECT_TRUE(data.IsEmpty()) << path;
    EXPECT_TRUE(progress.IsFailed()) << path;
    EXPECT_TRUE(test::TempEntries().empty()) << path;
}

TEST_F(WavBadInputTest, AZeroSizeChunkFails) {
    ExpectLoadFails(Write("zero.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16)), RawChunk("junk", 0, {}, false),
                                            Chunk("data", Int16Bytes({1, 2}))})));
}

TEST_F(WavBadInputTest, AChunkSizeOfAllOnesFails) {
    ExpectLoadFails(Write("ffff.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16)),
                                            RawChunk("junk", 0xFFFFFFFFu, Bytes(8, 0), false)})));
}

TEST_F(WavBadInputTest, AFmtSizeOfAllOnesFails) {
    ExpectLoadFails(Write("fmtff.wav", Riff({RawChunk("fmt ", 0xFFFFFFFFu, FmtBody(1, 1, 8000, 16), false)})));
}

TEST_F(WavBadInputTest, AFmtChunkOfZeroOrFewerThan16BytesFails) {
    ExpectLoadFails(Write("fmt0.wav", Riff({RawChunk("fmt ", 0, FmtBody(1, 1, 8000, 16), false)})));
    ExpectLoadFails(Write("fmt14.wav", Riff({RawChunk("fmt ", 14, FmtBody(1, 1, 8000, 16), false)})));
}

TEST_F(WavBadInputTest, PcmOfADepthOutsideTheReadKindsFails) {
    ExpectLoadFails(Write("12.wav", PcmWav(2, 44100, 12, Bytes(3 * 10, 0x11))));
    ExpectLoadFails(Write("20.wav", PcmWav(1, 44100, 20, Bytes(2 * 10, 0x11))));
}

TEST_F(WavBadInputTest, MoreThanTwoChannelsFail) {
    ExpectLoadFails(Write("3ch.wav", PcmWav(3, 44100, 16, Bytes(6 * 10, 0x11))));
}

TEST_F(WavBadInputTest, ADataChunkBeforeTheFmtChunkFails) {
    ExpectLoadFails(Write("early.wav", Riff({Chunk("data", Int16Bytes({1, 2})), Chunk("fmt ", FmtBody(1, 1, 8000, 16))})));
}

TEST_F(WavBadInputTest, AnInconsistentPcmHeaderFails) {
    Bytes fmt = FmtBody(1, 2, 8000, 16);
    fmt[12] = 3;  // block align 3 for 16-bit stereo
    ExpectLoadFails(Write("bad.wav", Riff({Chunk("fmt ", fmt), Chunk("data", Bytes(12, 0))})));
}

TEST_F(WavBadInputTest, AnEmptyDataChunkFails) {
    ExpectLoadFails(Write("empty-data.wav", Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 16)), Chunk("data", {})})));
}

TEST_F(WavBadInputTest, ATruncatedHeaderFails) {
    const Bytes whole = PcmWav(2, 8000, 16, Int16Bytes(ToneStereo(4)));
    for (size_t keep : {1u, 4u, 8u, 11u, 12u, 15u, 20u, 30u, 43u}) {
        SCOPED_TRACE(keep);
        ExpectLoadFails(Write("cut" + std::to_string(keep) + ".wav", Bytes(whole.begin(), whole.begin() + keep)));
    }
}

TEST_F(WavBadInputTest, AnEmptyFileFails) {
    ExpectLoadFails(Write("empty.wav", {}));
    VeAudioFormat header;
    EXPECT_FALSE(ProbeWav(dir_.File("empty.wav"), header));
}

TEST_F(WavBadInputTest, ANonRiffFileFails) {
    Bytes rifx = PcmWav(1, 8000, 16, Int16Bytes({1, 2}));
    rifx[3] = 'X';
    ExpectLoadFails(Write("rifx.wav", rifx));
    Bytes avi = PcmWav(1, 8000, 16, Int16Bytes({1, 2}));
    avi[8] = 'A', avi[9] = 'V', avi[10] = 'I', avi[11] = ' ';
    ExpectLoadFails(Write("avi.wav", avi));
    ExpectLoadFails(Write("text.wav", Bytes(100, 'x')));
}

TEST_F(WavBadInputTest, AMissingFileAndAFolderFail) {
    ExpectLoadFails(dir_.File("missing.wav"));
    ExpectLoadFails(dir_.Path());
}

TEST_F(WavBadInputTest, DamagedFilesNeverCrashAndLeaveValidOrEmptyAudio) {
    const Bytes good = Riff({Chunk("fmt ", FmtBody(1, 2, 8000, 16)), Chunk("LIST", Bytes{'a', 'b', 'c'}),
                             Chunk("data", Int16Bytes(ToneStereo(64))), Chunk("id3 ", Bytes(9, 7))});
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = good;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int c = 0; c < changes; ++c) {
            // Mostly the header and chunk fields, where the damage matters.
            const size_t at = random() % 3 != 0 ? random() % 60 : random() % bytes.size();
            bytes[at] = static_cast<uint8_t>(random() % 4 == 0 ? 0xFF : random());
        }
        if (random() % 4 == 0) bytes.resize(random() % bytes.size());
        const std::string path = Write("damaged.wav", bytes);
        {
            VeAudioData data;
            const bool loaded = LoadWav(data, path);
            ASSERT_TRUE(loaded ? (data.IsValid() || data.IsEmpty()) : data.IsEmpty()) << round;
            if (!loaded) {
                ASSERT_TRUE(test::TempEntries().empty()) << round;
            }
        }
        // Loaded audio keeps its samples in temporary files until it goes.
        ASSERT_TRUE(test::TempEntries().empty()) << round;
    }
}

// ---- SaveWav --------------------------------------------------------------------------------

TEST_F(WavSaveTest, WritesTheCanonicalHeader) {
    const std::string source = Write("s.wav", PcmWav(2, 22050, 16, Int16Bytes(ToneStereo(300))));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 44u + 1200u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(GetU32(bytes, 4), 36u + 1200u);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(GetU32(bytes, 16), 16u);
    EXPECT_EQ(GetU16(bytes, 20), 1);
    EXPECT_EQ(GetU16(bytes, 22), 2);
    EXPECT_EQ(GetU32(bytes, 24), 22050u);
    EXPECT_EQ(GetU32(bytes, 28), 88200u);
    EXPECT_EQ(GetU16(bytes, 32), 4);
    EXPECT_EQ(GetU16(bytes, 34), 16);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(GetU32(bytes, 40), 1200u);
    ExpectOutsideFormat(out, 2, 22050, 16, 300);
    // Saving leaves the audio as it was.
    EXPECT_TRUE(data.IsValid());
    EXPECT_EQ(data.ChannelSet().frames, 300u);
}

TEST_F(WavSaveTest, ThreeFramesOf8BitMonoGiveA48ByteFile) {
    const std::string source = Write("u8.wav", PcmWav(1, 8000, 8, Bytes{10, 128, 250}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ(GetU32(bytes, 4), 40u);
    EXPECT_EQ(GetU32(bytes, 40), 3u);
    EXPECT_EQ((Bytes(bytes.begin() + 44, bytes.end())), (Bytes{10, 128, 250, 0}));
    ExpectOutsideFormat(out, 1, 8000, 8, 3);
}

TEST_F(WavSaveTest, WritesFullScaleAndSilenceByTheRoundingRule) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 4, 8000));
    const float values[4] = {1.0f, -1.0f, 0.0f, -0.6f};
    ASSERT_TRUE(data.ChannelSet().left.store->WriteAt(0, values, 4));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 52u);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 44)), 32767);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 46)), -32768);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 48)), 0);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 50)), -19661);  // floor(-19660.8 + 0.5)
    ExpectOutsideFormat(out, 1, 8000, 16, 4);
}

TEST_F(WavSaveTest, WritesFullScaleAndSilenceIn8Bit) {
    const std::string source = Write("u8.wav", PcmWav(1, 8000, 8, Bytes{0, 0, 0}));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const float values[3] = {1.0f, -1.0f, 0.0f};
    ASSERT_TRUE(data.ChannelSet().left.store->WriteAt(0, values, 3));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 48u);
    EXPECT_EQ((Bytes(bytes.begin() + 44, bytes.end())), (Bytes{255, 0, 128, 0}));
    ExpectOutsideFormat(out, 1, 8000, 8, 3);
}

TEST_F(WavSaveTest, ReplacesALongerFileWithOneOfExactLength) {
    const std::string out = Write("out.wav", Bytes(500000, 0x55));
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 10, 8000));
    ASSERT_TRUE(SaveWav(data, out));
    EXPECT_EQ(test::FileSizeOf(out), 84);
    ExpectOutsideFormat(out, 2, 8000, 16, 10);
}

TEST_F(WavSaveTest, WritesAFileLongerThanOneViewUnitToItsExactLength) {
    const uint32_t frames = VeSampleStore::kSamplesPerPage + 12345;
    const std::vector<int16_t> samples = ToneStereo(frames);
    const std::string source = Write("long.wav", PcmWav(2, 44100, 16, Int16Bytes(samples)));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const std::string out = dir_.File("out.wav");
    TaskProgress progress;
    progress.Reset(1000);
    ASSERT_TRUE(SaveWav(data, out, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    EXPECT_EQ(test::ReadFileBytes(out), test::ReadFileBytes(source));
    ExpectOutsideFormat(out, 2, 44100, 16, frames);
}

TEST_F(WavSaveTest, WritesAnUnplainSetThroughAPlainCopy) {
    // Logical sample t is store sample t - 10: ten samples of silence come first.
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(false, 100, 8000));
    std::vector<float> stored(100);
    for (int i = 0; i < 100; ++i) stored[i] = static_cast<float>(i + 1) / 32768.0f;
    VeChannelSet& set = data.ChannelSet();
    ASSERT_TRUE(set.left.store->WriteAt(0, stored.data(), 100));
    set.left.start_offset = 10;
    set.left.length = 110;
    set.frames = 110;
    data.Format().frames = 110;
    data.Format().data_bytes = 220;
    ASSERT_FALSE(set.IsPlain());
    const std::string out = dir_.File("out.wav");
    TaskProgress progress;
    progress.Reset(1000);
    ASSERT_TRUE(SaveWav(data, out, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 44u + 220u);
    for (int t = 0; t < 110; ++t)
        ASSERT_EQ(static_cast<int16_t>(GetU16(bytes, 44 + 2 * t)), t < 10 ? 0 : t - 9) << t;
    ExpectOutsideFormat(out, 1, 8000, 16, 110);
    // The audio itself keeps its offset.
    EXPECT_EQ(set.left.start_offset, 10);
}

TEST_F(WavSaveTest, EmptyAudioFailsAndLeavesNoFile) {
    VeAudioData data;
    const std::string out = dir_.File("out.wav");
    TaskProgress progress;
    progress.Reset(100);
    EXPECT_FALSE(SaveWav(data, out, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(out));
}

TEST_F(WavSaveTest, ANonPcmHeaderFailsAndLeavesNoFile) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 10, 8000));
    data.Format().format_tag = 3;
    const std::string out = dir_.File("out.wav");
    EXPECT_FALSE(SaveWav(data, out));
    EXPECT_FALSE(PathExists(out));
}

TEST_F(WavSaveTest, AHeaderWithMoreChannelsThanTheSetFailsAndLeavesNoFile) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 10, 8000));
    data.ChannelSet().right.Release();
    data.ChannelSet().channels = 1;
    const std::string out = dir_.File("out.wav");
    EXPECT_FALSE(SaveWav(data, out));
    EXPECT_FALSE(PathExists(out));
}

TEST_F(WavSaveTest, ACancelledProgressCreatesNoFile) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 10, 8000));
    TaskProgress progress;
    progress.Reset(100);
    progress.Cancel();
    const std::string out = dir_.File("out.wav");
    EXPECT_FALSE(SaveWav(data, out, &progress));
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(out));
}

TEST_F(WavSaveTest, ACancelDuringTheWriteRemovesThePartialFile) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 4 * VeSampleStore::kSamplesPerPage, 44100));
    CancelAtProgress progress(300);
    const std::string out = dir_.File("out.wav");
    EXPECT_FALSE(SaveWav(data, out, &progress));
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(progress.IsFailed());
    EXPECT_FALSE(PathExists(out));
    EXPECT_TRUE(data.IsValid());
}

TEST_F(WavSaveTest, AnUnwritablePathFails) {
    VeAudioData data;
    ASSERT_TRUE(data.CreateSilence(true, 10, 8000));
    EXPECT_FALSE(SaveWav(data, dir_.File("no/such/folder/out.wav")));
    EXPECT_FALSE(SaveWav(data, dir_.Path()));
    EXPECT_TRUE(IsDirectory(dir_.Path()));
}

// ---- Round trips ---------------------------------------------------------------------------------

TEST_F(WavRoundTripTest, Every16BitValueSurvivesALoadAndASave) {
    const std::vector<int16_t> samples = EveryInt16Stereo();
    const Bytes source_bytes = PcmWav(2, 48000, 16, Int16Bytes(samples));
    const std::string source = Write("all.wav", source_bytes);
    ExpectOutsideFormat(source, 2, 48000, 16, 65536);
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes out_bytes = test::ReadFileBytes(out);
    ASSERT_EQ(out_bytes.size(), source_bytes.size());
    for (size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(static_cast<int16_t>(GetU16(out_bytes, 44 + 2 * i)), samples[i]) << "sample " << i;
    EXPECT_EQ(out_bytes, source_bytes);
    ExpectOutsideFormat(out, 2, 48000, 16, 65536);
}

TEST_F(WavRoundTripTest, Every8BitValueSurvivesALoadAndASave) {
    Bytes samples;
    for (int v = 0; v < 256; ++v) samples.push_back(static_cast<uint8_t>(v));
    samples.push_back(77);  // 257 frames: an odd data size with its pad byte
    const Bytes source_bytes = PcmWav(1, 8000, 8, samples);
    const std::string source = Write("all8.wav", source_bytes);
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    EXPECT_EQ(test::ReadFileBytes(out), source_bytes);
    ExpectOutsideFormat(out, 1, 8000, 8, 257);
}

TEST_F(WavRoundTripTest, Minus32768IsMinusOneAndIsWrittenBack) {
    const std::string source = Write("min.wav", PcmWav(1, 8000, 16, Int16Bytes({-32768, 32767})));
    VeAudioData data;
    ASSERT_TRUE(LoadWav(data, source));
    EXPECT_EQ(Samples(data.ChannelSet().left)[0], -1.0f);
    const std::string out = dir_.File("out.wav");
    ASSERT_TRUE(SaveWav(data, out));
    const Bytes bytes = test::ReadFileBytes(out);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 44)), -32768);
    EXPECT_EQ(static_cast<int16_t>(GetU16(bytes, 46)), 32767);
    ExpectOutsideFormat(out, 1, 8000, 16, 2);
}

// ---- Load, fold, save --------------------------------------------------------------------------

// The WAV conversion: LoadWav, FoldToMono, SaveWav on one VeAudioData.
std::string ConvertToMono(const std::string& source, const std::string& out, ConversionMethod method) {
    VeAudioData data;
    if (!LoadWav(data, source)) return "load failed";
    if (!data.FoldToMono(static_cast<int>(method))) return "fold failed";
    if (!SaveWav(data, out)) return "save failed";
    return {};
}

TEST_F(WavFoldTest, KeepLeftGivesAMonoFileOfTheLeftChannel) {
    const uint32_t frames = VeSampleStore::kSamplesPerPage + 1001;
    const std::string source = Write("stereo.wav", PcmWav(2, 44100, 16, Int16Bytes(ToneStereo(frames))));
    const std::string out = dir_.File("mono.wav");
    ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::KeepLeft), "");
    ExpectOutsideFormat(out, 1, 44100, 16, frames);
    const Bytes left = SoxChannel(source, 1);
    ASSERT_EQ(left.size(), size_t{frames} * 2);
    EXPECT_EQ(SoxChannel(out, 1), left);
    const Bytes bytes = test::ReadFileBytes(out);
    EXPECT_EQ(GetU32(bytes, 28), 88200u);
    EXPECT_EQ(GetU16(bytes, 32), 2);
    EXPECT_EQ(Bytes(bytes.begin() + 44, bytes.end()), left);
}

TEST_F(WavFoldTest, KeepRightGivesAMonoFileOfTheRightChannel) {
    const std::string source = Write("stereo.wav", PcmWav(2, 32000, 16, Int16Bytes(ToneStereo(5000))));
    const std::string out = dir_.File("mono.wav");
    ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::KeepRight), "");
    ExpectOutsideFormat(out, 1, 32000, 16, 5000);
    EXPECT_EQ(SoxChannel(out, 1), SoxChannel(source, 2));
}

TEST_F(WavFoldTest, Stereo8BitStays8BitMono) {
    Bytes samples;
    for (int i = 0; i < 99; ++i) {
        samples.push_back(static_cast<uint8_t>(i * 2));
        samples.push_back(static_cast<uint8_t>(255 - i));
    }
    const std::string source = Write("stereo8.wav", PcmWav(2, 8000, 8, samples));
    const std::string out = dir_.File("mono8.wav");
    ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::KeepLeft), "");
    ExpectOutsideFormat(out, 1, 8000, 8, 99);
    const Bytes bytes = test::ReadFileBytes(out);
    ASSERT_EQ(bytes.size(), 44u + 99u + 1u);
    for (int i = 0; i < 99; ++i) ASSERT_EQ(bytes[44 + i], i * 2) << i;
    EXPECT_EQ(bytes.back(), 0);
}

TEST_F(WavFoldTest, MixGivesAMonoFileThatOutsideReadersAccept) {
    const std::string source = Write("stereo.wav", PcmWav(2, 44100, 16, Int16Bytes(ToneStereo(3000))));
    const std::string out = dir_.File("mix.wav");
    ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::MixChannels), "");
    ExpectOutsideFormat(out, 1, 44100, 16, 3000);
}

// ---- Full depth: 24- and 32-bit PCM, 32- and 64-bit float, extensible headers -------------------

// The chunks of a WAV file that the depth tests look at.
struct WavParts {
    Bytes fmt;
    std::optional<uint32_t> fact;
    Bytes data;
};

WavParts ParseWav(const Bytes& file) {
    WavParts parts;
    for (size_t at = 12; at + 8 <= file.size();) {
        const uint32_t size = GetU32(file, at + 4);
        const size_t body = at + 8;
        const size_t end = std::min(file.size(), body + size);
        const std::string id(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const Bytes bytes(file.begin() + static_cast<std::ptrdiff_t>(body), file.begin() + static_cast<std::ptrdiff_t>(end));
        if (id == "fmt ") parts.fmt = bytes;
        if (id == "fact" && bytes.size() >= 4) parts.fact = GetU32(bytes, 0);
        if (id == "data") parts.data = bytes;
        at = body + size + (size & 1);
    }
    return parts;
}

// The bytes of one channel's samples out of interleaved frames.
Bytes ChannelSlots(const Bytes& data, size_t width, size_t channels, size_t index) {
    Bytes out;
    for (size_t at = index * width; at + width <= data.size(); at += width * channels)
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + width));
    return out;
}

void PutSample(Bytes& out, uint64_t bits, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>((bits >> (8 * i)) & 0xFF));
}

// Interleaved stereo frames of one kind: full scale both ways and a few oddities first, then two
// tones. Integers have at most 24 significant bits and doubles are floats, so that every value
// is one the engine keeps exactly.
Bytes StereoData(SampleEncoding encoding, uint32_t frames, int shift = 0) {
    Bytes out;
    const size_t width = BytesPerSample(encoding);
    const std::vector<float> odd_float{1.5f, -2.75f, -0.0f, 1e-40f, 1.0f, -1.0f};
    for (uint32_t i = 0; i < frames; ++i) {
        for (int channel = 0; channel < 2; ++channel) {
            const double tone = 0.9 * std::sin(i * (channel ? 0.021 : 0.013) + channel);
            if (encoding == SampleEncoding::kSigned24 || encoding == SampleEncoding::kSigned32) {
                const int bits = encoding == SampleEncoding::kSigned24 ? 24 : 32 - shift;
                const int64_t top = (int64_t{1} << (bits - 1)) - 1;
                const int64_t extremes[4] = {-top - 1, top, -1, 0x123457 % (top + 1)};
                int64_t v = i < 4 ? extremes[(i + channel) % 4] : std::llround(tone * static_cast<double>(top));
                if (encoding == SampleEncoding::kSigned32 && shift == 0 && i >= 4) v &= ~int64_t{0xFF};
                PutSample(out, static_cast<uint64_t>(v) << shift, width);
            } else {
                const float x = i < odd_float.size() ? odd_float[(i + channel) % odd_float.size()] : static_cast<float>(tone);
                uint64_t bits = 0;
                if (encoding == SampleEncoding::kFloat32) {
                    uint32_t b;
                    std::memcpy(&b, &x, 4);
                    bits = b;
                } else {
                    const double wide = x;
                    std::memcpy(&bits, &wide, 8);
                }
                PutSample(out, bits, width);
            }
        }
    }
    return out;
}

// How a stereo source of one kind is made.
enum class Maker {
    kOurWriter,   // a canonical file read and written again by the engine
    kSox,         // sox from raw samples (its 24- and 32-bit files are extensible)
    kAsIs,        // the bytes below, as they are
};

struct DepthCase {
    const char* name;
    SampleEncoding encoding;
    Maker maker;
    Bytes fmt;  // for kAsIs
    uint32_t frames;
    // What the mono output must be.
    int16_t tag;
    uint32_t fmt_size;
    uint16_t valid_bits;  // of an extensible output
    const char* codec;    // as ffprobe names it; none where the outside readers take valid bits
                          // below the container for something else (ffmpeg: 24-bit float, sox: refused)
};

constexpr uint32_t kDepthRate = 8000;

std::vector<DepthCase> DepthCases() {
    const auto ext = static_cast<int16_t>(0xFFFE);
    using E = SampleEncoding;
    const uint32_t long_run = VeSampleStore::kSamplesPerPage + 3;  // a page and a bit
    return {
        {"s24-ours", E::kSigned24, Maker::kOurWriter, {}, 1000, 1, 16, 0, "pcm_s24le"},
        {"s24-sox-extensible", E::kSigned24, Maker::kSox, {}, 1000, 1, 16, 0, "pcm_s24le"},
        {"s32-ours", E::kSigned32, Maker::kOurWriter, {}, 1000, 1, 16, 0, "pcm_s32le"},
        {"s32-sox-extensible", E::kSigned32, Maker::kSox, {}, 1000, ext, 40, 32, "pcm_s32le"},
        {"s24-in-32-extensible", E::kSigned32, Maker::kAsIs, ExtensibleFmtBody(2, kDepthRate, 32, 24, 1, 3), 1000, ext,
         40, 24, nullptr},
        {"f32-ours", E::kFloat32, Maker::kOurWriter, {}, 1000, 3, 18, 0, "pcm_f32le"},
        {"f32-sox", E::kFloat32, Maker::kSox, {}, 1000, 3, 18, 0, "pcm_f32le"},
        {"f32-fmt-of-16-bytes", E::kFloat32, Maker::kAsIs, FmtBody(3, 2, kDepthRate, 32), 1000, 3, 18, 0, "pcm_f32le"},
        {"f32-extensible", E::kFloat32, Maker::kAsIs, ExtensibleFmtBody(2, kDepthRate, 32, 32, 3, 3), 1000, ext, 40, 32,
         "pcm_f32le"},
        {"f64-ours", E::kFloat64, Maker::kOurWriter, {}, long_run, 3, 18, 0, "pcm_f64le"},
        {"f64-sox", E::kFloat64, Maker::kSox, {}, 1000, 3, 18, 0, "pcm_f64le"},
    };
}

class WavDepthTest : public WavTest, public ::testing::WithParamInterface<DepthCase> {
protected:
    // The stereo source of the case, or the empty string when it could not be made.
    std::string MakeSource() {
        const DepthCase& c = GetParam();
        // Samples below an extensible header's valid bits are zero.
        const bool extensible = !c.fmt.empty() && GetU16(c.fmt, 0) == 0xFFFE;
        const Bytes data = StereoData(c.encoding, c.frames, extensible ? 32 - GetU16(c.fmt, 18) : 0);
        const std::string path = dir_.File(std::string(c.name) + ".wav");
        const VeAudioFormat canonical = MakeSampleFormat(c.encoding, 2, kDepthRate, c.frames);
        const Bytes canonical_fmt = FmtBody(canonical.format_tag, 2, kDepthRate, canonical.bits_per_sample,
                                            canonical.format_tag == 3 ? std::optional<uint16_t>(0) : std::nullopt);
        Bytes fact;
        PutU32(fact, c.frames);
        if (c.maker == Maker::kAsIs) {
            test::WriteFileBytes(path, Riff({Chunk("fmt ", c.fmt), Chunk("data", data)}));
        } else if (c.maker == Maker::kOurWriter) {
            const Bytes file = canonical.format_tag == 1
                                   ? Riff({Chunk("fmt ", canonical_fmt), Chunk("data", data)})
                                   : Riff({Chunk("fmt ", canonical_fmt), Chunk("fact", fact), Chunk("data", data)});
            const std::string written = Write("canonical.wav", file);
            VeAudioData audio;
            if (!LoadWav(audio, written) || !SaveWav(audio, path)) return {};
            // Written again by the engine, the stereo file is the same file.
            EXPECT_EQ(test::ReadFileBytes(path), file);
        } else {
            const std::string raw = Write("source.raw", data);
            const char* encoding = IsFloatEncoding(c.encoding) ? "floating-point" : "signed-integer";
            RunCommand("sox -t raw -r " + std::to_string(kDepthRate) + " -c 2 -e " + encoding + " -b " +
                       std::to_string(BytesPerSample(c.encoding) * 8) + " -L '" + raw + "' '" + path + "' 2>/dev/null");
        }
        return IsRegularFile(path) ? path : std::string();
    }
};

// What a kept channel's samples become: themselves, except that doubles are rounded to floats.
Bytes KeptSamples(Bytes slots, SampleEncoding encoding) {
    if (encoding != SampleEncoding::kFloat64) return slots;
    for (size_t at = 0; at + 8 <= slots.size(); at += 8) {
        double x;
        std::memcpy(&x, slots.data() + at, 8);
        const double rounded = static_cast<float>(x);
        std::memcpy(slots.data() + at, &rounded, 8);
    }
    return slots;
}

// Both methods of keeping a channel give that channel's samples bit for bit (doubles as the
// nearest floats), in a mono file of the source's kind and depth that sox and ffprobe read as such.
TEST_P(WavDepthTest, KeepingAChannelIsBitExactAtTheSourcesDepth) {
    const DepthCase& c = GetParam();
    const std::string source = MakeSource();
    ASSERT_FALSE(source.empty());
    VeAudioFormat probed;
    ASSERT_TRUE(ProbeWav(source, probed));
    EXPECT_EQ(probed.channels, 2);
    EXPECT_EQ(probed.frames, c.frames);
    const WavParts in = ParseWav(test::ReadFileBytes(source));
    const size_t width = BytesPerSample(c.encoding);
    for (ConversionMethod method : {ConversionMethod::KeepLeft, ConversionMethod::KeepRight}) {
        const int channel = method == ConversionMethod::KeepLeft ? 1 : 2;
        SCOPED_TRACE(channel);
        const std::string out = dir_.File("mono" + std::to_string(channel) + ".wav");
        ASSERT_EQ(ConvertToMono(source, out, method), "");
        const WavParts parts = ParseWav(test::ReadFileBytes(out));
        ASSERT_EQ(parts.fmt.size(), c.fmt_size);
        EXPECT_EQ(static_cast<int16_t>(GetU16(parts.fmt, 0)), c.tag);
        EXPECT_EQ(GetU16(parts.fmt, 2), 1);
        EXPECT_EQ(GetU32(parts.fmt, 8), kDepthRate * width);
        EXPECT_EQ(GetU16(parts.fmt, 12), width);
        EXPECT_EQ(GetU16(parts.fmt, 14), width * 8);
        if (c.fmt_size > 16) { EXPECT_EQ(GetU16(parts.fmt, 16), c.fmt_size - 18); }
        if (c.fmt_size == 40) {
            EXPECT_EQ(GetU16(parts.fmt, 18), c.valid_bits);
            EXPECT_EQ(GetU32(parts.fmt, 20), 4u);  // front centre
            EXPECT_EQ(Bytes(parts.fmt.begin() + 24, parts.fmt.end()),
                      Bytes(in.fmt.begin() + 24, in.fmt.begin() + 40));
        }
        EXPECT_EQ(parts.fact, c.tag == 1 ? std::nullopt : std::optional<uint32_t>(c.frames));
        ASSERT_EQ(parts.data.size(), size_t{c.frames} * width);
        EXPECT_TRUE(parts.data == KeptSamples(ChannelSlots(in.data, width, 2, channel - 1), c.encoding))
            << "the samples differ";
        if (!c.codec) continue;
        const OutsideInfo info = Ffprobe(out);
        EXPECT_EQ(info.codec, c.codec);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.frames, c.frames);
        EXPECT_EQ(SoxiFrames(out), c.frames);
        const std::string by_sox = RunCommand("sox -D '" + out + "' -t raw - 2>/dev/null");
        EXPECT_FALSE(by_sox.empty());
        const std::string remix = " -t raw - remix " + std::to_string(channel) + " 2>/dev/null";
        EXPECT_TRUE(by_sox == RunCommand("sox -D '" + source + "'" + remix))
            << "sox reads other samples";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, WavDepthTest, ::testing::ValuesIn(DepthCases()),
                         [](const ::testing::TestParamInfo<DepthCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

// The mixes that item for item are the sum of both channels: integers, and floats summed as floats.
TEST_F(WavFoldTest, AMixWithinFullScaleIsTheExactSumOf24BitAndFloatSamples) {
    const uint32_t frames = 3000;
    for (SampleEncoding encoding : {SampleEncoding::kSigned24, SampleEncoding::kFloat32}) {
        const bool is_float = encoding == SampleEncoding::kFloat32;
        SCOPED_TRACE(is_float ? "float" : "24-bit");
        Bytes data;
        std::vector<double> sums;
        for (uint32_t i = 0; i < frames; ++i) {
            const double l = 0.45 * std::sin(i * 0.013), r = 0.45 * std::sin(i * 0.029 + 1.0);
            if (is_float) {
                const float fl = static_cast<float>(l), fr = static_cast<float>(r);
                PutU32(data, std::bit_cast<uint32_t>(fl));
                PutU32(data, std::bit_cast<uint32_t>(fr));
                sums.push_back(fl + fr);  // the float sum, rounded as a float
            } else {
                const int64_t il = std::llround(l * 8388608.0), ir = std::llround(r * 8388608.0);
                PutSample(data, static_cast<uint64_t>(il), 3);
                PutSample(data, static_cast<uint64_t>(ir), 3);
                sums.push_back(static_cast<double>(il + ir));
            }
        }
        const uint16_t bits = is_float ? 32 : 24;
        const std::string source =
            Write("mix.wav", Riff({Chunk("fmt ", FmtBody(is_float ? 3 : 1, 2, 44100, bits)), Chunk("data", data)}));
        const std::string out = dir_.File(is_float ? "mix-f.wav" : "mix-24.wav");
        ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::MixChannels), "");
        const WavParts parts = ParseWav(test::ReadFileBytes(out));
        ASSERT_EQ(parts.data.size(), size_t{frames} * bits / 8);
        for (uint32_t i = 0; i < frames; ++i) {
            if (is_float) {
                ASSERT_EQ(std::bit_cast<float>(GetU32(parts.data, 4 * i)), static_cast<float>(sums[i])) << i;
            } else {
                const Bytes word{0, parts.data[3 * i], parts.data[3 * i + 1], parts.data[3 * i + 2]};
                const int32_t v = static_cast<int32_t>(GetU32(word, 0)) >> 8;
                ASSERT_EQ(v, sums[i]) << i;
            }
        }
        ExpectOutsideFormat(out, 1, 44100, bits, frames, is_float ? "pcm_f32le" : "pcm_s24le");
    }
}

// A 24-bit mix that would clip is scaled so that its loudest sample is exactly full scale; a
// 24-in-32 one keeps the bits below its 24 valid ones at zero.
TEST_F(WavFoldTest, A24BitMixThatClipsIsScaledToFullScale) {
    const uint32_t frames = 4000;
    for (const bool in_32 : {false, true}) {
        SCOPED_TRACE(in_32 ? "24 in 32" : "24");
        Bytes data;
        std::vector<double> sums;
        for (uint32_t i = 0; i < frames; ++i) {
            const int64_t l = std::llround(0.8 * 8388607 * std::sin(i * 0.011));
            const int64_t r = std::llround(0.75 * 8388607 * std::sin(i * 0.011 + 0.1));
            PutSample(data, static_cast<uint64_t>(l) << (in_32 ? 8 : 0), in_32 ? 4 : 3);
            PutSample(data, static_cast<uint64_t>(r) << (in_32 ? 8 : 0), in_32 ? 4 : 3);
            sums.push_back(static_cast<double>(l + r));
        }
        const Bytes fmt = in_32 ? ExtensibleFmtBody(2, 48000, 32, 24, 1, 3) : FmtBody(1, 2, 48000, 24);
        const std::string source = Write("clip.wav", Riff({Chunk("fmt ", fmt), Chunk("data", data)}));
        const std::string out = dir_.File(in_32 ? "clip32.wav" : "clip24.wav");
        ASSERT_EQ(ConvertToMono(source, out, ConversionMethod::MixChannels), "");
        const WavParts parts = ParseWav(test::ReadFileBytes(out));
        const size_t width = in_32 ? 4 : 3;
        ASSERT_EQ(parts.data.size(), frames * width);
        double peak = 0;
        for (double sum : sums) peak = std::max(peak, std::fabs(sum));
        int32_t loudest = 0;
        for (uint32_t i = 0; i < frames; ++i) {
            Bytes word{0, 0, 0, 0};
            std::copy_n(parts.data.begin() + static_cast<std::ptrdiff_t>(i * width), width, word.begin() + (4 - width));
            const int32_t v = static_cast<int32_t>(GetU32(word, 0));
            if (in_32) { ASSERT_EQ(v & 0xFF, 0) << i; }
            const int32_t v24 = v >> 8;
            ASSERT_NEAR(v24, sums[i] / peak * 8388608.0, 1.0) << i;
            loudest = std::max(loudest, std::abs(v24));
        }
        EXPECT_GE(loudest, 8388607);
        if (in_32) {
            EXPECT_EQ(GetU16(parts.fmt, 18), 24);
        } else {
            ExpectOutsideFormat(out, 1, 48000, 24, frames, "pcm_s24le");
        }
    }
}

// ---- LoadWav: the conversion route ---------------------------------------------------------------

// Float samples of channel `channel` as sox reads them, for comparison with a decoded load.
std::vector<float> SoxFloats(const std::string& path, int channel) {
    const std::string text =
        RunCommand("sox '" + path + "' -t raw -e floating-point -b 32 -L - remix " + std::to_string(channel) + " 2>/dev/null");
    std::vector<float> out(text.size() / sizeof(float));
    std::memcpy(out.data(), text.data(), out.size() * sizeof(float));
    return out;
}

void ExpectNear16Bit(const std::vector<float>& loaded, const std::vector<float>& reference) {
    ASSERT_EQ(loaded.size(), reference.size());
    for (size_t i = 0; i < loaded.size(); ++i) ASSERT_NEAR(loaded[i], reference[i], 3.0 / 32768.0) << i;
}

// A sox-made source converts through the decoder into 16-bit PCM of the same shape and sound.
void ExpectDecodedLoad(const std::string& path, int16_t tag, uint16_t channels, uint32_t rate, uint32_t frames) {
    VeAudioFormat probed;
    ASSERT_TRUE(ProbeWav(path, probed));
    ASSERT_EQ(probed.format_tag, tag);
    VeAudioData data;
    TaskProgress progress;
    progress.Reset(1000);
    ASSERT_TRUE(LoadWav(data, path, &progress));
    EXPECT_EQ(progress.Done(), 1000u);
    ASSERT_TRUE(data.IsValid());
    EXPECT_EQ(data.Format().format_tag, 1);
    EXPECT_EQ(data.Format().bits_per_sample, 16);
    EXPECT_EQ(data.ChannelSet().channels, channels);
    EXPECT_EQ(data.ChannelSet().sample_rate, rate);
    EXPECT_EQ(data.ChannelSet().frames, frames);
    ExpectNear16Bit(Samples(data.ChannelSet().left), SoxFloats(path, 1));
    if (channels == 2) ExpectNear16Bit(Samples(data.ChannelSet().right), SoxFloats(path, 2));
    // The decoded copy is gone; what is left are the sample stores, one per channel.
    EXPECT_EQ(test::TempEntries().size(), channels);
}

TEST_F(WavDecodeRouteTest, LoadsALawThroughTheDecoder) {
    ASSERT_TRUE(Sox("alaw.wav", "-r 44100 -c 2 -e a-law", "synth 0.5 sine 440 sine 660 gain -3"));
    ExpectDecodedLoad(dir_.File("alaw.wav"), 6, 2, 44100, 22050);
}

// The decoding graph has no decoder for mu-law under an extensible header; the direct reader
// must not take it for PCM.
TEST_F(WavDecodeRouteTest, AnExtensibleMuLawFileFailsAndLeavesNothing) {
    const std::string raw = RunCommand("sox -R -n -r 8000 -c 1 -t raw -e mu-law - synth 0.25 sine 300 2>/dev/null");
    ASSERT_EQ(raw.size(), 2000u);
    ExpectLoadFails(Write("ext-ulaw.wav", Riff({Chunk("fmt ", ExtensibleFmtBody(1, 8000, 8, 8, 7, 4)),
                                                Chunk("data", Bytes(raw.begin(), raw.end()))})));
}

TEST_F(WavDecodeRouteTest, LoadsMuLawThroughTheDecoder) {
    ASSERT_TRUE(Sox("ulaw.wav", "-r 8000 -c 1 -e mu-law -b 8", "synth 0.5 sine 500 gain -2"));
    ExpectDecodedLoad(dir_.File("ulaw.wav"), 7, 1, 8000, 4000);
}

TEST_F(WavDecodeRouteTest, AnALawSourceFoldsAndSavesAs16BitMono) {
    ASSERT_TRUE(Sox("alaw.wav", "-r 22050 -c 2 -e a-law", "synth 0.3 sine 440 sine 660 gain -3"));
    const std::string out = dir_.File("mono.wav");
    ASSERT_EQ(ConvertToMono(dir_.File("alaw.wav"), out, ConversionMethod::KeepLeft), "");
    ExpectOutsideFormat(out, 1, 22050, 16, 6615);
    EXPECT_TRUE(test::TempEntries().empty());
}

TEST_F(WavDecodeRouteTest, AFormatNoDecoderKnowsFailsAndLeavesNothing) {
    // A well-formed header of an unknown format tag over noise.
    Bytes fmt = FmtBody(0x3F21, 1, 8000, 16);
    ExpectLoadFails(Write("unknown.wav", Riff({Chunk("fmt ", fmt), Chunk("data", Bytes(4000, 0x5A))})));
}

}  // namespace
}  // namespace chm

// The decoder links GLib, which allocates its quark table in a library constructor and never
// frees it; only leaks from such start-up code are excused, so that anything the reader, the
// writer or the decoder leaks still fails a sanitizer run. GLib has no frame pointers: without
// the slow unwinder no stack would reach the constructor.
extern "C" const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
