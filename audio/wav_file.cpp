#include "audio/wav_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "audio/audio_data.h"
#include "audio/audio_format.h"
#include "audio/byte_stream.h"
#include "audio/file_stream.h"
#include "audio/frame_layout.h"
#include "audio/mapped_file_stream.h"
#include "audio/pcm_samples.h"
#include "audio/temp_file.h"
#include "engine/task_progress.h"
#include "platform/file_system.h"
#include "wm/decoding_graph.h"

namespace chm {
namespace {

// The first failed check of the reader; caught by ProbeWav, ReadWavChunks and LoadWav.
struct WavReadFailure {};
// The first failed check of the writer; caught by WriteWav and SaveWav.
struct WavWriteFailure {};

void RequireRead(bool condition) {
    if (!condition) throw WavReadFailure{};
}

void RequireWrite(bool condition) {
    if (!condition) throw WavWriteFailure{};
}

// Ids are compared as four characters, case-sensitively.
struct ChunkHeader {
    std::array<char, 4> id{};
    uint32_t size = 0;

    bool Is(std::string_view name) const { return std::string_view(id.data(), id.size()) == name; }
};

uint32_t LoadU32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreU16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void StoreU32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

ChunkHeader ReadChunkHeader(VeByteStream& stream) {
    uint8_t bytes[8];
    RequireRead(stream.Read(bytes, 1, 8) == 8);
    ChunkHeader chunk;
    std::memcpy(chunk.id.data(), bytes, 4);
    chunk.size = LoadU32(bytes + 4);
    return chunk;
}

// The RIFF size is never trusted: only the ids count.
void CheckRiff(VeByteStream& stream) {
    const ChunkHeader riff = ReadChunkHeader(stream);
    RequireRead(riff.Is("RIFF"));
    char form[4];
    RequireRead(stream.Read(form, 1, 4) == 4);
    RequireRead(std::string_view(form, 4) == "WAVE");
}

void SkipBytes(VeByteStream& stream, uint64_t n) {
    RequireRead(stream.Seek(static_cast<int64_t>(n), kSeekCurrent));
}

// The size of the "fmt " chunk of WAVEFORMATEXTENSIBLE: the PCM block, cbSize and its fields.
constexpr uint32_t kExtensibleFmtSize = VeAudioFormat::kPcmBlockSize + 2 + VeAudioFormat::kExtensibleExtraSize;

// The 16 bytes of a PCM format block set the header (extra size 0). An extensible header keeps
// the fields after cbSize as its extra bytes (they name the sample kind); any other further
// bytes of the chunk are skipped.
template <typename SetHeader>
void ApplyFmtChunk(VeByteStream& stream, uint32_t size, VeAudioFormat& header, SetHeader set_header) {
    RequireRead(size != 0);
    uint8_t block[VeAudioFormat::kPcmBlockSize];
    RequireRead(stream.Read(block, 1, sizeof block) == sizeof block);
    RequireRead(set_header(std::span<const uint8_t>(block, sizeof block)));
    RequireRead(size >= VeAudioFormat::kPcmBlockSize);
    uint32_t consumed = VeAudioFormat::kPcmBlockSize;
    if (header.format_tag == VeAudioFormat::kExtensibleTag && size >= kExtensibleFmtSize) {
        uint8_t extension[kExtensibleFmtSize - VeAudioFormat::kPcmBlockSize];
        RequireRead(stream.Read(extension, 1, sizeof extension) == sizeof extension);
        consumed = kExtensibleFmtSize;
        const uint16_t cb_size = static_cast<uint16_t>(extension[0] | (extension[1] << 8));
        if (cb_size >= VeAudioFormat::kExtensibleExtraSize)
            header.SetExtraBytes(std::span<const uint8_t>(extension + 2, VeAudioFormat::kExtensibleExtraSize));
    }
    if (size > consumed) SkipBytes(stream, size - consumed);
}

// Any chunk the reader does not use: its size must be positive as a signed number (a size of 0
// or one of 2 GiB and more is garbage), and an odd size is followed by the RIFF pad byte.
void SkipChunk(VeByteStream& stream, uint32_t size) {
    RequireRead(static_cast<int32_t>(size) > 0);
    SkipBytes(stream, uint64_t{size} + (size & 1));
}

// SPEAKER_FRONT_CENTER of the extensible channel mask.
constexpr uint32_t kFrontCentre = 0x4;

uint32_t FramesOf(const VeAudioFormat& header, uint32_t bytes) {
    return header.block_align == 0 ? 0 : bytes / header.block_align;
}

// The "data" chunk of the reader: header checks, the samples, then on to the end of the chunk.
void ReadDataChunk(VeByteStream& stream, uint32_t size, VeAudioData& data, TaskProgress* progress) {
    VeAudioFormat& header = data.Format();
    const uint32_t start = stream.Tell();
    // Only the bytes the file holds are samples: a size that claims more (streaming writers
    // leave 0xFFFFFFFF) must not turn a short file into gigabytes of silence.
    const uint32_t available = stream.Size() > start ? stream.Size() - start : 0;
    header.data_bytes = std::min(size, available);
    header.frames = FramesOf(header, header.data_bytes);
    // A "data" chunk before any "fmt " chunk fails here.
    RequireRead(header.IsComplete());
    RequireRead(header.frames != 0 && FrameLayoutOf(header).has_value());

    RequireRead(!IsCancelled(progress));
    VeChannelSet& set = data.ChannelSet();
    if (!set.IsEmpty()) set.Clear();
    if (!ReadPcmSamples(set, stream, header, progress)) {
        set.Clear();
        throw WavReadFailure{};
    }
    // The next chunk starts after this one's whole size (and its pad byte), wherever the
    // sample reads stopped: a size that is not a whole number of frames leaves bytes behind.
    const uint64_t end = uint64_t{start} + size;
    if (end >= stream.Size()) {
        RequireRead(stream.SeekToEnd());
    } else {
        RequireRead(stream.SeekTo(static_cast<uint32_t>(end)));
        if ((size & 1) != 0 && !stream.IsEof()) SkipBytes(stream, 1);
    }
    RequireRead(set.IsValid());
}

// Steps 2 and 3 of the chunk walk; true when a "data" chunk was read.
bool WalkChunks(VeByteStream& stream, VeAudioData& data, TaskProgress* progress) {
    // 2.
    CheckRiff(stream);
    // 3.
    bool read_samples = false;
    for (;;) {
        // 4. A cancel seen here fails the load.
        RequireRead(!IsCancelled(progress));
        const ChunkHeader chunk = ReadChunkHeader(stream);
        // A "fmt " chunk after the samples would give them a header they were not read with.
        if (chunk.Is("fmt ") && !read_samples) {
            ApplyFmtChunk(stream, chunk.size, data.Format(),
                          [&data](std::span<const uint8_t> b) { return data.SetFromPcmBlock(b); });
        } else if (chunk.Is("data")) {
            ReadDataChunk(stream, chunk.size, data, progress);
            read_samples = true;
        } else {
            SkipChunk(stream, chunk.size);
        }
        if (stream.IsEof()) return read_samples;
    }
}

// Tag 1 is always read directly (a depth it cannot read fails there); PCM and float of the
// other tags when the sample loops know their layout.
bool IsDirectKind(const VeAudioFormat& header) {
    return header.format_tag == VeAudioFormat::kPcmTag || FrameLayoutOf(header).has_value();
}

// The probe's walk: the first "data" chunk ends it.
void ProbeChunks(VeByteStream& stream, VeAudioFormat& header) {
    CheckRiff(stream);
    while (!stream.IsEof()) {
        const ChunkHeader chunk = ReadChunkHeader(stream);
        if (chunk.Is("fmt ")) {
            ApplyFmtChunk(stream, chunk.size, header,
                          [&header](std::span<const uint8_t> b) { return header.SetFromPcmBlock(b); });
        } else if (chunk.Is("data")) {
            // Frames are counted for every kind that is read directly; a decoded kind's are not
            // known before decoding.
            const bool direct = IsDirectKind(header);
            header.data_bytes = chunk.size;
            header.frames = direct ? FramesOf(header, chunk.size) : 0;
            RequireRead(header.IsWellFormed() && (header.extra_size == 0 || header.HasExtraBytes()) &&
                        (header.frames != 0 || !direct) && header.data_bytes != 0);
            return;
        } else {
            SkipChunk(stream, chunk.size);
        }
    }
}

// Steps 1-5 of the load; the temporary file is the caller's, so that it goes on every path.
void LoadSteps(VeAudioData& data, const std::string& path, TaskProgress* progress, TemporaryFile& temporary) {
    // 1.
    RequireRead(!IsCancelled(progress));
    const uint32_t range = progress ? progress->Total() : 0;
    const uint32_t convert_units = ProgressShare(progress, 0.2);
    // 2.
    VeAudioFormat probed;
    RequireRead(ProbeWav(path, probed));
    // 3. A header that is not well-formed came without a "data" chunk: the direct reader
    // decides about such a file.
    std::string source = path;
    if (!IsDirectKind(probed) && probed.IsWellFormed()) {
        RequireRead(temporary.Reserve());
        std::unique_ptr<ChildProgress> child = MakeChildProgress(progress, convert_units);
        RequireRead(DecodeToWav(path, temporary.Path(), child.get()));
        source = temporary.Path();
    } else if (progress) {
        progress->Advance(convert_units);
    }
    // 4. Read-only: a write-protected source loads as well.
    VeMappedFileStream stream;
    RequireRead(stream.OpenForRead(source));
    // 5.
    std::unique_ptr<ChildProgress> child = MakeChildProgress(progress, range - convert_units);
    RequireRead(ReadWavChunks(stream, data, child.get()));
}

// The header a mono or stereo output is written with: the source's kind and depth, canonical.
// 8-, 16- and 24-bit PCM become tag 1 whatever header they came with; 32-bit PCM and the floats
// keep their tag (an extensible one its sub-format and valid bits); the byte rate is recomputed,
// and an extensible mono output says front centre.
VeAudioFormat OutputFormat(const VeAudioFormat& header) {
    const std::optional<FrameLayout> layout = FrameLayoutOf(header);
    RequireWrite(layout.has_value());
    VeAudioFormat out;
    out.format_tag = header.format_tag;
    out.channels = header.channels;
    out.sample_rate = header.sample_rate;
    out.block_align = header.block_align;
    out.bits_per_sample = header.bits_per_sample;
    const uint64_t rate = uint64_t{header.sample_rate} * header.block_align;
    RequireWrite(rate <= UINT32_MAX);
    out.avg_bytes_per_sec = static_cast<uint32_t>(rate);
    const bool narrow_pcm = !IsFloatEncoding(layout->encoding) && layout->encoding != SampleEncoding::kSigned32;
    if (narrow_pcm) {
        out.format_tag = VeAudioFormat::kPcmTag;
    } else if (out.format_tag == VeAudioFormat::kExtensibleTag) {
        ExtensibleFields fields = *ExtensibleFieldsOf(header);
        fields.valid_bits = layout->valid_bits;
        if (out.channels == 1) fields.channel_mask = kFrontCentre;
        out.SetExtraBytes(ExtensibleExtraBytes(fields));
    }
    return out;
}

// The chunks before the samples: "RIFF" and "WAVE", "fmt " (16 bytes for tag 1, 18 with a cbSize
// of 0 for tag 3, 40 for extensible), "fact" with the frame count for every tag but 1, and the
// "data" chunk header.
std::vector<uint8_t> HeaderBytes(const VeAudioFormat& out, uint32_t frames, uint64_t data_bytes) {
    const bool pcm = out.format_tag == VeAudioFormat::kPcmTag;
    const uint32_t fmt_size = pcm ? 16 : 18 + out.extra_size;
    const uint32_t size = 12 + 8 + fmt_size + (pcm ? 0 : 12) + 8;
    const uint32_t pad = static_cast<uint32_t>(data_bytes & 1);
    // The sizes are 32-bit fields: audio whose RIFF size would not fit cannot be written.
    RequireWrite(size - 8 + data_bytes + pad <= UINT32_MAX);
    std::vector<uint8_t> bytes(size);
    uint8_t* p = bytes.data();
    auto id = [&p](const char* name) { std::memcpy(p, name, 4); p += 4; };
    auto u16 = [&p](uint16_t value) { StoreU16(p, value); p += 2; };
    auto u32 = [&p](uint32_t value) { StoreU32(p, value); p += 4; };
    id("RIFF");
    u32(static_cast<uint32_t>(size - 8 + data_bytes + pad));
    id("WAVE");
    id("fmt ");
    u32(fmt_size);
    u16(static_cast<uint16_t>(out.format_tag));
    u16(out.channels);
    u32(out.sample_rate);
    u32(out.avg_bytes_per_sec);
    u16(out.block_align);
    u16(out.bits_per_sample);
    if (!pcm) {
        u16(out.extra_size);
        std::copy(out.extra_bytes.begin(), out.extra_bytes.end(), p);
        p += out.extra_bytes.size();
        id("fact");
        u32(4);
        u32(frames);
    }
    id("data");
    u32(static_cast<uint32_t>(data_bytes));
    return bytes;
}

// Steps 1-5 of the writer.
void WriteSteps(VeByteStream& stream, VeAudioData& data, TaskProgress* progress) {
    const VeAudioFormat& header = data.Format();
    VeChannelSet& set = data.ChannelSet();
    // 1.
    RequireWrite(stream.IsOpen());
    RequireWrite(header.IsComplete());
    RequireWrite(set.IsValid() && set.IsPlain());
    RequireWrite(!IsCancelled(progress));
    VeAudioFormat out = OutputFormat(header);
    RequireWrite(stream.Rewind());
    // 2.
    const uint64_t data_bytes = uint64_t{set.frames} * out.block_align;
    // 3.
    const std::vector<uint8_t> bytes = HeaderBytes(out, set.frames, data_bytes);
    RequireWrite(stream.Write(bytes.data(), 1, static_cast<uint32_t>(bytes.size())) == bytes.size());
    // 4. The sample loop checks the frames against the output header.
    out.frames = set.frames;
    out.data_bytes = static_cast<uint32_t>(data_bytes);
    RequireWrite(WritePcmSamples(set, stream, out, progress));
    // 5.
    if ((data_bytes & 1) != 0) RequireWrite(stream.WriteByte(0));
}

// Step 2 of the save: a set that is not plain is written from a plain copy.
void SaveSteps(VeMappedFileStream& stream, VeAudioData& data, TaskProgress* progress) {
    if (data.ChannelSet().IsPlain()) {
        RequireWrite(WriteWav(stream, data, progress));
        return;
    }
    const uint32_t range = progress ? progress->Total() : 0;
    const uint32_t copy_units = ProgressShare(progress, 0.2);
    VeAudioData copy;
    {
        std::unique_ptr<ChildProgress> child = MakeChildProgress(progress, copy_units);
        RequireWrite(data.CopyTo(copy, child.get()));
    }
    std::unique_ptr<ChildProgress> child = MakeChildProgress(progress, range - copy_units);
    RequireWrite(WriteWav(stream, copy, child.get()));
}

}  // namespace

uint64_t WavFileSize(const VeAudioData& data) {
    try {
        const VeAudioFormat out = OutputFormat(data.Format());
        const uint64_t data_bytes = uint64_t{data.ChannelSet().frames} * out.block_align;
        return HeaderBytes(out, data.ChannelSet().frames, data_bytes).size() + data_bytes + (data_bytes & 1);
    } catch (const WavWriteFailure&) {
    }
    return 0;
}

bool ProbeWav(const std::string& path, VeAudioFormat& header) {
    header.Clear();
    try {
        // 1.
        VeFileStream stream;
        RequireRead(stream.OpenForRead(path));
        // 2. and 3.
        ProbeChunks(stream, header);
        return true;
    } catch (const WavReadFailure&) {
    }
    header.Clear();
    return false;
}

bool ReadWavChunks(VeByteStream& stream, VeAudioData& data, TaskProgress* progress) {
    // 1.
    if (!stream.IsOpen() || IsCancelled(progress)) {
        if (progress) progress->Fail();
        return false;
    }
    data.ClearHeader();
    data.ChannelSet().Clear();
    try {
        // Without a "data" chunk the file holds no audio: it loads as empty audio, header included.
        if (!WalkChunks(stream, data, progress)) data.Reset();
        if (progress) progress->Complete();
        return true;
    } catch (const WavReadFailure&) {
    } catch (const std::bad_alloc&) {
    }
    data.Reset();
    if (progress) progress->Fail();
    return false;
}

bool LoadWav(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    data.Reset();
    bool loaded = false;
    {
        TemporaryFile temporary;
        try {
            LoadSteps(data, path, progress, temporary);
            loaded = true;
        } catch (const WavReadFailure&) {
        } catch (const std::bad_alloc&) {
        }
    }
    // 6. The temporary file is gone by now, whatever happened.
    if (!loaded) data.Reset();
    return FinishProgress(progress, loaded);
}

bool WriteWav(VeByteStream& stream, VeAudioData& data, TaskProgress* progress) {
    try {
        WriteSteps(stream, data, progress);
        if (progress) progress->Complete();
        return true;
    } catch (const WavWriteFailure&) {
    } catch (const std::bad_alloc&) {
    }
    if (progress) progress->Fail();
    return false;
}

bool SaveWav(VeAudioData& data, const std::string& path, TaskProgress* progress) {
    // A cancelled save does not even create the file.
    if (IsCancelled(progress)) {
        progress->Fail();
        return false;
    }
    // 1.
    VeMappedFileStream stream;
    if (!stream.OpenForWrite(path, 4096)) {
        if (progress) progress->Fail();
        return false;
    }
    bool saved = false;
    try {
        // 2.
        SaveSteps(stream, data, progress);
        saved = true;
    } catch (const WavWriteFailure&) {
    } catch (const std::bad_alloc&) {
    }
    // 3. Closing cuts the file to the bytes written; bytes that never reached it, or a file of
    // any other length, make the save a failure.
    if (!stream.Close()) saved = false;
    if (saved) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        saved = !ec && size == WavFileSize(data);
    }
    // A partial output is never left behind, whoever called.
    if (!saved) RemoveFile(path);
    return FinishProgress(progress, saved);
}

}  // namespace chm
