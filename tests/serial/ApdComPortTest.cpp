// The port component over the simulated null modem: settings and their effect on the line,
// the open and close sequences, operations, AwaitText and the events of trigger messages.

#include "serial/ApdComPort.h"

#include "serial/ApdExcept.h"
#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/GuiMessageTarget.h"
#include "serial/MessageTarget.h"
#include "serial/PosixDevice.h"
#include "serial/SimulatedDevice.h"
#include "tests/serial/ComPortFixture.h"
#include "tests/support/ScriptedBoxes.h"
#include "tests/support/TempDir.h"

#include <QTimer>
#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace serial;
using comporttest::FlushDeferredDeletes;
using comporttest::Settle;
using comporttest::TEventLog;
using comporttest::WaitUntil;

namespace
{

void UseSimulatedLayer(TApdCustomComPort &port, uint16_t comNumber)
{
    port.SetDeviceLayer(dlOther);
    port.CustomDeviceLayer = InstallSimulatedDeviceLayer;
    port.SetComNumber(comNumber);
}

// The text and result code of the exception an action raises ("" when it raises nothing).
template <typename Action> std::pair<std::string, int> Raised(Action &&action)
{
    try {
        action();
    } catch (const EAPDException &e) {
        return {e.what(), e.ResultCode};
    } catch (const EInOutError &e) {
        return {e.what(), -e.ErrorCode};
    }
    return {"", 0};
}

class SimulatedPort : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir.Enter();
        UseSimulatedLayer(port, 3);
    }
    void TearDown() override
    {
        port.SetOpen(false);
        FlushDeferredDeletes();
    }

    testsupport::TempDir dir;
    testsupport::ScriptedBoxes boxes;
    TSimulatedDevice device{"COM3"};
    TApdComPort port;
};

// A target that records the notices it is sent.
class TRecordingWindow : public TMessageTarget
{
  public:
    TRecordingWindow(std::string name, std::vector<std::string> &log) : name_(name), log_(log) {}
    void HandleMessage(unsigned msg, uintptr_t, intptr_t) override
    {
        log_.push_back(name_ + (msg == NoticePortOpened ? " opened" : " closing"));
    }
    std::shared_ptr<TSendTicket> PostMessage(unsigned msg, uintptr_t w, intptr_t l) override
    {
        HandleMessage(msg, w, l);
        return TSendTicket::Completed();
    }
    bool OnOwnThread() const override { return true; }

  private:
    std::string name_;
    std::vector<std::string> &log_;
};

} // namespace

TEST(ComPortSettings, DefaultsOfAFreshComponent)
{
    TApdComPort port;
    EXPECT_EQ(port.DeviceLayer(), dlWin32);
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.Parity(), pNone);
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.InSize(), 4096);
    EXPECT_EQ(port.OutSize(), 4096);
    EXPECT_TRUE(port.AutoOpen());
    EXPECT_EQ(port.DispatcherMode(), dWin32);
    EXPECT_FALSE(port.Open());
    EXPECT_TRUE(port.DTR());
    EXPECT_TRUE(port.RTS());
    EXPECT_TRUE(port.HWFlowOptions().Empty());
    EXPECT_EQ(port.SWFlowOptions(), swfNone);
    EXPECT_EQ(port.XOnChar(), 17);
    EXPECT_EQ(port.XOffChar(), 19);
    EXPECT_EQ(port.BufferFull(), 0);
    EXPECT_EQ(port.BufferResume(), 0);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(port.TraceSize(), 10000);
    EXPECT_EQ(port.TraceName(), "APRO.TRC");
    EXPECT_TRUE(port.TraceHex());
    EXPECT_EQ(port.Logging(), tlOff);
    EXPECT_EQ(port.LogSize(), 10000);
    EXPECT_EQ(port.LogName(), "APRO.LOG");
    EXPECT_TRUE(port.LogHex());
    EXPECT_TRUE(port.UseMSRShadow());
    EXPECT_TRUE(port.UseEventWord());
    EXPECT_EQ(port.TriggerLength(), 1);
    EXPECT_EQ(port.CommNotificationLevel(), 10);
    EXPECT_EQ(port.TapiMode(), tmAuto);
    EXPECT_EQ(port.Tag(), 0);
    EXPECT_EQ(port.PortSlot(), 0);
    EXPECT_TRUE(static_cast<bool>(port.CustomDeviceLayer));
    EXPECT_EQ(ApdComPort(12), "COM12");
}

TEST(ComPortSettings, ProgramStartClearsTheTableAndInstallsThePosixLayer)
{
    TApdComPort stray;
    PortComponentTable[kMaxPortComponents] = &stray;
    InstallSimulatedDeviceLayer();
    InitializeComPorts();
    for (TApdCustomComPort *entry : PortComponentTable)
        EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(InstalledDeviceRoutines().Open, PosixDeviceRoutines().Open);
}

