#include "serial/Dispatcher.h"

#include "platform/Clock.h"
#include "serial/ErrorCodes.h"
#include "serial/MessageTarget.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

namespace serial
{

namespace
{

using SteadyClock = std::chrono::steady_clock;

constexpr int kThreadReadyMs = 3000;
constexpr int kThreadStopMs = 200;
constexpr int kIdlePassMs = 50;
// Passes run back to back while handlers keep changing the output; this bounds one burst.
constexpr int kMaxBackToBackPasses = 256;

std::atomic<TMillisecondClock> gClock{nullptr};

uint32_t NowMs()
{
    const TMillisecondClock clock = gClock.load();
    return clock ? clock() : platform::TickCountMs();
}

// The port table. A slot is reserved while OpenPort runs; only a record marked open answers
// operations.
struct TPortSlot {
    uint32_t Reserved = 0;
    std::shared_ptr<TPortRecord> Record;
};

std::mutex gTableMutex;
TPortSlot gTable[kMaxPorts + 1];

std::shared_ptr<TPortRecord> SlotRecord(int port)
{
    if (port < 1 || port > kMaxPorts)
        return nullptr;
    std::lock_guard guard(gTableMutex);
    const TPortSlot &slot = gTable[port];
    return slot.Reserved ? slot.Record : nullptr;
}

void FreeSlot(int port)
{
    std::lock_guard guard(gTableMutex);
    gTable[port] = TPortSlot{};
}

// An open port, held alive and locked for the duration of an operation.
class TPortAccess
{
  public:
    explicit TPortAccess(int port) : record_(SlotRecord(port))
    {
        if (!record_)
            return;
        lock_ = std::unique_lock(record_->Lock);
        if (!record_->IsOpen || record_->TornDown) {
            lock_.unlock();
            record_.reset();
        }
    }

    explicit operator bool() const { return record_ != nullptr; }
    TPortRecord *operator->() const { return record_.get(); }
    TPortRecord &operator*() const { return *record_; }
    const std::shared_ptr<TPortRecord> &Shared() const { return record_; }

    void Unlock() { lock_.unlock(); }
    void Relock() { lock_.lock(); }
    template <typename Pred> void Wait(std::condition_variable_any &cv, Pred pred)
    {
        cv.wait(lock_, pred);
    }

