#include "audio/mapped_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/test_files.h"

namespace chm {
namespace {

TEST(MappedFileTest, MappingGrowsTheFileAndViewsMustBeAligned) {
    test::ScratchDir dir;
    VeMappedFile file;
    ASSERT_TRUE(file.CreateAlways(dir.File("f")));
    ASSERT_TRUE(file.CreateMapping(3 * kAllocationGranularity));
    EXPECT_EQ(test::FileSizeOf(dir.File("f")), 3 * kAllocationGranularity);
    EXPECT_FALSE(file.CreateMapping(10));  // one mapping at a time
    EXPECT_EQ(file.MapView(100, 0), nullptr);
    void* view = file.MapView(kAllocationGranularity, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(file.ViewSize(), 2u * kAllocationGranularity);  // size 0 runs to the end
    EXPECT_EQ(file.MapView(0, 10), nullptr);                    // one view at a time
    std::memset(view, 7, 10);
    ASSERT_NE(file.Remap(0, 10), nullptr);
    EXPECT_TRUE(file.ViewCovers(0, 10));
    EXPECT_FALSE(file.ViewCovers(5, 10));
    file.Close();
    EXPECT_EQ(test::ReadFileBytes(dir.File("f"))[kAllocationGranularity], 7);
}

TEST(MappedFileTest, ResizeKeepsContentAndGrows) {
    test::ScratchDir dir;
    VeMappedFile file;
    ASSERT_TRUE(file.CreateAlways(dir.File("f")));
    ASSERT_TRUE(file.CreateMapping(100));
    static_cast<char*>(file.MapView(0, 0))[99] = 'z';
    ASSERT_TRUE(file.ResizeMapping(2 * kAllocationGranularity));
    EXPECT_EQ(file.ViewAddress(), nullptr);
    EXPECT_EQ(static_cast<char*>(file.MapView(0, 0))[99], 'z');
    EXPECT_EQ(file.MappingSize(), 2u * kAllocationGranularity);
}

TEST(MappedFileTest, ReadOnlyFileMapsItsOwnSizeOnly) {
    test::ScratchDir dir;
    test::WriteTextFile(dir.File("r"), "hello");
    VeMappedFile file;
    ASSERT_TRUE(file.OpenExisting(dir.File("r"), false));
    EXPECT_FALSE(file.CreateMapping(100));
    ASSERT_TRUE(file.CreateMapping(0));
    EXPECT_EQ(file.MappingSize(), 5u);
    const char* view = static_cast<const char*>(file.MapView(0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, 5), "hello");
}

}  // namespace
}  // namespace chm
