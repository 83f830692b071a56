#include "tools/devsim/PtyLink.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace devsim
{
namespace
{

[[noreturn]] void ThrowErrno(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

void SetFlag(int fd, int getCmd, int setCmd, int flag)
{
    const int flags = ::fcntl(fd, getCmd);
    if (flags < 0 || ::fcntl(fd, setCmd, flags | flag) < 0)
        ThrowErrno("fcntl");
}

std::string ReadLink(const std::string &path)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n < 0 ? std::string() : std::string(target, static_cast<std::size_t>(n));
}

} // namespace

PtyLink::PtyLink(std::string linkPath) : linkPath_(std::move(linkPath))
{
    try {
        termios raw{};
        ::cfmakeraw(&raw);
        raw.c_cflag |= CREAD | CLOCAL;
        ::cfsetispeed(&raw, B19200);
        ::cfsetospeed(&raw, B19200);
        if (::openpty(&master_, &keeper_, nullptr, &raw, nullptr) != 0)
            ThrowErrno("openpty");
        char name[PATH_MAX];
        if (const int err = ::ttyname_r(keeper_, name, sizeof name); err != 0)
            throw std::system_error(err, std::generic_category(), "ttyname_r");
        slavePath_ = name;
        SetFlag(master_, F_GETFD, F_SETFD, FD_CLOEXEC);
        SetFlag(keeper_, F_GETFD, F_SETFD, FD_CLOEXEC);
        SetFlag(master_, F_GETFL, F_SETFL, O_NONBLOCK);

        // Added after our own open, so only host opens are counted.
        watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_ >= 0 &&
            ::inotify_add_watch(watch_, slavePath_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
            ::close(watch_);
            watch_ = -1;
        }

        struct stat st {
        };
        if (::lstat(linkPath_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            throw std::runtime_error(linkPath_ + " exists and is not a symbolic link");
        // Build the link beside its place and rename it over: an old link is replaced in one step.
        const std::string temporary = linkPath_ + ".devsim-" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(slavePath_.c_str(), temporary.c_str()) != 0)
            ThrowErrno("cannot create link " + temporary);
        if (::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
            const int err = errno;
            ::unlink(temporary.c_str());
            throw std::system_error(err, std::generic_category(),
                                    "cannot create link " + linkPath_);
        }
    } catch (...) {
        for (const int fd : {watch_, keeper_, master_})
            if (fd >= 0)
                ::close(fd);
        throw;
    }
}

PtyLink::~PtyLink()
{
    // Another simulator may have taken the path over since; its link stays.
    if (ReadLink(linkPath_) == slavePath_)
        ::unlink(linkPath_.c_str());
    if (watch_ >= 0)
        ::close(watch_);
    ::close(keeper_);
    ::close(master_);
}

PtyLink::OpenNotices PtyLink::ReadOpenNotices()
{
    OpenNotices notices;
    if (watch_ < 0)
        return notices;
    const int before = hostOpens_;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t pos = 0; pos < n;) {
            inotify_event event;
            std::memcpy(&event, buffer + pos, sizeof event);
            if (event.mask & IN_OPEN) {
                ++hostOpens_;
                notices.opened = true;
            }
            if (event.mask & IN_CLOSE)
                --hostOpens_;
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    // A lost notice (queue overflow) must not leave the count below zero.
    if (hostOpens_ < 0)
        hostOpens_ = 0;
    notices.lastClosed = before > 0 && hostOpens_ == 0;
    return notices;
}

void PtyLink::HoldHost(bool hold)
{
    if (hold == held_)
        return;
    ::tcflow(keeper_, hold ? TCOOFF : TCOON);
    held_ = hold;
}

void PtyLink::ResetForNextHost()
{
    ::tcflow(keeper_, TCOON);
    held_ = false;
}

void PtyLink::DropUnreadReplies()
{
    ::tcflush(keeper_, TCIFLUSH);
}

std::size_t PtyLink::UnreadReplies() const
{
    int count = 0;
    return ::ioctl(keeper_, FIONREAD, &count) == 0 && count > 0 ? static_cast<std::size_t>(count)
                                                                : 0;
}

void PtyLink::ReadHost(std::string &into, std::size_t limit)
{
    char buffer[4096];
    while (into.size() < limit) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: nothing more for now. EIO (the line hung up) cannot happen while our own
        // slave stays open, so a host closing the line leaves it ready for the next.
        break;
    }
}

} // namespace devsim