TEST(ComPortSettings, FlowControlDefaultsFromInputSize)
{
    struct Case {
        const char *name;
        uint16_t inSize, full, resume;
        THWFlowOptions hw;
        TSWFlowOptions sw;
        uint16_t expectFull, expectResume;
    };
    const Case cases[] = {
        {"rts and cts", 4096, 0, 0, {hwfUseRTS, hwfRequireCTS}, swfNone, 3686, 409},
        {"software both", 4096, 0, 0, {}, swfBoth, 3072, 1024},
        {"software receive", 1000, 0, 0, {}, swfReceive, 750, 250},
        {"dtr, odd size", 1001, 0, 0, {hwfUseDTR}, swfNone, 900, 100},
        {"full kept, resume made", 4096, 2000, 0, {hwfUseRTS}, swfNone, 2000, 409},
        {"resume above full", 4096, 2000, 3000, {hwfUseRTS}, swfNone, 2000, 200},
        {"full above input size", 100, 500, 0, {hwfUseRTS}, swfNone, 90, 10},
        {"hardware first, software keeps", 4096, 0, 0, {hwfUseRTS}, swfBoth, 3686, 409},
        {"no flow: nothing computed", 4096, 0, 0, {}, swfNone, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TApdComPort port;
        port.SetInSize(c.inSize);
        port.SetBufferFull(c.full);
        port.SetBufferResume(c.resume);
        port.SetHWFlowOptions(c.hw);
        port.SetSWFlowOptions(c.sw);
        EXPECT_EQ(port.BufferFull(), c.expectFull);
        EXPECT_EQ(port.BufferResume(), c.expectResume);
        EXPECT_FALSE(port.Open());
    }
}

TEST(ComPortSettings, ThresholdSettersAndSizeCaps)
{
    TApdComPort port;
    port.SetBufferFull(5000); // above InSize 4096: 90 % of the value
    EXPECT_EQ(port.BufferFull(), 4500);
    port.SetBufferFull(3000);
    port.SetBufferResume(3500); // above BufferFull: 10 % of BufferFull
    EXPECT_EQ(port.BufferResume(), 300);
    port.SetHWFlowOptions({hwfUseRTS});
    port.SetBufferFull(0); // with flow on, the default comes back
    EXPECT_EQ(port.BufferFull(), 3686);
    EXPECT_EQ(port.BufferResume(), 300);

    port.SetTraceSize(40000);
    EXPECT_EQ(port.TraceSize(), 32760);
    port.SetLogSize(65535);
    EXPECT_EQ(port.LogSize(), 65520);
    port.SetLogSize(20000);
    EXPECT_EQ(port.LogSize(), 20000);
    port.SetTraceName(std::string(300, 'x'));
    EXPECT_EQ(port.TraceName().size(), 255u);

    struct LayerCase {
        TDeviceLayer set, expect;
    };
    for (const LayerCase c :
         {LayerCase{dlComm, dlWin32}, LayerCase{dlOther, dlOther}, LayerCase{dlFossil, dlOther},
          LayerCase{dlNone, dlNone}, LayerCase{dlWinsock, dlNone}, LayerCase{dlWin32, dlWin32}}) {
        port.SetDeviceLayer(c.set);
        EXPECT_EQ(port.DeviceLayer(), c.expect) << int(c.set);
    }
    port.SetDispatcherMode(dTimer);
    EXPECT_EQ(port.DispatcherMode(), dWin32);
    port.SetDispatcherMode(dNone);
    EXPECT_EQ(port.DispatcherMode(), dNone);
}

TEST(ComPortSettings, TraceAndLogStatesOfAClosedPort)
{
    TApdComPort port;
    for (TTraceLogState state : {tlOn, tlDump, tlOn, tlPause, tlOn, tlAppend, tlOn, tlClear}) {
        port.SetTracing(state);
        port.SetLogging(state);
        const TTraceLogState expect = state == tlOn ? tlOn : tlOff;
        EXPECT_EQ(port.Tracing(), expect) << int(state);
        EXPECT_EQ(port.Logging(), expect) << int(state);
    }
}

TEST(ComPortLoading, LoadedPortWithoutAutoOpenStaysClosed)
{
    TSimulatedDevice device("COM3");
    TApdComPort port;
    port.BeginLoading();
    UseSimulatedLayer(port, 3);
    port.SetAutoOpen(false);
    port.EndLoading();
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(device.IsOpen());

    EXPECT_EQ(port.OutputRoom(), 4096);
    port.SetOutSize(1000);
    EXPECT_EQ(port.OutputRoom(), 1000);
    EXPECT_EQ(port.OutputCount(), 0);
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_FALSE(port.CTS());
    EXPECT_EQ(port.PendingLineError(), 0);
    EXPECT_FALSE(port.Open());

    const auto [text, code] = Raised([&] { port.SendText("AT\r"); });
    EXPECT_EQ(text, "Bad handle passed to com function");
    EXPECT_EQ(code, ecBadHandle);
    EXPECT_THROW(port.ReadByte(), EBadHandle);
    EXPECT_FALSE(device.IsOpen());

    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(device.IsOpen());
}

TEST(ComPortLoading, OpenStoredWhileLoadingOpensAfterLoading)
{
    TSimulatedDevice device("COM3");
    TApdComPort port;
    port.BeginLoading();
    UseSimulatedLayer(port, 3);
    port.SetOpen(true);
    // Nothing opens or raises while loading, not even an operation on the closed port.
    EXPECT_FALSE(device.IsOpen());
    EXPECT_NO_THROW(port.SendText("x"));
    EXPECT_FALSE(device.IsOpen());
    port.EndLoading();
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(PortComponentTable[port.PortSlot()], &port);
}

TEST(ComPortLoading, AutoOpenOnFirstUseOutsideLoading)
{
    TSimulatedDevice device("COM3");
    TApdComPort port;
    UseSimulatedLayer(port, 3);
    EXPECT_EQ(port.OutputRoom(), 4096); // a query: no open
    EXPECT_FALSE(device.IsOpen());
    port.SendText("hello");
    EXPECT_TRUE(port.Open());
    EXPECT_TRUE(device.WaitForSent(5, std::chrono::seconds(5)));
    EXPECT_EQ(device.TakeSent(), "hello");
}

TEST(ComPortOpen, FailedOpensRaiseAndLeaveThePortClosed)
{
    TSimulatedDevice device("COM3");
    TApdComPort holder; // keeps COM3 busy for the in-use case
    UseSimulatedLayer(holder, 3);

    struct Case {
        const char *name;
        std::function<void(TApdComPort &)> setup;
        std::string text;
        int code;
        int systemError; // LastOpenError afterwards
    };
    const Case cases[] = {
        {"no port number", [](TApdComPort &p) { p.SetComNumber(0); },
         "The ComNumber property of the TApdComPort has not been set", ecNoPortSelected, 0},
        {"absent device", [](TApdComPort &p) { p.SetComNumber(9); },
         "ie_BadId - Specified comport doesn't exist", ecBadId, ENOENT},
        {"device in use", [&](TApdComPort &) { holder.SetOpen(true); },
         "ie_Open - device already open", ecAlreadyOpen, EBUSY},
        {"no device layer", [](TApdComPort &p) { p.SetDeviceLayer(dlNone); },
         "No device layer specified", ecNullApi, 0},
        {"custom layer unset", [](TApdComPort &p) { p.CustomDeviceLayer = nullptr; },
         "No device layer specified", ecNullApi, 0},
        {"open from no handle", [](TApdComPort &p) { p.SetTapiMode(tmOn); }, "Invalid file handle",
         ecInvalidHandle, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TApdComPort port;
        UseSimulatedLayer(port, 3);
        c.setup(port);
        const auto [text, code] = Raised([&] { port.SetOpen(true); });
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(port.LastOpenError(), c.systemError);
        EXPECT_FALSE(port.Open());
        EXPECT_FALSE(port.Active());
        EXPECT_EQ(port.PortSlot(), 0);
        holder.SetOpen(false);
    }
    EXPECT_THROW(
        {
            TApdComPort port;
            UseSimulatedLayer(port, 0);
            port.SetOpen(true);
        },
        ENoPortSelected);
}

TEST_F(SimulatedPort, OpenAppliesTheSettingsToTheLine)
{
    port.SetBaud(9600);
    port.SetParity(pEven);
    port.SetDataBits(7);
    port.SetStopBits(2);
    port.SetHWFlowOptions({hwfUseRTS, hwfRequireCTS});
    port.SetDTR(false);
    port.SetOpen(true);
    ASSERT_TRUE(port.Open());
    TLineState line = device.LineState();
    EXPECT_EQ(line.BaudRate, 9600u);
    EXPECT_EQ(line.Parity, 2);
    EXPECT_EQ(line.ByteSize, 7);
    EXPECT_EQ(line.StopBits, 2);
    EXPECT_EQ(line.RtsControl, TLineState::Handshake);
    EXPECT_TRUE(line.OutxCtsFlow);
    EXPECT_EQ(line.XoffLim, 4096 - 3686);
    EXPECT_EQ(line.XonLim, 409);
    EXPECT_FALSE(device.DTR());

    // Changes on the open port reach the line at once.
    port.SetBaud(115200);
    port.SetHWFlowOptions({});
    port.SetSWFlowOptions(swfBoth);
    port.SetXOnChar('Q');
    port.SetDTR(true);
    line = device.LineState();
    EXPECT_EQ(line.BaudRate, 115200u);
    EXPECT_FALSE(line.OutxCtsFlow);
    EXPECT_TRUE(line.OutX);
    EXPECT_TRUE(line.InX);
    EXPECT_EQ(line.XonChar, 'Q');
    EXPECT_EQ(line.XoffChar, 19);
    EXPECT_TRUE(device.DTR());

    // Reads inside handlers are provisional for a component's port; the event word option
    // follows its property.
    TPortView view{};
    ASSERT_EQ(InspectPort(port.PortSlot(), view), 0);
    EXPECT_EQ(view.Options & poConsumeInHandler, 0);
    EXPECT_EQ(view.Options & poUseEventWord, poUseEventWord);
    port.SetUseEventWord(false);
    ASSERT_EQ(InspectPort(port.PortSlot(), view), 0);
    EXPECT_EQ(view.Options & poUseEventWord, 0);
}

TEST_F(SimulatedPort, SendAndReceiveThroughTheOperations)
{
    port.SetOpen(true);
    port.SendByte('A');
    port.SendText("");
    port.SendText("BC");
    const uint8_t block[] = {0, 0xFF, 'D'};
    port.SendBytes(block, 3);
    ASSERT_TRUE(device.WaitForSent(6, std::chrono::seconds(5)));
    EXPECT_EQ(device.TakeSent(), std::string("ABC\0\xFF"
                                             "D",
                                             6));

    port.SetTriggerLength(0);
    device.Write("xyz12");
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 5; }));
    EXPECT_TRUE(port.HasInput());
    EXPECT_EQ(port.PeekByte(2), 'y');
    EXPECT_EQ(port.ReadByte(), 'x');
    char rest[4] = {};
    port.ReadBytes(rest, 4);
    EXPECT_EQ(std::string(rest, 4), "yz12");
    EXPECT_FALSE(port.HasInput());

    const std::pair<std::string, int> empty{"Buffer is empty", ecBufferIsEmpty};
    EXPECT_EQ(Raised([&] { port.PeekByte(1); }), empty);
    EXPECT_EQ(Raised([&] { port.ReadBytes(rest, 1); }), empty);

    EXPECT_EQ(
        Raised([&] { port.SendText(std::string(4097, 'x')); }),
        std::make_pair(std::string("Output buffer too small for block"), ecOutputBufferTooSmall));
    EXPECT_EQ(
        Raised([&] { port.SendText(std::string(70000, 'x')); }),
        std::make_pair(std::string("Output buffer too small for block"), ecOutputBufferTooSmall));
    EXPECT_EQ(Raised([&] { port.AddMatchTrigger(std::string(22, 'x'), false); }),
              std::make_pair(std::string("Data trigger too long"), ecTriggerTooLong));
    EXPECT_EQ(Raised([&] { port.AddStateTrigger(6); }),
              std::make_pair(std::string("Bad argument passed to function"), ecBadArgument));
    EXPECT_EQ(Raised([&] { port.ArmClockTrigger(1, 5, true); }),
              std::make_pair(std::string("Bad trigger handle"), ecBadTriggerHandle));
    EXPECT_EQ(Raised([&] {
                  for (int i = 0; i < 21; ++i)
                      port.AddMatchTrigger("T", false);
              }),
              std::make_pair(std::string("No more trigger slots"), ecNoMoreTriggers));
}

