// The screen buffer: cells, cursor rules, scrollback, scroll region, view, window requests, tab
// tables, selection and the bytes handed on as written. Cases push bytes and list the expected
// screen line by line.

#include "terminal/Buffer.h"

#include "serial/ErrorCodes.h"
#include "tests/support/BufferWindowRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace terminal;
using testsupport::BufferWindowRecorder;
using Lines = std::vector<std::string>;

namespace
{

constexpr int kCharW = 8, kCharH = 16;

// A buffer whose window shows visibleRows rows of the full width in an 8 x 16 font.
std::unique_ptr<TBuffer> MakeBuffer(int columns, int rows, int page, TBufferWindow *window,
                                    int visibleRows = -1)
{
    auto buffer = TBuffer::Create(window, 80, 25);
    EXPECT_EQ(buffer->bNewBuffer(rows, columns, page), 0);
    buffer->ClientWidth = columns * kCharW;
    buffer->ClientHeight = (visibleRows < 0 ? page : visibleRows) * kCharH;
    buffer->bUpdateFont(kCharH, kCharW);
    return buffer;
}

void Feed(TBuffer &buffer, const std::string &bytes)
{
    for (unsigned char c : bytes)
        buffer.bWriteChar(c);
}

std::string Trimmed(const TBuffer &buffer, int row)
{
    std::string text = buffer.RowText(row);
    return text.erase(text.find_last_not_of(' ') + 1);
}

Lines RowsOf(const TBuffer &buffer, int first, int count)
{
    Lines lines;
    for (int r = first; r < first + count; ++r)
        lines.push_back(Trimmed(buffer, r));
    return lines;
}

std::pair<int, int> Pair(int a, int b)
{
    return {a, b};
}

} // namespace

TEST(BufferTest, NewBufferLimits)
{
    struct Case {
        int rows, columns, page, result;
    } cases[] = {
        {200, 80, 25, 0},     {25, 133, 25, 0},     {25, 134, 25, -1002}, {24, 80, 25, -1002},
        {819, 80, 25, 0},     {820, 80, 25, -1002}, {65535, 1, 1, 0},     {1, 1, 1, 0},
        {1, 65535, 1, -1002}, {10, 0, 5, -1002},    {0, 80, 0, -1002},    {5, 13, 5, 0},
    };
    for (const Case &c : cases) {
        auto buffer = TBuffer::Create(nullptr, 10, 30);
        Feed(*buffer, "kept");
        buffer->SavedCursor = {true, 9, 29, 7, 0};
        buffer->OriginMode = buffer->ReverseScreen = buffer->CursorKeysApp = true;
        buffer->bSetInsertMode(true);
        buffer->CharSets[0] = csDecGraphics;
        buffer->CurrentAttributes = attrGraphics | attrBold;
        EXPECT_EQ(buffer->bNewBuffer(c.rows, c.columns, c.page), c.result)
            << c.rows << "x" << c.columns;
        if (c.result == 0) {
            EXPECT_EQ(buffer->CellCount, c.rows * c.columns);
            EXPECT_EQ(Trimmed(*buffer, 0), "");
            EXPECT_EQ(buffer->RegionBottom, c.page);
            EXPECT_EQ(buffer->HighestRow, c.page - 1);
            EXPECT_FALSE(buffer->SavedCursor.Saved); // it may lie outside the new cells
            // A new buffer is a terminal at start: no VT100 mode or character set carries over.
            EXPECT_FALSE(buffer->OriginMode || buffer->ReverseScreen || buffer->CursorKeysApp ||
                         buffer->InsertMode || buffer->CharSets[0] != csAscii);
            EXPECT_EQ(buffer->CurrentAttributes, attrBold);
        } else {
            EXPECT_EQ(buffer->Rows, 30);
            EXPECT_EQ(Trimmed(*buffer, 0), "kept");
        }
    }
    int result = 0;
    EXPECT_EQ(TBuffer::Create(nullptr, 134, 200, &result), nullptr);
    EXPECT_EQ(result, serial::ecBadArgument);
}

