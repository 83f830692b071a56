// The terminal window on a real port over the simulated null modem: data in and keys out,
// half duplex, cursor keys in application mode, scrollback, copying, sizing and scroll bars,
// selection auto-scroll, painting by colour runs, DEC graphics, underline and reverse screen,
// and blinking.

#include "terminal/Terminal.h"

#include "serial/ApdComPort.h"
#include "serial/SimulatedDevice.h"
#include "terminal/ApdEmulator.h"
#include "terminal/TerminalFont.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace terminal;
using namespace serial;
using testsupport::ProcessEventsUntil;

namespace
{

class Window : public ::testing::Test, public TTerminalNotify
{
  protected:
    Window()
    {
        dir.Enter();
        port.SetDeviceLayer(dlOther);
        port.CustomDeviceLayer = InstallSimulatedDeviceLayer;
        port.SetComNumber(7);
        port.SetOpen(true);
        term = std::make_unique<TTerminal>(
            tsAutoHScroll | tsAutoVScroll | tsIntegralHeight | tsIntegralWidth | tsWantTab, this);
        // The whole page, whatever share of the screen a new window would get.
        term->FitInto(term->sizeHint());
        term->show();
        term->tSetComHandle(int16_t(port.PortSlot()));
        EXPECT_EQ(term->tStartTerminal(1), 0);
    }
    ~Window() override
    {
        term.reset();
        port.SetOpen(false);
    }

    void TerminalStatus(uint16_t wParam, uint32_t) override { lastStatus = wParam; }
    void TerminalError(uint16_t code) override { errors.push_back(code); }
    void TerminalPositionReport(uint16_t, uint16_t) override {}

    TBuffer &B() { return term->aBuffer(); }
    std::string Row(int row) { return B().RowText(row).substr(0, 20); }
    // Text as if received, painted at once.
    void Show(const std::string &text)
    {
        term->tStuffData(reinterpret_cast<const uint8_t *>(text.data()), int(text.size()));
        term->tForcePaint();
    }
    void Key(int key, const QString &text, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(term.get(), &press);
    }
    void Mouse(QEvent::Type type, int x, int y, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QMouseEvent event(type, QPointF(x, y), term->viewport()->mapToGlobal(QPointF(x, y)),
                          Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, mods);
        QApplication::sendEvent(term->viewport(), &event);
    }
    // The window's client area in cells.
    QSize Cells() { return {B().ClientWidth / B().CharWidth, B().ClientHeight / B().CharHeight}; }

