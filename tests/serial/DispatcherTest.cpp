// The dispatcher end to end over the simulated null-modem line: ports, rings, triggers and
// delivery. Waits are bounded and only ever wait for something that must happen; where a test
// needs to know that something did NOT happen, a later event the dispatcher must process after
// it (a timer armed from inside the handler, or a message on the same port) is the witness.

#include "serial/Dispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/SimulatedDevice.h"
#include "tests/support/SimulatedPort.h"
#include "tests/support/TempDir.h"
#include "tests/support/ThreadMessageTarget.h"
#include "tests/support/TriggerRecorder.h"
#include "tests/support/Wait.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

using namespace serial;
using testsupport::RecordedMessage;
using testsupport::SimulatedPort;
using testsupport::TriggerRecorder;
using namespace std::chrono_literals;

namespace
{

using testsupport::WaitUntil;

std::atomic<uint32_t> gFakeMs{55 * 1000};
uint32_t FakeClock()
{
    return gFakeMs.load();
}

// Drives the engine's tick from the test; every test using it restores the real clock.
class FakeTicks
{
  public:
    explicit FakeTicks(int32_t tick)
    {
        Set(tick);
        SetMillisecondClock(FakeClock);
    }
    ~FakeTicks() { SetMillisecondClock(nullptr); }
    static void Set(int64_t tick) { gFakeMs = static_cast<uint32_t>(tick * 55); }
    static void Advance(int32_t ticks) { gFakeMs += static_cast<uint32_t>(ticks * 55); }
};

// A witness that the dispatch thread has finished what it was doing: a timer armed now and
// made due at once fires at the next idle pass, after the current event is processed.
void ArmWitnessTimer(int port, uint16_t timer)
{
    ArmClockTrigger(port, timer, 1, true);
    FakeTicks::Advance(2);
}

RecordedMessage Msg(unsigned msg, uintptr_t wParam, uint16_t low, int port)
{
    return RecordedMessage{msg, wParam, low, static_cast<uint16_t>(port)};
}

std::string ReadAll(int port, uint16_t count)
{
    std::string bytes(count, '\0');
    if (ReadBytes(port, reinterpret_cast<uint8_t *>(bytes.data()), count) != count)
        return "<read failed>";
    return bytes;
}

int Send(int port, const std::string &bytes)
{
    return SendBytes(port, reinterpret_cast<const uint8_t *>(bytes.data()),
                     static_cast<uint16_t>(bytes.size()));
}

// Holds the port's output in the simulated line (CTS output flow on, CTS off).
void HoldOutput(SimulatedPort &sim, bool hold)
{
    ASSERT_EQ(EnableHardwareFlow(sim.Port, 0, 0, hfRequireCts), ecOK);
    sim.Far.SetCTS(!hold);
}

TPortView View(int port)
{
    TPortView view{};
    EXPECT_EQ(InspectPort(port, view), ecOK);
    return view;
}

} // namespace

TEST(DispatcherPorts, FiftySlotsLowestFreeFirstAndReused)
{
    const TDeviceRoutines previous = InstalledDeviceRoutines();
    InstallSimulatedDeviceLayer();
    std::vector<std::unique_ptr<TSimulatedDevice>> lines;
    for (int i = 0; i <= kMaxPorts; ++i)
        lines.push_back(std::make_unique<TSimulatedDevice>("SIM" + std::to_string(i)));
    std::vector<int> ports;
    for (int i = 0; i < kMaxPorts; ++i) {
        int port = 0;
        ASSERT_EQ(OpenPort(port, "SIM" + std::to_string(i), 512, 512, 9600, 0, 8, 1), ecOK);
        ports.push_back(port);
        EXPECT_EQ(port, i + 1);
    }
    int extra = 0;
    EXPECT_EQ(OpenPort(extra, "SIM50", 512, 512, 9600, 0, 8, 1), ecNoHandles);
    EXPECT_EQ(ClosePort(7), ecOK);
    EXPECT_FALSE(lines[6]->IsOpen());
    EXPECT_EQ(OpenPort(extra, "SIM50", 512, 512, 9600, 0, 8, 1), ecOK);
    EXPECT_EQ(extra, 7);
    for (int port : ports)
        EXPECT_EQ(ClosePort(port), ecOK);
    InstallDeviceRoutines(previous);
}

TEST(DispatcherPorts, OpenFailuresReportWhy)
{
    const TDeviceRoutines previous = InstalledDeviceRoutines();
    RestoreDeviceRoutines();
    int port = 0;
    EXPECT_EQ(OpenPort(port, "COM7", 4096, 4096, 9600, 0, 8, 1), ecNullApi);
    {
        SimulatedPort sim("COM7");
        ASSERT_EQ(sim.OpenResult, ecOK);
        EXPECT_EQ(OpenPort(port, "COM7", 4096, 4096, 9600, 0, 8, 1), ecAccessDenied);
        EXPECT_EQ(OpenPort(port, "COM8", 4096, 4096, 9600, 0, 8, 1), ecFileNotFound);
    }
    InstallDeviceRoutines(previous);
}

TEST(DispatcherPorts, BadPortNumbers)
{
    for (int port : {0, 51, 49}) {
        uint8_t c = 0;
        bool previous = false;
        EXPECT_EQ(ReadByte(port, c), ecBadHandle);
        EXPECT_EQ(SendByte(port, 'x'), ecBadHandle);
        EXPECT_EQ(ClosePort(port), ecBadHandle);
        EXPECT_EQ(AddClockTrigger(port), ecBadHandle);
        EXPECT_EQ(HoldDelivery(port, previous, true), ecBadHandle);
        EXPECT_EQ(TraceCreate(port, 10), ecBadHandle);
        EXPECT_EQ(OutputRoom(port), ecBadHandle);
        EXPECT_EQ(InputCount(port), 0);
        EXPECT_FALSE(HasInput(port));
        EXPECT_EQ(TestBreak(port), 0);
        EXPECT_EQ(StatusTriggerKind(port, 2), 0);
    }
}

