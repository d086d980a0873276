#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "platform/file_mapping.h"
#include "platform/unique_fd.h"

namespace chm {

// A file with one mapping and at most one mapped view. The "mapping" of this platform is the
// file's reserved size: creating or resizing it grows the file with allocated zeros. The sample
// store and the output stream reserve their room this way but move their bytes with positioned
// reads and writes (Fd()), which costs less than faulting a shared mapping in page by page.
class VeMappedFile {
public:
    VeMappedFile() = default;
    ~VeMappedFile() { Close(); }
    VeMappedFile(VeMappedFile&& other) noexcept { *this = std::move(other); }
    VeMappedFile& operator=(VeMappedFile&& other) noexcept;
    VeMappedFile(const VeMappedFile&) = delete;
    VeMappedFile& operator=(const VeMappedFile&) = delete;

    // Open modes of the file itself (the equivalents of the create dispositions used).
    bool CreateAlways(const std::string& path);  // read-write, truncated or made new
    bool OpenExisting(const std::string& path, bool writable);
    // Takes an open read-write file as its own (a file without a name, for one).
    bool Adopt(UniqueFd fd);

    // Needs an open file and no mapping; size 0 means the file's current size.
    bool CreateMapping(uint64_t size);
    bool ResizeMapping(uint64_t size);
    // Needs a mapping and no current view; the offset must be a multiple of the granularity.
    // Size 0 maps to the end of the mapping. Returns the view's address or nullptr.
    void* MapView(uint64_t offset, uint64_t size);
    void* Remap(uint64_t offset, uint64_t size);
    bool Unmap();
    bool CloseMapping();
    bool FlushView() const;
    // Closes the mapping and the file; the file itself stays on disk. False when the system
    // reported an error on closing, which for a written file can mean lost bytes.
    bool Close();

    bool IsFileOpen() const { return fd_.IsValid(); }
    bool HasMapping() const { return has_mapping_; }
    int Fd() const { return fd_.Get(); }
    uint64_t MappingSize() const { return mapping_size_; }
    void* ViewAddress() const { return view_.Address(); }
    uint64_t ViewOffset() const { return view_offset_; }
    uint64_t ViewSize() const { return view_.Size(); }
    const std::string& Path() const { return path_; }
    void SetPath(std::string path) { path_ = std::move(path); }
    // True when the current view covers [offset, offset + size).
    bool ViewCovers(uint64_t offset, uint64_t size) const;

private:
    UniqueFd fd_;
    bool has_mapping_ = false;
    bool writable_ = false;
    MappedView view_;
    uint64_t view_offset_ = 0;
    uint64_t mapping_size_ = 0;
    std::string path_;
};

}  // namespace chm