    testsupport::TempDir dir;
    TSimulatedDevice far{"COM7"};
    TApdComPort port;
    std::unique_ptr<TTerminal> term;
    uint16_t lastStatus = 0;
    std::vector<uint16_t> errors;
};

TEST_F(Window, ReceivedTextAppearsInOrderAndHeldBackInScrollback)
{
    std::string sent;
    for (int i = 0; i < 40; ++i)
        sent += "line " + std::to_string(i) + "\r\n";
    far.Write(sent);
    ASSERT_TRUE(ProcessEventsUntil([&] { return B().CursorRow == 40; }, 10000));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(B().RowText(i).substr(0, 8), ("line " + std::to_string(i) + "   ").substr(0, 8));

    // Scrollback: the view moves, then everything comes back exactly, with what arrived meanwhile.
    const int firstRow = B().FirstVisibleRow, cursorRow = B().CursorRow;
    term->tToggleScrollback();
    EXPECT_TRUE(ProcessEventsUntil([&] { return lastStatus == 0; }, 5000));
    Key(Qt::Key_PageUp, {});
    EXPECT_LT(B().FirstVisibleRow, firstRow);
    far.Write("later\r\n");
    testsupport::Settle(200);
    EXPECT_EQ(B().RowText(40).substr(0, 5), "     ");
    term->tToggleScrollback();
    EXPECT_EQ(B().FirstVisibleRow, firstRow);
    // The line that waited comes as a new batch and moves the restored view by one.
    ASSERT_TRUE(ProcessEventsUntil([&] { return B().RowText(40).substr(0, 5) == "later"; }, 5000));
    EXPECT_EQ(B().FirstVisibleRow, firstRow + 1);
    EXPECT_EQ(B().CursorRow, cursorRow + 1);
}

TEST_F(Window, KeysReachTheDevice)
{
    struct Case {
        const char *what;
        bool halfDuplex;
        int key;
        QString text;
        std::string sent;
        std::string echoed; // the start of the cursor row afterwards
    };
    const std::vector<Case> cases = {
        {"a letter", false, Qt::Key_A, "a", "a", ""},
        {"return", false, Qt::Key_Return, "\r", "\r", ""},
        {"tab stays in the window", false, Qt::Key_Tab, "\t", "\t", ""},
        {"Latin-1 beyond ASCII", false, Qt::Key_Adiaeresis, QString(QChar(0xE4)), "\xE4", ""},
        {"a cursor key has no character", false, Qt::Key_Up, {}, "", ""},
        {"half duplex echoes once", true, Qt::Key_X, "x", "x", "x"},
    };
    for (const Case &c : cases) {
        B().bClearBuffer();
        term->tSetHalfDuplex(c.halfDuplex);
        far.TakeSent();
        Key(c.key, c.text);
        if (!c.sent.empty()) {
            EXPECT_TRUE(far.WaitForSent(c.sent.size(), std::chrono::seconds(5))) << c.what;
        }
        testsupport::Settle(50);
        EXPECT_EQ(far.TakeSent(), c.sent) << c.what;
        EXPECT_EQ(B().RowText(0).substr(0, c.echoed.size()), c.echoed) << c.what;
    }
}

TEST_F(Window, CopyGivesTheSelectionWithLineEnds)
{
    Show("first line\r\nsecond one\r\nthird");
    const int cw = B().CharWidth, ch = B().CharHeight;
    struct Case {
        const char *what;
        std::vector<QPoint> cells; // pressed at the first, moved through the rest, released
        std::string copied;        // "" leaves the clipboard as it was
    };
    const std::vector<Case> cases = {
        {"inside one row", {{6, 0}, {9, 0}}, "line\r\n"},
        {"one cell", {{0, 1}, {0, 1}}, "s\r\n"},
        {"backwards", {{9, 0}, {6, 0}}, "line\r\n"},
        {"across rows",
         {{6, 0}, {2, 2}},
         "line" + std::string(70, ' ') + "\r\nsecond one" + std::string(70, ' ') + "\r\nthi\r\n"},
        {"back to the anchor", {{6, 0}, {2, 2}, {6, 0}}, "l\r\n"},
        {"a click selects nothing", {{3, 1}}, ""},
    };
    for (const Case &c : cases) {
        QApplication::clipboard()->setText(QStringLiteral("before"));
        const auto at = [&](QPoint cell) { return QPoint(cell.x() * cw + 1, cell.y() * ch + 1); };
        Mouse(QEvent::MouseButtonPress, at(c.cells.front()).x(), at(c.cells.front()).y());
        for (size_t i = 1; i < c.cells.size(); ++i)
            Mouse(QEvent::MouseMove, at(c.cells[i]).x(), at(c.cells[i]).y());
        Mouse(QEvent::MouseButtonRelease, at(c.cells.back()).x(), at(c.cells.back()).y());
        term->wmCopy();
        EXPECT_EQ(QApplication::clipboard()->text().toLatin1().toStdString(),
                  c.copied.empty() ? "before" : c.copied)
            << c.what;
    }

    // Every byte value a cell can hold survives the clipboard.
    std::string all;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 64; ++column)
            B().CharAt(column, row) = uint8_t(row * 64 + column);
        all += std::string(reinterpret_cast<const char *>(B().CharRow(row)), 80) + "\r\n";
    }
    Mouse(QEvent::MouseButtonPress, 1, 1);
    Mouse(QEvent::MouseMove, 79 * cw + 1, 3 * ch + 1);
    Mouse(QEvent::MouseButtonRelease, 79 * cw + 1, 3 * ch + 1);
    term->wmCopy();
    const QByteArray copied = QApplication::clipboard()->text().toLatin1();
    EXPECT_EQ(std::string(copied.data(), size_t(copied.size())), all);
}

