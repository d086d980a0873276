#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "audio/media_info.h"
#include "platform/unique_fd.h"

// libmpg123's handle type, so that users of the decoder need not see its header.
struct mpg123_handle_struct;

namespace chm {

class TaskProgress;

// One libmpg123 handle, or none. Every operation below closes it before it returns.
class VeMp3Decoder {
public:
    VeMp3Decoder() = default;
    ~VeMp3Decoder() = default;
    VeMp3Decoder(const VeMp3Decoder&) = delete;
    VeMp3Decoder& operator=(const VeMp3Decoder&) = delete;

    // Initialises the library on first use in the process; fails for ever when that failed.
    // A handle that is still open is closed first; on failure the handle is closed.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    mpg123_handle_struct* Handle() const { return handle_.get(); }

private:
    struct HandleCloser {
        void operator()(mpg123_handle_struct* handle) const;
    };
    // The file is opened here, not by the library, so that only a regular file is ever read:
    // the library's own open would block on a named pipe for as long as no writer comes. It
    // outlives the handle that reads it.
    UniqueFd file_;
    std::unique_ptr<mpg123_handle_struct, HandleCloser> handle_;
};

// The information of an MP3 file, of kind MP3.
class VeMp3MediaInfo : public VeMediaInfo {
public:
    AudioFileType Kind() const override { return AudioFileType::Mp3; }
};

// Channels, rate, bit rate (the kbit/s figure x 1024) and duration (whole seconds) of a file;
// every output may be absent, but at least one must be asked for.
bool QueryMp3Info(const std::string& path, int32_t* channels, int32_t* rate, int32_t* bit_rate,
                  double* duration);

// Decodes the whole file into a 16-bit PCM WAV file. The frames delivered must add up to the
// length that the full scan found. Removing a failed output is the caller's business.
bool DecodeMp3ToWav(const std::string& wav_path, const std::string& mp3_path, TaskProgress* progress);

// Decodes [first_ms, end_ms) (swapped when reversed, cut at the end of the file) into a 16-bit PCM
// WAV file. An excerpt starting at or after the end fails.
bool DecodeMp3ExcerptToWav(const std::string& wav_path, const std::string& mp3_path, uint32_t first_ms,
                           uint32_t end_ms);

// Fills info from QueryMp3Info; on success the record is reset first, on failure left alone.
bool ReadMp3MediaInfo(VeMediaInfo& info, const std::string& path);

}  // namespace chm
