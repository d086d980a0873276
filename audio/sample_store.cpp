#include "audio/sample_store.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include <unistd.h>

#include "audio/temp_file.h"
#include "platform/file_mapping.h"
#include "platform/file_system.h"
#include "platform/unnamed_file.h"

namespace chm {

VeSampleStore& VeSampleStore::operator=(VeSampleStore&& other) noexcept {
    if (this != &other) {
        Close();
        samples_per_page_ = other.samples_per_page_;
        count_ = std::exchange(other.count_, 0);
        file_ = std::move(other.file_);
        // The page in use moves with its samples, written or not.
        page_buffer_ = std::move(other.page_buffer_);
        page_ = std::exchange(other.page_, -1);
        page_bytes_ = std::exchange(other.page_bytes_, 0);
        dirty_ = std::exchange(other.dirty_, false);
        named_ = std::exchange(other.named_, false);
    }
    return *this;
}

bool VeSampleStore::IsOpen() const {
    return count_ != 0 && file_.MappingSize() != 0 && !file_.Path().empty() && file_.HasMapping();
}

bool VeSampleStore::Create(uint32_t count) {
    if (count == 0 || IsOpen()) return false;
    // A file without a name goes with its store even when the process is killed; a reserved
    // "~Ve" name only where the temporary folder cannot hold such a file.
    std::string path;
    UniqueFd unnamed = OpenUnnamedFile(GetTempDirectory(), 0600);
    named_ = !unnamed.IsValid();
    if (!named_) {
        path = DescriptorPath(unnamed.Get());
        file_.Adopt(std::move(unnamed));
    } else {
        path = MakeTempFileName();
        if (path.empty()) return false;
        if (!file_.CreateAlways(path)) {
            RemoveFile(path);
            return false;
        }
    }
    // Grown to count zero samples, allocated on disk, so that a full disk fails here rather
    // than when a page is written back.
    if (!file_.CreateMapping(uint64_t{count} * sizeof(float))) {
        file_.Close();
        if (named_) RemoveFile(path);
        return false;
    }
    file_.SetPath(path);
    count_ = count;
    return true;
}

void VeSampleStore::Close() {
    // The file goes with the store: writing its last page back would be wasted.
    DropPage();
    page_buffer_.reset();
    const std::string path = file_.Path();
    file_.Close();
    if (!path.empty() && named_) RemoveFile(path);
    count_ = 0;
}

uint32_t VeSampleStore::PageCount() const {
    return static_cast<uint32_t>((uint64_t{count_} + samples_per_page_ - 1) / samples_per_page_);
}

uint32_t VeSampleStore::PageLength(int64_t page) const {
    if (page < 0 || page >= PageCount()) return 0;
    if (page + 1 < PageCount()) return samples_per_page_;
    const uint32_t rest = count_ % samples_per_page_;
    return rest == 0 ? samples_per_page_ : rest;
}

void VeSampleStore::DropPage() {
    page_ = -1;
    page_bytes_ = 0;
    dirty_ = false;
}

bool VeSampleStore::WriteBack() {
    if (!dirty_) return true;
    // A failed write keeps the page in use and its samples: nothing written is lost silently.
    if (!WriteFileAt(file_.Fd(), page_buffer_.get(), page_bytes_, PageOffset(page_))) return false;
    dirty_ = false;
    return true;
}

float* VeSampleStore::MapPage(int64_t page, size_t max_bytes, PageAccess access) {
    if (!IsOpen() || page < 0 || page >= PageCount()) return nullptr;
    const size_t page_bytes = size_t{PageLength(page)} * sizeof(float);
    const size_t size = max_bytes == 0 ? page_bytes : std::min(max_bytes, page_bytes);
    if (page != page_) {
        if (!WriteBack()) return nullptr;
        DropPage();
        if (!page_buffer_) {
            page_buffer_.reset(new (std::nothrow) float[samples_per_page_]);
            if (!page_buffer_) return nullptr;
        }
    }
    // Only the part of the page asked for is read; a larger request later reads the rest.
    if (size > page_bytes_) {
        if (access != PageAccess::kWrite) {
            auto* missing = reinterpret_cast<uint8_t*>(page_buffer_.get()) + page_bytes_;
            const int64_t got = ReadFileAt(file_.Fd(), missing, size - page_bytes_, PageOffset(page) + page_bytes_);
            if (got != static_cast<int64_t>(size - page_bytes_)) return nullptr;
        }
        page_bytes_ = size;
    }
    page_ = page;
    if (access != PageAccess::kRead) dirty_ = true;
    return page_buffer_.get();
}

bool VeSampleStore::CopyFrom(VeSampleStore& other) {
    Close();
    if (other.count_ == 0 && !other.file_.HasMapping()) return true;
    if (!other.IsOpen() || !Create(other.count_)) return false;
    // Each source page goes straight into this store's file: no page of this store is in use.
    for (uint32_t page = 0; page < PageCount(); ++page) {
        const float* source = other.MapPage(page, 0, PageAccess::kRead);
        if (!source || !WriteFileAt(file_.Fd(), source, size_t{PageLength(page)} * sizeof(float), PageOffset(page))) {
            Close();
            return false;
        }
    }
    return true;
}

bool VeSampleStore::Resize(uint32_t count) {
    if (count == 0 || !IsOpen()) return false;
    if (count == count_) return true;
    // The page in use may change length: it goes back to the file first.
    if (!WriteBack()) return false;
    DropPage();
    const uint64_t bytes = uint64_t{count} * sizeof(float);
    // A shrunk file gives its blocks back; a grown one is allocated as Create allocates.
    if (count < count_ && ::ftruncate(file_.Fd(), static_cast<off_t>(bytes)) != 0) return false;
    if (!file_.ResizeMapping(bytes)) {
        // A full disk: the file goes back to its old size and the store stays usable.
        const uint64_t old_bytes = uint64_t{count_} * sizeof(float);
        if (::ftruncate(file_.Fd(), static_cast<off_t>(old_bytes)) != 0 || !file_.ResizeMapping(old_bytes)) Close();
        return false;
    }
    count_ = count;
    return true;
}

bool VeSampleStore::WriteAt(uint32_t index, const float* source, uint32_t n) {
    if (!IsOpen() || !source || index >= count_ || n > count_ - index) return false;
    // Page by page, so that a write of any length stays inside the page in use.
    while (n > 0) {
        const uint32_t page = index / samples_per_page_;
        const uint32_t offset = index % samples_per_page_;
        const uint32_t chunk = std::min(n, PageLength(page) - offset);
        // A whole page written needs none of its old samples.
        const bool whole = offset == 0 && chunk == PageLength(page);
        float* target = MapPage(page, 0, whole ? PageAccess::kWrite : PageAccess::kReadWrite);
        if (!target) return false;
        std::memcpy(target + offset, source, size_t{chunk} * sizeof(float));
        source += chunk;
        index += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace chm
