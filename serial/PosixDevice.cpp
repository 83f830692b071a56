#include "serial/PosixDevice.h"

#include "platform/ProfileFile.h"
#include "serial/DeviceLayerCommon.h"
#include "serial/ErrorCodes.h"
#include "serial/PortRecord.h"

#include <algorithm>
#include <asm/ioctls.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace serial
{

namespace
{

constexpr int kLineSampleMs = 50; // modem lines and error counters are sampled this often
constexpr int kRetryPauseMs = 50; // after a failed device write
constexpr int kDsrRecheckMs = 20; // while output waits for DSR

// What the layer keeps per open handle. The mutex guards the fd against a concurrent close.
struct THandleRecord {
    std::mutex Mutex;
    int Fd = -1;
    TLineState State;
    bool CountersSupported = false;
    serial_icounter_struct StatusBase{}; // error counters already reported by Status
};

std::mutex gHandlesMutex;
std::map<int, std::shared_ptr<THandleRecord>> gHandles;
// Handles this layer opens start above any descriptor number, so they never collide with a
// descriptor adopted under its own number.
int gNextHandle = 0x100000;

std::mutex gIniMutex;
std::string gIniFile = "loader.ini";

std::shared_ptr<THandleRecord> Lookup(int handle)
{
    std::lock_guard guard(gHandlesMutex);
    const auto it = gHandles.find(handle);
    return it == gHandles.end() ? nullptr : it->second;
}

struct TBaud {
    uint32_t Rate;
    speed_t Speed;
};

constexpr TBaud kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

uint32_t SpeedToBaud(speed_t speed)
{
    for (const TBaud &b : kBauds)
        if (b.Speed == speed)
            return b.Rate;
    return 0;
}

int PlatformErrorOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTTY:
        return peFileNotFound;
    case ENOTDIR:
        return pePathNotFound;
    case EMFILE:
    case ENFILE:
        return peTooManyFiles;
    default:
        return peAccessDenied;
    }
}

// False when the device cannot report its modem lines (a pseudo terminal).
bool ReadModemLines(int fd, uint8_t &lines)
{
    lines = 0;
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0)
        return false;
    if (bits & TIOCM_CTS)
        lines |= msCts;
    if (bits & TIOCM_DSR)
        lines |= msDsr;
    if (bits & TIOCM_RNG)
        lines |= msRing;
    if (bits & TIOCM_CAR)
        lines |= msDcd;
    return true;
}

uint8_t ModemLinesOf(int fd)
{
    uint8_t lines = 0;
    ReadModemLines(fd, lines);
    return lines;
}

bool ReadCounters(int fd, serial_icounter_struct &counters)
{
    return ioctl(fd, TIOCGICOUNT, &counters) == 0;
}

uint32_t ErrorBitsBetween(const serial_icounter_struct &before, const serial_icounter_struct &now)
{
    uint32_t bits = 0;
    if (now.buf_overrun != before.buf_overrun)
        bits |= ceRxOver;
    if (now.overrun != before.overrun)
        bits |= ceOverrun;
    if (now.parity != before.parity)
        bits |= ceRxParity;
    if (now.frame != before.frame)
        bits |= ceFrame;
    if (now.brk != before.brk)
        bits |= ceBreak;
    return bits;
}

TLineState StateFromTermios(const termios &t)
{
    TLineState s;
    s.BaudRate = SpeedToBaud(cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5:
        s.ByteSize = 5;
        break;
    case CS6:
        s.ByteSize = 6;
        break;
    case CS7:
        s.ByteSize = 7;
        break;
    default:
        s.ByteSize = 8;
        break;
    }
    s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    if (!(t.c_cflag & PARENB))
        s.Parity = 0;
    else if (t.c_cflag & CMSPAR)
        s.Parity = (t.c_cflag & PARODD) ? 3 : 4;
    else
        s.Parity = (t.c_cflag & PARODD) ? 1 : 2;
    s.OutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    s.RtsControl = s.OutxCtsFlow ? TLineState::Handshake : TLineState::Enabled;
    s.OutX = (t.c_iflag & IXON) != 0;
    s.InX = (t.c_iflag & IXOFF) != 0;
    s.XonChar = t.c_cc[VSTART];
    s.XoffChar = t.c_cc[VSTOP];
    return s;
}