TEST(DispatcherLine, SettingsReachTheDeviceAndKeepValuesStay)
{
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    EXPECT_EQ(sim.Far.LineState().BaudRate, 19200u);
    EXPECT_TRUE(sim.Far.DTR());
    EXPECT_TRUE(sim.Far.RTS());
    ASSERT_EQ(ApplyLineSettings(sim.Port, 9600, 2, 7, 2), ecOK);
    ASSERT_EQ(ApplyLineSettings(sim.Port, 0, 5, 9, 3), ecOK);
    TLineState state = sim.Far.LineState();
    EXPECT_EQ(state.BaudRate, 9600u);
    EXPECT_EQ(state.Parity, 2);
    EXPECT_EQ(state.ByteSize, 7);
    EXPECT_EQ(state.StopBits, 2);
    EXPECT_EQ(ApplyLineSettings(sim.Port, 0, 5, 4, 3), ecNotSupported);
    EXPECT_EQ(sim.Far.LineState(), state);
    int32_t baud = 0;
    uint16_t parity = 0, data = 0, stop = 0;
    ASSERT_EQ(ApplyLineSettings(sim.Port, 0, 5, 9, 0), ecOK);
    ASSERT_EQ(ReadLineSettings(sim.Port, baud, parity, data, stop), ecOK);
    EXPECT_EQ((std::vector<int>{baud, parity, data, stop}), (std::vector<int>{9600, 2, 7, 1}));
}

TEST(DispatcherLine, FlowControlArgumentsAndFields)
{
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    EXPECT_EQ(EnableHardwareFlow(sim.Port, 100, 200, hfUseRts), ecBadArgument);
    EXPECT_EQ(EnableHardwareFlow(sim.Port, 4097, 10, hfUseRts), ecBadArgument);
    EXPECT_EQ(EnableSoftwareFlow(sim.Port, 10, 20, sfReceive), ecBadArgument);

    ASSERT_EQ(EnableHardwareFlow(sim.Port, 3686, 409, hfUseRts | hfRequireCts), ecOK);
    TLineState state = sim.Far.LineState();
    EXPECT_EQ(state.RtsControl, TLineState::Handshake);
    EXPECT_TRUE(state.OutxCtsFlow);
    EXPECT_FALSE(state.OutxDsrFlow);
    EXPECT_EQ(state.XoffLim, 4096 - 3686);
    EXPECT_EQ(state.XonLim, 409);
    EXPECT_TRUE(sim.Far.DTR()); // RTS/CTS flow leaves DTR as it was

    ASSERT_EQ(DriveDTR(sim.Port, false), ecOK);
    EXPECT_FALSE(sim.Far.DTR());
    ASSERT_EQ(DisableHardwareFlow(sim.Port), ecOK);
    state = sim.Far.LineState();
    EXPECT_EQ(state.DtrControl, TLineState::Disabled); // remembered off stays off
    EXPECT_EQ(state.RtsControl, TLineState::Enabled);
    EXPECT_FALSE(state.OutxCtsFlow);

    ASSERT_EQ(SetFlowChars(sim.Port, 1, 2), ecOK);
    ASSERT_EQ(EnableSoftwareFlow(sim.Port, 3072, 1024, sfReceive | sfTransmit), ecOK);
    state = sim.Far.LineState();
    EXPECT_TRUE(state.InX && state.OutX);
    EXPECT_EQ(state.XonChar, 0x11);
    EXPECT_EQ(state.XoffChar, 0x13);
    ASSERT_EQ(DisableSoftwareFlow(sim.Port), ecOK);
    EXPECT_FALSE(sim.Far.LineState().InX || sim.Far.LineState().OutX);
}

TEST(DispatcherInput, PeekReadAndShortReads)
{
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    sim.Far.Write("hello");
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == 5; }));
    uint8_t c = 0;
    EXPECT_EQ(PeekByte(sim.Port, c, 2), ecOK);
    EXPECT_EQ(c, 'e');
    EXPECT_EQ(PeekByte(sim.Port, c, 6), ecBufferIsEmpty);
    EXPECT_EQ(ReadByte(sim.Port, c), ecOK);
    EXPECT_EQ(c, 'h');
    uint8_t buffer[10];
    EXPECT_EQ(ReadBytes(sim.Port, buffer, 10), ecBufferIsEmpty);
    EXPECT_EQ(InputCount(sim.Port), 4);
    EXPECT_EQ(ReadAll(sim.Port, 4), "ello");
    EXPECT_FALSE(HasInput(sim.Port));
    EXPECT_EQ(ReadByte(sim.Port, c), ecBufferIsEmpty);
}

