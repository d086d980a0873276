#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "audio/byte_stream.h"
#include "audio/mapped_file.h"

namespace chm {

// A byte stream over a file. Output files grow in whole view units, reserved on disk so that a
// full disk fails the write that needs the room, and are cut to the exact length of their
// content when the stream closes.
// Output is collected in a buffer of one view unit and written with positioned writes rather
// than through a shared mapping: every 4 KiB page of a written mapping faults on its own, which
// cost far more system time than copying the bytes once.
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
    bool Close() override;
    uint32_t Read(void* buffer, uint32_t element_size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t element_size, uint32_t count) override;
    void Flush() override;
    // A position beyond the content is allowed: a later write extends the content.
    bool Seek(int64_t offset, int origin) override;
    int MapOrigin(int origin) const override;

    const std::string& Path() const { return file_.Path(); }

private:
    enum class Mode { kClosed, kReading, kWriting };

    bool GrowMapping(uint64_t end);
    // Cuts the reserved room off the file; false unless the file is then exactly `length` long.
    bool CutTo(uint64_t length);
    // Puts [position, position + n) into the pending bytes or, when they cannot take it, writes
    // them out and the new bytes after them.
    bool WriteAt(const uint8_t* bytes, uint64_t n);
    // Writes the pending bytes to the file; false when the file refused them (they stay pending).
    bool WritePending();
    uint64_t ReadAt(uint8_t* buffer, uint64_t n) const;

    VeMappedFile file_;
    uint32_t logical_size_ = 0;
    uint32_t position_ = 0;
    Mode mode_ = Mode::kClosed;
    // Written bytes not yet in the file: [pending_offset_, pending_offset_ + pending_size_).
    std::unique_ptr<uint8_t[]> pending_;
    uint64_t pending_offset_ = 0;
    uint64_t pending_size_ = 0;
};

}  // namespace chm