// Writes the line settings into termios terms. False for values the device cannot take.
bool StateToTermios(const TLineState &s, termios &t)
{
    speed_t speed = 0;
    bool known = false;
    for (const TBaud &b : kBauds)
        if (b.Rate == s.BaudRate) {
            speed = b.Speed;
            known = true;
        }
    if (!known || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > 4)
        return false;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= kSizes[s.ByteSize - 5] | CLOCAL | CREAD;
    if (s.StopBits != 0)
        t.c_cflag |= CSTOPB;
    static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                           PARENB | CMSPAR};
    t.c_cflag |= kParity[s.Parity];
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (s.Parity != 0)
        t.c_iflag |= INPCK;
    // Linux couples RTS input flow and CTS output flow in one flag.
    if (s.OutxCtsFlow || s.RtsControl == TLineState::Handshake)
        t.c_cflag |= CRTSCTS;
    if (s.OutX)
        t.c_iflag |= IXON;
    if (s.InX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.XonChar;
    t.c_cc[VSTOP] = s.XoffChar;
    return true;
}

void DriveLine(int fd, int bit, bool on)
{
    // A device without modem lines (a pseudo terminal) refuses; that is not an error.
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
}

// The kernel keeps a pseudo terminal's exclusive mark while its master is open, so every later
// open by a user without CAP_SYS_ADMIN would fail with EBUSY: clear it before letting go.
int CloseExclusive(int fd)
{
    ioctl(fd, TIOCNXCL);
    return close(fd);
}

int PosixOpen(const std::string &name, int &platformError, int &systemError)
{
    systemError = 0;
    const std::string path = DevicePathFor(name);
    if (path.empty()) {
        platformError = peFileNotFound;
        return -1;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        systemError = errno;
        if (errno == ENOMEM)
            return ecOutOfMemory;
        platformError = PlatformErrorOf(errno);
        return -1;
    }
    // Exclusive use: flock keeps out other opens (also by a privileged process, which
    // TIOCEXCL alone would let through).
    termios t{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &t) != 0) {
        // A lock held elsewhere reads "Resource temporarily unavailable" as errno: the device
        // is busy, and that is what the operator is told.
        systemError = errno == EWOULDBLOCK ? EBUSY : errno;
        platformError = errno == EWOULDBLOCK ? peAccessDenied : PlatformErrorOf(errno);
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);

    auto record = std::shared_ptr<THandleRecord>(new (std::nothrow) THandleRecord);
    if (!record) {
        CloseExclusive(fd);
        return ecOutOfMemory;
    }
    record->Fd = fd;
    record->State = StateFromTermios(t);
    record->CountersSupported = ReadCounters(fd, record->StatusBase);
    std::lock_guard guard(gHandlesMutex);
    const int handle = gNextHandle++;
    gHandles[handle] = record;
    return handle;
}

void PosixAdoptHandle(int handle, bool on)
{
    if (on) {
        auto record = std::shared_ptr<THandleRecord>(new (std::nothrow) THandleRecord);
        if (!record)
            return;
        record->Fd = handle;
        termios t{};
        if (tcgetattr(handle, &t) == 0)
            record->State = StateFromTermios(t);
        record->CountersSupported = ReadCounters(handle, record->StatusBase);
        std::lock_guard guard(gHandlesMutex);
        gHandles[handle] = record;
        return;
    }
    std::shared_ptr<THandleRecord> record;
    {
        std::lock_guard guard(gHandlesMutex);
        const auto it = gHandles.find(handle);
        if (it == gHandles.end())
            return;
        record = it->second;
        gHandles.erase(it);
    }
    std::lock_guard guard(record->Mutex);
    close(record->Fd);
    record->Fd = -1;
}

