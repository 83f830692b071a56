#include "terminal/TerminalFont.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

namespace terminal
{

namespace
{

// The asked size (pixels or points) carried over to another family.
QFont AtSizeOf(QFont font, const QFont &asked)
{
    if (asked.pixelSize() > 0)
        font.setPixelSize(asked.pixelSize());
    else if (asked.pointSizeF() > 0)
        font.setPointSizeF(asked.pointSizeF());
    return font;
}

QFont FamilyFont(const QString &family, const QFont &asked)
{
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return AtSizeOf(font, asked);
}

} // namespace

bool HasFixedAdvance(const QFont &font)
{
    const QFontMetrics metrics(font);
    const int advance = metrics.horizontalAdvance(QLatin1Char('M'));
    if (advance <= 0)
        return false;
    for (const QLatin1Char c :
         {QLatin1Char('i'), QLatin1Char('W'), QLatin1Char('.'), QLatin1Char(' ')})
        if (metrics.horizontalAdvance(c) != advance)
            return false;
    return true;
}

QFont FixedFontFor(const QFont &asked)
{
    if (HasFixedAdvance(asked))
        return asked;
    const QFont system = AtSizeOf(QFontDatabase::systemFont(QFontDatabase::FixedFont), asked);
    if (HasFixedAdvance(system))
        return system;
    const QStringList families = QFontDatabase::families();
    for (const bool marked : {true, false}) {
        for (const QString &family : families) {
            if (QFontDatabase::isFixedPitch(family) != marked)
                continue;
            const QFont candidate = FamilyFont(family, asked);
            if (HasFixedAdvance(candidate))
                return candidate;
        }
    }
    return system;
}

QFont ResolvedFont(const QFont &font)
{
    const QFontInfo info(font);
    QFont resolved(info.family());
    resolved.setWeight(QFont::Weight(info.weight()));
    resolved.setItalic(info.italic());
    resolved.setStyleName(info.styleName());
    resolved.setPointSizeF(info.pointSizeF());
    return resolved;
}

} // namespace terminal
