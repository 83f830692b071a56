// The command executor: carries out on the buffer the command an emulator put into the buffer's
// command record. Nothing is repainted here except where a command rearranges whole rows; callers
// call bForcePaint after a batch.
//
// Decisions where the emulators' commands leave room, and where they are made safer:
// - Tab stops are 1-based columns everywhere. A horizontal tab is a tab forward by one stop: it
//   lands on the column where the stop was set, or on the last column when no stop lies ahead
//   (a tab backward on the first). Every column can hold a stop; clearing all stops (tab clear
//   2 or 3, tab control 4 or 5) leaves none, the line and the screen being one here.
// - Rows and columns the host addresses count from the page's top row (the page is the rows
//   ending at the highest row used) and from the first column, whatever part of the page the
//   window shows; so do the saved cursor, the scroll region and the position report.
// - Vertical tab stops are page rows (1-based, counted from the page's top).
// - Cursor addressing, cursor down, next line and cursor to row stay on the page: an address
//   or a count below the page puts the cursor on its last row, not into unseen rows of the
//   buffer, also once the buffer's end is reached. Cursor right stops at the last column
//   instead of being refused.
// - Erase in display mode 1 erases from the start of the page, not of the buffer: the
//   scrollback above the page is history the host cannot see and must not lose.
// - Next line is a carriage return and a line feed, so at the bottom it scrolls like one.
// - Insert and delete lines act on the rows from the cursor to the bottom of the scroll region
//   when the cursor is inside it, else to the bottom of the page; counts are limited to that.
// - A scroll region needs 1 <= top < bottom <= page height; a bottom of 0 (omitted) is the page
//   height; anything else is refused and changes nothing.
// - Device attributes from an ANSI emulator answer as a VT100 (the parser sets Y = 1).

#include "terminal/CommandExecutor.h"
#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"

#include <algorithm>
#include <cstring>

namespace terminal
{

namespace
{

constexpr uint8_t kEscape = 0x1B;

// Moves cells within one row of all four arrays; count cells from column `from` to `to`.
void MoveCells(TBuffer &b, int row, int from, int to, int count)
{
    if (count <= 0)
        return;
    std::memmove(b.CharRow(row) + to, b.CharRow(row) + from, count);
    std::memmove(b.ColorRow(row) + to, b.ColorRow(row) + from, count);
    std::memmove(b.BaseColorRow(row) + to, b.BaseColorRow(row) + from, count);
    std::memmove(b.AttrRow(row) + to, b.AttrRow(row) + from, count);
}

int AppendNumber(uint8_t *out, int value)
{
    char digits[4];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 3);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(digits[n - 1 - i]);
    return n;
}

// Carries out the command in the buffer's record. The buffer's state is public and its cells
// are reached through row pointers, so this needs nothing private.
class TCommandExecutor
{
  public:
    explicit TCommandExecutor(TBuffer &buffer) : b(buffer), r(buffer.Command) {}

    void Execute();

  private:
    // The page, not the view: a window showing part of the page moves nothing the host sees.
    int PageRow() const { return b.CursorRow - b.PageTop() + 1; }
    int PageBottomRow() const { return std::min(b.PageTop() + b.PageHeight, b.Rows) - 1; }
    void RecomputeInRegion()
    {
        const int page = PageRow();
        b.InRegion = b.RegionTop <= page && page <= b.RegionBottom;
    }
    int LimitToPage(int row) const
    {
        const int top = std::min(b.PageTop(), b.Rows - 1);
        return std::max(top, std::min(row, PageBottomRow()));
    }
    int LimitColumn(int column) const { return std::clamp(column, 0, b.Columns - 1); }
    // The colours blanked cells get. With reverse on, an erase that carries Y = 1 fills with the
    // reversed background, which is the current foreground.
    uint8_t BlankColors() const
    {
        if (r.Y == 1 && (r.Attributes & attrReverse))
            return uint8_t(b.CurrentForeground << 4 | b.CurrentForeground);
        return b.CurrentColors();
    }
    void Repaint(int firstRow, int lastRow)
    {
        b.bInvalidateRows(firstRow, lastRow);
        b.bUpdateWindow();
    }
    void Send(const uint8_t *bytes, int count)
    {
        if (b.OnHostReply)
            b.OnHostReply(bytes, size_t(count));
    }

