#pragma once
// The terminal's screen buffer: a grid of character cells with colours and attributes, a
// scrollback area above the emulated page, the cursor, tab stops, a scroll region, the mouse
// selection and the bookkeeping for painting and scrolling the window. Every byte written to the
// screen is also handed to an optional receiver (the terminal component's capture file).
//
// Coordinates are 0-based cells (column, row) into the whole buffer, rows counting from the
// oldest line kept. Page rows (scroll region, reports to the host) are 1-based and count from
// the page's top (PageTop), whatever part of the page the window shows.
//
// Rows are reached through a row index: logical row r lives in physical row
// rowMap_[(ringStart_ + r) mod rows]. Scrolling the whole buffer advances ringStart_ and blanks
// one row, so a line feed at the end of the buffer costs O(columns); moving a band of rows
// permutes index entries only. Each physical row is contiguous, so a row pointer covers a row.
//
// Not thread-safe: every operation runs on the GUI thread.

#include "terminal/BufferWindow.h"
#include "terminal/EmulatorCommand.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace terminal
{

// Attribute bits of a cell (the emulators produce them too).
constexpr uint8_t attrBlink = 0x01;
constexpr uint8_t attrReverse = 0x02;
constexpr uint8_t attrBold = 0x04;
constexpr uint8_t attrConcealed = 0x08;
constexpr uint8_t attrUnderline = 0x10;
// The glyph was written while the DEC special graphics set was in use: its bytes 0x5F-0x7E are
// shown as line-drawing pieces and symbols, every other byte as itself. The cell keeps the byte
// received, so the capture file and a copy see what the host sent.
constexpr uint8_t attrGraphics = 0x20;

constexpr int kMaxColumns = 133;
constexpr int kMaxCells = 65535;
constexpr int kVerticalTabSlots = 12;

// Colour map entries are 0x00BBGGRR.
constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16;
}
extern const uint32_t kDefaultColorMap[16];

// Cursor remembered by the emulators' save-cursor command. The row counts from the page's top,
// so a restore after the screen scrolled lands on the current page, not in the scrollback.
struct TSavedCursor {
    bool Saved = false;
    int Column = 0;
    int PageRow = 0;    // 0-based
    uint8_t Colors = 0; // background << 4 | foreground
    uint8_t Attributes = 0;
    // A VT100 saves its character sets, the shift between them and origin mode with the cursor.
    uint8_t CharSets[2] = {csAscii, csAscii};
    uint8_t Shift = 0;
    bool OriginMode = false;
};

// The buffer's scalar state: everything a save of the whole buffer copies besides the cells.
struct TBufferState {
    bool HorizontalTabStops[kMaxColumns] = {};    // a stop at each 0-based column set
    uint8_t VerticalTabs[kVerticalTabSlots] = {}; // 1-based page rows, 0 = empty, ascending

    int Rows = 0;    // including the scrollback
    int Columns = 0; // at most kMaxColumns
    int CharHeight = 0;
    int CharWidth = 0;
    bool ScrollbackMode = false; // the operator browses the scrollback
    int PageHeight = 0;          // rows of the emulated screen
    int CellCount = 0;           // Rows * Columns
    int CursorColumn = 0;
    int CursorRow = 0;
    int HighestRow = 0; // highest cursor row reached so far
    int FirstVisibleColumn = 0;
    int FirstVisibleRow = 0;
    bool InRegion = true; // the cursor's page row lies inside the scroll region

    // VT100 modes and states (the other emulations leave them as they are).
    // A glyph was written on the last column with auto-wrap on: the cursor stays there, and the
    // next glyph first goes to the start of the next line.
    bool WrapPending = false;
    bool AutoWrap = true;         // DECAWM
    bool OriginMode = false;      // DECOM: rows are addressed from the scroll region's top
    bool InsertMode = false;      // IRM: a glyph pushes the rest of its row right
    bool NewLineMode = false;     // LNM: line feed also returns the carriage
    bool ReverseScreen = false;   // DECSCNM: every cell is shown with its colours swapped
    bool CursorKeysApp = false;   // DECCKM: cursor keys send ESC O x instead of ESC [ x
    uint8_t CharSets[2] = {csAscii, csAscii}; // G0 and G1
    uint8_t Shift = 0;                        // 0: G0 in use (SI), 1: G1 (SO)

