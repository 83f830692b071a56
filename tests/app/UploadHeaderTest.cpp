#include "app/UploadHeader.h"
#include "app/WholeFile.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using loader::ReadStatus;

TEST(UploadChecksum, SumsBytesModulo65536)
{
    struct Case {
        std::string data;
        const char *text;
    } cases[] = {
        {"", "0000"},
        {std::string(258, '\xff'), "00FE"},
        {"\x01\x02\x03", "0006"},
        {std::string(257, '\xff'), "FFFF"},
        {std::string(1, '\x80'), "0080"},
        {std::string(65536 * 2, '\x01'), "0000"},
        {std::string(65535 * 2, '\x01'), "FFFE"},
        {std::string(3, '\0'), "0000"},
        {"\xab\xcd", "0178"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::ChecksumText(loader::FileChecksum(c.data)), c.text) << c.data.size();
}

TEST(UploadHeader, CarriesAddressLengthChecksumAndVersion)
{
    EXPECT_EQ(loader::UploadHeader("0x10000", 3, "0006", "1.2"), "LF 0x10000 3 0006 1.2\r");
    EXPECT_EQ(loader::UploadHeader("", 0, "0000", ""), "LF  0 0000 \r");
    EXPECT_EQ(loader::UploadHeader(" $8000 ", 4294967295u, "ABCD", "6/19/92_10:20:30AM"),
              "LF  $8000  4294967295 ABCD 6/19/92_10:20:30AM\r");
}

TEST(UploadHeader, VersionDateMeansTheFileDate)
{
    struct Case {
        const char *version;
        const char *field;
    } cases[] = {
        {"DATE", "stamp"},  {"date", "stamp"},  {"DaTe", "stamp"},
        {"1.04", "1.04"},   {"DATE ", "DATE "}, {" DATE", " DATE"},
        {"DATES", "DATES"}, {"", ""},           {"D\xc4TE", "D\xc4TE"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(loader::VersionField(c.version, "stamp"), c.field) << c.version;
}

TEST(WholeFile, ReadsEveryByteOrSaysWhyNot)
{
    testsupport::TempDir dir;
    std::string body(100000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    dir.Write("app.bin", body);
    dir.Write("empty.bin", "");
    std::filesystem::create_directory(dir.File("folder"));

    const auto read = loader::ReadWholeFile(dir.File("app.bin"), loader::MaxUploadLength);
    EXPECT_EQ(read.status, ReadStatus::Ok);
    EXPECT_EQ(read.data, body);
    EXPECT_EQ(loader::ReadWholeFile(dir.File("empty.bin"), 0).status, ReadStatus::Ok);

    struct Case {
        std::string name;
        std::size_t limit;
        ReadStatus status;
    } cases[] = {
        {"", 100, ReadStatus::NotOpened},
        {dir.File("missing.bin"), 100, ReadStatus::NotOpened},
        {dir.File("folder"), 100, ReadStatus::NotOpened},
        {dir.File("app.bin"), body.size() - 1, ReadStatus::NotRead},
        {dir.File("app.bin"), body.size(), ReadStatus::Ok},
    };
    for (const auto &c : cases) {
        const auto file = loader::ReadWholeFile(c.name, c.limit);
        EXPECT_EQ(file.status, c.status) << c.name << " " << c.limit;
        if (c.status != ReadStatus::Ok) {
            EXPECT_TRUE(file.data.empty()) << c.name;
        }
    }
}
