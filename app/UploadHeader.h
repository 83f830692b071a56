#pragma once
// The line sent ahead of every flash file: "LF " address, length, checksum and version separated by
// blanks and ended by a carriage return. The checksum is the 16-bit wrap-around sum of the file's
// bytes as four upper-case hexadecimal digits.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace loader
{

// Longest flash file: the header and the transfer count its length in 32 bits.
constexpr std::size_t MaxUploadLength = UINT32_MAX;

uint16_t FileChecksum(std::string_view data);
std::string ChecksumText(uint16_t checksum); // "00FE"

// The version the header carries: the file's date text when the script's version is "DATE" in any
// letter case, otherwise the script's version unchanged.
std::string VersionField(const std::string &loadVersion, const std::string &fileDateText);

std::string UploadHeader(const std::string &loadAddress, uint32_t length,
                         const std::string &checksumText, const std::string &versionField);

} // namespace loader