TEST(DispatcherInput, RingWrapsInOrderAndAFullRingWaitsForRoom)
{
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    sim.Far.Write(std::string(8000, 'a'));
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == 8000; }));
    ASSERT_EQ(ReadAll(sim.Port, 8000), std::string(8000, 'a'));
    std::string pattern;
    for (int i = 0; i < 400; ++i)
        pattern.push_back(static_cast<char>('0' + i % 64));
    sim.Far.Write(pattern);
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == 400; }));
    EXPECT_EQ(View(sim.Port).InHead, (8000 + 400) % kInputRingSize);
    EXPECT_EQ(ReadAll(sim.Port, 400), pattern);

    // More than the ring holds: the rest waits in the device until a reader makes room.
    sim.Far.Write(std::string(9000, 'b'));
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == kInputRingSize; }));
    EXPECT_TRUE(View(sim.Port).InputFull);
    EXPECT_EQ(sim.Far.PendingInput(), 9000u - kInputRingSize);
    ReadAll(sim.Port, 100);
    ASSERT_TRUE(WaitUntil([&] { return sim.Far.PendingInput() == 9000u - kInputRingSize - 100; }))
        << InputCount(sim.Port) << " " << sim.Far.PendingInput() << " " << View(sim.Port).InputFull;
    EXPECT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == kInputRingSize; }));
}

TEST(DispatcherData, AvailAnnouncesTheBytesBeforeAMatchThenTheMatchFires)
{
    TriggerRecorder recorder;
    std::string read;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(ClearOptionBits(sim.Port, poConsumeInHandler), ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    const int ok = AddMatchTrigger(sim.Port, "OK", false);
    ASSERT_GT(ok, 0);
    recorder.OnMessage([&](const RecordedMessage &m) {
        if (m.Msg == MsgTriggerAvail)
            read += ReadAll(sim.Port, static_cast<uint16_t>(m.WParam));
    });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("xyOK");
    ASSERT_TRUE(recorder.WaitForCount(3));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages(),
              (std::vector<RecordedMessage>{Msg(MsgTriggerAvail, 2, 0, p),
                                            Msg(MsgTriggerData, static_cast<uintptr_t>(ok), 2, p),
                                            Msg(MsgTriggerAvail, 2, 0, p)}));
    EXPECT_EQ(read, "xyOK");
}

TEST(DispatcherData, UnreadAvailBytesDoNotHoldBackTheMatchBehindThem)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(ClearOptionBits(sim.Port, poConsumeInHandler), ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    const int err = AddMatchTrigger(sim.Port, "ERR", true);
    ASSERT_GT(err, 0);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK); // reads nothing
    sim.Far.Write("\r\nERR");
    ASSERT_TRUE(recorder.WaitForCount(2));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerAvail, 2, 0, p));
    EXPECT_EQ(recorder.Messages()[1], Msg(MsgTriggerData, static_cast<uintptr_t>(err), 3, p));
}

TEST(DispatcherData, MatchesAreCountedWhetherOrNotAnyoneTakesTheirDelivery)
{
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int err = AddMatchTrigger(sim.Port, "ERR", true);
    const int prompt = AddMatchTrigger(sim.Port, ">", false);
    ASSERT_GT(err, 0);
    ASSERT_GT(prompt, 0);
    sim.Far.Write("err x ERR");
    uint32_t count = 0;
    EXPECT_TRUE(WaitUntil([&] { return MatchCount(sim.Port, err, count) == ecOK && count == 2; }))
        << count;
    EXPECT_EQ(MatchCount(sim.Port, prompt, count), ecOK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(MatchCount(sim.Port, kAvailHandle, count), ecBadTriggerHandle);
}

TEST(DispatcherData, ConsumingReadsStopAfterAvailUntilMoreDataComes)
{
    FakeTicks ticks(1000);
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(View(sim.Port).Options & poConsumeInHandler, poConsumeInHandler);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    const int ok = AddMatchTrigger(sim.Port, "OK", false);
    const int witness = AddClockTrigger(sim.Port);
    recorder.OnMessage([&](const RecordedMessage &m) {
        if (m.Msg == MsgTriggerAvail)
            ReadAll(sim.Port, static_cast<uint16_t>(m.WParam));
        if (recorder.Messages().size() == 1)
            ArmWitnessTimer(sim.Port, static_cast<uint16_t>(witness));
    });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("xyOK");
    ASSERT_TRUE(recorder.WaitForCount(2));
    sim.Far.Write("z");
    ASSERT_TRUE(recorder.WaitForCount(4));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages(),
              (std::vector<RecordedMessage>{Msg(MsgTriggerAvail, 2, 0, p),
                                            Msg(MsgTriggerTimer, witness, 0, p),
                                            Msg(MsgTriggerData, static_cast<uintptr_t>(ok), 2, p),
                                            Msg(MsgTriggerAvail, 3, 0, p)}));
}

TEST(DispatcherData, AvailWaitsForTheHeadToMove)
{
    FakeTicks ticks(1000);
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    const int witness = AddClockTrigger(sim.Port);
    recorder.OnMessage([&](const RecordedMessage &m) {
        if (m.Msg == MsgTriggerAvail && m.WParam == 2)
            ArmWitnessTimer(sim.Port, static_cast<uint16_t>(witness));
    });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("ab");
    ASSERT_TRUE(recorder.WaitForCount(2));
    sim.Far.Write("c");
    ASSERT_TRUE(recorder.WaitForCount(3));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages(),
              (std::vector<RecordedMessage>{Msg(MsgTriggerAvail, 2, 0, p),
                                            Msg(MsgTriggerTimer, witness, 0, p),
                                            Msg(MsgTriggerAvail, 3, 0, p)}));
}

TEST(DispatcherData, AvailFiresWhenTheHeadWentAWholeRingRound)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write(std::string(kInputRingSize, 'r')); // the head comes back to where it was
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerAvail, kInputRingSize, 0, sim.Port));
}

