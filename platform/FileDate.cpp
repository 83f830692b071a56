#include "platform/FileDate.h"

#include <array>
#include <ctime>
#include <fcntl.h>
#include <langinfo.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{
namespace
{

std::tm LocalTime(int64_t secondsSinceEpoch)
{
    const time_t seconds = static_cast<time_t>(secondsSinceEpoch);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

std::string Format(const std::tm &when, const std::string &pattern)
{
    if (pattern.empty())
        return {};
    // Locale formats are short; a result that does not fit in 256 bytes is left empty.
    std::array<char, 256> text{};
    // The pattern is the locale's own or a test's; strftime takes no further arguments.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const size_t length = std::strftime(text.data(), text.size(), pattern.c_str(), &when);
#pragma GCC diagnostic pop
    return std::string(text.data(), length);
}

// Locale data of UTF-8 locales puts no-break spaces (U+00A0, U+202F) where formats used to have
// blanks; both are plain blanks here.
std::string WithPlainBlanks(std::string text)
{
    static constexpr std::array<std::string_view, 2> wideBlanks{"\xC2\xA0", "\xE2\x80\xAF"};
    for (std::string_view blank : wideBlanks)
        for (size_t at = text.find(blank); at != std::string::npos; at = text.find(blank, at))
            text.replace(at, blank.size(), 1, ' ');
    return text;
}

} // namespace

DateTimeFormats SystemDateTimeFormats()
{
    return {::nl_langinfo(D_FMT), ::nl_langinfo(T_FMT)};
}

std::string DateVersionText(int64_t secondsSinceEpoch, const DateTimeFormats &formats)
{
    const std::tm local = LocalTime(secondsSinceEpoch);
    std::string shown = Format(local, formats.shortDate);
    if (local.tm_hour != 0 || local.tm_min != 0 || local.tm_sec != 0)
        shown += ' ' + Format(local, formats.longTime);

    std::string text = WithPlainBlanks(std::move(shown));
    const auto first = text.find(' ');
    if (first == std::string::npos)
        return '_' + text;
    std::string joined = text.substr(0, first) + '_';
    for (size_t i = first + 1; i < text.size(); ++i)
        if (text[i] != ' ')
            joined += text[i];
    return joined;
}

std::string FileDateText(const std::string &fileName, const std::string &fallback,
                         const DateTimeFormats &formats)
{
    // Non-blocking, so that a FIFO in the file's place cannot stall the run.
    const int fd =
        fileName.empty() ? -1 : ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fallback;
    struct stat info {
    };
    const bool known = ::fstat(fd, &info) == 0;
    ::close(fd);
    return known ? DateVersionText(info.st_mtim.tv_sec, formats) : fallback;
}

std::string TimeOfDayText(int64_t secondsSinceEpoch, const DateTimeFormats &formats)
{
    return WithPlainBlanks(Format(LocalTime(secondsSinceEpoch), formats.longTime));
}

std::string CurrentTimeText()
{
    return TimeOfDayText(std::time(nullptr));
}

} // namespace platform
