#include "audio/mp3_decoder.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "audio/mapped_file_stream.h"
#include "audio/work_pacer.h"
#include "engine/task_progress.h"

namespace chm {
namespace {

// The only output format the decoder is allowed: signed 16-bit samples (0xD0).
constexpr int kEncoding = MPG123_ENC_SIGNED_16;
constexpr uint32_t kWavHeaderSize = 44;
constexpr uint32_t kStreamInitialSize = 4096;
constexpr size_t kOutblocksPerBuffer = 64;

// The one exception type of the decoders; it never leaves this file. The reason is for the
// developer reading a debugger, never for the user.
struct Mp3Failure {
    const char* reason;
};

void Require(bool condition, const char* reason = "") {
    if (!condition) throw Mp3Failure{reason};
}

void RequireNotCancelled(const TaskProgress* progress) {
    Require(!progress || !progress->IsCancelled(), "cancelled");
}

// mpg123_init once per process and mpg123_exit at process exit. A function-local static makes the
// first use safe from whichever thread comes first (the worker and the folder analysis both
// query files).
class Mpg123Library {
public:
    Mpg123Library() : ok_(mpg123_init() == MPG123_OK) {}
    ~Mpg123Library() {
        if (ok_) mpg123_exit();
    }
    Mpg123Library(const Mpg123Library&) = delete;
    Mpg123Library& operator=(const Mpg123Library&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

bool LibraryReady() {
    static Mpg123Library library;
    return library.Ok();
}

struct StreamFormat {
    long rate = 0;
    int channels = 0;
    int encoding = 0;
};

StreamFormat RequireFormat(mpg123_handle* handle) {
    StreamFormat format;
    Require(mpg123_getformat(handle, &format.rate, &format.channels, &format.encoding) == MPG123_OK,
            "no format");
    return format;
}

// Only the file's own rate and channel count in 16 bits, then the exact length from a full scan.
int64_t ForceFormatAndScan(mpg123_handle* handle, const StreamFormat& format) {
    Require(format.encoding == kEncoding, "bad encoding");
    Require(mpg123_format_none(handle) == MPG123_OK, "format_none");
    Require(mpg123_format(handle, format.rate, format.channels, kEncoding) == MPG123_OK, "format");
    Require(mpg123_scan(handle) == MPG123_OK, "scan");
    const int64_t length = mpg123_length(handle);
    Require(length >= 1, "empty stream");
    return length;
}

void StoreU16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void StoreU32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t FrameBytes(const StreamFormat& format) { return static_cast<uint32_t>(format.channels) * 2; }

// The data size of `frames` frames; a WAV file cannot describe more than 4 GiB.
uint32_t DataBytes(const StreamFormat& format, int64_t frames) {
    const uint64_t bytes = static_cast<uint64_t>(frames) * FrameBytes(format);
    Require(bytes + 36 <= UINT32_MAX, "too long for a WAV file");
    return static_cast<uint32_t>(bytes);
}

std::array<uint8_t, kWavHeaderSize> WavHeader(const StreamFormat& format, int64_t frames) {
    const uint32_t data_bytes = DataBytes(format, frames);
    const auto rate = static_cast<uint32_t>(format.rate);
    const auto channels = static_cast<uint16_t>(format.channels);
    std::array<uint8_t, kWavHeaderSize> h{};
    std::copy_n("RIFF", 4, h.begin());
    StoreU32(&h[4], data_bytes + 36);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    StoreU32(&h[16], 16);
    StoreU16(&h[20], 1);
    StoreU16(&h[22], channels);
    StoreU32(&h[24], rate);
    StoreU32(&h[28], rate * channels * 2);
    StoreU16(&h[32], static_cast<uint16_t>(channels * 2));
    StoreU16(&h[34], 16);
    std::copy_n("data", 4, h.begin() + 36);
    StoreU32(&h[40], data_bytes);
    return h;
}

void OpenWav(VeMappedFileStream& stream, const std::string& path, const StreamFormat& format, int64_t frames) {
    Require(stream.OpenForWrite(path, kStreamInitialSize), "cannot create the WAV file");
    const auto header = WavHeader(format, frames);
    Require(stream.Write(header.data(), 1, kWavHeaderSize) == kWavHeaderSize, "header");
}

std::vector<uint8_t> MakeReadBuffer(mpg123_handle* handle) {
    const size_t size = mpg123_outblock(handle) * kOutblocksPerBuffer;
    Require(size > 0, "no output block");
    return std::vector<uint8_t>(size);
}

struct ReadResult {
    int code;
    size_t done;
};

// New format and "need more" end the stream like its end; an error that came after some bytes
// of this call counts as the end too (a damaged last frame), one that came with none does not.
ReadResult ReadChunk(mpg123_handle* handle, std::vector<uint8_t>& buffer) {
    size_t done = 0;
    int code = mpg123_read(handle, buffer.data(), buffer.size(), &done);
    if (code == MPG123_NEW_FORMAT || code == MPG123_NEED_MORE) code = MPG123_DONE;
    if (code == MPG123_ERR && done > 0) code = MPG123_DONE;
    return {code, done};
}

void WriteAll(VeByteStream& stream, const uint8_t* bytes, size_t n) {
    if (n == 0) return;
    Require(n <= UINT32_MAX && stream.Write(bytes, 1, static_cast<uint32_t>(n)) == n, "short write");
}

void DecodeWholeSteps(const std::string& wav_path, const std::string& mp3_path, TaskProgress* progress) {
    // 1.
    Require(!wav_path.empty() && !mp3_path.empty(), "no path");
    RequireNotCancelled(progress);
    VeMp3Decoder decoder;
    Require(decoder.Open(mp3_path), "open");
    mpg123_handle* handle = decoder.Handle();
    // 2.-4.
    const StreamFormat format = RequireFormat(handle);
    const int64_t n = ForceFormatAndScan(handle, format);
    // 5.
    std::vector<uint8_t> buffer = MakeReadBuffer(handle);
    // 6.
    VeMappedFileStream stream;
    OpenWav(stream, wav_path, format, n);
    RequireNotCancelled(progress);
    // 7.
    VeWorkPacer pacer(110, 20);
    int64_t frames = 0;
    ReadResult result{};
    do {
        result = ReadChunk(handle, buffer);
        RequireNotCancelled(progress);
        WriteAll(stream, buffer.data(), result.done);
        frames += static_cast<int64_t>(result.done / FrameBytes(format));
        RequireNotCancelled(progress);
        if (progress) progress->SetPercent(static_cast<float>(static_cast<double>(frames) * 100.0 / n));
        pacer.Tick();
    } while (result.code == MPG123_OK);
    // 8.-9.
    Require(result.code == MPG123_DONE, "Warning: decoding ended prematurely.");
    Require(frames == n, "frame count differs from the scanned length");
    // 10. A WAV file short of its samples would load as shorter audio.
    Require(stream.Close(), "short WAV file");
}

// [first_ms, end_ms) as sample positions of a stream of n samples at `rate`.
struct SampleRange {
    int64_t first = 0;
    int64_t count = 0;
};

SampleRange ExcerptRange(uint32_t first_ms, uint32_t end_ms, int64_t n, long rate) {
    const int64_t total_ms = n * 1000 / rate;
    int64_t first = first_ms;
    int64_t end = end_ms;
    if (first > end) std::swap(first, end);
    Require(first < total_ms, "excerpt starts after the end");
    const int64_t s0 = first * rate / 1000;
    const int64_t s1 = std::min(std::min(end, total_ms) * rate / 1000, n);
    Require(s1 - s0 >= 1, "empty excerpt");
    return {s0, s1 - s0};
}

void PatchDataSize(VeByteStream& stream, const StreamFormat& format, int64_t written) {
    uint8_t bytes[4];
    const uint32_t data_bytes = DataBytes(format, written);
    StoreU32(bytes, data_bytes + 36);
    Require(stream.SeekTo(4) && stream.Write(bytes, 1, 4) == 4, "patch RIFF size");
    StoreU32(bytes, data_bytes);
    Require(stream.SeekTo(40) && stream.Write(bytes, 1, 4) == 4, "patch data size");
}

void DecodeExcerptSteps(const std::string& wav_path, const std::string& mp3_path, uint32_t first_ms,
                        uint32_t end_ms) {
    // 1.
    Require(!wav_path.empty() && !mp3_path.empty() && first_ms != end_ms, "no excerpt");
    VeMp3Decoder decoder;
    Require(decoder.Open(mp3_path), "open");
    mpg123_handle* handle = decoder.Handle();
    const StreamFormat format = RequireFormat(handle);
    Require(format.encoding == kEncoding, "bad encoding");
    Require(format.rate >= 1, "no rate");
    const int64_t n = ForceFormatAndScan(handle, format);
    // 2.-3.
    const SampleRange range = ExcerptRange(first_ms, end_ms, n, format.rate);
    // 4.
    Require(mpg123_seek(handle, range.first, SEEK_SET) >= 0, "seek");
    // 5.
    std::vector<uint8_t> buffer = MakeReadBuffer(handle);
    VeMappedFileStream stream;
    OpenWav(stream, wav_path, format, range.count);
    // 6.
    VeWorkPacer pacer(110, 20);
    const uint32_t frame_bytes = FrameBytes(format);
    int64_t written = 0;
    ReadResult result{};
    do {
        result = ReadChunk(handle, buffer);
        const auto frames = static_cast<int64_t>(result.done / frame_bytes);
        if (written + frames >= range.count) {
            WriteAll(stream, buffer.data(), static_cast<size_t>(range.count - written) * frame_bytes);
            written = range.count;
            result.code = MPG123_DONE;
            break;
        }
        WriteAll(stream, buffer.data(), result.done);
        written += frames;
        pacer.Tick();
    } while (result.code == MPG123_OK);
    // 7.-8.
    Require(result.code == MPG123_DONE, "Warning: decoding ended prematurely.");
    if (written < range.count) PatchDataSize(stream, format, written);
    // 9.
    Require(stream.Close(), "short WAV file");
}

int SamplesPerFrame(const mpg123_frameinfo& info) {
    if (info.layer == 1) return 384;
    if (info.layer == 2) return 1152;
    return info.version == MPG123_1_0 ? 1152 : 576;
}

// Moves to the next frame of the walk. The first is reached by seeking; the others are read one
// after the other, because after a seek libmpg123 reports the header of the frame it landed on
// for the bit reservoir, which lies up to a few frames earlier, so a walk by seeks would see
// only every other frame.
bool StepToFrame(mpg123_handle* handle, int64_t index, int64_t first) {
    if (index == first) return mpg123_seek_frame(handle, first, SEEK_SET) >= 0;
    const int code = mpg123_framebyframe_next(handle);
    return code == MPG123_OK || code == MPG123_NEW_FORMAT;
}

// CBR: the first frame's rate; VBR: the highest over all frames; ABR: the target rate.
int WalkBitRate(mpg123_handle* handle, int64_t first, int64_t last) {
    int kbps = 0;
    for (int64_t i = first; i < last; ++i) {
        if (!StepToFrame(handle, i, first)) break;
        mpg123_frameinfo info{};
        Require(mpg123_info(handle, &info) == MPG123_OK, "info");
        if (info.vbr == MPG123_CBR) {
            kbps = info.bitrate;
            if (kbps == 0) {  // free format: from the frame's size
                kbps = static_cast<int>(static_cast<double>(info.framesize) * static_cast<double>(info.rate) *
                                            0.008 / SamplesPerFrame(info) +
                                        0.5);
            }
            break;
        }
        if (info.vbr == MPG123_VBR) {
            kbps = std::max(kbps, info.bitrate);
            continue;
        }
        if (info.vbr == MPG123_ABR) {
            kbps = info.abr_rate;
            break;
        }
    }
    return kbps;
}

struct Mp3Facts {
    int channels = 0;
    long rate = 0;
    int kbps = 0;
    int64_t length = 0;
};

Mp3Facts QuerySteps(const std::string& path) {
    // 1.
    VeMp3Decoder decoder;
    Require(decoder.Open(path), "open");
    mpg123_handle* handle = decoder.Handle();
    // 2.
    const StreamFormat format = RequireFormat(handle);
    Require(format.rate != 0, "no rate");
    // 3.
    Require(mpg123_scan(handle) == MPG123_OK, "scan");
    // 4.
    const int64_t first = mpg123_seek_frame(handle, 0, SEEK_SET);
    Require(first >= 0, "seek to the first frame");
    const int64_t last = mpg123_seek_frame(handle, 0, SEEK_END);
    Require(last >= 0, "seek to the last frame");
    // 5.
    Mp3Facts facts;
    facts.kbps = WalkBitRate(handle, first, last);
    // 6.
    facts.length = mpg123_length(handle);
    Require(facts.length >= 0, "length");
    facts.channels = format.channels;
    facts.rate = format.rate;
    return facts;
}

}  // namespace

void VeMp3Decoder::HandleCloser::operator()(mpg123_handle_struct* handle) const {
    mpg123_close(handle);
    mpg123_delete(handle);
}

bool VeMp3Decoder::Open(const std::string& path) {
    // 1.-2.
    if (!LibraryReady() || path.empty()) return false;
    Close();
    // 3.
    int error = MPG123_OK;
    handle_.reset(mpg123_new(nullptr, &error));
    if (!handle_) return false;
    // Its diagnostics would go to the program's stderr; results are all the engine uses.
    mpg123_param(handle_.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // 4.-5. Paths are bytes here, the form the system takes. O_NONBLOCK lets a pipe under the
    // name be seen and refused instead of blocking the open; a regular file reads the same
    // without it.
    file_.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!file_.IsValid() || ::fstat(file_.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        mpg123_open_fd(handle_.get(), file_.Get()) != MPG123_OK) {
        Close();
        return false;
    }
    return true;
}

void VeMp3Decoder::Close() {
    handle_.reset();
    file_.Reset();
}

bool QueryMp3Info(const std::string& path, int32_t* channels, int32_t* rate, int32_t* bit_rate,
                  double* duration) {
    if (path.empty() || (!channels && !rate && !bit_rate && !duration)) return false;
    Mp3Facts facts;
    try {
        facts = QuerySteps(path);
    } catch (const Mp3Failure&) {
        return false;
    }
    // 7.
    if (channels) *channels = facts.channels;
    if (rate) *rate = static_cast<int32_t>(facts.rate);
    if (bit_rate) *bit_rate = facts.kbps * 1024;
    if (duration) *duration = static_cast<double>(facts.length / facts.rate);
    return true;
}

bool DecodeMp3ToWav(const std::string& wav_path, const std::string& mp3_path, TaskProgress* progress) {
    bool ok = false;
    try {
        DecodeWholeSteps(wav_path, mp3_path, progress);
        ok = true;
    } catch (const Mp3Failure&) {
    } catch (const std::bad_alloc&) {
    }
    return FinishProgress(progress, ok);
}

bool DecodeMp3ExcerptToWav(const std::string& wav_path, const std::string& mp3_path, uint32_t first_ms,
                           uint32_t end_ms) {
    try {
        DecodeExcerptSteps(wav_path, mp3_path, first_ms, end_ms);
        return true;
    } catch (const Mp3Failure&) {
    } catch (const std::bad_alloc&) {
    }
    return false;
}

bool ReadMp3MediaInfo(VeMediaInfo& info, const std::string& path) {
    int32_t channels = 0;
    int32_t rate = 0;
    int32_t bit_rate = 0;
    double duration = 0.0;
    if (!QueryMp3Info(path, &channels, &rate, &bit_rate, &duration)) return false;
    info.Reset();
    info.channels = channels;
    info.sample_rate = rate;
    info.bit_rate = bit_rate;
    info.duration = duration;
    return true;
}

}  // namespace chm
