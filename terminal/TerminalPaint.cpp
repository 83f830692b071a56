#include "terminal/Terminal.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRawFont>
#include <algorithm>
#include <cstdlib>

namespace terminal
{

namespace
{

// Paints are spaced at least this far apart (about 30 frames a second), so a line that delivers a
// thousand small batches a second costs a frame's worth of painting, not a paint per batch; the
// first change after a quiet spell is painted at once.
constexpr int kFrameMs = 33;

// How a cell's byte is drawn: the control bytes as the PC character set shows them, the rest as
// Latin-1 (which is also what a copy puts on the clipboard).
const char16_t kControlGlyphs[32] = {
    u' ',      u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u2022',
    u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
    u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u00B6', u'\u00A7', u'\u25AC', u'\u21A8',
    u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC',
};

QChar GlyphOf(uint8_t c)
{
    if (c < 0x20)
        return QChar(kControlGlyphs[c]);
    if (c == 0x7F)
        return QChar(u'\u2302');
    return QChar(char16_t(c));
}

// A cell's colour byte (background << 4 | foreground) as a reverse screen shows it: the colours
// swapped. A blank cell stores its background as both colours and so has no foreground to swap
// with; on the default background it takes the default foreground, as the whole screen turns.
// (A blinking cell in its hidden phase is such a cell too, and stays hidden.)
uint8_t ReversedColors(uint8_t color, const TBuffer &b)
{
    const uint8_t foreground = color & 15, background = color >> 4;
    if (foreground != background)
        return uint8_t(foreground << 4 | background);
    const uint8_t paper =
        background == (b.DefaultBackground & 15) ? uint8_t(b.DefaultForeground & 15) : background;
    return uint8_t(paper << 4 | paper);
}

QRect ToQRect(const TRect &r)
{
    return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1));
}

} // namespace

// ---- painting ------------------------------------------------------------------------------

void TTerminal::Invalidate(const TRect &rect, bool)
{
    if (rect.Empty())
        return;
    pendingRepaint_ += ToQRect(rect);
    ScheduleRepaint();
}

void TTerminal::InvalidateAll()
{
    pendingRepaint_ = QRegion(viewport()->rect());
    ScheduleRepaint();
}

void TTerminal::ScrollContent(int32_t dx, int32_t dy, const TRect &band)
{
    if (band.Empty())
        return;
    const QRect area = ToQRect(band);
    if (dx != 0 || (pendingScroll_ != 0 && area != scrollBand_)) {
        // Sideways, or a second band in one frame: repainted whole, which is rare.
        pendingRepaint_ += area;
        pendingRepaint_ += scrollBand_;
        pendingScroll_ = 0;
        scrollBand_ = QRect();
        ScheduleRepaint();
        return;
    }
    // What is still to be repainted inside the band moves with it. The buffer marks cells in the
    // coordinates of the moment it wrote them, before or after this move, so each area counts
    // at both places and in between.
    QRegion moved;
    for (const QRect &r : pendingRepaint_) {
        const QRect inside = r & area;
        moved += inside.isEmpty() ? r : (r | inside.translated(0, dy)) & area;
        if (!inside.isEmpty())
            moved += r;
    }
    pendingRepaint_ = moved;
    pendingScroll_ += dy;
    scrollBand_ = area;
    // What the move uncovers.
    if (dy < 0)
        pendingRepaint_ += QRect(area.left(), std::max(area.bottom() + 1 + dy, area.top()),
                                 area.width(), std::min(-dy, area.height()));
    else
        pendingRepaint_ +=
            QRect(area.left(), area.top(), area.width(), std::min(dy, area.height()));
    ScheduleRepaint();
}

void TTerminal::FlushRepaint()
{
    sinceRepaint_.restart();
    // Text arriving moves the cursor without moving the caret; the caret follows with the frame.
    flushing_ = true;
    if (hasFocus_)
        buffer_->bMoveCaret();
    flushing_ = false;
    if (pendingVRange_) {
        pendingVRange_ = false;
        if (scrollback_)
            tCheckVScroll(); // places the thumb too
    }
    for (const bool vertical : {false, true})
        if (pendingThumb_[vertical ? 1 : 0])
            PlaceThumb(vertical);
    if (statusPending_ && notify_) {
        statusPending_ = false;
        notify_->TerminalStatus(statusW_, statusL_);
    }
    if (pendingScroll_ != 0) {
        // The content moves in the window's image; only what changed is drawn again.
        if (std::abs(pendingScroll_) < scrollBand_.height())
            viewport()->scroll(0, pendingScroll_, scrollBand_);
        else
            pendingRepaint_ += scrollBand_;
        pendingScroll_ = 0;
        scrollBand_ = QRect();
    }
    if (!pendingRepaint_.isEmpty())
        viewport()->update(pendingRepaint_);
    pendingRepaint_ = QRegion();
}