TEST_F(Window, SizesFollowThePageAndTheBars)
{
    const int cw = B().CharWidth, ch = B().CharHeight;
    struct Case {
        const char *what;
        QSize request; // window size in pixels
        QSize cells;   // client area in cells afterwards
        bool vBar, hBar;
        int vMax, hMax;
    };
    const std::vector<Case> cases = {
        {"larger than the page shrinks to it", {100 * cw, 40 * ch}, {80, 25}, false, false, 0, 0},
        {"exactly the page", {80 * cw, 25 * ch}, {80, 25}, false, false, 0, 0},
        {"fewer rows shows a vertical bar", {80 * cw + 40, 10 * ch}, {80, 10}, true, false, 15, 0},
    };
    for (const Case &c : cases) {
        term->FitInto(c.request);
        QApplication::processEvents();
        EXPECT_EQ(Cells(), c.cells) << c.what;
        EXPECT_EQ(term->VerticalBarShown(), c.vBar) << c.what;
        EXPECT_EQ(term->HorizontalBarShown(), c.hBar) << c.what;
        EXPECT_EQ(term->verticalScrollBar()->maximum(), c.vMax) << c.what;
        EXPECT_EQ(term->horizontalScrollBar()->maximum(), c.hMax) << c.what;
        EXPECT_EQ(B().ClientWidth % cw, 0) << c.what;
        EXPECT_EQ(B().ClientHeight % ch, 0) << c.what;
    }

    // The cursor, at the top of the page, stayed in view as the window lost rows.
    EXPECT_EQ(B().FirstVisibleRow, 0);

    // Forced to 40 x 10 cells: both bars; the thumbs follow the cursor down the page.
    term->tForceSize(40, 10);
    EXPECT_EQ(Cells(), QSize(40, 10));
    EXPECT_TRUE(term->VerticalBarShown() && term->HorizontalBarShown());
    EXPECT_EQ(term->horizontalScrollBar()->maximum(), 40);
    Show(std::string(24, '\n'));
    EXPECT_EQ(B().FirstVisibleRow, 15);
    EXPECT_TRUE(ProcessEventsUntil([&] { return term->verticalScrollBar()->value() == 15; }, 5000));
}

TEST_F(Window, DraggingBelowTheWindowScrollsBySpeed)
{
    // A 10-row view of a page with text on every row; the view starts at the page top.
    term->tForceSize(80, 10);
    for (int i = 0; i < 24; ++i)
        Show("row " + std::to_string(i) + "\r\n");
    B().bGotoTop(true);
    const int height = B().ClientHeight;
    struct Case {
        int below; // pixels below the client area
        int rowsPerTick;
    };
    for (const Case c : {Case{5, 1}, Case{20, 1}, Case{21, 3}}) {
        B().bGotoTop(true);
        const int top = B().FirstVisibleRow;
        Mouse(QEvent::MouseButtonPress, 5, 5);
        Mouse(QEvent::MouseMove, 5, height + c.below);
        term->wmTimer();
        EXPECT_EQ(B().FirstVisibleRow - top, c.rowsPerTick) << c.below;
        Mouse(QEvent::MouseButtonRelease, 5, height + c.below);
        EXPECT_EQ(B().EndRow, B().FirstVisibleRow + 9) << c.below;
    }
}

TEST_F(Window, PaintsOneRunPerColourAndBlinks)
{
    TApdCustomEmulator ansi;
    term->tSetEmulatorPtr(&ansi);
    term->tSetEmulatorProc(&TApdCustomEmulator::EmulatorRoutine);
    Show("ab\x1b[31mcd\x1b[44mef\x1b[0mgh\x1b[5mX\x1b[0m");
    const int cw = B().CharWidth, ch = B().CharHeight;
    QImage image(term->viewport()->size(), QImage::Format_RGB32);
    const auto paintRow = [&] {
        QPainter painter(&image);
        const int before = term->RunsPainted();
        term->tPaint(painter, QRect(0, 0, 9 * cw, ch));
        return term->RunsPainted() - before;
    };
    EXPECT_EQ(paintRow(), 4); // ab, cd, ef, ghX (blinking is an attribute, not a colour)
    const auto background = [&](int column) { return image.pixel(column * cw, ch - 1); };
    EXPECT_EQ(QColor(background(0)), QColor(0, 0, 0));
    EXPECT_EQ(QColor(background(5)).blue(), int(B().ColorMap[4] >> 16)); // blue behind "ef"

    // The blinking X disappears into its background and comes back.
    const uint8_t base = B().BaseColorAt(8, 0);
    term->tBlink();
    EXPECT_EQ(B().ColorAt(8, 0) & 0x0F, base >> 4);
    term->tBlink();
    EXPECT_EQ(B().ColorAt(8, 0), base);

    // A restored buffer brings back the cells, not the emulator it was saved with (which may be
    // gone by then).
    auto saved = term->tSave();
    ASSERT_TRUE(saved);
    term->tSetEmulatorPtr(nullptr);
    term->tSetEmulatorProc(nullptr);
    B().bClearBuffer();
    EXPECT_EQ(term->tRestore(std::move(saved)), 0);
    EXPECT_EQ(B().RowText(0).substr(0, 9), "abcdefghX");
    EXPECT_EQ(B().EmulatorContext, nullptr);
    EXPECT_EQ(B().EmulatorRoutine, nullptr);
}

