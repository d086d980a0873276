#include "audio/lame_encoder.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <lame/lame.h>
#include <link.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

#include "audio/audio_data.h"
#include "audio/mapped_file_stream.h"
#include "audio/pcm_samples.h"
#include "audio/work_pacer.h"
#include "engine/task_progress.h"
#include "platform/unique_fd.h"

namespace chm {

// The entry points bound from the library. The first group is what the encoder cannot work
// without; the LAME tag frame is optional; the report hooks only keep the library quiet.
struct VeLameEncoder::Api {
    decltype(&lame_init) init = nullptr;
    decltype(&lame_set_in_samplerate) set_in_samplerate = nullptr;
    decltype(&lame_set_out_samplerate) set_out_samplerate = nullptr;
    decltype(&lame_set_num_channels) set_num_channels = nullptr;
    decltype(&lame_set_mode) set_mode = nullptr;
    decltype(&lame_set_brate) set_brate = nullptr;
    decltype(&lame_set_quality) set_quality = nullptr;
    decltype(&lame_set_copyright) set_copyright = nullptr;
    decltype(&lame_set_original) set_original = nullptr;
    decltype(&lame_set_error_protection) set_error_protection = nullptr;
    decltype(&lame_set_extension) set_extension = nullptr;
    decltype(&lame_set_emphasis) set_emphasis = nullptr;
    decltype(&lame_set_strict_ISO) set_strict_iso = nullptr;
    decltype(&lame_set_disable_reservoir) set_disable_reservoir = nullptr;
    decltype(&lame_set_VBR) set_vbr = nullptr;
    decltype(&lame_set_VBR_quality) set_vbr_quality = nullptr;
    decltype(&lame_set_VBR_min_bitrate_kbps) set_vbr_min_bitrate = nullptr;
    decltype(&lame_set_VBR_max_bitrate_kbps) set_vbr_max_bitrate = nullptr;
    decltype(&lame_set_bWriteVbrTag) set_write_vbr_tag = nullptr;
    decltype(&lame_set_write_id3tag_automatic) set_write_id3tag_automatic = nullptr;
    decltype(&lame_init_params) init_params = nullptr;
    decltype(&lame_get_framesize) get_framesize = nullptr;
    decltype(&lame_encode_buffer) encode_buffer = nullptr;
    decltype(&lame_encode_buffer_interleaved) encode_buffer_interleaved = nullptr;
    decltype(&lame_encode_flush) encode_flush = nullptr;
    decltype(&lame_close) close = nullptr;
    decltype(&lame_mp3_tags_fid) mp3_tags_fid = nullptr;
    // Optional.
    decltype(&lame_get_lametag_frame) get_lametag_frame = nullptr;
    decltype(&lame_set_errorf) set_errorf = nullptr;
    decltype(&lame_set_debugf) set_debugf = nullptr;
    decltype(&lame_set_msgf) set_msgf = nullptr;