TEST_F(SimulatedPort, LineStatesFollowTheDevice)
{
    port.SetOpen(true);
    EXPECT_TRUE(port.CTS());
    EXPECT_TRUE(port.DSR());
    EXPECT_TRUE(port.DCD());
    device.SetCTS(false);
    device.SetDCD(false);
    ASSERT_TRUE(WaitUntil([&] { return !port.CTS(); }));
    ASSERT_TRUE(WaitUntil([&] { return !port.DCD(); }));
    EXPECT_TRUE(port.DSR());
    device.RaiseLineError(ceFrame);
    ASSERT_TRUE(WaitUntil([&] { return port.PendingLineError() == 4; }));
    EXPECT_EQ(port.PendingLineError(), 0);
    device.SendBreak();
    ASSERT_TRUE(WaitUntil([&] { return port.LineBreak(); }));
    EXPECT_FALSE(port.LineBreak());
}

TEST_F(SimulatedPort, EventsOfEachTriggerKindInOrder)
{
    // Each case makes one trigger fire (returning its handle) and lists the events that must
    // follow, "#" standing for the handle.
    using TFire = std::function<uint16_t(TApdComPort &, TSimulatedDevice &)>;
    auto status = [](uint16_t kind, uint16_t value,
                     std::function<void(TApdComPort &, TSimulatedDevice &)> act) {
        return [=](TApdComPort &p, TSimulatedDevice &d) {
            const uint16_t h = p.AddStateTrigger(kind);
            p.ArmStateTrigger(h, value, true);
            act(p, d);
            return h;
        };
    };
    auto nothing = [](TApdComPort &, TSimulatedDevice &) {};
    struct Case {
        const char *name;
        TFire fire;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"avail",
         [](TApdComPort &p, TSimulatedDevice &d) {
             p.SetTriggerLength(3);
             d.Write("abc");
             return uint16_t(1);
         },
         {"Trigger 7E01 3 3", "Avail 3"}},
        {"data",
         [](TApdComPort &p, TSimulatedDevice &d) {
             const uint16_t h = p.AddMatchTrigger("OK", false);
             d.Write("OK");
             return h;
         },
         {"Trigger 7E02 # 2", "Data #"}},
        {"timer",
         [](TApdComPort &p, TSimulatedDevice &) {
             const uint16_t h = p.AddClockTrigger();
             p.ArmClockTrigger(h, 1, true);
             return h;
         },
         {"Trigger 7E03 # 0", "Timer #"}},
        {"output free",
         status(StatusOutFree, 100, nothing),
         {"Trigger 7E04 # 4096", "Status #", "OutbuffFree"}},
        {"output used",
         status(StatusOutUsed, 0, nothing),
         {"Trigger 7E04 # 0", "Status #", "OutbuffUsed"}},
        {"output sent",
         status(StatusOutSent, 0, [](TApdComPort &p, TSimulatedDevice &) { p.SendText("x"); }),
         {"Trigger 7E04 # 0", "Status #", "OutSent"}},
        {"modem lines (CTS)",
         status(StatusModem, 0x10, [](TApdComPort &, TSimulatedDevice &d) { d.SetCTS(false); }),
         {"Trigger 7E04 # 0", "Status #", "ModemStatus"}},
        {"framing error",
         status(StatusLineError, 4,
                [](TApdComPort &, TSimulatedDevice &d) { d.RaiseLineError(ceFrame); }),
         {"Trigger 7E04 # 0", "Status #", "LineError 4"}},
        // The break is taken before the pending error, which it then no longer is.
        {"break",
         status(StatusLineError, 8, [](TApdComPort &, TSimulatedDevice &d) { d.SendBreak(); }),
         {"Trigger 7E04 # 0", "Status #", "LineError 0 break"}},
        // A failed line fires a line-error trigger whatever its mask.
        {"hang-up",
         status(StatusLineError, 1, [](TApdComPort &, TSimulatedDevice &d) { d.Hangup(); }),
         {"Trigger 7E04 # 0", "Status #", "LineError 1024"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TSimulatedDevice fresh("COM5");
        TApdComPort p;
        UseSimulatedLayer(p, 5);
        p.SetTriggerLength(0);
        p.SetOpen(true);
        TEventLog log(p);
        const std::string handle = std::to_string(c.fire(p, fresh));
        std::vector<std::string> expected = c.expected;
        for (std::string &e : expected)
            if (const size_t at = e.find('#'); at != std::string::npos)
                e.replace(at, 1, handle);
        ASSERT_TRUE(log.WaitFor(expected.size()));
        Settle(100);
        EXPECT_EQ(log.entries, expected);
        p.SetOpen(false);
    }
}

TEST_F(SimulatedPort, AFailedLineIsNamedAndRefusesSends)
{
    TSimulatedDevice far("COM5");
    TApdComPort p;
    UseSimulatedLayer(p, 5);
    p.SetOpen(true);
    far.FailWrites(ENODEV);
    p.SendText("x");
    ASSERT_TRUE(WaitUntil([&] { return p.LineFailed(); }));
    EXPECT_EQ(p.LastSystemError(), ENODEV);
    EXPECT_THROW(p.SendText("y"), EPutBlockFail);
    p.SetOpen(false);
    EXPECT_FALSE(p.LineFailed());
}

TEST_F(SimulatedPort, HandlerExceptionIsShownAndLaterMessagesArrive)
{
    port.SetTriggerLength(0);
    port.SetOpen(true);
    const uint16_t handle = port.AddMatchTrigger("!", false);
    int calls = 0;
    port.OnTriggerData = [&](TApdCustomComPort &, uint16_t h) {
        EXPECT_EQ(h, handle);
        if (++calls == 1)
            throw std::runtime_error("handler failed");
    };
    device.Write("!");
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    device.Write("!");
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "handler failed");
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");

    // A component operation that fails inside a handler is shown the same way.
    port.OnTriggerData = [&](TApdCustomComPort &p, uint16_t) { p.PeekByte(100); };
    device.Write("!");
    ASSERT_TRUE(WaitUntil([&] { return boxes.Shown().size() == 2; }));
    EXPECT_EQ(boxes.Shown()[1].text, "Buffer is empty");
}

