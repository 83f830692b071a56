#pragma once
// Reads an upload script into lines. A line ends at CR LF, at a lone CR or at a lone LF; a zero
// byte ends the whole text; a terminator at the very end does not add an empty line. Lines are
// bytes and are not re-encoded, except that a byte-order mark is read as the text it marks (see
// platform/TextEncoding.h): a UTF-8 mark is dropped, UTF-16 becomes 8-bit text.
//
// A script that the zero byte cuts short, or that cannot be read as 8-bit text, is refused as a
// whole: run as far as it could be read, it would leave out commands. Zero bytes alone at the end
// cut nothing off and are allowed.

#include <string>
#include <string_view>
#include <vector>

namespace loader
{

std::vector<std::string> SplitScriptText(std::string_view text);

enum class ScriptStatus {
    Ok,
    NotRead, // missing, no permission, anything but a regular file, a read error
    Refused, // read, but its text cannot be run
};

struct ScriptFile {
    ScriptStatus status = ScriptStatus::NotRead;
    std::vector<std::string> lines; // empty unless Ok
    std::string reason;             // the system's reason, or what is wrong with the text
};

// The lines of a script file's bytes, or why the text is refused.
ScriptFile ParseScriptFile(std::string_view bytes);

// Reads and parses the file. An existing empty file gives no lines.
ScriptFile ReadScriptFile(const std::string &fileName);

// The box for a refused script.
std::string ScriptRefusedMessage(const std::string &fileName, const std::string &reason);

} // namespace loader