  private:
    std::shared_ptr<TPortRecord> record_;
    std::unique_lock<std::recursive_mutex> lock_;
};

// Everything below that takes a TPortRecord & runs with its lock held.

int RefreshStatus(TPortRecord &rec)
{
    const int errors = rec.Routines.Status(rec.DeviceHandle, rec.Status);
    if (errors > 0)
        rec.LineErrors |= static_cast<uint32_t>(errors) & 0x1F;
    return errors;
}

// Bytes not yet on the wire: the output ring and what the driver still holds (the device
// status counts both), so "drained" means the bytes left the machine.
uint16_t OutputCountOf(TPortRecord &rec)
{
    RefreshStatus(rec);
    return static_cast<uint16_t>(std::min<uint32_t>(rec.Status.OutQueue, 0xFFFF));
}

// Room in the output ring alone: a block fits there whatever the driver still holds.
uint16_t RingRoomOf(const TPortRecord &rec)
{
    return static_cast<uint16_t>(rec.OutSize - std::min(rec.OutputUsed(), rec.OutSize));
}

// The same for a caller who asks: the device's status is taken first, as every status query
// does.
uint16_t OutputRoomOf(TPortRecord &rec)
{
    RefreshStatus(rec);
    return RingRoomOf(rec);
}

bool ReadsProvisionally(const TPortRecord &rec)
{
    return rec.Provisional && !(rec.Options & poConsumeInHandler);
}

uint16_t UnreadCount(const TPortRecord &rec)
{
    const uint16_t used = rec.InputUsed();
    if (!ReadsProvisionally(rec))
        return used;
    return used > rec.ProvisionalCount ? static_cast<uint16_t>(used - rec.ProvisionalCount) : 0;
}

// Index of the first unread byte a read takes next.
uint16_t ReadIndex(const TPortRecord &rec)
{
    const uint16_t skip = ReadsProvisionally(rec) ? rec.ProvisionalCount : 0;
    return static_cast<uint16_t>((rec.InTail + skip) % kInputRingSize);
}

// Takes count bytes as read: provisionally inside a delivery, else by moving the tail.
void ConsumeInput(TPortRecord &rec, uint16_t count)
{
    if (count == 0)
        return;
    if (ReadsProvisionally(rec)) {
        rec.ProvisionalCount = static_cast<uint16_t>(rec.ProvisionalCount + count);
        return;
    }
    rec.InTail = static_cast<uint16_t>((rec.InTail + count) % kInputRingSize);
    rec.InputFull = false;
}

uint8_t ReadModemLines(TPortRecord &rec, uint8_t clearMask)
{
    const uint8_t lines = rec.Routines.ModemLines(rec.DeviceHandle) & 0xF0;
    rec.ModemShadow = static_cast<uint8_t>((rec.ModemShadow & 0x0F) | lines);
    if (rec.RingEdge.exchange(false))
        rec.ModemShadow |= 0x04;
    const uint8_t result = rec.ModemShadow;
    rec.ModemShadow &= clearMask;
    return result;
}

// A device event changed modem lines: refresh the shadow and mark each line that moved.
void UpdateModemShadow(TPortRecord &rec)
{
    const uint8_t before = rec.ModemShadow;
    ReadModemLines(rec, 0xFF);
    const uint8_t moved = before ^ rec.ModemShadow;
    if (moved & msCts)
        rec.ModemShadow |= 0x01;
    if (moved & msDsr)
        rec.ModemShadow |= 0x02;
    if (moved & msDcd)
        rec.ModemShadow |= 0x08;
}

// Reads a change bit's line: the shadow's state bit, clearing the change bit.
int TestLine(TPortRecord &rec, uint8_t stateBit, uint8_t changeBit)
{
    if (!(rec.Options & poUseMsrShadow))
        ReadModemLines(rec, 0xFF);
    const int result = (rec.ModemShadow & stateBit) ? 1 : 0;
    rec.ModemShadow &= static_cast<uint8_t>(~changeBit);
    return result;
}

// Reads the device state, lets edit change it, applies the remembered DTR and RTS states,
// and writes it back. -3002 when the device refuses.
template <typename Edit> int EditLineState(TPortRecord &rec, Edit edit)
{
    TLineState state;
    if (rec.Routines.GetState(rec.DeviceHandle, state) != 0)
        return ecNotSupported;
    edit(state);
    if (!rec.DtrState)
        state.DtrControl = TLineState::Disabled;
    if (!rec.RtsState)
        state.RtsControl = TLineState::Disabled;
    if (rec.Routines.SetState(rec.DeviceHandle, state) != 0)
        return ecNotSupported;
    rec.LineState = state;
    return ecOK;
}

int ApplyLineSettingsTo(TPortRecord &rec, int32_t baud, uint16_t parity, uint16_t dataBits,
                        uint16_t stopBits)
{
    return EditLineState(rec, [&](TLineState &state) {
        if (baud != 0)
            state.BaudRate = static_cast<uint32_t>(baud);
        if (parity <= 4)
            state.Parity = static_cast<uint8_t>(parity);
        if (dataBits != 9)
            state.ByteSize = static_cast<uint8_t>(dataBits);
        if (stopBits != 3)
            state.StopBits = stopBits >= 2 ? 2 : 0;
    });
}

int32_t DecodeBaud(uint32_t stored)
{
    static constexpr int32_t kCoded[24] = {110,   300, 600, 1200,   2400, 4800, 9600, 14400,
                                           19200, 0,   0,   38400,  0,    0,    0,    56000,
                                           0,     0,   0,   128000, 0,    0,    0,    256000};
    if (stored == 0xFEFF)
        return 115200;
    if (stored >= 0xFF10 && stored - 0xFF10 < 24 && kCoded[stored - 0xFF10] != 0)
        return kCoded[stored - 0xFF10];
    return static_cast<int32_t>(stored);
}

void FreeHandlers(TPortRecord &rec)
{
    while (rec.Handlers) {
        TEventHandlerNode *next = rec.Handlers->Next;
        delete rec.Handlers;
        rec.Handlers = next;
    }
}

void SweepRemovedHandlers(TPortRecord &rec)
{
    TEventHandlerNode **link = &rec.Handlers;
    while (*link) {
        TEventHandlerNode *node = *link;
        if (node->Removed) {
            *link = node->Next;
            delete node;
        } else {
            link = &node->Next;
        }
    }
    rec.HandlersRemoved = false;
}

void LogDelivery(TPortRecord &rec, unsigned msg, uintptr_t wParam)
{
    uint8_t subtype = lsNone;
    switch (msg) {
    case MsgTriggerAvail:
        subtype = lsAvail;
        break;
    case MsgTriggerData:
        subtype = lsData;
        break;
    case MsgTriggerTimer:
        subtype = lsTimer;
        break;
    case MsgTriggerStatus:
        subtype = lsStatus;
        break;
    default:
        return;
    }
    rec.TraceLog.LogAdd(ltTrigger, subtype, static_cast<uint16_t>(wParam), nullptr, 0);
}

// Delivers a trigger message to every handler, newest first, without the port lock. True
// means the caller may go on evaluating; false means stop (close pending, or an avail
// message whose count the handlers did not take).
bool Deliver(TPortAccess &access, unsigned msg, uintptr_t wParam, uint16_t lParamLow)
{
    TPortRecord &rec = *access;
    if (rec.Stop || rec.ClosePending)
        return false;
    rec.Dispatching = true;
    rec.Delivering = true;
    rec.Provisional = (msg == MsgTriggerAvail || msg == MsgTriggerData);
    rec.ProvisionalMaximum = 0;
    std::memset(rec.HandleReused, 0, sizeof rec.HandleReused);
    LogDelivery(rec, msg, wParam);
    const intptr_t lParam = static_cast<intptr_t>((uint32_t{rec.PortNumber} << 16) | lParamLow);

    bool result = true;
    for (TEventHandlerNode *node = rec.Handlers; node;) {
        rec.ProvisionalCount = 0;
        if (node->Removed) {
            node = node->Next;
            continue;
        }
        const uint32_t passOn = node->PassOn;
        if (node->Kind == TEventHandlerNode::Window) {
            std::shared_ptr<TSendTicket> ticket = node->Target->PostMessage(msg, wParam, lParam);
            access.Unlock();
            ticket->Wait(kSendLimitMs);
            access.Relock();
        } else if (node->Kind == TEventHandlerNode::Procedure) {
            const TEventProc proc = node->Proc;
            const uintptr_t value = node->HandleValue;
            rec.CallingProcedure = node;
            rec.MessageConsumed = false;
            access.Unlock();
            proc(value, msg, wParam, lParam);
            access.Relock();
            rec.CallingProcedure = nullptr;
            rec.ProcedureReturned.notify_all();
        }
        const bool consumed = std::exchange(rec.MessageConsumed, false);
        if (rec.ClosePending || rec.Stop) {
            rec.Delivering = false;
            return false;
        }
        rec.ProvisionalMaximum = std::max(rec.ProvisionalMaximum, rec.ProvisionalCount);
        if (passOn == 0 || consumed)
            break;
        if (msg != MsgTriggerAvail && wParam <= kMaxHandle && rec.HandleReused[wParam])
            break;
        node = node->Next;
    }

    rec.Delivering = false;
    if (rec.HandlersRemoved)
        SweepRemovedHandlers(rec);
    if (rec.Provisional) {
        rec.Provisional = false;
        const uint16_t taken = std::min(rec.ProvisionalMaximum, rec.InputUsed());
        rec.InTail = static_cast<uint16_t>((rec.InTail + taken) % kInputRingSize);
        if (rec.ProvisionalMaximum != 0)
            rec.InputFull = false;
        if (msg == MsgTriggerAvail && rec.ProvisionalMaximum != wParam)
            result = false;
    }
    rec.Dispatching = false;
    rec.ProvisionalCount = 0;
    return result;
}

// Reads up to count bytes from the device into the input ring at index; the bytes read.
uint16_t ReadIntoRing(TPortRecord &rec, uint16_t index, uint16_t count)
{
    int got = rec.Routines.Read(rec.DeviceHandle, &rec.InRing[index], count);
    if (got < 0) {
        rec.Routines.ReadError(rec.DeviceHandle, -1);
        got = 0;
    }
    got = std::min<int>(got, count);
    if (got > 0)
        rec.TraceLog.LogAdd(ltDispatch, lsReadCom, static_cast<uint16_t>(got), &rec.InRing[index],
                            static_cast<uint16_t>(got));
    else
        rec.TraceLog.LogAdd(ltDispatch, lsReadCom, 0, nullptr, 0);
    if (got == 0)
        return 0;
    rec.InHead = static_cast<uint16_t>((rec.InHead + got) % kInputRingSize);
    rec.ReceivedSinceAvail += static_cast<uint32_t>(got);
    rec.InputFull = rec.InHead == rec.InTail;
    const uint32_t pending = uint32_t{rec.ScanPending} + static_cast<uint32_t>(got);
    if (pending > kInputRingSize) {
        // Bytes a reader consumed before the triggers saw them were overwritten: the scan
        // resumes with the oldest byte still in the ring.
        rec.ScanPending = kInputRingSize;
        rec.ScanPosition = rec.InHead;
        rec.MatchesPending = false;
        for (TDataTrigger &t : rec.Triggers.Data)
            t.Matched = false;
    } else {
        rec.ScanPending = static_cast<uint16_t>(pending);
    }
    return static_cast<uint16_t>(got);
}

// Moves what the driver holds into the input ring: at most two reads, up to the ring end and
// then from its start.
void Receive(TPortRecord &rec)
{
    if (rec.InputFull)
        return;
    RefreshStatus(rec);
    const uint32_t waiting = rec.Status.InQueue;
    if (waiting < 1)
        return;
    const uint16_t room = static_cast<uint16_t>(kInputRingSize - rec.InputUsed());
    const uint16_t wanted = static_cast<uint16_t>(std::min<uint32_t>(waiting, room));
    if (wanted == 0)
        return;
    const uint16_t contiguous = rec.InTail > rec.InHead
                                    ? static_cast<uint16_t>(rec.InTail - rec.InHead)
                                    : static_cast<uint16_t>(kInputRingSize - rec.InHead);
    const uint16_t first = std::min(wanted, contiguous);
    const uint16_t got = ReadIntoRing(rec, rec.InHead, first);
    if (got == first && wanted > first)
        ReadIntoRing(rec, 0, static_cast<uint16_t>(wanted - first));
}

// Bytes from the tail through index a, when a lies among the unread bytes; else 0.
uint16_t UnreadThrough(const TPortRecord &rec, uint16_t a)
{
    const uint16_t offset =
        static_cast<uint16_t>((a - rec.InTail + kInputRingSize) % kInputRingSize);
    return offset < rec.InputUsed() ? static_cast<uint16_t>(offset + 1) : 0;
}

// Feeds the data triggers the bytes they have not seen yet, up to the first byte at which one
// matches; the scan stops on that byte. True when a match waits there, with the length of the
// longest text matched. A match is counted the moment its last byte is scanned.
bool ScanForMatch(TPortRecord &rec, uint16_t &longest)
{
    bool matched = false;
    longest = 0;
    // Without a data trigger there is nothing to look for in the bytes: a terminal streaming at
    // full speed would otherwise pay a walk over every trigger slot per byte.
    const bool anyDataTrigger =
        std::any_of(std::begin(rec.Triggers.Data), std::end(rec.Triggers.Data),
                    [](const TDataTrigger &t) { return t.Handle && (t.Length || t.Matched); });
    if (!anyDataTrigger && !rec.MatchesPending && rec.ScanPending > 0) {
        rec.ScanPosition =
            static_cast<uint16_t>((rec.ScanPosition + rec.ScanPending) % kInputRingSize);
        rec.ScanPending = 0;
    }
    while (rec.ScanPending > 0) {
        const uint16_t a = rec.ScanPosition;
        bool check = rec.MatchesPending;
        if (!rec.MatchesPending) {
            const uint8_t c = rec.InRing[a];
            for (TDataTrigger &t : rec.Triggers.Data)
                if (t.Handle && t.Length && !t.Matched && t.Feed(c)) {
                    t.Matched = true;
                    ++t.MatchCount;
                    check = true;
                }
        }
        rec.MatchesPending = false;
        if (check) {
            for (const TDataTrigger &t : rec.Triggers.Data) {
                if (t.Handle && t.Matched) {
                    matched = true;
                    longest = std::max(longest, t.Length);
                }
            }
        }
        if (matched)
            break;
        rec.ScanPosition = static_cast<uint16_t>((a + 1) % kInputRingSize);
        --rec.ScanPending;
    }

    return matched;
}

// Brings the triggers' scan up to what the ring holds (or to its first match), without
// delivering, so that the matches in bytes a caller has just read (a text wait reads ahead of
// the scan) are counted for good, even if the ring overwrites those bytes later. Left to
// the dispatch thread while a delivery is under way: it resumes its scan from where it stood.
void CatchUpScan(TPortRecord &rec)
{
    if (rec.Dispatching || rec.Delivering || rec.Stop || rec.ClosePending)
        return;
    uint16_t longest = 0;
    if (ScanForMatch(rec, longest)) {
        rec.MatchesPending = true;
        rec.TriggerWake.Set();
    }
}

// Matches of t in the bytes the scan has not reached yet, found on a copy of its state: a scan
// held at a match that waits for its delivery (the prompt) does not go past it, and a text behind
// it (the error) would otherwise not count until the delivery is made.
uint32_t MatchesAhead(const TPortRecord &rec, const TDataTrigger &t)
{
    if (!t.Handle || !t.Length)
        return 0;
    TDataTrigger ahead = t;
    ahead.Matched = false;
    uint16_t at = rec.ScanPosition;
    uint16_t left = rec.ScanPending;
    // The byte a waiting match stands on has been fed already.
    if (rec.MatchesPending && left > 0) {
        at = static_cast<uint16_t>((at + 1) % kInputRingSize);
        --left;
    }
    uint32_t count = 0;
    for (; left > 0; --left, at = static_cast<uint16_t>((at + 1) % kInputRingSize))
        if (ahead.Feed(rec.InRing[at]))
            ++count;
    return count;
}

// One step of data-trigger and avail evaluation; true while the caller should go on.
bool DataAndAvailStep(TPortAccess &access)
{
    TPortRecord &rec = *access;
    if (rec.Stop || rec.ClosePending || rec.Dispatching || rec.DeliveryHeld)
        return false;

    uint16_t longest = 0;
    const bool matched = ScanForMatch(rec, longest);
    if (matched) {
        const uint16_t a = rec.ScanPosition;
        if (rec.Triggers.AvailThreshold && a != rec.LastAvailPosition) {
            const uint16_t through = UnreadThrough(rec, a);
            if (through >= longest && through - longest >= rec.Triggers.AvailThreshold) {
                // The bytes before the match are announced first; the marked triggers fire
                // in the next step without seeing the byte at a again.
                rec.LastAvailPosition = a;
                rec.ReceivedSinceAvail = 0;
                rec.MatchesPending = true;
                const bool go = Deliver(access, MsgTriggerAvail, through - longest, 0);
                // Bytes a handler left unread must not hold back the match behind them: a
                // port without an avail reader would otherwise see the device's prompt or
                // error text only when some later byte arrives.
                const bool heldBack = !(rec.Options & poConsumeInHandler);
                return go || (heldBack && !rec.ClosePending && !rec.Stop);
            }
        }
        rec.ScanPosition = static_cast<uint16_t>((a + 1) % kInputRingSize);
        --rec.ScanPending;
        bool result = true;
        for (int slot = 0; slot < kDataSlots; ++slot) {
            TDataTrigger &t = rec.Triggers.Data[slot];
            if (!t.Handle || !t.Matched)
                continue;
            t.Matched = false;
            result = Deliver(access, MsgTriggerData, t.Handle, t.Length);
            if (rec.ClosePending || rec.Stop)
                return false;
        }
        return result;
    }

    const uint16_t unread = rec.InputUsed();
    const bool headMoved = rec.InHead != rec.LastAvailPosition || rec.ReceivedSinceAvail > 0;
    if (rec.Triggers.AvailThreshold && headMoved && unread >= rec.Triggers.AvailThreshold) {
        rec.LastAvailPosition = rec.InHead;
        rec.ReceivedSinceAvail = 0;
        return Deliver(access, MsgTriggerAvail, unread, 0);
    }
    return false;
}

bool TimerCheck(TPortAccess &access)
{
    TPortRecord &rec = *access;
    const int32_t now = CurrentTick();
    for (TTimerTrigger &t : rec.Triggers.Timers) {
        if (t.InUse && t.Armed && t.Expired(now)) {
            t.Armed = false;
            return Deliver(access, MsgTriggerTimer, t.Handle, 0);
        }
    }
    return false;
}

bool StatusCheck(TPortAccess &access)
{
    TPortRecord &rec = *access;
    for (int i = 0; i < kStatusSlots; ++i) {
        TStatusTrigger &t = rec.Triggers.Status[i];
        if (!t.Handle || !t.Armed || rec.Fired[i])
            continue;
        bool fire = false;
        uint16_t count = 0;
        switch (t.Kind) {
        case StatusModem:
            fire = (((t.Value & 0xFF) ^ rec.ModemShadow) & (t.Value >> 8)) != 0;
            break;
        case StatusLineError:
            // A failed line is a line error whatever the mask: it is the one that matters most.
            fire = (rec.LineErrors & (t.Value | ceIoError)) != 0;
            break;
        case StatusOutFree:
            // The ring's room needs no word from the device: a pass per batch of output stays
            // free of system calls.
            count = RingRoomOf(rec);
            fire = count >= t.Value;
            break;
        case StatusOutUsed:
            count = OutputCountOf(rec);
            fire = count <= t.Value;
            break;
        case StatusOutSent:
            fire = rec.OutputSent;
            rec.OutputSent = false;
            break;
        default:
            break;
        }
        if (!fire)
            continue;
        t.Armed = false;
        rec.StatusPass = true;
        rec.Fired[i] = true;
        return Deliver(access, MsgTriggerStatus, t.Handle, count);
    }
    return false;
}

// One pass over the status triggers (and the timers on an idle pass). True when a trigger
// fired and the output moved meanwhile, so a re-armed output trigger may hold again at once.
bool StatusPass(TPortAccess &access, bool withTimers)
{
    TPortRecord &rec = *access;
    if (rec.Stop || rec.ClosePending || rec.Dispatching || rec.DeliveryHeld)
        return false;
    rec.StatusPass = false;
    const uint32_t activity = rec.OutActivity;
    bool more = false;
    do {
        more = StatusCheck(access);
        if (!more && withTimers)
            more = TimerCheck(access);
    } while (more && !rec.ClosePending && !rec.Stop);
    const bool fired = rec.StatusPass;
    if (fired)
        std::memset(rec.Fired, 0, sizeof rec.Fired);
    return fired && activity != rec.OutActivity && !rec.ClosePending && !rec.Stop;
}

void RunStatusPasses(TPortAccess &access, bool withTimers)
{
    for (int pass = 0; pass < kMaxBackToBackPasses && StatusPass(access, withTimers); ++pass) {
    }
}

// Data triggers and avail, step after step, while they fire and nothing stops them.
void RunDataSteps(TPortAccess &access)
{
    TPortRecord &rec = *access;
    while (!rec.Dispatching && DataAndAvailStep(access) && !rec.ClosePending && !rec.Stop) {
    }
}

// Handles the device event the event thread stored; false when a close became pending.
bool ProcessDeviceEvent(TPortAccess &access, uint32_t word)
{
    TPortRecord &rec = *access;
    if (word & evModemChanges) {
        UpdateModemShadow(rec);
        RunStatusPasses(access, false);
    }
    if (word & (evBreak | evErr)) {
        RefreshStatus(rec);
        RunStatusPasses(access, false);
    }
    if (word & evRxChar) {
        Receive(rec);
        RunDataSteps(access);
    }
    return !rec.ClosePending;
}

// Port threads that could not be joined where they were stopped (a dispatch thread that tears
// its own port down, a thread slow to end) are handed over here instead of being detached. They
// are joined once they have ended, and at the latest when the program exits, before any static
// object they use (the port table, the device layers' tables) is destroyed.
struct THandedOver {
    std::thread Thread;
    std::shared_ptr<TPortRecord> Record; // keeps the running flag readable
    std::atomic<bool> TPortRecord::*Running;
};

std::mutex gHandedOverMutex;
std::vector<THandedOver> gHandedOver;
std::once_flag gJoinAtExit;

void JoinThreads(std::vector<THandedOver> &threads)
{
    for (THandedOver &h : threads) {
        if (h.Thread.get_id() == std::this_thread::get_id())
            h.Thread.detach(); // only when exit is called from a port thread itself
        else
            h.Thread.join();
    }
}

// Joins the handed-over threads that have ended (all of them when all is set).
void JoinHandedOver(bool all)
{
    std::vector<THandedOver> ended;
    {
        std::lock_guard guard(gHandedOverMutex);
        auto keep = std::partition(gHandedOver.begin(), gHandedOver.end(), [&](THandedOver &h) {
            return !all && (*h.Record.*h.Running).load();
        });
        std::move(keep, gHandedOver.end(), std::back_inserter(ended));
        gHandedOver.erase(keep, gHandedOver.end());
    }
    JoinThreads(ended);
}

void JoinAllHandedOver()
{
    JoinHandedOver(true);
}

void HandOver(const std::shared_ptr<TPortRecord> &rec, std::thread &thread,
              std::atomic<bool> TPortRecord::*running)
{
    if (!thread.joinable())
        return;
    // Registered after the port table and the device layers' tables were built, so it runs
    // before they are destroyed.
    std::call_once(gJoinAtExit, [] { std::atexit(JoinAllHandedOver); });
    std::lock_guard guard(gHandedOverMutex);
    gHandedOver.push_back(THandedOver{std::move(thread), rec, running});
}

void WaitForThread(const std::shared_ptr<TPortRecord> &rec, std::thread &thread, Event &ended,
                   std::atomic<bool> TPortRecord::*running)
{
    if (!thread.joinable())
        return;
    // A thread that does not end in time (or the thread itself) keeps its own reference to the
    // record and is joined later.
    if (thread.get_id() != std::this_thread::get_id() && ended.Wait(kThreadStopMs))
        thread.join();
    else
        HandOver(rec, thread, running);
}

// Ends the event and output threads (they are the only users of the device besides the
// callers), so the device can be closed under them safely.
void StopIoThreads(const std::shared_ptr<TPortRecord> &rec)
{
    rec->IoStop = true;
    rec->IoStopEvent.Set();
    rec->OutputReady.Set();
    WaitForThread(rec, rec->OutputThread, rec->OutputEnded, &TPortRecord::OutputRunning);
    WaitForThread(rec, rec->EventThread, rec->EventEnded, &TPortRecord::EventRunning);
}

void TearDown(const std::shared_ptr<TPortRecord> &rec)
{
    rec->Stop = true;
    rec->StopEvent.Set();
    StopIoThreads(rec);
    WaitForThread(rec, rec->DispatchThread, rec->DispatchEnded, &TPortRecord::DispatchRunning);
    std::lock_guard lock(rec->Lock);
    FreeHandlers(*rec);
    rec->TornDown = true;
    FreeSlot(rec->PortNumber);
}

// Whether the 50 ms pass has anything to look at. Two status triggers need none, as what they
// wait for wakes the dispatch thread itself: an output-free one (the ring's room grows only when
// the output thread takes bytes or the ring is emptied, and both wake it when the trigger may
// fire), and a line-error one that waits for a failed line only (FailLine wakes it). A link that
// watches its line and pumps an upload then costs no wake-ups between the upload's batches.
bool AnythingArmed(const TPortRecord &rec)
{
    for (const TTimerTrigger &t : rec.Triggers.Timers)
        if (t.InUse && t.Armed)
            return true;
    for (const TStatusTrigger &t : rec.Triggers.Status) {
        if (!t.Handle || !t.Armed || t.Kind == StatusOutFree)
            continue;
        if (t.Kind == StatusLineError && t.Value == 0)
            continue;
        return true;
    }
    return false;
}

void DispatchThreadMain(std::shared_ptr<TPortRecord> rec)
{
    rec->DispatchReady.Set();
    auto lastIdle = SteadyClock::now();
    const auto idleEvery = std::chrono::milliseconds(kIdlePassMs);
    bool armed = false;
    while (!rec->Stop && !rec->ClosePending) {
        // With no timer or status trigger armed the thread sleeps until an event comes (arming
        // one wakes it), so an idle port costs no CPU.
        auto untilIdle = std::chrono::duration_cast<std::chrono::microseconds>(
            lastIdle + idleEvery - SteadyClock::now());
        if (untilIdle.count() < 0)
            untilIdle = std::chrono::microseconds(0);
        if (!armed)
            untilIdle = std::chrono::microseconds(-1);
        // A trigger armed during the last delivery is looked at now, as if it had woken us.
        const int woke = rec->ArmedInDelivery.exchange(false)
                             ? 1
                             : Event::WaitAnyFor(
                                   {&rec->DeviceEvent, &rec->TriggerWake, &rec->StopEvent},
                                   untilIdle);
        if (rec->Stop)
            break;
        TPortAccess access(rec->PortNumber);
        if (!access || access.Shared() != rec)
            break;
        // Timers and status triggers get their pass every 50 ms even while events stream in.
        if (SteadyClock::now() - lastIdle >= idleEvery) {
            lastIdle = SteadyClock::now();
            RunStatusPasses(access, true);
        }
        if (woke == 1)
            RunStatusPasses(access, false);
        // A hold has ended: what it held back is delivered now, not when the next byte comes.
        if (!rec->Dispatching && !rec->DeliveryHeld && rec->ResumeRequested.exchange(false)) {
            RunStatusPasses(access, false);
            RunDataSteps(access);
        }
        if (!rec->Dispatching && !rec->DeliveryHeld && rec->AvailRequested.exchange(false)) {
            // Bytes a handler left unread are announced again, as if they had just come.
            rec->ReceivedSinceAvail = std::max<uint32_t>(rec->ReceivedSinceAvail, 1);
            RunDataSteps(access);
        }
        if (woke == 0) {
            const bool processed = ProcessDeviceEvent(access, rec->EventWord.exchange(0));
            armed = AnythingArmed(*rec);
            access.Unlock();
            if (processed)
                rec->EventProcessed.Set();
            continue;
        }
        armed = AnythingArmed(*rec);
    }
    rec->DispatchEnded.Set();
    if (rec->ClosePending && !rec->Stop)
        TearDown(rec);
    rec->DispatchRunning = false;
}

int FailOpen(const std::shared_ptr<TPortRecord> &rec, int result, bool deviceOpen)
{
    if (deviceOpen) {
        if (rec->Adopted)
            rec->Routines.AdoptHandle(rec->DeviceHandle, false);
        else
            rec->Routines.Close(rec->DeviceHandle);
    }
    rec->DeviceHandle = -1;
    FreeSlot(rec->PortNumber);
    return result;
}

int StartThreads(const std::shared_ptr<TPortRecord> &rec)
{
    try {
        rec->EventRunning = true;
        rec->EventThread = std::thread([rec] {
            rec->Routines.EventThread(*rec);
            rec->EventRunning = false;
            rec->EventEnded.Set();
        });
        rec->EventReady.Wait(kThreadReadyMs);
        {
            std::lock_guard lock(rec->Lock);
            rec->DispatchRunning = true;
            rec->DispatchThread = std::thread(DispatchThreadMain, rec);
            rec->DispatchThreadId = rec->DispatchThread.get_id();
        }
        rec->DispatchReady.Wait(kThreadReadyMs);
        rec->OutputRunning = true;
        rec->OutputThread = std::thread([rec] {
            rec->Routines.OutputThread(*rec);
            rec->OutputRunning = false;
            rec->OutputEnded.Set();
        });
        rec->OutputReadyToRun.Wait(kThreadReadyMs);
    } catch (const std::system_error &) {
        rec->OutputRunning = rec->OutputThread.joinable();
        rec->EventRunning = rec->EventThread.joinable();
        rec->DispatchRunning = rec->DispatchThread.joinable();
        return ecOutOfMemory;
    }
    return ecOK;
}

// Per thread, as errno is: two threads opening ports at once each see their own failure.
thread_local int tLastOpenError = 0;

int Open(int &port, const std::string *deviceName, int adoptedHandle, uint16_t inSize,
         uint16_t outSize, int32_t baud, uint16_t parity, uint16_t dataBits, uint16_t stopBits)
{
    port = 0;
    tLastOpenError = 0;
    JoinHandedOver(false);
    int slot = 0;
    {
        std::lock_guard guard(gTableMutex);
        for (int i = 1; i <= kMaxPorts && !slot; ++i)
            if (!gTable[i].Reserved)
                slot = i;
        if (!slot)
            return ecNoHandles;
        gTable[slot].Reserved = 1;
    }
    std::shared_ptr<TPortRecord> rec(new (std::nothrow) TPortRecord);
    if (!rec || !rec->EventsValid()) {
        FreeSlot(slot);
        return ecOutOfMemory;
    }
    rec->PortNumber = static_cast<uint16_t>(slot);
    rec->Routines = InstalledDeviceRoutines();
    rec->WriteTimeoutMs = kWriteTimeoutMs;
    rec->TraceLog.SetClock(NowMs);
    {
        // Published before the device opens so the layer's routines can find the record by
        // its handle; operations still answer -1001 until the port is marked open.
        std::lock_guard guard(gTableMutex);
        gTable[slot].Record = rec;
    }

    std::unique_lock lock(rec->Lock);
    if (!deviceName) {
        rec->Adopted = true;
        rec->Routines.AdoptHandle(adoptedHandle, true);
        rec->DeviceHandle = adoptedHandle;
    } else {
        int platformError = 0;
        const int handle = rec->Routines.Open(*deviceName, platformError, tLastOpenError);
        if (handle < 0) {
            const int result = handle == -1 ? -platformError : handle;
            return FailOpen(rec, result == 0 ? ecFileNotFound : result, false);
        }
        rec->DeviceHandle = handle;
    }
    if (!rec->Routines.QueueSizes(rec->DeviceHandle, inSize, outSize))
        return FailOpen(rec, ecNotSupported, true);
    try {
        rec->InRing.assign(kInputRingSize, 0);
        rec->OutRing = std::make_shared<std::vector<uint8_t>>(outSize, 0);
    } catch (const std::bad_alloc &) {
        return FailOpen(rec, ecOutOfMemory, true);
    }
    rec->InSize = inSize;
    rec->OutSize = outSize;
    rec->Routines.GetState(rec->DeviceHandle, rec->LineState);
    rec->DtrState = rec->RtsState = true;
    rec->Triggers.Reset();
    rec->Options = poConsumeInHandler;
    rec->ModemShadow = 0;
    ReadModemLines(*rec, 0xF0);
    if (deviceName) {
        const int result = ApplyLineSettingsTo(*rec, baud, parity, dataBits, stopBits);
        if (result != ecOK)
            return FailOpen(rec, result, true);
    }
    RefreshStatus(*rec);
    rec->TraceLog.Reset();
    rec->TraceLog.SetStartTick(static_cast<int32_t>(NowMs() & 0x7FFFFFFF));
    rec->IsOpen = true;
    lock.unlock();

    const int started = StartThreads(rec);
    if (started != ecOK) {
        ClosePort(slot);
        return started;
    }
    port = slot;
    return ecOK;
}

} // namespace

bool TPortRecord::EventsValid() const
{
    for (const Event *e : {&DeviceEvent, &EventProcessed, &OutputReady, &FlushOutput, &FlushAck,
                           &TriggerWake, &StopEvent, &IoStopEvent, &EventReady, &DispatchReady,
                           &OutputReadyToRun, &EventEnded, &DispatchEnded, &OutputEnded})
        if (!e->Valid())
            return false;
    return true;
}

std::shared_ptr<TPortRecord> FindPortByHandle(int handle,
                                              int (*openRoutine)(const std::string &, int &, int &))
{
    if (handle < 0)
        return nullptr;
    std::lock_guard guard(gTableMutex);
    for (int i = 1; i <= kMaxPorts; ++i) {
        const std::shared_ptr<TPortRecord> &rec = gTable[i].Record;
        if (rec && rec->DeviceHandle == handle && rec->Routines.Open == openRoutine)
            return rec;
    }
    return nullptr;
}

int WriteIntoOutputRing(TPortRecord &port, const uint8_t *data, int count)
{
    std::lock_guard lock(port.Lock);
    if (count <= 0 || !port.OutRing || port.OutSize == 0)
        return 0;
    const bool wasEmpty = port.OutputUsed() == 0;
    uint8_t *ring = port.OutRing->data();
    const int size = port.OutSize;
    const int first = std::min(count, size - port.OutHead);
    std::memcpy(ring + port.OutHead, data, static_cast<size_t>(first));
    std::memcpy(ring, data + first, static_cast<size_t>(count - first));
    port.OutHead = static_cast<uint16_t>((port.OutHead + count) % size);
    port.OutFull = port.OutHead == port.OutTail;
    ++port.OutActivity;
    // An output thread only waits for this event once it has found the ring empty under this
    // lock; while the ring holds bytes it is still draining and takes these too. Waking it for
    // every block would cost a system call per block.
    if (wasEmpty && port.OutputDeferred)
        port.DeferredWake = true;
    else if (wasEmpty)
        port.OutputReady.Set();
    return count;
}

namespace
{

bool OutputTriggerMayFire(const TPortRecord &port, bool outputUsedToo);

void ResetOutputRing(TPortRecord &port)
{
    std::lock_guard lock(port.Lock);
    port.OutHead = port.OutTail = 0;
    port.OutFull = false;
    ++port.OutGeneration;
    ++port.OutActivity;
    // An output-free trigger has no timed pass to find the room an emptied ring made (the
    // output-used one keeps its pass, which also sees the driver's queue).
    if (OutputTriggerMayFire(port, false))
        port.TriggerWake.Set();
}

} // namespace

void FlushOutputRing(TPortRecord &port)
{
    // An output thread that has ended (or is ending: a stop or a line failure) cannot
    // acknowledge; the ring is then emptied here.
    if (port.OutputRunning && !port.IoStop) {
        port.FlushAck.Reset();
        port.FlushRequested = true;
        port.FlushOutput.Set();
        if (Event::WaitAny({&port.FlushAck, &port.IoStopEvent}, 2 * kSendLimitMs) == 0)
            return;
    }
    ResetOutputRing(port);
}

bool IsLineFailure(int error)
{
    switch (error) {
    case EIO:
    case ENXIO:
    case EPIPE:
    case ENODEV:
    case EBADF:
        return true;
    default:
        return false;
    }
}

void FailLine(TPortRecord &port, int error)
{
    {
        std::lock_guard lock(port.Lock);
        if (port.LineFailed)
            return;
        port.LastSystemError = error != 0 ? error : EIO;
        port.LineFailed = true;
        port.LineErrors |= ceIoError;
        ResetOutputRing(port);
    }
    port.IoStop = true;
    port.IoStopEvent.Set();
    port.TriggerWake.Set();
}

void AcknowledgeFlush(TPortRecord &port)
{
    port.FlushRequested = false;
    ResetOutputRing(port);
    port.FlushAck.Set();
}

bool TakeOutputSpan(TPortRecord &port, TOutputSpan &span)
{
    std::lock_guard lock(port.Lock);
    if (!port.OutFull && port.OutHead == port.OutTail)
        return false;
    span.Ring = port.OutRing;
    span.Start = port.OutTail;
    span.Length = port.OutTail < port.OutHead ? static_cast<uint16_t>(port.OutHead - port.OutTail)
                                              : static_cast<uint16_t>(port.OutSize - port.OutTail);
    span.Wrapped = port.OutTail < port.OutHead ? uint16_t{0} : port.OutHead;
    span.Generation = port.OutGeneration;
    return true;
}

namespace
{

// Whether output leaving the ring may let an armed output trigger fire: an output-free one whose
// threshold the ring's room now reaches, or an output-used one (the driver's queue counts there,
// so the dispatch thread judges). Waking the dispatch thread for every write of the output thread
// would cost a round of system calls each time. Called under the port lock.
bool OutputTriggerMayFire(const TPortRecord &port, bool outputUsedToo)
{
    const uint32_t room = RingRoomOf(port);
    for (const TStatusTrigger &t : port.Triggers.Status) {
        if (!t.Handle || !t.Armed)
            continue;
        if ((outputUsedToo && t.Kind == StatusOutUsed) ||
            (t.Kind == StatusOutFree && room >= t.Value))
            return true;
    }
    return false;
}

} // namespace

void CompleteOutputSpan(TPortRecord &port, const TOutputSpan &span, uint16_t written)
{
    if (written == 0)
        return;
    bool wake = false;
    {
        std::lock_guard lock(port.Lock);
        if (span.Generation != port.OutGeneration)
            return;
        port.OutTail = static_cast<uint16_t>((span.Start + written) % port.OutSize);
        port.OutFull = false;
        ++port.OutActivity;
        wake = OutputTriggerMayFire(port, true);
    }
    if (wake)
        port.TriggerWake.Set();
}

void SetMillisecondClock(TMillisecondClock clock)
{
    gClock = clock;
}

int32_t CurrentTick()
{
    return static_cast<int32_t>((NowMs() & 0x7FFFFFFF) / 55);
}

int OpenPort(int &port, const std::string &deviceName, uint16_t inSize, uint16_t outSize,
             int32_t baud, uint16_t parity, uint16_t dataBits, uint16_t stopBits)
{
    return Open(port, &deviceName, -1, inSize, outSize, baud, parity, dataBits, stopBits);
}

int OpenPortHandle(int &port, int handle, uint16_t inSize, uint16_t outSize)
{
    return Open(port, nullptr, handle, inSize, outSize, 0, 5, 9, 3);
}

int ClosePort(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    if (rec.Closing)
        return ecOK;
    rec.Closing = true;
    const int handle = rec.DeviceHandle;
    access.Unlock();
    if (handle >= 0)
        rec.Routines.Flush(handle, 0);
    StopIoThreads(access.Shared());
    access.Relock();
    if (handle >= 0) {
        if (rec.Adopted)
            rec.Routines.AdoptHandle(handle, false);
        else
            rec.Routines.Close(handle);
        rec.DeviceHandle = -1;
    }
    const bool onDispatchThread = rec.DispatchThreadId == std::this_thread::get_id();
    if (rec.Dispatching || rec.Delivering || onDispatchThread) {
        // The dispatch thread finishes the close when the current delivery returns. A
        // procedure handler still running is waited for, so nothing of the caller's is used
        // after this returns (no further handler is called once the close is pending).
        // The dispatch thread tears the port down on its own; it is joined later (by the
        // program's exit at the latest), never left running detached.
        HandOver(access.Shared(), rec.DispatchThread, &TPortRecord::DispatchRunning);
        rec.ClosePending = true;
        rec.TriggerWake.Set();
        if (!onDispatchThread)
            access.Wait(rec.ProcedureReturned, [&] { return rec.CallingProcedure == nullptr; });
        return ecOK;
    }
    rec.Stop = true;
    const std::shared_ptr<TPortRecord> shared = access.Shared();
    access.Unlock();
    TearDown(shared);
    return ecOK;
}

int SetBufferSizes(int port, uint16_t inSize, uint16_t outSize)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    access.Unlock();
    rec.Routines.Flush(rec.DeviceHandle, 0);
    access.Relock();
    if (!rec.Routines.QueueSizes(rec.DeviceHandle, inSize, outSize))
        return ecNotSupported;
    rec.InSize = inSize;
    if (outSize != rec.OutSize) {
        try {
            rec.OutRing = std::make_shared<std::vector<uint8_t>>(outSize, 0);
        } catch (const std::bad_alloc &) {
            return ecOutOfMemory;
        }
        rec.OutSize = outSize;
        rec.OutHead = rec.OutTail = 0;
        rec.OutFull = false;
        ++rec.OutGeneration;
    }
    return ecOK;
}

