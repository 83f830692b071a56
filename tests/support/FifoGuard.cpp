#include "tests/support/FifoGuard.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace testsupport
{

void RunReleasingFifo(const std::string &fifo, const std::function<void()> &work)
{
    auto done = std::async(std::launch::async, work);
    while (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    done.get();
}

} // namespace testsupport
