#include "tools/devsim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace devsim
{
namespace
{

constexpr int64_t NsPerMs = 1'000'000;

} // namespace

int64_t NowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

Simulator::Simulator(PtyLink &link, const DeviceSettings &settings, uint32_t baud,
                     ReportFile *report)
    : link_(link), device_(settings), rxPacer_(baud), txPacer_(baud), report_(report)
{
}

int Simulator::Run(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask)
{
    while (!stop) {
        FollowHostOpens();
        ReadHost();
        const int64_t now = NowNs();
        Deliver(now);
        toSend_ += device_.Advance(now / NsPerMs);
        if (hostGone_ && received_.empty())
            FinishHangup();
        FlushRecords();
        WriteHost(now);
        Wait(waitMask, now);
    }
    device_.Shutdown();
    FlushRecords();
    return 0;
}

void Simulator::FollowHostOpens()
{
    const PtyLink::OpenNotices notices = link_.ReadOpenNotices();
    if (notices.lastClosed) {
        // Let the next host in at once; what the last one sent is still delivered first.
        link_.ResetForNextHost();
        hostGone_ = true;
    } else if (link_.HostOpens() > 0) {
        hostGone_ = false;
    }
}

void Simulator::ReadHost()
{
    link_.ReadHost(received_);
}

void Simulator::Deliver(int64_t nowNs)
{
    const std::size_t count = std::min(received_.size(), rxPacer_.Allowance(nowNs));
    if (count > 0) {
        toSend_ += device_.Receive(std::string_view(received_).substr(0, count), nowNs / NsPerMs);
        rxPacer_.Consume(count, nowNs);
        received_.erase(0, count);
    }
    if (rxPacer_.Paced()) {
        if (received_.size() >= HoldHostAt)
            link_.HoldHost(true);
        else if (received_.size() <= ReleaseHostAt)
            link_.HoldHost(false);
    }
}

void Simulator::FinishHangup()
{
    hostGone_ = false;
    device_.Hangup();
    toSend_.clear();
    link_.DropUnreadReplies();
}

void Simulator::FlushRecords()
{
    for (const UploadRecord &record : device_.TakeRecords())
        if (report_)
            report_->Append(record);
}

void Simulator::WriteHost(int64_t nowNs)
{
    const std::size_t count = std::min(toSend_.size(), txPacer_.Allowance(nowNs));
    if (count == 0)
        return;
    const ssize_t n = ::write(link_.Master(), toSend_.data(), count);
    if (n > 0) {
        txPacer_.Consume(static_cast<std::size_t>(n), nowNs);
        toSend_.erase(0, static_cast<std::size_t>(n));
    }
}

void Simulator::Wait(const sigset_t &waitMask, int64_t nowNs)
{
    int64_t waitNs = MaxWaitNs;
    auto due = [&](int64_t ns) { waitNs = std::clamp<int64_t>(ns, 0, waitNs); };
    if (const auto deadline = device_.Deadline())
        due(*deadline * NsPerMs - nowNs);
    if (!received_.empty())
        due(std::max(rxPacer_.WaitNs(nowNs), MinPacedWaitNs));

    pollfd fds[2] = {{link_.Master(), POLLIN, 0}, {link_.OpenWatch(), POLLIN, 0}};
    if (!toSend_.empty()) {
        const int64_t txWait = txPacer_.WaitNs(nowNs);
        if (txWait > 0)
            due(std::max(txWait, MinPacedWaitNs));
        else
            fds[0].events |= POLLOUT;
    }
    // While the host is held, what is already queued is enough to work on.
    if (received_.size() >= HoldHostAt)
        fds[0].events &= static_cast<short>(~POLLIN);

    const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000),
                           static_cast<long>(waitNs % 1'000'000'000)};
    const nfds_t count = link_.OpenWatch() >= 0 ? 2 : 1;
    if (::ppoll(fds, count, &timeout, &waitMask) < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "ppoll");
}

} // namespace devsim
