#pragma once
// Waits for a condition in tests. The limits are safety nets for a broken engine, never
// measurements: a test that needs them has already failed.

#include <chrono>
#include <functional>

namespace testsupport
{

// Polls pred every millisecond; false when it never held within the limit.
bool WaitUntil(const std::function<bool()> &pred,
               std::chrono::milliseconds limit = std::chrono::seconds(5));

// The same while the GUI thread handles its events (trigger events arrive that way).
bool ProcessEventsUntil(const std::function<bool()> &pred, int limitMs);

// Lets the GUI thread run for a while, for checks that something does NOT happen.
void Settle(int ms);

} // namespace testsupport
