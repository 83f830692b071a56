#pragma once
// The dispatcher: the procedural core of the serial engine. Each open port has a record in a
// table of 50 slots (port numbers 1 to 50), an 8192-byte input ring, an output ring, triggers
// on received data, time and line/buffer status, a list of handlers, and three threads (event,
// dispatch, output). Every operation returns a result code (serial/ErrorCodes.h): 0 or a
// positive value for success, negative for failure; none of them throws.
//
// Handlers run without the port lock, so they may call any operation, including ClosePort.

#include "serial/PortRecord.h"
#include "serial/Triggers.h"

#include <cstdint>
#include <string>

namespace serial
{

class TMessageTarget;

constexpr int kMaxPorts = 50;

// Messages delivered to handlers; lParam carries the port number in its high word.
constexpr unsigned MsgTriggerAvail = 0x7E01;  // wParam: bytes available
constexpr unsigned MsgTriggerData = 0x7E02;   // wParam: handle; lParam low: match length
constexpr unsigned MsgTriggerTimer = 0x7E03;  // wParam: handle
constexpr unsigned MsgTriggerStatus = 0x7E04; // wParam: handle; lParam low: count (kinds 3, 4)
// Notices a port component sends to the windows attached to it.
constexpr unsigned NoticePortOpened = 0x7E08;
constexpr unsigned NoticePortClosing = 0x7E09;

// Port option bits.
constexpr uint16_t poUseMsrShadow = 1;     // line tests read the modem-status shadow
constexpr uint16_t poConsumeInHandler = 2; // reads inside handlers consume at once
constexpr uint16_t poUseEventWord = 4;     // kept for the device layer; no effect here

// Hardware flow options.
constexpr uint16_t hfUseDtr = 1;
constexpr uint16_t hfUseRts = 2;
constexpr uint16_t hfRequireDsr = 4;
constexpr uint16_t hfRequireCts = 8;
// Software flow options.
constexpr uint16_t sfTransmit = 1;
constexpr uint16_t sfReceive = 2;

// Opening and closing. OpenPort opens the device by name through the installed device layer;
// OpenPortHandle adopts a device handle opened elsewhere and keeps its line settings.
int OpenPort(int &port, const std::string &deviceName, uint16_t inSize, uint16_t outSize,
             int32_t baud, uint16_t parity, uint16_t dataBits, uint16_t stopBits);
int OpenPortHandle(int &port, int handle, uint16_t inSize, uint16_t outSize);
// The system error number (errno) behind the calling thread's last failed OpenPort, kept because
// the result code alone loses it ("not found" may be a missing device or a vanished adapter).
// 0 after an open that worked, or a failure the system gave no number for.
int LastOpenError();
int ClosePort(int port);
// Resizes the driver queues and the output ring (unsent output is dropped first).
int SetBufferSizes(int port, uint16_t inSize, uint16_t outSize);

// Line settings: baud 0, parity 5, data bits 9, stop bits 3 keep the current value.
int ApplyLineSettings(int port, int32_t baud, uint16_t parity, uint16_t dataBits,
                      uint16_t stopBits);
int ReadLineSettings(int port, int32_t &baud, uint16_t &parity, uint16_t &dataBits,
                     uint16_t &stopBits);
int DriveDTR(int port, bool on);
int DriveRTS(int port, bool on);

// Modem lines and line errors.
int ReadModemStatus(int port, uint8_t clearMask);
int TestCTS(int port);
int TestDSR(int port);
int TestDCD(int port);
int TestRingEdge(int port);
// The first of the pending line errors as a code (1 overrun of the queue, 2 overrun, 3 parity,
// 4 framing, 9 break); ceIoError is ORed in while the line has failed.
int TakeLineError(int port);
int TestBreak(int port);
// The system error number (errno) that failed the line for good, 0 while the line works.
int LineFailure(int port);

// Input.
bool HasInput(int port);
int PeekByte(int port, uint8_t &c, uint16_t position);
int ReadByte(int port, uint8_t &c);
int ReadBytes(int port, uint8_t *buffer, uint16_t count);
int InputCount(int port);
int DiscardInput(int port);

// Output.
int SendByte(int port, uint8_t c);
int SendBytes(int port, const uint8_t *data, uint16_t count);
int OutputCount(int port);
int OutputRoom(int port);
// The output ring's room without asking the device for its status first: what a writer that
// queues block after block needs, free of system calls.
int OutputRingRoom(int port);
int DiscardOutput(int port);
// While on, writes into the output ring do not wake the output thread; turning it off wakes it
// once for all of them. For a writer that queues many small pieces in a row: the thread then
// writes them to the device together instead of racing the writer piece by piece.
int DeferOutput(int port, bool on);

// Flow control.
int EnableHardwareFlow(int port, uint16_t bufferFull, uint16_t bufferResume, uint16_t options);
int DisableHardwareFlow(int port);
int EnableSoftwareFlow(int port, uint16_t bufferFull, uint16_t bufferResume, uint16_t options);
int DisableSoftwareFlow(int port);
int SetFlowChars(int port, uint8_t xonChar, uint8_t xoffChar);

// Handlers, newest first. A window handler gets messages through a blocking send to its own
// thread (at most 1000 ms until it begins); a procedure runs on the dispatch thread. With
// passOn 0 older handlers do not see the messages this one got.
int AddHandler(int port, TMessageTarget *window, uint32_t passOn);
int AddHandler(int port, TEventProc proc, uintptr_t handleValue, uint32_t passOn);
int RemoveHandler(int port, TMessageTarget *window);
int RemoveHandler(int port, TEventProc proc, uintptr_t handleValue);
// Called by a procedure handler on the dispatch thread: the message it is handling goes no
// further, as if the procedure had been added with passOn 0 for this one message. Lets a
// procedure take the messages it can serve on the dispatch thread and leave the rest to the
// window. ecBadArgument outside a procedure handler's call on the dispatch thread.
int ConsumeMessage(int port);

// Triggers.
int SetDataThreshold(int port, uint16_t count);
// Has the dispatch thread announce the unread input to the handlers again (an avail message),
// for a reader that left bytes waiting and wants them now, inside a delivery.
int AnnounceInput(int port);
int AddClockTrigger(int port);
int AddMatchTrigger(int port, const std::string &text, bool ignoreCase);
int AddMatchTrigger(int port, const uint8_t *text, bool ignoreCase, uint16_t length);
int AddStateTrigger(int port, uint16_t kind);
int DropTrigger(int port, uint16_t handle);
int ArmClockTrigger(int port, uint16_t handle, int32_t ticks, bool arm);
int ArmStateTrigger(int port, uint16_t handle, uint16_t value, bool arm);
int StashTriggers(int port, TTriggerSnapshot &snapshot);
int ReinstateTriggers(int port, const TTriggerSnapshot &snapshot);
int ResetTriggers(int port);
// The status kind (1 to 5) behind a status trigger's handle, 0 for any other handle or port.
int StatusTriggerKind(int port, uint16_t handle);
// How often the data trigger's text has matched since it was added, counting every byte the ring
// holds (also bytes a reader has taken before the dispatch thread scanned them).
int MatchCount(int port, uint16_t handle, uint32_t &count);

// Options and delivery.
int SetOptionBits(int port, uint16_t bits);
int ClearOptionBits(int port, uint16_t bits);
// Holds trigger delivery back (on) or lets it go on (off). While held no trigger is evaluated
// (received data still enters the input ring); once the hold ends, what it held back is evaluated
// and delivered at once. A delivery already under way is not affected. Reports the previous state.
int HoldDelivery(int port, bool &previous, bool on);
// Whether a delivery is being made right now (its handlers have not all returned).
int DeliveryUnderWay(int port, bool &underWay);

// Trace and dispatch log of a port.
int TraceCreate(int port, int entries);
int TraceClear(int port);
int TraceDiscard(int port);
int TraceResume(int port);
int TracePause(int port);
int TraceWrite(int port, const std::string &file, bool append, bool hex);
int LogCreate(int port, int size);
int LogClear(int port);
int LogDiscard(int port);
int LogResume(int port);
int LogPause(int port);
int LogWrite(int port, const std::string &file, bool append, bool hex);

// The millisecond counter behind ticks and log times (tests replace it; null restores it).
using TMillisecondClock = uint32_t (*)();
void SetMillisecondClock(TMillisecondClock clock);
// The engine's tick: the millisecond counter masked to 31 bits, divided by 55.
int32_t CurrentTick();

// A read-only look at a port's rings and scan state, for diagnostics and tests.
struct TPortView {
    uint16_t InHead, InTail;
    bool InputFull;
    uint16_t OutHead, OutTail;
    bool OutFull;
    uint16_t ScanPosition;
    uint16_t Options;
    uint32_t LineErrors;
    uint8_t ModemShadow;
    int32_t DeviceHandle;
    bool EventThreadRunning;  // false once the line failed (or the port is closing)
    bool OutputThreadRunning; // likewise
};
int InspectPort(int port, TPortView &view);

} // namespace serial