TEST(BufferTest, CreationDefaults)
{
    auto buffer = TBuffer::Create(nullptr, 80, 200);
    const TBuffer &b = *buffer;
    EXPECT_EQ(b.PageHeight, 25);
    EXPECT_EQ(Pair(b.CurrentForeground, b.CurrentBackground), Pair(7, 0));
    EXPECT_EQ(Pair(b.DefaultForeground, b.DefaultBackground), Pair(7, 0));
    EXPECT_EQ(Pair(b.HighlightForeground, b.HighlightBackground), Pair(0, 7));
    EXPECT_EQ(Pair(b.RegionTop, b.RegionBottom), Pair(1, 25));
    EXPECT_TRUE(b.InRegion);
    EXPECT_FALSE(b.SavedCursor.Saved || b.Marking || b.EmulatorRoutine);
    EXPECT_EQ(b.ColorMap[9], Rgb(255, 0, 0));
    EXPECT_EQ(b.ColorMap[7], Rgb(192, 192, 192));
    EXPECT_EQ(Pair(b.VisibleColumns, b.VisibleRows), Pair(80, 25)); // no window size yet
    buffer->bSetColors(16, 3);
    EXPECT_EQ(Pair(b.DefaultForeground, b.DefaultBackground), Pair(7, 0));
    std::vector<int> stops;
    for (int column = 1; column <= kMaxColumns; ++column)
        if (b.HorizontalTabStops[column - 1])
            stops.push_back(column);
    EXPECT_EQ(stops, (std::vector<int>{9, 17, 25, 33, 41, 49, 57, 65, 73}));
    EXPECT_EQ(std::count(b.VerticalTabs, b.VerticalTabs + 12, 0), 12);

    // A new buffer paints its page in the current background.
    buffer->bSetColors(2, 4);
    ASSERT_EQ(buffer->bNewBuffer(30, 10, 5), 0);
    EXPECT_EQ(buffer->ColorAt(9, 4), 0x44);
    EXPECT_EQ(buffer->BaseColorAt(0, 0), 0x44);
    EXPECT_EQ(buffer->ColorAt(0, 5), 0x00);
}

TEST(BufferTest, WriteCharRules)
{
    struct Case {
        std::string bytes;
        Lines rows; // first three rows
        int column, row;
    } cases[] = {
        {"AB\bC", {"AC", "", ""}, 2, 0},
        {"AB\b", {"A", "", ""}, 1, 0},
        {"\bA\b\bB", {"B", "", ""}, 1, 0},
        {"AB\r\nC", {"AB", "C", ""}, 1, 1},
        {"AB\nC", {"AB", "  C", ""}, 3, 1},
        {"ABCDE", {"ABCDE", "", ""}, 0, 1},
        {"ABCDE\r\nF", {"ABCDE", "", "F"}, 1, 2},
        {"ABCDEFG\b\b\bH", {"ABCDE", "H", ""}, 1, 1},
        {"\x1b[\a\t", {"\x1b[\a\t", "", ""}, 4, 0},
        {"X\r\r\rY", {"Y", "", ""}, 1, 0},
    };
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(5, 10, 4, nullptr);
        Feed(*buffer, c.bytes);
        EXPECT_EQ(RowsOf(*buffer, 0, 3), c.rows) << c.bytes;
        EXPECT_EQ(Pair(buffer->CursorColumn, buffer->CursorRow), Pair(c.column, c.row)) << c.bytes;
    }
}