int ApplyLineSettings(int port, int32_t baud, uint16_t parity, uint16_t dataBits, uint16_t stopBits)
{
    TPortAccess access(port);
    return access ? ApplyLineSettingsTo(*access, baud, parity, dataBits, stopBits) : ecBadHandle;
}

int ReadLineSettings(int port, int32_t &baud, uint16_t &parity, uint16_t &dataBits,
                     uint16_t &stopBits)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TLineState state;
    if (access->Routines.GetState(access->DeviceHandle, state) != 0)
        state = access->LineState;
    baud = DecodeBaud(state.BaudRate);
    parity = state.Parity;
    dataBits = state.ByteSize;
    stopBits = state.StopBits == 0 ? 1 : 2;
    return ecOK;
}

int DriveDTR(int port, bool on)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->DtrState = on;
    const int r = access->Routines.LineFunction(access->DeviceHandle, on ? lfSetDtr : lfClearDtr);
    return r == 0 ? ecOK : ecBadArgument;
}

int DriveRTS(int port, bool on)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->RtsState = on;
    const int r = access->Routines.LineFunction(access->DeviceHandle, on ? lfSetRts : lfClearRts);
    return r == 0 ? ecOK : ecBadArgument;
}

int ReadModemStatus(int port, uint8_t clearMask)
{
    TPortAccess access(port);
    return access ? ReadModemLines(*access, clearMask) : ecBadHandle;
}

