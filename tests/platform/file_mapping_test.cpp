#include "platform/file_mapping.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "platform/unique_fd.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

TEST(FileMappingTest, GranularityIsAMultipleOfThePageSize) {
    EXPECT_EQ(kAllocationGranularity, 65536u);
    EXPECT_EQ(kAllocationGranularity % static_cast<uint32_t>(::sysconf(_SC_PAGESIZE)), 0u);
}

TEST(FileMappingTest, ExtendedFileReadsAsZerosAndKeepsWrites) {
    test::ScratchDir dir;
    const std::string path = dir.File("data");
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT, 0644));
    ASSERT_TRUE(fd.IsValid());
    ASSERT_TRUE(ExtendFile(fd.Get(), 2 * kAllocationGranularity));
    EXPECT_EQ(FileSize(fd.Get()), 2 * kAllocationGranularity);
    {
        MappedView view = MappedView::Map(fd.Get(), kAllocationGranularity, kAllocationGranularity, true);
        ASSERT_TRUE(view.IsMapped());
        auto* bytes = static_cast<unsigned char*>(view.Address());
        EXPECT_EQ(bytes[100], 0);
        bytes[0] = 0xAB;
    }
    EXPECT_EQ(test::ReadFileBytes(path)[kAllocationGranularity], 0xAB);
    EXPECT_TRUE(ExtendFile(fd.Get(), 10));  // never shrinks
    EXPECT_EQ(FileSize(fd.Get()), 2 * kAllocationGranularity);
}

TEST(FileMappingTest, UnalignedOffsetIsRefused) {
    test::ScratchDir dir;
    const std::string path = dir.File("data");
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT, 0644));
    ASSERT_TRUE(ExtendFile(fd.Get(), 2 * kAllocationGranularity));
    EXPECT_FALSE(MappedView::Map(fd.Get(), 4096, 4096, true).IsMapped());
    EXPECT_FALSE(MappedView::Map(fd.Get(), 0, 0, true).IsMapped());
}

TEST(TempFilesTest, ReservationIsExclusive) {
    test::ScratchDir dir;
    const std::string path = dir.File("name");
    EXPECT_TRUE(ReserveNewFile(path));
    EXPECT_FALSE(ReserveNewFile(path));
    EXPECT_TRUE(IsRegularFile(path));
}

TEST(TempFilesTest, TemporaryFolderFollowsTmpdir) {
    EXPECT_TRUE(IsDirectory(TempDirectoryPath()));
    EXPECT_NE(TempDirectoryPath().back(), '/');
}

}  // namespace
}  // namespace chm