int PosixClose(int handle)
{
    std::shared_ptr<THandleRecord> record;
    {
        std::lock_guard guard(gHandlesMutex);
        const auto it = gHandles.find(handle);
        if (it == gHandles.end())
            return -1;
        record = it->second;
        gHandles.erase(it);
    }
    std::lock_guard guard(record->Mutex);
    const int result = CloseExclusive(record->Fd) == 0 ? 0 : -1;
    record->Fd = -1;
    return result;
}

// Runs op on the handle's descriptor under its record lock; fallback when the handle is gone.
template <typename Op, typename R> R WithFd(int handle, R fallback, Op op)
{
    const std::shared_ptr<THandleRecord> record = Lookup(handle);
    if (!record)
        return fallback;
    std::lock_guard guard(record->Mutex);
    if (record->Fd < 0)
        return fallback;
    return op(*record);
}

bool PosixQueueSizes(int handle, uint16_t, uint16_t)
{
    // The kernel sizes its own tty buffers; only the handle is checked.
    return Lookup(handle) != nullptr;
}

int PosixGetState(int handle, TLineState &state)
{
    return WithFd(handle, -1, [&](THandleRecord &r) {
        state = r.State;
        return 0;
    });
}

int PosixSetState(int handle, const TLineState &state)
{
    return WithFd(handle, -1, [&](THandleRecord &r) {
        termios t{};
        if (tcgetattr(r.Fd, &t) != 0 || !StateToTermios(state, t) ||
            tcsetattr(r.Fd, TCSANOW, &t) != 0)
            return -1;
        if (state.DtrControl != TLineState::Handshake)
            DriveLine(r.Fd, TIOCM_DTR, state.DtrControl == TLineState::Enabled);
        if (!(t.c_cflag & CRTSCTS))
            DriveLine(r.Fd, TIOCM_RTS, state.RtsControl != TLineState::Disabled);
        r.State = state;
        return 0;
    });
}

int PosixLineFunction(int handle, int function)
{
    WithFd(handle, 0, [&](THandleRecord &r) {
        switch (function) {
        case lfSetDtr:
        case lfClearDtr:
            DriveLine(r.Fd, TIOCM_DTR, function == lfSetDtr);
            break;
        case lfSetRts:
        case lfClearRts:
            DriveLine(r.Fd, TIOCM_RTS, function == lfSetRts);
            break;
        default:
            break;
        }
        return 0;
    });
    return 0;
}

int PosixFlush(int handle, int which)
{
    if (which == 0)
        FlushPortOutput(handle, PosixOpen);
    return WithFd(handle, ecNotOpen, [&](THandleRecord &r) {
        return tcflush(r.Fd, which ? TCIFLUSH : TCOFLUSH) == 0 ? 0 : errno;
    });
}

int PosixStatus(int handle, TDeviceStatus &status)
{
    return PortStatus(handle, PosixOpen, status, [handle](TDeviceStatus &s) {
        return WithFd(handle, 0u, [&](THandleRecord &r) {
            int waiting = 0;
            if (ioctl(r.Fd, FIONREAD, &waiting) == 0 && waiting > 0)
                s.InQueue = static_cast<uint32_t>(waiting);
            serial_icounter_struct now{};
            if (r.CountersSupported && ReadCounters(r.Fd, now)) {
                s.Errors = ErrorBitsBetween(r.StatusBase, now);
                r.StatusBase = now;
            }
            // Bytes the kernel still holds for the line.
            int driverQueue = 0;
            if (ioctl(r.Fd, TIOCOUTQ, &driverQueue) != 0)
                driverQueue = 0;
            return static_cast<uint32_t>(std::max(driverQueue, 0));
        });
    });
}

uint8_t PosixModemLines(int handle)
{
    return WithFd(handle, uint8_t{0}, [](THandleRecord &r) { return ModemLinesOf(r.Fd); });
}

