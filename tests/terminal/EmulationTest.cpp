// Conformance of the terminal emulation: byte strings pushed through bProcessChar of an 80 x 200
// buffer with a 25-row page, and what the page, the cursor, the cells, the replies to the host and
// the window got.

#include "terminal/ApdEmulator.h"
#include "terminal/Buffer.h"
#include "tests/support/BufferWindowRecorder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace terminal;

namespace
{

// A terminal as the window sets it up: 8 x 16 pixel cells, the whole page visible.
struct Terminal {
    explicit Terminal(uint8_t type, int columns = 80, int rows = 200)
    {
        Buffer = TBuffer::Create(&Window, columns, rows);
        Buffer->OnHostReply = [this](const uint8_t *bytes, size_t count) {
            Replies.append(reinterpret_cast<const char *>(bytes), count);
        };
        Buffer->ClientWidth = columns * 8;
        Buffer->ClientHeight = Buffer->PageHeight * 16;
        Buffer->bUpdateFont(16, 8);
        Emulator.SetEmulationType(type);
        if (type != etNone) {
            Buffer->EmulatorContext = &Emulator;
            Buffer->EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
        }
    }
    void Feed(const std::string &bytes)
    {
        for (unsigned char c : bytes)
            Buffer->bProcessChar(c);
    }
    std::string Row(int row) const
    {
        std::string text = Buffer->RowText(row);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }

