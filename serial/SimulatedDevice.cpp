#include "serial/SimulatedDevice.h"

#include "serial/DeviceLayerCommon.h"
#include "serial/ErrorCodes.h"
#include "serial/Event.h"
#include "serial/PortRecord.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <strings.h>

namespace serial
{

using SteadyClock = std::chrono::steady_clock;

// The shared state of one simulated line: the far-end object and the port's routines and
// threads all reach it; its mutex guards every field but the events.
struct TSimLine {
    mutable std::mutex Mutex;
    mutable std::condition_variable SentChanged;
    std::string Name;
    bool Registered = true;
    bool Open = false;
    uint32_t PaceBaud = 0;
    std::deque<uint8_t> Rx;
    std::string Sent;
    uint64_t TotalSent = 0;
    std::vector<size_t> WriteSizes;
    uint8_t Lines = msCts | msDsr | msDcd;
    uint32_t PendingEvents = 0;
    uint32_t Errors = 0;
    bool Dtr = false;
    bool Rts = false;
    bool Break = false;
    uint16_t Options = 0;
    TLineState State;
    bool HungUp = false;     // the line went away; opens fail until it is back
    int WriteErrno = 0;      // device writes fail with this (transient ones only hold the output)
    size_t DriverBuffer = 0; // what the driver takes ahead of the line (0: nothing)
    std::deque<uint8_t> DriverQueue;          // bytes the driver holds for the line
    Event EventWake{Event::Mode::AutoReset};  // the port's event thread
    Event OutputWake{Event::Mode::AutoReset}; // the port's output thread (lines or pace moved)

    bool HeldLocked() const
    {
        return (State.OutxCtsFlow && !(Lines & msCts)) || (State.OutxDsrFlow && !(Lines & msDsr));
    }

