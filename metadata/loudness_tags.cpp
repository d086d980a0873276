#include "metadata/loudness_tags.h"

#include <ebur128.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "audio/audio_format.h"

namespace chm {
namespace {

constexpr double kReplayGainReference = -18.0;  // LUFS, ReplayGain 2.0
constexpr double kR128Reference = -23.0;        // LUFS, RFC 7845
constexpr uint16_t kFloatTag = 3;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct Ebur128Deleter {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

}  // namespace

bool IsLoudnessKey(const std::string& key) {
    const std::string upper = Upper(key);
    return upper.starts_with("REPLAYGAIN_") || upper.starts_with("R128_") || upper == "ITUNNORM";
}

LoudnessFamilies TrackLoudnessOf(const std::string& key) {
    const std::string upper = Upper(key);
    return {upper == "REPLAYGAIN_TRACK_GAIN", upper == "R128_TRACK_GAIN"};
}

bool IsEncoderSettingsKey(const std::string& key) {
    const std::string upper = Upper(key);
    return upper == "ENCODING" || upper == "ENCODERSETTINGS" || upper == "ENCODER_OPTIONS";
}

LoudnessFamilies TakeLoudnessTags(TagFields& fields) {
    LoudnessFamilies families;
    for (auto it = fields.begin(); it != fields.end();) {
        if (!IsLoudnessKey(it->first)) {
            ++it;
            continue;
        }
        const LoudnessFamilies family = TrackLoudnessOf(it->first);
        families.replaygain |= family.replaygain;
        families.r128 |= family.r128;
        it = fields.erase(it);
    }
    return families;
}

void NameThisProgramAsEncoder(TagFields& fields, AudioFileType type) {
    // MP4's encoding tool atom (©too) reaches the fields as ENCODEDBY; elsewhere that is who
    // encoded, a person, and stays.
    const bool mp4 = type == AudioFileType::Aac || type == AudioFileType::Alac;
    for (auto it = fields.begin(); it != fields.end();) {
        const std::string upper = Upper(it->first);
        if (upper == "ENCODER" || (mp4 && upper == "ENCODEDBY")) {
            it->second = {std::string("tavorin-chm ") + CHM_VERSION};
            ++it;
        } else if (IsEncoderSettingsKey(it->first)) {
            it = fields.erase(it);
        } else {
            ++it;
        }
    }
}

struct LoudnessMeter::State {
    std::unique_ptr<ebur128_state, Ebur128Deleter> meter;
    VeAudioFormat format;
    std::vector<uint8_t> partial;  // the bytes of a frame split between two deliveries
    std::vector<float> frames;
};

LoudnessMeter::LoudnessMeter() : state_(std::make_unique<State>()) {}
LoudnessMeter::~LoudnessMeter() = default;

bool LoudnessMeter::Begin(const VeAudioFormat& format, uint64_t) {
    const bool is_float = format.format_tag == kFloatTag;
    const uint16_t bits = format.bits_per_sample;
    if (format.channels == 0 || format.sample_rate == 0 || format.block_align != format.channels * (bits / 8) ||
        (is_float ? bits != 32 : bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return false;
    state_->format = format;
    state_->meter.reset(ebur128_init(format.channels, format.sample_rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    return state_->meter != nullptr;
}

bool LoudnessMeter::Receive(std::span<const uint8_t> bytes) {
    State& s = *state_;
    if (!s.meter) return false;
    std::vector<uint8_t>& data = s.partial;
    data.insert(data.end(), bytes.begin(), bytes.end());
    const size_t block = s.format.block_align;
    const size_t whole = data.size() / block;
    const uint16_t width = s.format.bits_per_sample / 8;
    const bool is_float = s.format.format_tag == kFloatTag;
    s.frames.resize(whole * s.format.channels);
    for (size_t i = 0; i < s.frames.size(); ++i) {
        const uint8_t* p = data.data() + i * width;
        uint32_t raw = 0;
        for (int b = 0; b < width; ++b) raw |= static_cast<uint32_t>(p[b]) << (8 * b);
        if (is_float) {
            s.frames[i] = std::bit_cast<float>(raw);
        } else if (width == 1) {
            s.frames[i] = (static_cast<float>(raw) - 128.0f) / 128.0f;
        } else {
            const auto value = static_cast<int32_t>(raw << (32 - 8 * width));
            s.frames[i] = static_cast<float>(value / 2147483648.0);
        }
    }
    data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(whole * block));
    return ebur128_add_frames_float(s.meter.get(), s.frames.data(), whole) == EBUR128_SUCCESS;
}

bool LoudnessMeter::End() {
    State& s = *state_;
    if (!s.meter) return false;
    double lufs = 0.0;
    if (ebur128_loudness_global(s.meter.get(), &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs)) return true;
    Loudness loudness{lufs, 0.0};
    for (unsigned c = 0; c < s.format.channels; ++c) {
        double peak = 0.0;
        if (ebur128_true_peak(s.meter.get(), c, &peak) != EBUR128_SUCCESS) return true;
        loudness.true_peak = std::max(loudness.true_peak, peak);
    }
    result_ = loudness;
    return true;
}

void AddLoudnessTags(TagFields& fields, const LoudnessFamilies& families, const Loudness& loudness) {
    if (families.replaygain) {
        fields["REPLAYGAIN_TRACK_GAIN"] = {Fixed(kReplayGainReference - loudness.lufs, 2) + " dB"};
        fields["REPLAYGAIN_TRACK_PEAK"] = {Fixed(loudness.true_peak, 6)};
    }
    if (families.r128) {
        const double q78 = std::round((kR128Reference - loudness.lufs) * 256.0);
        fields["R128_TRACK_GAIN"] = {std::to_string(static_cast<int>(std::clamp(q78, -32768.0, 32767.0)))};
    }
}

}  // namespace chm
