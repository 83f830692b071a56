#include "app/UploadHeader.h"

namespace loader
{

uint16_t FileChecksum(std::string_view data)
{
    uint16_t sum = 0;
    for (char c : data)
        sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
    return sum;
}

std::string ChecksumText(uint16_t checksum)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, checksum >>= 4)
        text[static_cast<std::size_t>(i)] = Hex[checksum & 0xF];
    return text;
}

std::string VersionField(const std::string &loadVersion, const std::string &fileDateText)
{
    static constexpr std::string_view Date = "DATE";
    if (loadVersion.size() != Date.size())
        return loadVersion;
    for (std::size_t i = 0; i < Date.size(); ++i) {
        const char c = loadVersion[i];
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != Date[i])
            return loadVersion;
    }
    return fileDateText;
}

std::string UploadHeader(const std::string &loadAddress, uint32_t length,
                         const std::string &checksumText, const std::string &versionField)
{
    return "LF " + loadAddress + " " + std::to_string(length) + " " + checksumText + " " +
           versionField + "\r";
}

} // namespace loader
