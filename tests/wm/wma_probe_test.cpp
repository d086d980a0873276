// The WMA probe: the format of real files made by ffmpeg's WMA encoder, the whole-millisecond
// duration, files that are not ASF or whose first stream is no audio, and truncated, corrupted
// and hostile headers, which must all end in false without reading outside the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "wm/asf_probe.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

// The GUIDs as they lie in the file (first three fields little-endian).
const std::vector<uint8_t> kFilePropertiesId = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::vector<uint8_t> kStreamPropertiesId = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                  0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Runs an outside tool; its output goes where the command sends it, its complaints nowhere.
bool RunTool(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()) == 0; }

uint64_t ReadU64(const std::vector<uint8_t>& bytes, size_t at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes.at(at + static_cast<size_t>(i));
    return value;
}

void WriteU64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(value >> (8 * i));
}

void WriteU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(value >> (8 * i));
}

// A Stream Bitrate Properties Object with one record (stream number, average bit rate), added
// at the end of the header; `count` is the record count it claims.
std::vector<uint8_t> WithBitrateRecord(std::vector<uint8_t> bytes, uint16_t stream, uint32_t bitrate,
                                       uint16_t count = 1) {
    std::vector<uint8_t> object = {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46, 0xD1, 0x11,
                                   0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2};
    object.resize(24 + 2 + 6);
    WriteU64(object, 16, object.size());
    object[24] = static_cast<uint8_t>(count);
    object[25] = static_cast<uint8_t>(count >> 8);
    object[26] = static_cast<uint8_t>(stream);
    WriteU32(object, 28, bitrate);
    const size_t header = static_cast<size_t>(ReadU64(bytes, 16));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(header), object.begin(), object.end());
    WriteU64(bytes, 16, header + object.size());
    WriteU32(bytes, 24, static_cast<uint32_t>(ReadU64(bytes, 24) & 0xFFFFFFFF) + 1);
    return bytes;
}

size_t Find(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& what) {
    for (size_t i = 0; i + what.size() <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, what.data(), what.size()) == 0) return i;
    ADD_FAILURE() << "object not found";
    return 0;
}

class WmaProbeTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // A WMA file of two different sines (or one, for mono) through ffmpeg's wmav2 encoder.
    std::string MakeWma(const std::string& name, int channels, int rate, int bitrate, double seconds) {
        const std::string wave = channels == 2 ? "0.5*sin(2*PI*440*t)|0.3*sin(2*PI*660*t)" : "0.5*sin(2*PI*440*t)";
        const std::string path = Path(name);
        const std::string command = "ffmpeg -v error -y -f lavfi -i 'aevalsrc=" + wave + ":s=" + std::to_string(rate) +
                                    ":d=" + std::to_string(seconds) + "' -c:a wmav2 -b:a " + std::to_string(bitrate) +
                                    " " + Quoted(path);
        EXPECT_TRUE(RunTool(command)) << command;
        return path;
    }

    std::string Stereo() { return MakeWma("stereo.wma", 2, 44100, 128000, 3.0); }

    // A probe that must fail, with a record that must stay as it was.
    void ExpectRejected(const std::string& path) {
        VeWmaMediaInfo info;
        info.channels = 7;
        info.sample_rate = 8;
        info.bit_rate = 9;
        info.duration = 10.5;
        EXPECT_FALSE(ProbeWmaFile(info, path));
        EXPECT_EQ(info.channels, 7);
        EXPECT_EQ(info.sample_rate, 8);
        EXPECT_EQ(info.bit_rate, 9);
        EXPECT_EQ(info.duration, 10.5);
    }

    // The header's size from the Header Object.
    static size_t HeaderSize(const std::vector<uint8_t>& bytes) { return static_cast<size_t>(ReadU64(bytes, 16)); }

    // The duration that ffprobe reads from the same header.
    double FfprobeDuration(const std::string& path) {
        const std::string out = Path("duration.txt");
        EXPECT_TRUE(RunTool("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(path) + " > " +
                        Quoted(out)));
        return std::atof(test::ReadTextFile(out).c_str());
    }

    ScratchDir dir_;
};

