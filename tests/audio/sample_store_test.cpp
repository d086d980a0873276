#include "audio/sample_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/file_system.h"
#include "platform/temp_files.h"
#include "platform/unnamed_file.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/test_files.h"

namespace chm {
namespace {

using test::FileSizeLimit;

constexpr uint32_t kPage = VeSampleStore::kSamplesPerPage;

// The samples [first, first + n) as the store's file holds them, whatever page is in use.
std::vector<float> SamplesOnDisk(const VeSampleStore& store, uint32_t first, uint32_t n) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(store.Path());
    std::vector<float> samples(n);
    if (bytes.size() >= (size_t{first} + n) * sizeof(float))
        std::memcpy(samples.data(), bytes.data() + size_t{first} * sizeof(float), size_t{n} * sizeof(float));
    return samples;
}

// Fills the page in use with value + k / n for sample k.
void FillPage(float* samples, uint32_t n, float value) {
    for (uint32_t k = 0; k < n; ++k) samples[k] = value + static_cast<float>(k) / static_cast<float>(n);
}

bool PageHolds(const float* samples, uint32_t n, float value) {
    for (uint32_t k = 0; k < n; ++k)
        if (samples[k] != value + static_cast<float>(k) / static_cast<float>(n)) return false;
    return true;
}

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

// Where the temporary folder cannot hold files without a name, a store has a "~Ve" name.
TEST_F(SampleStoreTest, CloseAfterTheFileVanishedIsSilent) {
    AllowUnnamedFiles(false);
    VeSampleStore store;
    const bool created = store.Create(10);
    AllowUnnamedFiles(true);
    ASSERT_TRUE(created);
    EXPECT_EQ(test::TempEntries().size(), 1u);
    EXPECT_EQ(std::filesystem::path(store.Path()).filename().string().rfind("~Ve", 0), 0u) << store.Path();
    ASSERT_TRUE(RemoveFile(store.Path()));
    store.Close();
    EXPECT_FALSE(store.IsOpen());
}

// A store's file has no name: the process ending, killed or not, leaves nothing in the folder.
TEST_F(SampleStoreTest, StoreFileHasNoNameInTheTemporaryFolder) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(10));
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(TempDirectoryPath(), ec));
    EXPECT_EQ(test::TempEntries().size(), 1u);  // held open, by its descriptor
    store.Close();
    EXPECT_TRUE(test::TempEntries().empty());
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

TEST_F(SampleStoreTest, WrittenPageReachesTheFileWhenAnotherPageIsTaken) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(2 * kPage + 5));
    float* first = store.MapPage(0);
    ASSERT_NE(first, nullptr);
    FillPage(first, kPage, 1.0f);
    float* last = store.MapPage(2);
    ASSERT_NE(last, nullptr);
    FillPage(last, 5, 3.0f);
    ASSERT_NE(store.MapPage(1, 0, PageAccess::kRead), nullptr);

    const std::vector<float> on_disk = SamplesOnDisk(store, 0, kPage);
    EXPECT_TRUE(PageHolds(on_disk.data(), kPage, 1.0f));
    EXPECT_TRUE(PageHolds(SamplesOnDisk(store, 2 * kPage, 5).data(), 5, 3.0f));
    EXPECT_TRUE(PageHolds(store.MapPage(0, 0, PageAccess::kRead), kPage, 1.0f));
    EXPECT_TRUE(PageHolds(store.MapPage(2), 5, 3.0f));
}

TEST_F(SampleStoreTest, CopyFromTakesTheSourcesUnwrittenPage) {
    VeSampleStore source;
    ASSERT_TRUE(source.Create(kPage + 100));
    FillPage(source.MapPage(0), kPage, 2.0f);
    FillPage(source.MapPage(1), 100, 4.0f);  // still only in the page in use

    VeSampleStore copy;
    ASSERT_TRUE(copy.CopyFrom(source));
    EXPECT_TRUE(PageHolds(copy.MapPage(1, 0, PageAccess::kRead), 100, 4.0f));
    EXPECT_TRUE(PageHolds(copy.MapPage(0, 0, PageAccess::kRead), kPage, 2.0f));
    EXPECT_TRUE(PageHolds(SamplesOnDisk(copy, kPage, 100).data(), 100, 4.0f));
    EXPECT_TRUE(PageHolds(source.MapPage(1), 100, 4.0f));
}