int PosixRead(int handle, uint8_t *buffer, int count)
{
    return WithFd(handle, ecNotOpen, [&](THandleRecord &r) {
        const ssize_t n = read(r.Fd, buffer, static_cast<size_t>(count));
        return n > 0 ? static_cast<int>(n) : 0;
    });
}

int PosixReadError(int, int)
{
    return 0;
}

int PosixWrite(int handle, const uint8_t *data, int count)
{
    return WriteToPort(handle, PosixOpen, data, count);
}

void PosixOptionsChanged(int, uint16_t) {}

int PosixSetBreak(int handle)
{
    return WithFd(handle, -1, [](THandleRecord &r) { return ioctl(r.Fd, TIOCSBRK) == 0 ? 0 : -1; });
}

int PosixClearBreak(int handle)
{
    return WithFd(handle, -1, [](THandleRecord &r) { return ioctl(r.Fd, TIOCCBRK) == 0 ? 0 : -1; });
}

int PosixTransmitChar(int handle, uint8_t c)
{
    return WithFd(handle, -1, [c](THandleRecord &r) { return write(r.Fd, &c, 1) == 1 ? 0 : -1; });
}

// Device events found by comparing two samples of the modem lines and counters.
uint32_t EventsBetween(uint8_t linesBefore, uint8_t linesNow, bool counters,
                       const serial_icounter_struct &before, const serial_icounter_struct &now)
{
    uint32_t word = 0;
    const uint8_t moved = linesBefore ^ linesNow;
    if ((moved & msCts) || (counters && now.cts != before.cts))
        word |= evCts;
    if ((moved & msDsr) || (counters && now.dsr != before.dsr))
        word |= evDsr;
    if ((moved & msDcd) || (counters && now.dcd != before.dcd))
        word |= evRlsd;
    if ((moved & msRing) && (linesNow & msRing))
        word |= evRing;
    if (((moved & msRing) && !(linesNow & msRing)) || (counters && now.rng != before.rng))
        word |= evRingTrailingEdge;
    if (counters) {
        const uint32_t errors = ErrorBitsBetween(before, now);
        if (errors & ceBreak)
            word |= evBreak;
        if (errors & ~ceBreak)
            word |= evErr;
    }
    return word;
}

