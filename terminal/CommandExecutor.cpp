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
// - A scroll region needs 1 <= top < bottom; a bottom of 0 (omitted) or below the page is the
//   page's last row; anything else is refused and changes nothing.
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

// Under the VT100's rules a glyph on the last column leaves a wrap pending; anything that moves
// the cursor or edits the screen cancels it. Renditions, character sets, modes, reports, tab
// stops and a tab (which cannot move past the last column) leave it, as xterm does.
bool MovesCursor(uint8_t command)
{
    switch (command) {
    case cmd::Nothing:
    case cmd::HorizontalTab:
    case cmd::SetColors:
    case cmd::SaveCursor:
    case cmd::DeviceStatusReport:
    case cmd::DeviceAttributes:
    case cmd::PositionReport:
    case cmd::SetTab:
    case cmd::TabClear:
    case cmd::DesignateCharSet:
    case cmd::ShiftOut:
    case cmd::ShiftIn:
    case cmd::ModeKeyboardLock:
    case cmd::ModeCursorKeys:
    case cmd::ModeInsert:
    case cmd::ModeNewLine:
    case cmd::SetPrivateMode: // those that move the cursor (origin, column mode) home it
    case cmd::ResetPrivateMode:
    case cmd::MediaCopy:
    case cmd::RequestParameters:
    case cmd::SequenceError:
        return false;
    default:
        return true;
    }
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
    bool Vt100() const { return r.EmulationType == etVt100; }
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
    void Home();
    void Index();
    void ReverseIndex();
    void AlignmentTest();
    void SetCharSets();
    void PrivateModes(bool set);
    void ResetInitial();
    void ReportParameters();
    bool CursorInRegion() const
    {
        const int page = PageRow();
        return b.RegionTop <= page && page <= b.RegionBottom;
    }
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
    if (Vt100() && MovesCursor(r.Command))
        b.WrapPending = false;
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
        b.SavedCursor = {true,
                         b.CursorColumn,
                         b.CursorRow - b.PageTop(),
                         b.CurrentColors(),
                         b.CurrentAttributes,
                         {b.CharSets[0], b.CharSets[1]},
                         b.Shift,
                         b.OriginMode};
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
        // A VT100 erases within the cursor's row.
        const int count = std::min<int>(r.X, Vt100() ? b.Columns - b.CursorColumn : b.CellCount);
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
    case cmd::Index:
        Index();
        break;
    case cmd::ReverseIndex:
        if (Vt100())
            ReverseIndex();
        break;
    case cmd::AlignmentTest:
        AlignmentTest();
        break;
    case cmd::DesignateCharSet:
        b.CharSets[r.X & 1] = r.Y == csDecGraphics ? csDecGraphics : csAscii;
        SetCharSets();
        break;
    case cmd::ShiftOut:
    case cmd::ShiftIn:
        b.Shift = r.Command == cmd::ShiftOut ? 1 : 0;
        SetCharSets();
        break;
    case cmd::SetPrivateMode:
    case cmd::ResetPrivateMode:
        if (Vt100())
            PrivateModes(r.Command == cmd::SetPrivateMode);
        break;
    case cmd::ModeInsert:
        b.bSetInsertMode(r.X != 0);
        break;
    case cmd::ModeNewLine:
        b.NewLineMode = r.X != 0;
        break;
    case cmd::ResetInitial:
        if (Vt100())
            ResetInitial();
        break;
    case cmd::RequestParameters:
        if (Vt100())
            ReportParameters();
        break;
    default:
        break; // recognised but without effect here, or a refused sequence (255)
    }
}