    bool Complete() const {
        return init && set_in_samplerate && set_out_samplerate && set_num_channels && set_mode && set_brate &&
               set_quality && set_copyright && set_original && set_error_protection && set_extension &&
               set_emphasis && set_strict_iso && set_disable_reservoir && set_vbr && set_vbr_quality &&
               set_vbr_min_bitrate && set_vbr_max_bitrate && set_write_vbr_tag && set_write_id3tag_automatic &&
               init_params && get_framesize && encode_buffer && encode_buffer_interleaved && encode_flush &&
               close && mp3_tags_fid;
    }
};

namespace {

constexpr uint32_t kStreamInitialSize = 4096;

// The one exception type of the encoder; it never leaves this file.
struct EncodeFailure {};

void Require(bool condition) {
    if (!condition) throw EncodeFailure{};
}

void RequireNotCancelled(const TaskProgress* progress) { Require(!progress || !progress->IsCancelled()); }

std::string& ConfiguredLibraryName() {
    static std::string name = kLameLibraryName;
    return name;
}

std::string ProgramFolder() {
    std::error_code ec;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return program.parent_path().string();
}

template <typename Fn>
void BindEntry(void* module, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(::dlsym(module, name));
}

void BindApi(void* module, VeLameEncoder::Api& api, bool bind_info_tag) {
    BindEntry(module, "lame_init", api.init);
    BindEntry(module, "lame_set_in_samplerate", api.set_in_samplerate);
    BindEntry(module, "lame_set_out_samplerate", api.set_out_samplerate);
    BindEntry(module, "lame_set_num_channels", api.set_num_channels);
    BindEntry(module, "lame_set_mode", api.set_mode);
    BindEntry(module, "lame_set_brate", api.set_brate);
    BindEntry(module, "lame_set_quality", api.set_quality);
    BindEntry(module, "lame_set_copyright", api.set_copyright);
    BindEntry(module, "lame_set_original", api.set_original);
    BindEntry(module, "lame_set_error_protection", api.set_error_protection);
    BindEntry(module, "lame_set_extension", api.set_extension);
    BindEntry(module, "lame_set_emphasis", api.set_emphasis);
    BindEntry(module, "lame_set_strict_ISO", api.set_strict_iso);
    BindEntry(module, "lame_set_disable_reservoir", api.set_disable_reservoir);
    BindEntry(module, "lame_set_VBR", api.set_vbr);
    BindEntry(module, "lame_set_VBR_quality", api.set_vbr_quality);
    BindEntry(module, "lame_set_VBR_min_bitrate_kbps", api.set_vbr_min_bitrate);
    BindEntry(module, "lame_set_VBR_max_bitrate_kbps", api.set_vbr_max_bitrate);
    BindEntry(module, "lame_set_bWriteVbrTag", api.set_write_vbr_tag);
    BindEntry(module, "lame_set_write_id3tag_automatic", api.set_write_id3tag_automatic);
    BindEntry(module, "lame_init_params", api.init_params);
    BindEntry(module, "lame_get_framesize", api.get_framesize);
    BindEntry(module, "lame_encode_buffer", api.encode_buffer);
    BindEntry(module, "lame_encode_buffer_interleaved", api.encode_buffer_interleaved);
    BindEntry(module, "lame_encode_flush", api.encode_flush);
    BindEntry(module, "lame_close", api.close);
    BindEntry(module, "lame_mp3_tags_fid", api.mp3_tags_fid);
    if (bind_info_tag) BindEntry(module, "lame_get_lametag_frame", api.get_lametag_frame);
    BindEntry(module, "lame_set_errorf", api.set_errorf);
    BindEntry(module, "lame_set_debugf", api.set_debugf);
    BindEntry(module, "lame_set_msgf", api.set_msgf);
}

std::string LoadedPath(void* module) {
    link_map* map = nullptr;
    if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    return map->l_name;
}

// The encoder settings, as the encoder DLL's BE_CONFIG (LHV1 form) states them.
struct LameSettings {
    static constexpr int kModeJointStereo = 1;
    static constexpr int kModeMono = 3;
    static constexpr int kPresetHighQuality = 2;
    static constexpr int kMpeg1 = 1;
    static constexpr int kVbrMethodDefault = 0;

    uint32_t sample_rate = 0;
    uint32_t resample_rate = 0;
    int mode = kModeJointStereo;
    uint32_t bitrate = 128;  // kbit/s, the VBR minimum
    uint32_t max_bitrate = 192;
    int preset = kPresetHighQuality;
    int mpeg_version = kMpeg1;
    bool private_bit = false;
    bool crc = false;
    bool copyright = false;
    bool original = false;
    bool write_vbr_header = true;
    bool enable_vbr = true;
    int vbr_quality = 4;
    int vbr_method = kVbrMethodDefault;
    bool no_reservoir = true;
    bool strict_iso = false;
};

LameSettings SettingsFor(const VeAudioFormat& header) {
    LameSettings settings;
    settings.sample_rate = header.sample_rate;
    settings.mode = header.channels == 1 ? LameSettings::kModeMono : LameSettings::kModeJointStereo;
    return settings;
}

// MPEG-1 exists only at 32, 44.1 and 48 kHz; the 128 kbit/s VBR floor exists only in MPEG-1.
// Other input rates are resampled to the nearest of those above (below, past 48 kHz).
int Mpeg1RateFor(uint32_t rate) {
    if (rate <= 32000) return 32000;
    if (rate <= 44100) return 44100;
    if (rate <= 48000 || rate % 44100 != 0) return 48000;
    return 44100;
}

void Quiet(const char*, va_list) {}

// One encoder stream from its initialisation to its release.
class LameStream {
public:
    explicit LameStream(const VeLameEncoder::Api& api) : api_(api) {}
    ~LameStream() { Close(); }
    LameStream(const LameStream&) = delete;
    LameStream& operator=(const LameStream&) = delete;

    // Returns the samples per chunk (all channels) and the output buffer size, 0 on failure.
    bool Init(const LameSettings& settings, uint32_t& chunk_samples, uint32_t& buffer_size) {
        flags_ = api_.init();
        if (!flags_) return false;
        Apply(settings);
        if (api_.init_params(flags_) < 0) return false;
        channels_ = settings.mode == LameSettings::kModeMono ? 1 : 2;
        const int frame_size = api_.get_framesize(flags_);
        if (frame_size <= 0) return false;
        chunk_samples = static_cast<uint32_t>(frame_size) * channels_;
        // LAME's own worst case for one call: 1.25 x samples per channel + 7200 bytes.
        buffer_size = static_cast<uint32_t>(frame_size) * 5 / 4 + 7200;
        return true;
    }