TEST(DispatcherData, HandlersReadProvisionallyAndTheTailMovesByTheLargestRead)
{
    TriggerRecorder older, newer;
    std::string olderRead, newerRead;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(ClearOptionBits(sim.Port, poConsumeInHandler), ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 1), ecOK);
    older.OnMessage([&](const RecordedMessage &) {
        olderRead = ReadAll(sim.Port, 3);
        EXPECT_EQ(InputCount(sim.Port), 1);
    });
    newer.OnMessage([&](const RecordedMessage &) {
        uint8_t c = 0;
        ReadByte(sim.Port, c);
        newerRead.assign(1, static_cast<char>(c));
    });
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(newer.Attach(sim.Port), ecOK);
    sim.Far.Write("abcd");
    ASSERT_TRUE(older.WaitForCount(1));
    EXPECT_EQ(newerRead, "a");
    EXPECT_EQ(olderRead, "abc");
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == 1; }));
    EXPECT_EQ(ReadAll(sim.Port, 1), "d");
}

TEST(DispatcherData, DiscardInsideADeliveryTakesEverythingAndResetsMatches)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(ClearOptionBits(sim.Port, poConsumeInHandler), ecOK);
    AddMatchTrigger(sim.Port, "ABC", false);
    const int b = AddMatchTrigger(sim.Port, "B", false);
    const int z = AddMatchTrigger(sim.Port, "Z", false);
    recorder.OnMessage([&](const RecordedMessage &m) {
        if (m.WParam == static_cast<uintptr_t>(b))
            DiscardInput(sim.Port);
    });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("AB"); // the discard drops the partial "AB" of the longer trigger
    sim.Far.Write("CZ");
    ASSERT_TRUE(recorder.WaitForCount(2));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages(), (std::vector<RecordedMessage>{Msg(MsgTriggerData, b, 1, p),
                                                                 Msg(MsgTriggerData, z, 1, p)}));
}

TEST(DispatcherDelivery, PassOnZeroHidesTheMessageFromOlderHandlers)
{
    TriggerRecorder older, newer;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int k = AddMatchTrigger(sim.Port, "K", false);
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(newer.Attach(sim.Port, 0), ecOK);
    sim.Far.Write("K");
    ASSERT_TRUE(newer.WaitForCount(1));
    ASSERT_EQ(newer.Detach(sim.Port), ecOK);
    sim.Far.Write("K");
    ASSERT_TRUE(older.WaitForCount(1));
    EXPECT_EQ(older.Messages(),
              (std::vector<RecordedMessage>{Msg(MsgTriggerData, k, 1, sim.Port)}));
    EXPECT_EQ(newer.Messages().size(), 1u);
}

TEST(DispatcherDelivery, AHandleReusedInsideAHandlerStopsTheDelivery)
{
    TriggerRecorder older, newer;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int k = AddMatchTrigger(sim.Port, "K", false);
    newer.OnMessage([&](const RecordedMessage &m) {
        if (newer.Messages().size() == 1) {
            DropTrigger(sim.Port, static_cast<uint16_t>(m.WParam));
            EXPECT_EQ(AddMatchTrigger(sim.Port, "K", false), k);
        }
    });
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(newer.Attach(sim.Port), ecOK);
    sim.Far.Write("K");
    ASSERT_TRUE(newer.WaitForCount(1));
    sim.Far.Write("K");
    ASSERT_TRUE(older.WaitForCount(1));
    EXPECT_EQ(newer.Messages().size(), 2u);
    EXPECT_EQ(older.Messages().size(), 1u);
}

// A procedure takes the messages it serves from older handlers; the rest go on to them. Outside
// a procedure's call on the dispatch thread the call is refused.
TEST(DispatcherDelivery, AProcedureConsumesTheMessagesItServes)
{
    TriggerRecorder older, newer;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int k = AddMatchTrigger(sim.Port, "K", false);
    const int q = AddMatchTrigger(sim.Port, "Q", false);
    std::atomic<int> consumeResult{1};
    newer.OnMessage([&](const RecordedMessage &m) {
        if (m.WParam == static_cast<uintptr_t>(k))
            consumeResult = ConsumeMessage(sim.Port);
    });
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(newer.Attach(sim.Port), ecOK);
    EXPECT_EQ(ConsumeMessage(sim.Port), ecBadArgument);
    // The last Q comes after both K: had one of them gone on, the older handler had it first.
    sim.Far.Write("KQKQ");
    ASSERT_TRUE(older.WaitForCount(2));
    EXPECT_EQ(consumeResult, ecOK);
    EXPECT_EQ(newer.Messages().size(), 4u);
    const RecordedMessage qMessage = Msg(MsgTriggerData, q, 1, sim.Port);
    EXPECT_EQ(older.Messages(), (std::vector<RecordedMessage>{qMessage, qMessage}));
}

TEST(DispatcherDelivery, RemovedHandlersAreSkippedAtOnce)
{
    TriggerRecorder older, newer;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    AddMatchTrigger(sim.Port, "K", false);
    newer.OnMessage([&](const RecordedMessage &) { older.Detach(sim.Port); });
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(newer.Attach(sim.Port), ecOK);
    sim.Far.Write("KK");
    ASSERT_TRUE(newer.WaitForCount(2));
    EXPECT_TRUE(older.Messages().empty());
}

