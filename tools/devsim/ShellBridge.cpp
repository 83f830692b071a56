#include "tools/devsim/ShellBridge.h"

#include "tools/devsim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace devsim
{
namespace
{

// After the program has ended, others that still hold its terminal (a job left in the
// background) may add output for this long; they are not waited for beyond it.
constexpr int64_t ShellCloseGraceNs = 1'000'000'000;
// A host that reads nothing of the program's last output for this long is not waited for.
constexpr int64_t DrainStallNs = 2'000'000'000;
// Bytes written to the line join the count of unread bytes a moment later; the count is trusted
// once it has stayed at zero this long after the last write.
constexpr int64_t DrainSettleNs = 20'000'000;
// How often the count is looked at while the last output drains.
constexpr int64_t DrainPollNs = 10'000'000;
// How long a program hung up at a stop signal is given to end.
constexpr auto HangUpGrace = std::chrono::seconds(1);

// Writes up to `count` bytes from the front of `bytes` and removes what went. Stops where the
// other side is full (EAGAIN) or gone; returns how many went.
std::size_t WriteFront(int fd, std::string &bytes, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes.data() + done, count - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    bytes.erase(0, done);
    return done;
}

} // namespace

ShellBridge::ShellBridge(PtyLink &link, ShellChild &child, uint32_t baud)
    : link_(link), child_(child), toShellPacer_(baud), toLinePacer_(baud)
{
}

int ShellBridge::Run(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask)
{
    while (!stop) {
        FollowHostOpens();
        ReadLine();
        const int64_t now = NowNs();
        WriteShell(now);
        ReadShell();
        WriteLine(now);
        if (Finished(now))
            return 0;
        Wait(waitMask, now);
    }
    child_.HangUp(HangUpGrace);
    return 0;
}

void ShellBridge::FollowHostOpens()
{
    if (!link_.ReadOpenNotices().lastClosed)
        return;
    // What the host sent still reaches the program; output it did not read goes.
    link_.ResetForNextHost();
    link_.DropUnreadReplies();
    toLine_.clear();
}

void ShellBridge::ReadLine()
{
    link_.ReadHost(toShell_, HoldHostAt);
    if (toShellPacer_.Paced()) {
        if (toShell_.size() >= HoldHostAt)
            link_.HoldHost(true);
        else if (toShell_.size() <= ReleaseHostAt)
            link_.HoldHost(false);
    }
}

void ShellBridge::WriteShell(int64_t nowNs)
{
    if (shellClosed_) {
        toShell_.clear(); // nobody reads the program's terminal any more
        return;
    }
    const std::size_t count = std::min(toShell_.size(), toShellPacer_.Allowance(nowNs));
    toShellPacer_.Consume(WriteFront(child_.Master(), toShell_, count), nowNs);
}

void ShellBridge::ReadShell()
{
    char buffer[4096];
    while (!shellClosed_ && toLine_.size() < ShellReadAhead) {
        const ssize_t n = ::read(child_.Master(), buffer,
                                 std::min(sizeof buffer, ShellReadAhead - toLine_.size()));
        if (n > 0) {
            toLine_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EIO once every holder of the program's terminal has closed it and its output is read.
        if (n == 0 || errno == EIO)
            shellClosed_ = true;
        break;
    }
}

void ShellBridge::WriteLine(int64_t nowNs)
{
    const std::size_t count = std::min(toLine_.size(), toLinePacer_.Allowance(nowNs));
    const std::size_t sent = WriteFront(link_.Master(), toLine_, count);
    if (sent > 0) {
        toLinePacer_.Consume(sent, nowNs);
        lineWrittenAtNs_ = nowNs;
    }
}

bool ShellBridge::Finished(int64_t nowNs)
{
    if (!endedAtNs_) {
        if (!child_.Ended())
            return false;
        endedAtNs_ = nowNs;
        pendingSinceNs_ = nowNs;
    }
    if (!shellClosed_ && nowNs < *endedAtNs_ + ShellCloseGraceNs)
        return false;
    // The program's last output is worth waiting for only while a host may read it; without
    // inotify devsim cannot tell, so it assumes one does.
    if (link_.OpenWatch() >= 0 && link_.HostOpens() == 0)
        return true;
    const std::size_t pending = toLine_.size() + link_.UnreadReplies();
    if (pending != pending_) {
        pending_ = pending;
        pendingSinceNs_ = nowNs;
    }
    if (pending > 0)
        return nowNs >= pendingSinceNs_ + DrainStallNs;
    return nowNs >= std::max(pendingSinceNs_, lineWrittenAtNs_) + DrainSettleNs;
}

void ShellBridge::Wait(const sigset_t &waitMask, int64_t nowNs)
{
    int64_t waitNs = MaxWaitNs;
    auto due = [&](int64_t ns) { waitNs = std::clamp<int64_t>(ns, 0, waitNs); };
    if (endedAtNs_)
        due(DrainPollNs);

    pollfd line{link_.Master(), 0, 0};
    pollfd shell{shellClosed_ ? -1 : child_.Master(), 0, 0};
    if (toShell_.size() < HoldHostAt)
        line.events |= POLLIN;
    if (toLine_.size() < ShellReadAhead)
        shell.events |= POLLIN;
    auto sendWhenReady = [&](const std::string &bytes, const Pacer &pacer, pollfd &to) {
        if (bytes.empty())
            return;
        if (const int64_t paced = pacer.WaitNs(nowNs); paced > 0)
            due(std::max(paced, MinPacedWaitNs));
        else
            to.events |= POLLOUT;
    };
    sendWhenReady(toShell_, toShellPacer_, shell);
    sendWhenReady(toLine_, toLinePacer_, line);
    // A hung-up terminal reports POLLHUP whatever is asked; one not asked about stays out of the
    // wait so it cannot spin it.
    if (shell.events == 0)
        shell.fd = -1;

    pollfd fds[4] = {line, shell, {link_.OpenWatch(), POLLIN, 0}, {child_.EndWatch(), POLLIN, 0}};
    const timespec timeout{static_cast<time_t>(waitNs / 1'000'000'000),
                           static_cast<long>(waitNs % 1'000'000'000)};
    if (::ppoll(fds, 4, &timeout, &waitMask) < 0 && errno != EINTR)
        throw std::system_error(errno, std::generic_category(), "ppoll");
}

} // namespace devsim
