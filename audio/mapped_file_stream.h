#pragma once
#include <cstdint>
#include <string>

#include "audio/byte_stream.h"
#include "audio/mapped_file.h"

namespace chm {

// A byte stream over a file. Output files are written through a mapping that grows in whole
// view units and are cut to the exact length of their content when the stream closes.
// Sources are read with positioned reads instead of a mapping: another program may truncate a
// source while it is read, and a mapped view of the lost part would fault instead of failing.
class VeMappedFileStream : public VeByteStream {
public:
    // 4 x the allocation granularity. Views start and the mapping grows on these boundaries.
    static constexpr uint32_t kViewUnit = 4 * kAllocationGranularity;

    VeMappedFileStream() = default;
    ~VeMappedFileStream() override;

    // Creates the file or empties an existing one; fails on an empty path, an initial size of
    // 0 or an open stream.
    bool OpenForWrite(const std::string& path, uint32_t initial_size);
    // Opens an existing regular file read-only. A file of 4 GiB or more fails: its positions
    // could not be represented.
    bool OpenForRead(const std::string& path);

    bool IsOpen() const override;
    uint32_t Size() const override;
    uint32_t Tell() const override;
    void Close() override;
    uint32_t Read(void* buffer, uint32_t element_size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t element_size, uint32_t count) override;
    void Flush() override;
    // A position beyond the content is allowed: a later write extends the content.
    bool Seek(int64_t offset, int origin) override;
    int MapOrigin(int origin) const override;

    const std::string& Path() const { return file_.Path(); }

private:
    enum class Mode { kClosed, kReading, kWriting };

    // Maps the view units that [position, position + n) touches, replacing the current view.
    bool MapUnitsFor(uint64_t position, uint64_t n);
    bool GrowMapping(uint64_t end);
    uint64_t ReadMapped(uint8_t* buffer, uint64_t n);
    uint64_t ReadAt(uint8_t* buffer, uint64_t n) const;

    VeMappedFile file_;
    uint32_t logical_size_ = 0;
    uint32_t position_ = 0;
    Mode mode_ = Mode::kClosed;
};

}  // namespace chm