TEST(BufferTest, CellColoursAndAttributes)
{
    struct Case {
        uint8_t attributes;
        bool phase;
        uint8_t shown;
    } cases[] = {{0, false, 0x42},
                 {attrBlink, false, 0x42},
                 {attrBlink, true, 0x44},
                 {attrReverse | attrUnderline, true, 0x42}};
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(5, 10, 4, nullptr);
        buffer->CurrentForeground = 2;
        buffer->CurrentBackground = 4;
        buffer->CurrentAttributes = c.attributes;
        buffer->BlinkPhase = c.phase;
        Feed(*buffer, "Z\bY");
        EXPECT_EQ(buffer->CharAt(0, 0), 'Y');
        EXPECT_EQ(buffer->ColorAt(0, 0), c.shown);
        EXPECT_EQ(buffer->BaseColorAt(0, 0), 0x42);
        EXPECT_EQ(buffer->AttrAt(0, 0), c.attributes);
        // A backspace erases the character only.
        Feed(*buffer, "\b");
        EXPECT_EQ(buffer->CharAt(0, 0), ' ');
        EXPECT_EQ(buffer->BaseColorAt(0, 0), 0x42);
    }
}

TEST(BufferTest, ScrollbackHoldsExactlyTheLastLines)
{
    auto buffer = MakeBuffer(80, 200, 25, nullptr);
    const int total = 10000;
    for (int i = 1; i <= total; ++i) {
        if (i > 1)
            Feed(*buffer, "\r\n");
        buffer->CurrentForeground = uint8_t(i % 16);
        buffer->CurrentBackground = uint8_t(i / 16 % 8);
        Feed(*buffer, "line " + std::to_string(i));
    }
    EXPECT_EQ(buffer->CursorRow, 199);
    EXPECT_EQ(buffer->FirstVisibleRow, 175);
    for (int row = 0; row < 200; ++row) {
        const int line = total - 199 + row;
        ASSERT_EQ(Trimmed(*buffer, row), "line " + std::to_string(line)) << row;
        const uint8_t colors = uint8_t((line / 16 % 8) << 4 | line % 16);
        ASSERT_EQ(buffer->ColorAt(0, row), colors) << row;
        ASSERT_EQ(buffer->BaseColorAt(8, row), colors) << row;
    }
}

TEST(BufferTest, ClearScreenKeepsThePageInTheScrollback)
{
    struct Case {
        int linesBefore;       // lines written before the clear
        int firstVisibleAfter; // view after the clear
        int oldPageRow;        // where the last line written ends up
        int visibleRows = 25;
        bool browsing = false; // in scrollback mode, the view on the oldest rows
    } cases[] = {
        {25, 25, 24},    // page top 0: the view advances one page
        {150, 150, 149}, // page top 125: still only advances
        {175, 175, 174}, // page top 150: the new page just fits below the old one
        {185, 175, 174}, // page top 160: the buffer scrolls up as far as the new page needs
        {400, 175, 174},
        // The new page follows the page, not the view.
        {30, 30, 29, 10},
        {30, 30, 29, 25, true},
    };
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(80, 200, 25, nullptr, c.visibleRows);
        for (int i = 1; i <= c.linesBefore; ++i)
            Feed(*buffer, (i > 1 ? "\r\nL" : "L") + std::to_string(i));
        if (c.browsing) {
            buffer->bSetScrollMode(true);
            buffer->bGotoTop(true);
        }
        buffer->CurrentBackground = 1;
        // The new page takes the rendition, but no underline drawn across blank lines.
        buffer->CurrentAttributes = attrReverse | attrUnderline;
        buffer->bClearScreen();
        EXPECT_EQ(buffer->FirstVisibleRow, c.firstVisibleAfter) << c.linesBefore;
        EXPECT_EQ(Pair(buffer->CursorColumn, buffer->CursorRow), Pair(0, c.firstVisibleAfter));
        EXPECT_EQ(Trimmed(*buffer, c.oldPageRow), "L" + std::to_string(c.linesBefore));
        for (int row = c.firstVisibleAfter; row < c.firstVisibleAfter + 25; ++row) {
            ASSERT_EQ(Trimmed(*buffer, row), "");
            ASSERT_EQ(buffer->ColorAt(79, row), 0x17);
            ASSERT_EQ(buffer->AttrAt(0, row), attrReverse);
        }
        EXPECT_GE(buffer->HighestRow, c.firstVisibleAfter + 24);
    }
}