TEST_F(SimulatedPort, ClosingFromInsideAHandler)
{
    port.SetTriggerLength(0);
    port.SetOpen(true);
    port.AddMatchTrigger("Z", false);
    int calls = 0;
    port.OnTriggerData = [&](TApdCustomComPort &p, uint16_t) {
        ++calls;
        p.SetOpen(false);
    };
    device.Write("Z");
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.Active());
    ASSERT_TRUE(WaitUntil([&] { return !device.IsOpen(); }));
    FlushDeferredDeletes();
    port.SetOpen(true); // the trigger came back with the reopen
    device.Write("Z");
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(SimulatedPort, AwaitTextRestartsOnlyAtTheFirstCharacter)
{
    struct Case {
        const char *text;
        const char *input;
        bool ignoreCase;
        int32_t ticks;
        bool found;
        const char *consumed; // what OnWaitChar saw
    };
    const Case cases[] = {
        {"OK", "OOK", false, 200, true, "OOK"},
        {"OK", "xxOKyy", false, 200, true, "xxOK"},
        {"ok", "oK", true, 200, true, "oK"},
        {"ok", "OK", false, 2, false, "OK"},
        {"aab", "aaab", false, 2, false, "aaab"},
        {"ABAB", "ABABAB", false, 200, true, "ABAB"},
        {"", "", false, 0, true, ""},
    };
    port.SetTriggerLength(0);
    port.SetOpen(true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text + std::string(" over ") + c.input);
        port.DiscardInput();
        std::string seen;
        port.OnWaitChar = [&](TApdCustomComPort &, char ch) { seen += ch; };
        device.Write(c.input);
        ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == std::string(c.input).size(); }));
        EXPECT_EQ(port.AwaitText(c.text, c.ticks, false, c.ignoreCase), c.found);
        EXPECT_EQ(seen, c.consumed);
    }
}

