#include "formats/flac_codec.h"

#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "audio/audio_format.h"
#include "engine/task_progress.h"
#include "formats/wav_data.h"
#include "platform/file_system.h"
#include "wm/decoding_graph.h"
#include "wm/graph_failure.h"

namespace chm {
namespace {

constexpr size_t kBlockFrames = 16384;
constexpr int kCompressionLevel = 5;  // the reference encoder's default, as the flacenc preset

struct DecoderDeleter {
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};
struct EncoderDeleter {
    void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};

// The container that holds samples of `bits`: 8, 16, 24 or 32.
int ContainerBits(int bits) { return bits <= 8 ? 8 : bits <= 16 ? 16 : bits <= 24 ? 24 : 32; }

// Where in the stream `frame` lies, as the other decode failures say it.
std::string ClockText(uint64_t frame, uint32_t rate) {
    return chm::ClockText(rate ? static_cast<double>(frame) / rate : 0.0);
}

class Decode {
public:
    Decode(PcmReceiver& receiver, TaskProgress* progress) : receiver_(receiver), progress_(progress) {}

    bool Run(const std::string& path, bool ogg, std::string& reason) {
        std::unique_ptr<FLAC__StreamDecoder, DecoderDeleter> decoder(FLAC__stream_decoder_new());
        if (!decoder) return false;
        FLAC__stream_decoder_set_md5_checking(decoder.get(), true);
        const auto init = ogg ? FLAC__stream_decoder_init_ogg_file : FLAC__stream_decoder_init_file;
        if (init(decoder.get(), path.c_str(), OnWrite, OnMetadata, OnError, this) !=
            FLAC__STREAM_DECODER_INIT_STATUS_OK) {
            reason = "the file cannot be read";
            return false;
        }
        const bool ran = FLAC__stream_decoder_process_until_end_of_stream(decoder.get());
        // Finishing checks the MD5 signature of what was decoded.
        const bool signature = FLAC__stream_decoder_finish(decoder.get());
        if (cancelled_) return false;
        if (reason_.empty() && (!ran || !began_)) reason_ = "the FLAC stream is damaged";
        if (reason_.empty() && total_ != 0 && frames_ != total_)
            reason_ = "the FLAC stream is damaged at " + ClockText(frames_, rate_);
        if (reason_.empty() && !signature) reason_ = "the FLAC stream is damaged: its MD5 signature does not match";
        if (!reason_.empty()) {
            reason = reason_;
            return false;
        }
        return receiver_.End();
    }

private:
    static Decode& Self(void* data) { return *static_cast<Decode*>(data); }

    static void OnMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* data) {
        Decode& self = Self(data);
        if (block->type != FLAC__METADATA_TYPE_STREAMINFO || self.began_) return;
        const FLAC__StreamMetadata_StreamInfo& info = block->data.stream_info;
        self.channels_ = info.channels;
        self.rate_ = info.sample_rate;
        self.bits_ = static_cast<int>(info.bits_per_sample);
        self.total_ = info.total_samples;
        const int container = ContainerBits(self.bits_);
        VeAudioFormat format;
        format.format_tag = VeAudioFormat::kPcmTag;
        format.channels = static_cast<uint16_t>(info.channels);
        format.sample_rate = info.sample_rate;
        format.bits_per_sample = static_cast<uint16_t>(container);
        format.block_align = static_cast<uint16_t>(info.channels * container / 8);
        format.avg_bytes_per_sec = format.sample_rate * format.block_align;
        self.began_ = self.receiver_.Begin(format, info.total_samples);
        if (!self.began_) self.reason_ = "the decoded audio cannot be stored in the temporary folder";
    }