bool InputStalled(TPortRecord &port, int fd)
{
    {
        std::lock_guard lock(port.Lock);
        if (!port.InputFull)
            return false;
    }
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

// Waits for device events and hands each to the dispatch thread, one at a time. Data wakes it
// at once; modem lines and error counters are sampled every 50 ms. While the input ring is
// full the descriptor is not watched for data (it would stay readable), and data still waiting
// is offered again at every sample instead. A hang-up or an error on the descriptor fails the
// line (after the data that came with it was handed over) and ends the thread.
void PosixEventThread(TPortRecord &port)
{
    const int handle = port.DeviceHandle;
    const std::shared_ptr<THandleRecord> record = Lookup(handle);
    port.EventReady.Set();
    if (!record)
        return;
    // The device stays open while this thread runs: it is closed only after this thread ended.
    const int fd = record->Fd;
    uint8_t lines = 0;
    const bool haveLines = ReadModemLines(fd, lines);
    serial_icounter_struct counters{};
    const bool haveCounters = ReadCounters(fd, counters);
    // A device with neither modem lines nor error counters (a pseudo terminal) has nothing to
    // sample: the thread then sleeps until data, a hang-up or a stop.
    const bool sample = haveLines || haveCounters;
    bool stalled = false;
    bool vanished = false;

    while (!port.IoStop && !port.Stop && !vanished) {
        short revents = 0;
        const auto limit = (sample || stalled)
                               ? std::chrono::microseconds(std::chrono::milliseconds(kLineSampleMs))
                               : std::chrono::microseconds(-1);
        const int woke = WaitEventsOrFd({&port.IoStopEvent, &port.StopEvent}, fd,
                                        stalled ? short{0} : short{POLLIN}, &revents, limit);
        if (woke == 0 || woke == 1)
            break;
        uint32_t word = 0;
        if (woke == 2) {
            if (revents & POLLIN)
                word |= evRxChar;
            // The device went away (a hang-up, an unplugged adapter): no more events.
            vanished = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            if (vanished && word == 0)
                break;
        } else if (stalled) {
            int waiting = 0;
            if (ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0)
                word |= evRxChar;
        }
        const uint8_t linesNow = ModemLinesOf(fd);
        serial_icounter_struct countersNow{};
        const bool countersRead = haveCounters && ReadCounters(fd, countersNow);
        word |= EventsBetween(lines, linesNow, countersRead, counters, countersNow);
        lines = linesNow;
        if (countersRead)
            counters = countersNow;
        if (word == 0)
            continue;
        if (!HandOverDeviceEvents(port, word))
            break;
        stalled = InputStalled(port, fd);
    }
    if (vanished && !port.IoStop && !port.Stop)
        FailLine(port, EIO);
}

void RaiseOutputPriority()
{
    // Best effort: the highest scheduling priority a normal thread can have; refused is fine.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -20);
}

TDrainEnd Failed(TPortRecord &port, int error)
{
    FailLine(port, error);
    return TDrainEnd::Stopped;
}

TDrainEnd AckFlush(TPortRecord &port)
{
    AcknowledgeFlush(port);
    return TDrainEnd::Flushed;
}

// Waits for flush or stop for at most ms; Empty means neither came.
TDrainEnd PauseOutput(TPortRecord &port, int ms)
{
    switch (Event::WaitAny({&port.FlushOutput, &port.IoStopEvent, &port.StopEvent}, ms)) {
    case 0:
        return AckFlush(port);
    case 1:
    case 2:
        return TDrainEnd::Stopped;
    default:
        return TDrainEnd::Empty;
    }
}

bool WaitsForDsr(const THandleRecord &record, int fd)
{
    uint8_t lines = 0;
    return record.State.OutxDsrFlow && ReadModemLines(fd, lines) && !(lines & msDsr);
}

// Waits until the device can take more, or for a flush or a stop; Empty when it can (or the
// wait ran out, which the next write will meet).
TDrainEnd WaitForRoom(TPortRecord &port, int fd)
{
    short revents = 0;
    const int woke =
        WaitEventsOrFd({&port.FlushOutput, &port.IoStopEvent, &port.StopEvent}, fd, POLLOUT,
                       &revents, std::chrono::milliseconds(port.WriteTimeoutMs));
    if (woke == 0)
        return AckFlush(port);
    if (woke == 1 || woke == 2)
        return TDrainEnd::Stopped;
    if (woke == 3 && (revents & (POLLERR | POLLHUP | POLLNVAL)))
        return Failed(port, (revents & POLLNVAL) ? EBADF : EIO);
    return TDrainEnd::Empty;
}

// Writes the ring to the device until it is empty. A write the device cannot take now (the
// driver's buffer is full, or CTS holds it) waits for the device, a flush or a stop; no write
// is ever outstanding twice, since a non-blocking write either takes bytes or none. Output that
// wraps at the ring's end goes out in one writev; after a write the device took only part of,
// the thread waits for room at once instead of trying a write that would be refused.
//
// Once the ring is empty after a write, the thread waits for the device to have room before it
// waits for more output: a writer that refills the ring meanwhile (a block pump) then needs no
// wake-up, which would find the device still full. While the device has room the wait ends at
// once.
TDrainEnd Drain(TPortRecord &port, THandleRecord &record, int fd)
{
    TOutputSpan span;
    bool wrote = false;
    for (;;) {
        if (!TakeOutputSpan(port, span)) {
            if (!wrote)
                return TDrainEnd::Empty;
            wrote = false;
            if (const TDrainEnd end = WaitForRoom(port, fd); end != TDrainEnd::Empty)
                return end;
            continue;
        }
        if (port.FlushRequested && port.FlushOutput.Claim())
            return AckFlush(port);
        if (port.IoStop || port.Stop)
            return TDrainEnd::Stopped;
        bool holdForDsr = false;
        {
            std::lock_guard guard(record.Mutex);
            holdForDsr = WaitsForDsr(record, fd);
        }
        if (holdForDsr) {
            if (const TDrainEnd end = PauseOutput(port, kDsrRecheckMs); end != TDrainEnd::Empty)
                return end;
            continue;
        }
        iovec pieces[2] = {{span.Ring->data() + span.Start, span.Length},
                           {span.Ring->data(), span.Wrapped}};
        const ssize_t n = writev(fd, pieces, span.Wrapped ? 2 : 1);
        const int error = n < 0 ? errno : 0;
        if (n > 0) {
            CompleteOutputSpan(port, span, static_cast<uint16_t>(n));
            wrote = true;
            if (n < span.Length + span.Wrapped) {
                if (const TDrainEnd end = WaitForRoom(port, fd); end != TDrainEnd::Empty)
                    return end;
            }
            continue;
        }
        if (n < 0 && error == EINTR)
            continue;
        if (IsLineFailure(error))
            return Failed(port, error);
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            if (const TDrainEnd end = WaitForRoom(port, fd); end != TDrainEnd::Empty)
                return end;
            continue;
        }
        // Any other refusal may pass: try again after a pause rather than spinning.
        if (const TDrainEnd end = PauseOutput(port, kRetryPauseMs); end != TDrainEnd::Empty)
            return end;
    }
}