TEST(DispatcherDelivery, WindowHandlersRunOnTheirThreadAndAHungOneIsSkipped)
{
    std::atomic<int> windowMessages{0};
    testsupport::ThreadMessageTarget window(
        [&](unsigned, uintptr_t, intptr_t) { ++windowMessages; });
    TriggerRecorder older;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    AddMatchTrigger(sim.Port, "K", false);
    ASSERT_EQ(older.Attach(sim.Port), ecOK);
    ASSERT_EQ(AddHandler(sim.Port, &window, 1), ecOK);

    sim.Far.Write("K");
    ASSERT_TRUE(older.WaitForCount(1));
    EXPECT_EQ(windowMessages, 1);
    EXPECT_TRUE(window.RanOnOwnThread());

    window.Hold(true); // the window's thread hangs: the send gives up, older handlers go on
    sim.Far.Write("K");
    ASSERT_TRUE(older.WaitForCount(2));
    window.Hold(false);
    sim.Far.Write("K");
    ASSERT_TRUE(older.WaitForCount(3));
    EXPECT_EQ(windowMessages, 2); // the abandoned message never ran
    EXPECT_EQ(RemoveHandler(sim.Port, &window), ecOK);
}

TEST(DispatcherDelivery, CloseFromInsideAHandler)
{
    std::atomic<int> closeResult{1};
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    AddMatchTrigger(sim.Port, "Q", false);
    const int port = sim.Port;
    recorder.OnMessage([&](const RecordedMessage &) { closeResult = ClosePort(port); });
    ASSERT_EQ(recorder.Attach(port), ecOK);
    sim.Far.Write("QQ");
    ASSERT_TRUE(recorder.WaitForCount(1));
    uint8_t c = 0;
    ASSERT_TRUE(WaitUntil([&] { return ReadByte(port, c) == ecBadHandle; }));
    sim.Port = 0;
    EXPECT_EQ(closeResult, ecOK);
    EXPECT_EQ(recorder.Messages().size(), 1u);
    EXPECT_FALSE(sim.Far.IsOpen());
}

// Held, nothing is delivered; a count asked meanwhile covers what the ring holds, also a text
// behind another trigger's match; released, the held matches are delivered at once, without
// waiting for another byte to arrive.
TEST(DispatcherDelivery, HoldDeliveryKeepsReceivingAndDeliversWhenReleased)
{
    std::atomic<bool> released{false};
    std::atomic<bool> deliveredWhileHeld{false};
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    bool previous = true;
    ASSERT_EQ(HoldDelivery(sim.Port, previous, true), ecOK);
    EXPECT_FALSE(previous);
    const int ok = AddMatchTrigger(sim.Port, "OK", false);
    const int error = AddMatchTrigger(sim.Port, "ERR", false);
    recorder.OnMessage([&](const RecordedMessage &) { deliveredWhileHeld = !released; });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("OK ERR");
    ASSERT_TRUE(WaitUntil([&] { return InputCount(sim.Port) == 6; }));
    for (const int handle : {ok, error, ok, error}) {
        uint32_t count = 0;
        ASSERT_EQ(MatchCount(sim.Port, static_cast<uint16_t>(handle), count), ecOK);
        EXPECT_EQ(count, 1u) << handle;
    }
    released = true;
    ASSERT_EQ(HoldDelivery(sim.Port, previous, false), ecOK);
    EXPECT_TRUE(previous);
    ASSERT_TRUE(recorder.WaitForCount(2));
    EXPECT_FALSE(deliveredWhileHeld);
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerData, ok, 2, sim.Port));
    EXPECT_EQ(recorder.Messages()[1], Msg(MsgTriggerData, error, 3, sim.Port));
    uint32_t count = 0;
    ASSERT_EQ(MatchCount(sim.Port, static_cast<uint16_t>(error), count), ecOK);
    EXPECT_EQ(count, 1u);
}

TEST(DispatcherOutput, ExactFitSetsTheFullFlagAndOneMoreIsRefused)
{
    SimulatedPort sim("COM7", 4096, 64);
    ASSERT_EQ(sim.OpenResult, ecOK);
    HoldOutput(sim, true);
    EXPECT_EQ(Send(sim.Port, std::string(65, 'x')), ecOutputBufferTooSmall);
    EXPECT_EQ(OutputCount(sim.Port), 0);
    ASSERT_EQ(Send(sim.Port, std::string(64, 'y')), ecOK);
    EXPECT_TRUE(View(sim.Port).OutFull);
    EXPECT_EQ(OutputCount(sim.Port), 64);
    EXPECT_EQ(OutputRoom(sim.Port), 0);
    EXPECT_EQ(SendByte(sim.Port, 'z'), ecOutputBufferTooSmall);
    HoldOutput(sim, false);
    ASSERT_TRUE(sim.Far.WaitForSent(64, 5s));
    EXPECT_EQ(sim.Far.TakeSent(), std::string(64, 'y'));
    EXPECT_TRUE(WaitUntil([&] { return OutputRoom(sim.Port) == 64; }));
}

TEST(DispatcherOutput, RingWrapsEndPartFirst)
{
    SimulatedPort sim("COM7", 4096, 100);
    ASSERT_EQ(sim.OpenResult, ecOK);
    HoldOutput(sim, false);
    ASSERT_EQ(Send(sim.Port, std::string(60, 'a')), ecOK);
    ASSERT_TRUE(sim.Far.WaitForSent(60, 5s));
    ASSERT_TRUE(WaitUntil([&] { return OutputCount(sim.Port) == 0; }));
    sim.Far.TakeSent();
    sim.Far.TakeWriteSizes();

    HoldOutput(sim, true);
    ASSERT_EQ(Send(sim.Port, std::string(40, 'b')), ecOK); // ends exactly at the ring end
    EXPECT_EQ(View(sim.Port).OutHead, 0);
    ASSERT_EQ(Send(sim.Port, std::string(30, 'c')), ecOK);
    HoldOutput(sim, false);
    ASSERT_TRUE(sim.Far.WaitForSent(70, 5s));
    EXPECT_EQ(sim.Far.TakeSent(), std::string(40, 'b') + std::string(30, 'c'));
    EXPECT_EQ(sim.Far.TakeWriteSizes(), (std::vector<size_t>{40, 30}));

    ASSERT_TRUE(WaitUntil([&] { return OutputCount(sim.Port) == 0; }));
    HoldOutput(sim, true);
    const std::string straddling = std::string(70, 'd') + std::string(10, 'e');
    ASSERT_EQ(Send(sim.Port, straddling), ecOK); // 70 up to the end, 10 from the start
    EXPECT_EQ(View(sim.Port).OutHead, 10);
    HoldOutput(sim, false);
    ASSERT_TRUE(sim.Far.WaitForSent(80, 5s));
    EXPECT_EQ(sim.Far.TakeSent(), straddling);
    EXPECT_EQ(sim.Far.TakeWriteSizes(), (std::vector<size_t>{70, 10}));
}