TEST(BufferTest, FullClear)
{
    BufferWindowRecorder window;
    auto buffer = MakeBuffer(10, 40, 5, &window);
    buffer->bSetColors(3, 1);
    buffer->CurrentForeground = 9;
    for (int i = 0; i < 30; ++i)
        Feed(*buffer, "text\r\n");
    window.Take();
    buffer->bClearBuffer();
    EXPECT_EQ(Pair(buffer->CursorRow, buffer->FirstVisibleRow), Pair(0, 0));
    EXPECT_EQ(buffer->HighestRow, 4);
    EXPECT_EQ(buffer->CurrentForeground, 3);
    for (int row = 0; row < 40; ++row)
        ASSERT_EQ(Trimmed(*buffer, row) + char(buffer->ColorAt(9, row)), std::string(1, 0x13));
    EXPECT_EQ(window.Take(), (Lines{"invalidate all", "view h", "view v", "status 0101 00010001"}));
}

// Eight page rows P1..P8 on a 20-row buffer, the cursor on the region's last row, then a line
// feed and "X": lines outside the region stay where they were; the line leaving the region goes
// to the scrollback only when there is one.
TEST(BufferTest, ScrollRegion)
{
    struct Case {
        int rows, top, bottom;
        Lines page;
        std::string scrollback; // row just above the page
        std::string band;       // what the window scrolls
    } cases[] = {
        {20,
         1,
         8,
         {"P2", "P3", "P4", "P5", "P6", "P7", "P8", "X"},
         "P1",
         "scroll 0,-16 in 0,0,32,128"},
        {20,
         3,
         8,
         {"P1", "P2", "P4", "P5", "P6", "P7", "P8", "X"},
         "P3",
         "scroll 0,-16 in 0,32,32,128"},
        {20,
         1,
         5,
         {"P2", "P3", "P4", "P5", "X", "P6", "P7", "P8"},
         "P1",
         "scroll 0,-16 in 0,0,32,80"},
        {20,
         3,
         5,
         {"P1", "P2", "P4", "P5", "X", "P6", "P7", "P8"},
         "P3",
         "scroll 0,-16 in 0,32,32,80"},
        // The page is the whole buffer: the end of the buffer is reached at once.
        {8,
         1,
         8,
         {"P2", "P3", "P4", "P5", "P6", "P7", "P8", "X"},
         "",
         "scroll 0,-16 in 0,0,32,128"},
        {8,
         3,
         5,
         {"P1", "P2", "P4", "P5", "X", "P6", "P7", "P8"},
         "",
         "scroll 0,-16 in 0,32,32,80"},
    };
    for (const Case &c : cases) {
        BufferWindowRecorder window;
        auto buffer = MakeBuffer(4, c.rows, 8, &window);
        for (int i = 1; i <= 8; ++i)
            Feed(*buffer, (i > 1 ? "\r\nP" : "P") + std::to_string(i));
        buffer->RegionTop = c.top;
        buffer->RegionBottom = c.bottom;
        buffer->CursorRow = c.bottom - 1;
        buffer->CursorColumn = 0;
        buffer->bForcePaint();
        window.Take();
        Feed(*buffer, "\nX");
        const int first = buffer->FirstVisibleRow;
        EXPECT_EQ(RowsOf(*buffer, first, 8), c.page) << c.rows << " " << c.top << ".." << c.bottom;
        EXPECT_EQ(first > 0 ? Trimmed(*buffer, first - 1) : "", c.scrollback);
        EXPECT_EQ(buffer->CursorRow - first + 1, c.bottom);
        buffer->bForcePaint();
        const Lines calls = window.Take();
        const auto scroll = std::find_if(calls.begin(), calls.end(),
                                         [](const std::string &call) { return call[0] == 's'; });
        ASSERT_NE(scroll, calls.end());
        EXPECT_EQ(*scroll, c.band);
    }
}

