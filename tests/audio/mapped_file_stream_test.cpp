// The mapped file stream: output files through a growing mapping cut to their exact length,
// sources read read-only and safely against truncation.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/mapped_file_stream.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::FileSizeLimit;
using test::FileSizeOf;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

constexpr uint32_t kUnit = VeMappedFileStream::kViewUnit;

std::vector<uint8_t> Generated(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// The open flags of this process's descriptor for path, or -1 when none refers to it.
int OpenFlagsOf(const std::string& path) {
    const auto wanted = std::filesystem::canonical(path);
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return -1;
    int flags = -1;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::error_code ec;
        const auto target = std::filesystem::read_symlink("/proc/self/fd/" + name, ec);
        if (ec || target != wanted) continue;
        std::ifstream info("/proc/self/fdinfo/" + name);
        std::string line;
        while (std::getline(info, line)) {
            if (line.rfind("flags:", 0) == 0) flags = std::stoi(line.substr(6), nullptr, 8);
        }
    }
    ::closedir(dir);
    return flags;
}

class MappedFileStreamTest : public ::testing::Test {
protected:
    std::string MakeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    // Writes data in pieces of the given size, the way the WAV writer streams its samples.
    void WriteInPieces(const std::vector<uint8_t>& data, size_t piece) {
        for (size_t at = 0; at < data.size(); at += piece) {
            const auto n = static_cast<uint32_t>(std::min(piece, data.size() - at));
            ASSERT_EQ(stream_.Write(data.data() + at, 1, n), n) << "at " << at;
        }
    }

    ScratchDir dir_;
    VeMappedFileStream stream_;
};

TEST_F(MappedFileStreamTest, PatchedHeaderLeavesExactlyTheWrittenLength) {
    const std::string path = dir_.File("out.wav");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    const auto header = Generated(44, 1);
    ASSERT_EQ(stream_.Write(header.data(), 1, 44), 44u);
    ASSERT_TRUE(stream_.SeekTo(8));
    const uint8_t patch[4] = {'W', 'A', 'V', 'E'};
    ASSERT_EQ(stream_.Write(patch, 4, 1), 1u);
    EXPECT_EQ(stream_.Size(), 44u);
    EXPECT_EQ(stream_.Tell(), 12u);
    stream_.Close();

    auto expected = header;
    std::copy(patch, patch + 4, expected.begin() + 8);
    EXPECT_EQ(FileSizeOf(path), 44);
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST_F(MappedFileStreamTest, NewFileHasItsInitialMappingUntilClosed) {
    const std::string path = dir_.File("out.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    EXPECT_TRUE(stream_.IsOpen());
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_EQ(stream_.Path(), path);
    EXPECT_EQ(FileSizeOf(path), 4096);
    stream_.Close();
    EXPECT_EQ(FileSizeOf(path), 0);
}

TEST_F(MappedFileStreamTest, OpenForWriteEmptiesAnExistingFile) {
    const std::string path = MakeFile("old.bin", Generated(100000, 2));
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    ASSERT_TRUE(stream_.WriteByte(7));
    stream_.Close();
    EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>{7});
}

TEST_F(MappedFileStreamTest, OpenForWriteFailsOnBadArguments) {
    EXPECT_FALSE(stream_.OpenForWrite("", 4096));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.File("zero.bin"), 0));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.Path(), 4096));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.File("no/such/folder.bin"), 4096));
    EXPECT_FALSE(stream_.IsOpen());
    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("a.bin"), 4096));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.File("b.bin"), 4096));
    EXPECT_FALSE(stream_.OpenForRead(dir_.File("a.bin")));
    EXPECT_EQ(FileSizeOf(dir_.File("b.bin")), -1);
}

