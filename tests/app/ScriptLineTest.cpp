#include "app/ScriptLine.h"
#include "app/CmdString.h"
#include "app/ScriptInteger.h"

#include <gtest/gtest.h>

using loader::ScriptCommand;

TEST(ScriptLine, FindsCommandAndArgument)
{
    struct Case {
        const char *line;
        ScriptCommand command;
        const char *name;
        const char *argument;
    } cases[] = {
        {"_dy 5", ScriptCommand::Delay, "DY", "5"},
        {" _DY 5", ScriptCommand::None, "", ""},
        {"_DY5", ScriptCommand::Delay, "DY", "_DY5"},
        {"_DYNAMIC 5", ScriptCommand::Delay, "DY", "5"},
        {"_LFfile.bin", ScriptCommand::LoadFile, "LF", "_LFfile.bin"},
        {"_LF  file.bin", ScriptCommand::LoadFile, "LF", " file.bin"},
        {"_LA 0x10000 ", ScriptCommand::LoadAddress, "LA", "0x10000 "},
        {"_lv date", ScriptCommand::LoadVersion, "LV", "date"},
        {"_Lp 3", ScriptCommand::PostDelay, "LP", "3"},
        {"_dm \"hi\"", ScriptCommand::DisplayMessage, "DM", "\"hi\""},
        {"_tC \"VER^M\"", ScriptCommand::TestCommand, "TC", "\"VER^M\""},
        {"_sc \"a b\"", ScriptCommand::SendCommand, "SC", "\"a b\""},
        {"_LD", ScriptCommand::Load, "LD", "_LD"},
        {"_ld anything", ScriptCommand::Load, "LD", "anything"},
        {"_XX 5", ScriptCommand::None, "XX", "5"},
        {"_D", ScriptCommand::None, "D", "_D"},
        {"_", ScriptCommand::None, "", "_"},
        {"_ D Y", ScriptCommand::None, " D", "D Y"},
        {"_\xe4y 5", ScriptCommand::None, "\xe4Y", "5"},
        {"_DY\t5", ScriptCommand::Delay, "DY", "_DY\t5"},
        {"", ScriptCommand::None, "", ""},
        {"; comment", ScriptCommand::None, "", ""},
    };
    for (const auto &c : cases) {
        const auto parsed = loader::ParseScriptLine(c.line);
        EXPECT_EQ(parsed.command, c.command) << c.line;
        EXPECT_EQ(parsed.name, c.name) << c.line;
        if (c.command != ScriptCommand::None) {
            EXPECT_EQ(parsed.argument, c.argument) << c.line;
        }
    }
}

TEST(ScriptInteger, AcceptsOnlyTheStrictForm)
{
    struct Case {
        const char *text;
        std::optional<int32_t> value;
    } cases[] = {
        {"5", 5},
        {"  5", 5},
        {"+5", 5},
        {"-3", -3},
        {"0", 0},
        {"007", 7},
        {"$10", 16},
        {"$ff", 255},
        {"-$10", -16},
        {"$7FFFFFFF", INT32_MAX},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-$80000000", INT32_MIN},
        {"000000000000000000042", 42},
        {"2147483648", std::nullopt},
        {"$80000000", std::nullopt},
        {"$FFFFFFFF", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"5 ", std::nullopt},
        {"5 ticks", std::nullopt},
        {"- 5", std::nullopt},
        {"+", std::nullopt},
        {"$", std::nullopt},
        {"$g", std::nullopt},
        {"0x10", std::nullopt},
        {"\t5", std::nullopt},
        {"1e3", std::nullopt},
        {"--5", std::nullopt},
        {"5-", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::ParseScriptInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(CmdString, ConvertsQuotedTextToDeviceBytes)
{
    using namespace std::string_literals;
    struct Case {
        std::string argument;
        std::string bytes;
    } cases[] = {
        {"\"RESET^M\"", "RESET\r"},
        {"ATZ^M", "ATZ"},
        {"\"A^\"", "A"},
        {"\"^a^b\"", "\x01\x02"},
        {"\"^J^[^^\"", "\n\x1b\x1e"},
        {"\"^@\"", "\0"s},
        {"\"x^@y\"", "x\0y"s},
        {"\"^m^M\"", "\r\r"},
        {"\"^^M\"", "\x1eM"},
        {"\"^?\"", "\xff"},
        {"\"^\x01\"", "\xc1"},
        {"\"^\xe4\"", "\xa4"},
        {"\"^\x9eM\"", "^M"},
        {"  \t\"hello world\"\r\n", "hello world"},
        {"\x01\"in\"\x7f", "in\""},
        {"\"\"", ""},
        {"\"", ""},
        {"", ""},
        {"ab", ""},
        {"abc", "a"},
        {"x\"abc\"", "abc\""},
        {"\"abc\"tail", "abc\"tai"},
        {"abc\"", ""},
        {"\"a\"b\"", "a\"b"},
        {"\"  inner  \"", "  inner  "},
        {"\xff\"\xfe\"\xff", "\xfe\"\xff"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::ProcessCmdString(c.argument), c.bytes)
            << testing::PrintToString(c.argument);
}
