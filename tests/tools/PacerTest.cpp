#include "tools/devsim/Pacer.h"

#include <gtest/gtest.h>

namespace devsim
{
namespace
{

constexpr int64_t Second = 1'000'000'000;

TEST(Pacer, UnpacedLineNeverWaits)
{
    Pacer pacer(0);
    EXPECT_FALSE(pacer.Paced());
    pacer.Consume(1'000'000, 0);
    EXPECT_EQ(pacer.Allowance(0), SIZE_MAX);
    EXPECT_EQ(pacer.WaitNs(0), 0);
}

// Drives a pacer on a simulated clock as greedily as it allows, always waking when it says.
std::size_t BytesInSimulatedTime(uint32_t baud, int64_t span)
{
    Pacer pacer(baud);
    std::size_t total = 0;
    for (int64_t now = 0; now < span;) {
        const std::size_t allowed = pacer.Allowance(now);
        if (allowed > 0) {
            pacer.Consume(allowed, now);
            total += allowed;
        }
        const int64_t wait = pacer.WaitNs(now);
        EXPECT_TRUE(allowed > 0 || wait > 0) << "no byte allowed, yet no wait at " << now;
        now += std::max<int64_t>(wait, 1);
    }
    return total;
}

TEST(Pacer, CarriesATenthOfTheBaudRatePerSecond)
{
    for (const uint32_t baud : {300u, 1200u, 9600u, 19200u, 115200u}) {
        const std::size_t bytes = BytesInSimulatedTime(baud, 10 * Second);
        const double expected = baud; // ten seconds at baud/10 bytes a second
        const double burst = 1 + baud / 10.0 * Pacer::BurstNs / Second;
        EXPECT_GE(bytes, expected - 1) << baud;
        EXPECT_LE(bytes, expected + burst) << baud;
    }
}

TEST(Pacer, IdleLineTakesABurstThenWaits)
{
    Pacer fast(19200); // 520.8 us a byte: 19 bytes fit the 10 ms window
    EXPECT_EQ(fast.Allowance(0), 19u);
    fast.Consume(19, 0);
    EXPECT_EQ(fast.Allowance(0), 0u);
    const int64_t wait = fast.WaitNs(0);
    EXPECT_GT(wait, 0);
    EXPECT_EQ(fast.Allowance(wait), 1u);
    EXPECT_EQ(fast.Allowance(wait - 1000), 0u);

    Pacer slow(300); // 33 ms a byte, longer than the window: one byte at a time
    EXPECT_EQ(slow.Allowance(0), 1u);
    slow.Consume(1, 0);
    EXPECT_EQ(slow.Allowance(0), 0u);
    EXPECT_EQ(slow.WaitNs(0), 33'333'334);
    EXPECT_EQ(slow.Allowance(slow.WaitNs(0)), 1u);
}

TEST(Pacer, TimeOnAnIdleLineIsNotSaved)
{
    Pacer pacer(19200);
    // After a long pause only one window's worth may pass, not the whole pause's worth.
    EXPECT_EQ(pacer.Allowance(60 * Second), 19u);
}

} // namespace
} // namespace devsim
