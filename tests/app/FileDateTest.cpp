#include "platform/FileDate.h"
#include "tests/support/TempDir.h"

#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::DateTimeFormats;

namespace
{

const DateTimeFormats UsFormats{"M/d/yy", "h:mm:ss AP", "en_US"};

int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

void SetModified(const std::string &file, int64_t seconds)
{
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

} // namespace

TEST(FileDate, VersionTextJoinsDateAndTimeWithoutBlanks)
{
    const int64_t morning = LocalSeconds(1992, 6, 19, 10, 20, 30);
    struct Case {
        int64_t seconds;
        DateTimeFormats formats;
        const char *text;
    } cases[] = {
        {morning, UsFormats, "6/19/92_10:20:30AM"},
        {LocalSeconds(1992, 6, 19, 0, 0, 0), UsFormats, "_6/19/92"},
        {LocalSeconds(1992, 6, 19, 0, 0, 1), UsFormats, "6/19/92_12:00:01AM"},
        {LocalSeconds(2004, 12, 31, 15, 4, 5), UsFormats, "12/31/04_3:04:05PM"},
        {morning, {"dd.MM.yyyy", "HH:mm:ss", "de_DE"}, "19.06.1992_10:20:30"},
        {morning, {"d MMM yyyy", "HH:mm:ss", "en_US"}, "19_Jun1992 10:20:30"},
        {morning, {"M/d/yy", "h:mm:ss\u202fAP", "en_US"}, "6/19/92_10:20:30AM"},
        {morning, {"M/d/yy", "h:mm:ss\u00a0AP", "en_US"}, "6/19/92_10:20:30AM"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(platform::DateVersionText(c.seconds, c.formats), c.text)
            << c.formats.shortDate << " " << c.formats.longTime;
}

TEST(FileDate, FileDateTextUsesTheModificationTimeOrTheFallback)
{
    testsupport::TempDir dir;
    dir.Write("app.bin", "x");
    SetModified(dir.File("app.bin"), LocalSeconds(1992, 6, 19, 10, 20, 30));
    dir.Write("night.bin", "x");
    SetModified(dir.File("night.bin"), LocalSeconds(2001, 1, 2, 0, 0, 0));

    EXPECT_EQ(platform::FileDateText(dir.File("app.bin"), "v1", UsFormats), "6/19/92_10:20:30AM");
    EXPECT_EQ(platform::FileDateText(dir.File("night.bin"), "v1", UsFormats), "_1/2/01");
    EXPECT_EQ(platform::FileDateText(dir.File("missing.bin"), "DATE", UsFormats), "DATE");
    EXPECT_EQ(platform::FileDateText("", "date", UsFormats), "date");
    if (::geteuid() != 0) {
        dir.Write("locked.bin", "x");
        ::chmod(dir.File("locked.bin").c_str(), 0);
        EXPECT_EQ(platform::FileDateText(dir.File("locked.bin"), "v2", UsFormats), "v2");
    }
}

TEST(FileDate, TimeOfDayUsesTheLongTimeFormat)
{
    const int64_t afternoon = LocalSeconds(1992, 6, 19, 14, 5, 9);
    EXPECT_EQ(platform::TimeOfDayText(afternoon, UsFormats), "2:05:09 PM");
    EXPECT_EQ(platform::TimeOfDayText(afternoon, {"", "HH:mm:ss", ""}), "14:05:09");
    EXPECT_FALSE(platform::CurrentTimeText().empty());
}
