#include "terminal/Buffer.h"

#include "serial/ErrorCodes.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace terminal
{

const uint32_t kDefaultColorMap[16] = {
    Rgb(0, 0, 0),       Rgb(128, 0, 0),   Rgb(0, 128, 0),   Rgb(128, 128, 0),
    Rgb(0, 0, 128),     Rgb(128, 0, 128), Rgb(0, 128, 128), Rgb(192, 192, 192),
    Rgb(128, 128, 128), Rgb(255, 0, 0),   Rgb(0, 255, 0),   Rgb(255, 255, 0),
    Rgb(0, 0, 255),     Rgb(255, 0, 255), Rgb(0, 255, 255), Rgb(255, 255, 255)};

namespace
{

uint8_t BlankColors(uint8_t background)
{
    return uint8_t(background << 4 | background);
}

} // namespace

// ---- creation -----------------------------------------------------------------------------

TBuffer::TBuffer(TBufferWindow *window) : window_(window) {}

std::unique_ptr<TBuffer> TBuffer::Create(TBufferWindow *window, int columns, int rows, int *result)
{
    std::unique_ptr<TBuffer> buffer(new (std::nothrow) TBuffer(window));
    int rc = serial::ecOutOfMemory;
    if (buffer) {
        std::copy(std::begin(kDefaultColorMap), std::end(kDefaultColorMap), buffer->ColorMap);
        buffer->bSetColors(7, 0);
        rc = buffer->bNewBuffer(rows, columns, 25);
    }
    if (result)
        *result = rc;
    if (rc != serial::ecOK)
        return nullptr;
    buffer->CurrentAttributes = 0;
    buffer->BlinkPhase = false;
    buffer->InRegion = true;
    buffer->SavedCursor = {};
    buffer->bResetMarking();
    buffer->bSetHighlightColors(0, 7);
    buffer->EmulatorContext = nullptr;
    buffer->EmulatorRoutine = nullptr;
    return buffer;
}

TBuffer::~TBuffer()
{
    bDeallocBuffers();
}

int TBuffer::bNewBuffer(int rows, int columns, int pageHeight)
{
    if (columns < 1 || columns > kMaxColumns || pageHeight < 1 || rows < pageHeight ||
        long(rows) * columns > kMaxCells)
        return serial::ecBadArgument;

    bDeallocBuffers();
    const size_t cells = size_t(rows) * size_t(columns);
    try {
        chars_.assign(cells, ' ');
        colors_.assign(cells, 0);
        baseColors_.assign(cells, 0);
        attrs_.assign(cells, 0);
        rowMap_.resize(size_t(rows));
    } catch (const std::bad_alloc &) {
        bDeallocBuffers();
        return serial::ecOutOfMemory;
    }
    for (int r = 0; r < rows; ++r)
        rowMap_[size_t(r)] = uint16_t(r);
    ringStart_ = 0;
    ForgetRowCache();

    Rows = rows;
    Columns = columns;
    glyphColumns_ = columns;
    PageHeight = pageHeight;
    CellCount = rows * columns;
    CursorColumn = 0;
    CursorRow = 0;
    HighestRow = pageHeight - 1;
    const uint8_t pageColors = BlankColors(CurrentBackground);
    std::memset(colors_.data(), pageColors, size_t(pageHeight) * size_t(columns));
    std::memset(baseColors_.data(), pageColors, size_t(pageHeight) * size_t(columns));

    bSetDefaultHorizontalTabStops();
    bClearVerticalTabStops();

    PendingVerticalScroll = 0;
    PendingHorizontalScroll = 0;
    InvalidRect = {};
    FirstVisibleColumn = 0;
    FirstVisibleRow = 0;
    PreviousVisibleRows = 0;
    PreviousVisibleColumns = 0;
    RegionBottom = pageHeight;
    // A selection or a saved cursor of the old size could point outside the new cells.
    bResetMarking();
    SavedCursor = {};
    // A new buffer is a terminal at start: none of the VT100's modes or character sets carries
    // over (the buffer is made anew when the window changes between VT100 and another emulation).
    WrapPending = false;
    AutoWrap = true;
    OriginMode = false;
    InsertMode = false;
    NewLineMode = false;
    ReverseScreen = false;
    CursorKeysApp = false;
    CharSets[0] = CharSets[1] = csAscii;
    Shift = 0;
    CurrentAttributes &= uint8_t(~attrGraphics);
    // Until a window tells its size, the whole page counts as shown.
    if (CharHeight <= 0 || CharWidth <= 0) {
        VisibleRows = pageHeight;
        VisibleColumns = columns;
    }
    return serial::ecOK;
}

void TBuffer::bDeallocBuffers()
{
    chars_ = {};
    colors_ = {};
    baseColors_ = {};
    attrs_ = {};
    rowMap_ = {};
    ringStart_ = 0;
    ForgetRowCache();
    Rows = 0;
    Columns = 0;
    glyphColumns_ = 0;
    CellCount = 0;
    CursorColumn = 0;
    CursorRow = 0;
}

void TBuffer::bSetColors(uint8_t foreground, uint8_t background)
{
    if (foreground > 15 || background > 15)
        return;
    CurrentForeground = DefaultForeground = foreground;
    CurrentBackground = DefaultBackground = background;
    bSetHighlightColors(background, foreground);
}

void TBuffer::bSetHighlightColors(uint8_t foreground, uint8_t background)
{
    HighlightForeground = foreground;
    HighlightBackground = background;
}

// ---- cells and rows ----------------------------------------------------------------------

std::string TBuffer::RowText(int row) const
{
    return std::string(reinterpret_cast<const char *>(CharRow(row)), size_t(Columns));
}

void TBuffer::BlankCells(int column, int row, int count, uint8_t colors, uint8_t attributes)
{
    if (CellCount == 0 || row < 0 || column < 0 || column >= Columns)
        return;
    while (count > 0 && row < Rows) {
        const int n = std::min(count, Columns - column);
        const int offset = RowOffset(row) + column;
        std::memset(chars_.data() + offset, ' ', size_t(n));
        std::memset(colors_.data() + offset, colors, size_t(n));
        std::memset(baseColors_.data() + offset, colors, size_t(n));
        std::memset(attrs_.data() + offset, attributes, size_t(n));
        count -= n;
        column = 0;
        ++row;
    }
}

void TBuffer::BlankRows(int firstRow, int count, uint8_t colors, uint8_t attributes)
{
    const int first = std::max(firstRow, 0);
    const int end = std::min(firstRow + std::max(count, 0), Rows);
    for (int row = first; row < end; ++row)
        BlankCells(0, row, Columns, colors, attributes);
}

void TBuffer::ReverseRows(int first, int last)
{
    auto slot = [this](int row) {
        const int s = ringStart_ + row;
        return size_t(s >= Rows ? s - Rows : s);
    };
    ForgetRowCache();
    for (; first < last; ++first, --last)
        std::swap(rowMap_[slot(first)], rowMap_[slot(last)]);
}

void TBuffer::RotateRowsUp(int first, int last, int count)
{
    first = std::max(first, 0);
    last = std::min(last, Rows - 1);
    const int length = last - first + 1;
    if (length < 2 || count <= 0)
        return;
    count %= length;
    if (count == 0)
        return;
    ForgetRowCache();
    if (length == Rows) {
        ringStart_ = (ringStart_ + count) % Rows;
    } else if (first == 0 && Rows - length < length) {
        // Turning the whole ring moves the rows below the band too; put those back, which
        // touches only the rows outside the band.
        ringStart_ = (ringStart_ + count) % Rows;
        RotateRowsDown(last - count + 1, Rows - 1, count);
    } else {
        ReverseRows(first, first + count - 1);
        ReverseRows(first + count, last);
        ReverseRows(first, last);
    }
}

void TBuffer::MoveCells(int row, int from, int to, int count)
{
    if (count <= 0)
        return;
    std::memmove(CharRow(row) + to, CharRow(row) + from, size_t(count));
    std::memmove(ColorRow(row) + to, ColorRow(row) + from, size_t(count));
    std::memmove(BaseColorRow(row) + to, BaseColorRow(row) + from, size_t(count));
    std::memmove(AttrRow(row) + to, AttrRow(row) + from, size_t(count));
}

void TBuffer::bSetInsertMode(bool on)
{
    InsertMode = on;
    glyphColumns_ = on ? 0 : Columns;
}

void TBuffer::RotateRowsDown(int first, int last, int count)
{
    first = std::max(first, 0);
    last = std::min(last, Rows - 1);
    const int length = last - first + 1;
    if (length < 2 || count <= 0)
        return;
    count %= length;
    if (count != 0)
        RotateRowsUp(first, last, length - count);
}

size_t TBuffer::MemoryUsed() const
{
    return chars_.capacity() + colors_.capacity() + baseColors_.capacity() + attrs_.capacity() +
           rowMap_.capacity() * sizeof(uint16_t);
}

void TBuffer::KeepCursorInside()
{
    CursorColumn = std::clamp(CursorColumn, 0, Columns - 1);
    CursorRow = std::clamp(CursorRow, 0, Rows - 1);
}

// The region as the buffer uses it: the bottom within the page. A top below the bottom leaves
// no row inside the region.
void TBuffer::RegionBounds(int &top, int &bottom) const
{
    bottom = std::clamp(RegionBottom, 1, std::max(PageHeight, 1));
    top = std::max(RegionTop, 1);
}

// ---- writing -------------------------------------------------------------------------------

void TBuffer::FinishGlyph(uint8_t c, int32_t cellLeft, int32_t cellTop, bool covered)
{
    if (!covered)
        MergeInvalid({cellLeft, cellTop, cellLeft + CharWidth, cellTop + CharHeight});
    HandOn(c);
}

void TBuffer::WriteCharNewRow(uint8_t c)
{
    FillRowCache();
    bWriteChar(c);
}

// Only called with the cursor row inside the buffer.
void TBuffer::FillRowCache()
{
    int top, bottom;
    RegionBounds(top, bottom);
    const int pageRow = CursorRow - PageTop() + 1;
    rowCache_.Row = CursorRow;
    rowCache_.HighestRow = HighestRow;
    rowCache_.RegionTop = RegionTop;
    rowCache_.RegionBottom = RegionBottom;
    rowCache_.PageHeight = PageHeight;
    rowCache_.Offset = RowOffset(CursorRow);
    rowCache_.InRegion = top <= pageRow && pageRow <= bottom;
}

// Every case of bWriteChar besides the inline one: control bytes, the wrap at the last column,
// a cursor outside the buffer, a cell below the window.
void TBuffer::WriteCharSlow(uint8_t c)
{
    if (unsigned(CursorColumn) >= unsigned(Columns) || unsigned(CursorRow) >= unsigned(Rows)) {
        if (CellCount == 0) {
            HandOn(c);
            return;
        }
        KeepCursorInside();
    }
    int top, bottom;
    RegionBounds(top, bottom);
    const int pageRow = CursorRow - PageTop() + 1;
    InRegion = top <= pageRow && pageRow <= bottom;

    switch (c) {
    case 0x07:
        if (!Emulating())
            StoreGlyph(c);
        else if (window_)
            window_->Bell();
        break;
    case 0x08:
        WrapPending = false;
        if (CursorColumn > 0) {
            --CursorColumn;
            // A terminal's backspace only moves (a line editor moves left over its text this
            // way); plain mode erases the cell it moves onto.
            if (Emulating()) {
                bMoveCaret();
            } else {
                CharAt(CursorColumn, CursorRow) = ' ';
                bInvalidateChar(CursorColumn, CursorRow);
            }
        }
        break;
    case 0x0B: // a terminal's vertical tab is a line feed; plain mode draws it
        if (Emulating())
            LineFeedControl();
        else
            StoreGlyph(c);
        break;
    case 0x0A:
        LineFeedControl();
        break;
    case 0x0D:
        WrapPending = false;
        CursorColumn = 0;
        bMoveCaret();
        break;
    default:
        StoreGlyph(c);
        break;
    }
    HandOn(c);
}

// A line feed received: in new-line mode a VT100 returns the carriage too.
void TBuffer::LineFeedControl()
{
    WrapPending = false;
    if (NewLineMode && Vt100Rules())
        CursorColumn = 0;
    bLineFeed();
}

// Stores a glyph at the cursor and advances it. The wrap happens right after the last column,
// except under the VT100's rules: there the cursor stays on the last column and the next glyph
// wraps first (with auto-wrap off it overwrites the last column), and in insert mode the glyph
// pushes the rest of its row right.
void TBuffer::StoreGlyph(uint8_t c)
{
    const bool vt100 = Vt100Rules();
    if (vt100) {
        if (WrapPending && AutoWrap && CursorColumn == Columns - 1) {
            CursorColumn = 0;
            bLineFeed();
        }
        WrapPending = false;
        if (InsertMode) {
            MoveCells(CursorRow, CursorColumn, CursorColumn + 1, Columns - CursorColumn - 1);
            bInvalidateRows(CursorRow, CursorRow);
        }
    }
    const int offset = RowOffset(CursorRow) + CursorColumn;
    const uint8_t colors = CurrentColors();
    chars_[size_t(offset)] = c;
    baseColors_[size_t(offset)] = colors;
    attrs_[size_t(offset)] = CurrentAttributes;
    // A blinking cell written during the off phase starts hidden.
    colors_[size_t(offset)] = (CurrentAttributes & attrBlink) && BlinkPhase
                                  ? uint8_t((colors & 0xF0) | (colors >> 4))
                                  : colors;
    bInvalidateChar(CursorColumn, CursorRow);
    if (CursorColumn < Columns - 1) {
        ++CursorColumn;
    } else if (vt100) {
        WrapPending = AutoWrap;
    } else {
        CursorColumn = 0;
        bLineFeed();
    }
}

void TBuffer::bLineFeed()
{
    if (CellCount == 0)
        return;
    const int highestBefore = HighestRow;
    ++CursorRow;
    bUpdateBuffer();
    int top, bottom;
    RegionBounds(top, bottom);
    // Only a row this line feed brought into the page is new (the end of the buffer blanks its
    // own): a row it merely moved onto keeps its cells, whatever scroll waits to be painted.
    if (CursorRow + 1 >= PageTop() + bottom && HighestRow > highestBefore) {
        // The new line takes the current background.
        const int offset = RowOffset(CursorRow);
        std::memset(colors_.data() + offset, CurrentColors(), size_t(Columns));
        std::memset(baseColors_.data() + offset, CurrentColors(), size_t(Columns));
        std::memset(attrs_.data() + offset, BlankAttributes(), size_t(Columns));
    }
}

void TBuffer::bUpdateBuffer()
{
    if (CellCount == 0)
        return;
    // The region counts from the page as it stood before the cursor moved down.
    const int pageTop = PageTop();
    const int highestRow = HighestRow;
    int top, bottom;
    RegionBounds(top, bottom);
    const int rowsBelowRegion = PageHeight - bottom;
    if (rowsBelowRegion + CursorRow == Rows && pageTop + PageHeight == Rows) {
        // The end of the buffer: everything above the lines below the region moves up one row
        // and the oldest row is lost.
        const int last = Rows - 1 - rowsBelowRegion;
        const bool fixedLinesAbove = top > 1 && top <= bottom;
        if (fixedLinesAbove && pageTop == 0) {
            // No scrollback above the page: the line leaving the region is lost.
            RotateRowsUp(top - 1, last, 1);
        } else {
            RotateRowsUp(0, last, 1);
            // Lines above the region stay in place; the line leaving the region goes to the
            // scrollback just above the page.
            if (fixedLinesAbove)
                RotateRowsDown(pageTop - 1, pageTop + top - 2, 1);
        }
        BlankRows(last, 1, CurrentColors(), BlankAttributes());
        --CursorRow;
        PendingVerticalScroll -= CharHeight;
    } else if (CursorRow < pageTop + bottom) {
        bMoveCaret();
    } else if (!InRegion) {
        // Outside the region the cursor stays on the page's last row; nothing scrolls.
        if (CursorRow >= pageTop + PageHeight)
            --CursorRow;
    } else {
        // The page moves down by n rows in the buffer, and the view with it; the lines outside
        // the region are moved back to their place on the page, so only the region scrolls.
        const int n = CursorRow - (bottom + pageTop - 1);
        FirstVisibleRow += n;
        PendingVerticalScroll -= n * CharHeight;
        HighestRow = std::max(HighestRow, std::min(pageTop + n + PageHeight - 1, Rows - 1));
        if (bottom < PageHeight) {
            RotateRowsDown(CursorRow - n + 1, Rows - 1, n);
            BlankRows(CursorRow - n + 1, n, CurrentColors(), BlankAttributes());
        }
        // The lines leaving the region go to the scrollback just above the page.
        if (top > 1 && top <= bottom)
            RotateRowsDown(pageTop, pageTop + top - 2 + n, n);
    }

    // A region outside the page must not carry the cursor past the buffer.
    if (CursorRow >= Rows)
        CursorRow = Rows - 1;
    HighestRow = std::max(HighestRow, CursorRow);
    if (HighestRow != highestRow && window_)
        window_->UsedRowsChanged();

    // The view follows the cursor.
    const int visibleRows = std::max(VisibleRows, 1);
    if (CursorRow >= FirstVisibleRow + visibleRows)
        MoveView(CursorRow - visibleRows + 1 - FirstVisibleRow);
    else if (CursorRow < FirstVisibleRow)
        MoveView(CursorRow - FirstVisibleRow);
}

void TBuffer::bClearScreen()
{
    if (CellCount == 0)
        return;
    CursorColumn = 0;
    // The new page follows the old one, which stays above it in the scrollback. Near the end
    // the buffer scrolls up as far as that needs, as that many line feeds at its last row would
    // (they are not handed on to OnWriteByte: they were never received).
    int newTop = PageTop() + PageHeight;
    if (newTop + PageHeight > Rows) {
        RotateRowsUp(0, Rows - 1, newTop + PageHeight - Rows);
        newTop = Rows - PageHeight;
    }
    CursorRow = newTop;
    // The new page counts as used, so the view and the bars stay within it.
    const int highestRow = HighestRow;
    HighestRow = std::max(HighestRow, newTop + PageHeight - 1);
    BlankRows(newTop, PageHeight, CurrentColors(), BlankAttributes());
    // The view follows the cursor to the page's top row. The whole window is repainted now;
    // content scrolls still pending would move it again.
    FirstVisibleRow = newTop;
    PendingVerticalScroll = 0;
    bInvalidateAll();
    bUpdateWindow();
    if (HighestRow != highestRow && window_)
        window_->UsedRowsChanged();
    bUpdateScrollThumb(true);
    bMoveCaret();
}

void TBuffer::bClearBuffer()
{
    if (CellCount == 0)
        return;
    CursorColumn = 0;
    CursorRow = 0;
    FirstVisibleColumn = 0;
    FirstVisibleRow = 0;
    HighestRow = PageHeight - 1;
    const uint8_t colors = uint8_t(DefaultBackground << 4 | DefaultForeground);
    std::fill(chars_.begin(), chars_.end(), uint8_t(' '));
    std::fill(colors_.begin(), colors_.end(), colors);
    std::fill(baseColors_.begin(), baseColors_.end(), colors);
    std::fill(attrs_.begin(), attrs_.end(), uint8_t(0));
    CurrentForeground = DefaultForeground;
    CurrentBackground = DefaultBackground;
    PendingVerticalScroll = 0;
    PendingHorizontalScroll = 0;
    bInvalidateAll();
    bUpdateScrollThumb(false);
    bUpdateScrollThumb(true);
    bMoveCaret();
    bPostStatusMsg();
}

// ---- painting bookkeeping ------------------------------------------------------------------

void TBuffer::MergeInvalid(const TRect &rect)
{
    if (rect.Empty())
        return;
    if (InvalidRect.Empty()) {
        InvalidRect = rect;
        return;
    }
    InvalidRect.Left = std::min(InvalidRect.Left, rect.Left);
    InvalidRect.Top = std::min(InvalidRect.Top, rect.Top);
    InvalidRect.Right = std::max(InvalidRect.Right, rect.Right);
    InvalidRect.Bottom = std::max(InvalidRect.Bottom, rect.Bottom);
}

void TBuffer::bInvalidateChar(int column, int row)
{
    const int32_t left = (column - FirstVisibleColumn) * CharWidth;
    const int32_t top = (row - FirstVisibleRow) * CharHeight;
    if (top + CharHeight > ClientHeight) {
        bMoveCaret();
        return;
    }
    // Text arriving line by line mostly lands inside what is already to be repainted.
    const TRect &invalid = InvalidRect;
    if (left >= invalid.Left && left + CharWidth <= invalid.Right && top >= invalid.Top &&
        top + CharHeight <= invalid.Bottom)
        return;
    MergeInvalid({left, top, left + CharWidth, top + CharHeight});
}

void TBuffer::bInvalidateRows(int firstRow, int lastRow)
{
    MergeInvalid({-FirstVisibleColumn * CharWidth, (firstRow - FirstVisibleRow) * CharHeight,
                  (Columns - FirstVisibleColumn) * CharWidth,
                  (lastRow + 1 - FirstVisibleRow) * CharHeight});
}

void TBuffer::bInvalidateAll()
{
    InvalidRect = {};
    if (window_)
        window_->InvalidateAll();
}

void TBuffer::bUpdateWindow()
{
    if (window_)
        window_->UpdateNow();
}

void TBuffer::bMoveCaret()
{
    if (CaretEnabled && window_)
        window_->MoveCaret((CursorColumn - FirstVisibleColumn) * CharWidth,
                           (CursorRow - FirstVisibleRow) * CharHeight);
}

void TBuffer::bForcePaint()
{
    bool changed = false;
    if (bNeedPaint()) {
        if (window_)
            window_->Invalidate(InvalidRect, false);
        InvalidRect = {};
        changed = true;
    }
    if (PendingHorizontalScroll != 0) {
        if (window_)
            window_->ScrollContent(PendingHorizontalScroll, 0, {0, 0, ClientWidth, ClientHeight});
        PendingHorizontalScroll = 0;
        bUpdateScrollThumb(false);
        changed = true;
    }
    if (PendingVerticalScroll != 0) {
        bHandOverScroll();
        changed = true;
    }
    if (changed)
        bUpdateWindow();
    bPostStatusMsg();
}

void TBuffer::bHandOverScroll()
{
    if (PendingVerticalScroll == 0)
        return;
    const TRect band = ScrollBand();
    if (window_) {
        window_->ScrollContent(0, PendingVerticalScroll, band);
        if (PendingVerticalScroll < 0)
            window_->Invalidate({0, std::max(band.Bottom + PendingVerticalScroll - CharHeight,
                                             band.Top),
                                 ClientWidth, band.Bottom},
                                true);
    }
    PendingVerticalScroll = 0;
    bUpdateScrollThumb(true);
}

TRect TBuffer::ScrollBand() const
{
    TRect band{0, 0, ClientWidth, ClientHeight};
    if (ScrollbackMode)
        return band;
    // Outside scrollback mode only the scroll region moves; rows above and below it stay.
    int top, bottom;
    RegionBounds(top, bottom);
    if (top > bottom)
        top = 1; // no region: the whole page moves
    const int32_t pageTop = (PageTop() - FirstVisibleRow) * CharHeight;
    band.Top = std::clamp(pageTop + CharHeight * (top - 1), 0, std::max(ClientHeight, 0));
    band.Bottom = std::clamp(pageTop + CharHeight * bottom, 0, std::max(ClientHeight, 0));
    return band;
}

void TBuffer::MoveView(int rows)
{
    if (rows == 0)
        return;
    FirstVisibleRow += rows;
    PendingVerticalScroll -= rows * CharHeight;
    // The window moves only the scroll band; when that is not the whole client area the view's
    // move cannot ride on it, and the window is painted afresh.
    if (ScrollBand() != TRect{0, 0, ClientWidth, ClientHeight})
        bInvalidateAll();
}

void TBuffer::bPostStatusMsg()
{
    if (!window_)
        return;
    // The row on the page, as the host counts it; never wrapped when the view stands elsewhere.
    const int pageRow = std::clamp(CursorRow - PageTop() + 1, 1, std::max(PageHeight, 1));
    const uint16_t wParam =
        ScrollbackMode ? 0 : uint16_t((pageRow & 0xFF) | ((CursorColumn + 1) & 0xFF) << 8);
    const uint32_t lParam = uint32_t((FirstVisibleRow + 1) & 0xFFFF) |
                            uint32_t((FirstVisibleColumn + 1) & 0xFFFF) << 16;
    window_->PostStatus(wParam, lParam);
}

void TBuffer::bSendPositionReport(uint16_t column, uint16_t row)
{
    if (window_)
        window_->SendPositionReport(column, row);
}

void TBuffer::bUpdateFont(int charHeight, int charWidth)
{
    CharHeight = charHeight;
    CharWidth = charWidth;
    VisibleRows = charHeight > 0 ? ClientHeight / charHeight : 0;
    VisibleColumns = charWidth > 0 ? ClientWidth / charWidth : 0;
    RegionTop = 1;
    RegionBottom = PageHeight;
}

// ---- view ----------------------------------------------------------------------------------

void TBuffer::bScroll(int columns, int rows)
{
    // A window too small for one cell still shows the cursor's cell, for the view's sake.
    const int visibleRows = std::max(VisibleRows, 1);
    const int visibleColumns = std::max(VisibleColumns, 1);
    int moveRows = 0;
    if (rows < 0) {
        int amount = -rows;
        if (ScrollbackMode) {
            moveRows = -std::min(amount, FirstVisibleRow);
        } else if (visibleRows < PageHeight && HighestRow - FirstVisibleRow + 1 < PageHeight) {
            // In normal mode the view moves within the page only.
            const int pageTop = PageTop();
            if (amount == PageHeight)
                amount = FirstVisibleRow + PageHeight - HighestRow - 1;
            moveRows = -std::max(std::min({amount, FirstVisibleRow, FirstVisibleRow - pageTop}), 0);
        }
    } else if (rows > 0 && HighestRow >= FirstVisibleRow + visibleRows) {
        int amount = rows;
        const int lastFirst = HighestRow - visibleRows + 1;
        if (ScrollbackMode) {
            moveRows = std::min(amount, lastFirst - FirstVisibleRow);
        } else if (visibleRows < PageHeight) {
            if (amount == PageHeight)
                amount = lastFirst - FirstVisibleRow;
            moveRows = std::min(amount, lastFirst - FirstVisibleRow);
        }
    }

    int moveColumns = 0;
    if (columns < 0)
        moveColumns = -std::min(-columns, FirstVisibleColumn);
    else if (columns > 0 && FirstVisibleColumn + visibleColumns < Columns)
        moveColumns = std::min(columns, Columns - visibleColumns - FirstVisibleColumn);

    MoveView(moveRows);
    FirstVisibleColumn += moveColumns;
    PendingHorizontalScroll -= moveColumns * CharWidth;
    bUpdateScrollThumb(false);
    bUpdateScrollThumb(true);
    bForcePaint();
}

void TBuffer::bGotoTop(bool vertical)
{
    if (!vertical) {
        FirstVisibleColumn = 0;
        bInvalidateAll();
    } else if (ScrollbackMode) {
        FirstVisibleRow = 0;
        bInvalidateAll();
    } else {
        MoveView(std::min(PageTop() - FirstVisibleRow, 0));
    }
    bUpdateScrollThumb(vertical);
    if (PendingVerticalScroll != 0)
        bForcePaint();
    else
        bPostStatusMsg();
}

void TBuffer::bGotoBottom(bool vertical)
{
    const int lastFirst = std::max(HighestRow - std::max(VisibleRows, 1) + 1, 0);
    if (!vertical) {
        FirstVisibleColumn = std::max(Columns - std::max(VisibleColumns, 1), 0);
        bInvalidateAll();
    } else if (ScrollbackMode) {
        FirstVisibleRow = lastFirst;
        bInvalidateAll();
    } else {
        MoveView(lastFirst - FirstVisibleRow);
    }
    bUpdateScrollThumb(vertical);
    if (PendingVerticalScroll != 0)
        bForcePaint();
    else
        bPostStatusMsg();
}

void TBuffer::bUpdateScrollThumb(bool vertical)
{
    if (window_)
        window_->ViewMoved(vertical);
}

namespace
{

// The cell a pixel lies in; a pixel on a cell's far edge still belongs to that cell.
int CellOfPixel(int pixel, int cellSize)
{
    if (cellSize <= 0)
        return -1;
    pixel = std::max(pixel, 0);
    const int cell = pixel / cellSize;
    return pixel != 0 && pixel % cellSize == 0 ? cell - 1 : cell;
}

} // namespace

int TBuffer::bConvertToRow(int y) const
{
    const int row = CellOfPixel(y, CharHeight);
    return row < 0 ? 0 : row + FirstVisibleRow;
}

int TBuffer::bConvertToCol(int x) const
{
    const int column = CellOfPixel(x, CharWidth);
    return column < 0 ? 0 : column + FirstVisibleColumn;
}

// ---- selection -----------------------------------------------------------------------------

void TBuffer::bResetMarking()
{
    Marking = false;
    MarkValid = false;
    MarkingAutoScroll = false;
    AnchorColumn = AnchorRow = 0;
    StartColumn = StartRow = 0;
    EndColumn = EndRow = 0;
    MarkingTimer = 0;
}

void TBuffer::bFixMarking(int column, int row)
{
    if (row > AnchorRow || (row == AnchorRow && column > AnchorColumn)) {
        StartColumn = AnchorColumn;
        StartRow = AnchorRow;
        EndColumn = column;
        EndRow = row;
    } else if (row < AnchorRow || column < AnchorColumn) {
        StartColumn = column;
        StartRow = row;
        EndColumn = AnchorColumn;
        EndRow = AnchorRow;
    } else {
        // Back on the anchor: the selection is the anchor's cell again, not what it was.
        StartColumn = EndColumn = AnchorColumn;
        StartRow = EndRow = AnchorRow;
    }
}

void TBuffer::bUpdateMarks(int x, int y)
{
    if (!Marking || CellCount == 0)
        return;
    x = std::clamp(x, 0, std::max(ClientWidth, 0));
    y = std::clamp(y, 0, std::max(ClientHeight, 0));
    // A client area wider or taller than the buffer must not select cells that do not exist.
    const int column = std::clamp(bConvertToCol(x), 0, Columns - 1);
    const int row = std::clamp(bConvertToRow(y), 0, Rows - 1);
    bFixMarking(column, row);
    bInvalidateAll();
}

int TBuffer::bCurLineLength() const
{
    if (CellCount == 0 || unsigned(CursorRow) >= unsigned(Rows))
        return 0;
    const uint8_t *row = CharRow(CursorRow);
    int length = Columns;
    while (length > 0 && row[length - 1] == ' ')
        --length;
    return length;
}

// ---- tab tables ----------------------------------------------------------------------------

void TBuffer::bSortTabBuffer(uint8_t *table, int size)
{
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (int i = 0; i + 1 < size; ++i) {
            if (table[i] == table[i + 1])
                table[i] = 0; // a stop set twice is kept once
            if (table[i] > table[i + 1]) {
                std::swap(table[i], table[i + 1]);
                swapped = true;
            }
        }
    }
}

