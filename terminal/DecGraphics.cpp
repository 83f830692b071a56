#include "terminal/DecGraphics.h"

#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace terminal
{

namespace
{

enum TShape : uint8_t {
    shGlyph,   // from the font (or its stand-in)
    shDiamond, // drawn
    shChecker,
    shArms,    // line pieces: arms from the centre to the edges
    shScan,    // horizontal line on one of the nine scan lines of a VT100 cell
    shPicture, // a control picture: from the font, or drawn as two small letters
};

// Arms of a line piece.
constexpr uint8_t armLeft = 1, armRight = 2, armUp = 4, armDown = 8;

// One byte of the set, 0x5F to 0x7E. Drawn shapes need no symbol or stand-in.
struct TDecChar {
    char16_t Symbol;
    TShape Shape;
    uint8_t Arg;         // arms, or the scan line
    const char *StandIn; // shown when the font lacks the symbol (two letters for a picture)
};

const TDecChar kDecChars[kDecLast - kDecFirst + 1] = {
    {u' ', shGlyph, 0, " "},
    {0, shDiamond, 0, ""},
    {0, shChecker, 0, ""},
    {u'\u2409', shPicture, 0, "HT"},
    {u'\u240C', shPicture, 0, "FF"},
    {u'\u240D', shPicture, 0, "CR"},
    {u'\u240A', shPicture, 0, "LF"},
    {u'\u00B0', shGlyph, 0, "o"},
    {u'\u00B1', shGlyph, 0, "+"},
    {u'\u2424', shPicture, 0, "NL"},
    {u'\u240B', shPicture, 0, "VT"},
    {0, shArms, armLeft | armUp, ""},                      // lower right corner
    {0, shArms, armLeft | armDown, ""},                    // upper right corner
    {0, shArms, armRight | armDown, ""},                   // upper left corner
    {0, shArms, armRight | armUp, ""},                     // lower left corner
    {0, shArms, armLeft | armRight | armUp | armDown, ""}, // crossing
    {0, shScan, 1, ""},
    {0, shScan, 3, ""},
    {0, shArms, armLeft | armRight, ""}, // scan line 5 runs through the centre
    {0, shScan, 7, ""},
    {0, shScan, 9, ""},
    {0, shArms, armUp | armDown | armRight, ""},
    {0, shArms, armUp | armDown | armLeft, ""},
    {0, shArms, armLeft | armRight | armUp, ""},
    {0, shArms, armLeft | armRight | armDown, ""},
    {0, shArms, armUp | armDown, ""},
    {u'\u2264', shGlyph, 0, "<"},
    {u'\u2265', shGlyph, 0, ">"},
    {u'\u03C0', shGlyph, 0, "p"},
    {u'\u2260', shGlyph, 0, "#"},
    {u'\u00A3', shGlyph, 0, "L"},
    {u'\u00B7', shGlyph, 0, "."},
};

quint32 GlyphIndex(const QRawFont &font, QChar c)
{
    const QList<quint32> index = font.glyphIndexesForString(QString(c));
    return index.isEmpty() ? 0 : index.front();
}

} // namespace

int DecLineWidth(const QRect &cell)
{
    return std::max(1, (cell.width() + 3) / 8);
}

void TDecGlyphs::Load(const QRawFont &font, quint32 blank)
{
    QRawFont small = font;
    small.setPixelSize(std::max(font.pixelSize() * 0.55, 1.0));
    letterRun_.setRawFont(small);
    drawn_ = 0;
    for (int i = 0; i <= kDecLast - kDecFirst; ++i) {
        const TDecChar &d = kDecChars[i];
        const bool symbol = d.Shape == shGlyph || d.Shape == shPicture;
        const bool has = symbol && font.supportsCharacter(QChar(d.Symbol));
        const bool drawn = !symbol || (d.Shape == shPicture && !has);
        if (d.Shape == shPicture && !has) {
            letters_[i][0] = GlyphIndex(small, QLatin1Char(d.StandIn[0]));
            letters_[i][1] = GlyphIndex(small, QLatin1Char(d.StandIn[1]));
        }
        if (drawn)
            drawn_ |= 1u << i;
        glyphs_[i] = drawn ? blank
                     : has ? GlyphIndex(font, QChar(d.Symbol))
                           : GlyphIndex(font, QLatin1Char(d.StandIn[0]));
    }
}

void TDecGlyphs::Draw(QPainter &painter, const QRect &cell, uint8_t c, const QColor &color)
{
    const TDecChar &d = kDecChars[c - kDecFirst];
    const int w = DecLineWidth(cell);
    // The centre strokes: every piece's arms meet there and reach the cell's edges, so pieces
    // join their neighbours without gaps.
    const int x = cell.left() + (cell.width() - w) / 2;
    const int y = cell.top() + (cell.height() - w) / 2;
    const int right = cell.left() + cell.width();
    const int bottom = cell.top() + cell.height();
    switch (d.Shape) {
    case shArms:
        if (d.Arg & armLeft)
            painter.fillRect(QRect(cell.left(), y, x + w - cell.left(), w), color);
        if (d.Arg & armRight)
            painter.fillRect(QRect(x, y, right - x, w), color);
        if (d.Arg & armUp)
            painter.fillRect(QRect(x, cell.top(), w, y + w - cell.top()), color);
        if (d.Arg & armDown)
            painter.fillRect(QRect(x, y, w, bottom - y), color);
        break;
    case shScan:
        // Scan line 5 falls on the centre stroke; the others spread evenly above and below.
        painter.fillRect(
            QRect(cell.left(), cell.top() + d.Arg * (cell.height() - w) / 10, cell.width(), w),
            color);
        break;
    case shChecker:
        // The pattern is anchored to the window, so neighbouring cells continue it.
        painter.fillRect(cell, QBrush(color, Qt::Dense4Pattern));
        break;
    case shDiamond: {
        const int half = std::max((std::min(cell.width(), cell.height()) - 1) / 2, 1);
        const int cx = cell.left() + cell.width() / 2;
        const int cy = cell.top() + cell.height() / 2;
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPolygon(QPolygon({QPoint(cx, cy - half), QPoint(cx + half, cy),
                                      QPoint(cx, cy + half), QPoint(cx - half, cy)}));
        painter.restore();
        break;
    }
    case shPicture: {
        // As a VT100 shows them: the first letter high on the left, the second low on the right.
        const int i = c - kDecFirst;
        letterRun_.setGlyphIndexes({letters_[i][0], letters_[i][1]});
        const QRawFont &small = letterRun_.rawFont();
        letterRun_.setPositions({QPointF(0, small.ascent()),
                                 QPointF(cell.width() * 0.45, cell.height() - small.descent())});
        painter.save();
        painter.setPen(color);
        painter.drawGlyphRun(QPointF(cell.topLeft()), letterRun_);
        painter.restore();
        break;
    }
    case shGlyph:
        break;
    }
}

} // namespace terminal
