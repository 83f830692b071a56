// The terminal component over the simulated null modem: buffer geometry, the scroll-bar styles,
// activation as the port opens and closes, capture files and the keyboard emulator it asks.

#include "terminal/ApdTerminal.h"

#include "serial/ApdComPort.h"
#include "serial/ApdExcept.h"
#include "serial/ErrorCodes.h"
#include "serial/SimulatedDevice.h"
#include "terminal/ApdKeyboardEmulator.h"
#include "terminal/TerminalFont.h"
#include "terminal/VirtualKeys.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <QFontInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

using namespace terminal;
using namespace serial;

namespace
{

// The result code an action raised, 0 when it raised nothing.
int CodeOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EAPDException &e) {
        return e.ResultCode;
    } catch (const EInOutError &e) {
        return -e.ErrorCode;
    }
    return 0;
}

std::string Row(TApdTerminal &t, int row, int length)
{
    std::string text;
    for (int column = 0; column < length; ++column)
        text += char(t.Window()->aBuffer().CharAt(column, row));
    return text;
}

class TerminalComponent : public ::testing::Test
{
  protected:
    TerminalComponent()
    {
        dir.Enter();
        port.SetDeviceLayer(dlOther);
        port.CustomDeviceLayer = InstallSimulatedDeviceLayer;
        port.SetComNumber(5);
        port.SetAutoOpen(false);
        term.show();
    }
    ~TerminalComponent() override
    {
        term.SetComPort(nullptr);
        port.SetOpen(false);
    }

    testsupport::TempDir dir;
    TSimulatedDevice far{"COM5"};
    TApdComPort port;
    TApdTerminal term;
};

TEST_F(TerminalComponent, GeometryKeepsTheBufferWithinItsLimits)
{
    struct Case {
        const char *what;
        std::function<void(TApdTerminal &)> change;
        int rows, columns, pageHeight, error;
    };
    const std::vector<Case> cases = {
        {"rows 1000 narrow the columns", [](auto &t) { t.SetRows(1000); }, 1000, 65, 25, 0},
        {"rows below the page", [](auto &t) { t.SetRows(10); }, 25, 80, 25, 0},
        {"page above the rows", [](auto &t) { t.SetPageHeight(300); }, 200, 80, 200, 0},
        {"columns narrow the rows",
         [](auto &t) {
             t.SetRows(1000);
             t.SetColumns(130);
         },
         504, 130, 25, 0},
        {"columns raised to the shown ones",
         [](auto &t) { t.SetColumns(uint16_t(t.DisplayColumns() - 1)); }, 200, 40, 25, 0},
        {"too many columns keep the buffer", [](auto &t) { t.SetColumns(200); }, 200, 80, 25,
         ecBadArgument},
        {"page height 0 keeps the buffer", [](auto &t) { t.SetPageHeight(0); }, 200, 80, 25,
         ecBadArgument},
    };
    for (const Case &c : cases) {
        TApdTerminal t;
        t.show();
        EXPECT_EQ(CodeOf([&] { c.change(t); }), c.error) << c.what;
        EXPECT_EQ(t.Rows(), c.rows) << c.what;
        EXPECT_EQ(t.Columns(), c.columns) << c.what;
        EXPECT_EQ(t.PageHeight(), c.pageHeight) << c.what;
        EXPECT_EQ(t.Window()->aBuffer().Rows, c.rows) << c.what;
        EXPECT_EQ(t.Window()->aBuffer().Columns, c.columns) << c.what;
    }
}

TEST_F(TerminalComponent, FixedBarsAreNeverAutomaticAndTheWindowKeepsItsText)
{
    struct Case {
        const char *what;
        std::vector<std::function<void(TApdTerminal &)>> steps;
        TScrollBars bars;
        TAutoScroll autoScroll;
    };
    const auto bars = [](TScrollBars b) { return [b](TApdTerminal &t) { t.SetScrollBars(b); }; };
    const auto automatic = [](TAutoScroll a) {
        return [a](TApdTerminal &t) { t.SetAutoScroll(a); };
    };
    const std::vector<Case> cases = {
        {"both after automatic both", {automatic(asBoth), bars(ssBoth)}, ssBoth, asNone},
        {"automatic both after both", {bars(ssBoth), automatic(asBoth)}, ssBoth, asBoth},
        {"horizontal leaves vertical",
         {automatic(asBoth), bars(ssHorizontal)},
         ssHorizontal,
         asVertical},
        {"vertical leaves horizontal",
         {automatic(asBoth), bars(ssVertical)},
         ssVertical,
         asHorizontal},
        {"other direction untouched",
         {automatic(asVertical), bars(ssHorizontal)},
         ssHorizontal,
         asVertical},
    };
    for (const Case &c : cases) {
        TApdTerminal t;
        t.WriteString("kept");
        for (const auto &step : c.steps)
            step(t);
        EXPECT_EQ(t.ScrollBars(), c.bars) << c.what;
        EXPECT_EQ(t.AutoScroll(), c.autoScroll) << c.what;
        EXPECT_EQ(t.Window()->Style(), tsWantTab | ScrollBarStyle(c.bars) |
                                           AutoScrollStyle(c.autoScroll) |
                                           IntegralSizeStyle(isBoth))
            << c.what;
        EXPECT_EQ(Row(t, 0, 4), "kept") << c.what;
    }
}

