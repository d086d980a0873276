#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "audio/media_info.h"

namespace chm {

// A GUID in the layout that ASF and the Windows Media types use on disk: the first three
// fields little-endian, the last eight bytes as they are.
struct WmGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    static WmGuid FromBytes(std::span<const uint8_t, 16> bytes);
    bool operator==(const WmGuid&) const = default;
};

// The audio subtype that belongs to a WAVEFORMATEX format tag:
// {tag-0000-0010-8000-00AA00389B71}.
WmGuid AudioSubtypeOf(uint16_t format_tag);

// A WAVEFORMATEX block (18 bytes, then as many extra bytes as its size field says) into a
// header; false, header untouched, when the block is shorter or its extra bytes run past it.
bool ParseWaveFormatEx(std::span<const uint8_t> block, VeAudioFormat& format);
// The WAVEFORMATEX block of a header: the 18 fixed bytes and its extra bytes.
std::vector<uint8_t> MakeWaveFormatEx(const VeAudioFormat& format);

// The information of a Windows Media Audio file.
class VeWmaMediaInfo : public VeMediaInfo {
public:
    AudioFileType Kind() const override { return AudioFileType::Wma; }
};

// Reads the audio format of a WMA file from its ASF header alone; nothing is decoded. The
// first stream must be audio with a WAVEFORMATEX format: its channels and sample rate, its bit
// rate (bits per second) and the file's duration (seconds, whole milliseconds) go to `info`,
// which is reset first. A file that is missing, no ASF, damaged or hostile gives false and
// leaves `info` as it was.
bool ProbeWmaFile(VeMediaInfo& info, const std::string& path);

// The format tag of the first stream's WAVEFORMATEX (0x0161 for Windows Media Audio 9
// Standard, 0x0162 Pro, 0x0163 Lossless, ...), read from the ASF header alone; 0 where there is
// none to read.
uint16_t ProbeWmaFormatTag(const std::string& path);

}  // namespace chm