int TestCTS(int port)
{
    TPortAccess access(port);
    return access ? TestLine(*access, msCts, 0x01) : ecBadHandle;
}

int TestDSR(int port)
{
    TPortAccess access(port);
    return access ? TestLine(*access, msDsr, 0x02) : ecBadHandle;
}

int TestDCD(int port)
{
    TPortAccess access(port);
    return access ? TestLine(*access, msDcd, 0x08) : ecBadHandle;
}

int TestRingEdge(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    if (access->RingEdge.exchange(false))
        access->ModemShadow |= 0x04;
    const int result = (access->ModemShadow & 0x04) ? 1 : 0;
    access->ModemShadow &= static_cast<uint8_t>(~0x04);
    return result;
}

int TakeLineError(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    static constexpr struct {
        uint32_t bit;
        int code;
    } kOrder[] = {{ceRxOver, 1}, {ceOverrun, 2}, {ceRxParity, 3}, {ceFrame, 4}, {ceBreak, 9}};
    // A failed line stays reported (ceIoError beside the code) until the port closes.
    const int failed = (access->LineErrors & ceIoError) ? static_cast<int>(ceIoError) : 0;
    for (const auto &entry : kOrder) {
        if (access->LineErrors & entry.bit) {
            access->LineErrors &= ~(ceRxOver | ceOverrun | ceRxParity | ceFrame);
            return entry.code | failed;
        }
    }
    return failed;
}

