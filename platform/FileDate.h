#pragma once
// Date and time texts in the system's formats: the version text made from a file's modification
// time, and the time of day the upload log is stamped with. The formats are the C library's
// strftime patterns of the current LC_TIME locale (what "%x" and "%X" stand for); tests pass
// their own.

#include <cstdint>
#include <string>

namespace platform
{

struct DateTimeFormats {
    std::string shortDate; // strftime pattern, e.g. "%m/%d/%y"
    std::string longTime;  // strftime pattern, e.g. "%H:%M:%S" or "%I:%M:%S %p"
};

// The short date and long time patterns of the current LC_TIME locale.
DateTimeFormats SystemDateTimeFormats();

// The local time of secondsSinceEpoch as a version text: the short date, then (unless the time is
// exactly midnight) a blank and the long time; then the first blank becomes "_" and every further
// blank is dropped ("06/19/92_10:20:30AM"): the device reads the header's fields as separated by
// blanks, so none may remain. Without any blank the "_" is put in front ("_06/19/92"). The
// no-break spaces of UTF-8 locales count as blanks.
std::string DateVersionText(int64_t secondsSinceEpoch, const DateTimeFormats &formats);

// DateVersionText of the file's modification time, or fallback when the file cannot be opened.
std::string FileDateText(const std::string &fileName, const std::string &fallback,
                         const DateTimeFormats &formats = SystemDateTimeFormats());

// The local time of day in the long time format.
std::string TimeOfDayText(int64_t secondsSinceEpoch,
                          const DateTimeFormats &formats = SystemDateTimeFormats());
std::string CurrentTimeText();

} // namespace platform
