#include "app/ScriptStep.h"

#include "app/CmdString.h"
#include "app/ScriptInteger.h"
#include "app/ScriptLine.h"

#include <algorithm>

namespace loader
{
namespace
{

std::string ValueErrorText(const char *what, const std::string &scriptFileName, int lineIndex)
{
    return std::string("Script file error - ") + what + "\rFile Name: " + scriptFileName +
           "\rLine Number: " + std::to_string(static_cast<int64_t>(lineIndex) + 1);
}

ScriptStep DelayStep(const std::string &argument, int lineIndex, const std::string &scriptFile)
{
    const auto ticks = ParseScriptInteger(argument);
    if (!ticks)
        return {ScriptAction::DelayValueError, 0,
                ValueErrorText("Delay value corrupt!", scriptFile, lineIndex)};
    // Every count of 1 or less waits one tick; holding it at 1 also keeps the countdown from
    // running below the smallest integer.
    return {ScriptAction::Delay, std::max<int32_t>(*ticks, 1), {}};
}

ScriptStep PostDelayStep(const std::string &argument, int lineIndex, const std::string &scriptFile)
{
    const auto seconds = ParseScriptInteger(argument);
    // A negative pause or one whose milliseconds overflow means nothing: it is refused like any
    // other bad value, so the operator sees the typing error instead of a silent guess.
    if (!seconds || *seconds < 0 || *seconds > MaxPostDelaySeconds)
        return {ScriptAction::PostDelayValueError, 0,
                ValueErrorText("Post Delay value invalid!", scriptFile, lineIndex)};
    return {ScriptAction::PostDelay, *seconds * 1000, {}};
}

} // namespace

ScriptStep InterpretScriptLine(std::string_view line, int lineIndex,
                               const std::string &scriptFileName)
{
    ScriptLine parsed = ParseScriptLine(line);
    switch (parsed.command) {
    case ScriptCommand::None:
        return {};
    case ScriptCommand::Delay:
        return DelayStep(parsed.argument, lineIndex, scriptFileName);
    case ScriptCommand::PostDelay:
        return PostDelayStep(parsed.argument, lineIndex, scriptFileName);
    case ScriptCommand::LoadFile:
        return {ScriptAction::SetLoadFile, 0, std::move(parsed.argument)};
    case ScriptCommand::LoadAddress:
        return {ScriptAction::SetLoadAddress, 0, std::move(parsed.argument)};
    case ScriptCommand::LoadVersion:
        return {ScriptAction::SetLoadVersion, 0, std::move(parsed.argument)};
    case ScriptCommand::DisplayMessage:
        return {ScriptAction::ShowMessage, 0, ProcessCmdString(parsed.argument)};
    case ScriptCommand::TestCommand:
        return {ScriptAction::TestCommand, 0, ProcessCmdString(parsed.argument)};
    case ScriptCommand::SendCommand:
        return {ScriptAction::SendCommand, 0, ProcessCmdString(parsed.argument)};
    case ScriptCommand::Load:
        return {ScriptAction::Load, 0, {}};
    }
    return {};
}

ScriptStep NextScriptStep(const std::vector<std::string> &lines, int lineIndex,
                          const std::string &scriptFileName)
{
    if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= lines.size())
        return {ScriptAction::Done, 0, {}};
    return InterpretScriptLine(lines[static_cast<std::size_t>(lineIndex)], lineIndex,
                               scriptFileName);
}

int ScriptGaugePercent(int lineIndex, int lineCount)
{
    if (lineCount <= 0 || lineIndex <= 0)
        return 0;
    const int64_t scaled = static_cast<int64_t>(lineIndex) * 100;
    const int64_t quotient = scaled / lineCount;
    const int64_t twiceRemainder = (scaled % lineCount) * 2;
    const bool roundUp =
        twiceRemainder > lineCount || (twiceRemainder == lineCount && quotient % 2 != 0);
    return static_cast<int>(quotient + (roundUp ? 1 : 0));
}

} // namespace loader
