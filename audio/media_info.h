#pragma once
#include <cstdint>

#include "audio/audio_file_type.h"

namespace chm {

// What the information query of a compressed file yields. The readers derive their own kind.
class VeMediaInfo {
public:
    int32_t channels = 0;
    int32_t sample_rate = 0;
    int32_t bit_rate = 0;  // bits per second (MP3: the kbit/s figure x 1024)
    double duration = 0.0;  // seconds

    VeMediaInfo() = default;
    virtual ~VeMediaInfo() = default;
    VeMediaInfo(const VeMediaInfo&) = default;
    VeMediaInfo& operator=(const VeMediaInfo&) = default;

    // The file type whose reader filled it; the base belongs to none.
    virtual AudioFileType Kind() const { return AudioFileType::Unsupported; }
    virtual bool IsEmpty() const;
    virtual bool IsValid() const;
    virtual void Reset();
};

}  // namespace chm
