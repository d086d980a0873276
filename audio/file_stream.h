#pragma once
#include <cstdint>
#include <string>

#include "audio/byte_stream.h"
#include "platform/unique_fd.h"

namespace chm {

// A byte stream over a plain file descriptor; the WAV header probe reads through it.
class VeFileStream : public VeByteStream {
public:
    VeFileStream() = default;
    ~VeFileStream() override;

    // Fails on an empty path, an open stream or anything but an existing regular file.
    bool OpenForRead(const std::string& path);
    // Creates the file or empties an existing one, for reading and writing.
    bool OpenForWrite(const std::string& path);

    bool IsOpen() const override;
    uint32_t Size() const override;
    uint32_t Tell() const override;
    bool Close() override;
    uint32_t Read(void* buffer, uint32_t element_size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t element_size, uint32_t count) override;
    void Flush() override;
    bool Seek(int64_t offset, int origin) override;
    int MapOrigin(int origin) const override;

private:
    UniqueFd fd_;
};

}  // namespace chm
