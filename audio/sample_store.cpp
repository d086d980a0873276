#include "audio/sample_store.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "audio/temp_file.h"
#include "platform/file_system.h"

namespace chm {

VeSampleStore& VeSampleStore::operator=(VeSampleStore&& other) noexcept {
    if (this != &other) {
        Close();
        samples_per_page_ = other.samples_per_page_;
        count_ = std::exchange(other.count_, 0);
        file_ = std::move(other.file_);
    }
    return *this;
}

bool VeSampleStore::IsOpen() const {
    return count_ != 0 && file_.MappingSize() != 0 && !file_.Path().empty() && file_.HasMapping();
}

bool VeSampleStore::Create(uint32_t count) {
    if (count == 0 || IsOpen()) return false;
    const std::string path = MakeTempFileName();
    if (path.empty()) return false;
    // The reserved name is opened again and grown to count zero samples, allocated on disk.
    if (!file_.CreateAlways(path) || !file_.CreateMapping(uint64_t{count} * sizeof(float))) {
        file_.Close();
        RemoveFile(path);
        return false;
    }
    file_.SetPath(path);
    count_ = count;
    return true;
}

void VeSampleStore::Close() {
    const std::string path = file_.Path();
    file_.Close();
    if (!path.empty()) RemoveFile(path);
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

float* VeSampleStore::MapPage(int64_t page, size_t max_bytes) {
    if (!IsOpen() || page < 0 || page >= PageCount()) return nullptr;
    const uint64_t page_bytes = uint64_t{PageLength(page)} * sizeof(float);
    const uint64_t size = max_bytes == 0 ? page_bytes : std::min<uint64_t>(max_bytes, page_bytes);
    const uint64_t offset = static_cast<uint64_t>(page) * samples_per_page_ * sizeof(float);
    if (file_.ViewOffset() == offset && file_.ViewSize() == size && file_.ViewAddress())
        return static_cast<float*>(file_.ViewAddress());
    return static_cast<float*>(file_.Remap(offset, size));
}

bool VeSampleStore::CopyFrom(VeSampleStore& other) {
    Close();
    if (other.count_ == 0 && !other.file_.HasMapping()) return true;
    if (!other.IsOpen() || !Create(other.count_)) return false;
    for (uint32_t page = 0; page < PageCount(); ++page) {
        const float* source = other.MapPage(page);
        float* target = MapPage(page);
        if (!source || !target) {
            Close();
            return false;
        }
        std::memcpy(target, source, size_t{PageLength(page)} * sizeof(float));
    }
    return true;
}

bool VeSampleStore::WriteAt(uint32_t index, const float* source, uint32_t n) {
    if (!IsOpen() || !source || index >= count_ || n > count_ - index) return false;
    // Page by page, so that a write of any length stays inside the mapped views.
    while (n > 0) {
        const uint32_t page = index / samples_per_page_;
        const uint32_t offset = index % samples_per_page_;
        const uint32_t chunk = std::min(n, PageLength(page) - offset);
        float* target = MapPage(page);
        if (!target) return false;
        std::memcpy(target + offset, source, size_t{chunk} * sizeof(float));
        source += chunk;
        index += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace chm
