#pragma once
// The simulator's event loop: moves bytes between the pseudo terminal and the device at the
// line rate, holds the host back while the device's receive queue is full, notices when the
// host closes the line, and writes the report.

#include "tools/devsim/Device.h"
#include "tools/devsim/Pacer.h"
#include "tools/devsim/PtyLink.h"
#include "tools/devsim/Report.h"

#include <csignal>
#include <string>

namespace devsim
{

// Bytes waiting in the device's receive queue at which it stops the host, and at which it lets
// it go on, like a UART driving CTS from its buffer level.
inline constexpr std::size_t HoldHostAt = 256;
inline constexpr std::size_t ReleaseHostAt = 64;

// Longest sleep of a serving loop when nothing is due; a signal ends it early anyway.
inline constexpr int64_t MaxWaitNs = 1'000'000'000;
// A paced direction that may not move yet waits at least this long, so rounding cannot spin.
inline constexpr int64_t MinPacedWaitNs = 100'000;

class Simulator
{
  public:
    // `report` may be null.
    Simulator(PtyLink &link, const DeviceSettings &settings, uint32_t baud, ReportFile *report);

    // Serves until `stop` becomes non-zero. Signals that set it must be blocked by the caller;
    // they are let through only while the loop waits. Returns the exit status.
    int Run(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask);

  private:
    void ReadHost();
    void Deliver(int64_t nowNs);
    void WriteHost(int64_t nowNs);
    void FollowHostOpens();
    void FinishHangup();
    void FlushRecords();
    void Wait(const sigset_t &waitMask, int64_t nowNs);

    PtyLink &link_;
    Device device_;
    Pacer rxPacer_;
    Pacer txPacer_;
    ReportFile *report_;
    std::string received_;
    std::string toSend_;
    bool hostGone_ = false;
};

// Monotonic clock in nanoseconds.
int64_t NowNs();

} // namespace devsim
