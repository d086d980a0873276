#pragma once
#include <cstdint>

namespace chm {

// Long loops call Tick once per block of work: after each interval of work it sleeps briefly,
// so that a conversion leaves the machine responsive.
class VeWorkPacer {
public:
    static constexpr uint32_t kInterval = 110;
    static constexpr uint32_t kPause = 20;

    VeWorkPacer(uint32_t interval = kInterval, uint32_t pause = kPause);
    void Tick();

    uint32_t Interval() const { return interval_; }

private:
    uint32_t start_;
    uint32_t interval_;
    uint32_t pause_;
};

}  // namespace chm
