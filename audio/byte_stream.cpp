#include "audio/byte_stream.h"

namespace chm {

bool VeByteStream::IsPastEnd() const { return !IsOpen() || Tell() > Size(); }

bool VeByteStream::IsEof() const { return Tell() >= Size(); }

bool VeByteStream::SeekTo(uint32_t position) { return Seek(position, kSeekBegin); }

int VeByteStream::ReadByte() {
    uint8_t byte = 0;
    return Read(&byte, 1, 1) == 1 ? byte : -1;
}

bool VeByteStream::WriteByte(uint8_t byte) { return Write(&byte, 1, 1) == 1; }

bool VeByteStream::Rewind() { return Seek(0, kSeekBegin); }

bool VeByteStream::SeekToEnd() { return Seek(0, kSeekEnd); }

}  // namespace chm