TEST_F(Window, KeysFollowTheVt100Modes)
{
    // A key map with the VT100's up and left, page up, and a function key sending what up sends.
    term->tSetKeyEmulatorProc([](const void *, uint16_t key, TKeyRecord &record) {
        static const std::map<uint16_t, std::string> map = {
            {38, "\x1b[A"}, {37, "\x1b[D"}, {33, "\x1b[5~"}, {113, "\x1b[A"}};
        record.Handled = map.count(key) != 0;
        if (record.Handled)
            record.SetSequence(map.at(key));
    });
    struct Case {
        const char *what;
        bool application; // cursor keys (DECCKM)
        int key;
        std::string sent;
        bool newLine = false; // LNM
    };
    const std::vector<Case> cases = {
        {"up in normal mode", false, Qt::Key_Up, "\x1b[A"},
        {"up in application mode", true, Qt::Key_Up, "\x1bOA"},
        {"left in application mode", true, Qt::Key_Left, "\x1bOD"},
        {"left back in normal mode", false, Qt::Key_Left, "\x1b[D"},
        {"page up keeps its sequence", true, Qt::Key_PageUp, "\x1b[5~"},
        {"a function key keeps a cursor key's sequence", true, Qt::Key_F2, "\x1b[A"},
        {"return in new-line mode", false, Qt::Key_Return, "\r\n", true},
        {"return out of it", false, Qt::Key_Return, "\r"},
    };
    for (const Case &c : cases) {
        B().CursorKeysApp = c.application;
        B().NewLineMode = c.newLine;
        far.TakeSent();
        Key(c.key, c.key == Qt::Key_Return ? QString("\r") : QString());
        EXPECT_TRUE(far.WaitForSent(c.sent.size(), std::chrono::seconds(5))) << c.what;
        EXPECT_EQ(far.TakeSent(), c.sent) << c.what;
    }
    // Keys the map leaves (a keyboard emulator switched off) are an emulation's cursor keys.
    term->tSetKeyEmulatorProc(
        [](const void *, uint16_t, TKeyRecord &record) { record.Handled = false; });
    TApdCustomEmulator emulator;
    const struct {
        uint8_t type;
        bool application;
        std::string sent; // for up, then left
    } bare[] = {{etVt100, false, "\x1b[A\x1b[D"}, {etVt100, true, "\x1bOA\x1bOD"},
                {etAnsi, false, "\x1b[A\x1b[D"}, {etVt52, false, "\x1b" "A\x1b" "D"}};
    for (const auto &c : bare) {
        emulator.SetEmulationType(c.type);
        B().EmulatorContext = &emulator;
        B().EmulatorRoutine = &TApdCustomEmulator::EmulatorRoutine;
        B().CursorKeysApp = c.application;
        far.TakeSent();
        Key(Qt::Key_Up, {});
        Key(Qt::Key_Left, {});
        EXPECT_TRUE(far.WaitForSent(c.sent.size(), std::chrono::seconds(5))) << int(c.type);
        EXPECT_EQ(far.TakeSent(), c.sent) << int(c.type);
    }
    B().EmulatorContext = nullptr;
    B().EmulatorRoutine = nullptr;
}

