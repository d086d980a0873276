#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>

namespace chm {

// Offsets of mapped views are multiples of this. It is the Windows granularity, a multiple of
// every page size Linux uses, so that page sizes in samples stay the same on every platform.
constexpr uint32_t kAllocationGranularity = 65536;

// One mmap'ed region, unmapped on destruction.
class MappedView {
public:
    MappedView() = default;
    ~MappedView() { Reset(); }
    MappedView(MappedView&& other) noexcept
        : address_(std::exchange(other.address_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    MappedView& operator=(MappedView&& other) noexcept {
        if (this != &other) {
            Reset();
            address_ = std::exchange(other.address_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;

    // Maps [offset, offset + size) of fd shared, read-write when writable.
    static MappedView Map(int fd, uint64_t offset, size_t size, bool writable);

    void* Address() const { return address_; }
    size_t Size() const { return size_; }
    bool IsMapped() const { return address_ != nullptr; }
    bool Flush() const;
    // False when munmap refused; the view counts as unmapped either way.
    bool Reset();

private:
    MappedView(void* address, size_t size) : address_(address), size_(size) {}
    void* address_ = nullptr;
    size_t size_ = 0;
};

// Grows a file to size bytes with its blocks allocated, so that a full disk fails here and not
// as a fault while a mapped view is written. Never shrinks.
bool ExtendFile(int fd, uint64_t size);
// Current size of an open file, or -1.
int64_t FileSize(int fd);
// Reads n bytes at offset, through interruptions and partial reads: the bytes read, fewer
// only where the file ends, or -1 on an error.
int64_t ReadFileAt(int fd, void* buffer, size_t n, uint64_t offset);
// Writes all n bytes at offset; false on any error, a full disk among them.
bool WriteFileAt(int fd, const void* buffer, size_t n, uint64_t offset);

}  // namespace chm