TEST(DispatcherOutput, FlushWhileHeldEmptiesTheRing)
{
    SimulatedPort sim("COM7", 4096, 100);
    ASSERT_EQ(sim.OpenResult, ecOK);
    HoldOutput(sim, true);
    ASSERT_EQ(Send(sim.Port, std::string(50, 'a')), ecOK);
    ASSERT_TRUE(
        WaitUntil([&] { return sim.Far.OutputHeld() && !sim.Far.TakeWriteSizes().empty(); }));
    EXPECT_EQ(DiscardOutput(sim.Port), ecOK);
    EXPECT_EQ(OutputCount(sim.Port), 0);
    const TPortView view = View(sim.Port);
    EXPECT_EQ(view.OutHead, 0);
    EXPECT_EQ(view.OutTail, 0);
    EXPECT_FALSE(view.OutFull);
    HoldOutput(sim, false);
    ASSERT_EQ(Send(sim.Port, "Z"), ecOK);
    ASSERT_TRUE(sim.Far.WaitForSent(1, 5s));
    EXPECT_EQ(sim.Far.TakeSent(), "Z");
}

TEST(DispatcherStatus, OutputTriggersFireOncePerArming)
{
    TriggerRecorder recorder;
    SimulatedPort sim("COM7", 4096, 100);
    ASSERT_EQ(sim.OpenResult, ecOK);
    HoldOutput(sim, true);
    const int room = AddStateTrigger(sim.Port, StatusOutFree);
    const int used = AddStateTrigger(sim.Port, StatusOutUsed);
    const int sent = AddStateTrigger(sim.Port, StatusOutSent);
    EXPECT_EQ(StatusTriggerKind(sim.Port, static_cast<uint16_t>(room)), StatusOutFree);
    ASSERT_EQ(Send(sim.Port, std::string(80, 'a')), ecOK); // before the output-sent arming
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(used), 0, true), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(room), 50, true), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(sent), 0, true), ecOK);
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerStatus, sent, 0, sim.Port));
    HoldOutput(sim, false);
    ASSERT_TRUE(recorder.WaitForCount(3));
    const std::vector<RecordedMessage> got = recorder.Messages();
    EXPECT_EQ(got[1].WParam, static_cast<uintptr_t>(room));
    EXPECT_GE(got[1].LParamLow, 50);
    EXPECT_EQ(got[2], Msg(MsgTriggerStatus, used, 0, sim.Port));

    // Not re-armed: they stay quiet; the re-armed output-sent trigger is the witness.
    ASSERT_EQ(Send(sim.Port, "b"), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(sent), 0, true), ecOK);
    ASSERT_TRUE(recorder.WaitForCount(4));
    ASSERT_TRUE(sim.Far.WaitForSent(81, 5s));
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(sent), 0, true), ecOK);
    ASSERT_EQ(Send(sim.Port, "c"), ecOK);
    ASSERT_TRUE(recorder.WaitForCount(5));
    for (size_t i = 3; i < 5; ++i)
        EXPECT_EQ(recorder.Messages()[i].WParam, static_cast<uintptr_t>(sent));
}

// Room made by emptying the ring, not by the device taking bytes, also fires an output-free
// trigger: nothing else is armed, so no timed pass would find it.
TEST(DispatcherStatus, OutputFreeFiresWhenTheRingIsDiscarded)
{
    TriggerRecorder recorder;
    SimulatedPort sim("COM7", 4096, 100);
    ASSERT_EQ(sim.OpenResult, ecOK);
    HoldOutput(sim, true);
    const int room = AddStateTrigger(sim.Port, StatusOutFree);
    ASSERT_EQ(Send(sim.Port, std::string(80, 'a')), ecOK);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(room), 90, true), ecOK);
    testsupport::Settle(100);
    ASSERT_EQ(OutputRingRoom(sim.Port), 20); // the held line took nothing
    EXPECT_TRUE(recorder.Messages().empty());
    ASSERT_EQ(DiscardOutput(sim.Port), ecOK);
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0].WParam, static_cast<uintptr_t>(room));
}

TEST(DispatcherStatus, OutputUsedCountsWhatTheDriverStillHolds)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    sim.Far.SetDriverBuffer(4096);
    sim.Far.SetPace(57600);
    HoldOutput(sim, true);
    const int used = AddStateTrigger(sim.Port, StatusOutUsed);
    std::atomic<uint64_t> onLineAtFire{0};
    recorder.OnMessage([&](const RecordedMessage &) { onLineAtFire = sim.Far.TotalSent(); });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    // The driver takes the whole ring while the line is held; the ring's room is free again
    // (blocks may follow) but the bytes still wait.
    ASSERT_EQ(Send(sim.Port, std::string(4096, 'a')), ecOK);
    ASSERT_TRUE(WaitUntil([&] { return OutputRoom(sim.Port) == 4096; }));
    EXPECT_EQ(OutputCount(sim.Port), 4096);
    ASSERT_EQ(Send(sim.Port, std::string(1000, 'b')), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(used), 0, true), ecOK);
    HoldOutput(sim, false);
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(onLineAtFire.load(), 5096u);
}