void TCommandExecutor::CursorPosition()
{
    if (r.X != 0)
        b.CursorColumn = LimitColumn(r.X - 1);
    if (r.Y != 0) {
        if (b.OriginMode) // rows count from the region's top and stay inside it
            b.CursorRow = LimitToPage(b.PageTop() + b.RegionTop - 1 +
                                      std::min<int>(r.Y, b.RegionBottom - b.RegionTop + 1) - 1);
        else
            b.CursorRow = LimitToPage(b.PageTop() + r.Y - 1);
    }
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
        if (Vt100()) { // a VT100 leaves the cursor where it stood on the page
            const int column = b.CursorColumn, pageRow = PageRow();
            b.bClearScreen();
            b.CursorColumn = column;
            b.CursorRow = LimitToPage(b.PageTop() + pageRow - 1);
            RecomputeInRegion();
            b.bMoveCaret();
        } else {
            b.bClearScreen();
        }
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
    // The character set in use is no rendition: it stays.
    b.CurrentAttributes = uint8_t((r.Attributes & ~attrGraphics) |
                                  (b.CurrentAttributes & attrGraphics));
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
        if (Vt100()) {
            // A VT100 restores its character sets and origin mode too, and keeps the save for
            // the next restore.
            b.CharSets[0] = saved.CharSets[0];
            b.CharSets[1] = saved.CharSets[1];
            b.Shift = saved.Shift;
            b.OriginMode = saved.OriginMode;
            SetCharSets();
        } else {
            saved.Saved = false;
        }
    } else if (r.EmulationType == etAnsi || Vt100()) {
        // Nothing saved: home with the rendition, and for a VT100 the character sets and origin
        // mode, as at start.
        b.CursorColumn = 0;
        b.CursorRow = LimitToPage(b.PageTop());
        b.CurrentForeground = 7;
        b.CurrentBackground = 0;
        b.CurrentAttributes = 0;
        if (Vt100()) {
            b.CharSets[0] = b.CharSets[1] = csAscii;
            b.Shift = 0;
            b.OriginMode = false;
        }
    } else {
        return;
    }
    RecomputeInRegion();
    b.bMoveCaret();
}

// ESC [ row ; column R with the 1-based page row and column, three digits at most each.
void TCommandExecutor::StatusReport()
{
    if (r.X == 5 && Vt100()) { // operating status: no malfunction
        static const uint8_t kReady[] = {kEscape, '[', '0', 'n'};
        return Send(kReady, sizeof kReady);
    }
    if (r.X != 6)
        return;
    uint8_t reply[10];
    int n = 0;
    reply[n++] = kEscape;
    reply[n++] = '[';
    // In origin mode the row counts from the region's top, as the host addresses it.
    const int row = b.OriginMode ? PageRow() - b.RegionTop + 1 : PageRow();
    n += AppendNumber(reply + n, std::clamp(row, 1, 999));
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
    // A VT100 knows only 0 (the stop at the cursor) and 3 (all); the others change nothing.
    if (Vt100() && r.X != 0 && r.X != 3)
        return;
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
    b.MoveCells(b.CursorRow, column + count, column, b.Columns - column - count);
    b.BlankCells(b.Columns - count, b.CursorRow, count, b.CurrentColors(), 0);
    Repaint(b.CursorRow, b.CursorRow);
}

void TCommandExecutor::InsertChars(int requested)
{
    const int column = b.CursorColumn;
    const int count = std::min(requested, b.Columns - column);
    b.MoveCells(b.CursorRow, column, column + count, b.Columns - column - count);
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
    if (Vt100() && !CursorInRegion()) // a VT102 ignores it outside the scroll region
        return;
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
    if (Vt100() && !CursorInRegion())
        return;
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
    // A bottom below the page is the page's last row, as a host that counts more lines than
    // this page has means it; a region of less than two rows is refused.
    const int top = std::max<int>(r.X, 1);
    const int bottom = r.Y == 0 ? b.PageHeight : std::min<int>(r.Y, b.PageHeight);
    if (top >= bottom)
        return;
    b.bHandOverScroll();
    b.RegionTop = top;
    b.RegionBottom = bottom;
    Home();
}

// The home position: the page's first row, or the region's in origin mode.
void TCommandExecutor::Home()
{
    b.WrapPending = false;
    b.CursorColumn = 0;
    b.CursorRow = LimitToPage(b.PageTop() + (b.OriginMode ? b.RegionTop - 1 : 0));
    RecomputeInRegion();
    b.bMoveCaret();
}

// Down one row; at the region's bottom the region scrolls up, as for a line feed.
void TCommandExecutor::Index()
{
    RecomputeInRegion();
    b.bLineFeed();
    b.bMoveCaret();
}

// Up one row; at the region's top the region scrolls down, its bottom line lost. Above the
// region the cursor stops at the page's top.
void TCommandExecutor::ReverseIndex()
{
    const int page = PageRow();
    if (page == b.RegionTop) {
        const int top = b.CursorRow;
        const int last = std::min(b.PageTop() + b.RegionBottom - 1, b.Rows - 1);
        b.RotateRowsDown(top, last, 1);
        b.BlankRows(top, 1, b.CurrentColors(), b.BlankAttributes());
        Repaint(top, last);
    } else if (page > 1) {
        --b.CursorRow;
        RecomputeInRegion();
    }
    b.bMoveCaret();
}

