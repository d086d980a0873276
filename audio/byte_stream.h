#pragma once
#include <cstdint>

namespace chm {

// Seek origins as every caller passes them; each stream maps them to its own terms.
enum VeSeekOrigin : int {
    kSeekBegin = 0,
    kSeekCurrent = 1,
    kSeekEnd = 2,
};

// The byte interface that the WAV reader and writer and the MP3 decoder and encoder move
// their bytes through. Positions and sizes are 32-bit: files up to 4 GiB - 1.
// The order of the virtual operations is part of the interface; keep it.
class VeByteStream {
public:
    VeByteStream() = default;
    VeByteStream(const VeByteStream&) = delete;
    VeByteStream& operator=(const VeByteStream&) = delete;

    // Every implementation closes itself when destroyed.
    virtual ~VeByteStream() = default;
    // True when closed or positioned beyond the size.
    virtual bool IsPastEnd() const;
    virtual bool IsEof() const;
    virtual bool IsOpen() const = 0;
    virtual uint32_t Size() const = 0;
    virtual uint32_t Tell() const = 0;
    virtual bool SeekTo(uint32_t position);
    // False when written bytes did not all reach their destination; closing a stream that is
    // not open loses nothing and succeeds.
    virtual bool Close() = 0;
    // Transfers up to element_size x count bytes; the result counts whole elements.
    virtual uint32_t Read(void* buffer, uint32_t element_size, uint32_t count) = 0;
    virtual uint32_t Write(const void* buffer, uint32_t element_size, uint32_t count) = 0;
    virtual void Flush() = 0;
    // The byte, or -1.
    virtual int ReadByte();
    virtual bool WriteByte(uint8_t byte);
    // A negative or unrepresentable resulting position fails and leaves the position alone.
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual bool Rewind();
    virtual bool SeekToEnd();
    // The implementation's own value for an origin, -1 for an unknown one.
    virtual int MapOrigin(int origin) const = 0;
};

}  // namespace chm
