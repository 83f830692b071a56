// The RS232 terminal window on the simulated null modem: what showing and closing switch, the
// status line, the Insert key, and the emulation kept in loader.ini.

#include "terminal/FrmTerminal.h"

#include "lights/ApdSLController.h"
#include "platform/Help.h"
#include "serial/ApdComPort.h"
#include "serial/SimulatedDevice.h"
#include "terminal/ApdEmulator.h"
#include "tests/support/RecordedHelp.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace terminal;
using namespace serial;

namespace
{

class FrmTerminalTest : public ::testing::Test
{
  protected:
    FrmTerminalTest()
    {
        dir.Enter();
        port.SetDeviceLayer(dlOther);
        port.CustomDeviceLayer = InstallSimulatedDeviceLayer;
        port.SetComNumber(5);
        port.SetOpen(true);
    }
    ~FrmTerminalTest() override { port.SetOpen(false); }

    std::unique_ptr<TFrmTerminal> Make()
    {
        return std::make_unique<TFrmTerminal>(
            &port, [this](bool on) { triggers.push_back(on); }, dir.File("loader.ini"));
    }

    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    TSimulatedDevice far{"COM5"};
    TApdComPort port;
    std::vector<bool> triggers;
};

TEST_F(FrmTerminalTest, ShowingAndClosingSwitchTheTerminalAndTheLoader)
{
    std::unique_ptr<TFrmTerminal> frm = Make();
    TFrmTerminal &f = *frm;
    struct Step {
        const char *what;
        std::function<void()> action;
        std::vector<bool> triggers;
        bool running;
        const char *section0;
        const char *section1;
        int width0;
    };
    const auto insert = [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
        QApplication::sendEvent(f.ApdTerminal1->Window(), &press);
    };
    const std::vector<Step> steps = {
        {"created", [] {}, {}, false, "COM? N81 19200", "01 01", 209},
        {"shown", [&] { f.show(); }, {false}, true, "COM? N81 19200", "01 01", 209},
        {"activated", [&] { f.FormActivate(); }, {false}, true, " COM5 8N1 19200", "01 01", 209},
        {"cursor to row 3 column 10",
         [&] {
             f.SetEmulation(TTerminalEmulation::Ansi);
             f.ApdTerminal1->WriteString("\x1b[3;10H");
             testsupport::ProcessEventsUntil([&] { return f.StatusText(1) == " 3 10"; }, 10000);
         },
         {false},
         true,
         " COM5 8N1 19200",
         " 3 10",
         155},
        {"closed", [&] { f.close(); }, {false, true}, false, " COM5 8N1 19200", " 3 10", 155},
        {"shown again",
         [&] { f.show(); },
         {false, true, false},
         true,
         " COM5 8N1 19200",
         " 3 10",
         155},
    };
    for (const Step &step : steps) {
        step.action();
        EXPECT_EQ(triggers, step.triggers) << step.what;
        EXPECT_EQ(f.ApdTerminal1->Running(), step.running) << step.what;
        EXPECT_EQ(f.ApdSLController1->Watching(), step.running) << step.what;
        EXPECT_EQ(f.StatusText(0).toStdString(), step.section0) << step.what;
        EXPECT_EQ(f.StatusText(1).toStdString(), step.section1) << step.what;
        EXPECT_EQ(f.StatusWidth(0), step.width0) << step.what;
        EXPECT_EQ(f.StatusWidth(1), 45) << step.what;
    }
    // Insert toggles the scrollback from the terminal (and so from anywhere in the window).
    for (bool on : {true, false}) {
        insert();
        EXPECT_EQ(f.ApdTerminal1->Scrollback(), on);
        EXPECT_EQ(f.MnuScrollBack->isChecked(), on);
    }
    // F1 in the terminal opens the window's help instead of going to the device.
    testsupport::RecordedHelp help;
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(f.ApdTerminal1->Window(), &f1);
    EXPECT_EQ(help.Requests(),
              (std::vector<testsupport::HelpRequest>{
                  {"loader.hlp", platform::HelpContext, platform::TerminalHelpContext}}));
}

TEST_F(FrmTerminalTest, APortThatDoesNotReopenIsReportedAndNamedNowhere)
{
    far.Hangup();
    std::unique_ptr<TFrmTerminal> frm = Make();
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(frm->PortFailure().empty());
    frm->FormActivate();
    EXPECT_EQ(frm->StatusText(0).toStdString(), "");
    far.Reconnect();
    frm->FormCreate();
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(frm->PortFailure(), "");
    frm->FormActivate();
    EXPECT_EQ(frm->StatusText(0).toStdString(), " COM5 8N1 19200");
}

TEST_F(FrmTerminalTest, EmulationIsKeptInLoaderIni)
{
    struct Case {
        const char *ini;
        TTerminalEmulation emulation;
        int type; // of the attached emulator, -1 for none
    };
    const std::vector<Case> cases = {
        {"", TTerminalEmulation::Plain, -1},
        {"[Terminal]\nEmulation=VT100\n", TTerminalEmulation::Vt100, etVt100},
        {"[terminal]\nemulation=vt52\n", TTerminalEmulation::Vt52, etVt52},
        {"[Terminal]\nEmulation=ANSI\n", TTerminalEmulation::Ansi, etAnsi},
        {"[Terminal]\nEmulation=Teletype\n", TTerminalEmulation::Plain, -1},
    };
    for (const Case &c : cases) {
        dir.Write("loader.ini", c.ini);
        std::unique_ptr<TFrmTerminal> f = Make();
        EXPECT_EQ(f->Emulation(), c.emulation) << c.ini;
        EXPECT_TRUE(f->MnuEmulation[size_t(c.emulation)]->isChecked()) << c.ini;
        const TApdCustomEmulator *emulator = f->ApdTerminal1->Emulator();
        EXPECT_EQ(emulator ? emulator->EmulationType() : -1, c.type) << c.ini;
        EXPECT_EQ(f->ApdTerminal1->PageHeight(), c.type == etVt100 ? 24 : 25) << c.ini;
        // The choice made from the menu is the one the next window starts with.
        const auto next = TTerminalEmulation((int(c.emulation) + 1) % 4);
        f->MnuEmulation[size_t(next)]->trigger();
        EXPECT_EQ(f->ApdTerminal1->PageHeight(), next == TTerminalEmulation::Vt100 ? 24 : 25);
        f.reset();
        EXPECT_EQ(Make()->Emulation(), next) << c.ini;
    }
    EXPECT_TRUE(boxes.Shown().empty());
}

} // namespace
