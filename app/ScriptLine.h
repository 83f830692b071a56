#pragma once
// The form of one upload script line. A command line starts with "_" in column 1; its command is
// the next two characters in upper case (ASCII letters only) and its argument is everything after
// the line's first blank, untouched. A command line without a blank has the whole line as its
// argument. Lines that are not command lines, and unknown commands, are ignored.

#include <string>
#include <string_view>

namespace loader
{

enum class ScriptCommand {
    None,           // an ordinary line, or a command this language does not know
    Delay,          // "DY"
    PostDelay,      // "LP"
    LoadFile,       // "LF"
    LoadAddress,    // "LA"
    LoadVersion,    // "LV"
    DisplayMessage, // "DM"
    TestCommand,    // "TC"
    SendCommand,    // "SC"
    Load,           // "LD"
};

struct ScriptLine {
    ScriptCommand command = ScriptCommand::None;
    std::string name;     // the two command characters in upper case; empty for ordinary lines
    std::string argument; // meaningful for command lines only
};

ScriptLine ParseScriptLine(std::string_view line);

// The command named by two upper-case characters, or None.
ScriptCommand CommandByName(std::string_view name);

} // namespace loader