TEST_F(WmaProbeTest, ReportsTheFormatOfAStereoFile) {
    const std::string path = Stereo();
    VeWmaMediaInfo info;
    info.channels = 5;  // reset before it is filled
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_EQ(info.Kind(), AudioFileType::Wma);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sample_rate, 44100);
    EXPECT_EQ(info.bit_rate, 128000);
    EXPECT_NEAR(info.duration, 3.0, 0.1);
    EXPECT_NEAR(info.duration, FfprobeDuration(path), 0.0005);
    EXPECT_TRUE(info.IsValid());
}

TEST_F(WmaProbeTest, ReportsTheFormatOfAMonoFile) {
    const std::string path = MakeWma("mono.wma", 1, 22050, 32000, 2.0);
    VeWmaMediaInfo info;
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.sample_rate, 22050);
    EXPECT_EQ(info.bit_rate, 32000);
    EXPECT_NEAR(info.duration, 2.0, 0.1);
}

TEST_F(WmaProbeTest, TheStreamsOwnBitrateRecordWins) {
    const auto bytes = ReadFileBytes(Stereo());
    const size_t stream = Find(bytes, kStreamPropertiesId);
    const uint16_t number = bytes.at(stream + 24 + 48) & 0x7F;
    const std::string path = Path("records.wma");
    VeWmaMediaInfo info;

    WriteFileBytes(path, WithBitrateRecord(bytes, number, 131072));
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_EQ(info.bit_rate, 131072);
    // A record of another stream is not this one's: the format's rate stands.
    WriteFileBytes(path, WithBitrateRecord(bytes, static_cast<uint16_t>(number + 1), 131072));
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_EQ(info.bit_rate, 128000);
    // More records claimed than the object holds.
    WriteFileBytes(path, WithBitrateRecord(bytes, number, 131072, 0xFFFF));
    ExpectRejected(path);
}

TEST_F(WmaProbeTest, DurationIsPlayDurationLessPrerollInWholeMilliseconds) {
    auto bytes = ReadFileBytes(Stereo());
    const size_t file_properties = Find(bytes, kFilePropertiesId);
    const uint64_t preroll_ms = ReadU64(bytes, file_properties + 80);
    ASSERT_GT(preroll_ms, 0u);
    const std::string path = Path("patched.wma");
    VeWmaMediaInfo info;

    // 90.0005 s and 90.0009 s are both 90000 whole milliseconds: truncated, never rounded.
    for (const uint64_t units : {uint64_t{900005000}, uint64_t{900009999}}) {
        WriteU64(bytes, file_properties + 64, units + preroll_ms * 10000);
        WriteFileBytes(path, bytes);
        ASSERT_TRUE(ProbeWmaFile(info, path));
        EXPECT_DOUBLE_EQ(info.duration, 90000 * 0.001);
    }
    WriteU64(bytes, file_properties + 64, 900010000 + preroll_ms * 10000);
    WriteFileBytes(path, bytes);
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_DOUBLE_EQ(info.duration, 90001 * 0.001);
}

TEST_F(WmaProbeTest, PrerollLongerThanThePlayDurationGivesZeroNotAWrappedNumber) {
    auto bytes = ReadFileBytes(Stereo());
    const size_t file_properties = Find(bytes, kFilePropertiesId);
    WriteU64(bytes, file_properties + 64, 5000);            // 0.5 ms of play
    WriteU64(bytes, file_properties + 80, UINT64_MAX / 2);  // an absurd preroll
    const std::string path = Path("preroll.wma");
    WriteFileBytes(path, bytes);
    VeWmaMediaInfo info;
    ASSERT_TRUE(ProbeWmaFile(info, path));
    EXPECT_EQ(info.duration, 0.0);
    EXPECT_FALSE(info.IsValid());
}

TEST_F(WmaProbeTest, MissingFileAndEmptyPathFail) {
    ExpectRejected("");
    ExpectRejected(Path("absent.wma"));
    ExpectRejected(dir_.Path());  // a folder
}

TEST_F(WmaProbeTest, FilesThatAreNotAsfFail) {
    const std::string empty = Path("empty.wma");
    WriteFileBytes(empty, {});
    ExpectRejected(empty);

    const std::string wav = Path("sine.wma");
    ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i 'sine=d=1' -f wav " + Quoted(wav)));
    ExpectRejected(wav);

    std::vector<uint8_t> noise(4096);
    uint32_t seed = 12345;
    for (auto& byte : noise) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    const std::string garbage = Path("noise.wma");
    WriteFileBytes(garbage, noise);
    ExpectRejected(garbage);
}

