#include "audio/mapped_file_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "platform/file_mapping.h"
#include "platform/file_system.h"

namespace chm {

namespace {

constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();
// Writes of at least this many bytes skip the pending buffer.
constexpr uint64_t kDirectWrite = VeMappedFileStream::kViewUnit / 4;

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

bool VeMappedFileStream::Close() {
    const bool writing = mode_ == Mode::kWriting && file_.IsFileOpen();
    bool complete = true;
    if (writing) {
        // Bytes the file refused are lost: the file is cut where the bytes that arrived end, and
        // the caller learns that its output is short.
        uint64_t keep = logical_size_;
        if (!WritePending()) {
            keep = std::min(keep, pending_offset_);
            complete = false;
        }
        // The mapping grew in whole units; the file keeps only its content.
        file_.CloseMapping();
        complete = CutTo(keep) && complete;
    }
    // An error on closing a written file can stand for bytes the system never stored.
    const bool closed = file_.Close();
    if (writing && !closed) complete = false;
    pending_.reset();
    pending_offset_ = 0;
    pending_size_ = 0;
    logical_size_ = 0;
    position_ = 0;
    mode_ = Mode::kClosed;
    return complete;
}

bool VeMappedFileStream::CutTo(uint64_t length) {
    const int64_t on_disk = FileSize(file_.Fd());
    if (on_disk < 0) return false;
    if (static_cast<uint64_t>(on_disk) <= length) return static_cast<uint64_t>(on_disk) == length;
    int result = 0;
    while ((result = ::ftruncate(file_.Fd(), static_cast<off_t>(length))) != 0 && errno == EINTR) {
    }
    return result == 0;
}

uint32_t VeMappedFileStream::Read(void* buffer, uint32_t element_size, uint32_t count) {
    // 1.
    if (!buffer || element_size == 0 || count == 0 || !IsOpen() || IsEof()) return 0;
    // 2.
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(element_size) * count, logical_size_ - position_);
    if (n == 0) return 0;
    // 3. and 4. Bytes still pending are written out first, so that the file holds them.
    if (mode_ == Mode::kWriting && !WritePending()) return 0;
    const uint64_t done = ReadAt(static_cast<uint8_t*>(buffer), n);
    // 5.
    position_ += static_cast<uint32_t>(done);
    return static_cast<uint32_t>(done / element_size);
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
    // 2. and 3. The file grows in whole units before anything is written into the new room.
    if (position_ + n > file_.MappingSize() && !GrowMapping(position_ + n)) return 0;
    if (!WriteAt(static_cast<const uint8_t*>(buffer), n)) return 0;
    // 4.
    logical_size_ = std::max<uint32_t>(logical_size_, static_cast<uint32_t>(position_ + n));
    position_ += static_cast<uint32_t>(n);
    return count;
}

bool VeMappedFileStream::WriteAt(const uint8_t* bytes, uint64_t n) {
    const uint64_t end = position_ + n;
    // Bytes that continue or overlap the pending ones, within one unit, join them.
    if (pending_size_ != 0 && position_ >= pending_offset_ && position_ <= pending_offset_ + pending_size_ &&
        end - pending_offset_ <= kViewUnit) {
        std::memcpy(pending_.get() + (position_ - pending_offset_), bytes, n);
        pending_size_ = std::max(pending_size_, end - pending_offset_);
        return true;
    }
    if (!WritePending()) return false;
    // Large pieces go to the file at once: collecting them would only copy them twice.
    if (n >= kDirectWrite) return WriteFileAt(file_.Fd(), bytes, n, position_);
    if (!pending_) {
        pending_.reset(new (std::nothrow) uint8_t[kViewUnit]);
        if (!pending_) return false;
    }
    std::memcpy(pending_.get(), bytes, n);
    pending_offset_ = position_;
    pending_size_ = n;
    return true;
}

bool VeMappedFileStream::WritePending() {
    if (pending_size_ == 0) return true;
    // The room was reserved when the file grew, so only a failing device refuses these bytes.
    if (!WriteFileAt(file_.Fd(), pending_.get(), pending_size_, pending_offset_)) return false;
    pending_size_ = 0;
    return true;
}

bool VeMappedFileStream::GrowMapping(uint64_t end) {
    const uint64_t old_size = file_.MappingSize();
    if (file_.ResizeMapping(RoundUpToUnit(end))) return true;
    // A full disk fails this write only: the old mapping still fits the file, so the stream
    // stays open and can still be closed to the length of what it holds.
    file_.CreateMapping(old_size);
    return false;
}

void VeMappedFileStream::Flush() {
    if (mode_ == Mode::kWriting && WritePending()) ::fdatasync(file_.Fd());
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