TEST_F(SimulatedPort, AwaitTextHoldsTriggersAndTakesDataArrivingMeanwhile)
{
    port.SetOpen(true);
    port.AddMatchTrigger("OK", false);
    TEventLog log(port);
    // The reply arrives while the wait yields to the GUI.
    bool sent = false;
    QTimer::singleShot(20, [&] {
        device.Write("OK");
        sent = true;
    });
    bool heldDuringTheWait = true;
    port.OnWaitChar = [&](TApdCustomComPort &, char) {
        heldDuringTheWait = heldDuringTheWait && log.entries.empty();
    };
    EXPECT_TRUE(port.AwaitText("OK", 100, true, false));
    EXPECT_TRUE(sent);
    EXPECT_TRUE(heldDuringTheWait);

    // Once the hold ends, the text the wait read is delivered to the trigger too, at once.
    EXPECT_TRUE(log.WaitFor(1));
}

// A delivery under way when a hold is placed has run once the hold is in place, whichever of the
// port's targets it went to first: a terminal's, registered after the port's own, comes first.
TEST_F(SimulatedPort, HoldRunsTheDeliveryUnderWayToEveryTargetOfThePort)
{
    port.SetOpen(true);
    port.AddMatchTrigger("OK", false);
    bool otherRan = false;
    TGuiMessageTarget other([&](unsigned, uintptr_t, intptr_t) { otherRan = true; });
    ASSERT_EQ(AddHandler(port.PortSlot(), &other, 1), ecOK);
    device.Write("OK");
    // Waited for without handling events, so the message stays in the queue.
    bool underWay = false;
    for (int i = 0; i < 5000 && !underWay; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(DeliveryUnderWay(port.PortSlot(), underWay), ecOK);
    }
    ASSERT_TRUE(underWay);
    {
        const TDeliveryHold hold(port);
        EXPECT_TRUE(otherRan);
        ASSERT_EQ(DeliveryUnderWay(port.PortSlot(), underWay), ecOK);
        EXPECT_FALSE(underWay);
    }
    RemoveHandler(port.PortSlot(), &other);
}

