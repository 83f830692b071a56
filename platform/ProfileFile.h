#pragma once
// Reads and writes INI-style profile files the way Windows profile calls do: sections and keys
// match without regard to case, names and values are trimmed, a value wholly in matching quotes
// loses them, values are cut at 1023 characters, and a write keeps every other line in place.
// Texts are bytes: nothing is re-encoded, except that a file saved with a byte-order mark (UTF-8,
// or UTF-16 as a Windows editor's "Unicode") is read as its 8-bit text and written back in the
// form it came in, mark included.
// A missing file reads as empty. A file in the way that cannot be read (not a regular file, such
// as a FIFO or a directory; no permission; UTF-16 beyond 8 bits) is refused: its reads give the
// defaults and a write leaves it as it is and raises. Opening it never blocks.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform
{

// Raised when a profile write cannot reach the disk; the text is "Unable to write to <file>".
class EIniFileException : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

class TIniFile
{
  public:
    explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string &FileName() const { return fileName_; }
    // Why the file is refused; empty when it can be read or is missing.
    std::string Refusal() const;

    std::string ReadString(const std::string &section, const std::string &key,
                           const std::string &defaultValue) const;
    int32_t ReadInteger(const std::string &section, const std::string &key,
                        int32_t defaultValue) const;
    bool ValueExists(const std::string &section, const std::string &key) const;
    // The key names of a section in file order, first spelling of each; false when the file
    // cannot be read.
    bool ReadSectionKeys(const std::string &section, std::vector<std::string> &keys) const;
    // The keys of a section with their values as ReadString gives them, in one read of the file;
    // false when the file cannot be read.
    bool ReadSectionValues(const std::string &section,
                           std::vector<std::pair<std::string, std::string>> &values) const;

    // Creates the file on the first write. Throws EIniFileException when it cannot write.
    void WriteString(const std::string &section, const std::string &key, const std::string &value);
    void WriteInteger(const std::string &section, const std::string &key, int32_t value);
    // Removes the key (the section header stays). Throws EIniFileException when it cannot write.
    void DeleteKey(const std::string &section, const std::string &key);

  private:
    std::string fileName_;
};

// The integer rule of profile values: decimal; hexadecimal with a leading "$", or with "0x"/"0X"
// when the text is longer than two characters; false for anything else (empty, junk, overflow).
bool ParseProfileInteger(const std::string &text, int32_t &value);

// Whether two section or key names name the same thing (blanks around and case do not count).
bool SameProfileName(const std::string &a, const std::string &b);

// Longest value a profile read returns.
constexpr std::size_t MaxProfileValue = 1023;

} // namespace platform