TEST_F(Window, DrawsGraphicsUnderlineAndReverseScreenOnTheCellGrid)
{
    // Pixel areas in cells (fractions allowed), checked for a colour: the cell's foreground or
    // background, or the selection's.
    enum Check { All, Row, Column, Any }; // every pixel, one full pixel row or column, any ink
    enum Ink { Fg, Bg, HighFg, HighBg, DefaultFg };
    struct Area {
        double left, top, right, bottom;
        Check check;
        Ink ink;
    };
    enum Mode { Plain, Reverse, Selected, ReverseSelected }; // selected: the first cell
    struct Case {
        std::string rows; // from the top-left cell, '/' between rows
        uint8_t attrs;
        Mode mode;
        std::vector<Area> areas;
    };
    const uint8_t g = attrGraphics, u = attrUnderline;
    const std::vector<Case> cases = {
        // Line pieces go through the cells' centres to their edges: no gaps at cell borders.
        {"qqqq", g, Plain, {{0, .3, 4, .7, Row, Fg}}},
        {"qqqq", g, Plain, {{0, 0, 4, .3, All, Bg}, {0, .7, 4, 1, All, Bg}}},
        {"x/x/x", g, Plain, {{.3, 0, .7, 3, Column, Fg}}},
        {"x/x/x", g, Plain, {{0, 0, .3, 3, All, Bg}, {.7, 0, 1, 3, All, Bg}}},
        {"lqk/x x/mqj", g, Plain, {{.5, .3, 2.5, .7, Row, Fg}, {.5, 2.3, 2.5, 2.7, Row, Fg}}},
        {"lqk/x x/mqj", g, Plain, {{.3, .5, .7, 2.5, Column, Fg}, {2.3, .5, 2.7, 2.5, Column, Fg}}},
        {"lqk/x x/mqj", g, Plain, {{0, 0, .3, 3, All, Bg}, {0, 0, 3, .3, All, Bg}}},
        {"lqk/x x/mqj", g, Plain, {{1, 1, 2, 2, All, Bg}}},
        {"o", g, Plain, {{0, 0, 1, .3, Row, Fg}, {0, .3, 1, 1, All, Bg}}},     // scan line 1
        {"s", g, Plain, {{0, .7, 1, 1, Row, Fg}, {0, 0, 1, .7, All, Bg}}},     // scan line 9
        {"`", g, Plain, {{.4, .4, .6, .6, All, Fg}, {0, 0, .2, .2, All, Bg}}}, // diamond
        {"a", g, Plain, {{0, 0, 1, 1, Any, Fg}, {0, 0, 1, 1, Any, Bg}}},       // checkerboard
        {"{/b", g, Plain, {{0, 0, 1, 2, Any, Fg}}}, // pi, the picture of a tab
        {"_", g, Plain, {{0, 0, 1, 1, All, Bg}}},   // blank
        {"^", g, Plain, {{0, 0, 1, .5, Any, Fg}}},  // outside the set: itself
        // Underline also under blanks, in one line.
        {"   ", u, Plain, {{0, .7, 3, 1, Row, Fg}, {0, 0, 3, .7, All, Bg}}},
        // A reverse screen swaps every colour, the selection's too.
        // An erased cell (background in both colours) takes the default foreground.
        {" ", 0, Reverse, {{0, 0, 1, 1, All, Fg}, {1, 0, 2, 1, All, DefaultFg}}},
        {"q", g, Reverse, {{0, .3, 1, .7, Row, Bg}, {0, 0, 1, .3, All, Fg}}},
        {"q", g, Selected, {{0, .3, 1, .7, Row, HighFg}, {0, 0, 1, .3, All, HighBg}}},
        {"  ", 0, ReverseSelected, {{0, 0, 1, 1, All, HighFg}, {1, 0, 2, 1, All, Fg}}},
    };
    const uint8_t colors = 0x4E; // yellow on blue
    const auto colorOf = [&](Ink ink) {
        const uint8_t index[] = {uint8_t(colors & 15), uint8_t(colors >> 4),
                                 B().HighlightForeground, B().HighlightBackground,
                                 B().DefaultForeground};
        return ColorOf(B().ColorMap[index[ink] & 15]).rgb();
    };
    QFont font = term->Font();
    for (const int points : {9, 20}) {
        font.setPointSize(points);
        ASSERT_TRUE(term->wmSetFont(font));
        const int cw = B().CharWidth, ch = B().CharHeight;
        for (const Case &c : cases) {
            B().bClearBuffer();
            B().CursorRow = 10; // the caret away from the cells looked at
            // Around the cells, blanks as an erase leaves them: the background in both colours.
            for (int r = 0; r < 4; ++r)
                B().BlankCells(0, r, 8, uint8_t(B().DefaultBackground * 0x11), 0);
            int column = 0, row = 0;
            for (const char byte : c.rows) {
                if (byte == '/') {
                    column = 0, ++row;
                    continue;
                }
                B().CharAt(column, row) = uint8_t(byte);
                B().ColorAt(column, row) = B().BaseColorAt(column, row) = colors;
                B().AttrAt(column++, row) = c.attrs;
            }
            B().ReverseScreen = c.mode == Reverse || c.mode == ReverseSelected;
            B().MarkValid = c.mode == Selected || c.mode == ReverseSelected;
            B().StartRow = B().EndRow = B().StartColumn = B().EndColumn = 0;
            QImage image(term->viewport()->size(), QImage::Format_RGB32);
            QPainter painter(&image);
            term->tPaint(painter, image.rect());
            painter.end();
            for (const Area &a : c.areas) {
                const QRect r(QPoint(int(a.left * cw), int(a.top * ch)),
                              QPoint(int(a.right * cw) - 1, int(a.bottom * ch) - 1));
                const QRgb want = colorOf(a.ink), other = colorOf(a.ink == Fg ? Bg : Fg);
                // Pixels of the colour in each pixel row and column, and pixels not the other's.
                std::vector<int> rows(r.height()), columns(r.width());
                int inked = 0;
                for (int y = 0; y < r.height(); ++y)
                    for (int x = 0; x < r.width(); ++x) {
                        const QRgb pixel = image.pixel(r.left() + x, r.top() + y);
                        rows[y] += pixel == want, columns[x] += pixel == want;
                        inked += pixel != other;
                    }
                const auto full = [](const std::vector<int> &lines, int length) {
                    return int(std::count(lines.begin(), lines.end(), length));
                };
                const bool found = a.check == All      ? full(rows, r.width()) == r.height()
                                   : a.check == Row    ? full(rows, r.width()) > 0
                                   : a.check == Column ? full(columns, r.height()) > 0
                                                       : inked > 0;
                EXPECT_TRUE(found) << points << " pt, \"" << c.rows << "\" mode " << c.mode
                                   << ", area " << &a - c.areas.data();
            }
        }
    }
    B().ReverseScreen = false;
}

