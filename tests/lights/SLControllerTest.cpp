// The controller driving lamps through the real port component over the simulated null modem
// (and a pseudo terminal), with the engine's tick driven by the test: lamps over time, the
// handlers it passes events on to, its triggers, and its states as the port opens and closes.

#include "lights/ApdSLController.h"

#include "serial/ApdExcept.h"
#include "serial/Dispatcher.h"
#include "serial/MessageTarget.h"
#include "serial/PosixDevice.h"
#include "serial/SimulatedDevice.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace lights;
using namespace serial;

namespace
{

std::atomic<uint32_t> gFakeMs{55 * 1000};
uint32_t FakeClock()
{
    return gFakeMs.load();
}
void SetTick(int32_t tick)
{
    gFakeMs = static_cast<uint32_t>(tick * 55);
}

bool WaitUntil(const std::function<bool()> &pred)
{
    return testsupport::ProcessEventsUntil(pred, 10000);
}

// The application's handlers, installed before the lamps: each event they see, with the lamps
// as they were then.
std::vector<std::string> gAppLog;
std::function<std::string()> gLampsNow;
void AppAvail(TApdCustomComPort &, uint16_t)
{
    gAppLog.push_back("avail " + gLampsNow());
}
void AppStatus(TApdCustomComPort &, uint16_t)
{
    gAppLog.push_back("status " + gLampsNow());
}
void AppTimer(TApdCustomComPort &, uint16_t handle)
{
    gAppLog.push_back("timer " + std::to_string(handle));
}

using State = TApdCustomSLController::TState;

struct Step {
    const char *what;
    std::function<void()> action;
    const char *lit;                 // CTS DSR DCD RING TXD RXD ERROR BREAK
    State state = State::Monitoring; // the controller's state afterwards
};

class Lights : public ::testing::Test
{
  protected:
    Lights()
    {
        dir.Enter();
        SetMillisecondClock(FakeClock);
        SetTick(1000);
        port.SetDeviceLayer(dlOther);
        port.CustomDeviceLayer = InstallSimulatedDeviceLayer;
        port.SetComNumber(5);
        port.OnTriggerAvail = AppAvail;
        port.OnTriggerStatus = AppStatus;
        port.OnTriggerTimer = AppTimer;
        gAppLog.clear();
        gLampsNow = [this] { return LitNow(); };
    }
    ~Lights() override
    {
        controller.reset();
        port.SetOpen(false);
        SetMillisecondClock(nullptr);
        gLampsNow = nullptr;
    }

    // Lamps in the order of TLightSet: '1' for each one given.
    void Use(const char *which)
    {
        TLightSet set;
        std::array<TApdCustomStatusLight **, 8> entries = {
            &set.CTSLight, &set.DSRLight, &set.DCDLight,   &set.RINGLight,
            &set.TXDLight, &set.RXDLight, &set.ERRORLight, &set.BREAKLight};
        for (size_t i = 0; i < entries.size(); ++i)
            if (which[i] == '1')
                *entries[i] = &lamps[i];
        controller->SetLights(set);
    }
    std::string LitNow() const
    {
        std::string lit;
        for (const TApdStatusLight &lamp : lamps)
            lit += lamp.Lit() ? '1' : '0';
        return lit;
    }
    // Moves the engine's tick to the given one and waits until the dispatcher has delivered
    // every timer due by then: a witness timer in a later slot fires after all of them.
    void Tick(int32_t tick)
    {
        if (witness == 0)
            witness = port.AddClockTrigger();
        SetTick(tick - 2);
        port.ArmClockTrigger(witness, 1, true);
        SetTick(tick);
        const std::string seen = "timer " + std::to_string(witness);
        const auto count = [&] { return std::count(gAppLog.begin(), gAppLog.end(), seen); };
        const auto before = count();
        ASSERT_TRUE(WaitUntil([&] { return count() > before; })) << "tick " << tick;
    }
    void Run(const std::vector<Step> &steps);
    TTriggerSnapshot Triggers()
    {
        TTriggerSnapshot snapshot;
        StashTriggers(port.PortSlot(), snapshot);
        return snapshot;
    }
    std::pair<int, int> StatusAndTimers()
    {
        const TTriggerSnapshot t = Triggers();
        std::pair<int, int> count;
        for (int h = kFirstHandle; h <= kMaxHandle; ++h) {
            count.first += t.Handles[h].Kind == hkStatus;
            count.second += t.Handles[h].Kind == hkTimer;
        }
        return count;
    }

    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    TSimulatedDevice far{"COM5"};
    TApdComPort port;
    std::array<TApdStatusLight, 8> lamps;
    std::unique_ptr<TApdSLController> controller =
        std::make_unique<TApdSLController>(nullptr, &port);
    uint16_t witness = 0;
};

void Lights::Run(const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        step.action();
        EXPECT_TRUE(WaitUntil([&] { return LitNow() == step.lit; }))
            << step.what << ": " << LitNow() << " instead of " << step.lit;
        EXPECT_EQ(controller->State(), step.state) << step.what;
    }
}

