#pragma once
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/audio_file_type.h"
#include "wm/decoding_graph.h"

namespace chm {

using TagFields = std::map<std::string, std::vector<std::string>>;

// The loudness tag families a source carried for its track. Its tags told its own level, which
// the fold changed: they are taken out, and measured anew on the output in the same family.
struct LoudnessFamilies {
    bool replaygain = false;  // REPLAYGAIN_TRACK_GAIN and _PEAK, at the -18 LUFS reference
    bool r128 = false;        // R128_TRACK_GAIN (Opus), against -23 LUFS in 1/256 dB
    bool Any() const { return replaygain || r128; }
};

// A loudness tag, of any family, track or album: REPLAYGAIN_*, R128_*, iTunNORM (any case).
bool IsLoudnessKey(const std::string& key);
// The family whose track gain the key is; none for any other key.
LoudnessFamilies TrackLoudnessOf(const std::string& key);
// The settings of the source's encoder, which describe nothing of the output.
bool IsEncoderSettingsKey(const std::string& key);

// Takes every loudness tag out of `fields` (track and album, ReplayGain, R128, iTunNORM): an
// album gain is not measured again, a mono album being another album. Says which track
// families were there.
LoudnessFamilies TakeLoudnessTags(TagFields& fields);

// The tags that name the encoder of the source name this program instead; its settings go.
void NameThisProgramAsEncoder(TagFields& fields, AudioFileType type);

// The loudness of decoded audio, by EBU R128 (libebur128): integrated loudness and true peak.
struct Loudness {
    double lufs = 0.0;
    double true_peak = 0.0;  // linear, the largest of the channels
};

// Measures the PCM that a decode hands over (8-bit unsigned, 16, 24 or 32-bit integers, or
// 32-bit floats).
class LoudnessMeter : public PcmReceiver {
public:
    LoudnessMeter();
    ~LoudnessMeter() override;
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    bool Begin(const VeAudioFormat& format, uint64_t expected_frames) override;
    bool Receive(std::span<const uint8_t> bytes) override;
    bool End() override;
    // After End: none for silence (no loudness to speak of) or a failed measurement.
    std::optional<Loudness> Result() const { return result_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    std::optional<Loudness> result_;
};

// The families' tags for the measured loudness.
void AddLoudnessTags(TagFields& fields, const LoudnessFamilies& families, const Loudness& loudness);

}  // namespace chm
