#pragma once
// The upload log "loader.log": created anew for every run with a three-line header, then six lines
// for every file whose upload header went to the device. Lines end in CR LF. What has been
// written reaches the file after the header and after each file's lines, so a crash or a kill
// loses no finished entry. A log that cannot be written is a record the operator would trust
// wrongly: the first failure closes it and is kept, with the system's reason, for the window to
// report; the rest of the run goes without a log.

#include <cstdint>
#include <string>

namespace loader
{

struct UploadLogEntry {
    std::string fileName;     // LoadFileName
    uint32_t size = 0;        // bytes
    std::string checksum;     // four hexadecimal digits
    std::string loadVersion;  // as the script wrote it
    std::string fileDateText; // the file's date text, or the version when the date is unknown
    std::string loadAddress;
};

class TUploadLog
{
  public:
    TUploadLog() = default;
    ~TUploadLog();
    TUploadLog(const TUploadLog &) = delete;
    TUploadLog &operator=(const TUploadLog &) = delete;

    // Closes any open log, then truncates or creates fileName and writes the header stamped with
    // timeStamp. Returns whether the log is open.
    bool Open(const std::string &fileName, const std::string &timeStamp);
    void WriteEntry(const UploadLogEntry &entry);
    void Close();

    // False once any write has failed: the rest of the run goes without a log.
    bool IsOpen() const { return fd_ >= 0; }

    // Since the last Open: why the log failed, as the system puts it; empty while nothing failed.
    const std::string &Failure() const { return failure_; }
    // The box text for that failure: the log's full path, the reason, and what it means for the
    // file on disk. Empty while nothing failed.
    std::string FailureText() const;

    static constexpr const char *Title = "Tavrin Research, Inc. Flash File Loader, Version 1.04";

  private:
    void Line(const std::string &text);
    void Flush();
    void Fail(int error);

    int fd_ = -1;
    std::string pending_;
    std::string path_;    // absolute, for the message
    std::string failure_; // empty while nothing failed
    bool opened_ = false; // the open itself succeeded, so what is on disk is this run's
};

} // namespace loader
