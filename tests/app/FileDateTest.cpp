#include "platform/FileDate.h"
#include "tests/support/TempDir.h"

#include <clocale>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::DateTimeFormats;

namespace
{

// The en_US patterns; the C locale names AM and PM as en_US does.
const DateTimeFormats UsFormats{"%m/%d/%Y", "%I:%M:%S %p"};
const DateTimeFormats CFormats{"%m/%d/%y", "%H:%M:%S"};

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
        {morning, UsFormats, "06/19/1992_10:20:30AM"},
        {morning, CFormats, "06/19/92_10:20:30"},
        {LocalSeconds(1992, 6, 19, 0, 0, 0), UsFormats, "_06/19/1992"},
        {LocalSeconds(1992, 6, 19, 0, 0, 1), UsFormats, "06/19/1992_12:00:01AM"},
        {LocalSeconds(2026, 12, 7, 21, 41, 50), CFormats, "12/07/26_21:41:50"},
        {LocalSeconds(2026, 12, 7, 21, 41, 50), UsFormats, "12/07/2026_09:41:50PM"},
        {morning, {"%d.%m.%Y", "%H:%M:%S"}, "19.06.1992_10:20:30"},
        // Formats with blanks of their own still give one field for the device.
        {morning, {"%d %b %Y", "%H:%M:%S"}, "19_Jun199210:20:30"},
        {LocalSeconds(1992, 6, 9, 10, 20, 30), {"%e %b %Y", "%H:%M:%S"}, "_9Jun199210:20:30"},
        {morning, {"%m/%d/%y", "%I:%M:%S\u202f%p"}, "06/19/92_10:20:30AM"},
        {morning, {"%m/%d/%y", "%I:%M:%S\u00a0%p"}, "06/19/92_10:20:30AM"},
        {morning, {"", ""}, "_"},
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

    EXPECT_EQ(platform::FileDateText(dir.File("app.bin"), "v1", UsFormats),
              "06/19/1992_10:20:30AM");
    EXPECT_EQ(platform::FileDateText(dir.File("night.bin"), "v1", UsFormats), "_01/02/2001");
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
    EXPECT_EQ(platform::TimeOfDayText(afternoon, UsFormats), "02:05:09 PM");
    // The C locale's own formats: a plain time of day, no zone name.
    const std::string saved = std::setlocale(LC_TIME, nullptr);
    std::setlocale(LC_TIME, "C");
    EXPECT_EQ(platform::TimeOfDayText(afternoon), "14:05:09");
    EXPECT_EQ(platform::DateVersionText(afternoon, platform::SystemDateTimeFormats()),
              "06/19/92_14:05:09");
    std::setlocale(LC_TIME, saved.c_str());
    EXPECT_FALSE(platform::CurrentTimeText().empty());
}
