#include "audio/channel.h"

#include <algorithm>
#include <utility>

#include "audio/work_pacer.h"

namespace chm {

VeChannel::VeChannel(VeChannel&& other) noexcept
    : length(std::exchange(other.length, 0)),
      start_offset(std::exchange(other.start_offset, 0)),
      store(std::move(other.store)) {}

VeChannel& VeChannel::operator=(VeChannel&& other) noexcept {
    if (this != &other) {
        Release();
        length = std::exchange(other.length, 0);
        start_offset = std::exchange(other.start_offset, 0);
        store = std::move(other.store);
    }
    return *this;
}

bool VeChannel::IsEmpty() const { return length == 0 && start_offset == 0 && (!store || !store->IsOpen()); }

bool VeChannel::IsValid() const { return length > 0 && store && store->IsOpen() && store->Count() != 0; }

bool VeChannel::IsPlain() const {
    if (IsEmpty()) return true;
    return IsValid() && start_offset == 0 && static_cast<uint32_t>(length) == store->Count();
}

void VeChannel::Release() {
    if (store) store->Close();
    store.reset();
    length = 0;
    start_offset = 0;
}

void VeChannel::Swap(VeChannel& other) noexcept {
    std::swap(length, other.length);
    std::swap(start_offset, other.start_offset);
    std::swap(store, other.store);
}

bool VeChannel::CopyTo(VeChannel& out) {
    if (&out == this) return true;
    out.Release();
    if (IsEmpty()) return true;
    if (!IsValid()) return false;
    auto copy = std::make_unique<VeSampleStore>();
    if (!copy->CopyFrom(*store)) return false;
    out.length = length;
    out.start_offset = start_offset;
    out.store = std::move(copy);
    return true;
}

bool VeChannel::CopyPlainTo(VeChannel& out) {
    if (!IsValid()) return false;
    auto plain = std::make_unique<VeSampleStore>();
    if (!plain->Create(static_cast<uint32_t>(length))) return false;
    VeWorkPacer pacer;
    const uint32_t per_page = store->SamplesPerPage();
    // Each page of this store lands at its logical position, clipped to [0, length); the new
    // store is zero already, which is the silence around the stored samples.
    for (uint32_t page = 0; page < store->PageCount(); ++page) {
        const int64_t first = int64_t{page} * per_page + start_offset;
        const int64_t end = first + store->PageLength(page);
        const int64_t from = std::max<int64_t>(first, 0);
        const int64_t to = std::min<int64_t>(end, length);
        if (from >= to) continue;
        const float* samples = store->MapPage(page, 0, PageAccess::kRead);
        if (!samples) return false;
        // WriteAt maps the target page by page, so a copy that spans two of them stays inside.
        if (!plain->WriteAt(static_cast<uint32_t>(from), samples + (from - first), static_cast<uint32_t>(to - from)))
            return false;
        pacer.Tick();
    }
    if (&out == this) {
        store = std::move(plain);  // the old store closes as it goes
        start_offset = 0;
        return true;
    }
    out.Release();
    out.length = length;
    out.start_offset = 0;
    out.store = std::move(plain);
    return true;
}

}  // namespace chm
