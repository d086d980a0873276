#include "audio/work_pacer.h"

#include <algorithm>

#include "platform/tick.h"

namespace chm {

VeWorkPacer::VeWorkPacer(uint32_t interval, uint32_t pause)
    : start_(TickCount()), interval_(std::max<uint32_t>(interval, 55)), pause_(pause) {}

void VeWorkPacer::Tick() {
    if (TickCount() - start_ <= interval_) return;
    SleepMs(pause_);
    start_ = TickCount();
}

}  // namespace chm
