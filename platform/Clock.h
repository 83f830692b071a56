#pragma once
// Millisecond and tick clocks for time-outs: monotonic, so a clock change never fires a timer.

#include <cstdint>

namespace platform
{

// Milliseconds since an arbitrary start; wraps like a 32-bit tick count.
uint32_t TickCountMs();

// The serial engine's ticks of 55 ms.
inline uint32_t Ticks55()
{
    return TickCountMs() / 55;
}

} // namespace platform
