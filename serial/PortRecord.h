#pragma once
// The record of one open port, shared by the dispatcher and the device layers. Everything in it
// is guarded by Lock unless marked atomic; the device layers touch only the output ring, the
// thread events and flags, and the event word.

#include "serial/DeviceRoutines.h"
#include "serial/Event.h"
#include "serial/TraceLog.h"
#include "serial/Triggers.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace serial
{

class TMessageTarget;

constexpr uint16_t kInputRingSize = 8192;
constexpr uint32_t kWriteTimeoutMs = 60000;

struct TEventHandlerNode {
    enum Kind : uint8_t { None = 0, Window = 1, Procedure = 2 };
    uint8_t Kind = None;
    TEventProc Proc = nullptr;
    TMessageTarget *Target = nullptr;
    uintptr_t HandleValue = 0;
    uint32_t PassOn = 1;
    bool Removed = false;
    TEventHandlerNode *Next = nullptr;
};

struct TPortRecord {
    TPortRecord() = default;
    TPortRecord(const TPortRecord &) = delete;
    TPortRecord &operator=(const TPortRecord &) = delete;

    // Device.
    TDeviceRoutines Routines{};
    uint16_t PortNumber = 0;
    std::atomic<int32_t> DeviceHandle{-1};
    int32_t LastWriteCount = 0;
    uint32_t LineErrors = 0;
    uint8_t ModemShadow = 0;
    TDeviceStatus Status;
    TLineState LineState;
    uint16_t InSize = 0;
    uint16_t OutSize = 0;
    uint16_t Options = 0;
    bool DtrState = true;
    bool RtsState = true;
    bool Adopted = false;

    // Handlers, newest first.
    TEventHandlerNode *Handlers = nullptr;
    bool HandlersRemoved = false;
    bool Delivering = false; // the handler list is being walked
    // The procedure handler running on the dispatch thread right now; callers on other threads
    // that remove it or close the port wait on ProcedureReturned until it has returned.
    TEventHandlerNode *CallingProcedure = nullptr;
    // The running procedure took its message for good (ConsumeMessage): older handlers skip it.
    bool MessageConsumed = false;
    std::condition_variable_any ProcedureReturned;

    // Triggers.
    TTriggerSet Triggers;
    uint16_t ScanPosition = 0;
    uint16_t ScanPending = 0;    // received bytes not yet shown to the data triggers
    bool MatchesPending = false; // marked data triggers wait at ScanPosition
    bool StatusPass = false;
    bool Fired[kStatusSlots] = {};
    bool Provisional = false;
    uint16_t ProvisionalCount = 0;
    uint16_t ProvisionalMaximum = 0;
    bool InputFull = false;
    uint16_t LastAvailPosition = 0;
    uint32_t ReceivedSinceAvail =
        0; // tells a head that went a whole ring round from one that stood
    uint8_t HandleReused[kMaxHandle + 1] = {};

    // Threads.
    std::recursive_mutex Lock;
    std::atomic<bool> Stop{false};   // all threads end
    std::atomic<bool> IoStop{false}; // the event and output threads end (device about to close)
    std::atomic<bool> ClosePending{false};
    std::thread EventThread;
    std::thread DispatchThread;
    std::thread::id DispatchThreadId; // set once when the thread starts, read under the lock
    std::thread OutputThread;
    std::atomic<bool> OutputRunning{false};
    std::atomic<bool> EventRunning{false};
    std::atomic<bool> DispatchRunning{false};
    // The line failed for good (hang-up, unplugged adapter, persistent write error): set once by
    // FailLine and kept until the port closes, with the system error number that ended it.
    std::atomic<bool> LineFailed{false};
    std::atomic<int> LastSystemError{0};
    Event DeviceEvent{Event::Mode::AutoReset};    // event thread -> dispatch thread
    Event EventProcessed{Event::Mode::AutoReset}; // dispatch thread -> event thread
    Event OutputReady{Event::Mode::AutoReset};    // a write into the output ring
    Event FlushOutput{Event::Mode::AutoReset};    // drop unsent output
    // Set before FlushOutput and cleared when the flush is acknowledged, so that the output
    // thread looks at the event between two writes without a system call.
    std::atomic<bool> FlushRequested{false};
    Event FlushAck{Event::Mode::AutoReset};       // the output thread let go of the ring
    Event TriggerWake{Event::Mode::AutoReset};    // output drained or a trigger armed: pass now
    Event StopEvent{Event::Mode::ManualReset};    // wakes every thread for Stop
    Event IoStopEvent{Event::Mode::ManualReset};  // wakes the event and output threads
    Event EventReady{Event::Mode::AutoReset};
    Event DispatchReady{Event::Mode::AutoReset};
    Event OutputReadyToRun{Event::Mode::AutoReset};
    Event EventEnded{Event::Mode::AutoReset};
    Event DispatchEnded{Event::Mode::AutoReset};
    Event OutputEnded{Event::Mode::AutoReset};
    uint32_t WriteTimeoutMs = kWriteTimeoutMs;
    std::atomic<uint32_t> EventWord{0};
    std::atomic<bool> AvailRequested{false};  // announce the unread input once more
    std::atomic<bool> ResumeRequested{false}; // a hold ended: deliver what it held back
    std::atomic<bool> RingEdge{false};

    // Output ring: the output thread writes from it outside the lock, so it holds its own
    // reference to the storage while a write runs.
    std::shared_ptr<std::vector<uint8_t>> OutRing;
    uint16_t OutHead = 0;
    uint16_t OutTail = 0;
    bool OutFull = false;
    uint32_t OutGeneration = 0; // bumped when the ring is reset or replaced
    uint32_t OutActivity = 0;   // bumped by every write into and out of the ring
    // A writer queues several pieces in a row (DeferOutput): the output thread is woken once
    // they are all in, not for each.
    bool OutputDeferred = false;
    // A write while deferred found the ring empty: the output thread may be waiting for it.
    bool DeferredWake = false;

    // Input ring.
    std::vector<uint8_t> InRing;
    uint16_t InHead = 0;
    uint16_t InTail = 0;

    // State.
    bool IsOpen = false; // OpenPort has finished setting the port up
    bool Dispatching = false;
    // A status trigger was armed while a delivery was under way: the dispatch thread runs a pass
    // once the delivery returns instead of being woken through TriggerWake.
    std::atomic<bool> ArmedInDelivery{false};
    // A caller holds deliveries back (HoldDelivery): the data triggers still scan and count
    // matches, but nothing is delivered until the hold ends.
    bool DeliveryHeld = false;
    bool Closing = false;  // ClosePort has begun
    bool TornDown = false; // the slot is gone; every operation answers -1001
    bool OutputSent = false;

    TTraceLog TraceLog;

    bool EventsValid() const;
    uint16_t OutputUsed() const
    {
        if (OutFull)
            return OutSize;
        return static_cast<uint16_t>(OutHead >= OutTail ? OutHead - OutTail
                                                        : OutSize - OutTail + OutHead);
    }
    uint16_t InputUsed() const
    {
        if (InputFull)
            return kInputRingSize;
        return static_cast<uint16_t>((InHead - InTail + kInputRingSize) % kInputRingSize);
    }
};

// The record that owns a device handle of the layer whose open routine is given (the status,
// write and flush routines find their port this way). Null when no open port has it.
std::shared_ptr<TPortRecord> FindPortByHandle(int handle, int (*openRoutine)(const std::string &,
                                                                             int &, int &));

// The device layers' write routine body: copies the block into the output ring at its head
// (wrapping at the ring end) and wakes the output thread. The caller checked the room.
int WriteIntoOutputRing(TPortRecord &port, const uint8_t *data, int count);

// The output flush handshake: tells the output thread to drop the ring and waits until it has
// (the output thread empties the ring itself, so it cannot pick up a stale span in between).
// The port lock must not be held by the caller.
void FlushOutputRing(TPortRecord &port);
// The output thread's side: empties the ring, then acknowledges.
void AcknowledgeFlush(TPortRecord &port);

// The device layers' report of a line failure (error is the errno; 0 counts as EIO). The first
// report wins: it ends the event and output threads, drops the output that can never leave,
// marks ceIoError in the line-error word and wakes the dispatch thread so an armed line-error
// trigger fires at once. Callable from any thread without the port lock held or with it.
void FailLine(TPortRecord &port, int error);
// Whether a device error number means the device is gone rather than busy for a moment.
bool IsLineFailure(int error);

// Output thread helpers shared by the device layers: take the span to write next (false when
// the ring is empty), and account for bytes the device accepted from it.
struct TOutputSpan {
    std::shared_ptr<std::vector<uint8_t>> Ring;
    uint16_t Start = 0;
    uint16_t Length = 0;
    // Bytes that follow at the ring's start when the queued output wraps there: a layer that can
    // write two pieces at once (writev) takes them in the same call. CompleteOutputSpan accepts a
    // count through both.
    uint16_t Wrapped = 0;
    uint32_t Generation = 0;
};
bool TakeOutputSpan(TPortRecord &port, TOutputSpan &span);
void CompleteOutputSpan(TPortRecord &port, const TOutputSpan &span, uint16_t written);

} // namespace serial
