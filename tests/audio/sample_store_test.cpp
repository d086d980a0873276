#include "audio/sample_store.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/file_system.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

// Every test of a store checks that its temporary files go with it.
class SampleStoreTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(test::TempEntries().empty()); }
};

TEST_F(SampleStoreTest, PageArithmeticAtThePageBoundary) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(kPage + 1));
    EXPECT_EQ(kPage, 262144u);
    EXPECT_EQ(store.PageCount(), 2u);
    EXPECT_EQ(store.PageLength(0), kPage);
    EXPECT_EQ(store.PageLength(1), 1u);
    EXPECT_EQ(store.PageLength(2), 0u);
    EXPECT_EQ(store.PageLength(-1), 0u);
    EXPECT_NE(store.MapPage(1), nullptr);
    EXPECT_EQ(store.MapPage(2), nullptr);
    EXPECT_EQ(store.MapPage(-1), nullptr);
}

TEST_F(SampleStoreTest, ExactlyOnePageIsOneFullPage) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(kPage));
    EXPECT_EQ(store.PageCount(), 1u);
    EXPECT_EQ(store.PageLength(0), kPage);
    EXPECT_EQ(store.MapPage(1), nullptr);
}

TEST_F(SampleStoreTest, CreateMakesZeroSamplesInAnExistingFile) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(1000));
    EXPECT_TRUE(store.IsOpen());
    EXPECT_TRUE(IsRegularFile(store.Path()));
    EXPECT_EQ(test::FileSizeOf(store.Path()), 4000);
    const float* samples = store.MapPage(0);
    ASSERT_NE(samples, nullptr);
    for (uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(samples[i], 0.0f);
}

TEST_F(SampleStoreTest, CreateRefusesZeroAndAnOpenStore) {
    VeSampleStore store;
    EXPECT_FALSE(store.Create(0));
    EXPECT_FALSE(store.IsOpen());
    ASSERT_TRUE(store.Create(10));
    EXPECT_FALSE(store.Create(10));
    EXPECT_EQ(store.Count(), 10u);
}

TEST_F(SampleStoreTest, CloseDeletesTheTemporaryFile) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(10));
    const std::string path = store.Path();
    store.Close();
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(store.Count(), 0u);
    EXPECT_EQ(store.MapPage(0), nullptr);
    store.Close();  // twice is harmless
}

TEST_F(SampleStoreTest, CloseAfterTheFileVanishedIsSilent) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(10));
    ASSERT_TRUE(RemoveFile(store.Path()));
    store.Close();
    EXPECT_FALSE(store.IsOpen());
}

TEST_F(SampleStoreTest, MapPageWithAByteLimit) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(kPage + 1));
    float* last = store.MapPage(1, 100);  // limited to the page's 4 bytes
    ASSERT_NE(last, nullptr);
    last[0] = 0.25f;
    EXPECT_EQ(store.MapPage(1)[0], 0.25f);
}

TEST_F(SampleStoreTest, WriteAtSpansPagesAndCopyFromDuplicates) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(3 * kPage + 17));
    std::vector<float> ramp(kPage + 40);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<float>(i) / ramp.size();
    ASSERT_TRUE(store.WriteAt(kPage - 20, ramp.data(), static_cast<uint32_t>(ramp.size())));
    EXPECT_FALSE(store.WriteAt(3 * kPage + 10, ramp.data(), 8));  // would pass the end

    VeSampleStore copy;
    ASSERT_TRUE(copy.CopyFrom(store));
    EXPECT_NE(copy.Path(), store.Path());
    ASSERT_EQ(copy.Count(), store.Count());
    for (uint32_t page = 0; page < copy.PageCount(); ++page) {
        const float* a = store.MapPage(page);
        const float* b = copy.MapPage(page);  // two stores hold a view at once
        ASSERT_TRUE(a && b);
        for (uint32_t k = 0; k < copy.PageLength(page); ++k) {
            const uint64_t index = uint64_t{page} * kPage + k;
            const float expected =
                index >= kPage - 20 && index < kPage - 20 + ramp.size() ? ramp[index - (kPage - 20)] : 0.0f;
            ASSERT_EQ(b[k], expected) << "sample " << index;
            ASSERT_EQ(a[k], b[k]);
        }
    }
}

TEST_F(SampleStoreTest, CopyFromAnEmptyStoreGivesAnEmptyStore) {
    VeSampleStore empty;
    VeSampleStore target;
    ASSERT_TRUE(target.Create(5));
    EXPECT_TRUE(target.CopyFrom(empty));
    EXPECT_FALSE(target.IsOpen());
    EXPECT_EQ(target.Count(), 0u);
}

TEST_F(SampleStoreTest, CreateFailsCleanlyWithoutATemporaryFolder) {
    test::ScratchDir dir;
    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "";
    ::setenv("TMPDIR", dir.File("missing").c_str(), 1);
    VeSampleStore store;
    EXPECT_FALSE(store.Create(10));
    EXPECT_FALSE(store.IsOpen());
    ::setenv("TMPDIR", restore.c_str(), 1);
}

TEST_F(SampleStoreTest, MovedStoreKeepsItsFile) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(10));
    store.MapPage(0)[3] = 0.5f;
    VeSampleStore moved = std::move(store);
    EXPECT_FALSE(store.IsOpen());  // NOLINT: the moved-from state is part of the contract
    EXPECT_EQ(store.Count(), 0u);
    ASSERT_TRUE(moved.IsOpen());
    EXPECT_EQ(moved.MapPage(0)[3], 0.5f);
}

}  // namespace
}  // namespace chm
