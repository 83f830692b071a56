#pragma once
// A hang guard for code that must not wait on a FIFO: `work` runs on another thread, and while it
// has not returned a writer opens and closes the FIFO every few seconds, which releases an open
// that waits for one. A wrong wait then ends in the test's own assertions instead of a hang.

#include <functional>
#include <string>

namespace testsupport
{

void RunReleasingFifo(const std::string &fifo, const std::function<void()> &work);

} // namespace testsupport
