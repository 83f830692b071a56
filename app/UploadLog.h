#pragma once
// The upload log "loader.log": created anew for every run with a three-line header, then six lines
// for every file whose upload header went to the device. Lines end in CR LF. The log is a
// by-product: when it cannot be written it goes quiet and never disturbs the run. What has been
// written reaches the file after the header and after each file's lines, so a crash or a kill
// loses no finished entry.

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

    static constexpr const char *Title = "Tavrin Research, Inc. Flash File Loader, Version 1.04";

  private:
    void Line(const std::string &text);
    void Flush();

    int fd_ = -1;
    std::string pending_;
};

} // namespace loader
