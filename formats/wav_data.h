#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace chm {

class TaskProgress;

// The samples of a PCM or IEEE float WAV file as our own writer makes them (tag 1, tag 3 or an
// extensible header of either), read in blocks for the writers that the GStreamer muxers cannot
// stand in for.
class WavData {
public:
    // False when the file is missing or no such WAV.
    bool Open(const std::string& path);

    uint16_t Channels() const { return channels_; }
    uint32_t Rate() const { return rate_; }
    uint16_t Bits() const { return bits_; }  // of the container
    bool IsFloat() const { return float_; }
    uint64_t Frames() const { return frames_; }

    // The next frames, at most `max_frames`, as little-endian bytes; empty at the end, or on a
    // read that fails (then Failed()).
    std::span<const uint8_t> Next(size_t max_frames);
    bool Failed() const { return failed_; }

private:
    UniqueFd fd_;
    uint16_t channels_ = 0;
    uint32_t rate_ = 0;
    uint16_t bits_ = 0;
    bool float_ = false;
    uint64_t data_offset_ = 0;
    uint64_t frames_ = 0;
    uint64_t read_ = 0;  // frames
    bool failed_ = false;
    std::vector<uint8_t> block_;
};

}  // namespace chm
