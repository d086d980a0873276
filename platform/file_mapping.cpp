#include "platform/file_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/no_room.h"

namespace chm {

MappedView MappedView::Map(int fd, uint64_t offset, size_t size, bool writable) {
    if (fd < 0 || size == 0 || offset % kAllocationGranularity != 0) return {};
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* address = ::mmap(nullptr, size, protection, MAP_SHARED, fd, static_cast<off_t>(offset));
    if (address == MAP_FAILED) return {};
    return MappedView(address, size);
}

bool MappedView::Flush() const { return address_ && ::msync(address_, size_, MS_SYNC) == 0; }

bool MappedView::Reset() {
    if (!address_) return true;
    const bool ok = ::munmap(address_, size_) == 0;
    address_ = nullptr;
    size_ = 0;
    return ok;
}

int64_t FileSize(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

int64_t ReadFileAt(int fd, void* buffer, size_t n, uint64_t offset) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, bytes + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool WriteFileAt(int fd, const void* buffer, size_t n, uint64_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(fd, bytes + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) NoteIfNoRoom(errno);
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

bool ExtendFile(int fd, uint64_t size) {
    const int64_t current = FileSize(fd);
    if (current < 0) return false;
    if (static_cast<uint64_t>(current) >= size) return true;
    const int result = ::posix_fallocate(fd, current, static_cast<off_t>(size - current));
    if (result == 0) return true;
    // File systems without fallocate still extend with zeros; a full disk stays an error.
    if (result == EOPNOTSUPP || result == EINVAL) return ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    NoteIfNoRoom(result);
    return false;
}

}  // namespace chm