TEST_F(TerminalComponent, SettingsReachTheWindow)
{
    const auto colors = [](TApdTerminal &t, uint32_t &fg, uint32_t &bg) {
        uint32_t map[16];
        t.Window()->tGetColorMap(map);
        fg = map[t.Window()->tCurrentColors() & 15];
        bg = map[t.Window()->tCurrentColors() >> 16];
    };
    struct Case {
        const char *what;
        std::function<void(TApdTerminal &)> change;
        std::function<bool(TApdTerminal &)> holds;
    };
    const std::vector<Case> cases = {
        {"defaults", [](auto &) {},
         [&](TApdTerminal &t) {
             uint32_t fg = 0, bg = 1;
             colors(t, fg, bg);
             return t.Active() && t.CaptureFile() == "APD.CAP" && t.Window()->BlinkTime() == 550 &&
                    t.Window()->PersistentMark() && !t.Window()->HalfDuplex() &&
                    t.DisplayRows() == 15 && t.DisplayColumns() == 40 && fg == 0xC0C0C0 &&
                    bg == 0 && (t.Window()->Style() & tsWantTab);
         }},
        {"blink, mark, duplex",
         [](auto &t) { t.SetBlinkTime(300), t.SetPersistentMark(false), t.SetHalfDuplex(true); },
         [](TApdTerminal &t) {
             return t.Window()->BlinkTime() == 300 && !t.Window()->PersistentMark() &&
                    t.Window()->HalfDuplex();
         }},
        {"proportional font", [](auto &t) { t.SetFont(QFont("DejaVu Sans", 20)); },
         [](TApdTerminal &t) {
             return HasFixedAdvance(t.Font()) && t.Window()->Font() == t.Font() &&
                    QFontInfo(t.Font()).family() != "DejaVu Sans";
         }},
        {"colours outside the map", [](auto &t) { t.SetColor(0x123456), t.SetFontColor(0xFF); },
         [&](TApdTerminal &t) {
             uint32_t fg = 0, bg = 0;
             colors(t, fg, bg);
             return fg == 0xFF && bg == 0x123456 && t.ColorMap()[7] == 0xC0C0C0;
         }},
        {"tabs off", [](auto &t) { t.SetWantTabs(false); },
         [](TApdTerminal &t) { return !(t.Window()->Style() & tsWantTab); }},
        {"display size", [](auto &t) { t.SetDisplayRows(30), t.SetDisplayColumns(20); },
         [](TApdTerminal &t) { return t.DisplayRows() == 25 && t.DisplayColumns() == 20; }},
        {"whole columns only",
         [](auto &t) { t.SetIntegralSize(isWidth), t.SetDisplayRows(5), t.SetWidth(100); },
         [](TApdTerminal &t) { return t.DisplayRows() == 15 && t.Width() != 100; }},
    };
    for (const Case &c : cases) {
        TApdTerminal t;
        t.show();
        c.change(t);
        EXPECT_TRUE(c.holds(t)) << c.what;
    }
}

