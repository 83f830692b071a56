#pragma once
// The line that announces a flash file: "LF " address, length, checksum, version. The address
// and version are free texts the host copies from its script; the length is decimal and the
// checksum four hexadecimal digits of the 16-bit byte sum of the body.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devsim
{

struct UploadHeader {
    std::string address;
    uint32_t length = 0;
    std::string checksumText; // as announced, e.g. "00FE"
    uint16_t checksum = 0;
    std::string version;
};

// True when a received line is meant as an upload header: "LF" in any letter case, alone or
// followed by a blank or tab. Leading blanks are the caller's business.
bool LooksLikeUploadHeader(std::string_view line);

// Parses a header line (without its carriage return). Fields are separated by one or more
// blanks or tabs. The address is everything between "LF " and the length, so it may be empty or
// hold blanks; the version is everything after the one separator that follows the checksum.
// The leftmost "length checksum" pair wins; as a last resort a header that starts straight with
// the length (no address field at all) is taken too. Returns nothing for a malformed line.
std::optional<UploadHeader> ParseUploadHeader(std::string_view line);

// The 16-bit byte sum the header announces, continued over a further piece of the body.
uint16_t AddToChecksum(uint16_t sum, std::string_view bytes);

// Four upper-case hexadecimal digits.
std::string ChecksumText(uint16_t sum);

} // namespace devsim