TEST_F(WmaProbeTest, AFileWhoseFirstStreamIsVideoFails) {
    const std::string path = Path("video.wma");
    ASSERT_TRUE(RunTool("ffmpeg -v error -y -f lavfi -i 'testsrc=d=1:s=64x48' -f lavfi -i 'sine=d=1' -map 0:v -map 1:a "
                    "-c:v wmv2 -c:a wmav2 -f asf " +
                    Quoted(path)));
    ExpectRejected(path);
}

TEST_F(WmaProbeTest, FirstStreamWithoutAWaveFormatExFails) {
    auto bytes = ReadFileBytes(Stereo());
    const size_t stream = Find(bytes, kStreamPropertiesId);
    // A type-specific block of 16 bytes is too short for a WAVEFORMATEX; the object keeps its size.
    WriteU32(bytes, stream + 24 + 40, 16);
    WriteU32(bytes, stream + 24 + 44, 0);
    const std::string path = Path("short-format.wma");
    WriteFileBytes(path, bytes);
    ExpectRejected(path);
}

TEST_F(WmaProbeTest, HeadersTruncatedAnywhereFail) {
    const auto bytes = ReadFileBytes(Stereo());
    const size_t header = HeaderSize(bytes);
    ASSERT_GT(header, 100u);
    ASSERT_LT(header, bytes.size());
    const std::string path = Path("truncated.wma");
    for (size_t length = 0; length < header; ++length) {
        WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)));
        SCOPED_TRACE(length);
        ExpectRejected(path);
    }
    // Cut after the header, the header alone still answers.
    WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(header)));
    VeWmaMediaInfo info;
    EXPECT_TRUE(ProbeWmaFile(info, path));
}

TEST_F(WmaProbeTest, HostileSizesFail) {
    const auto original = ReadFileBytes(Stereo());
    const size_t file_properties = Find(original, kFilePropertiesId);
    const size_t stream = Find(original, kStreamPropertiesId);
    const std::string path = Path("hostile.wma");
    struct Patch {
        const char* what;
        size_t at;
        uint64_t value;
        int width;
    };
    const Patch patches[] = {
        {"header size beyond the file", 16, UINT64_MAX, 8},
        {"header size below its own", 16, 10, 8},
        {"more objects than the header holds", 24, 0xFFFFFFFF, 4},
        {"object size beyond the header", file_properties + 16, UINT64_MAX, 8},
        {"object size below its own header", file_properties + 16, 8, 8},
        {"object size zero", file_properties + 16, 0, 8},
        {"file properties too short", file_properties + 16, 24 + 40, 8},
        {"stream properties too short", stream + 16, 24 + 20, 8},
        {"type-specific length beyond the object", stream + 24 + 40, 0xFFFFFFFF, 4},
        {"error-correction length beyond the object", stream + 24 + 44, 0xFFFFFFF0, 4},
    };
    for (const Patch& patch : patches) {
        auto bytes = original;
        if (patch.width == 8)
            WriteU64(bytes, patch.at, patch.value);
        else
            WriteU32(bytes, patch.at, static_cast<uint32_t>(patch.value));
        WriteFileBytes(path, bytes);
        SCOPED_TRACE(patch.what);
        ExpectRejected(path);
    }
}

TEST_F(WmaProbeTest, CorruptedHeaderBytesNeverCrash) {
    // Every header byte in turn set to 0x00, 0x7F and 0xFF: whatever the result, the probe must
    // stay inside the file (the sanitizer build checks that) and must not hang.
    const auto original = ReadFileBytes(Stereo());
    const size_t header = HeaderSize(original);
    const std::string path = Path("corrupt.wma");
    size_t accepted = 0;
    for (size_t at = 0; at < header; ++at) {
        for (const uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            auto bytes = original;
            bytes[at] = value;
            WriteFileBytes(path, bytes);
            VeWmaMediaInfo info;
            if (ProbeWmaFile(info, path)) {
                ++accepted;
                EXPECT_GE(info.channels, 0);
                EXPECT_GE(info.sample_rate, 0);
                EXPECT_GE(info.bit_rate, 0);
                EXPECT_GE(info.duration, 0.0);
            }
        }
    }
    // Bytes the probe does not look at (ids, dates, other objects' contents) may change freely.
    EXPECT_GT(accepted, 0u);
}

}  // namespace
}  // namespace chm
