#include "platform/ProfileFile.h"
#include "platform/TextEncoding.h"
#include "tests/support/FifoGuard.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using platform::ParseProfileInteger;
using platform::TextForm;
using platform::TIniFile;

TEST(ProfileInteger, FollowsTheProfileRule)
{
    struct Case {
        const char *text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"19200", true, 19200},
        {"-5", true, -5},
        {"  42 ", true, 42},
        {"$10", true, 16},
        {"$ff", true, 255},
        {"0x1", true, 1},
        {"0X1F", true, 31},
        {"0x", false, 0},
        {"", false, 0},
        {"19.2", false, 0},
        {"abc", false, 0},
        {"12abc", false, 0},
        {"$", false, 0},
        {"$FFFFFFFF", true, -1},
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483648", true, INT32_MIN},
        {"99999999999", false, 0},
    };
    for (const auto &c : cases) {
        int32_t value = 0;
        EXPECT_EQ(ParseProfileInteger(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(ProfileFile, ReadsWithWindowsProfileRules)
{
    testsupport::TempDir dir;
    dir.Write("a.ini", "; comment\r\n[Upload Settings]\r\n  delay =  250  \r\n"
                       "Default Script=\"my script.sld\"\r\nQuoted='x\r\nLogging=0x1\r\n"
                       "[Other]\r\nDelay=7\r\n");
    TIniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadInteger("UPLOAD SETTINGS", "Delay", 1000), 250);
    EXPECT_EQ(ini.ReadString("upload settings", "default script", ""), "my script.sld");
    EXPECT_EQ(ini.ReadString("Upload Settings", "Quoted", ""), "'x");
    EXPECT_EQ(ini.ReadInteger("Upload Settings", "Logging", 0), 1);
    EXPECT_EQ(ini.ReadInteger("Other", "Delay", 0), 7);
    EXPECT_EQ(ini.ReadString("Missing", "Key", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("Upload Settings", "Default Script", -3), -3);
    TIniFile none(dir.File("none.ini"));
    EXPECT_EQ(none.ReadString("A", "B", "d"), "d");
}

TEST(ProfileFile, CutsValuesAt1023Characters)
{
    testsupport::TempDir dir;
    dir.Write("a.ini", "[S]\nK=" + std::string(2000, 'v') + "\n");
    EXPECT_EQ(TIniFile(dir.File("a.ini")).ReadString("S", "K", "").size(), 1023u);
}

TEST(ProfileFile, WriteCreatesReplacesAndKeepsOtherLines)
{
    testsupport::TempDir dir;
    TIniFile ini(dir.File("loader.ini"));
    ini.WriteString("Global", "Driver Version", "1.04");
    EXPECT_EQ(dir.Read("loader.ini"), "[Global]\nDriver Version=1.04\n");

    dir.Write("loader.ini", "; keep me\r\n[RS232Settings]\r\nBAUD RATE=9600\r\n; inner\r\n\r\n"
                            "[Global]\r\nDriver Version=1.00\r\n");
    ini.WriteString("rs232settings", "Baud Rate", "19200");
    ini.WriteString("RS232Settings", "Parity", "None");
    ini.WriteString("Global", "Driver Version", "1.04");
    ini.WriteInteger("Trigger", "Count", 3);
    EXPECT_EQ(dir.Read("loader.ini"),
              "; keep me\r\n[RS232Settings]\r\nBaud Rate=19200\r\n; inner\r\nParity=None\r\n\r\n"
              "[Global]\r\nDriver Version=1.04\r\n\r\n[Trigger]\r\nCount=3\r\n");
}

TEST(ProfileFile, UnwritableFileRaisesUnableToWrite)
{
    testsupport::TempDir dir;
    const std::string path = dir.File("loader.ini");
    std::filesystem::create_directory(path); // a directory stands where the file should be
    TIniFile ini(path);
    try {
        ini.WriteString("Global", "Driver Version", "1.04");
        FAIL() << "write succeeded";
    } catch (const platform::EIniFileException &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
    }
}

TEST(ProfileFile, FailedRewriteKeepsTheOldContent)
{
    testsupport::TempDir dir;
    const std::string before = "[Global]\nDriver Version=1.00\n";
    dir.Write("loader.ini", before);
    TIniFile ini(dir.File("loader.ini"));
    // A file-size limit smaller than the new content makes the write fail part way.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = before.size() + 4;
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_THROW(ini.WriteString("Global", "Comment", std::string(200, 'x')),
                 platform::EIniFileException);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(dir.Read("loader.ini"), before);
    ini.WriteString("Global", "Driver Version", "1.04");
    EXPECT_EQ(dir.Read("loader.ini"), "[Global]\nDriver Version=1.04\n");
}

// A Windows editor's "Unicode" or UTF-8 with a mark: the first section stays visible, and a write
// keeps the form, so the editor and the next start read the file as before.
TEST(ProfileFile, MarkedFilesReadAsTheirTextAndKeepTheirForm)
{
    const std::string before = "[Upload Settings]\r\nDefault Script=b\xE9.sld\r\n";
    const std::string after = before + "Delay=5\r\n";
    for (TextForm form : {TextForm::Utf8Mark, TextForm::Utf16LE, TextForm::Utf16BE}) {
        SCOPED_TRACE(static_cast<int>(form));
        testsupport::TempDir dir;
        dir.Write("loader.ini", platform::EncodeText(before, form));
        TIniFile ini(dir.File("loader.ini"));
        EXPECT_EQ(ini.Refusal(), "");
        EXPECT_EQ(ini.ReadString("Upload Settings", "Default Script", ""), "b\xE9.sld");
        ini.WriteString("Upload Settings", "Delay", "5");
        EXPECT_EQ(dir.Read("loader.ini"), platform::EncodeText(after, form));
        EXPECT_EQ(ini.ReadInteger("Upload Settings", "Delay", 0), 5);
    }
}

// Whatever stands in the file's place and cannot be read gives the defaults and is never
// replaced; a FIFO without a writer does not hold the reader up.
TEST(ProfileFile, RefusedFilesGiveDefaultsAndAreLeftAlone)
{
    using namespace std::string_literals;
    testsupport::TempDir dir;
    const std::string wide = "\xFF\xFE[\0S\0]\0\n\0K\0=\0\xAC\x20"s;
    dir.Write("wide.ini", wide);
    std::filesystem::create_directory(dir.File("folder.ini"));
    ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0600), 0);
    struct Case {
        const char *name;
        std::string refusal;
    } cases[] = {
        {"wide.ini", "UTF-16 character U+20AC in line 2 has no 8-bit form"},
        {"folder.ini", "not a regular file"},
        {"fifo.ini", "not a regular file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TIniFile ini(dir.File(c.name));
        testsupport::RunReleasingFifo(dir.File("fifo.ini"), [&] {
            EXPECT_EQ(ini.Refusal(), c.refusal);
            EXPECT_EQ(ini.ReadString("S", "K", "dflt"), "dflt");
            EXPECT_FALSE(ini.ValueExists("S", "K"));
            EXPECT_THROW(ini.WriteString("S", "K", "v"), platform::EIniFileException);
        });
    }
    EXPECT_EQ(dir.Read("wide.ini"), wide);
    EXPECT_EQ(TIniFile(dir.File("none.ini")).Refusal(), "");
}