    void CursorPosition();
    void CursorUp();
    void CursorDown();
    void EraseInDisplay();
    void EraseInLine();
    void SetColors();
    void RestoreCursor();
    void StatusReport();
    void WriteString();
    void TabForward(int count);
    void TabBackward(int count);
    void TabControl();
    void VerticalTab();
    void DeviceAttributes();
    void DeleteChars();
    void InsertChars(int count);
    void LineBand(int &last) const;
    void DeleteLines();
    void InsertLines();
    void TabJustify();
    void TabClear();
    void SetScrollRegion();
    int VerticalTabRow() const { return std::clamp(PageRow(), 1, b.PageHeight); }

    TBuffer &b;
    TCommandRecord &r;
};

void TCommandExecutor::Execute()
{
    // A buffer without cells (freed, or a failed new buffer) has nothing to act on; counting in
    // rows of zero columns would divide by zero.
    if (b.CellCount == 0)
        return;
    switch (r.Command) {
    case cmd::CursorPosition:
        CursorPosition();
        break;
    case cmd::CursorUp:
        CursorUp();
        break;
    case cmd::CursorDown:
        CursorDown();
        break;
    case cmd::CursorRight:
        b.CursorColumn = LimitColumn(b.CursorColumn + r.X);
        b.bMoveCaret();
        break;
    case cmd::CursorLeft:
        b.CursorColumn -= std::min<int>(r.X, b.CursorColumn);
        b.bMoveCaret();
        break;
    case cmd::EraseDisplayA:
    case cmd::EraseDisplayB:
    case cmd::EraseDisplayC:
    case cmd::EraseDisplay:
        EraseInDisplay();
        break;
    case cmd::EraseLineA:
    case cmd::EraseLineB:
    case cmd::EraseLineC:
    case cmd::EraseLine:
        EraseInLine();
        break;
    case cmd::SetColors:
        SetColors();
        break;
    case cmd::SaveCursor:
        b.SavedCursor = {true, b.CursorColumn, b.CursorRow - b.PageTop(), b.CurrentColors(),
                         b.CurrentAttributes};
        break;
    case cmd::RestoreCursor:
        RestoreCursor();
        break;
    case cmd::DeviceStatusReport:
        StatusReport();
        break;
    case cmd::WriteString:
        WriteString();
        break;
    case cmd::HorizontalTab:
        TabForward(1);
        break;
    case cmd::TabBackward:
        TabBackward(r.X);
        break;
    case cmd::CursorToColumn:
        if (r.X >= 1) {
            b.CursorColumn = LimitColumn(r.X - 1);
            b.bMoveCaret();
        }
        break;
    case cmd::TabForward:
        TabForward(r.X);
        break;
    case cmd::NextLineN:
        b.CursorRow = LimitToPage(b.CursorRow + std::max<int>(r.Y, 1));
        b.CursorColumn = 0;
        b.bMoveCaret();
        break;
    case cmd::PreviousLine:
        b.CursorRow = LimitToPage(b.CursorRow - std::min<int>(std::max<int>(r.Y, 1), b.CursorRow));
        b.CursorColumn = 0;
        b.bMoveCaret();
        break;
    case cmd::PositionReport:
        b.bSendPositionReport(r.X, r.Y);
        break;
    case cmd::TabControl:
        TabControl();
        break;
    case cmd::VerticalTab:
        VerticalTab();
        break;
    case cmd::DeviceAttributes:
        DeviceAttributes();
        break;
    case cmd::DeleteChars:
        DeleteChars();
        break;
    case cmd::DeleteLines:
        DeleteLines();
        break;
    case cmd::EraseChars: {
        const int count = std::min<int>(r.X, b.CellCount);
        b.BlankCells(b.CursorColumn, b.CursorRow, count, BlankColors(), 0);
        const int lastRow =
            std::min(b.Rows - 1, b.CursorRow + (b.CursorColumn + count - 1) / b.Columns);
        Repaint(b.CursorRow, std::max(lastRow, b.CursorRow));
        break;
    }
    case cmd::TabJustify:
        TabJustify();
        break;
    case cmd::SetTab:
        b.bSetHorizontalTabStop(b.CursorColumn + 1);
        break;
    case cmd::InsertChars:
        InsertChars(r.X);
        break;
    case cmd::InsertLines:
        InsertLines();
        break;
    case cmd::NextLine:
        RecomputeInRegion();
        b.CursorColumn = 0;
        b.bLineFeed();
        b.bMoveCaret();
        break;
    case cmd::TabClear:
        TabClear();
        break;
    case cmd::CursorToRow:
        if (r.Y != 0) {
            b.CursorRow = LimitToPage(b.PageTop() + r.Y - 1);
            b.bMoveCaret();
        }
        break;
    case cmd::SetVerticalTab:
        b.bSetVerticalTabStop(VerticalTabRow());
        break;
    case cmd::SetScrollRegion:
        SetScrollRegion();
        break;
    default:
        break; // recognised but without effect here, or a refused sequence (255)
    }
}

void TCommandExecutor::CursorPosition()
{
    if (r.X != 0)
        b.CursorColumn = LimitColumn(r.X - 1);
    if (r.Y != 0)
        b.CursorRow = LimitToPage(b.PageTop() + r.Y - 1);
    RecomputeInRegion();
    b.bMoveCaret();
}

// Inside the region (or crossing its top from below) the cursor stops at the region's top;
// elsewhere at the top of the page.
void TCommandExecutor::CursorUp()
{
    const int page = PageRow();
    const int count = std::min<int>(r.Y, b.CursorRow);
    const bool inside = (b.RegionTop <= page && page <= b.RegionBottom) ||
                        (page > b.RegionBottom && page - count < b.RegionTop);
    b.CursorRow -= count;
    if (inside && PageRow() < b.RegionTop)
        b.CursorRow = b.PageTop() + b.RegionTop - 1;
    else if (b.CursorRow < b.PageTop())
        b.CursorRow = b.PageTop();
    b.bMoveCaret();
}

void TCommandExecutor::CursorDown()
{
    const int page = PageRow();
    const bool inside = (b.RegionTop <= page && page <= b.RegionBottom) ||
                        (page < b.RegionTop && page + r.Y > b.RegionBottom);
    b.CursorRow += r.Y;
    if (inside && PageRow() > b.RegionBottom)
        b.CursorRow = b.PageTop() + b.RegionBottom - 1;
    else
        b.CursorRow = LimitToPage(b.CursorRow);
    b.bMoveCaret();
}

void TCommandExecutor::EraseInDisplay()
{
    const uint8_t colors = BlankColors();
    switch (r.X) {
    case 0: {
        const int from = b.CursorRow * b.Columns + b.CursorColumn;
        b.BlankCells(b.CursorColumn, b.CursorRow, b.CellCount - from, colors, 0);
        Repaint(b.CursorRow, b.Rows - 1);
        break;
    }
    case 1: {
        const int top = std::min(b.PageTop(), b.CursorRow);
        const int count = (b.CursorRow - top) * b.Columns + b.CursorColumn + 1;
        b.BlankCells(0, top, count, colors, 0);
        Repaint(top, b.CursorRow);
        break;
    }
    case 2:
        b.bClearScreen();
        break;
    default:
        break;
    }
}

void TCommandExecutor::EraseInLine()
{
    const uint8_t colors = BlankColors();
    switch (r.X) {
    case 0:
        b.BlankCells(b.CursorColumn, b.CursorRow, b.Columns - b.CursorColumn, colors, 0);
        break;
    case 1:
        b.BlankCells(0, b.CursorRow, b.CursorColumn + 1, colors, 0);
        break;
    case 2:
        b.BlankCells(0, b.CursorRow, b.Columns, colors, 0);
        break;
    default:
        return;
    }
    Repaint(b.CursorRow, b.CursorRow);
}

void TCommandExecutor::SetColors()
{
    if (r.Foreground > 15 || r.Background > 15)
        return;
    b.bSetColors(r.Foreground, r.Background);
    b.CurrentAttributes = r.Attributes;
    if (r.Attributes & attrReverse)
        std::swap(b.CurrentForeground, b.CurrentBackground);
}

void TCommandExecutor::RestoreCursor()
{
    TSavedCursor &saved = b.SavedCursor;
    if (saved.Saved) {
        b.CursorColumn = LimitColumn(saved.Column);
        b.CursorRow = LimitToPage(b.PageTop() + saved.PageRow);
        b.CurrentForeground = saved.Colors & 0x0F;
        b.CurrentBackground = saved.Colors >> 4;
        b.CurrentAttributes = saved.Attributes;
        saved.Saved = false;
    } else if (r.EmulationType == etAnsi) {
        b.CursorColumn = 0;
        b.CursorRow = LimitToPage(b.PageTop());
        b.CurrentForeground = 7;
        b.CurrentBackground = 0;
        b.CurrentAttributes = 0;
    } else {
        return;
    }
    RecomputeInRegion();
    b.bMoveCaret();
}

// ESC [ row ; column R with the 1-based page row and column, three digits at most each.
void TCommandExecutor::StatusReport()
{
    if (r.X != 6)
        return;
    uint8_t reply[10];
    int n = 0;
    reply[n++] = kEscape;
    reply[n++] = '[';
    n += AppendNumber(reply + n, std::clamp(PageRow(), 1, 999));
    reply[n++] = ';';
    n += AppendNumber(reply + n, std::clamp(b.CursorColumn + 1, 1, 999));
    reply[n++] = 'R';
    Send(reply, n);
}

void TCommandExecutor::WriteString()
{
    const int count = std::min<int>(r.Count, sizeof r.Chars);
    for (int i = 0; i < count; ++i)
        b.bWriteChar(r.Chars[i]);
}

void TCommandExecutor::TabForward(int count)
{
    b.CursorColumn = LimitColumn(b.bGetNextTabStop(b.CursorColumn + 1, count) - 1);
    b.bMoveCaret();
}

void TCommandExecutor::TabBackward(int count)
{
    b.CursorColumn = LimitColumn(b.bGetPrevTabStop(b.CursorColumn + 1, count) - 1);
    b.bMoveCaret();
}

void TCommandExecutor::TabControl()
{
    switch (r.X) {
    case 0:
        b.bSetHorizontalTabStop(b.CursorColumn + 1);
        break;
    case 1:
        b.bSetVerticalTabStop(VerticalTabRow());
        break;
    case 2:
        b.bClearHorizontalTabStop(b.CursorColumn + 1);
        break;
    case 3:
        b.bClearVerticalTabStop(VerticalTabRow());
        break;
    case 4:
    case 5:
        b.bClearHorizontalTabStops();
        break;
    case 6:
        b.bClearVerticalTabStops();
        break;
    default:
        break;
    }
}

void TCommandExecutor::TabClear()
{
    switch (r.X) {
    case 0:
        b.bClearHorizontalTabStop(b.CursorColumn + 1);
        break;
    case 1:
        b.bClearVerticalTabStop(VerticalTabRow());
        break;
    case 2:
    case 3:
        b.bClearHorizontalTabStops();
        break;
    case 4:
        b.bClearVerticalTabStops();
        break;
    default:
        break;
    }
}

// To the Y-th vertical stop below the cursor's page row, while the cursor is above the last
// page row.
void TCommandExecutor::VerticalTab()
{
    const int page = PageRow();
    if (page < 1 || page >= b.PageHeight)
        return;
    int found = page;
    int seen = 0;
    for (uint8_t stop : b.VerticalTabs) {
        if (stop > page && stop <= b.PageHeight) {
            found = stop;
            if (++seen == r.Y)
                break;
        }
    }
    b.CursorRow = LimitToPage(b.PageTop() + found - 1);
    b.bMoveCaret();
}

void TCommandExecutor::DeviceAttributes()
{
    static const uint8_t kVt100[] = {kEscape, '[', '?', '1', ';', '0', 'c'};
    static const uint8_t kVt52[] = {kEscape, '/', 'Z'};
    if (r.X != 0)
        return;
    if (r.Y == 1)
        Send(kVt100, sizeof kVt100);
    else if (r.Y == 0)
        Send(kVt52, sizeof kVt52);
}

void TCommandExecutor::DeleteChars()
{
    const int column = b.CursorColumn;
    const int count = std::min<int>(r.X, b.Columns - column);
    MoveCells(b, b.CursorRow, column + count, column, b.Columns - column - count);
    b.BlankCells(b.Columns - count, b.CursorRow, count, b.CurrentColors(), 0);
    Repaint(b.CursorRow, b.CursorRow);
}

void TCommandExecutor::InsertChars(int requested)
{
    const int column = b.CursorColumn;
    const int count = std::min(requested, b.Columns - column);
    MoveCells(b, b.CursorRow, column, column + count, b.Columns - column - count);
    b.BlankCells(column, b.CursorRow, count, b.CurrentColors(), 0);
    Repaint(b.CursorRow, b.CursorRow);
}

// Blanks n cells at the cursor, pushing the rest of the row right, and moves past them.
void TCommandExecutor::TabJustify()
{
    const int stop = b.bGetNextTabStop(b.CursorColumn + 1, 1);
    const int n = std::max(0, stop - 1 - b.CursorColumn);
    if (n == 0)
        return;
    InsertChars(n);
    b.CursorColumn = LimitColumn(b.CursorColumn + n);
    b.bMoveCaret();
}

// The last row insert and delete lines work on: the region's bottom when the cursor is inside
// the region, the page's bottom otherwise.
void TCommandExecutor::LineBand(int &last) const
{
    const int page = PageRow();
    if (b.RegionTop <= page && page <= b.RegionBottom)
        last = std::min(b.PageTop() + b.RegionBottom - 1, b.Rows - 1);
    else
        last = PageBottomRow();
    last = std::max(last, b.CursorRow);
}

void TCommandExecutor::DeleteLines()
{
    int last = 0;
    LineBand(last);
    const int band = last - b.CursorRow + 1;
    const int count = std::min(std::max<int>(r.Y, 1), band);
    if (count < band)
        b.RotateRowsUp(b.CursorRow, last, count);
    b.BlankRows(last - count + 1, count, b.CurrentColors(), 0);
    Repaint(b.CursorRow, last);
}

void TCommandExecutor::InsertLines()
{
    RecomputeInRegion();
    int last = 0;
    LineBand(last);
    const int band = last - b.CursorRow + 1;
    const int count = std::min(std::max<int>(r.Y, 1), band);
    if (count < band)
        b.RotateRowsDown(b.CursorRow, last, count);
    b.BlankRows(b.CursorRow, count, b.CurrentColors(), 0);
    Repaint(b.CursorRow, last);
}

void TCommandExecutor::SetScrollRegion()
{
    const int top = std::max<int>(r.X, 1);
    const int bottom = r.Y == 0 ? b.PageHeight : r.Y;
    if (top >= bottom || bottom > b.PageHeight)
        return;
    b.RegionTop = top;
    b.RegionBottom = bottom;
    b.CursorColumn = 0;
    b.CursorRow = LimitToPage(b.PageTop());
    b.InRegion = top == 1;
    b.bMoveCaret();
}

} // namespace

// Kept out of line so that the path of an ordinary character stays a short function.
[[gnu::noinline]] void ExecuteCommand(TBuffer &buffer)
{
    TCommandExecutor(buffer).Execute();
}

} // namespace terminal