    testsupport::BufferWindowRecorder Window;
    std::string Replies; // what the terminal answered the host
    TApdCustomEmulator Emulator;
    std::unique_ptr<TBuffer> Buffer;
};

constexpr int kAny = -1;

struct Cell {
    int Column;  // 0-based
    int PageRow; // 1-based
    int Colors;  // background << 4 | foreground
    int Attributes;
};

struct ScreenCase {
    const char *Name;
    uint8_t Type;
    std::string Bytes;
    std::vector<std::string> Page; // page rows from the top; the rest of the page must be blank
    int CursorColumn = kAny;       // 0-based
    int CursorPageRow = kAny;      // 1-based
    std::vector<Cell> Cells = {};
    std::string Reply = "";
    std::vector<std::string> Reports = {}; // position reports and bells the window got
    int FirstVisibleRow = 0;
    std::vector<std::pair<int, std::string>> BufferRows = {}; // rows outside the page
};

void PrintTo(const ScreenCase &c, std::ostream *os)
{
    *os << c.Name;
}

class ScreenTable : public ::testing::TestWithParam<ScreenCase>
{
};

TEST_P(ScreenTable, ShowsWhatTheHostSent)
{
    const ScreenCase &c = GetParam();
    Terminal t(c.Type);
    t.Feed(c.Bytes);
    TBuffer &b = *t.Buffer;

    EXPECT_EQ(b.FirstVisibleRow, c.FirstVisibleRow);
    for (int i = 0; i < b.PageHeight; ++i) {
        const std::string expected = i < int(c.Page.size()) ? c.Page[i] : "";
        EXPECT_EQ(t.Row(b.FirstVisibleRow + i), expected) << "page row " << i + 1;
    }
    for (const auto &[row, text] : c.BufferRows)
        EXPECT_EQ(t.Row(row), text) << "buffer row " << row;
    if (c.CursorColumn != kAny) {
        EXPECT_EQ(b.CursorColumn, c.CursorColumn);
    }
    if (c.CursorPageRow != kAny) {
        EXPECT_EQ(b.CursorRow - b.FirstVisibleRow + 1, c.CursorPageRow);
    }
    for (const Cell &cell : c.Cells) {
        const int row = b.FirstVisibleRow + cell.PageRow - 1;
        EXPECT_EQ(b.ColorAt(cell.Column, row), cell.Colors)
            << "cell " << cell.Column << "," << cell.PageRow;
        EXPECT_EQ(b.BaseColorAt(cell.Column, row), cell.Colors)
            << "cell " << cell.Column << "," << cell.PageRow;
        EXPECT_EQ(b.AttrAt(cell.Column, row), cell.Attributes)
            << "cell " << cell.Column << "," << cell.PageRow;
    }
    EXPECT_EQ(t.Replies, c.Reply);
    std::vector<std::string> reports;
    for (const std::string &call : t.Window.Calls)
        if (call.rfind("report ", 0) == 0 || call == "bell")
            reports.push_back(call);
    EXPECT_EQ(reports, c.Reports);
}

std::string Name(const ::testing::TestParamInfo<ScreenCase> &param)
{
    return param.param.Name;
}

const std::string E = "\x1b";
const std::string Digits80 = [] {
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += "0123456789";
    return s;
}();
// A page given by its non-blank rows (1-based).
std::vector<std::string> Sparse(const std::vector<std::pair<int, std::string>> &rows)
{
    std::vector<std::string> page;
    for (const auto &[row, text] : rows) {
        if (int(page.size()) < row)
            page.resize(row);
        page[row - 1] = text;
    }
    return page;
}
std::string Spaces(int n)
{
    return std::string(n, ' ');
}
std::string Lines(int count)
{
    std::string s;
    for (int i = 1; i <= count; ++i)
        s += "line" + std::to_string(i) + "\r\n";
    return s;
}

const ScreenCase kPlain[] = {
    {"BackspaceOverwrites", etNone, "A\bB", {"B"}, 1, 1},
    {"BackspaceErases", etNone, "AB\b", {"A"}, 1, 1},
    {"BellIsAGlyph", etNone, "a\ab", {"a\ab"}, 3, 1},
    {"EscapeIsAGlyph", etNone, "a" + E + "[Hb", {"a" + E + "[Hb"}, 5, 1},
    {"NulIsDropped", etNone, std::string("x\0y", 3), {"xy"}, 2, 1},
    {"FormFeedIsAGlyph", etNone, "a\fb", {"a\fb"}, 3, 1},
    {"TabIsAGlyph", etNone, "a\tb", {"a\tb"}, 3, 1},
    {"WrapAfterLastColumn", etNone, Digits80 + "y", {Digits80, "y"}, 1, 2},
};
INSTANTIATE_TEST_SUITE_P(PlainMode, ScreenTable, ::testing::ValuesIn(kPlain), Name);

const ScreenCase kCursor[] = {
    {"HomeToFirstVisibleCell", etAnsi, "abc" + E + "[HX", {"Xbc"}, 1, 1},
    {"RowAndColumn", etAnsi, E + "[5;10HZ", {"", "", "", "", "         Z"}, 10, 5},
    {"AddressStaysOnPage", etAnsi, E + "[99;99H", {}, 79, 25},
    {"UpAndLeft", etAnsi, E + "[10;10H" + E + "[3A" + E + "[2Da", Sparse({{7, Spaces(7) + "a"}}), 8,
     7},
    {"UpStopsAtTop", etAnsi, E + "[3;1H" + E + "[9Au", {"u"}, 1, 1},
    {"RightStopsAtLastColumn", etAnsi, E + "[200C", {}, 79, 1},
    {"LeftStopsAtFirstColumn", etAnsi, "abc" + E + "[9DX", {"Xbc"}, 1, 1},
    {"DownStopsAtPageBottom", etAnsi, E + "[40B", {}, 0, 25},
    // Also with the buffer's end reached: the count is clamped, not refused.
    {"DownStopsAtPageBottomAfterHistory",
     etAnsi,
     Lines(300) + E + "[5;1H" + E + "[999Bd",
     [] {
         std::vector<std::string> page;
         for (int i = 277; i <= 300; ++i)
             page.push_back("line" + std::to_string(i));
         page.push_back("d");
         return page;
     }(),
     1,
     25,
     {},
     "",
     {},
     175},
    {"NextAndPreviousLine",
     etAnsi,
     E + "[3;5H" + E + "[2En" + E + "[Fp",
     {"", "", "", "p", "n"},
     1,
     4},
    {"ColumnAndRow", etAnsi, E + "[20G" + E + "[7dg", Sparse({{7, Spaces(19) + "g"}}), 20, 7},
    {"SaveRestore",
     etAnsi,
     E + "[5;5H" + E + "[s" + E + "[10;10H" + E + "[ur",
     {"", "", "", "", "    r"},
     5,
     5},
    // The saved row counts from the page's top: after a scroll the restore stays on the page.
    {"RestoreAfterScrollStaysOnPage",
     etAnsi,
     "top" + E + "[5;5H" + E + "[s" + E + "[25;1H\n\n\n" + E + "[ur",
     Sparse({{5, "    r"}}),
     5,
     5,
     {},
     "",
     {},
     3,
     {{0, "top"}}},
    {"Vt100RestoreAfterScrollStaysOnPage",
     etVt100,
     E + "[5;5H" + E + "7" + E + "[25;1H\n\n\n" + E + "8r",
     Sparse({{5, "    r"}}),
     5,
     5,
     {},
     "",
     {},
     3},
    {"AnsiRestoreWithoutSaveHomesAndResets",
     etAnsi,
     E + "[31m" + E + "[10;10H" + E + "[uz",
     {"z"},
     1,
     1,
     {{0, 1, 0x07, 0}}},
    {"Vt100RestoreWithoutSaveStays", etVt100, E + "[3;3H" + E + "8z", {"", "", "  z"}, 3, 3},
    {"IndexAndNextLine", etAnsi, "ab" + E + "Dc" + E + "Ed", {"ab", "  c", "d"}, 1, 3},
    {"NextLineAtBottomScrolls",
     etAnsi,
     "top" + E + "[25;1Hlast" + E + "Enext",
     Sparse({{24, "last"}, {25, "next"}}),
     4,
     25,
     {},
     "",
     {},
     1,
     {{0, "top"}}},
};
INSTANTIATE_TEST_SUITE_P(CursorMovement, ScreenTable, ::testing::ValuesIn(kCursor), Name);

// A terminal's backspace only moves left; its bell rings and leaves no trace on the screen.
const ScreenCase kControls[] = {
    {"BackspaceOnlyMoves", etAnsi, "abc\b\bX", {"aXc"}, 2, 1},
    {"BellRings", etVt100, "a\ab", {"ab"}, 2, 1, {}, "", {"bell"}},
    {"Vt52BellRings", etVt52, "\a", {}, 0, 1, {}, "", {"bell"}},
};
INSTANTIATE_TEST_SUITE_P(Controls, ScreenTable, ::testing::ValuesIn(kControls), Name);

const ScreenCase kErase[] = {
    {"LineToEnd", etAnsi, "abcdef" + E + "[1;3H" + E + "[K", {"ab"}, 2, 1},
    {"LineToEndStaysInRow", etAnsi, "abc\r\ndef" + E + "[1;2H" + E + "[K", {"a", "def"}},
    {"LineToCursor", etAnsi, "abcdef" + E + "[1;3H" + E + "[1K", {"   def"}},
    {"WholeLine", etVt100, "abcdef" + E + "[2K", {}},
    {"DisplayToEnd", etAnsi, "abc\r\ndef\r\nghi" + E + "[2;2H" + E + "[J", {"abc", "d"}},
    {"DisplayToCursorKeepsScrollback",
     etAnsi,
     Lines(30) + "abc\r\ndef" + E + "[24;2H" + E + "[1J",
     Sparse({{24, "  c"}, {25, "def"}}),
     kAny,
     kAny,
     {},
     "",
     {},
     7,
     {{6, "line7"}, {0, "line1"}}},
    {"ClearScreenKeepsOldPage",
     etAnsi,
     "old" + E + "[2Jnew",
     {"new"},
     3,
     1,
     {},
     "",
     {},
     25,
     {{0, "old"}}},
    {"FormFeedClears", etVt100, "old\fnew", {"new"}, 3, 1, {}, "", {}, 25, {{0, "old"}}},
    {"EraseCharacters", etAnsi, "abcdef" + E + "[1;2H" + E + "[3X", {"a   ef"}},
    {"EraseCharactersRunsOn",
     etAnsi,
     Digits80 + "abc" + E + "[1;79H" + E + "[4X",
     {Digits80.substr(0, 78), "  c"}},
    // With reverse on, a Y = 1 erase (ANSI EL) blanks in the normal background, an ED of the
    // ANSI table (Y = 0) in the current, reversed colours.
    {"ReverseEraseLine",
     etAnsi,
     E + "[7mab" + E + "[1;1H" + E + "[K",
     {},
     kAny,
     kAny,
     {{0, 1, 0x00, 0}, {5, 1, 0x00, 0}}},
    {"ReverseEraseDisplayAnsi",
     etAnsi,
     E + "[7mab" + E + "[1;1H" + E + "[J",
     {},
     kAny,
     kAny,
     {{0, 1, 0x70, 0}, {5, 2, 0x70, 0}}},
    {"ColouredEraseUsesCurrent",
     etAnsi,
     E + "[44mab" + E + "[1;1H" + E + "[K",
     {},
     kAny,
     kAny,
     {{0, 1, 0x47, 0}}},
};
INSTANTIATE_TEST_SUITE_P(Erase, ScreenTable, ::testing::ValuesIn(kErase), Name);

const ScreenCase kInsertDelete[] = {
    {"InsertCharacters", etAnsi, "abcdef" + E + "[1;2H" + E + "[2@", {"a  bcdef"}, 1, 1},
    {"InsertPushesPastEnd",
     etAnsi,
     Digits80 + E + "[1;1H" + E + "[5@",
     {"     " + Digits80.substr(0, 75)}},
    {"DeleteCharacters", etAnsi, "abcdef" + E + "[1;2H" + E + "[2P", {"adef"}, 1, 1},
    {"DeleteMoreThanRow", etAnsi, "abcdef" + E + "[1;2H" + E + "[200P", {"a"}},
    {"InsertLine", etAnsi, "r1\r\nr2\r\nr3" + E + "[2;1H" + E + "[L", {"r1", "", "r2", "r3"}},
    {"DeleteLines", etVt100, "r1\r\nr2\r\nr3" + E + "[1;1H" + E + "[2M", {"r3"}},
    {"DeleteAllLines", etAnsi, "r1\r\nr2" + E + "[1;1H" + E + "[250M", {}},
    {"InsertLoosesPageBottom",
     etAnsi,
     E + "[24;1Hy\r\nx" + E + "[24;1H" + E + "[L",
     Sparse({{25, "y"}}),
     kAny,
     kAny,
     {},
     "",
     {},
     0,
     {{25, ""}}},
    {"ReverseIndexIsRecognised", etAnsi, "ab" + E + "Mc", {"abc"}},
};
INSTANTIATE_TEST_SUITE_P(InsertDelete, ScreenTable, ::testing::ValuesIn(kInsertDelete), Name);

const ScreenCase kRegion[] = {
    // The line leaving the region goes to the scrollback just above the page.
    {"LineFeedScrollsRegion",
     etVt100,
     E + "[2;4ra\r\nb\r\nc\r\nd\r\ne",
     {"a", "c", "d", "e"},
     1,
     4,
     {},
     "",
     {},
     1,
     {{0, "b"}}},
    {"UpStopsAtRegionTop",
     etVt100,
     E + "[5;10r" + E + "[7;1H" + E + "[10Au",
     {"", "", "", "", "u"}},
    {"DownStopsAtRegionBottom",
     etVt100,
     E + "[5;10r" + E + "[7;1H" + E + "[10Bd",
     {"", "", "", "", "", "", "", "", "", "d"}},
    {"SettingHomesCursor", etVt100, E + "[5;5H" + E + "[3;9rh", {"h"}, 1, 1},
    {"InvalidRegionRefused", etVt100, E + "[3;3H" + E + "[10;5r" + E + "[30B", {}, 2, 25},
    {"BareRegionIsWholePage",
     etVt100,
     E + "[5;10r" + E + "[r" + E + "[7;1H" + E + "[30B",
     {},
     0,
     25},
    // Below the region a line feed moves down to the page's last row and no further; the page
    // stays where it is, also near the buffer's end.
    {"LineFeedBelowRegionKeepsPage", etVt100, E + "[5;20r" + E + "[25H\n" + E + "[Hx", {"x"}},
    {"LineFeedBelowRegionNearBufferEnd",
     etVt100,
     Lines(196) + E + "[1;20r" + E + "[23H\nx",
     [] {
         std::vector<std::string> page;
         for (int i = 173; i <= 195; ++i)
             page.push_back("line" + std::to_string(i));
         page.push_back("xine196");
         return page;
     }(),
     1,
     24,
     {},
     "",
     {},
     172},
    {"DeleteLineInsideRegion",
     etVt100,
     "r1\r\nr2\r\nr3\r\nr4\r\nr5" + E + "[2;4r" + E + "[2;1H" + E + "[M",
     {"r1", "r3", "r4", "", "r5"}},
    {"InsertLineInsideRegion",
     etVt100,
     "r1\r\nr2\r\nr3\r\nr4\r\nr5" + E + "[2;4r" + E + "[3;1H" + E + "[L",
     {"r1", "r2", "", "r3", "r5"}},
};
INSTANTIATE_TEST_SUITE_P(ScrollRegion, ScreenTable, ::testing::ValuesIn(kRegion), Name);

const ScreenCase kTabs[] = {
    {"DefaultStops", etAnsi, "\tx\ty", {"        x       y"}, 17, 1},
    {"SetStopIsWhereTabLands", etAnsi, E + "[1;4H" + E + "H" + E + "[1;1H\tx", {"   x"}},
    {"ClearStop", etAnsi, E + "[1;9H" + E + "[0g" + E + "[1;1H\tx", {Spaces(16) + "x"}},
    {"ClearAll", etAnsi, E + "[1;4H" + E + "H" + E + "[3g" + E + "[1;1H\tx", {Spaces(79) + "x"}},
    {"Backward",
     etAnsi,
     E + "[1;20H" + E + "[Zb" + E + "[1;20H" + E + "[2Zc" + E + "[9Zd",
     {"d" + Spaces(7) + "c" + Spaces(7) + "b"}},
    {"ForwardCount", etAnsi, E + "[2If", {Spaces(16) + "f"}},
    {"NoStopAheadGoesToLastColumn", etAnsi, E + "[1;75H\tt", {Spaces(79) + "t"}, 0, 2},
    // A stop on every third column: more stops than any fixed table of 25 held.
    {"StopOnEveryColumn",
     etAnsi,
     E + "[3g" +
         [] {
             std::string s;
             for (int column = 3; column <= 78; column += 3)
                 s += "\x1b[1;" + std::to_string(column) + "H\x1bH";
             return s + "\x1b[1;1H" + std::string(26, '\t') + "*";
         }(),
     {Spaces(77) + "*"}},
    {"Justify", etAnsi, "abcd" + E + "[1;3H" + E + "I", {"ab      cd"}, 8, 1},
    {"VerticalStop",
     etAnsi,
     E + "[5;1H" + E + "J" + E + "[1;1H" + E + "[Yv",
     {"", "", "", "", "v"}},
    {"TabControl",
     etAnsi,
     E + "[1;4H" + E + "[0W" + E + "[1;1H\tx" + E + "[5W\ty",
     {"   x" + Spaces(75) + "y"}},
};
INSTANTIATE_TEST_SUITE_P(Tabs, ScreenTable, ::testing::ValuesIn(kTabs), Name);

const ScreenCase kColours[] = {
    {"BoldRedIsBright", etAnsi, E + "[1;31mR", {"R"}, kAny, kAny, {{0, 1, 0x09, 0x04}}},
    {"AnsiKeepsBold", etAnsi, E + "[1;31m" + E + "[4mU", {"U"}, kAny, kAny, {{0, 1, 0x09, 0x14}}},
    // Without bold the chosen colour shows as it was chosen.
    {"Vt100DropsBold", etVt100, E + "[1;31m" + E + "[4mU", {"U"}, kAny, kAny, {{0, 1, 0x01, 0x10}}},
    {"NormalIntensityRestoresColour",
     etAnsi,
     E + "[1;31mB" + E + "[22mN",
     {"BN"},
     kAny,
     kAny,
     {{0, 1, 0x09, 0x04}, {1, 1, 0x01, 0}}},
    {"EmptyParameterResetsInPlace",
     etAnsi,
     E + "[32;1;4;;4;7mE",
     {"E"},
     kAny,
     kAny,
     {{0, 1, 0x70, 0x12}}},
    {"ExtendedColoursTouchNothingElse",
     etVt100,
     E + "[38;5;208;48;2;0;0;250mX",
     {"X"},
     kAny,
     kAny,
     {{0, 1, 0xCB, 0}}},
    {"ReverseSwaps", etAnsiBbs, E + "[7;33;41mV", {"V"}, kAny, kAny, {{0, 1, 0x31, 0x02}}},
    {"ResetToDefaults",
     etAnsi,
     E + "[32;44mG" + E + "[mN",
     {"GN"},
     kAny,
     kAny,
     {{0, 1, 0x42, 0}, {1, 1, 0x07, 0}}},
    {"BlinkStored", etAnsi, E + "[5;32mB", {"B"}, kAny, kAny, {{0, 1, 0x02, 0x01}}},
};
INSTANTIATE_TEST_SUITE_P(Colours, ScreenTable, ::testing::ValuesIn(kColours), Name);

const ScreenCase kReplies[] = {
    {"PositionReport", etAnsi, E + "[5;10H" + E + "[6n", {}, 9, 5, {}, E + "[5;10R"},
    {"PositionReportIsPageRelative",
     etAnsi,
     Lines(30) + "ab" + E + "[6n",
     {"line7",  "line8",  "line9",  "line10", "line11", "line12", "line13", "line14", "line15",
      "line16", "line17", "line18", "line19", "line20", "line21", "line22", "line23", "line24",
      "line25", "line26", "line27", "line28", "line29", "line30", "ab"},
     2,
     25,
     {},
     E + "[25;3R",
     {},
     6},
    {"OtherStatusRequestsUnanswered", etAnsi, E + "[5n" + E + "[n", {}, kAny, kAny, {}, ""},
    {"Vt100Identify", etVt100, E + "Z", {}, 0, 1, {}, E + "[?1;0c"},
    {"Vt100DeviceAttributes",
     etVt100,
     E + "[c" + E + "[0c",
     {},
     0,
     1,
     {},
     E + "[?1;0c" + E + "[?1;0c"},
    {"AnsiDeviceAttributes", etAnsi, E + "[c", {}, 0, 1, {}, E + "[?1;0c"},
    {"AnsiNonZeroDeviceAttributesUnanswered", etAnsi, E + "[1c", {}, 0, 1, {}, ""},
    {"Vt52Identify", etVt52, E + "Z", {}, 0, 1, {}, E + "/Z"},
    {"PositionFromHostGoesToWindow",
     etAnsi,
     E + "[3;7R" + E + "[R",
     {},
     0,
     1,
     {},
     "",
     {"report 7,3", "report 1,1"}},
};
INSTANTIATE_TEST_SUITE_P(Replies, ScreenTable, ::testing::ValuesIn(kReplies), Name);

const ScreenCase kVt52[] = {
    {"CursorKeys", etVt52, "ab" + E + "DX" + E + "BY" + E + "AZ" + E + "C!", {"aX Z !", "  Y"}},
    {"Home", etVt52, "\r\nabc" + E + "Hh", {"h", "abc"}, 1, 1},
    {"NoCsi", etVt52, E + "[5;5H", {"[5;5H"}},
    {"EraseToEndOfScreen", etVt52, "abc\r\ndef" + E + "H" + E + "C" + E + "J", {"a"}},
    {"EraseToEndOfLine", etVt52, "abc\r\ndef" + E + "A" + E + "D" + E + "K", {"ab", "def"}},
    // ESC Y row column, each 32 + its 0-based value; a control byte abandons the address.
    {"DirectAddress", etVt52, E + "Y\x22\x25x" + E + "Y  y", {"y", "", "     x"}, 1, 1},
    {"AddressAbandoned", etVt52, "ab" + E + "Y\x22\rc", {"cb"}, 1, 1},
};
INSTANTIATE_TEST_SUITE_P(Vt52, ScreenTable, ::testing::ValuesIn(kVt52), Name);

const ScreenCase kErrors[] = {
    {"LateMarkerShowsNothing", etAnsi, "ab" + E + "[5?Hc", {"abc"}, 3, 1},
    {"UnknownFinalShown", etAnsi, E + "[5y", {"y"}, 1, 1},
    {"UnknownEscapeShown", etAnsi, E + "qr", {"qr"}},
    {"Designations", etVt100, E + "(B" + E + ")0t", {"t"}},
    {"Vt100PrivateMode", etVt100, E + "[?25lq", {"q"}},
    {"LongParameterWraps", etAnsi, E + "[" + std::string(30, '1') + "Ck", {Spaces(79) + "k"}, 0, 2},
    {"ShiftsIgnored",
     etAnsi,
     "a\x0e\x0f"
     "b",
     {"ab"}},
    {"NulInSequenceDropped", etAnsi, std::string("\x1b[3\0x", 5), {"x"}},
};
INSTANTIATE_TEST_SUITE_P(SequenceErrors, ScreenTable, ::testing::ValuesIn(kErrors), Name);

// Parameters: 0 and an omitted parameter are 1 for counts and addresses, leading zeros are read,
// large values saturate, empty places in a list are defaults, parameters past sixteen dropped.
const ScreenCase kParameters[] = {
    {"ZeroCountMovesOne", etAnsi, "a" + E + "[0Cb", {"a b"}, 3, 1},
    {"ZeroUpMovesOne", etVt100, E + "[5;5H" + E + "[0Ax", Sparse({{4, "    x"}}), 5, 4},
    {"ZeroAddressIsHome", etAnsi, "ab" + E + "[0;0Hx", {"xb"}, 1, 1},
    {"LeadingZeros", etAnsi, E + "[00000000004;000000001Hx", Sparse({{4, "x"}}), 1, 4},
    {"LargeCountSaturates", etAnsi, E + "[512Cx", {Spaces(79) + "x"}, 0, 2},
    {"EmptyColumnIsFirst", etVt100, E + "[3;Hx", Sparse({{3, "x"}}), 1, 3},
    {"SixParametersAccepted", etAnsi, E + "[1;2;3;4;5;6Hz", {" z"}},
    {"SeventeenParametersAccepted",
     etAnsi,
     E + "[2;3;0;0;0;0;0;0;0;0;0;0;0;0;0;0;7Hz",
     {"", "  z"}},
};
INSTANTIATE_TEST_SUITE_P(Parameters, ScreenTable, ::testing::ValuesIn(kParameters), Name);

// Private modes are taken whole; the modes this buffer does not act on change nothing.
const ScreenCase kPrivateModes[] = {
    {"BracketedPaste", etAnsi, "a" + E + "[?2004hb", {"ab"}, 2, 1},
    {"Vt100BracketedPaste", etVt100, "a" + E + "[?2004hb", {"ab"}, 2, 1},
    {"SeveralModes", etAnsiBbs, "a" + E + "[?1049;25;7lb" + E + "[?1h", {"ab"}, 2, 1},
    {"OtherPrivateRequest", etAnsi, "a" + E + "[>0cb", {"ab"}, 2, 1, {}, ""},
};
INSTANTIATE_TEST_SUITE_P(PrivateModes, ScreenTable, ::testing::ValuesIn(kPrivateModes), Name);

// Inside a sequence control bytes act and the sequence goes on; an escape starts a new one;
// cancel and substitute abandon it.
const ScreenCase kControlsInSequences[] = {
    {"EscapeRestarts", etAnsi, "abc" + E + "[1" + E + "[3Dx", {"xbc"}, 1, 1},
    {"CarriageReturnActs", etAnsi, "abc" + E + "[\r2Cx", {"abx"}, 3, 1},
    {"BackspaceActs", etVt100, "abc" + E + "[1\b;1Dx", {"axc"}, 2, 1},
    {"LineFeedActs", etAnsi, "ab" + E + "[\n1Dx", {"ab", " x"}, 2, 2},
    {"TabActs", etAnsi, E + "[2\tCx", {Spaces(10) + "x"}, 11, 1},
    {"CancelAbandons",
     etAnsi,
     "a" + E +
         "[3\x18"
         "Cb",
     {"aCb"},
     3,
     1},
    {"SubstituteAbandons",
     etVt100,
     "a" + E +
         "[3;\x1a"
         "Hb",
     {"aHb"},
     3,
     1},
    {"ControlAfterEscape", etVt100, "ab" + E + "\rDx", {"ab", "x"}, 1, 2},
    {"VerticalTabFeeds", etAnsi, "a\vb", {"a", " b"}, 2, 2},
    {"DeleteIgnored",
     etAnsi,
     E + "[2\x7f"
         "Cx",
     {"  x"},
     3,
     1},
    {"IntermediateSkipped", etAnsi, "a" + E + "[2 qb" + E + "[!pc", {"abc"}, 3, 1},
    {"Vt100EscapeIntermediateSkipped", etVt100, "a" + E + "#3b" + E + " Fc", {"abc"}, 3, 1},
    {"SubParametersRead", etAnsi, E + "[38:5:9mx", {"x"}, 1, 1, {{0, 1, 0x09, 0}}},
    {"Vt100ClearsAllTabs", etVt100, E + "[3g\tx", {Spaces(79) + "x"}, 79, 1},
};
INSTANTIATE_TEST_SUITE_P(ControlsInSequences, ScreenTable,
                         ::testing::ValuesIn(kControlsInSequences), Name);

// A VT102 as vttest exercises it: the last column, origin mode, index and reverse index at the
// region's edges, insert mode and the editing functions, the alignment pattern and the DEC
// special graphics set.
const uint8_t G = attrGraphics;
const ScreenCase kVt102[] = {
    {"GlyphOnLastColumnWaits", etVt100, E + "[1;80Hx", {Spaces(79) + "x"}, 79, 1},
    {"NextGlyphWrapsFirst", etVt100, E + "[1;80Hxy", {Spaces(79) + "x", "y"}, 1, 2},
    {"ReturnCancelsTheWrap", etVt100, E + "[1;80Hx\ry", {"y" + Spaces(78) + "x"}, 1, 1},
    {"TabLeavesTheWrapPending", etVt100, E + "[1;80Hx\ty", {Spaces(79) + "x", "y"}, 1, 2},
    {"RenditionLeavesTheWrapPending", etVt100, E + "[1;80Hx" + E + "[1my", {Spaces(79) + "x", "y"},
     1, 2},
    {"BackspaceLeavesTheLastColumn", etVt100, E + "[1;80Hx\by", {Spaces(78) + "yx"}, 79, 1},
    {"WrapOffOverwritesLastColumn", etVt100, E + "[?7l" + E + "[1;79Habcd", {Spaces(78) + "ad"},
     79, 1},
    {"OriginModeAddressesTheRegion", etVt100, E + "[5;10r" + E + "[?6h" + E + "[2;3Hx",
     {"", "", "", "", "", "  x"}, 3, 6},
    {"OriginModeStaysInTheRegion", etVt100, E + "[5;10r" + E + "[?6h" + E + "[40;1Hx",
     Sparse({{10, "x"}}), 1, 10},
    {"OriginModeReportsRegionRows", etVt100, E + "[5;10r" + E + "[?6h" + E + "[3;4H" + E + "[6n",
     {}, 3, 7, {}, E + "[3;4R"},
    {"StatusReportReady", etVt100, E + "[5n", {}, 0, 1, {}, E + "[0n"},
    {"TerminalParameters", etVt100, E + "[x" + E + "[1x" + E + "[2x", {}, 0, 1, {},
     E + "[2;1;1;120;120;1;0x" + E + "[3;1;1;120;120;1;0x"},
    {"IndexScrollsAtRegionBottom", etVt100,
     E + "[2;4r" + E + "[2;1HA" + E + "[3;1HB" + E + "[4;1HC" + E + "DD", {"", "B", "C", " D"}, 2, 4, {}, "", {}, 1},
    {"ReverseIndexScrollsAtRegionTop", etVt100,
     E + "[2;4r" + E + "[2;1HA" + E + "[3;1HB" + E + "[4;1HC" + E + "[5;1HF" + E + "[2;1H" + E +
         "MX",
     {"", "X", "A", "B", "F"}, 1, 2},
    {"ReverseIndexAboveRegionStops", etVt100, E + "[3;5r" + E + "[1;1HA" + E + "MX", {"AX"}, 2, 1},
    {"InsertModePushesRight", etVt100, "abc\r" + E + "[4hX" + E + "[4lY", {"XYbc"}, 2, 1},
    {"InsertCharacters", etVt100, "abcdef" + E + "[1;2H" + E + "[2@", {"a  bcdef"}, 1, 1},
    {"DeleteCharacters", etVt100, "abcdef" + E + "[1;2H" + E + "[2P", {"adef"}, 1, 1},
    {"EraseCharactersStayInTheRow", etVt100,
     E + "[1;79Hab" + E + "[2;1Hcd" + E + "[1;79H" + E + "[5X", {"", "cd"}, 78, 1},
    {"InsertLineOutsideRegionIgnored", etVt100,
     "A\r\nB" + E + "[3;10r" + E + "[1;1H" + E + "[L", {"A", "B"}, 0, 1},
    {"InsertLineInsideRegion", etVt100,
     "A\r\nB\r\nC" + E + "[1;3r" + E + "[2;1H" + E + "[L", {"A", "", "B"}, 0, 2},
    {"DeleteLineInsideRegion", etVt100,
     "A\r\nB\r\nC\r\nD" + E + "[1;3r" + E + "[M", {"B", "C", "", "D"}, 0, 1},
    {"AlignmentPatternFillsThePage", etVt100, "x" + E + "[5;10r" + E + "#8",
     std::vector<std::string>(25, std::string(80, 'E')), 0, 1},
    {"LineDrawingMarksItsGlyphs", etVt100, E + "(0lq" + E + "(Bq", {"lqq"}, 3, 1,
     {{0, 1, 0x07, G}, {1, 1, 0x07, G}, {2, 1, 0x07, 0}}},
    {"ShiftOutUsesG1", etVt100, E + ")0a\x0eq\x0fq", {"aqq"}, 3, 1,
     {{0, 1, 0x07, 0}, {1, 1, 0x07, G}, {2, 1, 0x07, 0}}},
    {"RenditionKeepsTheCharacterSet", etVt100, E + "(0" + E + "[4mq", {"q"}, 1, 1,
     {{0, 1, 0x07, G | attrUnderline}}},
    {"RestoreBringsBackSetAndKeepsTheSave", etVt100,
     E + "(0" + E + "7" + E + "(B" + E + "[5;5H" + E + "8q" + E + "[9;9H" + E + "8", {"q"}, 0, 1,
     {{0, 1, 0x07, G}}},
    {"NewLineModeReturnsTheCarriage", etVt100, E + "[20ha\nb", {"a", "b"}, 1, 2},
    {"OnlyTabClearZeroAndThree", etVt100, E + "[2g" + E + "[1g\tx", {Spaces(8) + "x"}, 9, 1},
    {"ColumnModeClearsAndHomes", etVt100, "ab" + E + "[3;9r" + E + "[?3lc", {"c"}, 1, 1, {}, "",
     {}, 25},
};
INSTANTIATE_TEST_SUITE_P(Vt102, ScreenTable, ::testing::ValuesIn(kVt102), Name);

// A program that scrolls part of the screen sets a region, scrolls it and resets it in one
// breath (vi deleting a line); the window must move that region's band, not the whole page.
TEST(Vt102Window, ScrollsTheBandOfTheRegionItScrolledIn)
{
    const struct {
        std::string bytes;
        std::string scroll; // the window's scroll request
    } cases[] = {
        {E + "[20;23r" + E + "[23;1H\n" + E + "[1;25r", "scroll 0,-16 in 0,304,640,368"},
        {E + "[20;23r" + E + "[20;1H" + E + "M" + E + "[r", ""}, // reverse index repaints
        {E + "[25;1H\n\n", "scroll 0,-32 in 0,0,640,400"},
    };
    for (const auto &c : cases) {
        Terminal t(etVt100);
        t.Window.Take();
        t.Feed(c.bytes);
        t.Buffer->bForcePaint();
        std::string scrolls;
        for (const std::string &call : t.Window.Take())
            if (call.rfind("scroll", 0) == 0)
                scrolls += call;
        EXPECT_EQ(scrolls, c.scroll) << c.bytes;
    }
}

} // namespace