TEST(BufferTest, WindowRequests)
{
    using Act = std::function<void(TBuffer &, BufferWindowRecorder &)>;
    // A line feed with the cursor on the given row of a 5..20 region, after 15 lines.
    const auto RegionLineFeed = [](int cursorRow) -> Act {
        return [cursorRow](TBuffer &b, BufferWindowRecorder &w) {
            b.CaretEnabled = false;
            Feed(b, std::string(15, '\n'));
            b.RegionTop = 5;
            b.RegionBottom = 20;
            b.CursorRow = cursorRow;
            b.bForcePaint();
            w.Take();
            Feed(b, "\n");
            b.bForcePaint();
        };
    };
    struct Case {
        const char *name;
        int visibleRows;
        Act act;
        Lines calls;
    } cases[] = {
        {"cells merge into one rectangle",
         25,
         [](TBuffer &b, BufferWindowRecorder &) {
             Feed(b, "AB\r\n C");
             b.bForcePaint();
         },
         {"caret 0,0", "caret 0,16", "invalidate 0,0,16,32", "update", "status 0302 00010001"}},
        {"a line feed on the last page row scrolls the page",
         25,
         [](TBuffer &b, BufferWindowRecorder &) {
             b.CaretEnabled = false;
             Feed(b, std::string(25, '\n'));
             b.bForcePaint();
         },
         {"used rows", "scroll 0,-16 in 0,0,640,400", "invalidate 0,368,640,400 erase", "view v",
          "update", "status 0119 00010002"}},
        {"the view follows the cursor below a short window",
         10,
         [](TBuffer &b, BufferWindowRecorder &) {
             b.CaretEnabled = false;
             Feed(b, std::string(15, '\n'));
             b.bForcePaint();
         },
         {"scroll 0,-96 in 0,0,640,160", "invalidate 0,48,640,160 erase", "view v", "update",
          "status 0110 00010007"}},
        // The region's band where the view shows it; a view move it cannot carry repaints all.
        {"a region scrolls where a short window shows it",
         10,
         RegionLineFeed(19),
         {"used rows", "scroll 0,-80 in 0,0,640,160", "invalidate 0,64,640,160 erase", "view v",
          "update", "status 0114 0001000c"}},
        {"the view follows the cursor below a region",
         10,
         RegionLineFeed(22),
         {"invalidate all", "scroll 0,-128 in 0,0,640,96", "invalidate 0,0,640,96 erase", "view v",
          "update", "status 0118 0001000f"}},
        {"normal mode scrolls the view within the page only",
         10,
         [](TBuffer &b, BufferWindowRecorder &w) {
             b.CaretEnabled = false;
             Feed(b, std::string(40, '\n'));
             b.bForcePaint();
             w.Take();
             b.bScroll(0, -20); // stops at the page's top row, 16
             b.bScroll(0, 25);  // a page down: to the bottom of the page
             b.bScroll(0, -25); // a page up: to its top
         },
         {"view h", "view v", "scroll 0,240 in 0,0,640,160", "view v", "update",
          "status 0119 00010011", "view h", "view v", "scroll 0,-240 in 0,0,640,160",
          "invalidate 0,0,640,160 erase", "view v", "update", "status 0119 00010020", "view h",
          "view v", "scroll 0,240 in 0,0,640,160", "view v", "update", "status 0119 00010011"}},
        {"scrollback mode",
         25,
         [](TBuffer &b, BufferWindowRecorder &w) {
             b.CaretEnabled = false;
             Feed(b, std::string(40, '\n'));
             b.bForcePaint();
             b.bSetScrollMode(true);
             w.Take();
             Feed(b, "\n");
             b.bScroll(0, -20);
             b.bGotoTop(true);
         },
         {"used rows", "view h", "view v", "scroll 0,256 in 0,0,640,400", "view v", "update",
          "status 0000 00010001", "invalidate all", "view v", "status 0000 00010001"}},
        {"clear screen",
         25,
         [](TBuffer &b, BufferWindowRecorder &) { b.bClearScreen(); },
         {"invalidate all", "update", "used rows", "view v", "caret 0,0"}},
        {"horizontal view",
         25,
         [](TBuffer &b, BufferWindowRecorder &) {
             b.VisibleColumns = 60;
             b.bScroll(50, 0);
             b.bGotoTop(false);
         },
         {"view h", "view v", "scroll -160,0 in 0,0,640,400", "view h", "update",
          "status 0101 00150001", "invalidate all", "view h", "status 0101 00010001"}},
    };
    for (const Case &c : cases) {
        BufferWindowRecorder window;
        auto buffer = MakeBuffer(80, 200, 25, &window, c.visibleRows);
        buffer->CaretEnabled = true;
        window.Take();
        c.act(*buffer, window);
        EXPECT_EQ(window.Take(), c.calls) << c.name;
    }
}

