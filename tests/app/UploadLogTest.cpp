#include "app/UploadLog.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using loader::TUploadLog;
using loader::UploadLogEntry;

namespace
{

const std::string Header = "Tavrin Research, Inc. Flash File Loader, Version 1.04\r\n"
                           "10:20:30 AM\r\n"
                           "\r\n";

const UploadLogEntry App{"app.bin", 258, "00FE", "date", "6/19/92_10:20:30AM", "0x10000"};
const std::string AppLines = "File Name: app.bin\r\n"
                             "  File Size: 258\r\n"
                             "  File Checksum: 00FE\r\n"
                             "  File Version: date; 6/19/92_10:20:30AM\r\n"
                             "  Load Address: 0x10000\r\n"
                             "\r\n";

} // namespace

TEST(UploadLog, WritesHeaderAndSixLinesPerFile)
{
    testsupport::TempDir dir;
    TUploadLog log;
    ASSERT_TRUE(log.Open(dir.File("loader.log"), "10:20:30 AM"));
    EXPECT_EQ(dir.Read("loader.log"), Header);

    log.WriteEntry(App);
    // Each entry is on disk as soon as it is written, while the log is still open.
    EXPECT_EQ(dir.Read("loader.log"), Header + AppLines);

    log.WriteEntry({"", 0, "0000", "", "", ""});
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(dir.Read("loader.log"), Header + AppLines +
                                          "File Name: \r\n  File Size: 0\r\n"
                                          "  File Checksum: 0000\r\n  File Version: ; \r\n"
                                          "  Load Address: \r\n\r\n");
}

TEST(UploadLog, EveryRunRewritesTheLog)
{
    testsupport::TempDir dir;
    dir.Write("loader.log", std::string(5000, 'o'));
    TUploadLog log;
    ASSERT_TRUE(log.Open(dir.File("loader.log"), "first"));
    log.WriteEntry(App);
    ASSERT_TRUE(log.Open(dir.File("loader.log"), "10:20:30 AM"));
    log.WriteEntry(App);
    EXPECT_EQ(dir.Read("loader.log"), Header + AppLines);
}

TEST(UploadLog, FailuresAreSilent)
{
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir.File("folder"));
    struct Case {
        std::string name;
    } cases[] = {{dir.File("no/such/dir/loader.log")}, {dir.File("folder")}, {""}};
    for (const auto &c : cases) {
        TUploadLog log;
        EXPECT_FALSE(log.Open(c.name, "t")) << c.name;
        log.WriteEntry(App);
        log.Close();
        EXPECT_FALSE(log.IsOpen());
    }

    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to fail writes";
    TUploadLog full;
    EXPECT_FALSE(full.Open("/dev/full", "t"));
    full.WriteEntry(App);
    EXPECT_FALSE(full.IsOpen());
}