int LastOpenError()
{
    return tLastOpenError;
}

int LineFailure(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    return access->LineFailed ? access->LastSystemError.load() : 0;
}

int TestBreak(int port)
{
    TPortAccess access(port);
    if (!access)
        return 0;
    const int result = (access->LineErrors & ceBreak) ? 1 : 0;
    access->LineErrors &= ~ceBreak;
    return result;
}

bool HasInput(int port)
{
    TPortAccess access(port);
    return access && UnreadCount(*access) > 0;
}

int PeekByte(int port, uint8_t &c, uint16_t position)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    if (position == 0)
        return ecBadArgument;
    if (UnreadCount(*access) < position)
        return ecBufferIsEmpty;
    c = access->InRing[(ReadIndex(*access) + position - 1) % kInputRingSize];
    return ecOK;
}

int ReadByte(int port, uint8_t &c)
{
    const int result = ReadBytes(port, &c, 1);
    return result == 1 ? ecOK : result;
}

int ReadBytes(int port, uint8_t *buffer, uint16_t count)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    if (UnreadCount(rec) < count)
        return ecBufferIsEmpty;
    const uint16_t start = ReadIndex(rec);
    const uint16_t first = std::min<uint16_t>(count, static_cast<uint16_t>(kInputRingSize - start));
    std::memcpy(buffer, &rec.InRing[start], first);
    std::memcpy(buffer + first, rec.InRing.data(), static_cast<size_t>(count - first));
    ConsumeInput(rec, count);
    if (rec.TraceLog.Tracing())
        for (uint16_t i = 0; i < count; ++i)
            rec.TraceLog.TraceAdd(tkReceive, buffer[i]);
    return count;
}