TEST_F(MappedFileStreamTest, ReadAtTheLogicalEndReturnsZero) {
    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("out.bin"), 4096));
    const auto data = Generated(100, 3);
    ASSERT_EQ(stream_.Write(data.data(), 1, 100), 100u);
    uint8_t buffer[16] = {};
    // The mapping holds 4096 bytes, but only 100 are content.
    EXPECT_EQ(stream_.Read(buffer, 1, 16), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
    EXPECT_EQ(stream_.Tell(), 100u);
    stream_.Close();

    ASSERT_TRUE(stream_.OpenForRead(dir_.File("out.bin")));
    ASSERT_TRUE(stream_.SeekToEnd());
    EXPECT_EQ(stream_.Read(buffer, 1, 16), 0u);
}

TEST_F(MappedFileStreamTest, EmptyFileOpensWithSizeZeroAtItsEnd) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("empty.bin", {})));
    EXPECT_TRUE(stream_.IsOpen());
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_TRUE(stream_.IsEof());
    EXPECT_FALSE(stream_.IsPastEnd());
    uint8_t byte = 0;
    EXPECT_EQ(stream_.Read(&byte, 1, 1), 0u);
}

TEST_F(MappedFileStreamTest, SourceIsReadWithItsContentAndSize) {
    const auto data = Generated(70000, 4);
    const std::string path = MakeFile("in.bin", data);
    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_EQ(stream_.Size(), 70000u);
    EXPECT_EQ(stream_.Path(), path);
    std::vector<uint8_t> back(70000);
    EXPECT_EQ(stream_.Read(back.data(), 7, 10000), 10000u);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(stream_.IsEof());
}

TEST_F(MappedFileStreamTest, SourceIsOpenedReadOnly) {
    const std::string path = MakeFile("in.bin", Generated(10, 5));
    ASSERT_TRUE(stream_.OpenForRead(path));
    const int flags = OpenFlagsOf(path);
    ASSERT_NE(flags, -1);
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
}