    void RaiseLocked(uint32_t events)
    {
        PendingEvents |= events;
        EventWake.Set();
    }
};

namespace
{

constexpr auto kPaceWindow = std::chrono::milliseconds(2); // how far the line may run ahead
constexpr auto kStalledRecheck = std::chrono::milliseconds(50);

std::mutex gRegistryMutex;
std::map<std::string, std::shared_ptr<TSimLine>> gByName;
std::map<int, std::shared_ptr<TSimLine>> gByHandle;
int gNextHandle = 1;

std::string NameKey(const std::string &name)
{
    std::string key = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
    for (char &c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

std::shared_ptr<TSimLine> LineOf(int handle)
{
    std::lock_guard guard(gRegistryMutex);
    const auto it = gByHandle.find(handle);
    return it == gByHandle.end() ? nullptr : it->second;
}

int SimOpen(const std::string &name, int &platformError, int &systemError)
{
    systemError = 0;
    std::lock_guard guard(gRegistryMutex);
    const auto it = gByName.find(NameKey(name));
    // The system errors a real device gives in the same plight.
    if (it == gByName.end()) {
        platformError = peFileNotFound;
        systemError = ENOENT;
        return -1;
    }
    TSimLine &line = *it->second;
    std::lock_guard lineGuard(line.Mutex);
    if (line.HungUp) {
        platformError = peFileNotFound;
        systemError = EIO;
        return -1;
    }
    if (line.Open) {
        platformError = peAccessDenied;
        systemError = EBUSY;
        return -1;
    }
    line.Open = true;
    line.Dtr = line.Rts = true;
    line.PendingEvents = 0;
    const int handle = gNextHandle++;
    gByHandle[handle] = it->second;
    return handle;
}

int SimClose(int handle)
{
    std::shared_ptr<TSimLine> line;
    {
        std::lock_guard guard(gRegistryMutex);
        const auto it = gByHandle.find(handle);
        if (it == gByHandle.end())
            return -1;
        line = it->second;
        gByHandle.erase(it);
    }
    std::lock_guard guard(line->Mutex);
    line->Open = false;
    line->Dtr = line->Rts = false;
    line->DriverQueue.clear();
    return 0;
}

void SimAdoptHandle(int handle, bool on)
{
    // Handles come from this layer's own open, so they are registered already.
    if (!on)
        SimClose(handle);
}

template <typename Op, typename R> R WithLine(int handle, R fallback, Op op)
{
    const std::shared_ptr<TSimLine> line = LineOf(handle);
    if (!line)
        return fallback;
    std::lock_guard guard(line->Mutex);
    return op(*line);
}

bool SimQueueSizes(int handle, uint16_t, uint16_t)
{
    return LineOf(handle) != nullptr;
}

int SimGetState(int handle, TLineState &state)
{
    return WithLine(handle, -1, [&](TSimLine &line) {
        state = line.State;
        return 0;
    });
}

int SimSetState(int handle, const TLineState &state)
{
    if (state.BaudRate == 0 || state.ByteSize < 5 || state.ByteSize > 8 || state.Parity > 4)
        return -1;
    return WithLine(handle, -1, [&](TSimLine &line) {
        line.State = state;
        if (state.DtrControl != TLineState::Handshake)
            line.Dtr = state.DtrControl == TLineState::Enabled;
        if (state.RtsControl != TLineState::Handshake)
            line.Rts = state.RtsControl == TLineState::Enabled;
        line.OutputWake.Set();
        return 0;
    });
}

int SimLineFunction(int handle, int function)
{
    WithLine(handle, 0, [&](TSimLine &line) {
        if (function == lfSetDtr || function == lfClearDtr)
            line.Dtr = function == lfSetDtr;
        if (function == lfSetRts || function == lfClearRts)
            line.Rts = function == lfSetRts;
        return 0;
    });
    return 0;
}

int SimFlush(int handle, int which)
{
    if (which == 0) {
        if (!FlushPortOutput(handle, SimOpen))
            return ecNotOpen;
        return WithLine(handle, ecNotOpen, [](TSimLine &line) {
            line.DriverQueue.clear();
            return 0;
        });
    }
    return WithLine(handle, ecNotOpen, [](TSimLine &line) {
        line.Rx.clear();
        return 0;
    });
}

int SimStatus(int handle, TDeviceStatus &status)
{
    return PortStatus(handle, SimOpen, status, [handle](TDeviceStatus &s) {
        return WithLine(handle, 0u, [&](TSimLine &line) {
            s.Errors = line.Errors;
            s.InQueue = static_cast<uint32_t>(line.Rx.size());
            line.Errors = 0;
            return static_cast<uint32_t>(line.DriverQueue.size());
        });
    });
}

uint8_t SimModemLines(int handle)
{
    return WithLine(handle, uint8_t{0}, [](TSimLine &line) { return line.Lines; });
}

int SimRead(int handle, uint8_t *buffer, int count)
{
    return WithLine(handle, ecNotOpen, [&](TSimLine &line) {
        const int n = std::min(count, static_cast<int>(line.Rx.size()));
        std::copy_n(line.Rx.begin(), n, buffer);
        line.Rx.erase(line.Rx.begin(), line.Rx.begin() + n);
        return n;
    });
}

int SimReadError(int, int)
{
    return 0;
}

int SimWrite(int handle, const uint8_t *data, int count)
{
    return WriteToPort(handle, SimOpen, data, count);
}

void SimOptionsChanged(int handle, uint16_t options)
{
    WithLine(handle, 0, [options](TSimLine &line) {
        line.Options = options;
        return 0;
    });
}

int SimSetBreak(int handle)
{
    return WithLine(handle, -1, [](TSimLine &line) {
        line.Break = true;
        return 0;
    });
}

int SimClearBreak(int handle)
{
    return WithLine(handle, -1, [](TSimLine &line) {
        line.Break = false;
        return 0;
    });
}

int SimTransmitChar(int handle, uint8_t c)
{
    return WithLine(handle, -1, [c](TSimLine &line) {
        line.Sent.push_back(static_cast<char>(c));
        ++line.TotalSent;
        line.SentChanged.notify_all();
        return 0;
    });
}

bool InputFull(TPortRecord &port)
{
    std::lock_guard lock(port.Lock);
    return port.InputFull;
}

// Hands each batch of far-end activity to the dispatch thread. Bytes still waiting in the line
// after a batch was processed are offered again at once, or every 50 ms while the input ring is
// full, so they are never stranded and a full ring costs no busy loop. A hang-up fails the line
// after the bytes that came before it were handed over.
void SimEventThread(TPortRecord &port)
{
    const std::shared_ptr<TSimLine> line = LineOf(port.DeviceHandle);
    port.EventReady.Set();
    if (!line)
        return;
    bool leftOver = false;
    bool ringFull = false;
    while (!port.IoStop && !port.Stop) {
        const auto limit = !leftOver  ? std::chrono::microseconds(-1)
                           : ringFull ? std::chrono::microseconds(kStalledRecheck)
                                      : std::chrono::microseconds(0);
        const int woke =
            Event::WaitAnyFor({&line->EventWake, &port.IoStopEvent, &port.StopEvent}, limit);
        if (woke == 1 || woke == 2)
            break;
        uint32_t word = 0;
        bool hungUp = false;
        {
            std::lock_guard guard(line->Mutex);
            word = line->PendingEvents;
            line->PendingEvents = 0;
            if (!line->Rx.empty())
                word |= evRxChar;
            hungUp = line->HungUp;
        }
        if (hungUp && (word & evRxChar) == 0) {
            FailLine(port, EIO);
            break;
        }
        if (word == 0)
            continue;
        if (!HandOverDeviceEvents(port, word))
            break;
        ringFull = InputFull(port);
        std::lock_guard guard(line->Mutex);
        leftOver = !line->Rx.empty() || line->HungUp;
    }
}

// Waits for a flush, a stop or a line change. Empty means a line change or the time-out.
TDrainEnd WaitOnOutput(TPortRecord &port, TSimLine &line, std::chrono::microseconds limit)
{
    switch (Event::WaitAnyFor(
        {&port.FlushOutput, &line.OutputWake, &port.IoStopEvent, &port.StopEvent}, limit)) {
    case 0:
        AcknowledgeFlush(port);
        return TDrainEnd::Flushed;
    case 2:
    case 3:
        return TDrainEnd::Stopped;
    default:
        return TDrainEnd::Empty;
    }
}

// What the line does to the output now.
struct TLineCondition {
    int Failure = 0;           // the errno that fails the line (a hang-up is EIO), 0 when none
    bool Held = false;         // flow control or a transient write error holds the output
    bool WriteRefused = false; // device writes fail for the moment (a transient error)
    uint32_t Baud = 0;
};

TLineCondition ConditionOf(TSimLine &line)
{
    std::lock_guard guard(line.Mutex);
    TLineCondition c;
    c.Failure = line.HungUp ? EIO : IsLineFailure(line.WriteErrno) ? line.WriteErrno : 0;
    c.WriteRefused = line.WriteErrno != 0;
    c.Held = line.HeldLocked() || c.WriteRefused;
    c.Baud = line.PaceBaud;
    return c;
}

// How many of wanted bytes a line at baud takes now (never more than 2 ms of line time ahead);
// 0 with wait set when it must wait first.
size_t PacedTake(uint32_t baud, size_t wanted, SteadyClock::time_point &lineFreeAt,
                 std::chrono::microseconds &wait)
{
    if (baud == 0)
        return wanted;
    const auto byteTime = std::chrono::nanoseconds(10'000'000'000LL / baud);
    const auto window = std::max<std::chrono::nanoseconds>(kPaceWindow, byteTime);
    const auto now = SteadyClock::now();
    if (lineFreeAt < now)
        lineFreeAt = now;
    const auto ahead = lineFreeAt - now;
    if (ahead >= window) {
        wait = std::chrono::duration_cast<std::chrono::microseconds>(ahead - window) +
               std::chrono::microseconds(1);
        return 0;
    }
    const auto fits = (window - ahead + byteTime - std::chrono::nanoseconds(1)) / byteTime;
    const size_t take = std::min<size_t>(wanted, static_cast<size_t>(std::max<long long>(1, fits)));
    lineFreeAt += byteTime * static_cast<long long>(take);
    return take;
}

void PutOnLine(TSimLine &line, const uint8_t *bytes, size_t count)
{
    {
        std::lock_guard guard(line.Mutex);
        line.Sent.append(reinterpret_cast<const char *>(bytes), count);
        line.TotalSent += count;
    }
    line.SentChanged.notify_all();
}

// The checks before each step of a drain: a flush, a stop, a failed line, or output held (which
// with waitWhenHeld waits for a line change and then says Again). Empty means go on.
TDrainEnd StepAllowed(TPortRecord &port, TSimLine &line, TLineCondition &c, bool waitWhenHeld)
{
    if (port.FlushOutput.Claim()) {
        AcknowledgeFlush(port);
        return TDrainEnd::Flushed;
    }
    if (port.IoStop || port.Stop)
        return TDrainEnd::Stopped;
    c = ConditionOf(line);
    if (c.Failure != 0) {
        {
            std::lock_guard guard(line.Mutex);
            line.DriverQueue.clear();
        }
        FailLine(port, c.Failure);
        return TDrainEnd::Stopped;
    }
    if (c.Held && waitWhenHeld) {
        const TDrainEnd end = WaitOnOutput(port, line, std::chrono::microseconds(-1));
        return end == TDrainEnd::Empty ? TDrainEnd::Again : end;
    }
    return TDrainEnd::Empty;
}

// Moves the output ring straight onto the line. Each span taken from the ring is one device
// write; a paced line takes it a few bytes at a time, and a held line takes nothing until
// released, flushed or stopped.
TDrainEnd DrainDirect(TPortRecord &port, TSimLine &line, SteadyClock::time_point &lineFreeAt)
{
    TOutputSpan span;
    while (TakeOutputSpan(port, span)) {
        {
            std::lock_guard guard(line.Mutex);
            line.WriteSizes.push_back(span.Length);
        }
        uint16_t done = 0;
        while (done < span.Length) {
            TLineCondition c;
            const TDrainEnd step = StepAllowed(port, line, c, true);
            if (step == TDrainEnd::Again)
                continue;
            if (step != TDrainEnd::Empty)
                return step;
            auto wait = std::chrono::microseconds(0);
            const size_t take = PacedTake(c.Baud, span.Length - done, lineFreeAt, wait);
            if (take == 0) {
                if (const TDrainEnd end = WaitOnOutput(port, line, wait); end != TDrainEnd::Empty)
                    return end;
                continue;
            }
            PutOnLine(line, span.Ring->data() + span.Start + done, take);
            done = static_cast<uint16_t>(done + take);
            CompleteOutputSpan(port, span, done);
        }
    }
    return TDrainEnd::Empty;
}

// With a driver buffer: a device write hands the driver what fits at once (the ring tail moves
// then, also while flow control holds the line), and the line takes from the driver at its
// pace, like a kernel's tty output queue.
TDrainEnd DrainThroughDriver(TPortRecord &port, TSimLine &line, SteadyClock::time_point &lineFreeAt)
{
    for (;;) {
        TLineCondition c;
        if (const TDrainEnd step = StepAllowed(port, line, c, false); step != TDrainEnd::Empty)
            return step;
        TOutputSpan span;
        if (!c.WriteRefused && TakeOutputSpan(port, span)) {
            size_t accepted = 0;
            {
                std::lock_guard guard(line.Mutex);
                const size_t room =
                    line.DriverBuffer - std::min(line.DriverBuffer, line.DriverQueue.size());
                accepted = std::min<size_t>(room, span.Length);
                const uint8_t *from = span.Ring->data() + span.Start;
                line.DriverQueue.insert(line.DriverQueue.end(), from, from + accepted);
                if (accepted > 0)
                    line.WriteSizes.push_back(accepted);
            }
            CompleteOutputSpan(port, span, static_cast<uint16_t>(accepted));
        }
        if (c.Held) {
            // Wait for the line, a flush, a stop, or more output the driver may take meanwhile.
            switch (Event::WaitAny({&port.FlushOutput, &line.OutputWake, &port.OutputReady,
                                    &port.IoStopEvent, &port.StopEvent},
                                   -1)) {
            case 0:
                AcknowledgeFlush(port);
                return TDrainEnd::Flushed;
            case 3:
            case 4:
                return TDrainEnd::Stopped;
            default:
                continue;
            }
        }
        size_t take = 0;
        auto wait = std::chrono::microseconds(0);
        {
            // The bytes leave the driver and reach the line in one step: a status query in
            // between would see them nowhere and call the output drained too early.
            std::lock_guard guard(line.Mutex);
            if (line.DriverQueue.empty())
                return TDrainEnd::Empty;
            // The line may have been held since the condition was read: like a UART, which
            // looks at CTS before every byte, nothing leaves then.
            if (line.HeldLocked())
                continue;
            take = PacedTake(c.Baud, line.DriverQueue.size(), lineFreeAt, wait);
            const auto end = line.DriverQueue.begin() + static_cast<std::ptrdiff_t>(take);
            line.Sent.append(line.DriverQueue.begin(), end);
            line.TotalSent += take;
            line.DriverQueue.erase(line.DriverQueue.begin(), end);
        }
        if (take == 0) {
            if (const TDrainEnd end = WaitOnOutput(port, line, wait); end != TDrainEnd::Empty)
                return end;
            continue;
        }
        line.SentChanged.notify_all();
        // The driver queue counts as waiting output: its shrinking may let a trigger fire.
        port.TriggerWake.Set();
    }
}

// Drains until the ring (and the driver queue) are empty, whichever way the line is set up now.
TDrainEnd Drain(TPortRecord &port, TSimLine &line, SteadyClock::time_point &lineFreeAt)
{
    for (;;) {
        bool driver = false;
        {
            std::lock_guard guard(line.Mutex);
            driver = line.DriverBuffer > 0 || !line.DriverQueue.empty();
        }
        const TDrainEnd end = driver ? DrainThroughDriver(port, line, lineFreeAt)
                                     : DrainDirect(port, line, lineFreeAt);
        TOutputSpan span;
        if (end != TDrainEnd::Empty || !TakeOutputSpan(port, span))
            return end;
    }
}

void SimOutputThread(TPortRecord &port)
{
    const std::shared_ptr<TSimLine> line = LineOf(port.DeviceHandle);
    port.OutputReadyToRun.Set();
    if (!line)
        return;
    SteadyClock::time_point lineFreeAt = SteadyClock::now();
    RunOutputLoop(port, &line->OutputWake, [&] { return Drain(port, *line, lineFreeAt); });
}

} // namespace

TSimulatedDevice::TSimulatedDevice(const std::string &name) : line_(std::make_shared<TSimLine>())
{
    line_->Name = NameKey(name);
    std::lock_guard guard(gRegistryMutex);
    gByName[line_->Name] = line_;
}

TSimulatedDevice::~TSimulatedDevice()
{
    std::lock_guard guard(gRegistryMutex);
    const auto it = gByName.find(line_->Name);
    if (it != gByName.end() && it->second == line_)
        gByName.erase(it);
}

void TSimulatedDevice::SetDriverBuffer(size_t bytes)
{
    std::lock_guard guard(line_->Mutex);
    line_->DriverBuffer = bytes;
    line_->OutputWake.Set();
}

void TSimulatedDevice::Hangup()
{
    std::lock_guard guard(line_->Mutex);
    line_->HungUp = true;
    line_->EventWake.Set();
    line_->OutputWake.Set();
}

void TSimulatedDevice::FailWrites(int error)
{
    std::lock_guard guard(line_->Mutex);
    line_->WriteErrno = error;
    line_->OutputWake.Set();
}

void TSimulatedDevice::Reconnect()
{
    std::lock_guard guard(line_->Mutex);
    line_->HungUp = false;
    line_->WriteErrno = 0;
    line_->OutputWake.Set();
}

void TSimulatedDevice::SetPace(uint32_t baud)
{
    std::lock_guard guard(line_->Mutex);
    line_->PaceBaud = baud;
    line_->OutputWake.Set();
}

std::string TSimulatedDevice::TakeSent()
{
    std::lock_guard guard(line_->Mutex);
    std::string sent;
    sent.swap(line_->Sent);
    return sent;
}

size_t TSimulatedDevice::SentCount() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Sent.size();
}

uint64_t TSimulatedDevice::TotalSent() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->TotalSent;
}

bool TSimulatedDevice::WaitForSent(size_t count, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(line_->Mutex);
    return line_->SentChanged.wait_for(lock, limit, [&] { return line_->Sent.size() >= count; });
}

std::vector<size_t> TSimulatedDevice::TakeWriteSizes()
{
    std::lock_guard guard(line_->Mutex);
    std::vector<size_t> sizes;
    sizes.swap(line_->WriteSizes);
    return sizes;
}

void TSimulatedDevice::Write(const std::string &bytes)
{
    Write(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}

void TSimulatedDevice::Write(const uint8_t *bytes, size_t count)
{
    std::lock_guard guard(line_->Mutex);
    line_->Rx.insert(line_->Rx.end(), bytes, bytes + count);
    line_->RaiseLocked(evRxChar);
}

size_t TSimulatedDevice::PendingInput() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Rx.size();
}

namespace
{

void MoveLine(TSimLine &line, uint8_t bit, bool on, uint32_t event)
{
    std::lock_guard guard(line.Mutex);
    const uint8_t before = line.Lines;
    line.Lines = on ? static_cast<uint8_t>(before | bit) : static_cast<uint8_t>(before & ~bit);
    if (line.Lines == before)
        return;
    line.RaiseLocked(event);
    line.OutputWake.Set();
}

} // namespace

void TSimulatedDevice::SetCTS(bool on)
{
    MoveLine(*line_, msCts, on, evCts);
}

void TSimulatedDevice::SetDSR(bool on)
{
    MoveLine(*line_, msDsr, on, evDsr);
}

void TSimulatedDevice::SetDCD(bool on)
{
    MoveLine(*line_, msDcd, on, evRlsd);
}

void TSimulatedDevice::SetRI(bool on)
{
    MoveLine(*line_, msRing, on, on ? evRing : evRingTrailingEdge);
}

void TSimulatedDevice::RaiseLineError(uint32_t bits)
{
    std::lock_guard guard(line_->Mutex);
    line_->Errors |= bits & (ceRxOver | ceOverrun | ceRxParity | ceFrame);
    line_->RaiseLocked(evErr);
}

void TSimulatedDevice::SendBreak()
{
    std::lock_guard guard(line_->Mutex);
    line_->Errors |= ceBreak;
    line_->RaiseLocked(evBreak);
}

bool TSimulatedDevice::IsOpen() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Open;
}

bool TSimulatedDevice::DTR() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Dtr;
}

bool TSimulatedDevice::RTS() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Rts;
}

bool TSimulatedDevice::BreakOn() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Break;
}

TLineState TSimulatedDevice::LineState() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->State;
}

uint16_t TSimulatedDevice::Options() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->Options;
}

bool TSimulatedDevice::OutputHeld() const
{
    std::lock_guard guard(line_->Mutex);
    return line_->HeldLocked();
}

TDeviceRoutines SimulatedDeviceRoutines()
{
    return TDeviceRoutines{
        SimOpen,       SimAdoptHandle,  SimClose,       SimQueueSizes,     SimGetState,
        SimSetState,   SimLineFunction, SimFlush,       SimStatus,         SimModemLines,
        SimRead,       SimReadError,    SimWrite,       SimOptionsChanged, SimSetBreak,
        SimClearBreak, SimTransmitChar, SimEventThread, SimOutputThread,
    };
}

void InstallSimulatedDeviceLayer()
{
    InstallDeviceRoutines(SimulatedDeviceRoutines());
}

} // namespace serial