// The screen alignment pattern: the page full of "E", the region the whole page, the cursor
// home.
void TCommandExecutor::AlignmentTest()
{
    const int top = b.PageTop();
    const int last = PageBottomRow();
    for (int row = top; row <= last; ++row) {
        b.BlankCells(0, row, b.Columns, b.CurrentColors(), 0);
        std::memset(b.CharRow(row), 'E', size_t(b.Columns));
    }
    b.bHandOverScroll();
    b.RegionTop = 1;
    b.RegionBottom = b.PageHeight;
    b.OriginMode = false;
    Home();
    Repaint(top, last);
}

// New glyphs are marked with the set in use (G0 or G1, as shifted).
void TCommandExecutor::SetCharSets()
{
    const bool graphics = b.CharSets[b.Shift & 1] == csDecGraphics;
    b.CurrentAttributes =
        uint8_t((b.CurrentAttributes & ~attrGraphics) | (graphics ? attrGraphics : 0));
}

// The VT100's private modes this terminal acts on: cursor keys (1), reverse screen (5), origin
// (6) and auto-wrap (7); the column mode (3) stays at 80 columns but clears the screen, resets
// the region and homes the cursor, as switching it does on a VT100. The rest (smooth scroll,
// ...) change nothing.
void TCommandExecutor::PrivateModes(bool set)
{
    const int count = std::min<int>(r.ParamCount, kRecordParams);
    for (int i = 0; i < count; ++i) {
        switch (r.Params[i]) {
        case 1:
            b.CursorKeysApp = set;
            break;
        case 5:
            if (b.ReverseScreen != set) {
                b.ReverseScreen = set;
                b.bInvalidateAll();
                b.bUpdateWindow();
            }
            break;
        case 6:
            b.OriginMode = set;
            Home();
            break;
        case 7:
            b.AutoWrap = set;
            if (!set) // the next glyph goes on the last column
                b.WrapPending = false;
            break;
        case 3:
            b.bHandOverScroll();
            b.RegionTop = 1;
            b.RegionBottom = b.PageHeight;
            b.bClearScreen();
            Home();
            break;
        default:
            break;
        }
    }
}

// DECREQTPARM: the line's parameters as a VT100 reports them: no parity, 8 bits, 19200 baud
// both ways (the terminal does not know the port's settings; the loader's default rate), clock
// multiplier 1, no switches. Asked with 0 the terminal may report unasked (2), with 1 only when
// asked (3).
void TCommandExecutor::ReportParameters()
{
    if (r.X > 1)
        return;
    uint8_t reply[] = {kEscape, '[', uint8_t(r.X == 0 ? '2' : '3'), ';', '1', ';', '1', ';', '1',
                       '2', '0', ';', '1', '2', '0', ';', '1', ';', '0', 'x'};
    Send(reply, sizeof reply);
}

// The VT100's reset to its initial state: modes, character sets, region and tab stops as at
// power-up, default colours, the screen cleared (the old page stays in the scrollback).
void TCommandExecutor::ResetInitial()
{
    b.WrapPending = false;
    b.AutoWrap = true;
    b.OriginMode = false;
    b.bSetInsertMode(false);
    b.NewLineMode = false;
    b.CursorKeysApp = false;
    b.CharSets[0] = b.CharSets[1] = csAscii;
    b.Shift = 0;
    b.SavedCursor = {};
    b.bHandOverScroll();
    b.RegionTop = 1;
    b.RegionBottom = b.PageHeight;
    b.bSetDefaultHorizontalTabStops();
    b.CurrentForeground = b.DefaultForeground;
    b.CurrentBackground = b.DefaultBackground;
    b.CurrentAttributes = 0;
    if (b.ReverseScreen) {
        b.ReverseScreen = false;
        b.bInvalidateAll();
    }
    b.bClearScreen();
    Home();
}

} // namespace

// Kept out of line so that the path of an ordinary character stays a short function.
[[gnu::noinline]] void ExecuteCommand(TBuffer &buffer)
{
    TCommandExecutor(buffer).Execute();
}

} // namespace terminal