TEST(BufferTest, TabTables)
{
    struct SortCase {
        std::vector<uint8_t> before, after;
    } sorts[] = {
        {{5, 0, 3, 3, 0, 9}, {0, 0, 0, 3, 5, 9}},
        {{9, 8, 7, 6}, {6, 7, 8, 9}},
        {{4, 4, 4, 4}, {0, 0, 0, 4}},
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (SortCase &c : sorts) {
        TBuffer::bSortTabBuffer(c.before.data(), int(c.before.size()));
        EXPECT_EQ(c.before, c.after);
    }

    auto buffer = TBuffer::Create(nullptr, 80, 200);
    TBuffer &b = *buffer;
    struct StopCase {
        bool next;
        int position, count, stop;
    } stops[] = {
        {true, 0, 1, 9},   {true, 9, 1, 17},  {true, 0, 3, 25},  {true, 70, 1, 73},
        {true, 70, 2, 80}, {true, 75, 1, 80}, {true, 80, 1, 80}, {false, 20, 1, 17},
        {false, 20, 2, 9}, {false, 20, 5, 1}, {false, 5, 1, 1},  {false, 81, 1, 73},
    };
    for (const StopCase &c : stops)
        EXPECT_EQ(c.next ? b.bGetNextTabStop(c.position, c.count)
                         : b.bGetPrevTabStop(c.position, c.count),
                  c.stop)
            << c.next << " " << c.position << " " << c.count;
    b.bSetHorizontalTabStop(200); // beyond any buffer: ignored
    b.bClearHorizontalTabStop(9);
    b.bSetHorizontalTabStop(3);
    EXPECT_EQ(b.bGetNextTabStop(1, 2), 17);
    for (int row : {5, 2, 5, 300, 0, 9})
        b.bSetVerticalTabStop(row);
    b.bClearVerticalTabStop(9);
    EXPECT_EQ(std::vector<uint8_t>(b.VerticalTabs + 9, b.VerticalTabs + 12),
              (std::vector<uint8_t>{0, 2, 5}));
}

TEST(BufferTest, SelectionAndCells)
{
    auto buffer = MakeBuffer(80, 200, 25, nullptr);
    TBuffer &b = *buffer;
    b.FirstVisibleRow = 10;
    b.FirstVisibleColumn = 4;
    struct Convert {
        int pixel, row, column;
    } converts[] = {{-5, 10, 4}, {0, 10, 4},  {1, 10, 4},  {8, 10, 4}, {15, 10, 5},
                    {16, 10, 5}, {17, 11, 6}, {32, 11, 7}, {33, 12, 8}};
    for (const Convert &c : converts) {
        EXPECT_EQ(b.bConvertToRow(c.pixel), c.row) << c.pixel;
        EXPECT_EQ(b.bConvertToCol(c.pixel), c.column) << c.pixel;
    }

    struct Mark {
        int column, row;
        int startColumn, startRow, endColumn, endRow;
    } marks[] = {
        {9, 5, 5, 5, 9, 5},   {2, 6, 5, 5, 2, 6}, {2, 5, 2, 5, 5, 5},
        {70, 4, 70, 4, 5, 5}, {5, 5, 5, 5, 5, 5}, // back on the anchor: its cell alone
    };
    b.AnchorColumn = 5;
    b.AnchorRow = 5;
    for (const Mark &m : marks) {
        b.bFixMarking(m.column, m.row);
        EXPECT_EQ(std::vector<int>({b.StartColumn, b.StartRow, b.EndColumn, b.EndRow}),
                  std::vector<int>({m.startColumn, m.startRow, m.endColumn, m.endRow}))
            << m.column << "," << m.row;
    }
    // Pointer positions outside the client area select the nearest cell that exists.
    b.Marking = true;
    b.FirstVisibleRow = 190;
    b.FirstVisibleColumn = 0;
    b.ClientHeight = 30 * kCharH;
    b.ClientWidth = 90 * kCharW;
    b.AnchorColumn = b.AnchorRow = 0;
    b.bUpdateMarks(5000, 5000);
    EXPECT_EQ(Pair(b.EndColumn, b.EndRow), Pair(79, 199));
    b.bResetMarking();
    EXPECT_FALSE(b.Marking || b.MarkValid || b.EndRow || b.AnchorRow);

    struct Length {
        std::string text;
        int length;
    } lengths[] = {{"", 0}, {"a", 1}, {"  a  b   ", 6}, {std::string(80, 'x'), 80}};
    for (const Length &l : lengths) {
        b.BlankRows(3, 1, 7, 0);
        b.CursorRow = 3;
        b.CursorColumn = 0;
        Feed(b, l.text);
        b.CursorRow = 3;
        EXPECT_EQ(b.bCurLineLength(), l.length) << l.text;
    }
}

TEST(BufferTest, RowRingMovesBands)
{
    struct Case {
        bool up;
        int first, last, count;
        std::string order; // first letters of the rows afterwards
    } cases[] = {
        {true, 0, 7, 1, "BCDEFGHA"}, {true, 0, 6, 2, "CDEFGABH"},   {true, 0, 1, 1, "BACDEFGH"},
        {true, 2, 5, 1, "ABDEFCGH"}, {false, 2, 7, 3, "ABFGHCDE"},  {false, 0, 7, 9, "HABCDEFG"},
        {true, 3, 3, 1, "ABCDEFGH"}, {true, -4, 20, 0, "ABCDEFGH"},
    };
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(2, 8, 8, nullptr);
        buffer->RotateRowsUp(0, 7, 3); // start from a turned ring
        for (int row = 0; row < 8; ++row)
            buffer->CharAt(0, row) = uint8_t('A' + row);
        c.up ? buffer->RotateRowsUp(c.first, c.last, c.count)
             : buffer->RotateRowsDown(c.first, c.last, c.count);
        std::string order;
        for (int row = 0; row < 8; ++row)
            order += char(buffer->CharAt(0, row));
        EXPECT_EQ(order, c.order) << c.up << " " << c.first << ".." << c.last << " " << c.count;
    }
}