    // `samples` counts all channels, as the chunk holds them interleaved.
    int EncodeChunk(uint32_t samples, int16_t* input, std::vector<uint8_t>& output) {
        const int frames = static_cast<int>(samples / channels_);
        const int size = static_cast<int>(output.size());
        if (channels_ == 1) return api_.encode_buffer(flags_, input, input, frames, output.data(), size);
        return api_.encode_buffer_interleaved(flags_, input, frames, output.data(), size);
    }

    int Flush(std::vector<uint8_t>& output) {
        return api_.encode_flush(flags_, output.data(), static_cast<int>(output.size()));
    }

    // The final LAME tag frame (Xing/Info header with the LAME extension); empty when unavailable.
    std::vector<uint8_t> InfoTagFrame() {
        if (!api_.get_lametag_frame) return {};
        std::vector<uint8_t> frame(2880);  // the largest MPEG-1 Layer III frame
        const size_t size = api_.get_lametag_frame(flags_, frame.data(), frame.size());
        if (size == 0 || size > frame.size()) return {};
        frame.resize(size);
        return frame;
    }

    // The library rewrites the VBR header of the finished file itself.
    void WriteVbrHeader(const std::string& path) {
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r+b"), &std::fclose);
        if (file) api_.mp3_tags_fid(flags_, file.get());
    }

    void Close() {
        if (flags_) api_.close(flags_);
        flags_ = nullptr;
    }

private:
    void Apply(const LameSettings& s) {
        if (api_.set_errorf) api_.set_errorf(flags_, &Quiet);
        if (api_.set_debugf) api_.set_debugf(flags_, &Quiet);
        if (api_.set_msgf) api_.set_msgf(flags_, &Quiet);
        api_.set_in_samplerate(flags_, static_cast<int>(s.sample_rate));
        int out_rate = static_cast<int>(s.resample_rate);
        if (out_rate == 0 && s.mpeg_version == LameSettings::kMpeg1) out_rate = Mpeg1RateFor(s.sample_rate);
        api_.set_out_samplerate(flags_, out_rate);
        const bool mono = s.mode == LameSettings::kModeMono;
        api_.set_num_channels(flags_, mono ? 1 : 2);
        api_.set_mode(flags_, mono ? MONO : JOINT_STEREO);
        api_.set_brate(flags_, static_cast<int>(s.bitrate));
        if (s.preset == LameSettings::kPresetHighQuality) api_.set_quality(flags_, 2);
        api_.set_copyright(flags_, s.copyright);
        api_.set_original(flags_, s.original);
        api_.set_error_protection(flags_, s.crc);
        api_.set_extension(flags_, s.private_bit);
        api_.set_emphasis(flags_, 0);
        api_.set_strict_iso(flags_, s.strict_iso);
        api_.set_disable_reservoir(flags_, s.no_reservoir);
        if (s.enable_vbr) {
            api_.set_vbr(flags_, vbr_default);
            api_.set_vbr_quality(flags_, static_cast<float>(s.vbr_quality));
            api_.set_vbr_min_bitrate(flags_, static_cast<int>(s.bitrate));
            api_.set_vbr_max_bitrate(flags_, static_cast<int>(s.max_bitrate));
        }
        api_.set_write_vbr_tag(flags_, s.write_vbr_header);
        // The media properties are written by their own writer after the encode.
        api_.set_write_id3tag_automatic(flags_, 0);
    }

