#include "terminal/CaptureFile.h"

#include "serial/ErrorCodes.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace terminal
{

TCaptureFile::~TCaptureFile()
{
    // The owner is going away: nobody is left to hear of a failed write.
    OnError = nullptr;
    Close();
}

int TCaptureFile::Open(bool append, const std::string &fileName)
{
    if (IsOpen())
        return serial::ecOK;
    buffer_.reset(new (std::nothrow) uint8_t[kCaptureBufferSize]);
    if (!buffer_)
        return serial::ecOutOfMemory;
    name_ = fileName.empty() ? std::string(kDefaultCaptureName) : fileName;
    const char *name = name_.c_str();
    // Opened without waiting: a pipe nobody reads would otherwise hold the window for good (it
    // fails with ENXIO instead). Writes later wait as they would on any file.
    constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = -1;
    if (append) {
        fd = ::open(name, kOpenFlags);
        if (fd < 0 && errno == ENOENT)
            fd = ::open(name, kOpenFlags | O_CREAT, 0666);
        if (fd >= 0 && ::lseek(fd, 0, SEEK_END) < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            fd = -1;
        }
    } else {
        fd = ::open(name, kOpenFlags | O_CREAT | O_TRUNC, 0666);
    }
    if (fd < 0) {
        const int error = errno;
        buffer_.reset();
        return -error;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    count_ = 0;
    return serial::ecOK;
}

int TCaptureFile::Close()
{
    if (!IsOpen())
        return serial::ecOK;
    const int flushed = Flush();
    if (!IsOpen())
        return flushed; // the failed write closed the file and was reported
    const int closed = ::close(fd_) == 0 ? serial::ecOK : -errno;
    fd_ = -1;
    buffer_.reset();
    return closed;
}

int TCaptureFile::Flush()
{
    if (!IsOpen() || count_ == 0) {
        count_ = 0;
        return serial::ecOK;
    }
    ssize_t written;
    do {
        written = ::write(fd_, buffer_.get(), size_t(count_));
    } while (written < 0 && errno == EINTR);
    const int code = written < 0 ? -errno : written < count_ ? kCaptureShortWrite : 0;
    count_ = 0;
    if (code == 0)
        return serial::ecOK;
    buffer_.reset();
    ::close(fd_);
    fd_ = -1;
    if (OnError)
        OnError(uint16_t(code));
    return code == kCaptureShortWrite ? -kCaptureShortWrite : code;
}

} // namespace terminal
