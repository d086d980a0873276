#include "audio/mapped_file.h"

#include <fcntl.h>

#include <utility>

namespace chm {

VeMappedFile& VeMappedFile::operator=(VeMappedFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::move(other.fd_);
        has_mapping_ = std::exchange(other.has_mapping_, false);
        writable_ = other.writable_;
        view_ = std::move(other.view_);
        view_offset_ = std::exchange(other.view_offset_, 0);
        mapping_size_ = std::exchange(other.mapping_size_, 0);
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

bool VeMappedFile::CreateAlways(const std::string& path) {
    if (fd_.IsValid() || path.empty()) return false;
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    writable_ = true;
    return fd_.IsValid();
}

bool VeMappedFile::Adopt(UniqueFd fd) {
    if (fd_.IsValid() || !fd.IsValid()) return false;
    fd_ = std::move(fd);
    writable_ = true;
    return true;
}

bool VeMappedFile::OpenExisting(const std::string& path, bool writable) {
    if (fd_.IsValid() || path.empty()) return false;
    fd_.Reset(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC));
    writable_ = writable;
    return fd_.IsValid();
}

bool VeMappedFile::CreateMapping(uint64_t size) {
    if (!fd_.IsValid() || has_mapping_) return false;
    if (size == 0) {
        const int64_t current = FileSize(fd_.Get());
        if (current <= 0) return false;  // an empty file cannot be mapped
        size = static_cast<uint64_t>(current);
    } else if (writable_) {
        if (!ExtendFile(fd_.Get(), size)) return false;
    } else if (FileSize(fd_.Get()) < static_cast<int64_t>(size)) {
        return false;  // a read-only file cannot grow to the mapping's size
    }
    mapping_size_ = size;
    has_mapping_ = true;
    return true;
}

bool VeMappedFile::ResizeMapping(uint64_t size) {
    CloseMapping();
    mapping_size_ = 0;
    return CreateMapping(size);
}

void* VeMappedFile::MapView(uint64_t offset, uint64_t size) {
    if (!has_mapping_ || view_.IsMapped()) return nullptr;
    if (offset % kAllocationGranularity != 0 || offset >= mapping_size_) return nullptr;
    if (size == 0) size = mapping_size_ - offset;
    if (size > mapping_size_ - offset) return nullptr;
    view_ = MappedView::Map(fd_.Get(), offset, static_cast<size_t>(size), writable_);
    view_offset_ = view_.IsMapped() ? offset : 0;
    return view_.Address();
}

void* VeMappedFile::Remap(uint64_t offset, uint64_t size) {
    if (!Unmap()) return nullptr;
    return MapView(offset, size);
}

bool VeMappedFile::Unmap() {
    view_offset_ = 0;
    return view_.Reset();
}

bool VeMappedFile::CloseMapping() {
    const bool unmapped = Unmap();
    has_mapping_ = false;
    return unmapped;
}

bool VeMappedFile::FlushView() const { return view_.Flush(); }

bool VeMappedFile::Close() {
    CloseMapping();
    const bool closed = fd_.Close();
    mapping_size_ = 0;
    path_.clear();
    return closed;
}

bool VeMappedFile::ViewCovers(uint64_t offset, uint64_t size) const {
    return view_.IsMapped() && offset >= view_offset_ && offset + size <= view_offset_ + view_.Size();
}

}  // namespace chm
