#include "platform/FileDate.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{
namespace
{

QLocale LocaleOf(const DateTimeFormats &formats)
{
    return formats.locale.empty() ? QLocale::system()
                                  : QLocale(QString::fromStdString(formats.locale));
}

// Patterns are Qt's own (UTF-8), unlike the 8-bit texts they produce.
QString Pattern(const std::string &format)
{
    return QString::fromStdString(format);
}

// Newer locale data puts no-break spaces where the formats used to have blanks; the device and the
// log want plain 8-bit blanks.
std::string Latin1WithPlainBlanks(QString text)
{
    for (QChar &c : text)
        if (c.isSpace())
            c = QLatin1Char(' ');
    return text.toLatin1().toStdString();
}

} // namespace

DateTimeFormats SystemDateTimeFormats()
{
    const QLocale system = QLocale::system();
    return {system.dateFormat(QLocale::ShortFormat).toStdString(),
            system.timeFormat(QLocale::LongFormat).toStdString(),
            {}};
}

std::string DateVersionText(int64_t secondsSinceEpoch, const DateTimeFormats &formats)
{
    const QLocale locale = LocaleOf(formats);
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
    QString shown = locale.toString(local.date(), Pattern(formats.shortDate));
    if (local.time() != QTime(0, 0))
        shown += QLatin1Char(' ') + locale.toString(local.time(), Pattern(formats.longTime));

    std::string text = Latin1WithPlainBlanks(shown);
    const auto first = text.find(' ');
    if (first == std::string::npos) {
        text.insert(0, 1, '_');
        return text;
    }
    text[first] = '_';
    const auto next = text.find(' ', first + 1);
    if (next != std::string::npos)
        text.erase(next, 1);
    return text;
}

std::string FileDateText(const std::string &fileName, const std::string &fallback,
                         const DateTimeFormats &formats)
{
    const int fd = fileName.empty() ? -1 : ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
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
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch);
    return Latin1WithPlainBlanks(
        LocaleOf(formats).toString(local.time(), Pattern(formats.longTime)));
}

std::string CurrentTimeText()
{
    return TimeOfDayText(QDateTime::currentSecsSinceEpoch());
}

} // namespace platform