TEST_F(SimulatedPort, ClosingWithTracingOnWritesTheTraceAndStopsIt)
{
    port.SetTraceName("COM.TRC");
    port.SetLogName("COM.LOG");
    port.SetTracing(tlOn);
    port.SetLogging(tlOn);
    port.SetOpen(true);
    port.SendText("AB");
    ASSERT_TRUE(device.WaitForSent(2, std::chrono::seconds(5)));
    port.SetOpen(false);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(port.Logging(), tlOff);
    const std::string trace = dir.Read("COM.TRC");
    EXPECT_NE(trace.find("Transmit: "), std::string::npos) << trace;
    EXPECT_NE(trace.find("AB"), std::string::npos) << trace;
    EXPECT_NE(dir.Read("COM.LOG").find("writecom"), std::string::npos);

    // The next open starts without a trace.
    std::filesystem::remove(dir.File("COM.TRC"));
    port.SetOpen(true);
    port.SendText("C");
    port.SetOpen(false);
    EXPECT_FALSE(std::filesystem::exists(dir.File("COM.TRC")));
}

TEST_F(SimulatedPort, TraceStateMachineOnAnOpenPort)
{
    struct Step {
        TTraceLogState set;
        TTraceLogState expect;
        bool sendAfter;   // send a byte, which a running trace records
        bool fileWritten; // the trace file exists after the step
    };
    struct Case {
        const char *name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"on, dump", {{tlOn, tlOn, true, false}, {tlDump, tlOff, false, true}}},
        {"on, pause, dump",
         {{tlOn, tlOn, true, false},
          {tlPause, tlPause, false, false},
          {tlDump, tlOff, false, true}}},
        {"pause resumes",
         {{tlOn, tlOn, true, false},
          {tlPause, tlPause, false, false},
          {tlOn, tlOn, false, false},
          {tlAppend, tlOff, false, true}}},
        {"off discards",
         {{tlOn, tlOn, true, false}, {tlOff, tlOff, false, false}, {tlDump, tlOff, false, false}}},
        {"clear empties, state kept",
         {{tlOn, tlOn, true, false}, {tlClear, tlOn, false, false}, {tlDump, tlOff, false, false}}},
        {"nothing from off",
         {{tlPause, tlOff, false, false},
          {tlClear, tlOff, false, false},
          {tlDump, tlOff, false, false}}},
    };
    port.SetOpen(true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.File("APRO.TRC"));
        for (const Step &s : c.steps) {
            port.SetTracing(s.set);
            EXPECT_EQ(port.Tracing(), s.expect) << int(s.set);
            if (s.sendAfter) {
                port.SendText("t");
                ASSERT_TRUE(device.WaitForSent(1, std::chrono::seconds(5)));
                device.TakeSent();
            }
            EXPECT_EQ(std::filesystem::exists(dir.File("APRO.TRC")), s.fileWritten) << int(s.set);
        }
    }

    // A new size restarts a running trace; a paused one ends.
    port.SetTracing(tlOn);
    port.SetTraceSize(100);
    EXPECT_EQ(port.Tracing(), tlOn);
    port.SetTracing(tlPause);
    port.SetTraceSize(200);
    EXPECT_EQ(port.Tracing(), tlOff);
}

