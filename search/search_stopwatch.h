#pragma once
#include <cstdint>

namespace chm {

// Two 32-bit ticks of the millisecond clock: enough to throttle progress messages.
class SearchStopwatch {
public:
    // Clears both ticks, then starts.
    void Restart();
    // Start tick = now, stop tick = 0 (running).
    void Start();
    // Stop tick = now, only the first time after a start.
    void Stop();
    // Milliseconds from the start to the stop, or to now while running.
    uint32_t Elapsed() const;
    // The same, with `now` standing for the clock.
    uint32_t ElapsedAt(uint32_t now) const;

    uint32_t StartTick() const { return start_; }
    uint32_t StopTick() const { return stop_; }

private:
    uint32_t start_ = 0;
    uint32_t stop_ = 0;
};

}  // namespace chm
