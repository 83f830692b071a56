#include "app/WholeFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace loader
{
namespace
{

class FileDescriptor
{
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return fd_; }

  private:
    int fd_;
};

std::string TooLong(std::size_t maxSize)
{
    return "longer than " + std::to_string(maxSize) + " bytes";
}

// Reads to the end, not just the size seen at open: a file may still be growing.
bool ReadAll(int fd, std::string &data, std::size_t maxSize, std::string &reason)
{
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            reason = std::strerror(errno);
            return false;
        }
        if (static_cast<std::size_t>(got) > maxSize - data.size()) {
            reason = TooLong(maxSize);
            return false;
        }
        data.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace

WholeFile ReadWholeFile(const std::string &fileName, std::size_t maxSize)
{
    WholeFile file;
    if (fileName.empty()) {
        file.reason = std::strerror(ENOENT);
        return file;
    }
    // Non-blocking, so that a FIFO or a device cannot hold the open; no controlling terminal
    // from a terminal device named by mistake.
    FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat info {
    };
    if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0) {
        file.reason = std::strerror(errno);
        return file;
    }
    // Only a regular file is read, and reads of one ignore O_NONBLOCK.
    if (!S_ISREG(info.st_mode)) {
        file.reason = "not a regular file";
        return file;
    }

    file.status = ReadStatus::NotRead;
    const auto size = static_cast<uintmax_t>(info.st_size > 0 ? info.st_size : 0);
    if (size > maxSize) {
        file.reason = TooLong(maxSize);
        return file;
    }
    try {
        file.data.reserve(static_cast<std::size_t>(size));
        if (!ReadAll(fd.Get(), file.data, maxSize, file.reason)) {
            std::string().swap(file.data);
            return file;
        }
    } catch (const std::bad_alloc &) {
        std::string().swap(file.data);
        file.reason = std::strerror(ENOMEM);
        return file;
    }
    file.status = ReadStatus::Ok;
    return file;
}

} // namespace loader