int InputCount(int port)
{
    TPortAccess access(port);
    return access ? UnreadCount(*access) : 0;
}

int DiscardInput(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    // Only what the port has received is discarded. Bytes still queued in the driver have not
    // been shown to the data triggers yet: purging them there could drop a device's error text
    // that arrived behind the text whose handler discards (a prompt delivered late), and a
    // failed upload would pass. They arrive, and are scanned, like any later bytes.
    if (ReadsProvisionally(rec)) {
        // Inside a delivery the discard is one more provisional read of everything; the tail
        // moves (and the full flag clears) when the delivery ends.
        rec.ProvisionalCount = rec.InputUsed();
    } else {
        rec.InTail = rec.InHead;
        rec.InputFull = false;
    }
    for (TDataTrigger &t : rec.Triggers.Data)
        t.ResetPositions();
    return ecOK;
}

int SendByte(int port, uint8_t c)
{
    return SendBytes(port, &c, 1);
}

int SendBytes(int port, const uint8_t *data, uint16_t count)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    if (count == 0)
        return ecOK;
    TPortRecord &rec = *access;
    // Bytes queued on a failed line could never leave.
    if (rec.LineFailed)
        return ecPutBlockFail;
    // The ring's own room: what the driver holds does not matter here, so the device is not
    // asked (a block pump sends many blocks in a row).
    const uint32_t room = RingRoomOf(rec);
    if (room < count)
        return ecOutputBufferTooSmall;
    const int written = rec.Routines.Write(rec.DeviceHandle, data, count);
    rec.OutputSent = true;
    if (written <= 0) {
        rec.LastWriteCount = -written;
        RefreshStatus(rec);
        rec.TraceLog.LogAdd(ltDispatch, lsWriteCom, 0, nullptr, 0);
        return ecPutBlockFail;
    }
    rec.LastWriteCount = written;
    rec.TraceLog.LogAdd(ltDispatch, lsWriteCom, count, data, count);
    if (rec.TraceLog.Tracing())
        for (uint16_t i = 0; i < count; ++i)
            rec.TraceLog.TraceAdd(tkTransmit, data[i]);
    return ecOK;
}

