// The WMA probe reads the ASF header objects itself: the Header Object, the File Properties
// Object (duration), the first Stream Properties Object (stream 0, its WAVEFORMATEX) and the
// Stream Bitrate Properties Object (the stream's bit rate). Every size in the file is checked
// against what is really there before anything is read, so that garbage, truncated or hostile
// headers end in false and never in a read outside the file or an oversized allocation.
#include "wm/asf_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <optional>

#include "platform/file_system.h"
#include "platform/unique_fd.h"

namespace chm {
namespace {

// The one error type of the probe: raised on the first failed check, caught in ProbeWmaFile.
struct AsfError {};

[[noreturn]] void Reject() { throw AsfError{}; }

constexpr uint64_t kObjectHeaderSize = 24;  // GUID + 64-bit size
constexpr uint64_t kHeaderObjectSize = 30;  // + object count (4) + two reserved bytes
constexpr uint64_t kFilePropertiesBodySize = 80;
constexpr uint64_t kStreamPropertiesFixedSize = 54;
// The objects the probe reads are small (a stream's format is a few dozen bytes); a larger one
// is damaged or hostile and is never allocated.
constexpr uint64_t kMaxObjectBody = 1 << 20;
constexpr size_t kWaveFormatExSize = 18;

// The GUIDs of the ASF objects and stream types, written as their text forms read.
constexpr WmGuid kAsfHeaderObject{0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
constexpr WmGuid kAsfFileProperties{0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr WmGuid kAsfStreamProperties{0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
constexpr WmGuid kAsfStreamBitrateProperties{
    0x7BF875CE, 0x468D, 0x11D1, {0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2}};
constexpr WmGuid kAsfAudioMedia{0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};

// Little-endian fields out of a byte block (which must outlive it); running past its end is a
// rejection.
class ByteCursor {
public:
    explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t U8() { return Take(1)[0]; }
    uint16_t U16() { return static_cast<uint16_t>(Uint(2)); }
    uint32_t U32() { return static_cast<uint32_t>(Uint(4)); }
    uint64_t U64() { return Uint(8); }
    WmGuid Guid() { return WmGuid::FromBytes(Take(16).first<16>()); }
    void Skip(uint64_t n) { Take(n); }
    std::span<const uint8_t> Take(uint64_t n) {
        if (n > bytes_.size() - position_) Reject();
        const auto part = bytes_.subspan(position_, static_cast<size_t>(n));
        position_ += static_cast<size_t>(n);
        return part;
    }

private:
    uint64_t Uint(int size) {
        const auto part = Take(static_cast<uint64_t>(size));
        uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = (value << 8) | part[static_cast<size_t>(i)];
        return value;
    }

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

// The file, opened for reading only; every read must lie wholly inside it. O_NONBLOCK keeps a
// named pipe under the name from holding the open until a writer comes; it is refused as no
// regular file, and a regular file reads the same with it.
class AsfFile {
public:
    explicit AsfFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        struct stat st;
        if (!fd_.IsValid() || ::fstat(fd_.Get(), &st) != 0 || !S_ISREG(st.st_mode)) Reject();
        size_ = static_cast<uint64_t>(st.st_size);
    }

    uint64_t Size() const { return size_; }

    std::vector<uint8_t> Read(uint64_t offset, uint64_t length) const {
        if (offset > size_ || length > size_ - offset || length > kMaxObjectBody) Reject();
        std::vector<uint8_t> bytes(static_cast<size_t>(length));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd_.Get(), bytes.data() + done, bytes.size() - done,
                                      static_cast<off_t>(offset + done));
            if (n <= 0) Reject();  // an error, or the file shrank under us
            done += static_cast<size_t>(n);
        }
        return bytes;
    }

private:
    UniqueFd fd_;
    uint64_t size_ = 0;
};

struct FileProperties {
    uint64_t play_duration = 0;  // 100-ns units, preroll included
    uint64_t preroll_ms = 0;
};

struct StreamProperties {
    WmGuid stream_type;
    uint16_t stream_number = 0;
    std::vector<uint8_t> type_specific;
};

struct HeaderFacts {
    std::optional<FileProperties> file;
    std::optional<StreamProperties> first_stream;
    std::vector<std::pair<uint16_t, uint32_t>> bitrates;  // stream number, average bit rate
};

FileProperties ParseFileProperties(std::span<const uint8_t> body) {
    if (body.size() < kFilePropertiesBodySize) Reject();
    ByteCursor in(body);
    in.Skip(16 + 8 + 8 + 8);  // file id, file size, creation date, data packets count
    FileProperties file;
    file.play_duration = in.U64();
    in.Skip(8);  // send duration
    file.preroll_ms = in.U64();
    return file;
}

StreamProperties ParseStreamProperties(std::span<const uint8_t> body) {
    ByteCursor in(body);
    StreamProperties stream;
    stream.stream_type = in.Guid();
    in.Skip(16 + 8);  // error correction type, time offset
    const uint32_t type_specific_length = in.U32();
    const uint32_t error_correction_length = in.U32();
    stream.stream_number = in.U16() & 0x7F;
    in.Skip(4);  // reserved
    const auto type_specific = in.Take(type_specific_length);
    in.Skip(error_correction_length);
    stream.type_specific.assign(type_specific.begin(), type_specific.end());
    return stream;
}

std::vector<std::pair<uint16_t, uint32_t>> ParseStreamBitrates(std::span<const uint8_t> body) {
    ByteCursor in(body);
    const uint16_t count = in.U16();
    std::vector<std::pair<uint16_t, uint32_t>> records;
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t stream_number = in.U16() & 0x7F;
        records.emplace_back(stream_number, in.U32());
    }
    return records;
}

// Walks the header's child objects: each must lie wholly inside the header, and the header must
// hold as many as it announces.
HeaderFacts ReadHeader(const AsfFile& file) {
    const std::vector<uint8_t> top_bytes = file.Read(0, kHeaderObjectSize);
    ByteCursor top(top_bytes);
    if (top.Guid() != kAsfHeaderObject) Reject();
    const uint64_t header_size = top.U64();
    const uint32_t object_count = top.U32();
    if (header_size < kHeaderObjectSize || header_size > file.Size()) Reject();

    HeaderFacts facts;
    uint64_t offset = kHeaderObjectSize;
    for (uint32_t i = 0; i < object_count; ++i) {
        if (header_size - offset < kObjectHeaderSize) Reject();
        const std::vector<uint8_t> head_bytes = file.Read(offset, kObjectHeaderSize);
        ByteCursor head(head_bytes);
        const WmGuid id = head.Guid();
        const uint64_t size = head.U64();
        if (size < kObjectHeaderSize || size > header_size - offset) Reject();
        const uint64_t body_offset = offset + kObjectHeaderSize;
        const uint64_t body_size = size - kObjectHeaderSize;
        if (id == kAsfFileProperties && !facts.file) {
            facts.file = ParseFileProperties(file.Read(body_offset, body_size));
        } else if (id == kAsfStreamProperties && !facts.first_stream) {
            if (body_size < kStreamPropertiesFixedSize) Reject();
            facts.first_stream = ParseStreamProperties(file.Read(body_offset, body_size));
        } else if (id == kAsfStreamBitrateProperties && facts.bitrates.empty()) {
            facts.bitrates = ParseStreamBitrates(file.Read(body_offset, body_size));
        }
        offset += size;
    }
    if (!facts.file || !facts.first_stream) Reject();
    return facts;
}

// The runtime's "Duration" attribute: the play duration without the preroll, in 100-ns units.
uint64_t DurationUnits(const FileProperties& file) {
    constexpr uint64_t kUnitsPerMs = 10000;
    if (file.preroll_ms > file.play_duration / kUnitsPerMs) return 0;
    return file.play_duration - file.preroll_ms * kUnitsPerMs;
}

// The stream's own bit rate from the bit-rate records; a file without one gives the average
// rate of its format.
uint64_t StreamBitrate(const HeaderFacts& facts, const VeAudioFormat& format) {
    for (const auto& [number, bitrate] : facts.bitrates)
        if (number == facts.first_stream->stream_number) return bitrate;
    return static_cast<uint64_t>(format.avg_bytes_per_sec) * 8;
}

bool FitsInt32(uint64_t value) { return value <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max()); }

}  // namespace

