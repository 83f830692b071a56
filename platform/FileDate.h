#pragma once
// Date and time texts in the system's formats: the version text made from a file's modification
// time, and the time of day the upload log is stamped with. The formats are Qt date/time patterns
// ("M/d/yy", "h:mm:ss AP"); tests pass their own, the program uses the system's.

#include <cstdint>
#include <string>

namespace platform
{

struct DateTimeFormats {
    std::string shortDate;
    std::string longTime;
    std::string locale; // locale for month and AM/PM names, e.g. "en_US"; empty: the system's
};

DateTimeFormats SystemDateTimeFormats();

// The local time of secondsSinceEpoch as a version text: the short date, then (unless the time is
// exactly midnight) a blank and the long time; then the first blank becomes "_" and the next blank
// is dropped ("6/19/92_10:20:30AM"). Without any blank the "_" is put in front ("_6/19/92").
// Unicode spaces of a format (U+00A0, U+202F) count as blanks; the text is 8-bit.
std::string DateVersionText(int64_t secondsSinceEpoch, const DateTimeFormats &formats);

// DateVersionText of the file's modification time, or fallback when the file cannot be opened.
std::string FileDateText(const std::string &fileName, const std::string &fallback,
                         const DateTimeFormats &formats = SystemDateTimeFormats());

// The local time of day in the long time format.
std::string TimeOfDayText(int64_t secondsSinceEpoch,
                          const DateTimeFormats &formats = SystemDateTimeFormats());
std::string CurrentTimeText();

} // namespace platform