TEST_F(Window, TakesFacesThatAdvanceAlikeAndShowsThemAtOnce)
{
    struct Case {
        const char *what;
        QFont font;
        bool taken;
    };
    const std::vector<Case> cases = {
        {"monospace without the fixed-pitch mark", QFont("Noto Sans Mono", 11), true},
        {"marked monospace", QFont("DejaVu Sans Mono", 14), true},
        {"proportional", QFont("DejaVu Sans", 12), false},
        {"italic monospace", QFont("DejaVu Sans Mono", 8, QFont::Normal, true), true},
    };
    // The cursor low on the page of a window that shows only part of it.
    term->tForceSize(60, 12);
    Show(std::string(20, '\n') + "prompt>");
    for (const Case &c : cases) {
        const QFont before = term->Font();
        EXPECT_EQ(term->wmSetFont(c.font), c.taken) << c.what;
        EXPECT_GE(B().CursorRow, B().FirstVisibleRow) << c.what;
        EXPECT_LT(B().CursorRow, B().FirstVisibleRow + B().VisibleRows) << c.what;
        EXPECT_GE(B().CursorColumn, B().FirstVisibleColumn) << c.what;
        EXPECT_LT(B().CursorColumn, B().FirstVisibleColumn + B().VisibleColumns) << c.what;
        EXPECT_EQ(term->Font(), c.taken ? c.font : before) << c.what;
        // Cells and the visible part counted on the window as it is, without a resize.
        EXPECT_EQ(B().CharWidth, QFontMetrics(term->Font()).horizontalAdvance('M')) << c.what;
        EXPECT_GT(B().VisibleColumns, 0) << c.what;
        EXPECT_EQ(Cells(), QSize(B().VisibleColumns, B().VisibleRows)) << c.what;
        // What a refused font falls back to is fixed pitch at the size asked.
        const QFont fallback = FixedFontFor(c.font);
        EXPECT_TRUE(HasFixedAdvance(fallback)) << c.what;
        EXPECT_EQ(QFontInfo(fallback).pointSize(), c.font.pointSize()) << c.what;
        // The font dialog is preset with the face in use: the same family, style and size.
        const QFont shown = ResolvedFont(c.font);
        EXPECT_EQ(QFontInfo(shown).family(), QFontInfo(c.font).family()) << c.what;
        EXPECT_EQ(shown.italic(), c.font.italic()) << c.what;
        EXPECT_EQ(shown.pointSize(), c.font.pointSize()) << c.what;
    }
}

