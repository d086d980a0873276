// The shared operations of the byte stream interface, the file stream and the memory stream.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/file_stream.h"
#include "audio/memory_stream.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::FileSizeOf;
using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

std::vector<uint8_t> Generated(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

int OpenFdCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

// ---------------------------------------------------------------------------------------------

class FileStreamTest : public ::testing::Test {
protected:
    std::string MakeFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_.File(name);
        WriteFileBytes(path, bytes);
        return path;
    }

    ScratchDir dir_;
    VeFileStream stream_;
};

TEST_F(FileStreamTest, WrittenBytesReadBackWithTheirSize) {
    const auto data = Generated(5000, 1);
    const std::string path = dir_.File("out.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path));
    EXPECT_EQ(stream_.Write(data.data(), 1, 5000), 5000u);
    EXPECT_EQ(stream_.Size(), 5000u);
    EXPECT_EQ(stream_.Tell(), 5000u);
    stream_.Close();
    EXPECT_EQ(ReadFileBytes(path), data);

    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_EQ(stream_.Size(), 5000u);
    std::vector<uint8_t> back(5000);
    EXPECT_EQ(stream_.Read(back.data(), 100, 50), 50u);
    EXPECT_EQ(back, data);
    EXPECT_TRUE(stream_.IsEof());
}

TEST_F(FileStreamTest, SeekToNegativeAbsolutePositionFails) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("a.bin", Generated(100, 2))));
    ASSERT_TRUE(stream_.Seek(40, kSeekBegin));
    EXPECT_FALSE(stream_.Seek(-1, kSeekBegin));
    EXPECT_FALSE(stream_.Seek(-41, kSeekCurrent));
    EXPECT_FALSE(stream_.Seek(-101, kSeekEnd));
    EXPECT_EQ(stream_.Tell(), 40u);
}

TEST_F(FileStreamTest, SeekFollowsEachOrigin) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("a.bin", Generated(100, 3))));
    ASSERT_TRUE(stream_.Seek(-4, kSeekEnd));
    EXPECT_EQ(stream_.Tell(), 96u);
    ASSERT_TRUE(stream_.Seek(-6, kSeekCurrent));
    EXPECT_EQ(stream_.Tell(), 90u);
    ASSERT_TRUE(stream_.SeekTo(7));
    EXPECT_EQ(stream_.Tell(), 7u);
    EXPECT_FALSE(stream_.Seek(0, 3));
    EXPECT_EQ(stream_.Tell(), 7u);
}

TEST_F(FileStreamTest, MapsOriginsToLseek) {
    EXPECT_EQ(stream_.MapOrigin(kSeekBegin), SEEK_SET);
    EXPECT_EQ(stream_.MapOrigin(kSeekCurrent), SEEK_CUR);
    EXPECT_EQ(stream_.MapOrigin(kSeekEnd), SEEK_END);
    EXPECT_EQ(stream_.MapOrigin(3), -1);
}

TEST_F(FileStreamTest, ReadCountsWholeElementsOnly) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("ten.bin", Generated(10, 4))));
    std::array<uint8_t, 12> buffer{};
    EXPECT_EQ(stream_.Read(buffer.data(), 4, 3), 2u);
    EXPECT_EQ(stream_.Tell(), 10u);
}

TEST_F(FileStreamTest, ReadAtEndReturnsZero) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("a.bin", Generated(10, 5))));
    ASSERT_TRUE(stream_.SeekToEnd());
    uint8_t byte = 0;
    EXPECT_EQ(stream_.Read(&byte, 1, 1), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
}

TEST_F(FileStreamTest, FolderMissingFileAndEmptyPathFailToOpen) {
    EXPECT_FALSE(stream_.OpenForRead(dir_.Path()));
    EXPECT_FALSE(stream_.OpenForRead(dir_.File("missing.bin")));
    EXPECT_FALSE(stream_.OpenForRead(""));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.Path()));
    EXPECT_FALSE(stream_.OpenForWrite(""));
    EXPECT_FALSE(stream_.IsOpen());
}

TEST_F(FileStreamTest, ReadOnlyFileOpensForReading) {
    const auto data = Generated(300, 6);
    const std::string path = MakeFile("ro.bin", data);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_TRUE(stream_.OpenForRead(path));
    std::vector<uint8_t> back(300);
    EXPECT_EQ(stream_.Read(back.data(), 1, 300), 300u);
    EXPECT_EQ(back, data);
}

TEST_F(FileStreamTest, WriteOnReadOpenedStreamFails) {
    const auto data = Generated(20, 7);
    const std::string path = MakeFile("a.bin", data);
    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_EQ(stream_.Write(data.data(), 1, 20), 0u);
    EXPECT_FALSE(stream_.WriteByte(1));
    stream_.Close();
    EXPECT_EQ(ReadFileBytes(path), data);
}

