#include "app/UploadHeader.h"
#include "app/WholeFile.h"
#include "tests/support/TempDir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Reads on another thread: should the open wait on a FIFO after all, a writer that comes and
// goes releases it, so the test fails rather than hangs.
loader::WholeFile ReadReleasingFifo(const std::string &name, std::size_t limit)
{
    auto read = std::async(std::launch::async, [&] { return loader::ReadWholeFile(name, limit); });
    while (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        const int writer = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    return read.get();
}

TEST(WholeFile, ReadsEveryByteOrSaysWhyNot)
{
    testsupport::TempDir dir;
    std::string body(100000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);
    dir.Write("app.bin", body);
    dir.Write("empty.bin", "");
    dir.Write("locked.bin", "abc");
    std::filesystem::permissions(dir.File("locked.bin"), std::filesystem::perms::none);
    std::filesystem::create_directory(dir.File("folder"));
    std::filesystem::create_symlink(dir.File("app.bin"), dir.File("link.bin"));
    ASSERT_EQ(::mkfifo(dir.File("fifo.bin").c_str(), 0600), 0);

    EXPECT_EQ(loader::ReadWholeFile(dir.File("empty.bin"), 0).status, ReadStatus::Ok);

    const std::string notFound = std::strerror(ENOENT);
    struct Case {
        std::string name;
        std::size_t limit;
        ReadStatus status;
        std::string reason;
    } cases[] = {
        {"", 100, ReadStatus::NotOpened, notFound},
        {dir.File("missing.bin"), 100, ReadStatus::NotOpened, notFound},
        {dir.File("folder"), 100, ReadStatus::NotOpened, "not a regular file"},
        {dir.File("fifo.bin"), 100, ReadStatus::NotOpened, "not a regular file"},
        {"/dev/zero", 100, ReadStatus::NotOpened, "not a regular file"},
        {dir.File("locked.bin"), 100, ReadStatus::NotOpened, std::strerror(EACCES)},
        {dir.File("app.bin"), body.size() - 1, ReadStatus::NotRead, "longer than 99999 bytes"},
        {dir.File("app.bin"), body.size(), ReadStatus::Ok, ""},
        {dir.File("link.bin"), body.size(), ReadStatus::Ok, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name + " " + std::to_string(c.limit));
        if (c.reason == std::strerror(EACCES) && ::geteuid() == 0)
            continue; // root reads it all the same
        const auto file = ReadReleasingFifo(c.name, c.limit);
        EXPECT_EQ(file.status, c.status);
        EXPECT_EQ(file.reason, c.reason);
        EXPECT_EQ(file.data, c.status == ReadStatus::Ok ? body : "");
    }
}