void TTerminal::UpdateNow()
{
    // Erasing and inserting ask for an immediate paint; coalesced like the rest, so a fast line
    // does not repaint once per control sequence.
    ScheduleRepaint();
}

void TTerminal::ScheduleRepaint()
{
    if (flushing_ || repaintTimer_.isActive())
        return;
    const qint64 since = sinceRepaint_.elapsed();
    repaintTimer_.start(since >= kFrameMs ? 0 : int(kFrameMs - since));
}

void TTerminal::LoadGlyphs()
{
    const QRawFont raw = QRawFont::fromFont(font_);
    glyphRun_.setRawFont(raw);
    for (int c = 0; c < 256; ++c) {
        const QList<quint32> index = raw.glyphIndexesForString(QString(GlyphOf(uint8_t(c))));
        glyphOf_[c] = index.isEmpty() ? 0 : index.front();
    }
    decGlyphs_.Load(raw, glyphOf_[uint8_t(' ')]);
    underlinePos_ = std::max(QFontMetrics(font_).underlinePos(), 1);
}

void TTerminal::paintEvent(QPaintEvent *event)
{
    ++paintsDone_;
    QPainter painter(viewport());
    tPaint(painter, event->rect());
    if (pendingScroll_ != 0) {
        // Painted from the buffer as it is now, that is after the move still to be made: the
        // move will carry these pixels off, so where they land is drawn again.
        pendingRepaint_ +=
            (event->region() & scrollBand_).translated(0, pendingScroll_) & scrollBand_;
        ScheduleRepaint();
    }
}