TEST_F(SampleStoreTest, MovedStoreKeepsItsUnwrittenPage) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(kPage + 10));
    FillPage(store.MapPage(1), 10, 5.0f);
    VeSampleStore moved(std::move(store));
    ASSERT_NE(moved.MapPage(0), nullptr);
    EXPECT_TRUE(PageHolds(SamplesOnDisk(moved, kPage, 10).data(), 10, 5.0f));
    EXPECT_TRUE(PageHolds(moved.MapPage(1), 10, 5.0f));
}

TEST_F(SampleStoreTest, ReadHintNeverWritesThePageBack) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(2 * kPage));
    FillPage(store.MapPage(0), kPage, 1.0f);
    FillPage(store.MapPage(1), kPage, 2.0f);
    ASSERT_NE(store.MapPage(0, 0, PageAccess::kRead), nullptr);
    {
        // Not a byte may be written now: a read-only walk still succeeds.
        FileSizeLimit limit(0);
        ASSERT_TRUE(limit.Applied());
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t page = 0; page < 2; ++page) {
                float* samples = store.MapPage(page, 0, PageAccess::kRead);
                ASSERT_NE(samples, nullptr) << "page " << page;
                // A change made through a read-only page stays out of the file.
                samples[7] = -9.0f;
            }
        }
    }
    ASSERT_NE(store.MapPage(0, 0, PageAccess::kRead), nullptr);
    EXPECT_TRUE(PageHolds(SamplesOnDisk(store, 0, kPage).data(), kPage, 1.0f));
    EXPECT_TRUE(PageHolds(SamplesOnDisk(store, kPage, kPage).data(), kPage, 2.0f));
}

TEST_F(SampleStoreTest, ReadHintKeepsEarlierWritesOfTheSamePage) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(2 * kPage));
    FillPage(store.MapPage(1), kPage, 6.0f);
    EXPECT_TRUE(PageHolds(store.MapPage(1, 0, PageAccess::kRead), kPage, 6.0f));
    ASSERT_NE(store.MapPage(0, 0, PageAccess::kRead), nullptr);
    EXPECT_TRUE(PageHolds(SamplesOnDisk(store, kPage, kPage).data(), kPage, 6.0f));
}

TEST_F(SampleStoreTest, WriteHintOnPartOfAPageKeepsTheRestOfIt) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(2 * kPage));
    FillPage(store.MapPage(0), kPage, 1.0f);
    ASSERT_NE(store.MapPage(1), nullptr);
    // The importer's way: only the mapped samples are written, and all of them.
    float* head = store.MapPage(0, 100 * sizeof(float), PageAccess::kWrite);
    ASSERT_NE(head, nullptr);
    for (uint32_t k = 0; k < 100; ++k) head[k] = -1.0f;
    const float* whole = store.MapPage(0, 0, PageAccess::kRead);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole[0], -1.0f);
    EXPECT_EQ(whole[99], -1.0f);
    EXPECT_EQ(whole[100], 1.0f + 100.0f / kPage);
    EXPECT_EQ(whole[kPage - 1], 1.0f + static_cast<float>(kPage - 1) / kPage);
    ASSERT_NE(store.MapPage(1), nullptr);
    const std::vector<float> on_disk = SamplesOnDisk(store, 0, kPage);
    EXPECT_EQ(on_disk[99], -1.0f);
    EXPECT_EQ(on_disk[100], 1.0f + 100.0f / kPage);
}

TEST_F(SampleStoreTest, FullDiskOnWriteBackFailsTheMapAndKeepsTheSamples) {
    VeSampleStore store;
    ASSERT_TRUE(store.Create(2 * kPage));  // the whole file is allocated here
    FillPage(store.MapPage(1), kPage, 7.0f);
    {
        // Nothing may be written from the second page on.
        FileSizeLimit limit(uint64_t{kPage} * sizeof(float));
        ASSERT_TRUE(limit.Applied());
        EXPECT_EQ(store.MapPage(0), nullptr);
        std::vector<float> ramp(kPage + 1, 0.5f);
        EXPECT_FALSE(store.WriteAt(0, ramp.data(), static_cast<uint32_t>(ramp.size())));
        EXPECT_TRUE(PageHolds(store.MapPage(1, 0, PageAccess::kRead), kPage, 7.0f));
    }
    ASSERT_NE(store.MapPage(0), nullptr);
    EXPECT_TRUE(PageHolds(SamplesOnDisk(store, kPage, kPage).data(), kPage, 7.0f));
}

}  // namespace
}  // namespace chm
