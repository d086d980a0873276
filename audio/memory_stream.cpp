#include "audio/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace chm {

VeMemoryStream::~VeMemoryStream() { VeMemoryStream::Close(); }

bool VeMemoryStream::Attach(void* address, uint32_t size, uint32_t check_flags) {
    if (IsOpen() || !address || size == 0) return false;
    // The read and write checks asked for by kCheckRead and kCheckWrite have no counterpart
    // here: probing memory by touching it would fault instead of failing. The caller vouches
    // for its block, so the flags are accepted and nothing is probed.
    (void)check_flags;
    block_ = static_cast<uint8_t*>(address);
    block_size_ = size;
    position_ = 0;
    return true;
}

bool VeMemoryStream::AttachOwned(std::vector<uint8_t> buffer) {
    // The sizes of the interface are 32-bit.
    if (IsOpen() || buffer.empty() || buffer.size() > kSizeNotGiven) return false;
    owned_ = std::move(buffer);
    owned_size_ = static_cast<uint32_t>(owned_.size());
    position_ = 0;
    return true;
}

bool VeMemoryStream::IsOpen() const { return HasCallerBlock() || HasOwnedBuffer(); }

uint32_t VeMemoryStream::Size() const { return block_ ? block_size_ : owned_size_; }

uint32_t VeMemoryStream::Tell() const { return position_; }

bool VeMemoryStream::Close() {
    block_ = nullptr;
    block_size_ = 0;
    owned_ = {};
    owned_size_ = 0;
    position_ = 0;
    return true;  // the bytes were in memory all along
}

uint8_t* VeMemoryStream::Data() { return block_ ? block_ : owned_.data(); }

uint32_t VeMemoryStream::Clip(uint64_t wanted) const {
    const uint32_t size = Size();
    if (position_ >= size) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(wanted, size - position_));
}

uint32_t VeMemoryStream::Read(void* buffer, uint32_t element_size, uint32_t count) {
    if (!buffer || element_size == 0 || !IsOpen()) return 0;
    const uint32_t n = Clip(static_cast<uint64_t>(element_size) * count);
    if (n == 0) return 0;
    std::memcpy(buffer, Data() + position_, n);
    position_ += n;
    return n / element_size;
}

uint32_t VeMemoryStream::Write(const void* buffer, uint32_t element_size, uint32_t count) {
    if (!buffer || element_size == 0 || !IsOpen()) return 0;
    const uint32_t n = Clip(static_cast<uint64_t>(element_size) * count);
    if (n == 0) return 0;
    std::memcpy(Data() + position_, buffer, n);
    position_ += n;
    return n / element_size;
}

void VeMemoryStream::Flush() {}

bool VeMemoryStream::Seek(int64_t offset, int origin) {
    if (!IsOpen()) return false;
    int64_t base = 0;
    switch (MapOrigin(origin)) {
        case kSeekBegin: base = 0; break;
        case kSeekCurrent: base = position_; break;
        case kSeekEnd: base = Size(); break;
        default: return false;
    }
    // Offsets come from file headers: keep the sum from overflowing before it is checked.
    if (offset > static_cast<int64_t>(kSizeNotGiven) || offset < -static_cast<int64_t>(kSizeNotGiven))
        return false;
    const int64_t target = base + offset;
    if (target < 0 || target >= static_cast<int64_t>(Size())) return false;
    position_ = static_cast<uint32_t>(target);
    return true;
}

int VeMemoryStream::MapOrigin(int origin) const {
    return origin == kSeekBegin || origin == kSeekCurrent || origin == kSeekEnd ? origin : -1;
}

bool VeMemoryStream::HasCallerBlock() const { return block_ != nullptr; }

bool VeMemoryStream::HasOwnedBuffer() const { return owned_size_ != 0; }

const std::vector<uint8_t>* VeMemoryStream::OwnedBuffer() const {
    return HasOwnedBuffer() ? &owned_ : nullptr;
}

}  // namespace chm
