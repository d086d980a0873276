#pragma once
#include <cstdint>

namespace chm {

// Milliseconds of a steady clock; wraps like a 32-bit tick counter, so compare by difference.
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);

}  // namespace chm
