// The stream that TagLib edits a file through: every change is seen by later reads and by the
// file it writes, and the original file is never touched.
#include "audio/edited_file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::ReadFileBytes;
using test::ScratchDir;
using test::WriteFileBytes;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

TagLib::ByteVector Vector(const std::vector<uint8_t>& bytes) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
}

std::vector<uint8_t> Bytes(const TagLib::ByteVector& vector) {
    return std::vector<uint8_t>(vector.begin(), vector.end());
}

class EditedFileStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        original_ = Pattern(300000, 1);
        WriteFileBytes(dir_.File("original"), original_);
        fd_.Reset(::open(dir_.File("original").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_TRUE(fd_.IsValid());
    }

    // The changed file as WriteTo makes it.
    std::vector<uint8_t> Written(const EditedFileStream& stream) {
        UniqueFd out(::open(dir_.File("written").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        EXPECT_TRUE(stream.WriteTo(out.Get()));
        return ReadFileBytes(dir_.File("written"));
    }

    ScratchDir dir_;
    std::vector<uint8_t> original_;
    UniqueFd fd_;
};

// Changes of every kind at places that split earlier changes, each mirrored on a plain copy in
// memory: the stream reads like the copy after every step and writes the copy at the end.
TEST_F(EditedFileStreamTest, EveryChangeReadsAndWritesAsOnACopyInMemory) {
    EditedFileStream stream(fd_.Get(), static_cast<int64_t>(original_.size()), "original");
    std::vector<uint8_t> model = original_;
    uint32_t seed = 7;
    auto next = [&seed](size_t bound) {
        seed = seed * 1103515245u + 12345u;
        return bound == 0 ? size_t{0} : static_cast<size_t>(seed >> 8) % bound;
    };
    for (int step = 0; step < 300; ++step) {
        const size_t at = next(model.size() + 1);
        const size_t span = std::min(next(5000), model.size() - at);
        const auto data = Pattern(next(3000), static_cast<uint32_t>(step));
        switch (step % 4) {
            case 0:
                stream.insert(Vector(data), at, span);
                model.erase(model.begin() + at, model.begin() + at + span);
                model.insert(model.begin() + at, data.begin(), data.end());
                break;
            case 1: {
                stream.seek(static_cast<long>(at));
                stream.writeBlock(Vector(data));
                const size_t over = std::min(data.size(), model.size() - at);
                std::copy(data.begin(), data.begin() + over, model.begin() + at);
                model.insert(model.end(), data.begin() + over, data.end());
                break;
            }
            case 2:
                stream.removeBlock(at, span);
                model.erase(model.begin() + at, model.begin() + at + span);
                break;
            case 3:
                if (step % 40 == 3) {
                    stream.truncate(static_cast<long>(model.size() - span));
                    model.resize(model.size() - span);
                }
                break;
        }
        ASSERT_EQ(stream.length(), static_cast<long>(model.size())) << "step " << step;
        const size_t from = next(model.size() + 1);
        stream.seek(static_cast<long>(from));
        const size_t want = next(20000);
        const auto read = Bytes(stream.readBlock(want));
        const size_t got = std::min(want, model.size() - from);
        ASSERT_EQ(read.size(), got) << "step " << step;
        ASSERT_TRUE(std::equal(read.begin(), read.end(), model.begin() + from)) << "step " << step;
    }
    EXPECT_LT(stream.ChangedBytes(), 300 * 3000);
    EXPECT_TRUE(Written(stream) == model);
    EXPECT_TRUE(ReadFileBytes(dir_.File("original")) == original_);
}

TEST_F(EditedFileStreamTest, SeekFollowsEachOriginAndReadsStopAtTheEnd) {
    EditedFileStream stream(fd_.Get(), static_cast<int64_t>(original_.size()), "original");
    stream.seek(-10, TagLib::IOStream::End);
    EXPECT_EQ(stream.tell(), static_cast<long>(original_.size()) - 10);
    EXPECT_EQ(stream.readBlock(100).size(), 10u);
    EXPECT_TRUE(stream.readBlock(1).isEmpty());
    stream.seek(-5, TagLib::IOStream::Current);
    EXPECT_EQ(stream.tell(), static_cast<long>(original_.size()) - 5);
    stream.seek(-1, TagLib::IOStream::Beginning);  // refused: the position stays
    EXPECT_EQ(stream.tell(), static_cast<long>(original_.size()) - 5);
    EXPECT_TRUE(Written(stream) == original_);
}

// Changes that would need bytes nobody wrote, and an original that changed under the stream,
// are never written out as if they were the file.
TEST_F(EditedFileStreamTest, ChangesThatCannotBeMadeRefuseToBeWritten) {
    {
        EditedFileStream stream(fd_.Get(), static_cast<int64_t>(original_.size()), "original");
        stream.insert(Vector(Pattern(10, 2)), original_.size() + 1, 0);
        UniqueFd out(::open(dir_.File("gap").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        EXPECT_FALSE(stream.WriteTo(out.Get()));
    }
    {
        EditedFileStream stream(fd_.Get(), static_cast<int64_t>(original_.size()), "original");
        stream.truncate(static_cast<long>(original_.size()) + 1);
        UniqueFd out(::open(dir_.File("grown").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        EXPECT_FALSE(stream.WriteTo(out.Get()));
    }
    {
        EditedFileStream stream(fd_.Get(), static_cast<int64_t>(original_.size()), "original");
        ASSERT_EQ(::truncate(dir_.File("original").c_str(), 1000), 0);
        UniqueFd out(::open(dir_.File("shrunk").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        EXPECT_FALSE(stream.WriteTo(out.Get()));
    }
}

}  // namespace
}  // namespace chm
