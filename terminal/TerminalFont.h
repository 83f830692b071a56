#pragma once
// Fixed-pitch fonts for the terminal window. Whether a font is fixed pitch is judged from its
// glyphs' advances, not from the face's fixed-pitch mark alone: fontconfig leaves some monospace
// faces (Noto Sans Mono among them) unmarked, and every family a system maps to such a face would
// otherwise be refused.
//
// GUI thread only (fonts need the application).

#include <QFont>

namespace terminal
{

// True when "i", "M", "W", "." and a blank advance alike (and by more than nothing).
bool HasFixedAdvance(const QFont &font);

// The font asked for when it passes; otherwise, at the asked size, the system's fixed font, then
// the installed families the font database marks fixed pitch, then any other installed family,
// whichever passes first. When nothing passes, the system's fixed font all the same: a terminal
// always has a font.
QFont FixedFontFor(const QFont &asked);

// The face a font resolves to, as a font that names it: its real family, style and size. This is
// what a font dialog can find again, where the asked family may be one the system lacks.
QFont ResolvedFont(const QFont &font);

} // namespace terminal