TEST_F(MappedFileStreamTest, WriteProtectedSourceOpensAndReads) {
    const auto data = Generated(5000, 6);
    const std::string path = MakeFile("ro.wav", data);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_TRUE(stream_.OpenForRead(path));
    std::vector<uint8_t> back(5000);
    EXPECT_EQ(stream_.Read(back.data(), 1, 5000), 5000u);
    EXPECT_EQ(back, data);
    stream_.Close();
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST_F(MappedFileStreamTest, WriteOnASourceFailsAndLeavesItAlone) {
    const auto data = Generated(300, 7);
    const std::string path = MakeFile("in.bin", data);
    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_EQ(stream_.Write(data.data(), 1, 10), 0u);
    EXPECT_FALSE(stream_.WriteByte(1));
    EXPECT_EQ(stream_.Size(), 300u);
    EXPECT_EQ(stream_.Tell(), 0u);
    stream_.Close();
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST_F(MappedFileStreamTest, SourceTruncatedWhileReadGivesShortReadsNotACrash) {
    const auto data = Generated(3 * kUnit, 8);
    const std::string path = MakeFile("shrinking.wav", data);
    ASSERT_TRUE(stream_.OpenForRead(path));
    std::vector<uint8_t> back(kUnit);
    ASSERT_EQ(stream_.Read(back.data(), 1, 1000), 1000u);

    // Another program cuts the file to 5000 bytes.
    std::filesystem::resize_file(path, 5000);
    EXPECT_EQ(stream_.Size(), 3 * kUnit);  // the size seen when it was opened
    EXPECT_EQ(stream_.Read(back.data(), 1, kUnit), 4000u);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4000, data.begin() + 1000));
    EXPECT_EQ(stream_.Read(back.data(), 4, 100), 0u);

    std::filesystem::resize_file(path, 0);
    ASSERT_TRUE(stream_.SeekTo(2 * kUnit));
    EXPECT_EQ(stream_.Read(back.data(), 1, 10), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
}

TEST_F(MappedFileStreamTest, FolderMissingFileAndEmptyPathFailToOpen) {
    EXPECT_FALSE(stream_.OpenForRead(dir_.Path()));
    EXPECT_FALSE(stream_.OpenForRead(dir_.File("missing.wav")));
    EXPECT_FALSE(stream_.OpenForRead(""));
    EXPECT_FALSE(stream_.IsOpen());
}

TEST_F(MappedFileStreamTest, SourceOf4GiBOrMoreFailsToOpen) {
    // Sparse files: no blocks are written.
    const std::string largest = dir_.File("largest.bin");
    const std::string too_large = dir_.File("too_large.bin");
    WriteFileBytes(largest, {});
    WriteFileBytes(too_large, {});
    std::filesystem::resize_file(largest, 0xFFFFFFFFull);
    std::filesystem::resize_file(too_large, 0x100000000ull);

    EXPECT_FALSE(stream_.OpenForRead(too_large));
    EXPECT_FALSE(stream_.IsOpen());

    ASSERT_TRUE(stream_.OpenForRead(largest));
    EXPECT_EQ(stream_.Size(), 0xFFFFFFFFu);
    ASSERT_TRUE(stream_.Seek(-1, kSeekEnd));
    EXPECT_EQ(stream_.ReadByte(), 0);
    EXPECT_TRUE(stream_.IsEof());
}

TEST_F(MappedFileStreamTest, WritePast4GiBMinusOneFails) {
    const std::string path = dir_.File("out.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    ASSERT_TRUE(stream_.SeekTo(0xFFFFFFFEu));
    const uint8_t two[2] = {1, 2};
    EXPECT_EQ(stream_.Write(two, 1, 2), 0u);
    EXPECT_EQ(stream_.Write(two, 2, 1), 0u);
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_EQ(stream_.Tell(), 0xFFFFFFFEu);
    EXPECT_FALSE(stream_.Seek(2, kSeekCurrent));
    EXPECT_EQ(FileSizeOf(path), 4096);  // nothing was grown for it
}

TEST_F(MappedFileStreamTest, LargeSequentialWriteReadsBackByteForByte) {
    // Pieces that do not divide the view unit, so that writes straddle unit boundaries.
    const auto data = Generated(3 * 1024 * 1024 + 12345, 9);
    const std::string path = dir_.File("large.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    WriteInPieces(data, 4099);
    EXPECT_EQ(stream_.Size(), data.size());
    // The file grows in whole units while it is written.
    EXPECT_EQ(FileSizeOf(path) % kUnit, 0);
    EXPECT_GE(FileSizeOf(path), static_cast<int64_t>(data.size()));
    stream_.Close();
    EXPECT_EQ(FileSizeOf(path), static_cast<int64_t>(data.size()));

    ASSERT_TRUE(stream_.OpenForRead(path));
    ASSERT_EQ(stream_.Size(), data.size());
    std::vector<uint8_t> back(data.size());
    for (size_t at = 0; at < back.size(); at += 7777) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(7777, back.size() - at));
        ASSERT_EQ(stream_.Read(back.data() + at, 1, n), n) << "at " << at;
    }
    EXPECT_TRUE(stream_.IsEof());
    EXPECT_TRUE(back == data);
}

TEST_F(MappedFileStreamTest, WrittenContentReadsBackThroughTheMapping) {
    const auto data = Generated(2 * kUnit + 999, 10);
    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("out.bin"), 4096));
    WriteInPieces(data, 65537);
    ASSERT_TRUE(stream_.Rewind());
    // One read over every unit, then reads that straddle one boundary each.
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(stream_.Read(back.data(), 1, static_cast<uint32_t>(back.size())), back.size());
    EXPECT_TRUE(back == data);
    ASSERT_TRUE(stream_.SeekTo(kUnit - 10));
    std::array<uint8_t, 20> piece{};
    ASSERT_EQ(stream_.Read(piece.data(), 1, 20), 20u);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), data.begin() + kUnit - 10));
    ASSERT_TRUE(stream_.SeekTo(2 * kUnit - 5));
    ASSERT_EQ(stream_.Read(piece.data(), 1, 20), 20u);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), data.begin() + 2 * kUnit - 5));
}