TEST(DispatcherStatus, ReArmedFromTheHandlerFiresAgainInTheNextPass)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int room = AddStateTrigger(sim.Port, StatusOutFree);
    recorder.OnMessage([&](const RecordedMessage &) {
        if (recorder.Messages().size() < 3)
            ArmStateTrigger(sim.Port, static_cast<uint16_t>(room), 1, true);
    });
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(room), 1, true), ecOK);
    ASSERT_TRUE(recorder.WaitForCount(3));
    EXPECT_EQ(recorder.Messages()[2], Msg(MsgTriggerStatus, room, 4096, sim.Port));
}

TEST(DispatcherStatus, ModemLinesLineErrorsAndBreak)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    EXPECT_EQ(ReadModemStatus(sim.Port, 0xFF), msCts | msDsr | msDcd);
    const int modem = AddStateTrigger(sim.Port, StatusModem);
    const int errors = AddStateTrigger(sim.Port, StatusLineError);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(modem), msCts, true), ecOK);
    ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(errors), 2 | 8, true), ecOK);
    sim.Far.SetCTS(false);
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerStatus, modem, 0, sim.Port));
    EXPECT_EQ(ReadModemStatus(sim.Port, 0xFE), 0x01 | msDsr | msDcd); // CTS changed, now off
    EXPECT_EQ(TestCTS(sim.Port), 0);
    EXPECT_EQ(ReadModemStatus(sim.Port, 0xFF) & 0x0F, 0);

    sim.Far.RaiseLineError(ceFrame); // not in the mask
    sim.Far.RaiseLineError(ceRxParity);
    ASSERT_TRUE(recorder.WaitForCount(2));
    EXPECT_EQ(recorder.Messages()[1], Msg(MsgTriggerStatus, errors, 0, sim.Port));
    sim.Far.SendBreak();
    sim.Far.RaiseLineError(ceOverrun);
    ASSERT_TRUE(WaitUntil([&] { return View(sim.Port).LineErrors == 0x1E; }));
    const std::vector<int> taken = {TakeLineError(sim.Port), TakeLineError(sim.Port),
                                    TestBreak(sim.Port), TestBreak(sim.Port),
                                    TakeLineError(sim.Port)};
    EXPECT_EQ(taken, (std::vector<int>{2, 9, 1, 0, 0}));

    sim.Far.SetRI(true);
    sim.Far.SetRI(false);
    EXPECT_TRUE(WaitUntil([&] { return TestRingEdge(sim.Port) == 1; }));
    EXPECT_EQ(TestRingEdge(sim.Port), 0);
}

TEST(DispatcherLineFailure, AFailedLineEndsItsThreadsAndTellsTheTriggers)
{
    struct Case {
        const char *name;
        void (*fail)(TSimulatedDevice &);
        int error;
    };
    const Case cases[] = {
        {"hang-up", [](TSimulatedDevice &far) { far.Hangup(); }, EIO},
        {"EIO", [](TSimulatedDevice &far) { far.FailWrites(EIO); }, EIO},
        {"ENXIO", [](TSimulatedDevice &far) { far.FailWrites(ENXIO); }, ENXIO},
        {"EPIPE", [](TSimulatedDevice &far) { far.FailWrites(EPIPE); }, EPIPE},
        {"ENODEV", [](TSimulatedDevice &far) { far.FailWrites(ENODEV); }, ENODEV},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TriggerRecorder recorder;
        SimulatedPort sim;
        ASSERT_EQ(sim.OpenResult, ecOK);
        sim.Far.SetPace(2400);
        const int errors = AddStateTrigger(sim.Port, StatusLineError);
        const int used = AddStateTrigger(sim.Port, StatusOutUsed);
        ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
        // Armed for overruns only: a failed line fires it all the same.
        ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(errors), 1, true), ecOK);
        ASSERT_EQ(Send(sim.Port, std::string(3000, 'x')), ecOK);
        ASSERT_TRUE(sim.Far.WaitForSent(10, 5s));
        ASSERT_EQ(ArmStateTrigger(sim.Port, static_cast<uint16_t>(used), 0, true), ecOK);
        c.fail(sim.Far);

        ASSERT_TRUE(recorder.WaitForCount(2));
        std::vector<uintptr_t> fired = {recorder.Messages()[0].WParam,
                                        recorder.Messages()[1].WParam};
        std::sort(fired.begin(), fired.end());
        EXPECT_EQ(fired, (std::vector<uintptr_t>{static_cast<uintptr_t>(errors),
                                                 static_cast<uintptr_t>(used)}));
        EXPECT_EQ(TakeLineError(sim.Port), static_cast<int>(ceIoError));
        EXPECT_EQ(LineFailure(sim.Port), c.error);
        ASSERT_TRUE(WaitUntil([&] {
            const TPortView view = View(sim.Port);
            return !view.EventThreadRunning && !view.OutputThreadRunning;
        }));
        EXPECT_EQ(OutputCount(sim.Port), 0);
        EXPECT_EQ(Send(sim.Port, "lost"), ecPutBlockFail);
        EXPECT_EQ(DiscardOutput(sim.Port), ecOK);
        ASSERT_EQ(recorder.Detach(sim.Port), ecOK);
        EXPECT_EQ(sim.Close(), ecOK);

        sim.Far.Reconnect();
        const uint64_t before = sim.Far.TotalSent();
        ASSERT_EQ(OpenPort(sim.Port, "COM7", 4096, 4096, 19200, 0, 8, 1), ecOK);
        EXPECT_EQ(LineFailure(sim.Port), 0);
        ASSERT_EQ(Send(sim.Port, "back"), ecOK);
        EXPECT_TRUE(WaitUntil([&] { return sim.Far.TotalSent() == before + 4; }));
    }
}

