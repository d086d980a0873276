#pragma once
#include <cstdint>
#include <vector>

#include "audio/byte_stream.h"

namespace chm {

// A byte stream over a fixed block of memory: either a caller's block, which the caller keeps
// alive while the stream is open, or a buffer the stream owns. The block never grows.
class VeMemoryStream : public VeByteStream {
public:
    // Check flags of Attach.
    static constexpr uint32_t kCheckRead = 1;
    static constexpr uint32_t kCheckWrite = 2;
    // The size of a block whose length the caller does not give.
    static constexpr uint32_t kSizeNotGiven = 0xFFFFFFFFu;

    VeMemoryStream() = default;
    ~VeMemoryStream() override;

    // Fails on an open stream, a null address or a size of 0.
    bool Attach(void* address, uint32_t size, uint32_t check_flags);
    // Takes the buffer over; fails on an open stream or an empty buffer.
    bool AttachOwned(std::vector<uint8_t> buffer);

    bool IsOpen() const override;
    uint32_t Size() const override;
    uint32_t Tell() const override;
    bool Close() override;
    uint32_t Read(void* buffer, uint32_t element_size, uint32_t count) override;
    uint32_t Write(const void* buffer, uint32_t element_size, uint32_t count) override;
    void Flush() override;
    // Only positions inside [0, size - 1] are accepted.
    bool Seek(int64_t offset, int origin) override;
    int MapOrigin(int origin) const override;

    virtual bool HasCallerBlock() const;
    virtual bool HasOwnedBuffer() const;
    // The owned buffer itself, for a caller that wants it back; nullptr when there is none.
    virtual const std::vector<uint8_t>* OwnedBuffer() const;

private:
    uint8_t* Data();
    // How many of the wanted bytes fit between the position and the end of the block.
    uint32_t Clip(uint64_t wanted) const;

    uint32_t position_ = 0;
    uint8_t* block_ = nullptr;
    uint32_t block_size_ = 0;
    std::vector<uint8_t> owned_;
    uint32_t owned_size_ = 0;
};

}  // namespace chm
