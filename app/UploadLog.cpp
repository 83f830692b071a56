#include "app/UploadLog.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace loader
{

TUploadLog::~TUploadLog()
{
    Close();
}

bool TUploadLog::Open(const std::string &fileName, const std::string &timeStamp)
{
    Close();
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (!IsOpen())
        return false;
    Line(Title);
    Line(timeStamp);
    Line("");
    Flush();
    return IsOpen();
}

void TUploadLog::WriteEntry(const UploadLogEntry &entry)
{
    if (!IsOpen())
        return;
    Line("File Name: " + entry.fileName);
    Line("  File Size: " + std::to_string(entry.size));
    Line("  File Checksum: " + entry.checksum);
    Line("  File Version: " + entry.loadVersion + "; " + entry.fileDateText);
    Line("  Load Address: " + entry.loadAddress);
    Line("");
    Flush();
}

void TUploadLog::Close()
{
    if (!IsOpen())
        return;
    Flush();
    if (IsOpen())
        ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

void TUploadLog::Line(const std::string &text)
{
    pending_ += text;
    pending_ += "\r\n";
}

void TUploadLog::Flush()
{
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t wrote = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            ::close(fd_);
            fd_ = -1;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    pending_.clear();
}

} // namespace loader