namespace
{

// With a window showing 10 of the page's 25 rows and its view moved down with the text, the host
// still addresses the page: its rows count from the page's top, not from the view's.
TEST(PartialView, HostAddressesThePage)
{
    struct Case {
        const char *name;
        uint8_t type;
        std::string bytes;
        int row; // buffer row
        std::string text;
        int cursorColumn, cursorRow;
        std::string reply;
    } cases[] = {
        {"Home", etAnsi, E + "[HX", 0, "Xine1", 1, 0, ""},
        {"LastRow", etAnsi, E + "[25;1HX", 24, "X", 1, 24, ""},
        {"RowOnly", etAnsi, E + "[3dY", 2, "Yine3", 1, 2, ""},
        {"UpStopsAtPageTop", etAnsi, E + "[99AU", 0, "Uine1", 1, 0, ""},
        {"DownStopsAtPageBottom", etAnsi, E + "[99BD", 24, "D", 1, 24, ""},
        {"RegionHomes", etVt100, E + "[5;10rh", 0, "hine1", 1, 0, ""},
        {"EraseToCursorFromPageTop", etAnsi, E + "[1J", 0, "", 0, 15, ""},
        {"RestoreOnPage", etVt100, E + "[2;3H" + E + "7" + E + "[20;1H" + E + "8r", 1, "lire2", 3,
         1, ""},
        {"StatusReport", etAnsi, E + "[6n", 15, "", 0, 15, E + "[16;1R"},
    };
    for (const Case &c : cases) {
        Terminal t(c.type);
        TBuffer &b = *t.Buffer;
        b.ClientHeight = 10 * 16;
        b.bUpdateFont(16, 8);
        t.Feed(Lines(15));
        ASSERT_EQ(b.FirstVisibleRow, 6);
        t.Feed(c.bytes);
        EXPECT_EQ(t.Row(c.row), c.text) << c.name;
        EXPECT_EQ(b.CursorColumn, c.cursorColumn) << c.name;
        EXPECT_EQ(b.CursorRow, c.cursorRow) << c.name;
        EXPECT_EQ(t.Replies, c.reply) << c.name;
    }

    // The status counts the cursor's row from the page's top too, also when the view shows rows
    // below the cursor.
    Terminal t(etAnsi);
    t.Buffer->ClientHeight = 10 * 16;
    t.Buffer->bUpdateFont(16, 8);
    t.Buffer->bGotoBottom(true);
    ASSERT_EQ(t.Buffer->FirstVisibleRow, 15);
    EXPECT_EQ(t.Window.Calls.back(), "status 0101 00010010");
}

// Line feeds in a window of 10 rows: the page scrolls, and its region, as on a whole screen; the
// view keeps the cursor in sight.
TEST(PartialView, LineFeedsScrollThePage)
{
    // Page rows first..last of "line" + n, n counting from first + offset.
    auto lines = [](int first, int last, int offset) {
        std::vector<std::string> page;
        for (int i = first; i <= last; ++i)
            page.push_back("line" + std::to_string(i + offset));
        return page;
    };
    auto join = [](std::vector<std::vector<std::string>> parts) {
        std::vector<std::string> page;
        for (auto &part : parts)
            page.insert(page.end(), part.begin(), part.end());
        return page;
    };
    struct Case {
        const char *name;
        std::string bytes;
        std::vector<std::string> page; // from the page's top; the rest blank
        int cursorColumn, cursorPageRow;
        int aboveRow; // the buffer row just above the page holds
        std::string above;
    } cases[] = {
        {"RegionBottom", Lines(15) + E + "[5;20r" + E + "[20H\nX",
         join({lines(1, 4, 0), lines(5, 14, 1), {"", "", "", "", "", "X"}}), 1, 20, 0, "line5"},
        {"RegionBottomAtBufferEnd", Lines(300) + E + "[5;20r" + E + "[20H\nX",
         join({lines(1, 4, 276), lines(5, 19, 277), {"X"}, lines(21, 24, 276)}), 1, 20, 174,
         "line281"},
        {"PageBottom", Lines(15) + E + "[25H\nX",
         join({lines(1, 14, 1), std::vector<std::string>(10), {"X"}}), 1, 25, 0, "line1"},
    };
    for (const Case &c : cases) {
        Terminal t(etVt100);
        TBuffer &b = *t.Buffer;
        b.ClientHeight = 10 * 16;
        b.bUpdateFont(16, 8);
        t.Feed(c.bytes);
        const int top = b.PageTop();
        for (int i = 0; i < b.PageHeight; ++i)
            EXPECT_EQ(t.Row(top + i), i < int(c.page.size()) ? c.page[i] : "")
                << c.name << " page row " << i + 1;
        EXPECT_EQ(t.Row(c.aboveRow), c.above) << c.name;
        EXPECT_EQ(top, c.aboveRow + 1) << c.name;
        EXPECT_EQ(b.CursorColumn, c.cursorColumn) << c.name;
        EXPECT_EQ(b.CursorRow - top + 1, c.cursorPageRow) << c.name;
        EXPECT_TRUE(b.FirstVisibleRow <= b.CursorRow && b.CursorRow < b.FirstVisibleRow + 10)
            << c.name;
    }
}

// A buffer without cells takes every command without effect.
TEST(EmptyBuffer, CommandsDoNothing)
{
    Terminal t(etAnsi);
    t.Buffer->bDeallocBuffers();
    t.Feed(E + "[3X" + E + "[5;5H" + E + "[2J" + E + "[L" + E + "[2P" + E + "[6n" + "x\t\b\n");
    EXPECT_EQ(t.Buffer->CellCount, 0);
    EXPECT_EQ(t.Buffer->CursorColumn, 0);
    EXPECT_EQ(t.Buffer->CursorRow, 0);
}

// A user character handler that claims more characters than the record holds writes only the
// fifteen it has.
TEST(UserHandler, WriteStringStaysInTheRecord)
{
    Terminal t(etAnsi);
    t.Emulator.OnProcessChar = [](uint8_t, TCommandRecord &record) {
        record.Command = cmd::WriteString;
        record.Count = 255;
        std::memcpy(record.Chars, "ABCDEFGHIJKLMNO", sizeof record.Chars);
    };
    t.Feed("x");
    EXPECT_EQ(t.Row(0), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(t.Buffer->CursorColumn, 15);
}

} // namespace
