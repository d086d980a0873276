#include "audio/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <limits>
#include <utility>

namespace chm {

namespace {

constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();

}  // namespace

VeFileStream::~VeFileStream() { VeFileStream::Close(); }

bool VeFileStream::OpenForRead(const std::string& path) {
    if (path.empty() || IsOpen()) return false;
    // O_NONBLOCK keeps a FIFO under the name from blocking the open; it is refused below and
    // means nothing for a regular file.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsValid()) return false;
    struct stat st;
    // A folder opens read-only on this platform; it is not a stream of bytes.
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
    fd_ = std::move(fd);
    return true;
}

bool VeFileStream::OpenForWrite(const std::string& path) {
    if (path.empty() || IsOpen()) return false;
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    return fd_.IsValid();
}

bool VeFileStream::IsOpen() const { return fd_.IsValid(); }

uint32_t VeFileStream::Size() const {
    struct stat st;
    if (!IsOpen() || ::fstat(fd_.Get(), &st) != 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));  // the low part
}

uint32_t VeFileStream::Tell() const {
    if (!IsOpen()) return 0;
    const off_t position = ::lseek(fd_.Get(), 0, SEEK_CUR);
    return position < 0 ? 0 : static_cast<uint32_t>(position);
}

bool VeFileStream::Close() { return fd_.Close(); }

uint32_t VeFileStream::Read(void* buffer, uint32_t element_size, uint32_t count) {
    if (!buffer || element_size == 0 || count == 0 || !IsOpen()) return 0;
    const off_t position = ::lseek(fd_.Get(), 0, SEEK_CUR);
    if (position < 0 || static_cast<uint64_t>(position) >= kMaxPosition) return 0;
    uint64_t wanted = static_cast<uint64_t>(element_size) * count;
    if (wanted > kMaxPosition - static_cast<uint64_t>(position)) wanted = kMaxPosition - position;
    // One logical read: the kernel may hand out less than asked, or be interrupted.
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < wanted) {
        const ssize_t got = ::read(fd_.Get(), bytes + done, static_cast<size_t>(wanted - done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<uint64_t>(got);
    }
    return static_cast<uint32_t>(done / element_size);
}

uint32_t VeFileStream::Write(const void* buffer, uint32_t element_size, uint32_t count) {
    if (!buffer || !IsOpen()) return 0;
    const uint64_t wanted = static_cast<uint64_t>(element_size) * count;
    if (wanted == 0) return count;  // nothing to write succeeds without a call
    const off_t position = ::lseek(fd_.Get(), 0, SEEK_CUR);
    // Content beyond 4 GiB - 1 could not be addressed with the stream's positions.
    if (position < 0 || wanted > kMaxPosition - static_cast<uint64_t>(position)) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint64_t done = 0;
    while (done < wanted) {
        const ssize_t put = ::write(fd_.Get(), bytes + done, static_cast<size_t>(wanted - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<uint64_t>(put);
    }
    return static_cast<uint32_t>(done / element_size);
}

void VeFileStream::Flush() {
    if (IsOpen()) ::fsync(fd_.Get());
}

bool VeFileStream::Seek(int64_t offset, int origin) {
    const int whence = MapOrigin(origin);
    if (!IsOpen() || whence < 0) return false;
    const off_t before = ::lseek(fd_.Get(), 0, SEEK_CUR);
    if (before < 0) return false;
    // lseek itself refuses a negative result.
    const off_t after = ::lseek(fd_.Get(), static_cast<off_t>(offset), whence);
    if (after < 0) return false;
    if (static_cast<uint64_t>(after) > kMaxPosition) {
        ::lseek(fd_.Get(), before, SEEK_SET);
        return false;
    }
    return true;
}

int VeFileStream::MapOrigin(int origin) const {
    switch (origin) {
        case kSeekBegin: return SEEK_SET;
        case kSeekCurrent: return SEEK_CUR;
        case kSeekEnd: return SEEK_END;
        default: return -1;
    }
}

}  // namespace chm