int OutputCount(int port)
{
    TPortAccess access(port);
    return access ? OutputCountOf(*access) : ecBadHandle;
}

int OutputRoom(int port)
{
    TPortAccess access(port);
    return access ? OutputRoomOf(*access) : ecBadHandle;
}

int OutputRingRoom(int port)
{
    TPortAccess access(port);
    return access ? RingRoomOf(*access) : ecBadHandle;
}

int DeferOutput(int port, bool on)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    rec.OutputDeferred = on;
    // Only an output thread that found the ring empty waits for the wake; one still draining
    // takes the deferred writes with the rest.
    if (!on && std::exchange(rec.DeferredWake, false) && rec.OutputUsed() != 0)
        rec.OutputReady.Set();
    return ecOK;
}

int DiscardOutput(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    const int handle = rec.DeviceHandle;
    access.Unlock();
    return rec.Routines.Flush(handle, 0);
}

namespace
{

bool FlowLimitsValid(const TPortRecord &rec, uint16_t bufferFull, uint16_t bufferResume)
{
    return bufferFull >= bufferResume && rec.InSize >= bufferFull;
}

// A line that is not a flow-control handshake follows its remembered state.
uint8_t PlainControl(bool on)
{
    return on ? TLineState::Enabled : TLineState::Disabled;
}

} // namespace

int EnableHardwareFlow(int port, uint16_t bufferFull, uint16_t bufferResume, uint16_t options)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    if (!FlowLimitsValid(rec, bufferFull, bufferResume))
        return ecBadArgument;
    return EditLineState(rec, [&](TLineState &state) {
        state.DtrControl =
            (options & hfUseDtr) ? uint8_t{TLineState::Handshake} : PlainControl(rec.DtrState);
        state.RtsControl =
            (options & hfUseRts) ? uint8_t{TLineState::Handshake} : PlainControl(rec.RtsState);
        if (options & (hfUseDtr | hfUseRts)) {
            state.XoffLim = static_cast<uint16_t>(rec.InSize - bufferFull);
            state.XonLim = bufferResume;
        }
        state.OutxDsrFlow = (options & hfRequireDsr) != 0;
        state.OutxCtsFlow = (options & hfRequireCts) != 0;
    });
}

int DisableHardwareFlow(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    return EditLineState(rec, [&](TLineState &state) {
        state.DtrControl = PlainControl(rec.DtrState);
        state.RtsControl = PlainControl(rec.RtsState);
        state.OutxDsrFlow = false;
        state.OutxCtsFlow = false;
    });
}

int EnableSoftwareFlow(int port, uint16_t bufferFull, uint16_t bufferResume, uint16_t options)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    if (!FlowLimitsValid(rec, bufferFull, bufferResume))
        return ecBadArgument;
    return EditLineState(rec, [&](TLineState &state) {
        if (options & sfReceive) {
            state.InX = true;
            state.XoffLim = static_cast<uint16_t>(rec.InSize - bufferFull);
            state.XonLim = bufferResume;
        }
        if (options & sfTransmit)
            state.OutX = true;
        if (options & (sfReceive | sfTransmit)) {
            state.XonChar = 0x11;
            state.XoffChar = 0x13;
        }
    });
}

int DisableSoftwareFlow(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    return EditLineState(*access, [](TLineState &state) {
        state.InX = false;
        state.OutX = false;
    });
}

int SetFlowChars(int port, uint8_t xonChar, uint8_t xoffChar)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    return EditLineState(*access, [&](TLineState &state) {
        state.XonChar = xonChar;
        state.XoffChar = xoffChar;
    });
}

namespace
{

int AddNode(int port, const TEventHandlerNode &prototype)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    auto *node = new (std::nothrow) TEventHandlerNode(prototype);
    if (!node)
        return ecOutOfMemory;
    node->Next = access->Handlers;
    access->Handlers = node;
    return ecOK;
}

template <typename Match> int MarkRemoved(int port, Match match)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    TEventHandlerNode *removed = nullptr;
    for (TEventHandlerNode *node = rec.Handlers; node && !removed; node = node->Next) {
        if (!node->Removed && match(*node)) {
            node->Removed = true;
            rec.HandlersRemoved = true;
            removed = node;
        }
    }
    // A procedure being called right now is waited for (unless it removes itself), so its
    // owner may go away once this returns.
    if (removed && rec.DispatchThreadId != std::this_thread::get_id())
        access.Wait(rec.ProcedureReturned, [&] { return rec.CallingProcedure != removed; });
    // Nobody walks the list outside a delivery, so it can shrink at once.
    if (rec.HandlersRemoved && !rec.Delivering)
        SweepRemovedHandlers(rec);
    return ecOK;
}

} // namespace

int AddHandler(int port, TMessageTarget *window, uint32_t passOn)
{
    if (!window)
        return ecBadArgument;
    TEventHandlerNode node;
    node.Kind = TEventHandlerNode::Window;
    node.Target = window;
    node.PassOn = passOn;
    return AddNode(port, node);
}

int AddHandler(int port, TEventProc proc, uintptr_t handleValue, uint32_t passOn)
{
    if (!proc)
        return ecBadArgument;
    TEventHandlerNode node;
    node.Kind = TEventHandlerNode::Procedure;
    node.Proc = proc;
    node.HandleValue = handleValue;
    node.PassOn = passOn;
    return AddNode(port, node);
}

