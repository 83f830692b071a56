#include "app/ScriptText.h"
#include "tests/support/TempDir.h"

#include <filesystem>

#include <gtest/gtest.h>

using loader::ParseScriptFile;
using loader::ReadScriptFile;
using loader::ScriptFile;
using loader::ScriptStatus;
using loader::SplitScriptText;
using Lines = std::vector<std::string>;

TEST(ScriptText, SplitsAtEveryKindOfLineEnd)
{
    using namespace std::string_literals;
    struct Case {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\r\n", {""}},
        {"\n\n\n", {"", "", ""}},
        {"a\r", {"a"}},
        {"a\0b\r\nc"s, {"a"}},
        {"a\r\n\0\r\nb"s, {"a"}},
        {"\0abc"s, {}},
        {" _DY 5 \t\r\n\xff\x80", {" _DY 5 \t", "\xff\x80"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitScriptText(c.text), c.lines) << testing::PrintToString(c.text);
}

// Whatever an editor saved reads as the script it shows, or is refused whole: a script cut short
// must not run as if it were complete.
TEST(ScriptText, MarkedScriptsReadWholeOrAreRefused)
{
    using namespace std::string_literals;
    struct Case {
        std::string bytes;
        ScriptStatus status;
        Lines lines;
        std::string reason;
    } cases[] = {
        {"\xEF\xBB\xBF_LF a.bin\r\n_LD", ScriptStatus::Ok, {"_LF a.bin", "_LD"}, ""},
        {"\xFF\xFE_\0L\0F\0 \0\xE9\0\r\0\n\0_\0L\0D\0"s, ScriptStatus::Ok, {"_LF \xE9", "_LD"}, ""},
        {"_LD\r\n\0\0"s, ScriptStatus::Ok, {"_LD"}, ""},
        {"\xFF\xFE_\0\n\0\xAC\x20"s,
         ScriptStatus::Refused,
         {},
         "UTF-16 character U+20AC in line 2 has no 8-bit form"},
        {"_LF a\r\n_L\0D\r\n"s,
         ScriptStatus::Refused,
         {},
         "zero byte in line 2 cuts the text short"},
        {"\0_LD"s, ScriptStatus::Refused, {}, "zero byte in line 1 cuts the text short"},
        {"_LF a\r\0\n"s, ScriptStatus::Refused, {}, "zero byte in line 2 cuts the text short"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const ScriptFile script = ParseScriptFile(c.bytes);
        EXPECT_EQ(script.status, c.status);
        EXPECT_EQ(script.lines, c.lines);
        EXPECT_EQ(script.reason, c.reason);
    }
}

TEST(ScriptText, ReadsFilesAndTellsUnreadableOnesApart)
{
    testsupport::TempDir dir;
    dir.Write("a.sld", "_LF app.bin\r\n_LD\r\n");
    dir.Write("empty.sld", "");
    dir.Write("wide.sld", "\xFF\xFE_");
    std::filesystem::create_directory(dir.File("folder.sld"));

    EXPECT_EQ(ReadScriptFile(dir.File("a.sld")).lines, (Lines{"_LF app.bin", "_LD"}));
    const ScriptFile empty = ReadScriptFile(dir.File("empty.sld"));
    EXPECT_EQ(empty.status, ScriptStatus::Ok);
    EXPECT_TRUE(empty.lines.empty());
    EXPECT_EQ(ReadScriptFile(dir.File("wide.sld")).status, ScriptStatus::Refused);
    EXPECT_EQ(ReadScriptFile(dir.File("missing.sld")).status, ScriptStatus::NotRead);
    EXPECT_EQ(ReadScriptFile(dir.File("folder.sld")).status, ScriptStatus::NotRead);
    EXPECT_EQ(ReadScriptFile("").status, ScriptStatus::NotRead);
}
