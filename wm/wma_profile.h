#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_format.h"
#include "wm/asf_probe.h"

namespace chm {

// The profile version of the encoding profiles built here (Windows Media 9).
inline constexpr uint32_t kWmtVersion9 = 0x00090000;
// Windows Media Audio, format tag 0x0161: {00000161-0000-0010-8000-00AA00389B71}.
inline const WmGuid kWmaCodecSubtype = AudioSubtypeOf(0x0161);
inline constexpr uint16_t kVeStreamNumber = 1;
inline constexpr const char* kVeStreamName = "Ve Audio";
inline constexpr const char* kVeStreamConnectionName = "Ve Audio Connection 001";

enum class WmMajorType { Audio, Video, Other };
enum class WmFormatType { WaveFormatEx, Other };

// The media type of a codec format or a stream: its kinds, its subtype and its format block
// (a WAVEFORMATEX for audio).
struct WmMediaType {
    WmMajorType major_type = WmMajorType::Other;
    WmGuid subtype;
    WmFormatType format_type = WmFormatType::Other;
    std::vector<uint8_t> format;

    // Audio with a WAVEFORMATEX format type and a format block of at least 18 bytes.
    bool IsAudioWaveFormatEx() const;
};

// One stream of an encoding profile.
struct WmStreamConfig {
    uint16_t stream_number = 0;
    std::string stream_name;
    std::string connection_name;
    uint32_t bitrate = 0;  // bits per second
    WmMediaType media_type;
};

// An encoding profile: the streams the writer will produce.
class WmProfile {
public:
    explicit WmProfile(uint32_t version) : version_(version) {}

    uint32_t Version() const { return version_; }
    uint32_t GetStreamCount() const { return static_cast<uint32_t>(streams_.size()); }
    // The stream at `index`, or none.
    const WmStreamConfig* GetStream(uint32_t index) const;
    // Adds a copy; refused without a stream number (1..63), with a number already in use, or
    // without a WAVEFORMATEX audio type.
    bool AddStream(const WmStreamConfig& config);

private:
    uint32_t version_;
    std::vector<WmStreamConfig> streams_;
};

// One format of the codec catalogue: what the codec encodes from what input.
struct WmaCodecFormat {
    uint32_t sample_rate;
    uint16_t channels;
    uint16_t bits_per_sample;
    uint32_t bitrate;  // bits per second
};

// A codec of the catalogue: its format tag and its formats in the order it offers them.
struct WmaCodec {
    uint16_t format_tag;
    std::span<const WmaCodecFormat> formats;
};

// The audio codecs that this platform's encoder offers, in order.
std::span<const WmaCodec> WmaAudioCodecs();

// The media type of a format of a codec (the WAVEFORMATEX the codec gives it).
WmMediaType MakeCodecMediaType(uint16_t format_tag, const WmaCodecFormat& format);

// The codec information of the profile manager: the catalogue, by index.
class WmCodecInfo {
public:
    uint32_t GetCodecInfoCount() const;
    uint32_t GetCodecFormatCount(uint32_t codec) const;
    // A new stream configuration of the format (its bit rate and media type set), or none.
    std::shared_ptr<WmStreamConfig> GetCodecFormat(uint32_t codec, uint32_t format) const;
};

// Makes profiles and knows the codecs. Exists only where the platform can encode: the WMA
// encoder and the ASF muxer are both installed.
class WmProfileManager {
public:
    static std::unique_ptr<WmProfileManager> Create();
    // An empty profile of a Windows Media version (7, 8 or 9), or none.
    std::unique_ptr<WmProfile> CreateEmptyProfile(uint32_t version) const;
    const WmCodecInfo& CodecInfo() const { return codec_info_; }

private:
    WmProfileManager() = default;
    WmCodecInfo codec_info_;
};

// Builds the one-stream profile that matches the PCM arriving at the writer: the codec format
// of the same channels and rate with the highest bit rate (not above a cap).
class WmaProfileBuilder {
public:
    // The manager and an empty version-9 profile; either is absent when it cannot be made.
    WmaProfileBuilder();

    bool HasManager() const { return manager_ != nullptr; }
    bool HasProfile() const { return profile_ != nullptr; }
    const WmProfile* Profile() const { return profile_.get(); }

    bool BuildMatchingProfile(const VeAudioFormat& input, uint32_t bitrate_cap);
    // Walks the codec's formats; takes the one of the input's channels and rate, at least its
    // bits per sample, with the highest bit rate above `best_bitrate` and not above the cap.
    bool ChooseCodecFormat(std::shared_ptr<WmStreamConfig>& config, uint32_t& best_bitrate,
                           WmMediaType& media_type, const VeAudioFormat& input, uint32_t bitrate_cap) const;
    bool ConfigureStream(WmStreamConfig& config, const WmMediaType& media_type, uint32_t bitrate) const;
    // The bit rate of the profile's only stream; 0 unless it has exactly one.
    uint32_t ProfileStreamBitrate() const;

private:
    std::unique_ptr<WmProfileManager> manager_;
    std::unique_ptr<WmProfile> profile_;
};

}  // namespace chm