TEST_F(TerminalComponent, ActivationFollowsThePort)
{
    struct Step {
        const char *what;
        std::function<void()> action;
        int error;
        bool active, pending, running;
    };
    const std::vector<Step> steps = {
        {"loading keeps on without a port",
         [&] { term.BeginLoading(), term.SetActive(false), term.SetActive(true); }, 0, true, false,
         false},
        {"loaded without a port waits", [&] { term.EndLoading(); }, 0, true, true, false},
        {"off without a port", [&] { term.SetActive(false); }, 0, false, false, false},
        {"on without a port", [&] { term.SetActive(true); }, ecPortNotAssigned, false, false,
         false},
        {"start without a port", [&] { term.Start(); }, ecPortNotAssigned, false, false, false},
        {"closed port", [&] { term.SetComPort(&port); }, 0, false, false, false},
        {"on with the port closed", [&] { term.SetActive(true); }, 0, true, true, false},
        {"start with the port closed", [&] { term.Start(); }, ecBadHandle, true, true, false},
        {"port opens", [&] { port.SetOpen(true); }, 0, true, false, true},
        {"data reaches the screen",
         [&] {
             far.Write("abc");
             ASSERT_TRUE(
                 testsupport::ProcessEventsUntil([&] { return Row(term, 0, 3) == "abc"; }, 10000));
         },
         0, true, false, true},
        {"port closes", [&] { port.SetOpen(false); }, 0, false, true, false},
        {"port reopens", [&] { port.SetOpen(true); }, 0, true, false, true},
        {"off", [&] { term.SetActive(false); }, 0, false, false, false},
        {"close and reopen stay off",
         [&] {
             port.SetOpen(false);
             port.SetOpen(true);
         },
         0, false, false, false},
        {"on again", [&] { term.SetActive(true); }, 0, true, false, true},
        {"port taken away", [&] { term.SetComPort(nullptr); }, 0, true, false, false},
        {"open port given", [&] { term.SetComPort(&port); }, 0, true, false, true},
    };
    for (const Step &step : steps) {
        EXPECT_EQ(CodeOf(step.action), step.error) << step.what;
        EXPECT_EQ(term.Active(), step.active) << step.what;
        EXPECT_EQ(term.ActivationPending(), step.pending) << step.what;
        EXPECT_EQ(term.Running(), step.running) << step.what;
    }
}

TEST_F(TerminalComponent, CaptureFollowsItsFileAndTheKeyboardEmulatorItsMap)
{
    struct Case {
        const char *what;
        std::function<void()> action;
        TCaptureMode mode;
        int error;
    };
    const std::vector<Case> cases = {
        {"on", [&] { term.SetCaptureFile(dir.File("a.cap")), term.SetCapture(cmOn); }, cmOn, 0},
        {"new name while on",
         [&] { term.WriteString("1"), term.SetCaptureFile(dir.File("b.cap")); }, cmOn, 0},
        {"same name in other case", [&] { term.SetCaptureFile(dir.File("B.CAP")); }, cmOn, 0},
        {"kept through a new window",
         [&] { term.WriteString("2"), term.SetScrollBars(ssVertical); }, cmOn, 0},
        {"closed between a save and its restore",
         [&] { term.SaveRestore(false), term.WriteString("-"), term.SaveRestore(true); }, cmOn, 0},
        {"a second save keeps what the first closed",
         [&] { term.SaveRestore(false), term.SaveRestore(false), term.SaveRestore(true); }, cmOn,
         0},
        {"off", [&] { term.WriteString("3"), term.SetCapture(cmOff); }, cmOff, 0},
        {"turned off between a save and its restore",
         [&] {
             term.SetCapture(cmAppend), term.SaveRestore(false), term.SetCapture(cmOff);
             term.SaveRestore(true), term.WriteString("4");
         },
         cmOff, 0},
        {"unwritable folder",
         [&] { term.SetCaptureFile("/nonexistent/x.cap"), term.SetCapture(cmOn); }, cmOff, -2},
        {"write failure closes it",
         [&] {
             term.SetCaptureFile("/dev/full"), term.SetCapture(cmOn);
             term.WriteString(std::string(8192, 'x'));
         },
         cmOff, 0},
    };
    std::vector<uint16_t> errors;
    term.OnTerminalError = [&](TApdCustomComPort *, uint16_t code) { errors.push_back(code); };
    for (const Case &c : cases) {
        const int code = CodeOf(c.action);
        EXPECT_EQ(code == 0, c.error == 0) << c.what << ": " << code;
        EXPECT_EQ(term.Capture(), c.mode) << c.what;
    }
    EXPECT_EQ(dir.Read("a.cap"), "1");
    EXPECT_EQ(dir.Read("b.cap"), "23");
    EXPECT_EQ(errors, std::vector<uint16_t>{uint16_t(-ENOSPC)});

    // A keyboard emulator enabled after it was given to the terminal is the one asked.
    dir.Write("k.ini", "[Index]\nVT=#\n[Defaults]\n_Entries=1\n[VT]\nKey1=38,14,vt-up\n");
    TApdKeyboardEmulator keyboard;
    term.SetKeyBoardEmu(&keyboard);
    keyboard.SetMapFileName(dir.File("k.ini"));
    keyboard.SetProcessExtended(true);
    keyboard.SetEnabled(true);
    port.SetOpen(true);
    term.SetComPort(&port);
    term.Window()->wmKeydown(38, KeyRecordOf(38, Qt::NoModifier, 0));
    EXPECT_TRUE(far.WaitForSent(5, std::chrono::seconds(10)));
    EXPECT_EQ(far.TakeSent(), "vt-up");
}

} // namespace
