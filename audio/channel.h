#pragma once
#include <cstdint>
#include <memory>

#include "audio/sample_store.h"

namespace chm {

// One channel: logical sample t is store sample t - start_offset; outside the store it is
// silence. The channel owns its store and with it the temporary file.
class VeChannel {
public:
    int32_t length = 0;
    int32_t start_offset = 0;
    std::unique_ptr<VeSampleStore> store;

    VeChannel() = default;
    ~VeChannel() { Release(); }
    VeChannel(VeChannel&& other) noexcept;
    // Releases this channel's contents before taking the other's.
    VeChannel& operator=(VeChannel&& other) noexcept;
    VeChannel(const VeChannel&) = delete;
    VeChannel& operator=(const VeChannel&) = delete;

    bool IsEmpty() const;
    bool IsValid() const;
    // Valid, no offset and exactly as long as its store; an empty channel counts as plain.
    bool IsPlain() const;
    // Closes and frees the store (deleting its file); length and offset become 0.
    void Release();
    // Exchanges the two records; no samples move.
    void Swap(VeChannel& other) noexcept;

    // out becomes a copy with a store of its own (the same length, offset and samples). An empty
    // channel gives an empty copy. On failure out is left empty.
    bool CopyTo(VeChannel& out);
    // out becomes a plain copy: a store of `length` samples, the offset applied, silence where
    // this store has no samples. On failure out is left unchanged.
    bool CopyPlainTo(VeChannel& out);
};

}  // namespace chm