TEST_F(FileStreamTest, OpenOnAnOpenStreamFails) {
    const std::string path = MakeFile("a.bin", Generated(20, 8));
    ASSERT_TRUE(stream_.OpenForRead(path));
    EXPECT_FALSE(stream_.OpenForRead(path));
    EXPECT_FALSE(stream_.OpenForWrite(dir_.File("b.bin")));
    EXPECT_EQ(FileSizeOf(dir_.File("b.bin")), -1);
}

TEST_F(FileStreamTest, OpenForWriteEmptiesAnExistingFile) {
    const std::string path = MakeFile("a.bin", Generated(2000, 9));
    ASSERT_TRUE(stream_.OpenForWrite(path));
    EXPECT_EQ(stream_.Size(), 0u);
    stream_.Close();
    EXPECT_EQ(FileSizeOf(path), 0);
}

TEST_F(FileStreamTest, ByteOperationsRewindAndSeekToEnd) {
    const std::string path = dir_.File("bytes.bin");
    ASSERT_TRUE(stream_.OpenForWrite(path));
    EXPECT_TRUE(stream_.WriteByte(0x11));
    EXPECT_TRUE(stream_.WriteByte(0xFE));
    EXPECT_TRUE(stream_.Rewind());
    EXPECT_EQ(stream_.ReadByte(), 0x11);
    EXPECT_EQ(stream_.ReadByte(), 0xFE);
    EXPECT_EQ(stream_.ReadByte(), -1);
    EXPECT_TRUE(stream_.Rewind());
    EXPECT_TRUE(stream_.SeekToEnd());
    EXPECT_EQ(stream_.Tell(), 2u);
    EXPECT_TRUE(stream_.IsEof());
    EXPECT_FALSE(stream_.IsPastEnd());
}

TEST_F(FileStreamTest, SeekBeyondEndIsPastEnd) {
    ASSERT_TRUE(stream_.OpenForRead(MakeFile("a.bin", Generated(10, 10))));
    ASSERT_TRUE(stream_.SeekTo(11));
    EXPECT_TRUE(stream_.IsPastEnd());
    EXPECT_TRUE(stream_.IsEof());
}

TEST_F(FileStreamTest, EveryOperationOnAClosedStreamFails) {
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
    // A closed stream is past its end, so that read loops stop.
    EXPECT_TRUE(stream_.IsPastEnd());
    EXPECT_TRUE(stream_.IsEof());
    stream_.Flush();
    stream_.Close();
    EXPECT_FALSE(stream_.IsOpen());
}

TEST_F(FileStreamTest, DestroyingAnOpenStreamClosesItsFile) {
    const std::string path = MakeFile("a.bin", Generated(10, 11));
    const int before = OpenFdCount();
    {
        VeFileStream stream;
        ASSERT_TRUE(stream.OpenForRead(path));
        EXPECT_EQ(OpenFdCount(), before + 1);
    }
    EXPECT_EQ(OpenFdCount(), before);
}

// ---------------------------------------------------------------------------------------------

class MemoryStreamTest : public ::testing::Test {
protected:
    // 10 bytes attached, guarded on both sides to show that nothing outside is touched.
    void SetUp() override {
        memory_.fill(0xAA);
        for (int i = 0; i < 10; ++i) memory_[4 + i] = static_cast<uint8_t>(i);
        ASSERT_TRUE(stream_.Attach(memory_.data() + 4, 10, 0));
    }

    std::array<uint8_t, 18> memory_{};
    VeMemoryStream stream_;
};

TEST_F(MemoryStreamTest, AttachFailsOnNullAddressZeroSizeOrOpenStream) {
    VeMemoryStream other;
    uint8_t block[4] = {};
    EXPECT_FALSE(other.Attach(nullptr, 4, 0));
    EXPECT_FALSE(other.Attach(block, 0, 0));
    EXPECT_FALSE(other.IsOpen());
    EXPECT_FALSE(stream_.Attach(block, 4, 0));
    EXPECT_FALSE(stream_.AttachOwned(std::vector<uint8_t>(4)));
    EXPECT_EQ(stream_.Size(), 10u);
}

TEST_F(MemoryStreamTest, CheckFlagsAreAcceptedWithoutProbing) {
    VeMemoryStream other;
    uint8_t block[4] = {};
    EXPECT_TRUE(other.Attach(block, 4, VeMemoryStream::kCheckRead | VeMemoryStream::kCheckWrite));
    EXPECT_TRUE(other.IsOpen());
    EXPECT_TRUE(other.HasCallerBlock());
    EXPECT_FALSE(other.HasOwnedBuffer());
    EXPECT_EQ(other.OwnedBuffer(), nullptr);
}

