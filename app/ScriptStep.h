#pragma once
// What one upload script line asks of the engine. The main window interprets the line at
// LineIndex with InterpretScriptLine and then does what the returned step says: it shows the
// boxes and talks to the device, while every decision about the line's text is made here.
//
// After any step except Done and an Abort in a value error box, the window advances LineIndex and
// sets the script gauge to ScriptGaugePercent(LineIndex, LineCount).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace loader
{

enum class ScriptAction {
    Done,           // no line left: ScriptDone, LineIndex and the gauge stay as they are
    Ignore,         // an ordinary line or an unknown command: it only costs a step
    Delay,          // DelayTicks := value (at least 1), then wait in the Delaying state
    PostDelay,      // PostDelayMs := value; "LP" outside 0 to 2147483 seconds is a value error
    SetLoadFile,    // LoadFileName := text
    SetLoadAddress, // LoadAddress := text
    SetLoadVersion, // LoadVersion := text
    ShowMessage,    // information box with text (converted bytes) and OK
    TestCommand,    // SendInitCmd(text); a result of "ERROR" fails the script
    SendCommand,    // SendDataString(text)
    Load,           // LoadPending: the next tick uploads LoadFileName
    // Error box with text and Abort/Ignore. Abort: ScriptFailed, LineIndex stays, no gauge update.
    DelayValueError,     // Ignore: the delay is skipped
    PostDelayValueError, // Ignore: PostDelayMs := 0
};

struct ScriptStep {
    ScriptAction action = ScriptAction::Ignore;
    int32_t value = 0; // ticks for Delay, milliseconds for PostDelay
    std::string text;
};

// Largest "LP" value in seconds whose millisecond count still fits a signed 32-bit integer.
constexpr int32_t MaxPostDelaySeconds = 2147483;

// lineIndex is 0-based; messages show it 1-based together with the script's file name.
ScriptStep InterpretScriptLine(std::string_view line, int lineIndex,
                               const std::string &scriptFileName);

// The step for the line at lineIndex of the script, or Done when every line has been taken.
ScriptStep NextScriptStep(const std::vector<std::string> &lines, int lineIndex,
                          const std::string &scriptFileName);

// lineIndex / lineCount * 100 rounded to the nearest integer, halves to even; 0 when either is
// not positive.
int ScriptGaugePercent(int lineIndex, int lineCount);

} // namespace loader