    // View saved by the window on entering scrollback mode.
    int SavedCursorColumn = 0;
    int SavedCursorRow = 0;
    int SavedFirstVisibleColumn = 0;
    int SavedFirstVisibleRow = 0;
    bool WholePageShown = false;

    uint8_t CurrentForeground = 7;
    uint8_t CurrentBackground = 0;
    uint8_t DefaultForeground = 7;
    uint8_t DefaultBackground = 0;
    uint32_t ColorMap[16] = {};
    uint8_t CurrentAttributes = 0;
    bool BlinkPhase = false;

    int VisibleRows = 0;
    int VisibleColumns = 0;
    int ClientWidth = 0; // pixels
    int ClientHeight = 0;
    int SavedClientWidth = 0; // on entering scrollback
    int SavedClientHeight = 0;
    int BarsClientWidth = 0; // after the scrollback's bars were set up
    int BarsClientHeight = 0;
    int PreviousVisibleRows = 0;
    int PreviousVisibleColumns = 0;
    int RegionTop = 1; // 1-based page rows
    int RegionBottom = 0;

    void *EmulatorContext = nullptr; // both empty: plain mode
    TEmulatorRoutine EmulatorRoutine = nullptr;
    TCommandRecord Command;
    TSavedCursor SavedCursor;

    int32_t PendingVerticalScroll = 0; // pixels still to scroll; negative moves content up
    int32_t PendingHorizontalScroll = 0;
    TRect InvalidRect; // still to be repainted
    bool CaretEnabled = false;

    bool Marking = false;
    bool MarkValid = false;
    bool MarkingAutoScroll = false;
    int AnchorColumn = 0;
    int AnchorRow = 0;
    int StartColumn = 0; // ordered selection bounds, inclusive
    int StartRow = 0;
    int EndColumn = 0;
    int EndRow = 0;
    int16_t MarkingTimer = 0;
    uint8_t HighlightBackground = 7;
    uint8_t HighlightForeground = 0;
};

struct TBufferSnapshot;

class TBuffer : public TBufferState
{
  public:
    // Creation: default colour map, colours 7 on 0, a rows x columns buffer with page height 25,
    // no emulator. Null (and *result set) when the buffer cannot be made.
    static std::unique_ptr<TBuffer> Create(TBufferWindow *window, int columns, int rows,
                                           int *result = nullptr);
    ~TBuffer();
    TBuffer(const TBuffer &) = delete;
    TBuffer &operator=(const TBuffer &) = delete;

    TBufferWindow *Window() const { return window_; }
    void SetWindow(TBufferWindow *window) { window_ = window; }

    // Bytes the terminal answers the host with (device attributes, the position report). The
    // buffer knows no port: whoever owns the line sends them; without a receiver they are dropped.
    // Not part of a save: a restored buffer keeps its receiver.
    std::function<void(const uint8_t *bytes, size_t count)> OnHostReply;
    // Every byte bWriteChar is given, control bytes included, as it is given (the terminal
    // component's capture file). Not part of a save either. Unset, it costs a test per byte.
    std::function<void(uint8_t c)> OnWriteByte;

    // 0, ecBadArgument (-1002) or ecOutOfMemory (-8).
    int bNewBuffer(int rows, int columns, int pageHeight);
    void bDeallocBuffers();
    void bSetColors(uint8_t foreground, uint8_t background);
    void bSetHighlightColors(uint8_t foreground, uint8_t background);
    void bSetScrollMode(bool on) { ScrollbackMode = on; }

