#include "search/search_stopwatch.h"

#include <limits>

#include "platform/tick.h"

namespace chm {

void SearchStopwatch::Restart() {
    start_ = 0;
    stop_ = 0;
    Start();
}

void SearchStopwatch::Start() {
    start_ = TickCount();
    stop_ = 0;
}

void SearchStopwatch::Stop() {
    if (stop_ == 0) stop_ = TickCount();
}

uint32_t SearchStopwatch::Elapsed() const { return ElapsedAt(TickCount()); }

uint32_t SearchStopwatch::ElapsedAt(uint32_t now) const {
    const uint32_t end = stop_ != 0 ? stop_ : now;
    // A clock that reads earlier than the start (it wrapped) counts as long elapsed, so that a
    // throttled message is sent late rather than never.
    if (end < start_) return std::numeric_limits<uint32_t>::max();
    return end - start_;
}

}  // namespace chm