TEST_F(MappedFileStreamTest, OneWriteAcrossSeveralUnits) {
    const auto data = Generated(3 * kUnit + 17, 11);
    const std::string path = dir_.File("out.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    ASSERT_TRUE(stream_.WriteByte(0x5A));
    ASSERT_EQ(stream_.Write(data.data(), 1, static_cast<uint32_t>(data.size())), data.size());
    stream_.Close();
    const auto on_disk = ReadFileBytes(path);
    ASSERT_EQ(on_disk.size(), data.size() + 1);
    EXPECT_EQ(on_disk[0], 0x5A);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), on_disk.begin() + 1));
}

TEST_F(MappedFileStreamTest, WritingBeyondTheEndFillsTheGapWithZeros) {
    const std::string path = dir_.File("gap.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    const auto head = Generated(10, 12);
    ASSERT_EQ(stream_.Write(head.data(), 1, 10), 10u);
    const uint32_t far = kUnit + 100;
    ASSERT_TRUE(stream_.SeekTo(far));
    EXPECT_EQ(stream_.Size(), 10u);
    EXPECT_TRUE(stream_.IsPastEnd());
    uint8_t byte = 0;
    EXPECT_EQ(stream_.Read(&byte, 1, 1), 0u);
    const auto tail = Generated(5, 13);
    ASSERT_EQ(stream_.Write(tail.data(), 1, 5), 5u);
    EXPECT_EQ(stream_.Size(), far + 5);
    stream_.Close();

    const auto on_disk = ReadFileBytes(path);
    ASSERT_EQ(on_disk.size(), far + 5u);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), on_disk.begin()));
    EXPECT_TRUE(std::all_of(on_disk.begin() + 10, on_disk.begin() + far, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), on_disk.begin() + far));
}

TEST_F(MappedFileStreamTest, ReadCountsWholeElementsOnly) {
    const std::string path = MakeFile("ten.bin", Generated(10, 14));
    std::array<uint8_t, 12> buffer{};
    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_EQ(stream_.Read(buffer.data(), 4, 3), 2u);
    EXPECT_EQ(stream_.Tell(), 10u);
    stream_.Close();

    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("out.bin"), 4096));
    ASSERT_EQ(stream_.Write(buffer.data(), 1, 10), 10u);
    ASSERT_TRUE(stream_.Rewind());
    EXPECT_EQ(stream_.Read(buffer.data(), 4, 3), 2u);
    EXPECT_EQ(stream_.Tell(), 10u);
}

TEST_F(MappedFileStreamTest, SeekFollowsEachOriginAndRefusesNegativePositions) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("a.bin", Generated(100, 15))));
    ASSERT_TRUE(stream_.Seek(-4, kSeekEnd));
    EXPECT_EQ(stream_.Tell(), 96u);
    ASSERT_TRUE(stream_.Seek(-6, kSeekCurrent));
    EXPECT_EQ(stream_.Tell(), 90u);
    EXPECT_FALSE(stream_.Seek(-1, kSeekBegin));
    EXPECT_FALSE(stream_.Seek(-91, kSeekCurrent));
    EXPECT_FALSE(stream_.Seek(INT64_MIN, kSeekEnd));
    EXPECT_FALSE(stream_.Seek(0, 3));
    EXPECT_EQ(stream_.Tell(), 90u);
    EXPECT_EQ(stream_.MapOrigin(kSeekEnd), kSeekEnd);
    EXPECT_EQ(stream_.MapOrigin(-1), -1);
}

