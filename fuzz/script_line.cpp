// Fuzzes the upload script interpreter: arbitrary bytes are split into lines as a script file is,
// then every line is interpreted in turn, as the engine walks a script.

#include "app/CmdString.h"
#include "app/ScriptInteger.h"
#include "app/ScriptLine.h"
#include "app/ScriptStep.h"
#include "app/ScriptText.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace loader;

namespace
{

bool IsValueError(ScriptAction action)
{
    return action == ScriptAction::DelayValueError || action == ScriptAction::PostDelayValueError;
}

void CheckStep(const ScriptStep &step, const std::string &line, int index, const std::string &name)
{
    const ScriptLine parsed = ParseScriptLine(line);
    if (line.empty() || line.front() != '_')
        FUZZ_CHECK(parsed.command == ScriptCommand::None && parsed.name.empty());
    FUZZ_CHECK(parsed.argument.size() <= line.size());
    FUZZ_CHECK(line.find(parsed.argument) != std::string::npos);

    switch (step.action) {
    case ScriptAction::Done:
        FUZZ_CHECK(false); // only past the last line
        break;
    case ScriptAction::Ignore:
        FUZZ_CHECK(parsed.command == ScriptCommand::None);
        break;
    case ScriptAction::Delay:
        FUZZ_CHECK(parsed.command == ScriptCommand::Delay);
        FUZZ_CHECK(step.value >= 1);
        FUZZ_CHECK(ParseScriptInteger(parsed.argument).has_value());
        break;
    case ScriptAction::PostDelay:
        FUZZ_CHECK(parsed.command == ScriptCommand::PostDelay);
        FUZZ_CHECK(step.value >= 0 && step.value % 1000 == 0);
        FUZZ_CHECK(step.value / 1000 <= MaxPostDelaySeconds);
        FUZZ_CHECK(ParseScriptInteger(parsed.argument) == step.value / 1000);
        break;
    case ScriptAction::SetLoadFile:
    case ScriptAction::SetLoadAddress:
    case ScriptAction::SetLoadVersion:
        FUZZ_CHECK(step.text == parsed.argument);
        break;
    case ScriptAction::ShowMessage:
    case ScriptAction::TestCommand:
    case ScriptAction::SendCommand:
        FUZZ_CHECK(step.text == ProcessCmdString(parsed.argument));
        FUZZ_CHECK(step.text.size() <= line.size());
        break;
    case ScriptAction::Load:
        FUZZ_CHECK(parsed.command == ScriptCommand::Load && step.text.empty());
        break;
    case ScriptAction::DelayValueError:
    case ScriptAction::PostDelayValueError:
        break;
    }
    if (IsValueError(step.action)) {
        // The box names the script and the 1-based line so the operator can find the typo.
        FUZZ_CHECK(step.text.find("File Name: " + name) != std::string::npos);
        FUZZ_CHECK(step.text.find("Line Number: " + std::to_string(index + 1)) !=
                   std::string::npos);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> lines = SplitScriptText(text);

    // Lines hold no terminator and no zero byte, and joined again they split the same way.
    std::string joined;
    for (const auto &line : lines) {
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        joined += line;
        joined += '\n';
    }
    FUZZ_CHECK(joined.size() <= size + 1);
    FUZZ_CHECK(SplitScriptText(joined) == lines);

    const std::string name = "fuzz.scr";
    const int count = static_cast<int>(lines.size());
    int lastPercent = 0;
    for (int i = 0; i <= count; ++i) {
        const ScriptStep step = NextScriptStep(lines, i, name);
        if (i == count) {
            FUZZ_CHECK(step.action == ScriptAction::Done);
        } else {
            CheckStep(step, lines[static_cast<std::size_t>(i)], i, name);
        }
        const int percent = ScriptGaugePercent(i, count);
        FUZZ_CHECK(percent >= lastPercent && percent <= 100);
        lastPercent = percent;
    }
    FUZZ_CHECK(NextScriptStep(lines, -1, name).action == ScriptAction::Done);
    FUZZ_CHECK(ScriptGaugePercent(count, count) == (count > 0 ? 100 : 0));
    return 0;
}
