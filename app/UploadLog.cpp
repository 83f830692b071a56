#include "app/UploadLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
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
    failure_.clear();
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(fileName, error);
    path_ = error ? fileName : absolute.string();
    fd_ = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    opened_ = IsOpen();
    if (!opened_) {
        failure_ = fileName.empty() ? std::strerror(ENOENT) : std::strerror(errno);
        return false;
    }
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

std::string TUploadLog::FailureText() const
{
    if (failure_.empty())
        return {};
    std::string text = "Unable to write to " + path_ + "\r" + failure_;
    if (opened_)
        return text + "\rThe log of this run is incomplete.";
    std::error_code error;
    if (std::filesystem::is_regular_file(path_, error))
        text += "\rThe file there is the log of an earlier run.";
    return text;
}

void TUploadLog::Line(const std::string &text)
{
    pending_ += text;
    pending_ += "\r\n";
}

// A short write is no failure: the rest is written at once, and a full disk or a failing device
// then answers with its error.
void TUploadLog::Flush()
{
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t wrote = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            Fail(wrote < 0 ? errno : EIO);
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    pending_.clear();
}

void TUploadLog::Fail(int error)
{
    failure_ = std::strerror(error);
    ::close(fd_);
    fd_ = -1;
}

} // namespace loader
