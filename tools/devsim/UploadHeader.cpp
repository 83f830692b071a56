#include "tools/devsim/UploadHeader.h"

#include <cstdio>

namespace devsim
{
namespace
{

bool IsSeparator(char c)
{
    return c == ' ' || c == '\t';
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::size_t SkipSeparators(std::string_view text, std::size_t pos)
{
    while (pos < text.size() && IsSeparator(text[pos]))
        ++pos;
    return pos;
}

// Tries to read "length separators checksum" starting at `pos`, ending at the line end or at a
// separator. On success fills the numeric fields and returns the position after the checksum.
std::optional<std::size_t> ParseLengthAndChecksum(std::string_view text, std::size_t pos,
                                                  UploadHeader &header)
{
    uint64_t length = 0;
    std::size_t end = pos;
    while (end < text.size() && IsDigit(text[end])) {
        length = length * 10 + static_cast<uint64_t>(text[end] - '0');
        if (length > UINT32_MAX)
            return std::nullopt;
        ++end;
    }
    if (end == pos || end >= text.size() || !IsSeparator(text[end]))
        return std::nullopt;

    const std::size_t sumStart = SkipSeparators(text, end);
    constexpr std::size_t digits = 4;
    if (sumStart + digits > text.size())
        return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = sumStart; i < sumStart + digits; ++i) {
        const int v = HexValue(text[i]);
        if (v < 0)
            return std::nullopt;
        sum = sum * 16 + static_cast<unsigned>(v);
    }
    const std::size_t after = sumStart + digits;
    if (after < text.size() && !IsSeparator(text[after]))
        return std::nullopt;

    header.length = static_cast<uint32_t>(length);
    header.checksumText = std::string(text.substr(sumStart, digits));
    header.checksum = static_cast<uint16_t>(sum);
    return after;
}

UploadHeader Finish(UploadHeader header, std::string_view fields, std::size_t addressEnd,
                    std::size_t afterChecksum)
{
    header.address = std::string(fields.substr(0, addressEnd));
    // Exactly one separator belongs to the layout; any further blank is part of the version.
    if (afterChecksum < fields.size())
        header.version = std::string(fields.substr(afterChecksum + 1));
    return header;
}

} // namespace

bool LooksLikeUploadHeader(std::string_view line)
{
    if (line.size() < 2 || (line[0] != 'L' && line[0] != 'l') || (line[1] != 'F' && line[1] != 'f'))
        return false;
    return line.size() == 2 || IsSeparator(line[2]);
}

std::optional<UploadHeader> ParseUploadHeader(std::string_view line)
{
    if (!LooksLikeUploadHeader(line) || line.size() < 3)
        return std::nullopt;
    const std::string_view fields = line.substr(3);

    UploadHeader header;
    for (std::size_t pos = 0; pos < fields.size(); ++pos) {
        if (!IsSeparator(fields[pos]))
            continue;
        const std::size_t lengthStart = SkipSeparators(fields, pos);
        if (const auto after = ParseLengthAndChecksum(fields, lengthStart, header))
            return Finish(header, fields, pos, *after);
        // A run of separators is one gap: the next candidate starts after it.
        pos = lengthStart > pos ? lengthStart - 1 : pos;
    }
    if (const auto after = ParseLengthAndChecksum(fields, 0, header))
        return Finish(header, fields, 0, *after);
    return std::nullopt;
}

uint16_t AddToChecksum(uint16_t sum, std::string_view bytes)
{
    unsigned total = sum;
    for (const char c : bytes)
        total += static_cast<unsigned char>(c);
    return static_cast<uint16_t>(total);
}

std::string ChecksumText(uint16_t sum)
{
    char text[5];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(sum));
    return text;
}

} // namespace devsim