TEST_F(Window, BarsAndViewAlwaysAgree)
{
    for (int i = 0; i < 40; ++i)
        Show("row " + std::to_string(i) + "\r\n");
    QScrollBar *across = term->horizontalScrollBar();
    QScrollBar *down = term->verticalScrollBar();
    const auto font = [](int points) { return FixedFontFor(QFont("DejaVu Sans Mono", points)); };
    const auto toEnd = [&] {
        across->triggerAction(QAbstractSlider::SliderToMaximum);
        down->triggerAction(QAbstractSlider::SliderToMinimum);
    };
    struct Case {
        const char *what;
        std::function<void()> change;
    };
    const std::vector<Case> cases = {
        {"small, scrolled right and up", [&] { term->tForceSize(30, 8), toEnd(); }},
        {"buffer cleared while scrolled right and down",
         [&] {
             across->triggerAction(QAbstractSlider::SliderToMaximum);
             down->triggerAction(QAbstractSlider::SliderToMaximum);
             term->tClearWindow(1);
         }},
        {"larger font", [&] { term->wmSetFont(font(16)); }},
        {"smaller font, scrolled right", [&] { term->wmSetFont(font(6)), toEnd(); }},
        {"room for the whole page", [&] { term->FitInto(QSize(4000, 3000)); }},
        {"narrow again", [&] { term->FitInto(QSize(300, 200)), toEnd(); }},
        {"two columns wider", [&] { term->FitInto(QSize(300 + 2 * B().CharWidth, 200)); }},
        {"scrollback on", [&] { term->tToggleScrollback(), toEnd(); }},
        {"text arriving in scrollback", [&] { Show("more\r\nand more\r\n"); }},
        {"scrollback off", [&] { term->tToggleScrollback(); }},
        {"fewer columns", [&] { term->bNewBuffer(200, 40, 25); }},
        {"font back", [&] { term->wmSetFont(font(10)), toEnd(); }},
    };
    for (const Case &c : cases) {
        c.change();
        ASSERT_TRUE(ProcessEventsUntil([&] { return !term->RepaintPending(); }, 5000)) << c.what;
        const int pageTop =
            term->Scrollback() ? 0 : std::max(B().HighestRow - B().PageHeight + 1, 0);
        EXPECT_EQ(across->value(), B().FirstVisibleColumn) << c.what;
        EXPECT_EQ(down->value(), B().FirstVisibleRow - pageTop) << c.what;
        // No bar, no way to move: the view sits at the start.
        EXPECT_TRUE(term->HorizontalBarShown() || B().FirstVisibleColumn == 0) << c.what;
        EXPECT_TRUE(term->VerticalBarShown() || B().FirstVisibleRow == pageTop) << c.what;
        // The bars reach both ends of the page and no further.
        EXPECT_EQ(down->minimum(), 0) << c.what;
        const int first = B().FirstVisibleColumn, top = B().FirstVisibleRow;
        across->triggerAction(QAbstractSlider::SliderToMinimum);
        down->triggerAction(QAbstractSlider::SliderToMinimum);
        EXPECT_EQ(B().FirstVisibleColumn, 0) << c.what;
        EXPECT_EQ(B().FirstVisibleRow, pageTop) << c.what;
        across->triggerAction(QAbstractSlider::SliderToMaximum);
        EXPECT_EQ(B().FirstVisibleColumn + B().VisibleColumns, B().Columns) << c.what;
        EXPECT_EQ(across->value(), B().FirstVisibleColumn) << c.what;
        across->setValue(first);
        across->triggerAction(QAbstractSlider::SliderMove);
        down->setValue(top - pageTop);
        down->triggerAction(QAbstractSlider::SliderMove);
        EXPECT_EQ(B().FirstVisibleColumn, first) << c.what;
        EXPECT_EQ(B().FirstVisibleRow, top) << c.what;
    }
}

} // namespace
