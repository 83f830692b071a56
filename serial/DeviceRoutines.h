#pragma once
// The table of device routines through which the dispatcher reaches a serial device. A device
// layer (the POSIX one, or the simulated null modem) installs its routines once; until then
// every routine fails with -3001 ("No device layer specified"). Each port takes a copy of the
// table when it opens, so a layer installed later does not disturb open ports.

#include <cstdint>
#include <string>

namespace serial
{

struct TPortRecord;

// The line settings of a device, edited by the dispatcher and written back as a whole.
struct TLineState {
    enum Control : uint8_t { Disabled = 0, Enabled = 1, Handshake = 2 };

    uint32_t BaudRate = 19200;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t ByteSize = 8; // data bits, 5 to 8
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    uint16_t XonLim = 0;  // input flow: resume when this few bytes wait
    uint16_t XoffLim = 0; // input flow: hold when this little room is left
    uint8_t XonChar = 0x11;
    uint8_t XoffChar = 0x13;
    uint8_t DtrControl = Enabled;
    uint8_t RtsControl = Enabled;
    bool OutxCtsFlow = false; // output held while CTS is off
    bool OutxDsrFlow = false; // output held while DSR is off
    bool OutX = false;        // XON/XOFF on output
    bool InX = false;         // XON/XOFF on input

    bool operator==(const TLineState &) const = default;
};

// What a status query reports: error bits, bytes the driver holds for input, and bytes waiting
// for output (the port's own output ring).
struct TDeviceStatus {
    uint32_t Errors = 0;
    uint32_t InQueue = 0;
    uint32_t OutQueue = 0;
};

// Error bits of a status query (also the line-error word of a port).
constexpr uint32_t ceRxOver = 0x01;   // input queue overflow
constexpr uint32_t ceOverrun = 0x02;  // hardware overrun
constexpr uint32_t ceRxParity = 0x04; // parity error
constexpr uint32_t ceFrame = 0x08;    // framing error
constexpr uint32_t ceBreak = 0x10;    // break received
// The line failed for good (hang-up, unplugged adapter, persistent write error): no more input
// or output until the port is closed and opened again.
constexpr uint32_t ceIoError = 0x0400;

// Modem line states as the modem-lines routine reports them (the 8250 status byte's upper half).
constexpr uint8_t msCts = 0x10;
constexpr uint8_t msDsr = 0x20;
constexpr uint8_t msRing = 0x40;
constexpr uint8_t msDcd = 0x80;

// Device events the event thread reports to the dispatch thread in the port's event word.
constexpr uint32_t evRxChar = 0x0001;
constexpr uint32_t evCts = 0x0008;
constexpr uint32_t evDsr = 0x0010;
constexpr uint32_t evRlsd = 0x0020;
constexpr uint32_t evBreak = 0x0040;
constexpr uint32_t evErr = 0x0080;
constexpr uint32_t evRing = 0x0100;
constexpr uint32_t evRingTrailingEdge = 0x2000;
constexpr uint32_t evModemChanges = evCts | evDsr | evRlsd | evRing | evRingTrailingEdge;

// Line functions (DTR and RTS control).
constexpr int lfSetRts = 3;
constexpr int lfClearRts = 4;
constexpr int lfSetDtr = 5;
constexpr int lfClearDtr = 6;

// Platform error numbers the open routine reports (negated by the dispatcher into result codes).
constexpr int peFileNotFound = 2;
constexpr int pePathNotFound = 3;
constexpr int peTooManyFiles = 4;
constexpr int peAccessDenied = 5;

struct TDeviceRoutines {
    // The new handle (>= 0), -1 when the device cannot be opened (platformError says why, and
    // systemError gives the system's own error number, 0 when it has none), -8 when memory or
    // events run out.
    int (*Open)(const std::string &name, int &platformError, int &systemError);
    // Registers (on) or unregisters and closes (off) a handle opened elsewhere.
    void (*AdoptHandle)(int handle, bool on);
    // 0 when the handle was closed, else -1.
    int (*Close)(int handle);
    // Asks the driver for queues of these sizes.
    bool (*QueueSizes)(int handle, uint16_t inSize, uint16_t outSize);
    // 0, or -1.
    int (*GetState)(int handle, TLineState &state);
    int (*SetState)(int handle, const TLineState &state);
    // Raises or lowers DTR or RTS (lf* codes); always 0.
    int (*LineFunction)(int handle, int function);
    // which non-zero: input; 0: output (a handshake with the output thread). 0 or an error number.
    int (*Flush)(int handle, int which);
    // Refreshes the snapshot and returns its error bits; -103 for a handle of no port.
    int (*Status)(int handle, TDeviceStatus &status);
    // Current modem lines (ms* bits); 0 when the device cannot report them.
    uint8_t (*ModemLines)(int handle);
    // Bytes read (0 on failure); -103 for an unknown handle.
    int (*Read)(int handle, uint8_t *buffer, int count);
    // Told after a failed read; does nothing.
    int (*ReadError)(int handle, int error);
    // Copies into the port's output ring; count, or -103 for a handle of no port.
    int (*Write)(int handle, const uint8_t *data, int count);
    // The port's option bits changed; does nothing.
    void (*OptionsChanged)(int handle, uint16_t options);
    // Holds the line in the break state, and releases it; 0 or -1.
    int (*SetBreak)(int handle);
    int (*ClearBreak)(int handle);
    // Sends one byte ahead of the output ring; 0 or -1.
    int (*TransmitChar)(int handle, uint8_t c);
    // The two device-facing threads of an open port.
    void (*EventThread)(TPortRecord &port);
    void (*OutputThread)(TPortRecord &port);
};

// The table installed for the whole program.
TDeviceRoutines InstalledDeviceRoutines();
void InstallDeviceRoutines(const TDeviceRoutines &routines);
// Back to the placeholders that fail with -3001.
void RestoreDeviceRoutines();
bool DeviceLayerInstalled();

// Port probe for the list of direct ports: opens "COM"+n through the installed open routine.
// Absent unless the open worked or failed with access denied (another program holds it).
bool ProbePort(int comNumber);

} // namespace serial