    // Character processing. bProcessChar (the emulators' command execution) lives in
    // ProcessChar.cpp.
    void bProcessChar(uint8_t c);
    // Draws a glyph at the cursor and advances it, or carries out backspace, line feed and
    // carriage return. With an emulator attached, backspace only moves left and bell rings the
    // window's bell instead of being drawn. The common case (a glyph that neither wraps nor falls
    // below the window) is inline, with no call per byte; everything else goes out of line.
    [[gnu::always_inline]] void bWriteChar(uint8_t c)
    {
        // What is needed after the cells are stored is read into locals first: a byte store
        // may alias any field, which would make the compiler read it again.
        const int column = CursorColumn;
        const int row = CursorRow;
        const bool plainGlyph = c > 0x0D || ((1u << c) & kWriteCharSpecials) == 0;
        // 64-bit so that a negative or last column never passes.
        if (plainGlyph && uint64_t(uint32_t(column)) + 1 < uint64_t(uint32_t(glyphColumns_)) &&
            uint32_t(row) < uint32_t(Rows)) [[likely]] {
            if (row != rowCache_.Row || HighestRow != rowCache_.HighestRow ||
                RegionTop != rowCache_.RegionTop || RegionBottom != rowCache_.RegionBottom ||
                PageHeight != rowCache_.PageHeight) [[unlikely]]
                return WriteCharNewRow(c);
            const int32_t charHeight = CharHeight;
            const int32_t cellTop = (row - FirstVisibleRow) * charHeight;
            if (cellTop + charHeight <= ClientHeight) [[likely]] {
                InRegion = rowCache_.InRegion;
                const size_t offset = size_t(rowCache_.Offset + column);
                const uint8_t colors = CurrentColors();
                const uint8_t attributes = CurrentAttributes;
                // A blinking cell written during the off phase starts hidden.
                const uint8_t shown = (attributes & attrBlink) && BlinkPhase
                                          ? uint8_t((colors & 0xF0) | (colors >> 4))
                                          : colors;
                CursorColumn = column + 1;
                // Each array's pointer is read once, just before its store.
                chars_.data()[offset] = c;
                baseColors_.data()[offset] = colors;
                attrs_.data()[offset] = attributes;
                colors_.data()[offset] = shown;
                // Text arriving line by line mostly lands inside what is already to be
                // repainted; only a cell outside it extends the rectangle.
                const int32_t charWidth = CharWidth;
                const int32_t cellLeft = (column - FirstVisibleColumn) * charWidth;
                const bool covered =
                    cellLeft >= InvalidRect.Left && cellLeft + charWidth <= InvalidRect.Right &&
                    cellTop >= InvalidRect.Top && cellTop + charHeight <= InvalidRect.Bottom;
                const bool handOn = static_cast<bool>(OnWriteByte);
                // The rare rest goes out of line, last, so that nothing is kept across a call.
                if (!covered || handOn) [[unlikely]]
                    return FinishGlyph(c, cellLeft, cellTop, covered);
                return;
            }
        }
        return WriteCharSlow(c);
    }
    void bLineFeed(); // the line-feed step: next row, bUpdateBuffer, colours of the new row
    // Insert mode (IRM) goes through here, so that the inline glyph write gives way to it.
    void bSetInsertMode(bool on);
    void bUpdateBuffer();
    void bClearScreen();
    void bClearBuffer(); // the full clear: everything blank in the default colours

    // Painting bookkeeping.
    void bInvalidateChar(int column, int row);
    void bInvalidateRows(int firstRow, int lastRow); // full width, merged into the rectangle
    void bInvalidateAll();                           // whole window, rectangle cleared
    void bUpdateWindow();                            // paint what is invalid now
    void bMoveCaret();
    void bForcePaint();
    // Hands the pending vertical scroll to the window now, in the band of the scroll region as it
    // is: before the region changes, since a scroll counted in one region cannot be shown in
    // another's band.
    void bHandOverScroll();
    bool bNeedPaint() const { return InvalidRect.Bottom > InvalidRect.Top; }
    void bPostStatusMsg();
    void bSendPositionReport(uint16_t column, uint16_t row);
    void bUpdateFont(int charHeight, int charWidth);

