#include "wm/wma_profile.h"

#include <algorithm>
#include <array>

#include "wm/gst_objects.h"
#include "wm/gstreamer_setup.h"

namespace chm {
namespace {

constexpr uint16_t kWmaFormatTag = 0x0161;
constexpr uint16_t kMaxStreamNumber = 63;

// The codec-format catalogue of Windows Media Audio (tag 0x0161). Its entries are modelled on
// the constant-bit-rate formats that the Windows Media Audio 9 codec lists (rate, channels,
// 16 bits, bit rate), kept only where this platform's encoder and muxer (avenc_wmav2 +
// avmux_asf) encode them cleanly, as bench/wma_catalogue.sh measures:
//  - nothing below 24 kbit/s and nothing above 48 kHz: the encoder refuses both;
//  - no format whose frames fit the muxer's fixed-size packets so badly that the file grows by
//    more than a fifth over its bit rate (192 kbit/s at 44.1 kHz grows to 276 kbit/s and
//    320 kbit/s to 551 kbit/s, 160 kbit/s at 48 kHz to 200 kbit/s: all left out).
// Mono formats exist for every rate listed, so that any folded source of these rates can be
// written again. Formats are in the codec's order: highest bit rate first.
constexpr std::array<WmaCodecFormat, 27> kWmaFormats{{
    {44100, 2, 16, 256000},
    {48000, 2, 16, 256000},
    {48000, 2, 16, 192000},
    {44100, 2, 16, 160000},
    {44100, 2, 16, 128000},
    {48000, 2, 16, 128000},
    {44100, 2, 16, 96000},
    {44100, 2, 16, 80000},
    {44100, 2, 16, 64000},
    {44100, 2, 16, 48000},
    {48000, 1, 16, 48000},
    {44100, 1, 16, 48000},
    {32000, 2, 16, 48000},
    {32000, 2, 16, 40000},
    {44100, 2, 16, 32000},
    {32000, 2, 16, 32000},
    {22050, 2, 16, 32000},
    {48000, 1, 16, 32000},
    {44100, 1, 16, 32000},
    {32000, 1, 16, 32000},
    {22050, 1, 16, 32000},
    {22050, 2, 16, 24000},
    {16000, 2, 16, 24000},
    {44100, 1, 16, 24000},
    {32000, 1, 16, 24000},
    {22050, 1, 16, 24000},
    {16000, 1, 16, 24000},
}};

constexpr std::array<WmaCodec, 1> kAudioCodecs{{{kWmaFormatTag, kWmaFormats}}};

// The codec's block: one frame's share of the bit rate (frames of 2048 samples above 22.05 kHz,
// 1024 up to it, 512 up to 16 kHz).
uint16_t WmaBlockAlign(uint32_t rate, uint32_t bitrate) {
    const uint64_t frame = rate > 22050 ? 2048 : rate > 16000 ? 1024 : 512;
    return static_cast<uint16_t>(std::min<uint64_t>(uint64_t{bitrate} * frame / (uint64_t{rate} * 8), 0xFFFF));
}

}  // namespace

WmMediaType MakeCodecMediaType(uint16_t format_tag, const WmaCodecFormat& entry) {
    VeAudioFormat wave;
    wave.format_tag = static_cast<int16_t>(format_tag);
    wave.channels = entry.channels;
    wave.sample_rate = entry.sample_rate;
    wave.avg_bytes_per_sec = entry.bitrate / 8;
    wave.block_align = WmaBlockAlign(entry.sample_rate, entry.bitrate);
    wave.bits_per_sample = entry.bits_per_sample;
    WmMediaType type;
    type.major_type = WmMajorType::Audio;
    type.subtype = AudioSubtypeOf(format_tag);
    type.format_type = WmFormatType::WaveFormatEx;
    type.format = MakeWaveFormatEx(wave);
    return type;
}

namespace {

bool IsKnownVersion(uint32_t version) {
    return version == 0x00070000 || version == 0x00080000 || version == kWmtVersion9;
}

}  // namespace

bool WmMediaType::IsAudioWaveFormatEx() const {
    return major_type == WmMajorType::Audio && format_type == WmFormatType::WaveFormatEx && format.size() >= 18;
}

const WmStreamConfig* WmProfile::GetStream(uint32_t index) const {
    return index < streams_.size() ? &streams_[index] : nullptr;
}

bool WmProfile::AddStream(const WmStreamConfig& config) {
    if (config.stream_number == 0 || config.stream_number > kMaxStreamNumber) return false;
    if (!config.media_type.IsAudioWaveFormatEx()) return false;
    const bool taken = std::any_of(streams_.begin(), streams_.end(),
                                   [&](const WmStreamConfig& s) { return s.stream_number == config.stream_number; });
    if (taken) return false;
    streams_.push_back(config);
    return true;
}

std::span<const WmaCodec> WmaAudioCodecs() { return kAudioCodecs; }

uint32_t WmCodecInfo::GetCodecInfoCount() const { return static_cast<uint32_t>(WmaAudioCodecs().size()); }

uint32_t WmCodecInfo::GetCodecFormatCount(uint32_t codec) const {
    const auto codecs = WmaAudioCodecs();
    return codec < codecs.size() ? static_cast<uint32_t>(codecs[codec].formats.size()) : 0;
}

std::shared_ptr<WmStreamConfig> WmCodecInfo::GetCodecFormat(uint32_t codec, uint32_t format) const {
    const auto codecs = WmaAudioCodecs();
    if (codec >= codecs.size() || format >= codecs[codec].formats.size()) return nullptr;
    const WmaCodecFormat& entry = codecs[codec].formats[format];
    auto config = std::make_shared<WmStreamConfig>();
    config->bitrate = entry.bitrate;
    config->media_type = MakeCodecMediaType(codecs[codec].format_tag, entry);
    return config;
}

std::unique_ptr<WmProfileManager> WmProfileManager::Create() {
    if (!EnsureGstreamer()) return nullptr;
    // The writer needs both; a manager that offers formats nobody can encode would be a lie.
    GstPtr<GstElementFactory> encoder(gst_element_factory_find("avenc_wmav2"));
    GstPtr<GstElementFactory> muxer(gst_element_factory_find("avmux_asf"));
    if (!encoder || !muxer) return nullptr;
    return std::unique_ptr<WmProfileManager>(new WmProfileManager());
}

std::unique_ptr<WmProfile> WmProfileManager::CreateEmptyProfile(uint32_t version) const {
    if (!IsKnownVersion(version)) return nullptr;
    return std::make_unique<WmProfile>(version);
}

WmaProfileBuilder::WmaProfileBuilder() : manager_(WmProfileManager::Create()) {
    if (manager_) profile_ = manager_->CreateEmptyProfile(kWmtVersion9);
}

bool WmaProfileBuilder::BuildMatchingProfile(const VeAudioFormat& input, uint32_t bitrate_cap) {
    // 1.
    if (!profile_ || profile_->GetStreamCount() != 0) return false;
    // 2.
    std::shared_ptr<WmStreamConfig> config;
    uint32_t bitrate = 0;
    WmMediaType media_type;
    if (!ChooseCodecFormat(config, bitrate, media_type, input, bitrate_cap)) return false;
    // 3.
    if (!ConfigureStream(*config, media_type, bitrate)) return false;
    // 4.
    return profile_->AddStream(*config);
}

bool WmaProfileBuilder::ChooseCodecFormat(std::shared_ptr<WmStreamConfig>& config, uint32_t& best_bitrate,
                                          WmMediaType& media_type, const VeAudioFormat& input,
                                          uint32_t bitrate_cap) const {
    // 1.
    if (!manager_ || !profile_ || !input.IsWellFormed()) return false;
    const WmCodecInfo& codecs = manager_->CodecInfo();
    // 2. The first codec whose format 0 is of the wanted subtype.
    uint32_t codec = 0;
    for (; codec < codecs.GetCodecInfoCount(); ++codec) {
        if (codecs.GetCodecFormatCount(codec) == 0) continue;
        const auto first = codecs.GetCodecFormat(codec, 0);
        if (first && first->media_type.subtype == kWmaCodecSubtype) break;
    }
    if (codec == codecs.GetCodecInfoCount()) return false;
    // 3.
    bool taken = false;
    for (uint32_t index = 0; index < codecs.GetCodecFormatCount(codec); ++index) {
        auto candidate = codecs.GetCodecFormat(codec, index);
        if (!candidate || candidate->media_type.format.size() < 18) return false;
        VeAudioFormat wave;
        if (!ParseWaveFormatEx(candidate->media_type.format, wave)) return false;
        const uint64_t bitrate = uint64_t{wave.avg_bytes_per_sec} * 8;
        if (bitrate > best_bitrate && bitrate <= bitrate_cap && wave.channels == input.channels &&
            wave.sample_rate == input.sample_rate && wave.bits_per_sample >= input.bits_per_sample) {
            best_bitrate = static_cast<uint32_t>(bitrate);
            media_type = candidate->media_type;
            config = std::move(candidate);
            taken = true;
        }
    }
    // 4.
    return taken;
}

bool WmaProfileBuilder::ConfigureStream(WmStreamConfig& config, const WmMediaType& media_type,
                                        uint32_t bitrate) const {
    // 1.
    if (!media_type.IsAudioWaveFormatEx() || bitrate == 0) return false;
    if (!profile_ || profile_->GetStreamCount() != 0) return false;
    // 2.
    config.stream_number = kVeStreamNumber;
    config.stream_name = kVeStreamName;
    config.connection_name = kVeStreamConnectionName;
    config.bitrate = bitrate;
    config.media_type = media_type;
    return true;
}

uint32_t WmaProfileBuilder::ProfileStreamBitrate() const {
    if (!profile_ || profile_->GetStreamCount() != 1) return 0;
    return profile_->GetStream(0)->bitrate;
}

}  // namespace chm
