#include "app/ScriptStep.h"

#include <gtest/gtest.h>

using loader::InterpretScriptLine;
using loader::ScriptAction;

namespace
{

const std::string DelayError = "Script file error - Delay value corrupt!\rFile Name: boot.sld\r"
                               "Line Number: 8";
const std::string PostDelayError = "Script file error - Post Delay value invalid!\r"
                                   "File Name: boot.sld\rLine Number: 8";

} // namespace

TEST(ScriptStep, InterpretsEachLine)
{
    struct Case {
        const char *line;
        ScriptAction action;
        int32_t value;
        std::string text;
    } cases[] = {
        {"_dy 5", ScriptAction::Delay, 5, ""},
        {" _DY 5", ScriptAction::Ignore, 0, ""},
        {"_DY5", ScriptAction::DelayValueError, 0, DelayError},
        {"_DY 5 ", ScriptAction::DelayValueError, 0, DelayError},
        {"_DY 5 ticks", ScriptAction::DelayValueError, 0, DelayError},
        {"_DY ", ScriptAction::DelayValueError, 0, DelayError},
        {"_DY $10", ScriptAction::Delay, 16, ""},
        {"_DY 0", ScriptAction::Delay, 1, ""},
        {"_DY -3", ScriptAction::Delay, 1, ""},
        {"_DY -2147483648", ScriptAction::Delay, 1, ""},
        {"_DY 2147483647", ScriptAction::Delay, INT32_MAX, ""},
        {"_DYNAMIC 5", ScriptAction::Delay, 5, ""},
        {"_LP 3", ScriptAction::PostDelay, 3000, ""},
        {"_LP 0", ScriptAction::PostDelay, 0, ""},
        {"_LP 2147483", ScriptAction::PostDelay, 2147483000, ""},
        {"_LP 2147484", ScriptAction::PostDelayValueError, 0, PostDelayError},
        {"_LP -1", ScriptAction::PostDelayValueError, 0, PostDelayError},
        {"_LP three", ScriptAction::PostDelayValueError, 0, PostDelayError},
        {"_LFfile.bin", ScriptAction::SetLoadFile, 0, "_LFfile.bin"},
        {"_LF  file.bin", ScriptAction::SetLoadFile, 0, " file.bin"},
        {"_LF app.bin", ScriptAction::SetLoadFile, 0, "app.bin"},
        {"_LA 0x10000", ScriptAction::SetLoadAddress, 0, "0x10000"},
        {"_LV DATE", ScriptAction::SetLoadVersion, 0, "DATE"},
        {"_DM \"Power on^M^Jnow\"", ScriptAction::ShowMessage, 0, "Power on\r\nnow"},
        {"_TC \"VER^M\"", ScriptAction::TestCommand, 0, "VER\r"},
        {"_SC \"RESET^M\"", ScriptAction::SendCommand, 0, "RESET\r"},
        {"_SC ATZ^M", ScriptAction::SendCommand, 0, "ATZ"},
        {"_SC \"A^\"", ScriptAction::SendCommand, 0, "A"},
        {"_SC \"^a^b\"", ScriptAction::SendCommand, 0, "\x01\x02"},
        {"_LD", ScriptAction::Load, 0, ""},
        {"_XY 5", ScriptAction::Ignore, 0, ""},
        {"any text", ScriptAction::Ignore, 0, ""},
        {"", ScriptAction::Ignore, 0, ""},
    };
    for (const auto &c : cases) {
        const auto step = InterpretScriptLine(c.line, 7, "boot.sld");
        EXPECT_EQ(step.action, c.action) << c.line;
        EXPECT_EQ(step.value, c.value) << c.line;
        EXPECT_EQ(step.text, c.text) << c.line;
    }
}

TEST(ScriptStep, MessagesNameTheScriptAndTheLineCountedFromOne)
{
    EXPECT_EQ(InterpretScriptLine("_DY x", 0, "C:/s p.sld").text,
              "Script file error - Delay value corrupt!\rFile Name: C:/s p.sld\rLine Number: 1");
    EXPECT_EQ(InterpretScriptLine("_LP x", INT32_MAX, "").text,
              "Script file error - Post Delay value invalid!\rFile Name: \r"
              "Line Number: 2147483648");
}

TEST(ScriptStep, EndsAfterTheLastLine)
{
    const std::vector<std::string> none;
    EXPECT_EQ(loader::NextScriptStep(none, 0, "a.sld").action, ScriptAction::Done);

    const std::vector<std::string> lines{"_DY 2", "rem", "_LD"};
    const ScriptAction expected[] = {ScriptAction::Delay, ScriptAction::Ignore, ScriptAction::Load,
                                     ScriptAction::Done, ScriptAction::Done};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(loader::NextScriptStep(lines, i, "a.sld").action, expected[i]) << i;
}

TEST(ScriptGauge, RoundsHalvesToEven)
{
    struct Case {
        int index;
        int count;
        int percent;
    } cases[] = {
        {1, 3, 33},
        {2, 3, 67},
        {3, 3, 100},
        {0, 3, 0},
        {1, 8, 12},
        {3, 8, 38},
        {5, 8, 62},
        {7, 8, 88},
        {1, 200, 0},
        {3, 200, 2},
        {5, 200, 2},
        {199, 200, 100},
        {1, 400, 0},
        {2, 7, 29},
        {1, 1, 100},
        {0, 0, 0},
        {1, 0, 0},
        {-1, 3, 0},
        {INT32_MAX, INT32_MAX, 100},
        {INT32_MAX / 2, INT32_MAX, 50},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::ScriptGaugePercent(c.index, c.count), c.percent)
            << c.index << "/" << c.count;
}
