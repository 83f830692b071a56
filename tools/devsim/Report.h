#pragma once
// The upload report: one JSON object per line for every upload header the device received.
// Texts are bytes; bytes outside printable ASCII are written as \u00XX (their Latin-1 code), so
// every line is plain ASCII JSON whatever the host sent.

#include "tools/devsim/Device.h"

#include <string>

namespace devsim
{

// One report line, with its line feed.
std::string FormatReportLine(const UploadRecord &record);

// A JSON string literal of `text`, quotes included.
std::string JsonString(std::string_view text);

// Appends lines to the report file. Each line goes out in one write() to a file opened for
// appending, so a reader sees whole lines as soon as an upload has ended.
class ReportFile
{
  public:
    // Opens (creating) the file; throws std::system_error when it cannot. With `times`, lines
    // carry when the first and the last body byte arrived.
    explicit ReportFile(const std::string &path, bool times = false);
    ~ReportFile();
    ReportFile(const ReportFile &) = delete;
    ReportFile &operator=(const ReportFile &) = delete;

    // Throws std::system_error when the line cannot be written whole.
    void Append(const UploadRecord &record);

  private:
    int fd_;
    std::string path_;
    bool times_;
};

} // namespace devsim