    const VeLameEncoder::Api& api_;
    lame_t flags_ = nullptr;
    uint32_t channels_ = 1;
};

void WriteBytes(VeByteStream& stream, const std::vector<uint8_t>& bytes, int count) {
    Require(count >= 0);
    if (count == 0) return;
    Require(stream.Write(bytes.data(), 1, static_cast<uint32_t>(count)) == static_cast<uint32_t>(count));
}

// Where the first audio frame starts: after an ID3v2 tag, if the file has one.
int64_t FirstFrameOffset(int fd) {
    uint8_t head[10];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return -1;
    if (head[0] != 'I' || head[1] != 'D' || head[2] != '3') return 0;
    const int64_t size = (int64_t{head[6] & 0x7F} << 21) | (int64_t{head[7] & 0x7F} << 14) |
                         (int64_t{head[8] & 0x7F} << 7) | int64_t{head[9] & 0x7F};
    const bool footer = (head[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

// The tag frame replaces the placeholder frame of the same size that the encoder put first.
void WriteOverFirstFrame(const std::string& path, const std::vector<uint8_t>& frame) {
    if (frame.empty()) return;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.IsValid()) return;
    const int64_t offset = FirstFrameOffset(fd.Get());
    if (offset < 0) return;
    uint8_t sync[2];
    if (::pread(fd.Get(), sync, 2, offset) != 2 || sync[0] != 0xFF || (sync[1] & 0xE0) != 0xE0) return;
    if (::pwrite(fd.Get(), frame.data(), frame.size(), offset) != static_cast<ssize_t>(frame.size())) return;
}

void EncodeSteps(const VeLameEncoder::Api& api, bool info_tag, const std::string& path, VeAudioData& data,
                 TaskProgress* progress) {
    const VeAudioFormat& header = data.Format();
    VeChannelSet& set = data.ChannelSet();
    // The chunk holds the set's channels, the encoder counts the header's: they must agree.
    Require(header.channels == set.channels);
    // 2.
    VeMappedFileStream output_stream;
    Require(output_stream.OpenForWrite(path, kStreamInitialSize));
    // 3.
    LameStream stream(api);
    uint32_t chunk_samples = 0;
    uint32_t buffer_size = 0;
    Require(stream.Init(SettingsFor(header), chunk_samples, buffer_size));
    // 4. A failed allocation throws and the stream is closed on the way out.
    std::vector<uint8_t> output(buffer_size);
    std::vector<int16_t> input(chunk_samples);
    // 5.
    const uint32_t total = header.frames;
    uint32_t position = 0;
    VeWorkPacer pacer(110, 20);
    // 6.
    for (;;) {
        const uint32_t samples = FillEncoderChunk(set, input, position);
        if (samples == 0) break;
        position += samples / header.channels;
        RequireNotCancelled(progress);
        const int bytes = stream.EncodeChunk(samples, input.data(), output);
        Require(bytes >= 0);
        RequireNotCancelled(progress);
        WriteBytes(output_stream, output, bytes);
        RequireNotCancelled(progress);
        if (progress && total != 0)
            progress->SetPercent(static_cast<float>(static_cast<double>(position) * 100.0 / total));
        pacer.Tick();
    }
    // A chunk that could not be filled before the end must not pass for the end of the audio.
    Require(position == set.frames);
    // 7.
    const int bytes = stream.Flush(output);
    Require(bytes >= 0);
    WriteBytes(output_stream, output, bytes);
    // 8. The tag frame is taken while the encoder state still exists; LAME frees it with the stream.
    const std::vector<uint8_t> tag = info_tag ? stream.InfoTagFrame() : std::vector<uint8_t>{};
    // 9. Bytes that did not reach the file leave a short MP3, which is no converted file.
    Require(output_stream.Close());
    // 10. Results are not examined: the audio is complete either way.
    if (info_tag)
        WriteOverFirstFrame(path, tag);
    else
        stream.WriteVbrHeader(path);
    stream.Close();
}

}  // namespace

void SetLameLibraryName(const std::string& name) { ConfiguredLibraryName() = name; }

void VeLameEncoder::ModuleCloser::operator()(void* module) const { ::dlclose(module); }

VeLameEncoder::VeLameEncoder(const Options& options) {
    const std::string& name = options.library_name;
    if (name.empty()) return;
    void* module = nullptr;
    const std::string folder = ProgramFolder();
    if (!folder.empty()) module = ::dlopen((folder + "/" + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) module = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) return;
    module_.reset(module);
    module_path_ = LoadedPath(module);
    api_ = std::make_unique<Api>();
    BindApi(module, *api_, options.bind_info_tag);
}

VeLameEncoder::~VeLameEncoder() = default;

bool VeLameEncoder::IsUsable() const { return module_ && api_ && api_->Complete(); }

bool VeLameEncoder::HasInfoTagWriter() const { return IsUsable() && api_->get_lametag_frame; }

bool VeLameEncoder::Encode(const std::string& path, VeAudioData& data, TaskProgress* progress) {
    bool ok = false;
    // 1.
    if (!(progress && progress->IsCancelled()) && IsUsable() && !path.empty() && data.IsValid()) {
        try {
            EncodeSteps(*api_, HasInfoTagWriter(), path, data, progress);
            ok = true;
        } catch (const EncodeFailure&) {
        } catch (const std::bad_alloc&) {
        }
    }
    // 11.
    return FinishProgress(progress, ok);
}

VeLameEncoder& GetLameEncoder() {
    static VeLameEncoder encoder(VeLameEncoder::Options{ConfiguredLibraryName(), true});
    return encoder;
}

uint32_t FillEncoderChunk(VeChannelSet& set, std::span<int16_t> buffer, uint32_t first_frame) {
    const uint16_t channels = set.channels;
    if (channels == 0 || channels > 2 || buffer.empty() || buffer.size() % channels != 0) return 0;
    if (first_frame >= set.frames) return 0;
    const uint32_t frames = ExportInt16(set.left, buffer, channels, 0, first_frame);
    if (frames == 0) return 0;
    if (channels == 2 && ExportInt16(set.right, buffer, channels, 1, first_frame) != frames) return 0;
    return frames * channels;
}

}  // namespace chm