TEST(DispatcherTimers, FireAfterTheDurationStrictlyAndAcrossTheWrap)
{
    FakeTicks ticks(1000);
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    const int slow = AddClockTrigger(sim.Port);
    const int witness = AddClockTrigger(sim.Port);
    EXPECT_EQ(ArmClockTrigger(sim.Port, 99, 1, true), ecBadTriggerHandle);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    ASSERT_EQ(ArmClockTrigger(sim.Port, static_cast<uint16_t>(slow), 3, true), ecOK);
    ASSERT_EQ(ArmClockTrigger(sim.Port, static_cast<uint16_t>(witness), 2, true), ecOK);
    FakeTicks::Set(1003); // the witness is due; the slow one is exactly at its expiry
    ASSERT_TRUE(recorder.WaitForCount(1));
    FakeTicks::Set(1004);
    ASSERT_TRUE(recorder.WaitForCount(2));
    const int p = sim.Port;
    EXPECT_EQ(recorder.Messages(),
              (std::vector<RecordedMessage>{Msg(MsgTriggerTimer, witness, 0, p),
                                            Msg(MsgTriggerTimer, slow, 0, p)}));

    // Re-arming with 0 ticks keeps the duration; the tick counter wraps meanwhile.
    FakeTicks::Set(kMaxTimerTicks - 1);
    ASSERT_EQ(ArmClockTrigger(sim.Port, static_cast<uint16_t>(slow), 0, true), ecOK);
    ASSERT_EQ(ArmClockTrigger(sim.Port, static_cast<uint16_t>(witness), 1, true), ecOK);
    FakeTicks::Set(kMaxTimerTicks + 1); // the millisecond counter wraps to tick 0
    ASSERT_EQ(CurrentTick(), 0);
    FakeTicks::Set(kMaxTimerTicks + 2);
    ASSERT_TRUE(recorder.WaitForCount(3));
    FakeTicks::Set(kMaxTimerTicks + 4);
    ASSERT_TRUE(recorder.WaitForCount(4));
    EXPECT_EQ(recorder.Messages()[2].WParam, static_cast<uintptr_t>(witness));
    EXPECT_EQ(recorder.Messages()[3].WParam, static_cast<uintptr_t>(slow));
}

TEST(DispatcherTriggers, StashReinstateAndReset)
{
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(SetDataThreshold(sim.Port, 3), ecOK);
    const int ok = AddMatchTrigger(sim.Port, "OK", true);
    TTriggerSnapshot snapshot;
    ASSERT_EQ(StashTriggers(sim.Port, snapshot), ecOK);
    ASSERT_EQ(ResetTriggers(sim.Port), ecOK);
    EXPECT_EQ(AddStateTrigger(sim.Port, StatusOutSent), ok); // the handle is free again
    ASSERT_EQ(ReinstateTriggers(sim.Port, snapshot), ecOK);
    EXPECT_EQ(StatusTriggerKind(sim.Port, static_cast<uint16_t>(ok)), 0);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("ok");
    ASSERT_TRUE(recorder.WaitForCount(1));
    EXPECT_EQ(recorder.Messages()[0], Msg(MsgTriggerData, ok, 2, sim.Port));
}

TEST(DispatcherTrace, ReadsAndSendsAreTracedAndTriggersLogged)
{
    testsupport::TempDir dir;
    TriggerRecorder recorder;
    SimulatedPort sim;
    ASSERT_EQ(sim.OpenResult, ecOK);
    ASSERT_EQ(TraceCreate(sim.Port, 100), ecOK);
    ASSERT_EQ(LogCreate(sim.Port, 20000), ecOK);
    const int ok = AddMatchTrigger(sim.Port, "ab", false);
    ASSERT_EQ(recorder.Attach(sim.Port), ecOK);
    sim.Far.Write("ab");
    ASSERT_TRUE(recorder.WaitForCount(1));
    ASSERT_EQ(ReadAll(sim.Port, 2), "ab");
    ASSERT_EQ(Send(sim.Port, "cd"), ecOK);
    ASSERT_EQ(TraceWrite(sim.Port, dir.File("COM.TRC"), false, true), ecOK);
    ASSERT_EQ(LogWrite(sim.Port, dir.File("COM.LOG"), false, true), ecOK);
    const std::string trace = dir.Read("COM.TRC");
    const size_t receive = trace.find("Receive: ");
    const size_t transmit = trace.find("Transmit: ");
    ASSERT_NE(receive, std::string::npos);
    ASSERT_NE(transmit, std::string::npos);
    EXPECT_LT(trace.find("ab", receive), transmit);
    EXPECT_NE(trace.find("cd", transmit), std::string::npos);
    const std::string log = dir.Read("COM.LOG");
    const size_t read = log.find("readcom");
    const size_t fired = log.find("data");
    const size_t written = log.find("writecom");
    ASSERT_NE(read, std::string::npos);
    EXPECT_LT(read, fired);
    ASSERT_EQ(ok, 2);
    EXPECT_NE(log.find("0002", fired), std::string::npos);
    EXPECT_LT(fired, written);
}