void PosixOutputThread(TPortRecord &port)
{
    RaiseOutputPriority();
    const std::shared_ptr<THandleRecord> record = Lookup(port.DeviceHandle);
    port.OutputReadyToRun.Set();
    if (!record)
        return;
    const int fd = record->Fd;
    RunOutputLoop(port, nullptr, [&] { return Drain(port, *record, fd); });
}

} // namespace

TDeviceRoutines PosixDeviceRoutines()
{
    return TDeviceRoutines{
        PosixOpen,       PosixAdoptHandle,  PosixClose,       PosixQueueSizes,     PosixGetState,
        PosixSetState,   PosixLineFunction, PosixFlush,       PosixStatus,         PosixModemLines,
        PosixRead,       PosixReadError,    PosixWrite,       PosixOptionsChanged, PosixSetBreak,
        PosixClearBreak, PosixTransmitChar, PosixEventThread, PosixOutputThread,
    };
}

void InstallPosixDeviceLayer()
{
    InstallDeviceRoutines(PosixDeviceRoutines());
}

void SetDeviceIniFile(const std::string &path)
{
    std::lock_guard guard(gIniMutex);
    gIniFile = path;
}

std::string DeviceIniFile()
{
    std::lock_guard guard(gIniMutex);
    return gIniFile;
}

std::string DefaultDevicePath(int comNumber)
{
    static constexpr const char *kFamilies[] = {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM",
                                                "/dev/ttyAMA"};
    if (comNumber < 1 || comNumber > 16)
        return {};
    const int index = comNumber - 1;
    return kFamilies[index / 4] + std::to_string(index % 4);
}

std::string StableDeviceName(const std::string &device, const std::string &devRoot)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error)
        return {};
    std::string found;
    for (fs::directory_iterator it(devRoot + "/serial/by-id", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        const fs::path leadsTo = fs::canonical(it->path(), linkError);
        // The first in name order, so that the same device always gets the same name.
        if (!linkError && leadsTo == target && (found.empty() || it->path().string() < found))
            found = it->path().string();
    }
    return found;
}

std::string DevicePathFor(const std::string &name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0)
        rest = rest.substr(4);
    if (rest.size() < 4 || strncasecmp(rest.c_str(), "COM", 3) != 0)
        return {};
    int number = 0;
    for (size_t i = 3; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9' || number > 9999)
            return {};
        number = number * 10 + (rest[i] - '0');
    }
    const std::string key = "COM" + std::to_string(number);
    const std::string configured =
        platform::TIniFile(DeviceIniFile()).ReadString("Devices", key, "");
    return configured.empty() ? DefaultDevicePath(number) : configured;
}

} // namespace serial
