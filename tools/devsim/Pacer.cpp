#include "tools/devsim/Pacer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace devsim
{

Pacer::Pacer(uint32_t baud) : byteNs_(baud == 0 ? 0.0 : 1e9 * 10.0 / baud) {}

std::size_t Pacer::Allowance(int64_t nowNs) const
{
    if (!Paced())
        return SIZE_MAX;
    const double now = static_cast<double>(nowNs);
    const double start = std::max(busyUntilNs_, now);
    // The small allowance keeps rounding from refusing a byte at the moment WaitNs names.
    const double fits = std::floor((now + BurstNs - start) / byteNs_ + 1e-6);
    // An idle line always takes one byte, however slow it is.
    if (busyUntilNs_ <= now)
        return static_cast<std::size_t>(std::max(1.0, fits));
    return fits > 0 ? static_cast<std::size_t>(fits) : 0;
}

void Pacer::Consume(std::size_t count, int64_t nowNs)
{
    if (!Paced())
        return;
    busyUntilNs_ =
        std::max(busyUntilNs_, static_cast<double>(nowNs)) + static_cast<double>(count) * byteNs_;
}

int64_t Pacer::WaitNs(int64_t nowNs) const
{
    if (!Paced())
        return 0;
    const double now = static_cast<double>(nowNs);
    // One byte fits once the burst window reaches past it, or at the latest when the line idles.
    const double ready = std::min(busyUntilNs_, busyUntilNs_ + byteNs_ - BurstNs);
    return ready <= now ? 0 : static_cast<int64_t>(std::ceil(ready - now));
}

} // namespace devsim