TEST_F(SimulatedPort, TriggersSurviveCloseAndReopen)
{
    port.SetTriggerLength(0);
    port.SetOpen(true);
    const uint16_t handle = port.AddMatchTrigger("OK", true);
    port.SetOpen(false);
    port.DropTrigger(handle); // closed: nothing happens
    TEventLog log(port);
    port.SetOpen(true);
    device.Write("ok");
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ(log.entries[1], "Data " + std::to_string(handle));
    // Dropped on the open port, it stays away.
    port.DropTrigger(handle);
    device.Write("OK");
    Settle(150);
    EXPECT_EQ(log.entries.size(), 2u);
}

TEST_F(SimulatedPort, ChangingComNumberMovesTheOpenPort)
{
    TSimulatedDevice other("COM4");
    port.SetTriggerLength(0);
    port.SetTracing(tlOn);
    port.SetOpen(true);
    const uint16_t handle = port.AddMatchTrigger("OK", false);
    port.SendText("a");
    ASSERT_TRUE(device.WaitForSent(1, std::chrono::seconds(5)));
    TEventLog log(port);

    port.SetComNumber(4);
    EXPECT_EQ(port.ComNumber(), 4);
    EXPECT_TRUE(port.Open());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(other.IsOpen());
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_TRUE(std::filesystem::exists(dir.File("APRO.TRC"))); // the old trace was written
    other.Write("OK");
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ(log.entries[1], "Data " + std::to_string(handle));

    // Moving to a port that does not exist fails and leaves it closed; the triggers wait.
    EXPECT_THROW(port.SetComNumber(9), EBadId);
    EXPECT_FALSE(port.Open());
    port.SetComNumber(3);
    port.SetOpen(true);
    device.Write("OK");
    ASSERT_TRUE(log.WaitFor(4));
    EXPECT_EQ(log.entries[3], "Data " + std::to_string(handle));
}

