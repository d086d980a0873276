#include "formats/wav_data.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/file_mapping.h"

namespace chm {
namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kFloatTag = 3;
constexpr uint16_t kExtensibleTag = 0xFFFE;

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool ReadAt(int fd, uint64_t offset, void* into, size_t bytes) {
    return ReadFileAt(fd, into, bytes, offset) == static_cast<int64_t>(bytes);
}

}  // namespace

bool WavData::Open(const std::string& path) {
    fd_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::array<uint8_t, 12> riff{};
    if (!fd_.IsValid() || !ReadAt(fd_.Get(), 0, riff.data(), riff.size()) ||
        std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0)
        return false;
    bool have_format = false;
    for (uint64_t at = 12;;) {
        std::array<uint8_t, 8> head{};
        if (!ReadAt(fd_.Get(), at, head.data(), head.size())) return false;
        const uint32_t size = Le32(head.data() + 4);
        if (std::memcmp(head.data(), "fmt ", 4) == 0) {
            std::array<uint8_t, 40> fmt{};
            if (size < 16 || !ReadAt(fd_.Get(), at + 8, fmt.data(), std::min<size_t>(size, fmt.size()))) return false;
            const uint16_t tag = Le16(fmt.data()) == kExtensibleTag && size >= 40 ? Le16(fmt.data() + 24) : Le16(fmt.data());
            channels_ = Le16(fmt.data() + 2);
            rate_ = Le32(fmt.data() + 4);
            bits_ = Le16(fmt.data() + 14);
            float_ = tag == kFloatTag;
            const bool sizes = float_ ? bits_ == 32 || bits_ == 64 : bits_ == 8 || bits_ == 16 || bits_ == 24 || bits_ == 32;
            if ((tag != kPcmTag && tag != kFloatTag) || !sizes || channels_ == 0 || rate_ == 0) return false;
            have_format = true;
        } else if (std::memcmp(head.data(), "data", 4) == 0) {
            if (!have_format) return false;
            data_offset_ = at + 8;
            frames_ = size / (channels_ * (bits_ / 8u));
            return true;
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
}

std::span<const uint8_t> WavData::Next(size_t max_frames) {
    const size_t frame_bytes = size_t{channels_} * (bits_ / 8u);
    const auto frames = static_cast<size_t>(std::min<uint64_t>(frames_ - read_, max_frames));
    if (frames == 0 || failed_) return {};
    block_.resize(frames * frame_bytes);
    if (!ReadAt(fd_.Get(), data_offset_ + read_ * frame_bytes, block_.data(), block_.size())) {
        failed_ = true;
        return {};
    }
    read_ += frames;
    return block_;
}

}  // namespace chm
