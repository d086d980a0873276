#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "audio/mapped_file.h"

namespace chm {

// The 32-bit float samples of one channel, in a temporary file mapped one page at a time, so
// that memory use does not depend on the length of the audio.
class VeSampleStore {
public:
    // 4 x the allocation granularity: 262144 samples, 1 MiB of floats.
    static constexpr uint32_t kSamplesPerPage = 4 * kAllocationGranularity;

    VeSampleStore() = default;
    ~VeSampleStore() { Close(); }
    VeSampleStore(VeSampleStore&& other) noexcept
        : samples_per_page_(other.samples_per_page_), count_(std::exchange(other.count_, 0)), file_(std::move(other.file_)) {}
    VeSampleStore& operator=(VeSampleStore&& other) noexcept;
    VeSampleStore(const VeSampleStore&) = delete;
    VeSampleStore& operator=(const VeSampleStore&) = delete;

    // count zero samples; fails on 0 or an open store. Never leaves a file behind on failure.
    bool Create(uint32_t count);
    // Unmaps, closes and deletes the temporary file.
    void Close();
    bool IsOpen() const;

    uint32_t Count() const { return count_; }
    uint32_t SamplesPerPage() const { return samples_per_page_; }
    uint32_t PageCount() const;
    uint32_t PageLength(int64_t page) const;
    // Maps page i (replacing the current view) for reading and writing; max_bytes 0 maps the
    // whole page. nullptr for a bad index, a closed store or a failed mapping.
    float* MapPage(int64_t page, size_t max_bytes = 0);
    bool CopyFrom(VeSampleStore& other);
    // Copies n samples to the index; false when they do not fit or the mapping fails.
    bool WriteAt(uint32_t index, const float* source, uint32_t n);
    const std::string& Path() const { return file_.Path(); }

private:
    uint32_t samples_per_page_ = kSamplesPerPage;
    uint32_t count_ = 0;
    VeMappedFile file_;
};

}  // namespace chm
