#pragma once
// A Win32-style event on an eventfd, so that a thread can poll a device and its wake-up events
// in one call. Auto-reset events are consumed by the waiter that wakes; manual-reset events
// stay set until Reset. Carries no data: whatever the waker wants the waiter to see must be
// published through the port lock or an atomic.

#include <chrono>
#include <initializer_list>

namespace serial
{

class Event
{
  public:
    enum class Mode { AutoReset, ManualReset };

    explicit Event(Mode mode = Mode::AutoReset);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    // False when the kernel refused the eventfd (out of descriptors).
    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool AutoReset() const { return mode_ == Mode::AutoReset; }

    void Set();
    void Reset();

    // Waits until set; -1 waits without limit. Consumes an auto-reset event.
    bool Wait(int timeoutMs);

    // When poll() reported the descriptor readable: true when the event really was set (an
    // auto-reset event is consumed, so another waiter may have taken it first).
    bool Claim();

    // Waits for any of the events; returns the index of the one taken, or -1 on time-out.
    static int WaitAny(std::initializer_list<Event *> events, int timeoutMs);
    static int WaitAnyFor(std::initializer_list<Event *> events, std::chrono::microseconds timeout);

  private:
    int fd_;
    Mode mode_;
};

// Waits for any of the events or for extra descriptor readiness (events in pollEvents on fd).
// Returns the index of the event taken, events.size() when the descriptor became ready (its
// revents in *revents), or -1 on time-out. A negative timeout waits without limit.
int WaitEventsOrFd(std::initializer_list<Event *> events, int fd, short pollEvents, short *revents,
                   std::chrono::microseconds timeout);

} // namespace serial
