#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <thread>

namespace testsupport
{

bool WaitUntil(const std::function<bool()> &pred, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool ProcessEventsUntil(const std::function<bool()> &pred, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Settle(int ms)
{
    ProcessEventsUntil([] { return false; }, ms);
}

} // namespace testsupport