TEST_F(Lights, LampsFollowTheLine)
{
    port.SetOpen(true);
    Use("11111111");
    const std::vector<Step> steps = {
        {"on", [&] { controller->SetWatching(true); }, "11100000"},
        {"CTS off", [&] { far.SetCTS(false); }, "01100000"},
        {"DSR off", [&] { far.SetDSR(false); }, "00100000"},
        {"DCD off", [&] { far.SetDCD(false); }, "00000000"},
        {"CTS on", [&] { far.SetCTS(true); }, "10000000"},
        {"ring", [&] { far.SetRI(true), far.SetRI(false); }, "10010000"},
        {"ring over after 8", [&] { Tick(1009); }, "10000000"},
        {"framing error", [&] { far.RaiseLineError(ceFrame); }, "10000010"},
        {"second error while lit",
         [&] {
             SetTick(1030);
             far.RaiseLineError(ceFrame);
             ASSERT_TRUE(WaitUntil([&] {
                 TPortView view{};
                 return InspectPort(port.PortSlot(), view) == 0 && (view.LineErrors & ceFrame);
             }));
         },
         "10000010"},
        {"lit through tick 36", [&] { Tick(1045); }, "10000010"},
        {"out after 36, not prolonged", [&] { Tick(1046); }, "10000000"},
        {"a further error", [&] { far.RaiseLineError(ceFrame); }, "10000010"},
        {"out again", [&] { Tick(1083); }, "10000000"},
        {"break", [&] { far.SendBreak(); }, "10000001"},
        {"break over", [&] { Tick(1120); }, "10000000"},
        {"data", [&] { far.Write("abc"); }, "10000100"},
        {"unread input keeps RXD", [&] { Tick(1125); }, "10000100"},
        {"read, RXD out at the next expiry",
         [&] {
             char got[3];
             port.ReadBytes(got, 3);
             Tick(1130);
         },
         "10000000"},
        {"sent", [&] { port.SendText("hello"); }, "10001000"},
        {"TXD out once drained", [&] { Tick(1135); }, "10000000"},
        {"sent again", [&] { port.SendText("hi"); }, "10001000"},
        // The GUI thread held past the dispatcher's send limit (as the loader's pauses hold it)
        // while TXD's timer runs out: its message is given up, and a timer fires once per arming.
        {"TXD timer message given up",
         [&] {
             SetTick(1140);
             std::this_thread::sleep_for(std::chrono::milliseconds(kSendLimitMs + 500));
             testsupport::Settle(50);
         },
         "10001000"},
        {"TXD out once the message is overdue", [&] { SetTick(1170); }, "10000000"},
        {"and lit by the next output", [&] { port.SendText("again"); }, "10001000"},
    };
    Run(steps);
    EXPECT_TRUE(boxes.Shown().empty());

    // The application's handlers saw the events after the lamps had changed.
    for (const char *seen : {"status 10000010", "avail 10000100"})
        EXPECT_NE(std::find(gAppLog.begin(), gAppLog.end(), seen), gAppLog.end()) << seen;
    controller->SetWatching(false);
    EXPECT_EQ(*port.OnTriggerAvail.target<decltype(&AppAvail)>(), &AppAvail);
    EXPECT_EQ(*port.OnTriggerStatus.target<decltype(&AppStatus)>(), &AppStatus);
    EXPECT_EQ(*port.OnTriggerTimer.target<decltype(&AppTimer)>(), &AppTimer);
}