TEST_F(SimulatedPort, UsersAreToldNewestFirst)
{
    std::vector<std::string> told;
    TRecordingWindow first("window 1", told);
    TRecordingWindow third("window 3", told);
    int ownerKey = 0;
    port.AttachWindow(&first);
    port.AttachNotifier(&ownerKey, [&](TApdCustomComPort &p, bool opening) {
        told.push_back(std::string("notifier 2 ") + (opening ? "opened" : "closing"));
        EXPECT_EQ(&p, &port);
        EXPECT_TRUE(p.Active());
    });
    port.AttachWindow(&third);
    port.OpenedNotice = [&](TApdCustomComPort &) { told.push_back("OpenedNotice"); };
    port.ClosingNotice = [&](TApdCustomComPort &) { told.push_back("ClosingNotice"); };

    port.SetOpen(true);
    port.SetOpen(false);
    const std::vector<std::string> expected = {
        "window 3 opened",  "notifier 2 opened",  "window 1 opened",  "OpenedNotice",
        "window 3 closing", "notifier 2 closing", "window 1 closing", "ClosingNotice"};
    EXPECT_EQ(told, expected);

    told.clear();
    port.AttachWindow(&first);
    port.DetachWindow(&first); // removes both entries of window 1
    port.DetachNotifier(&ownerKey);
    port.SetOpen(true);
    EXPECT_EQ(told, (std::vector<std::string>{"window 3 opened", "OpenedNotice"}));
    port.SetOpen(false);
    port.DetachWindow(&third);
}

TEST_F(SimulatedPort, AssignCopiesSettingsEventsUsersAndTriggers)
{
    port.SetBaud(9600);
    port.SetParity(pOdd);
    port.SetTraceName("COM.TRC");
    port.SetLogName("COM.LOG");
    port.SetLogSize(20000);
    port.SetHWFlowOptions({hwfUseRTS});
    port.SetTriggerLength(0);
    port.SetTag(7);
    std::vector<std::string> told;
    TRecordingWindow window("window", told);
    port.AttachWindow(&window);
    int dataEvents = 0;
    port.OnTriggerData = [&](TApdCustomComPort &, uint16_t) { ++dataEvents; };
    port.SetOpen(true);
    const uint16_t handle = port.AddMatchTrigger("GO", false);

    TApdComPort copy;
    copy.Assign(port);
    EXPECT_FALSE(copy.Open());
    EXPECT_EQ(copy.ComNumber(), 3);
    EXPECT_EQ(copy.DeviceLayer(), dlOther);
    EXPECT_EQ(copy.Baud(), 9600);
    EXPECT_EQ(copy.Parity(), pOdd);
    EXPECT_EQ(copy.TraceName(), "COM.TRC");
    EXPECT_EQ(copy.LogName(), "COM.LOG");
    EXPECT_EQ(copy.LogSize(), 20000);
    EXPECT_EQ(copy.HWFlowOptions(), THWFlowOptions{hwfUseRTS});
    EXPECT_EQ(copy.BufferFull(), 3686);
    EXPECT_EQ(copy.TriggerLength(), 0);

    port.SetOpen(false);
    told.clear();
    copy.SetOpen(true);
    EXPECT_EQ(told, std::vector<std::string>{"window opened"});
    device.Write("GO");
    ASSERT_TRUE(WaitUntil([&] { return dataEvents == 1; }));
    EXPECT_EQ(copy.AddMatchTrigger("XX", false), handle + 1); // the copied handle is taken
    copy.SetOpen(false);
    port.DetachWindow(&window);
    copy.DetachWindow(&window);
}

TEST_F(SimulatedPort, FreeNotificationOnDestruction)
{
    std::vector<std::string> told;
    int keep = 0, drop = 0;
    {
        TApdComPort temporary;
        UseSimulatedLayer(temporary, 3);
        temporary.FreeNotification(&keep, [&](TApdCustomComPort &) { told.push_back("keep"); });
        temporary.FreeNotification(&drop, [&](TApdCustomComPort &) { told.push_back("drop"); });
        temporary.RemoveFreeNotification(&drop);
        temporary.SetOpen(true);
        EXPECT_TRUE(device.IsOpen());
    }
    EXPECT_FALSE(device.IsOpen()); // destroying an open component closes its port
    EXPECT_EQ(told, std::vector<std::string>{"keep"});
}