TEST(BufferTest, Limits)
{
    // A 1 x 1 buffer, the widest buffer and the largest one keep the cursor inside.
    struct Case {
        int columns, rows, page;
    } cases[] = {{1, 1, 1}, {133, 492, 25}, {1, 65535, 1}, {133, 25, 25}};
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(c.columns, c.rows, c.page, nullptr);
        const int corners[][2] = {
            {0, 0}, {c.columns - 1, 0}, {0, c.rows - 1}, {c.columns - 1, c.rows - 1}};
        for (const auto &corner : corners) {
            for (const char *bytes : {"A", "\b", "\n", "\r", "AB\r\n\b\bC"}) {
                buffer->CursorColumn = corner[0];
                buffer->CursorRow = corner[1];
                buffer->FirstVisibleRow = std::max(corner[1] - c.page + 1, 0);
                Feed(*buffer, bytes);
                ASSERT_LT(buffer->CursorColumn, c.columns);
                ASSERT_LT(buffer->CursorRow, c.rows);
                ASSERT_LE(buffer->FirstVisibleRow, buffer->CursorRow);
            }
        }
        const int first = buffer->FirstVisibleRow;
        buffer->bClearScreen();
        EXPECT_EQ(buffer->FirstVisibleRow,
                  2 * c.page + first < c.rows ? first + c.page : c.rows - c.page);
    }
    // In a one-row buffer the wrap after the only cell scrolls it out at once.
    auto buffer = MakeBuffer(1, 1, 1, nullptr);
    Feed(*buffer, "ABC");
    EXPECT_EQ(buffer->RowText(0), " ");
}