TEST_F(MemoryStreamTest, ReadIsClippedAtTheEnd) {
    ASSERT_TRUE(stream_.SeekTo(6));
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(stream_.Read(buffer.data(), 1, 8), 4u);
    EXPECT_EQ(buffer[0], 6);
    EXPECT_EQ(buffer[3], 9);
    EXPECT_EQ(buffer[4], 0);
    EXPECT_EQ(stream_.Tell(), 10u);
    EXPECT_TRUE(stream_.IsEof());
    EXPECT_EQ(stream_.Read(buffer.data(), 1, 1), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
}

TEST_F(MemoryStreamTest, ReadCountsWholeElementsOnly) {
    std::array<uint8_t, 12> buffer{};
    EXPECT_EQ(stream_.Read(buffer.data(), 4, 3), 2u);
    EXPECT_EQ(stream_.Tell(), 10u);
    EXPECT_EQ(buffer[9], 9);
}

TEST_F(MemoryStreamTest, WriteIsClippedAndTheBlockNeverGrows) {
    ASSERT_TRUE(stream_.SeekTo(7));
    const std::array<uint8_t, 6> data = {0x51, 0x52, 0x53, 0x54, 0x55, 0x56};
    EXPECT_EQ(stream_.Write(data.data(), 1, 6), 3u);
    EXPECT_EQ(stream_.Size(), 10u);
    EXPECT_EQ(memory_[4 + 7], 0x51);
    EXPECT_EQ(memory_[4 + 9], 0x53);
    EXPECT_EQ(memory_[4 + 10], 0xAA);
    EXPECT_EQ(memory_[3], 0xAA);
    EXPECT_FALSE(stream_.WriteByte(1));
    EXPECT_EQ(memory_[4 + 10], 0xAA);
}

TEST_F(MemoryStreamTest, SeekOnlyInsideTheBlock) {
    EXPECT_TRUE(stream_.SeekTo(9));
    EXPECT_FALSE(stream_.SeekTo(10));
    EXPECT_EQ(stream_.Tell(), 9u);
    EXPECT_FALSE(stream_.SeekToEnd());
    EXPECT_FALSE(stream_.Seek(-1, kSeekBegin));
    EXPECT_TRUE(stream_.Seek(-1, kSeekEnd));
    EXPECT_EQ(stream_.Tell(), 9u);
    EXPECT_TRUE(stream_.Seek(-9, kSeekCurrent));
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_FALSE(stream_.Seek(-1, kSeekCurrent));
    EXPECT_FALSE(stream_.Seek(INT64_MAX, kSeekCurrent));
    EXPECT_FALSE(stream_.Seek(0, 5));
    EXPECT_EQ(stream_.Tell(), 0u);
}

TEST_F(MemoryStreamTest, ByteOperationsAndRewind) {
    EXPECT_EQ(stream_.ReadByte(), 0);
    EXPECT_EQ(stream_.ReadByte(), 1);
    EXPECT_TRUE(stream_.WriteByte(0x77));
    EXPECT_EQ(memory_[4 + 2], 0x77);
    EXPECT_TRUE(stream_.Rewind());
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_EQ(stream_.ReadByte(), 0);
}

TEST_F(MemoryStreamTest, OwnedBufferIsReadWrittenAndReleased) {
    VeMemoryStream owned;
    EXPECT_FALSE(owned.AttachOwned({}));
    ASSERT_TRUE(owned.AttachOwned(std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(owned.HasOwnedBuffer());
    EXPECT_FALSE(owned.HasCallerBlock());
    EXPECT_EQ(owned.Size(), 5u);
    ASSERT_TRUE(owned.SeekTo(3));
    const uint8_t data[3] = {9, 9, 9};
    EXPECT_EQ(owned.Write(data, 1, 3), 2u);
    ASSERT_NE(owned.OwnedBuffer(), nullptr);
    EXPECT_EQ(*owned.OwnedBuffer(), (std::vector<uint8_t>{1, 2, 3, 9, 9}));
    owned.Close();
    EXPECT_FALSE(owned.IsOpen());
    EXPECT_FALSE(owned.HasOwnedBuffer());
    EXPECT_EQ(owned.OwnedBuffer(), nullptr);
    EXPECT_EQ(owned.Size(), 0u);
}

TEST_F(MemoryStreamTest, EveryOperationOnAClosedStreamFails) {
    stream_.Close();
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_FALSE(stream_.IsOpen());
    EXPECT_FALSE(stream_.HasCallerBlock());
    EXPECT_EQ(stream_.Size(), 0u);
    EXPECT_EQ(stream_.Tell(), 0u);
    EXPECT_EQ(stream_.Read(buffer, 1, 4), 0u);
    EXPECT_EQ(stream_.Write(buffer, 1, 4), 0u);
    EXPECT_EQ(stream_.ReadByte(), -1);
    EXPECT_FALSE(stream_.WriteByte(1));
    EXPECT_FALSE(stream_.SeekTo(0));
    EXPECT_FALSE(stream_.Rewind());
    EXPECT_FALSE(stream_.SeekToEnd());
    EXPECT_TRUE(stream_.IsPastEnd());
    EXPECT_EQ(memory_[4], 0);
}

}  // namespace
}  // namespace chm
