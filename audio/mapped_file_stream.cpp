#include "audio/mapped_file_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/file_mapping.h"
#include "platform/file_system.h"

namespace chm {

namespace {

constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();

uint64_t RoundUpToUnit(uint64_t size) {
    const uint64_t unit = VeMappedFileStream::kViewUnit;
    return (size + unit - 1) / unit * unit;
}

}  // namespace

VeMappedFileStream::~VeMappedFileStream() { VeMappedFileStream::Close(); }

bool VeMappedFileStream::OpenForWrite(const std::string& path, uint32_t initial_size) {
    if (path.empty() || initial_size == 0 || mode_ != Mode::kClosed) return false;
    if (!file_.CreateAlways(path) || !file_.CreateMapping(initial_size)) {
        file_.Close();
        return false;
    }
    file_.SetPath(path);
    logical_size_ = 0;
    position_ = 0;
    mode_ = Mode::kWriting;
    return true;
}

bool VeMappedFileStream::OpenForRead(const std::string& path) {
    if (path.empty() || mode_ != Mode::kClosed || !IsRegularFile(path)) return false;
    // Read-only, so that a write-protected source can still be read.
    if (!file_.OpenExisting(path, false)) return false;
    struct stat st;
    if (::fstat(file_.Fd(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxPosition) {
        file_.Close();
        return false;
    }
    file_.SetPath(path);
    logical_size_ = static_cast<uint32_t>(st.st_size);
    position_ = 0;
    mode_ = Mode::kReading;
    return true;
}

bool VeMappedFileStream::IsOpen() const {
    switch (mode_) {
        case Mode::kReading: return file_.IsFileOpen() && !file_.Path().empty();
        case Mode::kWriting: return file_.MappingSize() != 0 && !file_.Path().empty() && file_.HasMapping();
        case Mode::kClosed: break;
    }
    return false;
}

uint32_t VeMappedFileStream::Size() const { return logical_size_; }

uint32_t VeMappedFileStream::Tell() const { return position_; }

void VeMappedFileStream::Close() {
    if (mode_ == Mode::kWriting && file_.IsFileOpen()) {
        // The mapping grew in whole units; the file keeps only its content.
        file_.CloseMapping();
        const int64_t on_disk = FileSize(file_.Fd());
        if (on_disk > static_cast<int64_t>(logical_size_)) {
            while (::ftruncate(file_.Fd(), static_cast<off_t>(logical_size_)) != 0 && errno == EINTR) {
            }
        }
    }
    file_.Close();
    logical_size_ = 0;
    position_ = 0;
    mode_ = Mode::kClosed;
}

uint32_t VeMappedFileStream::Read(void* buffer, uint32_t element_size, uint32_t count) {
    // 1.
    if (!buffer || element_size == 0 || count == 0 || !IsOpen() || IsEof()) return 0;
    // 2.
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(element_size) * count, logical_size_ - position_);
    if (n == 0) return 0;
    // 3. and 4.
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uint64_t done = mode_ == Mode::kReading ? ReadAt(bytes, n) : ReadMapped(bytes, n);
    // 5.
    position_ += static_cast<uint32_t>(done);
    return static_cast<uint32_t>(done / element_size);
}

uint64_t VeMappedFileStream::ReadMapped(uint8_t* buffer, uint64_t n) {
    if (!file_.ViewCovers(position_, n) && !MapUnitsFor(position_, n)) return 0;
    std::memcpy(buffer, static_cast<const uint8_t*>(file_.ViewAddress()) + (position_ - file_.ViewOffset()), n);
    return n;
}

uint64_t VeMappedFileStream::ReadAt(uint8_t* buffer, uint64_t n) const {
    // A source that shrank since it was opened ends the read early.
    uint64_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(file_.Fd(), buffer + done, static_cast<size_t>(n - done),
                                    static_cast<off_t>(position_ + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<uint64_t>(got);
    }
    return done;
}

uint32_t VeMappedFileStream::Write(const void* buffer, uint32_t element_size, uint32_t count) {
    // 1.
    if (!buffer || element_size == 0 || count == 0 || !IsOpen() || mode_ != Mode::kWriting) return 0;
    const uint64_t n = static_cast<uint64_t>(element_size) * count;
    // Content beyond 4 GiB - 1 could not be addressed with the stream's positions.
    if (n > kMaxPosition - position_) return 0;
    // 2. and 3.
    if (!file_.ViewCovers(position_, n)) {
        if (position_ + n > file_.MappingSize() && !GrowMapping(position_ + n)) return 0;
        if (!MapUnitsFor(position_, n)) return 0;
    }
    std::memcpy(static_cast<uint8_t*>(file_.ViewAddress()) + (position_ - file_.ViewOffset()), buffer, n);
    // 4.
    logical_size_ = std::max<uint32_t>(logical_size_, static_cast<uint32_t>(position_ + n));
    position_ += static_cast<uint32_t>(n);
    return count;
}

bool VeMappedFileStream::GrowMapping(uint64_t end) {
    const uint64_t old_size = file_.MappingSize();
    if (file_.ResizeMapping(RoundUpToUnit(end))) return true;
    // A full disk fails this write only: the old mapping still fits the file, so the stream
    // stays open and can still be closed to the length of what it holds.
    file_.CreateMapping(old_size);
    return false;
}

bool VeMappedFileStream::MapUnitsFor(uint64_t position, uint64_t n) {
    const uint64_t unit = kViewUnit;
    const uint64_t u0 = position / unit;
    const uint64_t u1 = (position + n - 1) / unit;
    const uint64_t last = (file_.MappingSize() - 1) / unit;
    // The mapping need not end on a unit boundary (a new file starts at its initial size), so
    // a view that reaches the last unit runs to the end of the mapping.
    const uint64_t size = u1 >= last ? 0 : (u1 - u0 + 1) * unit;
    return file_.Remap(u0 * unit, size) != nullptr;
}

void VeMappedFileStream::Flush() {
    if (mode_ == Mode::kWriting && file_.ViewAddress()) file_.FlushView();
}

bool VeMappedFileStream::Seek(int64_t offset, int origin) {
    if (!IsOpen()) return false;
    int64_t base = 0;
    switch (MapOrigin(origin)) {
        case kSeekBegin: base = 0; break;
        case kSeekCurrent: base = position_; break;
        case kSeekEnd: base = logical_size_; break;
        default: return false;
    }
    // Offsets come from file headers: keep the sum from overflowing before it is checked.
    if (offset > static_cast<int64_t>(kMaxPosition) || offset < -static_cast<int64_t>(kMaxPosition)) return false;
    const int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(kMaxPosition)) return false;
    position_ = static_cast<uint32_t>(target);
    return true;
}

int VeMappedFileStream::MapOrigin(int origin) const {
    return origin == kSeekBegin || origin == kSeekCurrent || origin == kSeekEnd ? origin : -1;
}

}  // namespace chm