TEST(BufferTest, SaveAndRestore)
{
    BufferWindowRecorder window;
    auto buffer = MakeBuffer(10, 60, 5, &window);
    std::string handedOn;
    buffer->OnWriteByte = [&](uint8_t c) { handedOn += char(c); };
    for (int i = 0; i < 70; ++i)
        Feed(*buffer, "\r\nline" + std::to_string(i));
    buffer->bClearHorizontalTabStops();
    buffer->bSetHorizontalTabStop(3);
    const Lines rows = RowsOf(*buffer, 0, 60);
    auto saved = buffer->bSave();
    ASSERT_TRUE(saved);

    Feed(*buffer, "\r\nnot kept");
    buffer->bClearBuffer();
    buffer->bNewBuffer(30, 20, 10);
    EXPECT_EQ(buffer->bRestore(std::move(saved)), 0);
    EXPECT_EQ(RowsOf(*buffer, 0, 60), rows);
    EXPECT_EQ(Pair(buffer->CursorColumn, buffer->CursorRow), Pair(6, 59));
    EXPECT_EQ(buffer->Window(), &window);
    EXPECT_EQ(Pair(buffer->bGetNextTabStop(0, 1), buffer->bGetNextTabStop(3, 1)), Pair(3, 10));
    // The receiver of written bytes stays with the buffer.
    handedOn.clear();
    Feed(*buffer, "!");
    EXPECT_EQ(handedOn, "!");
}

// A glyph lands in the cursor's logical row, and the region test follows, whatever moved the
// rows or changed the region since the previous glyph on the same row.
TEST(BufferTest, WriteFollowsRowAndRegionChanges)
{
    std::unique_ptr<TBufferSnapshot> saved;
    struct Case {
        const char *name;
        std::function<void(TBuffer &)> between;
        bool inRegion;
    } cases[] = {
        {"rotate up", [](TBuffer &b) { b.RotateRowsUp(0, 7, 1); }, true},
        {"rotate band down", [](TBuffer &b) { b.RotateRowsDown(2, 5, 1); }, true},
        {"new buffer", [](TBuffer &b) { EXPECT_EQ(b.bNewBuffer(8, 4, 8), 0); }, true},
        {"restore", [&](TBuffer &b) { EXPECT_EQ(b.bRestore(std::move(saved)), 0); }, true},
        {"region", [](TBuffer &b) { b.RegionTop = 5, b.RegionBottom = 8; }, false},
    };
    for (const Case &c : cases) {
        auto buffer = MakeBuffer(4, 8, 8, nullptr);
        buffer->RotateRowsUp(0, 7, 3); // a turned ring
        saved = buffer->bSave();
        buffer->RotateRowsUp(0, 7, 2); // turned further, so every case moves the rows
        buffer->CursorRow = 3;
        Feed(*buffer, "a");
        c.between(*buffer);
        buffer->CursorColumn = 1;
        buffer->CursorRow = 3;
        Feed(*buffer, "b");
        EXPECT_EQ(buffer->CharAt(1, 3), 'b') << c.name;
        EXPECT_EQ(buffer->InRegion, c.inRegion) << c.name;
    }
}
