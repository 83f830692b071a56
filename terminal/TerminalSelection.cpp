#include "terminal/Terminal.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <algorithm>
#include <new>

namespace terminal
{

// ---- mouse and selection -------------------------------------------------------------------

void TTerminal::mousePressEvent(QMouseEvent *event)
{
    // Mouse activation takes the focus.
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    wmLButtonDown(p.x(), p.y(), event->modifiers() & Qt::ShiftModifier);
}

void TTerminal::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    wmMouseMove(p.x(), p.y());
}

void TTerminal::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        wmLButtonUp();
}

void TTerminal::wmLButtonDown(int x, int y, bool shift)
{
    TBuffer &b = *buffer_;
    lastMouse_ = QPoint(x, y);
    if (b.CellCount == 0)
        return;
    if (shift && (b.MarkValid || b.Marking)) {
        b.Marking = true;
        b.MarkValid = false;
        b.bUpdateMarks(x, y);
    } else {
        b.bResetMarking();
        b.Marking = true;
        const int column = std::clamp(b.bConvertToCol(std::max(x, 0)), 0, b.Columns - 1);
        const int row = std::clamp(b.bConvertToRow(std::max(y, 0)), 0, b.Rows - 1);
        b.AnchorColumn = b.StartColumn = b.EndColumn = column;
        b.AnchorRow = b.StartRow = b.EndRow = row;
        if (!persistentMark_)
            b.bUpdateMarks(x, y);
    }
    dragged_ = shift;
    b.MarkingTimer = kMarkingTimerId;
    markingTimer_.start();
}

void TTerminal::wmMouseMove(int x, int y)
{
    TBuffer &b = *buffer_;
    lastMouse_ = QPoint(x, y);
    if (!b.Marking)
        return;
    dragged_ = true;
    if (y < 0 || y > b.ClientHeight) {
        b.MarkingAutoScroll = true;
    } else {
        b.MarkingAutoScroll = false;
        b.bUpdateMarks(x, y);
    }
}

void TTerminal::wmTimer()
{
    TBuffer &b = *buffer_;
    if (!b.MarkingAutoScroll)
        return;
    const QPoint p = lastMouse_;
    if (p.y() < 0) {
        b.bScroll(0, p.y() < -20 ? -3 : -1);
        b.bUpdateMarks(p.x(), 0);
    } else if (p.y() > b.ClientHeight) {
        b.bScroll(0, p.y() - b.ClientHeight < 21 ? 1 : 3);
        b.bUpdateMarks(p.x(), b.ClientHeight);
    }
}

void TTerminal::wmLButtonUp()
{
    TBuffer &b = *buffer_;
    markingTimer_.stop();
    b.MarkingTimer = 0;
    b.MarkingAutoScroll = false;
    if (!b.Marking)
        return;
    b.Marking = false;
    // A click that selected nothing (no drag) ends the old selection; with a persistent mark
    // its highlight was left on the screen until now.
    b.MarkValid = dragged_;
    if (!dragged_)
        b.bInvalidateAll();
}

// ---- copy ----------------------------------------------------------------------------------

std::string TTerminal::SelectionText() const
{
    const TBuffer &b = *buffer_;
    std::string text;
    if (!b.MarkValid || b.CellCount == 0)
        return text;
    const int lastRow = std::min(b.EndRow, b.Rows - 1);
    for (int row = std::max(b.StartRow, 0); row <= lastRow; ++row) {
        // The end cell is part of the selection as it is painted, so it is copied too.
        const int first = row == b.StartRow ? b.StartColumn : 0;
        const int last = row == b.EndRow ? b.EndColumn : b.Columns - 1;
        const uint8_t *chars = b.CharRow(row);
        for (int c = std::max(first, 0); c <= std::min(last, b.Columns - 1); ++c)
            text.push_back(char(chars[c]));
        text += "\r\n";
    }
    return text;
}

void TTerminal::wmCopy()
{
    if (!buffer_->MarkValid)
        return;
    std::string text;
    try {
        text = SelectionText();
    } catch (const std::bad_alloc &) {
        SendError(kCopyOutOfMemory);
        return;
    }
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        clipboard->setText(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

} // namespace terminal
