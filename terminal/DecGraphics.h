#pragma once
// The DEC special graphics set as the terminal window shows it. A cell written in that set
// (attrGraphics) keeps the byte received; its bytes 0x5F-0x7E stand for line-drawing pieces and
// symbols. The pieces, the diamond and the checkerboard are drawn on the cell grid rather than
// taken from the font: fonts differ in where they place (or whether they have) these glyphs, and
// a line must meet its neighbour at the cell edge. The other symbols come from the font, or are
// drawn (the control pictures as two small letters) or stood in for by ASCII when it lacks them.
//
// GUI thread only.

#include <QColor>
#include <QGlyphRun>
#include <QRawFont>
#include <QRect>
#include <cstdint>

class QPainter;

namespace terminal
{

constexpr uint8_t kDecFirst = 0x5F;
constexpr uint8_t kDecLast = 0x7E;

inline bool IsDecGraphic(uint8_t c)
{
    return c >= kDecFirst && c <= kDecLast;
}

// Width of the lines drawn in a cell (pieces and underline): one pixel at the usual sizes,
// thicker as the cells grow.
int DecLineWidth(const QRect &cell);

// The set's glyphs in one font.
class TDecGlyphs
{
  public:
    // Looks the symbols up in the font; blank is the font's glyph for a space.
    void Load(const QRawFont &font, quint32 blank);
    // What the glyph run shows for the byte: the symbol, its stand-in, or a blank where the
    // painter draws the cell.
    quint32 Glyph(uint8_t c) const { return glyphs_[c - kDecFirst]; }
    bool Drawn(uint8_t c) const { return (drawn_ >> (c - kDecFirst)) & 1u; }
    // Draws a byte that Drawn() names over the cell's background, in the colour given.
    void Draw(QPainter &painter, const QRect &cell, uint8_t c, const QColor &color);

  private:
    quint32 glyphs_[kDecLast - kDecFirst + 1] = {};
    quint32 letters_[kDecLast - kDecFirst + 1][2] = {};
    uint32_t drawn_ = 0;
    QGlyphRun letterRun_; // the small letters of the control pictures
};

} // namespace terminal
