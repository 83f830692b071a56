#include "app/ScriptLine.h"

#include <array>
#include <utility>

namespace loader
{
namespace
{

constexpr std::array<std::pair<std::string_view, ScriptCommand>, 9> Commands{{
    {"DY", ScriptCommand::Delay},
    {"LP", ScriptCommand::PostDelay},
    {"LF", ScriptCommand::LoadFile},
    {"LA", ScriptCommand::LoadAddress},
    {"LV", ScriptCommand::LoadVersion},
    {"DM", ScriptCommand::DisplayMessage},
    {"TC", ScriptCommand::TestCommand},
    {"SC", ScriptCommand::SendCommand},
    {"LD", ScriptCommand::Load},
}};

char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

ScriptCommand CommandByName(std::string_view name)
{
    for (const auto &[text, command] : Commands)
        if (text == name)
            return command;
    return ScriptCommand::None;
}

ScriptLine ParseScriptLine(std::string_view line)
{
    ScriptLine parsed;
    if (line.empty() || line.front() != '_')
        return parsed;

    // A line as short as "_L" simply names a command nobody knows.
    for (char c : line.substr(1, 2))
        parsed.name += AsciiUpper(c);
    parsed.command = CommandByName(parsed.name);

    const auto blank = line.find(' ');
    parsed.argument = std::string(blank == std::string_view::npos ? line : line.substr(blank + 1));
    return parsed;
}

} // namespace loader