void TTerminal::tPaint(QPainter &painter, const QRect &update)
{
    const TBuffer &b = *buffer_;
    // Shown as a blank cell in the current background.
    const uint8_t blank = uint8_t((b.CurrentBackground & 15) * 0x11);
    const QColor background =
        ColorOf(b.ColorMap[(b.ReverseScreen ? ReversedColors(blank, b) : blank) >> 4]);
    const int cw = b.CharWidth;
    const int ch = b.CharHeight;
    if (update.isEmpty() || cw <= 0 || ch <= 0)
        return;
    painter.setFont(font_);
    const int shownColumns = (viewport()->width() + cw - 1) / cw;
    const int shownRows = (viewport()->height() + ch - 1) / ch;
    const int firstColumn = std::max(update.left() / cw, 0);
    const int lastColumn = std::min(update.right() / cw, shownColumns - 1);
    const int firstRow = std::max(update.top() / ch, 0);
    const int lastRow = std::min(update.bottom() / ch, shownRows - 1);
    // What no cell covers: right of the last column and below the last row.
    const int cellsRight = (b.Columns - b.FirstVisibleColumn) * cw;
    const int cellsBottom = (b.Rows - b.FirstVisibleRow) * ch;
    if (update.right() >= cellsRight)
        painter.fillRect(QRect(QPoint(cellsRight, update.top()), update.bottomRight()), background);
    if (update.bottom() >= cellsBottom)
        painter.fillRect(QRect(QPoint(update.left(), cellsBottom), update.bottomRight()),
                         background);
    if (firstColumn <= lastColumn) {
        for (int r = firstRow; r <= lastRow; ++r) {
            const int bufferRow = b.FirstVisibleRow + r;
            if (bufferRow < 0 || bufferRow >= b.Rows)
                continue;
            const int start = b.FirstVisibleColumn + firstColumn;
            const int count = std::min(lastColumn - firstColumn + 1, b.Columns - start);
            if (count > 0)
                tTextOutColor(painter, r, firstColumn, count, bufferRow);
        }
    }
    if (hasFocus_ && b.CaretEnabled && caretRect_.intersects(update)) {
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        painter.fillRect(caretRect_, Qt::white);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
}

void TTerminal::SelectedColumns(int bufferRow, int &first, int &last) const
{
    const TBuffer &b = *buffer_;
    first = 1;
    last = 0; // nothing selected
    if (!(b.Marking || b.MarkValid) || bufferRow < b.StartRow || bufferRow > b.EndRow)
        return;
    first = bufferRow == b.StartRow ? b.StartColumn : 0;
    last = bufferRow == b.EndRow ? b.EndColumn : b.Columns - 1;
}

void TTerminal::tTextOutColor(QPainter &painter, int windowRow, int firstColumn, int count,
                              int bufferRow)
{
    const TBuffer &b = *buffer_;
    const int cw = b.CharWidth;
    const int ch = b.CharHeight;
    const int start = b.FirstVisibleColumn + firstColumn;
    const uint8_t *chars = b.CharRow(bufferRow) + start;
    const uint8_t *colors = b.ColorRow(bufferRow) + start;
    const uint8_t *attrs = b.AttrRow(bufferRow) + start;
    int selFirst, selLast;
    SelectedColumns(bufferRow, selFirst, selLast);
    // A reverse screen swaps every cell's colours, the selection's too, so that it still stands
    // out from the cells around it.
    const bool reverse = b.ReverseScreen;
    const QColor highlightBack =
        ColorOf(b.ColorMap[(reverse ? b.HighlightForeground : b.HighlightBackground) & 15]);
    const QColor highlightText =
        ColorOf(b.ColorMap[(reverse ? b.HighlightBackground : b.HighlightForeground) & 15]);
    const int baseline = windowRow * ch + ascent_;
    int i = 0;
    while (i < count) {
        const bool selected = start + i >= selFirst && start + i <= selLast;
        const uint8_t color = colors[i];
        int j = i + 1;
        // A wholly selected span is one run whatever its colours.
        while (j < count && (start + j >= selFirst && start + j <= selLast) == selected &&
               (selected || colors[j] == color))
            ++j;
        const uint8_t shown = reverse ? ReversedColors(color, b) : color;
        const QRect cells((firstColumn + i) * cw, windowRow * ch, (j - i) * cw, ch);
        painter.fillRect(cells, selected ? highlightBack : ColorOf(b.ColorMap[shown >> 4]));
        // Glyphs looked up once per font and placed on the cell grid: no text shaping per run.
        glyphIndexes_.resize(j - i);
        glyphPositions_.resize(j - i);
        uint8_t marks = 0;
        for (int k = i; k < j; ++k) {
            const uint8_t c = chars[k];
            glyphIndexes_[k - i] =
                (attrs[k] & attrGraphics) && IsDecGraphic(c) ? decGlyphs_.Glyph(c) : glyphOf_[c];
            glyphPositions_[k - i] = QPointF((k - i) * cw, 0);
            marks |= attrs[k];
        }
        glyphRun_.setGlyphIndexes(glyphIndexes_);
        glyphRun_.setPositions(glyphPositions_);
        const QColor text = selected ? highlightText : ColorOf(b.ColorMap[shown & 15]);
        painter.setPen(text);
        painter.drawGlyphRun(QPointF(cells.left(), baseline), glyphRun_);
        if (marks & (attrGraphics | attrUnderline))
            DrawCellMarks(painter, windowRow, firstColumn + i, chars + i, attrs + i, j - i, text);
        ++runsPainted_;
        i = j;
    }
}

void TTerminal::DrawCellMarks(QPainter &painter, int windowRow, int column, const uint8_t *chars,
                              const uint8_t *attrs, int count, const QColor &color)
{
    const int cw = buffer_->CharWidth;
    const int ch = buffer_->CharHeight;
    const QRect first(column * cw, windowRow * ch, cw, ch);
    const int lineWidth = DecLineWidth(first);
    // Under the glyph where the font puts its underline, but always inside the cell.
    const int underline = first.top() + std::min(ascent_ + underlinePos_, ch - lineWidth);
    int underlineFrom = -1; // first cell of an underlined span, -1: none open
    for (int k = 0; k <= count; ++k) {
        const bool underlined = k < count && (attrs[k] & attrUnderline);
        if (underlined && underlineFrom < 0)
            underlineFrom = k;
        if (!underlined && underlineFrom >= 0) {
            painter.fillRect(QRect(first.left() + underlineFrom * cw, underline,
                                   (k - underlineFrom) * cw, lineWidth),
                             color);
            underlineFrom = -1;
        }
        if (k < count && (attrs[k] & attrGraphics) && IsDecGraphic(chars[k]) &&
            decGlyphs_.Drawn(chars[k]))
            decGlyphs_.Draw(painter, first.translated(k * cw, 0), chars[k], color);
    }
}

void TTerminal::tBlink()
{
    TBuffer &b = *buffer_;
    if (b.CellCount == 0 || b.CharHeight <= 0)
        return;
    // The phase that is on shows the base colours; the one that is off hides blinking text.
    const bool hide = !b.BlinkPhase;
    int top = -1, bottom = -1, left = b.Columns, right = -1;
    const int lastRow = std::min(b.FirstVisibleRow + b.VisibleRows + 1, b.Rows) - 1;
    for (int row = std::max(b.FirstVisibleRow, 0); row <= lastRow; ++row) {
        const uint8_t *attrs = b.AttrRow(row);
        uint8_t *shown = b.ColorRow(row);
        const uint8_t *base = b.BaseColorRow(row);
        for (int c = 0; c < b.Columns; ++c) {
            if (!(attrs[c] & attrBlink))
                continue;
            shown[c] = hide ? uint8_t((base[c] & 0xF0) | (base[c] >> 4)) : base[c];
            if (top < 0)
                top = row;
            bottom = row;
            left = std::min(left, c);
            right = std::max(right, c);
        }
    }
    b.BlinkPhase = !b.BlinkPhase;
    if (top >= 0)
        Invalidate({(left - b.FirstVisibleColumn) * b.CharWidth,
                    (top - b.FirstVisibleRow) * b.CharHeight,
                    (right + 1 - b.FirstVisibleColumn) * b.CharWidth,
                    (bottom + 1 - b.FirstVisibleRow) * b.CharHeight},
                   false);
}

} // namespace terminal
