#include "app/ScriptText.h"
#include "tests/support/TempDir.h"

#include <filesystem>

#include <gtest/gtest.h>

using loader::ReadScriptFile;
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

TEST(ScriptText, ReadsFilesAndTellsUnreadableOnesApart)
{
    testsupport::TempDir dir;
    dir.Write("a.sld", "_LF app.bin\r\n_LD\r\n");
    dir.Write("empty.sld", "");
    std::filesystem::create_directory(dir.File("folder.sld"));

    EXPECT_EQ(ReadScriptFile(dir.File("a.sld")), (Lines{"_LF app.bin", "_LD"}));
    const auto empty = ReadScriptFile(dir.File("empty.sld"));
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(ReadScriptFile(dir.File("missing.sld")).has_value());
    EXPECT_FALSE(ReadScriptFile(dir.File("folder.sld")).has_value());
    EXPECT_FALSE(ReadScriptFile("").has_value());
}