int RemoveHandler(int port, TMessageTarget *window)
{
    return MarkRemoved(port, [window](const TEventHandlerNode &node) {
        return window && node.Kind == TEventHandlerNode::Window && node.Target == window;
    });
}

int ConsumeMessage(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    if (!rec.CallingProcedure || rec.DispatchThreadId != std::this_thread::get_id())
        return ecBadArgument;
    rec.MessageConsumed = true;
    return ecOK;
}

int RemoveHandler(int port, TEventProc proc, uintptr_t handleValue)
{
    return MarkRemoved(port, [proc, handleValue](const TEventHandlerNode &node) {
        return node.Kind == TEventHandlerNode::Procedure && node.Proc == proc &&
               node.HandleValue == handleValue;
    });
}

int SetDataThreshold(int port, uint16_t count)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Triggers.AvailThreshold = count;
    return ecOK;
}

int AnnounceInput(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->AvailRequested = true;
    access->TriggerWake.Set();
    return ecOK;
}

namespace
{

int NoteNewHandle(TPortRecord &rec, int handle)
{
    if (handle > 0)
        rec.HandleReused[handle] = 1;
    return handle;
}

} // namespace

int AddClockTrigger(int port)
{
    TPortAccess access(port);
    return access ? NoteNewHandle(*access, access->Triggers.AddTimer()) : ecBadHandle;
}

int AddMatchTrigger(int port, const uint8_t *text, bool ignoreCase, uint16_t length)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    return NoteNewHandle(*access, access->Triggers.AddData(text, length, ignoreCase));
}

int AddMatchTrigger(int port, const std::string &text, bool ignoreCase)
{
    if (text.size() > 0xFFFF)
        return ecTriggerTooLong;
    return AddMatchTrigger(port, reinterpret_cast<const uint8_t *>(text.data()), ignoreCase,
                           static_cast<uint16_t>(text.size()));
}

int AddStateTrigger(int port, uint16_t kind)
{
    TPortAccess access(port);
    return access ? NoteNewHandle(*access, access->Triggers.AddStatus(kind)) : ecBadHandle;
}

int DropTrigger(int port, uint16_t handle)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Triggers.Drop(handle);
    return ecOK;
}

int ArmClockTrigger(int port, uint16_t handle, int32_t ticks, bool arm)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    const int slot = access->Triggers.SlotOf(handle, hkTimer);
    if (slot < 1 || slot > kTimerSlots)
        return ecBadTriggerHandle;
    TTimerTrigger &t = access->Triggers.Timers[slot - 1];
    if (!arm) {
        t.Armed = false;
        return ecOK;
    }
    if (ticks > 0)
        t.Duration = std::min(ticks, kMaxTimerTicks);
    t.StartTick = CurrentTick();
    t.ExpiryTick = t.StartTick + t.Duration;
    t.Armed = true;
    access->TriggerWake.Set();
    return ecOK;
}

int ArmStateTrigger(int port, uint16_t handle, uint16_t value, bool arm)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    TPortRecord &rec = *access;
    const int slot = rec.Triggers.SlotOf(handle, hkStatus);
    if (slot < 1 || slot > kStatusSlots)
        return ecBadTriggerHandle;
    TStatusTrigger &t = rec.Triggers.Status[slot - 1];
    t.Armed = arm;
    if (!arm)
        return ecOK;
    // A condition that already holds fires at the dispatch thread's next pass, which this
    // brings forward instead of waiting for the 50 ms one. During a delivery (a handler re-arming
    // its trigger, as a block pump does per batch) the dispatch thread runs that pass when the
    // delivery returns; waking it would cost a round of system calls for nothing.
    if (rec.Dispatching)
        rec.ArmedInDelivery = true;
    else
        rec.TriggerWake.Set();
    switch (t.Kind) {
    case StatusModem: {
        const uint8_t mask = static_cast<uint8_t>(value);
        t.Value = static_cast<uint16_t>((mask << 8) | (mask & rec.ModemShadow));
        break;
    }
    case StatusLineError: {
        uint16_t bits = 0;
        if (value & 1)
            bits |= ceOverrun;
        if (value & 2)
            bits |= ceRxParity;
        if (value & 4)
            bits |= ceFrame;
        if (value & 8)
            bits |= ceBreak;
        t.Value = bits;
        break;
    }
    default:
        t.Value = value;
        break;
    }
    return ecOK;
}

int StashTriggers(int port, TTriggerSnapshot &snapshot)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    snapshot = access->Triggers;
    return ecOK;
}

int ReinstateTriggers(int port, const TTriggerSnapshot &snapshot)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Triggers = snapshot;
    access->TriggerWake.Set();
    return ecOK;
}

int ResetTriggers(int port)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Triggers.Reset();
    return ecOK;
}

int StatusTriggerKind(int port, uint16_t handle)
{
    TPortAccess access(port);
    return access ? access->Triggers.StatusKindOf(handle) : 0;
}

int MatchCount(int port, uint16_t handle, uint32_t &count)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    const int slot = access->Triggers.SlotOf(handle, hkData);
    if (slot < 1 || slot > kDataSlots)
        return ecBadTriggerHandle;
    CatchUpScan(*access);
    const TDataTrigger &t = access->Triggers.Data[slot - 1];
    count = t.MatchCount + MatchesAhead(*access, t);
    return ecOK;
}

int SetOptionBits(int port, uint16_t bits)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Options |= static_cast<uint16_t>(bits & ~poUseMsrShadow);
    access->Routines.OptionsChanged(access->DeviceHandle, access->Options);
    return ecOK;
}

int ClearOptionBits(int port, uint16_t bits)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    access->Options &= static_cast<uint16_t>(~bits);
    access->Routines.OptionsChanged(access->DeviceHandle, access->Options);
    return ecOK;
}

int DeliveryUnderWay(int port, bool &underWay)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    underWay = access->Delivering;
    return ecOK;
}

int HoldDelivery(int port, bool &previous, bool on)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    previous = access->DeliveryHeld;
    access->DeliveryHeld = on;
    if (!on) {
        access->ResumeRequested = true;
        access->TriggerWake.Set();
    }
    return ecOK;
}

int TraceCreate(int port, int entries)
{
    TPortAccess access(port);
    return access ? access->TraceLog.TraceCreate(entries) : ecBadHandle;
}

namespace
{

template <typename Op> int WithTraceLog(int port, Op op)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    op(access->TraceLog);
    return ecOK;
}

} // namespace

int TraceClear(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.TraceClear(); });
}

int TraceDiscard(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.TraceDiscard(); });
}

int TraceResume(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.TraceResume(); });
}

int TracePause(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.TracePause(); });
}

int TraceWrite(int port, const std::string &file, bool append, bool hex)
{
    TPortAccess access(port);
    return access ? access->TraceLog.TraceWrite(file, append, hex) : ecBadHandle;
}

int LogCreate(int port, int size)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    return access->TraceLog.LogCreate(size, std::max(access->InSize, access->OutSize));
}

int LogClear(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.LogClear(); });
}

int LogDiscard(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.LogDiscard(); });
}

int LogResume(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.LogResume(); });
}

int LogPause(int port)
{
    return WithTraceLog(port, [](TTraceLog &t) { t.LogPause(); });
}

int LogWrite(int port, const std::string &file, bool append, bool hex)
{
    TPortAccess access(port);
    return access ? access->TraceLog.LogWrite(file, append, hex) : ecBadHandle;
}

int InspectPort(int port, TPortView &view)
{
    TPortAccess access(port);
    if (!access)
        return ecBadHandle;
    const TPortRecord &rec = *access;
    view = TPortView{rec.InHead,       rec.InTail,      rec.InputFull,    rec.OutHead,
                     rec.OutTail,      rec.OutFull,     rec.ScanPosition, rec.Options,
                     rec.LineErrors,   rec.ModemShadow, rec.DeviceHandle, rec.EventRunning,
                     rec.OutputRunning};
    return ecOK;
}

} // namespace serial