int TBuffer::bGetNextTabStop(int position, int count) const
{
    int found = 0;
    for (int column = std::max(position, 0) + 1; column <= Columns; ++column) {
        if (HorizontalTabStops[column - 1] && ++found >= count)
            return column;
    }
    return Columns;
}

int TBuffer::bGetPrevTabStop(int position, int count) const
{
    int found = 0;
    for (int column = std::min(position, Columns + 1) - 1; column >= 1; --column) {
        if (HorizontalTabStops[column - 1] && ++found >= count)
            return column;
    }
    return 1;
}

namespace
{

void SetStop(uint8_t *table, int size, int stop)
{
    if (stop < 1 || stop > 255 || table[0] != 0)
        return; // a full table takes no more stops
    table[0] = uint8_t(stop);
    TBuffer::bSortTabBuffer(table, size);
}

void ClearStop(uint8_t *table, int size, int stop)
{
    bool cleared = false;
    for (int i = 0; i < size; ++i) {
        if (stop >= 1 && table[i] == stop) {
            table[i] = 0;
            cleared = true;
        }
    }
    if (cleared)
        TBuffer::bSortTabBuffer(table, size);
}

} // namespace

void TBuffer::bSetHorizontalTabStop(int column)
{
    if (column >= 1 && column <= kMaxColumns)
        HorizontalTabStops[column - 1] = true;
}