    // View.
    void bScroll(int columns, int rows);
    void bGotoTop(bool vertical);
    void bGotoBottom(bool vertical);
    void bUpdateScrollThumb(bool vertical);
    int bConvertToRow(int y) const;
    int bConvertToCol(int x) const;

    // Selection.
    void bResetMarking();
    void bFixMarking(int column, int row);
    void bUpdateMarks(int x, int y);
    int bCurLineLength() const;

    // Tab stops, 1-based. Horizontal stops are one flag per column (as many as there are
    // columns); vertical stops a table kept sorted with empty slots first.
    static void bSortTabBuffer(uint8_t *table, int size);
    // The count-th horizontal stop after (before) column `position`; the last (first) column when
    // fewer stops lie that way, as a terminal's tab goes to the margin.
    int bGetNextTabStop(int position, int count) const;
    int bGetPrevTabStop(int position, int count) const;
    // Horizontal stops outside 1..kMaxColumns, vertical ones outside 1..255, are ignored.
    void bSetHorizontalTabStop(int column);
    void bClearHorizontalTabStop(int column);
    void bSetVerticalTabStop(int row);
    void bClearVerticalTabStop(int row);
    void bClearHorizontalTabStops();
    void bClearVerticalTabStops();
    // A stop every 8 columns, the first after column 8 (the columns 9, 17, ...).
    void bSetDefaultHorizontalTabStops();

    // Save and restore of the whole buffer. Restoring takes over the saved cells and state and
    // keeps the current window and receivers; 0, or ecBadArgument without a save. Save gives null
    // when memory runs out.
    std::unique_ptr<TBufferSnapshot> bSave();
    int bRestore(std::unique_ptr<TBufferSnapshot> saved);

    // Cells. A row pointer covers Columns cells of one logical row.
    uint8_t *CharRow(int row) { return chars_.data() + RowOffset(row); }
    uint8_t *ColorRow(int row) { return colors_.data() + RowOffset(row); }
    uint8_t *BaseColorRow(int row) { return baseColors_.data() + RowOffset(row); }
    uint8_t *AttrRow(int row) { return attrs_.data() + RowOffset(row); }
    const uint8_t *CharRow(int row) const { return chars_.data() + RowOffset(row); }
    const uint8_t *ColorRow(int row) const { return colors_.data() + RowOffset(row); }
    const uint8_t *BaseColorRow(int row) const { return baseColors_.data() + RowOffset(row); }
    const uint8_t *AttrRow(int row) const { return attrs_.data() + RowOffset(row); }
    uint8_t &CharAt(int column, int row) { return CharRow(row)[column]; }
    uint8_t &ColorAt(int column, int row) { return ColorRow(row)[column]; }
    uint8_t &BaseColorAt(int column, int row) { return BaseColorRow(row)[column]; }
    uint8_t &AttrAt(int column, int row) { return AttrRow(row)[column]; }
    std::string RowText(int row) const; // the characters of a row

    uint8_t CurrentColors() const { return uint8_t(CurrentBackground << 4 | CurrentForeground); }
    // The first row of the emulated page: the page is the PageHeight rows ending at the highest
    // row used, whatever part of it the view shows.
    int PageTop() const { return std::max(HighestRow - PageHeight + 1, 0); }
    // Blanks cells (spaces, colours into both colour arrays, attributes). BlankCells runs on
    // through the following rows and stops at the end of the buffer.
    void BlankCells(int column, int row, int count, uint8_t colors, uint8_t attributes);
    void BlankRows(int firstRow, int count, uint8_t colors, uint8_t attributes);
    // Moves rows first..last by count rows up (down); the rows pushed out of the band come in at
    // its other end with their old content, for the caller to blank.
    void RotateRowsUp(int first, int last, int count);
    void RotateRowsDown(int first, int last, int count);
    // Moves count cells of one row, in all four arrays, from column `from` to column `to`.
    void MoveCells(int row, int from, int to, int count);
    // A blanked or new line takes the current attributes but for those that would draw
    // something on a blank (an underline) or mean nothing there (the character set).
    uint8_t BlankAttributes() const
    {
        return uint8_t(CurrentAttributes & ~(attrUnderline | attrGraphics));
    }

