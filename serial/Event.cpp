#include "serial/Event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace serial
{

namespace
{

using Clock = std::chrono::steady_clock;

// ppoll with a remaining-time budget, retried after signals. Negative: no limit.
int PollFor(pollfd *fds, nfds_t count, std::chrono::microseconds timeout,
            Clock::time_point deadline)
{
    for (;;) {
        timespec ts{};
        timespec *tsp = nullptr;
        if (timeout.count() >= 0) {
            auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() < 0)
                left = std::chrono::microseconds(0);
            ts.tv_sec = static_cast<time_t>(left.count() / 1000000);
            ts.tv_nsec = static_cast<long>((left.count() % 1000000) * 1000);
            tsp = &ts;
        }
        const int rc = ppoll(fds, count, tsp, nullptr);
        if (rc >= 0 || errno != EINTR)
            return rc;
    }
}

} // namespace

Event::Event(Mode mode) : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), mode_(mode) {}

Event::~Event()
{
    if (fd_ >= 0)
        close(fd_);
}

void Event::Set()
{
    const uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event set.
    [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void Event::Reset()
{
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = read(fd_, &value, sizeof value);
}

bool Event::Claim()
{
    if (mode_ == Mode::ManualReset) {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }
    uint64_t value = 0;
    return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Event::Wait(int timeoutMs)
{
    return WaitAny({this}, timeoutMs) == 0;
}

int Event::WaitAny(std::initializer_list<Event *> events, int timeoutMs)
{
    return WaitAnyFor(events, std::chrono::milliseconds(timeoutMs < 0 ? -1 : timeoutMs));
}

int Event::WaitAnyFor(std::initializer_list<Event *> events, std::chrono::microseconds timeout)
{
    return WaitEventsOrFd(events, -1, 0, nullptr, timeout);
}

int WaitEventsOrFd(std::initializer_list<Event *> events, int fd, short pollEvents, short *revents,
                   std::chrono::microseconds timeout)
{
    const auto deadline =
        Clock::now() + (timeout.count() >= 0 ? timeout : std::chrono::microseconds(0));
    pollfd fds[8];
    nfds_t count = 0;
    for (Event *e : events)
        fds[count++] = pollfd{e->Fd(), POLLIN, 0};
    const nfds_t eventCount = count;
    if (fd >= 0)
        fds[count++] = pollfd{fd, pollEvents, 0};

    for (;;) {
        const int rc = PollFor(fds, count, timeout, deadline);
        if (rc <= 0)
            return -1;
        nfds_t i = 0;
        for (Event *e : events) {
            if ((fds[i].revents & POLLIN) && e->Claim())
                return static_cast<int>(i);
            ++i;
        }
        if (fd >= 0 && fds[eventCount].revents) {
            if (revents)
                *revents = fds[eventCount].revents;
            return static_cast<int>(eventCount);
        }
        // Another waiter took the auto-reset event first: wait on for what is left.
        if (timeout.count() >= 0 && Clock::now() >= deadline)
            return -1;
    }
}

} // namespace serial