struct TriggerCase {
    const char *name;
    const char *lamps;
    int heldStatus, heldTimers; // triggers someone else holds already
    int failure;                // the code switching on raises, or 0
    int status, timers;         // the controller's own triggers when on
};

class LightTriggers : public Lights, public ::testing::WithParamInterface<TriggerCase>
{
};

TEST_P(LightTriggers, AllocatesItsOwnAndGivesThemBack)
{
    const TriggerCase &c = GetParam();
    port.SetOpen(true);
    for (int i = 0; i < c.heldStatus; ++i)
        port.AddStateTrigger(StatusOutFree);
    for (int i = 0; i < c.heldTimers; ++i)
        port.AddClockTrigger();
    const TTriggerSnapshot before = Triggers();
    Use(c.lamps);
    int raised = 0;
    try {
        controller->SetWatching(true);
    } catch (const EAPDException &e) {
        raised = e.ResultCode;
    }
    EXPECT_EQ(raised, c.failure);
    EXPECT_EQ(StatusAndTimers(), std::make_pair(c.heldStatus + c.status, c.heldTimers + c.timers));
    // A thousand times on and off (or failing) leaves exactly the triggers that were there.
    for (int i = 0; i < 1000 && c.failure == 0; ++i) {
        controller->SetWatching(false);
        controller->SetWatching(true);
    }
    // Other lamps while on: the triggers follow them.
    if (c.failure == 0) {
        Use("11100000");
        EXPECT_EQ(StatusAndTimers(), std::make_pair(c.heldStatus + 1, c.heldTimers));
    }
    controller->SetWatching(false);
    const TTriggerSnapshot after = Triggers();
    EXPECT_EQ(std::memcmp(after.Handles, before.Handles, sizeof before.Handles), 0);
    EXPECT_NE(port.OnTriggerStatus.target<decltype(&AppStatus)>(), nullptr);
    EXPECT_FALSE(controller->Watching());
}

INSTANTIATE_TEST_SUITE_P(
    Lights, LightTriggers,
    ::testing::Values(TriggerCase{"ModemLampsOnly", "11100000", 0, 0, 0, 1, 0},
                      TriggerCase{"AllLamps", "11111111", 0, 0, 0, 4, 5},
                      TriggerCase{"StatusSlotsRunOut", "11111111", 9, 0, -5001, 0, 0},
                      TriggerCase{"TimerSlotsRunOut", "11111111", 0, 7, -5001, 0, 0},
                      TriggerCase{"NoLamps", "00000000", 0, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<TriggerCase> &p) { return std::string(p.param.name); });

TEST_F(Lights, FollowTheOpeningAndClosingPort)
{
    Use("11100010");
    const std::vector<Step> steps = {
        {"on while closed", [&] { controller->SetWatching(true); }, "00000000", State::Requested},
        {"port opens", [&] { port.SetOpen(true); }, "11100000"},
        {"CTS off", [&] { far.SetCTS(false); }, "01100000"},
        {"port closes", [&] { port.SetOpen(false); }, "01100000", State::Requested},
        {"reopens", [&] { far.SetCTS(true), port.SetOpen(true); }, "11100000"},
        {"error", [&] { far.RaiseLineError(ceOverrun); }, "11100010"},
    };
    Run(steps);
    EXPECT_EQ(StatusAndTimers(), std::make_pair(2, 1));
    port.SetOpen(false);
    EXPECT_EQ(controller->State(), State::Requested);
    EXPECT_TRUE(controller->Watching());
    controller->SetWatching(false);
    EXPECT_EQ(controller->State(), State::Idle);
    port.SetOpen(true);
    EXPECT_EQ(StatusAndTimers(), std::make_pair(0, 0));
}

// Lamps that cannot get their triggers when the port opens do not make the opening fail.
TEST_F(Lights, APortOpeningWithoutRoomForTheLampsStillOpens)
{
    port.SetOpen(true);
    for (int i = 0; i < kStatusSlots; ++i)
        port.AddStateTrigger(StatusOutFree);
    port.SetOpen(false); // the port keeps its triggers for the next open
    Use("11100000");
    controller->SetWatching(true);
    EXPECT_NO_THROW(port.SetOpen(true));
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(controller->Watching());
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "No more trigger slots");
    EXPECT_EQ(StatusAndTimers(), std::make_pair(kStatusSlots, 0));
}