WmGuid WmGuid::FromBytes(std::span<const uint8_t, 16> b) {
    WmGuid guid;
    guid.data1 = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
                 static_cast<uint32_t>(b[3]) << 24;
    guid.data2 = static_cast<uint16_t>(b[4] | b[5] << 8);
    guid.data3 = static_cast<uint16_t>(b[6] | b[7] << 8);
    std::memcpy(guid.data4.data(), b.data() + 8, 8);
    return guid;
}

WmGuid AudioSubtypeOf(uint16_t format_tag) {
    return WmGuid{format_tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

bool ParseWaveFormatEx(std::span<const uint8_t> block, VeAudioFormat& format) {
    try {
        ByteCursor in(block);
        VeAudioFormat parsed;
        parsed.format_tag = static_cast<int16_t>(in.U16());
        parsed.channels = in.U16();
        parsed.sample_rate = in.U32();
        parsed.avg_bytes_per_sec = in.U32();
        parsed.block_align = in.U16();
        parsed.bits_per_sample = in.U16();
        const uint16_t extra_size = in.U16();
        if (extra_size != 0) parsed.SetExtraBytes(in.Take(extra_size));
        format = std::move(parsed);
        return true;
    } catch (const AsfError&) {
        return false;
    }
}

std::vector<uint8_t> MakeWaveFormatEx(const VeAudioFormat& format) {
    std::vector<uint8_t> block;
    block.reserve(kWaveFormatExSize + format.extra_bytes.size());
    auto put = [&block](uint64_t value, int size) {
        for (int i = 0; i < size; ++i) block.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    put(static_cast<uint16_t>(format.format_tag), 2);
    put(format.channels, 2);
    put(format.sample_rate, 4);
    put(format.avg_bytes_per_sec, 4);
    put(format.block_align, 2);
    put(format.bits_per_sample, 2);
    put(format.extra_bytes.size(), 2);
    block.insert(block.end(), format.extra_bytes.begin(), format.extra_bytes.end());
    return block;
}

bool ProbeWmaFile(VeMediaInfo& info, const std::string& path) {
    // 1.
    if (path.empty() || !PathExists(path)) return false;
    try {
        // 2.-4. The header stands in for the reader, its first stream for the profile's stream 0.
        const AsfFile file(path);
        const HeaderFacts facts = ReadHeader(file);
        // 5.-6. Audio, and a complete WAVEFORMATEX.
        const StreamProperties& stream = *facts.first_stream;
        VeAudioFormat format;
        if (stream.stream_type != kAsfAudioMedia || stream.type_specific.size() < kWaveFormatExSize ||
            !ParseWaveFormatEx(stream.type_specific, format))
            return false;
        // 7.
        const uint64_t bitrate = StreamBitrate(facts, format);
        if (!FitsInt32(format.sample_rate) || !FitsInt32(bitrate)) return false;
        // 8. Whole milliseconds, truncated, in unsigned 64-bit arithmetic.
        const uint64_t milliseconds = DurationUnits(*facts.file) / 10000;
        info.Reset();
        info.channels = format.channels;
        info.sample_rate = static_cast<int32_t>(format.sample_rate);
        info.bit_rate = static_cast<int32_t>(bitrate);
        info.duration = static_cast<double>(milliseconds) * 0.001;
        return true;
    } catch (const AsfError&) {
        return false;
    }
}

uint16_t ProbeWmaFormatTag(const std::string& path) {
    if (path.empty() || !PathExists(path)) return 0;
    try {
        const AsfFile file(path);
        const HeaderFacts facts = ReadHeader(file);
        const StreamProperties& stream = *facts.first_stream;
        VeAudioFormat format;
        if (stream.stream_type != kAsfAudioMedia || !ParseWaveFormatEx(stream.type_specific, format)) return 0;
        return static_cast<uint16_t>(format.format_tag);
    } catch (const AsfError&) {
        return 0;
    }
}

}  // namespace chm