    // Heap bytes held by the cells and the row index.
    size_t MemoryUsed() const;

  private:
    explicit TBuffer(TBufferWindow *window);

    // Bytes below 0x0E that may act rather than draw: bell and vertical tab (in the emulations),
    // backspace, line feed, carriage return.
    static constexpr uint32_t kWriteCharSpecials =
        1u << 0x07 | 1u << 0x08 | 1u << 0x0A | 1u << 0x0B | 1u << 0x0D;
    // An emulator of a type other than none is attached (plain mode writes bytes as glyphs).
    bool Emulating() const
    {
        return EmulatorContext && EmulatorRoutine && Command.EmulationType != etNone;
    }
    // The VT100's rules for the last column, insert mode and new-line mode apply.
    bool Vt100Rules() const { return Emulating() && Command.EmulationType == etVt100; }
    void StoreGlyph(uint8_t c);
    void LineFeedControl();
    void WriteCharSlow(uint8_t c);
    // The end of bWriteChar's inline case: extends the invalid rectangle by the cell when it
    // is not covered yet, and hands the byte on.
    void FinishGlyph(uint8_t c, int32_t cellLeft, int32_t cellTop, bool covered);

    // What bWriteChar derives from the cursor row, kept while the row, the page (its height and
    // the highest row used place it) and the region stay as they were. Anything that moves rows
    // in the ring forgets it.
    struct TRowCache {
        int Row = -1; // -1: nothing cached
        int HighestRow = 0;
        int RegionTop = 0;
        int RegionBottom = 0;
        int PageHeight = 0;
        int Offset = 0; // of the row's first cell
        bool InRegion = false;
    };
    void FillRowCache();
    void WriteCharNewRow(uint8_t c); // fills the cache, then writes
    void ForgetRowCache() { rowCache_.Row = -1; }
    TRowCache rowCache_;

    int RowOffset(int row) const
    {
        int slot = ringStart_ + row;
        if (slot >= Rows)
            slot -= Rows;
        return rowMap_[slot] * Columns;
    }
    void ReverseRows(int first, int last);
    void MergeInvalid(const TRect &rect);
    void KeepCursorInside();
    void RegionBounds(int &top, int &bottom) const;
    // The part of the client area a pending vertical scroll moves: the scroll region's rows where
    // the view shows them (the whole area in scrollback mode).
    TRect ScrollBand() const;
    // Moves the view down (up) by rows over content that stays in place.
    void MoveView(int rows);
    void HandOn(uint8_t c)
    {
        if (OnWriteByte)
            OnWriteByte(c);
    }

    // The columns the inline glyph write may use: Columns, or 0 while insert mode makes every
    // glyph move the rest of its row.
    int glyphColumns_ = 0;
    TBufferWindow *window_ = nullptr;
    std::vector<uint8_t> chars_;
    std::vector<uint8_t> colors_;
    std::vector<uint8_t> baseColors_;
    std::vector<uint8_t> attrs_;
    std::vector<uint16_t> rowMap_; // ring slot -> physical row
    int ringStart_ = 0;
};

// A saved buffer: cells in their ring order, the row index and the scalar state.
struct TBufferSnapshot {
    TBufferState State;
    std::vector<uint8_t> Chars, Colors, BaseColors, Attrs;
    std::vector<uint16_t> RowMap;
    int RingStart = 0;
};

} // namespace terminal