TEST_F(Lights, ForgetsWhatIsDestroyedAndNeedsAPort)
{
    port.SetOpen(true);
    auto *gone = new TApdStatusLight;
    TLightSet set;
    set.CTSLight = gone;
    set.DSRLight = &lamps[1];
    controller->SetLights(set);
    controller->SetWatching(true);
    delete gone;
    EXPECT_EQ(controller->Lights().CTSLight, nullptr);
    far.SetCTS(false);
    far.SetDSR(false);
    EXPECT_TRUE(WaitUntil([&] { return !lamps[1].Lit(); }));

    // A new port keeps the monitoring on; none refuses it.
    auto other = std::make_unique<TApdComPort>();
    controller->SetComPort(other.get());
    EXPECT_EQ(controller->State(), State::Requested);
    EXPECT_NE(port.OnTriggerStatus.target<decltype(&AppStatus)>(), nullptr);
    other.reset();
    EXPECT_EQ(controller->ComPort(), nullptr);
    EXPECT_FALSE(controller->Watching());
    try {
        controller->SetWatching(true);
        ADD_FAILURE() << "switched on without a port";
    } catch (const EPortNotAssigned &e) {
        EXPECT_STREQ(e.what(), "ComPort component not assigned");
    }
}

// A copy of the watched port carries the controller's hooks, users and triggers along; its
// line is not the one the lamps show.
TEST_F(Lights, ACopiedPortDoesNotDriveTheLamps)
{
    port.SetOpen(true);
    Use("00000010");
    controller->SetWatching(true);
    TSimulatedDevice otherLine("COM6");
    TApdComPort copy;
    copy.Assign(port);
    copy.SetComNumber(6);
    copy.SetOpen(true);
    // The copy's error trigger fires through the copied chain, down to the application.
    const auto before = std::count(gAppLog.begin(), gAppLog.end(), "status 00000000");
    otherLine.RaiseLineError(ceFrame);
    ASSERT_TRUE(WaitUntil(
        [&] { return std::count(gAppLog.begin(), gAppLog.end(), "status 00000000") > before; }));
    EXPECT_EQ(LitNow(), "00000000");
    copy.SetOpen(false);
    EXPECT_EQ(controller->State(), State::Monitoring);
}

// A pseudo terminal reports no modem lines: the lamps stay dark and nothing is raised.
TEST_F(Lights, PseudoTerminalLeavesTheLampsDark)
{
    testsupport::PseudoTerminal pty;
    ASSERT_TRUE(pty.Valid());
    const std::string previousIni = DeviceIniFile();
    dir.Write("loader.ini", "[Devices]\nCOM7=" + pty.SlavePath() + "\n");
    SetDeviceIniFile(dir.File("loader.ini"));
    TApdComPort ptyPort;
    ptyPort.SetComNumber(7);
    ptyPort.SetOpen(true);
    controller->SetComPort(&ptyPort);
    Use("11111111");
    controller->SetWatching(true);
    pty.Write("x");
    EXPECT_TRUE(WaitUntil([&] { return LitNow() == "00000100"; })) << LitNow();
    EXPECT_TRUE(boxes.Shown().empty());
    controller->SetWatching(false);
    controller->SetComPort(&port);
    SetDeviceIniFile(previousIni);
}

} // namespace
