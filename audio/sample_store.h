#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "audio/mapped_file.h"

namespace chm {

// How a caller uses a page it maps. The hint only saves work: reading a page that was mapped
// for reading is always right, and the samples it returns are those of the store.
enum class PageAccess {
    kReadWrite,  // read and changed in place
    kRead,       // only read: leaving the page writes nothing back
    kWrite,      // every sample mapped is overwritten: the old ones are not read first
};

// The 32-bit float samples of one channel, in a temporary file reached one page at a time, so
// that memory use does not depend on the length of the audio.
//
// The page in use is a buffer of the store's own, read from the file when the page is taken
// and written back when another page is taken. Shared file mappings fault in every 4 KiB
// page separately, and on ext4 each fault of a written page re-dirties its whole folio: that
// cost several times more system time than copying the page in and out once.
class VeSampleStore {
public:
    // 4 x the allocation granularity: 262144 samples, 1 MiB of floats.
    static constexpr uint32_t kSamplesPerPage = 4 * kAllocationGranularity;

    VeSampleStore() = default;
    ~VeSampleStore() { Close(); }
    VeSampleStore(VeSampleStore&& other) noexcept { *this = std::move(other); }
    VeSampleStore& operator=(VeSampleStore&& other) noexcept;
    VeSampleStore(const VeSampleStore&) = delete;
    VeSampleStore& operator=(const VeSampleStore&) = delete;

    // count zero samples; fails on 0 or an open store. Never leaves a file behind on failure.
    bool Create(uint32_t count);
    // Closes and deletes the temporary file; the page in use is dropped, not written back.
    void Close();
    bool IsOpen() const;

    uint32_t Count() const { return count_; }
    uint32_t SamplesPerPage() const { return samples_per_page_; }
    uint32_t PageCount() const;
    uint32_t PageLength(int64_t page) const;
    // Takes page i as the page in use, writing back the one it replaces; max_bytes 0 means the
    // whole page. The pointer stays valid until the next MapPage or Close of this store.
    // nullptr for a bad index, a closed store, or a failed read or write-back (a full disk).
    float* MapPage(int64_t page, size_t max_bytes = 0, PageAccess access = PageAccess::kReadWrite);
    bool CopyFrom(VeSampleStore& other);
    // Grows or shrinks an open store to count samples (not 0): new samples are zero, the kept
    // ones stay. False, with the store as it was, when the file cannot take the new size.
    bool Resize(uint32_t count);
    // Copies n samples to the index; false when they do not fit or the file cannot take them.
    bool WriteAt(uint32_t index, const float* source, uint32_t n);
    const std::string& Path() const { return file_.Path(); }

private:
    // Writes the page in use back to the file if it was mapped for writing.
    bool WriteBack();
    void DropPage();
    uint64_t PageOffset(int64_t page) const { return static_cast<uint64_t>(page) * samples_per_page_ * sizeof(float); }

    uint32_t samples_per_page_ = kSamplesPerPage;
    uint32_t count_ = 0;
    VeMappedFile file_;
    // The page in use: its index (-1 for none), how many of its bytes the buffer holds (from
    // the page's start), and whether they may differ from the file's.
    std::unique_ptr<float[]> page_buffer_;
    int64_t page_ = -1;
    size_t page_bytes_ = 0;
    bool dirty_ = false;
    // The file has a name to remove when the store closes (see Create).
    bool named_ = false;
};

}  // namespace chm
