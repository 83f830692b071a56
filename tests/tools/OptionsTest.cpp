#include "tools/devsim/Options.h"

#include <gtest/gtest.h>

namespace devsim
{
namespace
{

TEST(Options, DefaultsMatchTheLoadersDefaults)
{
    const Options o = ParseOptions({"--link", "/tmp/x"});
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.reportPath, "");
    EXPECT_FALSE(o.reportTimes);
    EXPECT_EQ(o.baud, 0u);
    const ReplyTexts &t = o.device.texts;
    EXPECT_EQ(std::vector<std::string>({t.prompt, t.error, t.ulPrompt, t.ulError, t.result}),
              std::vector<std::string>({"#", "?", ">", "ERR", "="}));
    EXPECT_FALSE(o.device.startWithUploadTexts);
    EXPECT_FALSE(o.device.silent);
    EXPECT_FALSE(o.device.echo);
    EXPECT_FALSE(o.device.failAfter);
    EXPECT_EQ(o.device.bodyIdleMs, 5000);
}

TEST(Options, EveryOptionReachesItsSetting)
{
    const Options o = ParseOptions({"--link=/dev/link",
                                    "--report",
                                    "r.jsonl",
                                    "--baud",
                                    "19200",
                                    "--fail-after=0",
                                    "--idle-ms",
                                    "250",
                                    "--mode",
                                    "ul",
                                    "--prompt",
                                    "P",
                                    "--error",
                                    "E",
                                    "--ul-prompt=UP",
                                    "--ul-error",
                                    "UE",
                                    "--result",
                                    "R",
                                    "--silent",
                                    "--echo",
                                    "--report-times"});
    EXPECT_EQ(o.linkPath, "/dev/link");
    EXPECT_EQ(o.reportPath, "r.jsonl");
    EXPECT_TRUE(o.reportTimes);
    EXPECT_EQ(o.baud, 19200u);
    EXPECT_EQ(o.device.failAfter, 0u);
    EXPECT_EQ(o.device.bodyIdleMs, 250);
    EXPECT_TRUE(o.device.startWithUploadTexts);
    const ReplyTexts &t = o.device.texts;
    EXPECT_EQ(std::vector<std::string>({t.prompt, t.error, t.ulPrompt, t.ulError, t.result}),
              std::vector<std::string>({"P", "E", "UP", "UE", "R"}));
    EXPECT_TRUE(o.device.silent);
    EXPECT_TRUE(o.device.echo);
    EXPECT_TRUE(ParseOptions({"--help"}).help);

    const Options shell = ParseOptions({"--link", "x", "--shell-command", "vttest", "--rows", "30",
                                        "--columns=100", "--baud", "9600"});
    EXPECT_TRUE(shell.shell);
    EXPECT_EQ(shell.shellSettings.command, "vttest");
    EXPECT_EQ(shell.shellSettings.rows, 30);
    EXPECT_EQ(shell.shellSettings.columns, 100);
    EXPECT_EQ(shell.baud, 9600u);
    const Options login = ParseOptions({"--link", "x", "--shell"});
    EXPECT_TRUE(login.shell);
    EXPECT_EQ(login.shellSettings.command, "");
    EXPECT_EQ(login.shellSettings.rows, 24);
    EXPECT_EQ(login.shellSettings.columns, 80);
}

TEST(Options, BadCommandLinesAreRefused)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--baud", "19200"},
        {"--link"},
        {"--link", ""},
        {"--link", "x", "--baud", "0"},
        {"--link", "x", "--baud", "fast"},
        {"--link", "x", "--baud", "-1"},
        {"--link", "x", "--baud", "4294967296"},
        {"--link", "x", "--fail-after", "1k"},
        {"--link", "x", "--idle-ms", "0"},
        {"--link", "x", "--mode", "upload"},
        {"--link", "x", "--prompt="},
        {"--link", "x", "--silent=yes"},
        {"--link", "x", "--verbose"},
        {"--link", "x", "stray"},
        {"--link", "x", "--shell", "--prompt", "$"},
        {"--link", "x", "--shell-command", "ls", "--report", "r"},
        {"--link", "x", "--shell", "--echo"},
        {"--link", "x", "--shell", "--shell-command", "ls"},
        {"--link", "x", "--shell-command", ""},
        {"--link", "x", "--shell", "--rows", "0"},
        {"--link", "x", "--shell", "--columns", "65536"},
        {"--link", "x", "--rows", "30"},
    };
    for (const auto &args : cases) {
        std::string line;
        for (const auto &a : args)
            line += a + " ";
        EXPECT_THROW(ParseOptions(args), OptionsError) << line;
    }
}

} // namespace
} // namespace devsim