TEST_F(MappedFileStreamTest, ByteOperationsRewindAndSeekToEnd) {
    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("bytes.bin"), 4096));
    EXPECT_TRUE(stream_.WriteByte(0x00));
    EXPECT_TRUE(stream_.WriteByte(0xFF));
    EXPECT_TRUE(stream_.WriteByte(0x80));
    EXPECT_TRUE(stream_.Rewind());
    EXPECT_EQ(stream_.ReadByte(), 0x00);
    EXPECT_EQ(stream_.ReadByte(), 0xFF);
    EXPECT_EQ(stream_.ReadByte(), 0x80);
    EXPECT_EQ(stream_.ReadByte(), -1);
    EXPECT_TRUE(stream_.Rewind());
    EXPECT_TRUE(stream_.SeekToEnd());
    EXPECT_EQ(stream_.Tell(), 3u);
    EXPECT_TRUE(stream_.IsEof());
    EXPECT_FALSE(stream_.IsPastEnd());
}

TEST_F(MappedFileStreamTest, EveryOperationOnAClosedStreamFails) {
    ASSERT_TRUE(stream_.OpenForWrite(dir_.File("a.bin"), 4096));
    ASSERT_TRUE(stream_.WriteByte(1));
    stream_.Close();
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_FALSE(stream_.IsOpen());
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_EQ(stream_.Read(buffer, 1, 4), 0u);
    EXPECT_EQ(stream_.Write(buffer, 1, 4), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
    EXPECT_FALSE(stream_.WriteByte(1));
    EXPECT_FALSE(stream_.Seek(0, kSeekBegin));
    EXPECT_FALSE(stream_.SeekTo(0));
    EXPECT_FALSE(stream_.Rewind());
    EXPECT_FALSE(stream_.SeekToEnd());
    EXPECT_TRUE(stream_.IsPastEnd());
    stream_.Flush();
    stream_.Close();
    EXPECT_EQ(FileSizeOf(dir_.File("a.bin")), 1);
}

TEST_F(MappedFileStreamTest, DestroyingAnOpenStreamCutsItToItsContent) {
    const std::string path = dir_.File("out.bin");
    const auto data = Generated(kUnit + 3, 16);
    {
        VeMappedFileStream stream;
        ASSERT_TRUE(stream.OpenForWrite(path, 4096));
        ASSERT_EQ(stream.Write(data.data(), 1, static_cast<uint32_t>(data.size())), data.size());
    }
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST_F(MappedFileStreamTest, FailedGrowthFailsTheWriteAndKeepsTheStreamUsable) {
    const std::string path = dir_.File("full.bin");
    const auto data = Generated(kUnit, 17);
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    {
        // Stands in for a full disk: the file may not grow beyond two units.
        FileSizeLimit limit(2 * kUnit);
        ASSERT_TRUE(limit.Applied());
        ASSERT_EQ(stream_.Write(data.data(), 1, kUnit), kUnit);
        ASSERT_EQ(stream_.Write(data.data(), 1, 100), 100u);
        ASSERT_TRUE(stream_.SeekTo(2 * kUnit - 4));
        EXPECT_EQ(stream_.Write(data.data(), 1, 8), 0u);
        EXPECT_TRUE(stream_.IsOpen());
        EXPECT_EQ(stream_.Size(), kUnit + 100);
        ASSERT_TRUE(stream_.SeekTo(kUnit + 100));
        ASSERT_EQ(stream_.Write(data.data(), 1, 50), 50u);
    }
    ASSERT_TRUE(stream_.Rewind());
    std::vector<uint8_t> back(kUnit);
    ASSERT_EQ(stream_.Read(back.data(), 1, kUnit), kUnit);
    EXPECT_TRUE(back == data);
    stream_.Close();
    EXPECT_EQ(FileSizeOf(path), kUnit + 150);
}

TEST_F(MappedFileStreamTest, OverlappingAndLargeWritesReachTheFileOnClose) {
    const std::string path = dir_.File("mixed.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    std::vector<uint8_t> expected(2 * kUnit, 0);
    // Each write goes to position at; the model file takes the same bytes.
    auto write = [&](uint32_t at, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(stream_.SeekTo(at));
        ASSERT_EQ(stream_.Write(bytes.data(), 1, static_cast<uint32_t>(bytes.size())), bytes.size());
        std::copy(bytes.begin(), bytes.end(), expected.begin() + at);
    };
    write(0, Generated(1000, 20));
    write(500, Generated(1000, 21));           // overlaps and extends the bytes before it
    write(4, Generated(4, 22));                // inside them, as a header patch
    write(700, Generated(kUnit / 2, 23));      // large: straight to the file
    write(kUnit - 10, Generated(30, 24));      // across a unit boundary
    write(2 * kUnit - 100, Generated(100, 25));
    write(1200, Generated(16, 26));            // back into what went straight to the file
    EXPECT_EQ(stream_.Size(), 2 * kUnit);
    EXPECT_TRUE(stream_.Close());
    EXPECT_EQ(FileSizeOf(path), 2 * kUnit);
    EXPECT_TRUE(ReadFileBytes(path) == expected);
}

TEST_F(MappedFileStreamTest, ContentWrittenSurvivesCloseAndReopening) {
    const std::string path = dir_.File("small.bin");
    const auto data = Generated(10000, 27);
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    WriteInPieces(data, 7);
    stream_.Close();
    ASSERT_TRUE(stream_.OpenForRead(path));
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(stream_.Read(back.data(), 1, static_cast<uint32_t>(back.size())), back.size());
    EXPECT_TRUE(back == data);
}

TEST_F(MappedFileStreamTest, FullDiskWhenWrittenBytesGoOutFailsTheWrite) {
    const std::string path = dir_.File("late.bin");
    const auto tail = Generated(10, 28);
    const auto head = Generated(10, 29);
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    ASSERT_TRUE(stream_.SeekTo(3 * kUnit));
    ASSERT_EQ(stream_.Write(tail.data(), 1, 10), 10u);  // room for four units is reserved
    ASSERT_TRUE(stream_.SeekTo(0));
    {
        // The bytes at the fourth unit can no longer be written out.
        FileSizeLimit limit(2 * kUnit);
        ASSERT_TRUE(limit.Applied());
        EXPECT_EQ(stream_.Write(head.data(), 1, 10), 0u);
        EXPECT_EQ(stream_.Size(), 3 * kUnit + 10);
        uint8_t byte = 0;
        EXPECT_EQ(stream_.Read(&byte, 1, 1), 0u);
        EXPECT_TRUE(stream_.IsOpen());
    }
    // Nothing written was lost: with room again both pieces reach the file.
    ASSERT_EQ(stream_.Write(head.data(), 1, 10), 10u);
    stream_.Close();
    const auto on_disk = ReadFileBytes(path);
    ASSERT_EQ(on_disk.size(), 3 * kUnit + 10);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), on_disk.begin()));
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), on_disk.begin() + 3 * kUnit));
}

TEST_F(MappedFileStreamTest, FullDiskAtCloseLeavesTheFileShortOfItsContent) {
    const std::string path = dir_.File("short.bin");
    const auto data = Generated(10, 30);
    ASSERT_TRUE(stream_.OpenForWrite(path, 4096));
    ASSERT_TRUE(stream_.SeekTo(3 * kUnit));
    ASSERT_EQ(stream_.Write(data.data(), 1, 10), 10u);
    {
        FileSizeLimit limit(2 * kUnit);
        ASSERT_TRUE(limit.Applied());
        EXPECT_FALSE(stream_.Close());
    }
    // The file ends where the bytes that arrived end.
    EXPECT_LT(FileSizeOf(path), 3 * kUnit + 10);
    EXPECT_FALSE(stream_.IsOpen());
}

}  // namespace
}  // namespace chm
