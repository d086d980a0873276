#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace chm {

class TaskProgress;
class VeAudioData;
class VeChannelSet;

// The LAME encoder library, bound at run time: without it MP3 saving fails and nothing else.
inline constexpr const char* kLameLibraryName = "libmp3lame.so.0";

// Takes effect only before the first GetLameEncoder call of the process: the library name to bind
// instead of kLameLibraryName. Tests use it to make the encoder missing.
void SetLameLibraryName(const std::string& name);

// The LAME entry points of one loaded library. Usable when the library and every required entry
// point are there; the LAME tag frame (the info tag) is optional, without it the VBR header is
// written by the library into the finished file itself.
class VeLameEncoder {
public:
    struct Options {
        std::string library_name = kLameLibraryName;
        // False binds as if the library had no LAME tag frame entry point.
        bool bind_info_tag = true;
    };

    // Loads <program folder>/name, else name through the system's library search. Failure leaves
    // the instance unusable; nothing is shown and nothing is retried.
    explicit VeLameEncoder(const Options& options);
    VeLameEncoder() : VeLameEncoder(Options{}) {}
    ~VeLameEncoder();
    VeLameEncoder(const VeLameEncoder&) = delete;
    VeLameEncoder& operator=(const VeLameEncoder&) = delete;

    bool IsUsable() const;
    bool HasInfoTagWriter() const;
    // The file the library was loaded from; empty when none was.
    const std::string& ModulePath() const { return module_path_; }

    // Encodes a valid, plain VeAudioData as VBR MP3 (128..192 kbit/s, VBR quality 4), then writes
    // the VBR header over the first frame. A failure after the output was opened leaves the partial
    // file (closed, cut to what was written) for the caller to remove; an unusable encoder fails
    // before anything is created.
    bool Encode(const std::string& path, VeAudioData& data, TaskProgress* progress);

    struct Api;

private:
    struct ModuleCloser {
        void operator()(void* module) const;
    };
    std::unique_ptr<void, ModuleCloser> module_;
    std::unique_ptr<Api> api_;
    std::string module_path_;
};

// The process-wide encoder, bound on the first call and released at process exit.
VeLameEncoder& GetLameEncoder();

// One encoder chunk from frame first_frame: the left channel into slots 0, c, 2c, ..., the right
// one of a stereo set into 1, c + 1, ..., c the set's channel count. Returns the samples delivered
// (frames x c); 0 at the end, when the buffer size is not a multiple of c, or on any error.
uint32_t FillEncoderChunk(VeChannelSet& set, std::span<int16_t> buffer, uint32_t first_frame);

}  // namespace chm
