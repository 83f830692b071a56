#include "app/UploadLog.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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

// Every way the log can fail is kept with the system's reason and the full path, and says whether
// the file on disk is this run's broken record or an earlier run's.
TEST(UploadLog, FailuresAreKeptWithTheirReason)
{
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.File("folder"));
    std::filesystem::create_directories(dir.File("full"));
    std::filesystem::create_symlink("/dev/full", dir.File("full/loader.log"));
    std::filesystem::create_directories(dir.File("locked"));
    dir.Write("locked/loader.log", "earlier run");
    struct Case {
        std::string name;
        bool headerWritten; // what Open returns
        rlim_t sizeLimit;   // RLIM_INFINITY, or where writing stops with EFBIG
        bool unprivileged;  // root may write regardless of permissions: skipped as root
        std::string text;   // the failure text; "<dir>" is the folder
        std::string onDisk; // "" when not checked
    } cases[] = {
        {dir.File("no/such/dir/loader.log"), false, RLIM_INFINITY, false,
         "Unable to write to <dir>/no/such/dir/loader.log\rNo such file or directory", ""},
        {dir.File("folder"), false, RLIM_INFINITY, false,
         "Unable to write to <dir>/folder\rIs a directory", ""},
        {dir.File("full/loader.log"), false, RLIM_INFINITY, false,
         "Unable to write to <dir>/full/loader.log\rNo space left on device\r"
         "The log of this run is incomplete.",
         ""},
        // The header fits; the entry is cut short, and the next write finds the limit.
        {dir.File("limit.log"), true, Header.size() + 20, false,
         "Unable to write to <dir>/limit.log\rFile too large\rThe log of this run is incomplete.",
         Header + AppLines.substr(0, 20)},
        {dir.File("locked/loader.log"), false, RLIM_INFINITY, true,
         "Unable to write to <dir>/locked/loader.log\rPermission denied\r"
         "The file there is the log of an earlier run.",
         "earlier run"},
    };
    // Past the size limit a write fails with EFBIG instead of raising SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.unprivileged && ::geteuid() == 0)
            continue;
        using std::filesystem::perms;
        std::filesystem::permissions(dir.File("locked/loader.log"), perms::owner_read);
        std::filesystem::permissions(dir.File("locked"), perms::owner_read | perms::owner_exec);
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limit = previous;
        limit.rlim_cur = c.sizeLimit;
        ::setrlimit(RLIMIT_FSIZE, &limit);

        TUploadLog log;
        EXPECT_EQ(log.Open(c.name, "10:20:30 AM"), c.headerWritten);
        log.WriteEntry(App);
        log.WriteEntry(App);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::filesystem::permissions(dir.File("locked"), perms::owner_all);

        EXPECT_FALSE(log.IsOpen());
        std::string text = c.text;
        text.replace(text.find("<dir>"), 5, dir.Path());
        EXPECT_EQ(log.FailureText(), text);
        if (!c.onDisk.empty()) {
            EXPECT_EQ(dir.Read(c.name.substr(dir.Path().size() + 1)), c.onDisk);
        }
    }
    std::signal(SIGXFSZ, SIG_DFL);

    TUploadLog log;
    ASSERT_TRUE(log.Open(dir.File("fine.log"), "t"));
    log.WriteEntry(App);
    EXPECT_EQ(log.FailureText(), "");
}
