#pragma once
// Reads an upload script into lines. A line ends at CR LF, at a lone CR or at a lone LF; a zero
// byte ends the whole text; a terminator at the very end does not add an empty line. Lines are
// bytes and are not re-encoded.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace loader
{

std::vector<std::string> SplitScriptText(std::string_view text);

// The script's lines, or nothing when the file cannot be opened or read (a missing file, no
// permission, anything but a regular file, a read error); then `reason`, when given, says why.
// An existing empty file gives an empty list.
std::optional<std::vector<std::string>> ReadScriptFile(const std::string &fileName,
                                                       std::string *reason = nullptr);

} // namespace loader
