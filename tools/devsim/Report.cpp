#include "tools/devsim/Report.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace devsim
{

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(byte));
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string FormatReportLine(const UploadRecord &record)
{
    std::string line = "{\"header\":" + JsonString(record.headerLine);
    line += ",\"valid\":";
    line += record.header ? "true" : "false";
    if (record.header) {
        const UploadHeader &h = *record.header;
        line += ",\"address\":" + JsonString(h.address);
        line += ",\"length\":" + std::to_string(h.length);
        line += ",\"checksum\":" + JsonString(h.checksumText);
        line += ",\"version\":" + JsonString(h.version);
        line += ",\"received\":" + std::to_string(record.received);
        line += ",\"received_checksum\":" + JsonString(ChecksumText(record.receivedChecksum));
        line += ",\"length_ok\":";
        line += record.LengthMatches() ? "true" : "false";
        line += ",\"checksum_ok\":";
        line += record.ChecksumMatches() ? "true" : "false";
        if (record.firstByteMs && record.lastByteMs) {
            line += ",\"first_byte_ms\":" + std::to_string(*record.firstByteMs);
            line += ",\"last_byte_ms\":" + std::to_string(*record.lastByteMs);
        }
    }
    line += ",\"end\":";
    line += JsonString(UploadEndName(record.end));
    return line + "}\n";
}

ReportFile::ReportFile(const std::string &path, bool times)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)), path_(path),
      times_(times)
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open report " + path);
}

ReportFile::~ReportFile()
{
    ::close(fd_);
}

void ReportFile::Append(const UploadRecord &record)
{
    UploadRecord shown = record;
    if (!times_)
        shown.firstByteMs = shown.lastByteMs = std::nullopt;
    const std::string line = FormatReportLine(shown);
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(line.size()))
        throw std::system_error(written < 0 ? errno : EIO, std::generic_category(),
                                "cannot write report " + path_);
}

} // namespace devsim