void TBuffer::bClearHorizontalTabStop(int column)
{
    if (column >= 1 && column <= kMaxColumns)
        HorizontalTabStops[column - 1] = false;
}

void TBuffer::bSetVerticalTabStop(int row)
{
    SetStop(VerticalTabs, kVerticalTabSlots, row);
}

void TBuffer::bClearVerticalTabStop(int row)
{
    ClearStop(VerticalTabs, kVerticalTabSlots, row);
}

void TBuffer::bClearHorizontalTabStops()
{
    std::fill(std::begin(HorizontalTabStops), std::end(HorizontalTabStops), false);
}

void TBuffer::bSetDefaultHorizontalTabStops()
{
    bClearHorizontalTabStops();
    for (int column = 9; column <= Columns; column += 8)
        bSetHorizontalTabStop(column);
}

void TBuffer::bClearVerticalTabStops()
{
    std::fill(std::begin(VerticalTabs), std::end(VerticalTabs), 0);
}

// ---- save and restore ----------------------------------------------------------------------

std::unique_ptr<TBufferSnapshot> TBuffer::bSave()
{
    std::unique_ptr<TBufferSnapshot> saved(new (std::nothrow) TBufferSnapshot);
    if (!saved)
        return nullptr;
    try {
        saved->Chars = chars_;
        saved->Colors = colors_;
        saved->BaseColors = baseColors_;
        saved->Attrs = attrs_;
        saved->RowMap = rowMap_;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    saved->RingStart = ringStart_;
    saved->State = static_cast<const TBufferState &>(*this);
    return saved;
}

int TBuffer::bRestore(std::unique_ptr<TBufferSnapshot> saved)
{
    if (!saved)
        return serial::ecBadArgument;
    static_cast<TBufferState &>(*this) = saved->State;
    chars_ = std::move(saved->Chars);
    colors_ = std::move(saved->Colors);
    baseColors_ = std::move(saved->BaseColors);
    attrs_ = std::move(saved->Attrs);
    rowMap_ = std::move(saved->RowMap);
    ringStart_ = saved->RingStart;
    glyphColumns_ = InsertMode ? 0 : Columns;
    ForgetRowCache();
    return serial::ecOK;
}

} // namespace terminal