    static FLAC__StreamDecoderWriteStatus OnWrite(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* data) {
        Decode& self = Self(data);
        if (!self.began_ || !self.reason_.empty()) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        if (self.progress_ && self.progress_->IsCancelled()) {
            self.cancelled_ = true;
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const FLAC__FrameHeader& header = frame->header;
        if (header.channels != self.channels_ || header.sample_rate != self.rate_ ||
            static_cast<int>(header.bits_per_sample) != self.bits_) {
            self.reason_ = "the FLAC stream changes its format at " + ClockText(self.frames_, self.rate_);
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        const int container = ContainerBits(self.bits_);
        const int shift = container - self.bits_;
        const int bytes = container / 8;
        self.pcm_.resize(size_t{header.blocksize} * header.channels * bytes);
        uint8_t* out = self.pcm_.data();
        for (uint32_t i = 0; i < header.blocksize; ++i) {
            for (uint32_t c = 0; c < header.channels; ++c) {
                // Shifted as an unsigned value: a negative sample's high bits are its own.
                uint32_t value = static_cast<uint32_t>(buffer[c][i]) << shift;
                if (container == 8) value += 128;
                for (int b = 0; b < bytes; ++b) *out++ = static_cast<uint8_t>(value >> (8 * b));
            }
        }
        if (!self.receiver_.Receive(self.pcm_)) {
            self.reason_ = "the decoded audio cannot be stored in the temporary folder";
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        }
        self.frames_ += header.blocksize;
        if (self.progress_ && self.total_ != 0)
            self.progress_->SetPercent(static_cast<float>(std::min(100.0, self.frames_ * 100.0 / self.total_)));
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    // libFLAC goes on after a lost sync or a bad frame, closing up over the gap: the decode
    // fails at the first one.
    static void OnError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
        Decode& self = Self(data);
        if (self.reason_.empty()) self.reason_ = "the FLAC stream is damaged at " + ClockText(self.frames_, self.rate_);
    }

    PcmReceiver& receiver_;
    TaskProgress* progress_;
    uint32_t channels_ = 0;
    uint32_t rate_ = 0;
    int bits_ = 0;
    uint64_t total_ = 0;
    uint64_t frames_ = 0;
    bool began_ = false;
    bool cancelled_ = false;
    std::string reason_;
    std::vector<uint8_t> pcm_;
};

// The samples of a block of the WAV's little-endian bytes, at the high `bits` of each.
void TakeSamples(std::span<const uint8_t> block, int container, int bits, std::vector<FLAC__int32>& samples) {
    const int bytes = container / 8;
    const int shift = container - bits;
    samples.resize(block.size() / bytes);
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint8_t* p = block.data() + i * bytes;
        uint32_t raw = 0;
        for (int b = 0; b < bytes; ++b) raw |= static_cast<uint32_t>(p[b]) << (8 * b);
        int32_t value;
        if (container == 8) {
            value = static_cast<int32_t>(raw) - 128;
        } else {
            // Sign-extended from the container, then its high bits.
            value = static_cast<int32_t>(raw << (32 - container)) >> (32 - container);
        }
        // A mix may fall between two steps of the depth: the nearest, as the WAV writer rounds.
        if (shift > 0) {
            const int64_t rounded = (int64_t{value} + (int64_t{1} << (shift - 1))) >> shift;
            samples[i] = static_cast<FLAC__int32>(std::min<int64_t>(rounded, (int64_t{1} << (bits - 1)) - 1));
        } else {
            samples[i] = value;
        }
    }
}

bool EncodeSteps(const std::string& wav_path, const std::string& target, int bits, bool ogg, TaskProgress* progress,
                 std::string& reason) {
    WavData wav;
    if (!wav.Open(wav_path) || wav.IsFloat() || bits > wav.Bits() || bits < 4) return false;
    std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
    if (!encoder) return false;
    FLAC__StreamEncoder* e = encoder.get();
    // Depths outside the subset (15 bits, say) are FLAC all the same.
    FLAC__stream_encoder_set_streamable_subset(e, false);
    FLAC__stream_encoder_set_compression_level(e, kCompressionLevel);
    FLAC__stream_encoder_set_channels(e, wav.Channels());
    FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(bits));
    FLAC__stream_encoder_set_sample_rate(e, wav.Rate());
    FLAC__stream_encoder_set_total_samples_estimate(e, wav.Frames());
    const auto init = ogg ? FLAC__stream_encoder_init_ogg_file : FLAC__stream_encoder_init_file;
    if (init(e, target.c_str(), nullptr, nullptr) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        reason = "the output cannot be written";
        return false;
    }
    std::vector<FLAC__int32> samples;
    uint64_t done = 0;
    bool ok = true;
    for (std::span<const uint8_t> block; ok && !(block = wav.Next(kBlockFrames)).empty();) {
        if (progress && progress->IsCancelled()) {
            ok = false;
            break;
        }
        TakeSamples(block, wav.Bits(), bits, samples);
        const auto frames = static_cast<uint32_t>(samples.size() / wav.Channels());
        ok = FLAC__stream_encoder_process_interleaved(e, samples.data(), frames);
        if (!ok) reason = "the output cannot be written";
        done += frames;
        if (progress && wav.Frames() != 0) progress->SetPercent(static_cast<float>(done * 100.0 / wav.Frames()));
    }
    // Finishing writes the last frames and the STREAMINFO with its MD5 signature.
    const bool finished = FLAC__stream_encoder_finish(e);
    if (ok && !finished) reason = "the output cannot be written";
    return ok && finished && !wav.Failed() && done == wav.Frames();
}

}  // namespace

bool GstreamerCarriesFlacDepth(int bits) { return bits == 8 || bits == 16 || bits == 24; }

bool DecodeFlacToPcm(const std::string& path, bool ogg, PcmReceiver& receiver, TaskProgress* progress) {
    if (IsCancelled(progress) || path.empty()) return FinishProgress(progress, false);
    std::string reason;
    Decode decode(receiver, progress);
    const bool ok = decode.Run(path, ogg, reason);
    return FinishProgress(progress, ok, reason);
}

bool EncodeWavToFlac(const std::string& wav, const std::string& target, int bits, bool ogg, TaskProgress* progress) {
    if (IsCancelled(progress) || wav.empty() || target.empty()) return FinishProgress(progress, false);
    std::string reason;
    const bool ok = EncodeSteps(wav, target, bits, ogg, progress, reason);
    if (!ok && PathExists(target)) RemoveFile(target);
    return FinishProgress(progress, ok, reason);
}

}  // namespace chm
