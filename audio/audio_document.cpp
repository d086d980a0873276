#include "audio/audio_document.h"

#include <cmath>
#include <utility>

namespace chm {

VeAudioDocument::VeAudioDocument(std::unique_ptr<VeMediaInfo> info)
    : info_(info ? std::move(info) : std::make_unique<VeMediaInfo>()) {}

bool VeAudioDocument::IsEmpty() const { return audio_.IsEmpty(); }

bool VeAudioDocument::IsValid() const { return audio_.IsValid(); }

bool VeAudioDocument::IsMono() const { return audio_.ChannelSet().IsMono(); }

bool VeAudioDocument::IsStereo() const { return audio_.ChannelSet().IsStereo(); }

bool VeAudioDocument::IsReadyToWrite() const { return audio_.IsReadyToWrite(); }

double VeAudioDocument::Duration() const { return audio_.Duration(); }

bool VeAudioDocument::CreateSilence(bool stereo, uint32_t milliseconds, uint32_t rate) {
    if (!IsEmpty() || milliseconds == 0 || rate == 0) return false;
    const double frames = std::trunc(static_cast<double>(milliseconds) * rate * 0.001);
    if (frames > UINT32_MAX) return false;
    return audio_.CreateSilence(stereo, static_cast<uint32_t>(frames), rate);
}

void VeAudioDocument::Reset() {
    info_->Reset();
    audio_.Reset();
}

bool VeAudioDocument::MixToMono() { return audio_.MixToMono(); }

bool VeAudioDocument::FoldToMono(int method, TaskProgress* progress) { return audio_.FoldToMono(method, progress); }

}  // namespace chm
